// ventora-board: takes a freshly wired Uno or Nano to fans that follow Ventora. With no arguments
// it is a wizard in its console window; with arguments, a command for scripts:
//
//   ventora-board list [COMn]
//   ventora-board flash COMn [--output KIND | --esc | --hex FILE] [--replace] [--min-duty 30 ...]
//   ventora-board test COMn
//   ventora-board consoles [off]
#include "win32.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "board_setup/com_ports.h"
#include "board_setup/console.h"
#include "board_setup/consoles_command.h"
#include "board_setup/fan_test.h"
#include "board_setup/flash_command.h"
#include "board_setup/list_command.h"
#include "board_setup/output_kinds.h"
#include "board_setup/tunables_image.h"
#include "board_setup/ventora_aside.h"
#include "board_setup/wizard.h"

namespace {

std::optional<int> parsePort(std::string text) {
    if (text.rfind("\\\\.\\", 0) == 0) text.erase(0, 4);
    if (text.size() < 4 || _strnicmp(text.c_str(), "COM", 3) != 0) return std::nullopt;
    const std::string digits = text.substr(3);
    if (digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const int number = std::stoi(digits);
    if (number < 1 || number > highestComPort) return std::nullopt;
    return number;
}

void printUsage() {
    std::string kinds;
    for (const OutputKind& kind : outputKinds)
        kinds += "    " + std::string(kind.option) +
                 std::string(22 - std::string_view(kind.option).size(), ' ') + kind.plainName + "\n";
    std::string tunables;
    for (const TunableField& field : tunableFields) {
        char text[120];
        std::snprintf(text, sizeof text, "    --%-12s %u to %u %s%s\n", field.option, field.range.lowest,
                      field.range.highest, field.unit,
                      field.use == TunableUse::escs     ? " (ESCs)"
                      : field.use == TunableUse::duty   ? " (every kind but ESCs)"
                      : field.use == TunableUse::driver ? " (driver modules)"
                                                        : "");
        tunables += text;
    }
    std::fprintf(stderr,
                 "usage: ventora-board                 the set-up wizard\n"
                 "       ventora-board list            every COM port, and the board on each (but\n"
                 "                                     Bluetooth ports and the PC's own serial ports)\n"
                 "       ventora-board list COMn       the board on that port alone\n"
                 "       ventora-board flash COMn [--output KIND | --hex FILE] [--replace] [tunables]\n"
                 "         without --output: the kind the board runs (4-pin PWM fans on a board without\n"
                 "         Ventora's firmware)\n"
                 "         --replace: write over a program that is not Ventora's firmware (without it,\n"
                 "         such a board is left as it is)\n"
                 "       ventora-board test COMn       the fans from off to full and back over 10 s\n"
                 "       ventora-board consoles        listen on the home network for a PlayStation's or\n"
                 "                                     an Xbox's games: lists the PlayStations, says what\n"
                 "                                     to set in each game, adds the firewall rule\n"
                 "       ventora-board consoles off    listen on this PC alone again, the rule removed\n"
                 "output kinds (--output; --esc is --output escs):\n%s"
                 "tunables (written into the firmware as it is flashed):\n%s",
                 kinds.c_str(), tunables.c_str());
}

int badUsage(const char* format, const char* detail = "") {
    std::fputs("ventora-board: ", stderr);
    std::fprintf(stderr, format, detail);
    std::fputc('\n', stderr);
    printUsage();
    return exitBadUsage;
}

int runPortCommand(const std::vector<std::string>& args, bool flash) {
    if (args.size() < 2)
        return badUsage("which COM port? For example: ventora-board %s COM3", args[0].c_str());
    const auto port = parsePort(args[1]);
    if (!port) return badUsage("%s is not a COM port: COM1 to COM256", args[1].c_str());
    FlashRequest request;
    request.port = *port;
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (!flash) return badUsage("test takes only the port, not %s", args[i].c_str());
        std::string option = args[i];
        std::optional<std::string> value;
        if (const auto equals = option.find('='); equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.erase(equals);
        }
        if (option == "--esc" && !value) {
            if (request.kindChosen && request.kind.variant != tunablesBlock::escs)
                return badUsage("--esc and --output %s name two kinds: give one", request.kind.option);
            request.kind = *findOutputKind("escs");
            request.kindChosen = true;
            continue;
        }
        if (option == "--replace" && !value) {
            request.replace = true;
            continue;
        }
        if (option.rfind("--", 0) != 0) return badUsage("unexpected %s", args[i].c_str());
        if (!value) {
            if (i + 1 >= args.size()) return badUsage("%s needs a value", option.c_str());
            value = args[++i];
        }
        if (option == "--hex") {
            request.hexPath = *value;
            continue;
        }
        if (option == "--output") {
            const auto kind = findOutputKind(*value);
            if (!kind) {
                std::fprintf(stderr, "ventora-board: --output must be one of %s; %s is not\n",
                             outputKindOptions(), value->c_str());
                return exitBadUsage;
            }
            if (request.kindChosen && request.kind.variant != kind->variant)
                return badUsage("--output %s and an earlier --output or --esc name two kinds: give one",
                                kind->option);
            request.kind = *kind;
            request.kindChosen = true;
            continue;
        }
        const auto field = findTunableField(option.substr(2));
        if (!field) return badUsage("unknown option %s", option.c_str());
        const bool digits =
            !value->empty() && value->size() <= 9 &&
            std::all_of(value->begin(), value->end(), [](unsigned char c) { return std::isdigit(c); });
        if (!digits) {
            const TunableField& f = tunableFields[*field];
            std::fprintf(stderr, "ventora-board: --%s must be from %u to %u %s; %s is not a number\n",
                         f.option, f.range.lowest, f.range.highest, f.unit, value->c_str());
            return exitBadUsage;
        }
        request.changes.push_back({*field, static_cast<std::uint32_t>(std::stoul(*value))});
    }
    if (request.kindChosen && !request.hexPath.empty())
        return badUsage(
            "--output and --esc pick a built-in firmware; --hex flashes the file as it is: give one "
            "of them");

    const VentoraRestorer restorer;
    if (!makeWayFromVentora(request.port)) return exitFailed;
    const bool done = flash ? flashBoard(request) : runFanTest(request.port, true);
    return done ? exitDone : exitFailed;
}

int runListCommand(const std::vector<std::string>& args) {
    if (args.size() == 1) return runList(std::nullopt);
    const auto port = parsePort(args[1]);
    if (!port) return badUsage("%s is not a COM port: COM1 to COM256", args[1].c_str());
    if (args.size() > 2) return badUsage("list takes one port at most, not %s", args[2].c_str());
    return runList(port);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    if (args.empty()) return runWizard();
    if (args[0] == "list") return runListCommand(args);
    if (args[0] == "flash") return runPortCommand(args, true);
    if (args[0] == "test") return runPortCommand(args, false);
    if (args[0] == "consoles") {
        if (args.size() > 2 || (args.size() == 2 && args[1] != "off"))
            return badUsage("consoles takes nothing, or off; not %s", args[1].c_str());
        return runConsolesCommand(args.size() == 1);
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
        printUsage();
        return exitDone;
    }
    return badUsage("unknown command %s", args[0].c_str());
}
