// The wizard's steps, asked one by one on the console.
#include "board_setup/wizard.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "win32.h"
#include "settings/settings_store.h"
#include "board_setup/console.h"
#include "board_setup/consoles_command.h"
#include "board_setup/fan_test.h"
#include "board_setup/flash_command.h"
#include "board_setup/list_command.h"
#include "board_setup/port_watch.h"
#include "board_setup/usb_boards.h"
#include "board_setup/ventora_aside.h"

namespace {

// How long the wizard waits for the fan board's port to appear before it offers the list of ports:
// long enough for Windows to set up a board plugged in for the first time.
constexpr unsigned plugWaitSeconds = 30;
// How often it looks for a new port meanwhile.
constexpr unsigned portLookMs = 250;
// And, every so many looks, for a USB chip without a driver: a walk over every device, dearer.
constexpr unsigned driverlessLookEvery = 4;

bool setVentoraPort(int port) {
    // Ventora writes its settings when it ends: were it running now, it would undo this.
    if (!makeWayFromVentora(std::nullopt)) return false;
    const std::string path = settingsFilePath();
    SettingsRecord record = overlaySettingsFile(path, SettingsRecord{});
    record.portIndex = port - 1;
    if (path.empty() || !writeSettingsFile(path, record)) {
        complain("could not write Ventora's settings (%s): choose COM%d in Ventora's window yourself.",
                 path.empty() ? "no application-data folder" : path.c_str(), port);
        return false;
    }
    say("Ventora is set to COM%d.\n", port);
    return true;
}

// Where a step of finding the board leaves the wizard.
struct Found {
    enum What { board, again, stop } what = again;
    PortReport report; // board: the probe of the board the user plugged in or picked
};

Found probed(const ComPort& port) {
    say("\n");
    Found found{Found::board, probePort(port)};
    printReport(found.report);
    return found;
}

bool isQuit(const std::string& answer) {
    return answer == "q" || answer == "Q";
}

// Waits for a COM port that was not there when the wait began: the board's, plugged in. A port that
// goes away (the board unplugged to be plugged in again) is forgotten, so it counts as new when it
// comes back. Nothing is opened meanwhile. Enter ends the wait early, for the list.
Found waitForPluggedBoard() {
    // The ports there before the user is asked: a board plugged in the moment the question shows is
    // still a new one.
    const std::vector<int> before = presentComPorts();
    say("\nPlug in the fan board\n"
        "  Plug the Uno or Nano that drives the fans into a USB port now. If it is plugged in already,\n"
        "  unplug it, wait two seconds and plug it back in. No COM port is opened until the board's port\n"
        "  appears, so the other devices on this PC (a dashboard, shift lights, a printer) are left alone.\n"
        "  Waiting up to %u s. Press Enter to pick the port from a list instead, or type q and Enter to\n"
        "  stop.\n",
        plugWaitSeconds);
    PortWatch watch = startPortWatch(before);
    DriverlessChips driverless;
    ULONGLONG deadline = GetTickCount64() + plugWaitSeconds * 1000ull;
    for (unsigned look = 0;; ++look) {
        const PortLook seen = lookAtPorts(watch, presentComPorts(), describeComPort);
        for (const int port : seen.gone) {
            say("COM%d went away: plug it back in.\n", port);
            // Plugging back takes a moment of its own.
            deadline = GetTickCount64() + plugWaitSeconds * 1000ull;
        }
        for (const auto& [port, note] : seen.passedBy)
            say("%s Still waiting for the fan board.\n", note.c_str());
        if (seen.appeared) {
            say("COM%d appeared.\n", seen.appeared->number);
            return probed(*seen.appeared);
        }
        // A board whose USB chip has no driver gets no port at all: said once, as it is plugged in.
        if (look % driverlessLookEvery == 0)
            for (const std::string& note : driverless.newNotes())
                say("%s\n", note.c_str());
        if (GetTickCount64() >= deadline) {
            say("No new COM port appeared in %u s.\n", plugWaitSeconds);
            return {Found::again, {}};
        }
        const Awaited typed = awaitLine(portLookMs);
        if (typed.what == Awaited::line) return {isQuit(typed.text) ? Found::stop : Found::again, {}};
    }
}

// Every board that answers on the ports, each with what it holds; the user picks the fan board.
Found pickAmongBoards() {
    say("\n");
    std::vector<PortReport> boards;
    for (PortReport& report : probeAllPorts())
        if (report.board) boards.push_back(report);
    if (boards.empty()) {
        say("\nNo Uno or Nano answered on any port.\n");
        return {Found::again, {}};
    }
    if (boards.size() == 1) {
        say("\nThe board on COM%d is the only one that answered.\n", boards.front().port.number);
        return {Found::board, boards.front()};
    }
    say("\nBoards found:\n");
    for (std::size_t i = 0; i < boards.size(); ++i) {
        // The chip line and what the board holds: two clone Nanos differ only in the second.
        say("  %zu  COM%d  %s\n", i + 1, boards[i].port.number, boards[i].lines.front().c_str());
        for (std::size_t line = 1; line < boards[i].lines.size(); ++line)
            say("        %s\n", boards[i].lines[line].c_str());
    }
    const std::string prompt =
        "Which board drives the fans? Enter 1 to " + std::to_string(boards.size()) + ": ";
    const auto choice = askChoice(prompt.c_str(), static_cast<int>(boards.size()), 0);
    if (!choice) return {Found::stop, {}};
    return {Found::board, boards[static_cast<std::size_t>(*choice - 1)]};
}

// The ports with the names Windows gives them, none opened: the user picks the fan board's, or has
// every port probed.
Found pickFromList() {
    const std::vector<ComPort> ports = listComPorts();
    if (ports.empty()) {
        say("\nNo COM ports on this PC. Check that the USB cable carries data (some only charge), and that\n"
            "Windows lists the board under \"Ports (COM & LPT)\" in Device Manager: a CH340 clone may need "
            "its\n"
            "driver.\n");
        sayDriverlessChips();
        const auto again = ask("Press Enter to look again, or type q and Enter to stop: ");
        return {!again || isQuit(*again) ? Found::stop : Found::again, {}};
    }
    say("\nThe COM ports on this PC:\n");
    for (std::size_t i = 0; i < ports.size(); ++i) {
        say("  %zu  COM%d  %s\n", i + 1, ports[i].number,
            ports[i].friendlyName.empty() ? "(Windows gives no name)" : ports[i].friendlyName.c_str());
        if (const char* board = boardWeCannotFlash(ports[i]))
            say("        %s: the fan firmware needs an Uno or Nano (ATmega328P)\n", board);
    }
    const int probeAll = static_cast<int>(ports.size()) + 1;
    say("  %d  look for an Uno or Nano on every port (this restarts the device on each)\n", probeAll);
    const std::string prompt = "Which is the fan board? Enter 1 to " + std::to_string(probeAll) + ": ";
    const auto choice = askChoice(prompt.c_str(), probeAll, 0);
    if (!choice) return {Found::stop, {}};
    if (*choice == probeAll) return pickAmongBoards();
    return probed(ports[static_cast<std::size_t>(*choice - 1)]);
}

// Whether the user lets a program that is not Ventora's firmware go; Enter means no.
std::optional<bool> mayReplace(int port) {
    say("\nThe board on COM%d holds another program, not Ventora's fan firmware. If it drives something\n"
        "else on your rig (a dashboard, shift lights, a button box), answer n and plug in the fan board\n"
        "instead. A new Uno or Nano comes with a sketch that blinks its LED: a board that only blinks is\n"
        "fine to replace.\n",
        port);
    const auto answer = ask("Replace it with Ventora's fan firmware? [y/N] ");
    if (!answer) return std::nullopt;
    std::string word = *answer;
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    return word == "y" || word == "yes";
}

// The fan board, plugged in or picked, and whether the user said to replace what it holds; nothing
// when the user stops.
std::optional<FlashRequest> findFanBoard() {
    for (;;) {
        Found found = waitForPluggedBoard();
        if (found.what == Found::again) found = pickFromList();
        if (found.what == Found::stop) return std::nullopt;
        if (found.what == Found::again) continue;
        FlashRequest request;
        request.port = found.report.port.number;
        if (!found.report.board) {
            say("Nothing was written. Plug in the fan board, or pick another port.\n");
            continue;
        }
        if (found.report.contents == FlashContents::anotherProgram) {
            const auto replace = mayReplace(request.port);
            if (!replace) return std::nullopt;
            if (!*replace) {
                say("Nothing was written to COM%d.\n", request.port);
                continue;
            }
            request.replace = true;
        }
        return request;
    }
}

// Which fan is left, asked after the fans ran one at a time; the board flashed again with
// --left-fan when the answer differs from what it has. The flash keeps the board's other tunables.
bool sideTested(int port, FlashRequest request, const FirmwareTunables& written) {
    // The output bytes go only to firmware that takes them.
    if (!takesSides(written)) return true;
    say("\n");
    const std::optional<int> left = runSideTest(port);
    if (!left) return false;
    const std::size_t field = *findTunableField("left-fan");
    if (written.values[field] == *left) {
        say("The left fan is on output %d, as the board has it.\n", *left);
        return true;
    }
    say("The left fan is on output %d: writing that to the board.\n\n", *left);
    request.replace = false;
    request.changes = {{field, static_cast<std::uint32_t>(*left)}};
    return flashBoard(request);
}

int runWizardSteps() {
    say("Ventora fan controller set-up\n\n"
        "This finds your Arduino Uno or Nano as you plug it in, puts Ventora's fan firmware on it (asking\n"
        "first when it holds another program), runs the fans once from off to full and back, and sets\n"
        "Ventora to the board's port.\n");
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;

    std::optional<FlashRequest> request = findFanBoard();
    if (!request) return exitFailed;
    const int port = request->port;
    say("\nWhat does the board on COM%d drive?\n", port);
    for (std::size_t i = 0; i < outputKinds.size(); ++i)
        say("  %zu  %s\n", i + 1, outputKinds[i].plainName);
    // No default: a firmware for the wrong kind drives the wrong pins (on a shield, brake or
    // direction lines), so the kind is always a number typed.
    const std::string prompt = "Enter 1 to " + std::to_string(outputKinds.size()) + ": ";
    const auto kind = askChoice(prompt.c_str(), static_cast<int>(outputKinds.size()), 0);
    if (!kind) return exitFailed;

    say("\n");
    request->kind = outputKinds[static_cast<std::size_t>(*kind - 1)];
    request->kindChosen = true;
    FirmwareTunables written;
    if (!flashBoard(*request, &written)) return exitFailed;
    say("\n");
    const bool tested = runFanTest(port, false) && sideTested(port, *request, written);
    say("\n");
    if (!setVentoraPort(port)) return exitFailed;
    // Asked before Ventora starts, so it starts listening (or not) without a second restart.
    offerConsoles();
    say("\n");
    // Started even when it was not running: the rig is ready, and the fans follow Ventora from now.
    if (*startAsideVentora(true))
        say("Ventora is running in the tray and drives the fans on COM%d.\n", port);
    else
        say("Start Ventora: it drives the fans on COM%d.\n", port);
    say(tested ? "All done: start a game, and the fans follow your speed.\n"
               : "The fan test did not finish; the board is flashed and Ventora is set.\n");
    return tested ? exitDone : exitFailed;
}

} // namespace

int runWizard() {
    const int result = runWizardSteps();
    ask("\nPress Enter to close");
    return result;
}
