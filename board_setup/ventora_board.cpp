// ventora-board: takes a freshly wired Uno or Nano to fans that follow Ventora. With no arguments
// it is a wizard in its console window; with arguments, a command for scripts:
//
//   ventora-board list
//   ventora-board flash COMn [--esc] [--hex FILE] [--min-duty 30 --kick-ms 500 ...]
//   ventora-board test COMn
#include "win32.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "board_setup/com_ports.h"
#include "board_setup/firmware_images.h"
#include "board_setup/intel_hex.h"
#include "board_setup/running_ventora.h"
#include "board_setup/serial_line.h"
#include "board_setup/stk500.h"
#include "board_setup/tunables_image.h"

namespace {

constexpr int exitDone = 0;
constexpr int exitFailed = 1;
constexpr int exitBadUsage = 2;

// The bootloaders in the order a board is tried: Unos and newer Nanos first, then the older Nanos.
struct Bootloader {
    DWORD baudRate;
    const char* name;
    std::uint32_t start; // the first byte of flash it occupies: the image must end below it
};
constexpr Bootloader bootloaders[] = {{115200, "Optiboot", 0x7E00}, {57600, "the old bootloader", 0x7800}};

// GET_SYNC tries after a reset, about 300 ms apart: the bootloaders listen for about a second.
constexpr int syncAttempts = 5;
// Resets at each rate: a bootloader that lost a byte of the first tries has started the firmware,
// and only another reset brings it back.
constexpr int resetsPerRate = 2;
// The fan test: ten bytes a second, as Ventora sends them.
constexpr DWORD fanTestByteMs = 100;
constexpr int fanTestRampBytes = 50;
// Full blast is held for half a second at the top of the ramp: long enough to hear, and still
// reached when a busy PC stalls near the top.
constexpr int fanTestTopBytes = 5;
constexpr DWORD fanTestStartMs = 2000;

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void complain(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::fputs("ventora-board: ", stderr);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool onConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::string bar(std::size_t done, std::size_t all, std::size_t width) {
    const std::size_t filled = all ? done * width / all : width;
    return std::string(filled, '#') + std::string(width - filled, '.');
}

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

// --- the board behind a port ------------------------------------------------------------------

struct Board {
    int port = 0;
    SerialLine line;
    stk500::Link link;
    const Bootloader* bootloader = nullptr;
    stk500::Signature signature{};
};

std::string hexBytes(const stk500::Signature& signature) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", signature[0], signature[1], signature[2]);
    return text;
}

std::string openProblem(int port, DWORD error) {
    char text[300];
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        std::snprintf(text, sizeof text,
                      "COM%d does not exist on this PC. Plug the board in and check its port with "
                      "\"ventora-board list\".",
                      port);
    else if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
        std::snprintf(text, sizeof text,
                      "COM%d is in use by another program (the Arduino IDE's serial monitor, another fan or "
                      "telemetry tool?). Close it and run this again.",
                      port);
    else
        std::snprintf(text, sizeof text, "COM%d cannot be opened (Windows error %lu).", port,
                      static_cast<unsigned long>(error));
    return text;
}

std::string silentProblem(const ComPort& port) {
    char text[600];
    if (looksLikeCaterinaBoard(port))
        std::snprintf(text, sizeof text,
                      "COM%d is a Leonardo or Micro (%s): its bootloader speaks AVR109, which this tool does "
                      "not. Ventora's firmware is for an Uno or Nano (ATmega328P).",
                      port.number,
                      port.friendlyName.empty() ? port.hardwareId.c_str() : port.friendlyName.c_str());
    else
        std::snprintf(
            text, sizeof text,
            "Nothing on COM%d answered as an Arduino bootloader, at 115200 baud (Optiboot) or 57600 "
            "(the old bootloader). It is not an Uno or Nano, or its bootloader is gone. A Leonardo or "
            "Micro has a bootloader this tool does not speak.",
            port.number);
    return text;
}

// Opens the port at each bootloader's rate in turn (each open resets the board) until one answers,
// and reads the chip's signature. Returns why not, empty when the board is ready for commands.
std::string reachBootloader(const ComPort& port, Board& board) {
    board.port = port.number;
    for (int attempt = 0; attempt < resetsPerRate * 2; ++attempt) {
        // 115200, 57600, then both once more.
        const Bootloader& bootloader = bootloaders[attempt % 2];
        if (const DWORD error = board.line.open(port.number, bootloader.baudRate))
            return openProblem(port.number, error);
        board.link = board.line.link();
        if (!stk500::synchronise(board.link, syncAttempts)) continue;
        const std::uint8_t enter[] = {stk500::enterProgramming, stk500::crcEop};
        const auto signature =
            stk500::exchange(board.link, enter, 0, 1500) ? stk500::querySignature(board.link) : std::nullopt;
        if (!signature) continue;
        board.bootloader = &bootloader;
        board.signature = *signature;
        if (*signature == stk500::atmega328p) return {};
        stk500::leave(board.link);
        char text[400];
        if (*signature == stk500::atmega168)
            std::snprintf(
                text, sizeof text,
                "The board on COM%d is an ATmega168 (signature 1E 94 06), not the ATmega328P of an Uno "
                "or Nano: Ventora's firmware needs the ATmega328P.",
                port.number);
        else
            std::snprintf(
                text, sizeof text,
                "The board on COM%d answered with the chip signature %s, not an ATmega328P's (1E 95 "
                "0F).",
                port.number, hexBytes(*signature).c_str());
        return text;
    }
    board.line.close();
    return silentProblem(port);
}

// What a probe of a port found, as list prints it.
struct PortReport {
    ComPort port;
    bool board = false; // an ATmega328P answered
    std::vector<std::string> lines;
};

std::string describeFirmware(std::span<const std::uint8_t> flash) {
    if (std::all_of(flash.begin(), flash.end(), [](std::uint8_t byte) { return byte == 0xFF; }))
        return "no program: the flash is empty";
    const TunablesReading reading = readTunables(flash);
    if (!reading.tunables)
        return reading.offset ? "Ventora firmware, " + reading.problem
                              : "another program (not Ventora's firmware)";
    const FirmwareTunables& tunables = *reading.tunables;
    char text[300];
    std::snprintf(text, sizeof text, "Ventora firmware %u.%u.%u for %s; tunables %s", tunables.version[0],
                  tunables.version[1], tunables.version[2], variantName(tunables.variant),
                  describeTunables(tunables).c_str());
    return text;
}

PortReport probePort(const ComPort& port) {
    PortReport report{port, false, {}};
    Board board;
    const std::string problem = reachBootloader(port, board);
    if (!problem.empty()) {
        report.lines.push_back(problem);
        return report;
    }
    report.board = true;
    const auto major = stk500::queryParameter(board.link, stk500::softwareMajor);
    const auto minor = stk500::queryParameter(board.link, stk500::softwareMinor);
    char text[200];
    std::snprintf(text, sizeof text, "ATmega328P (signature %s), %s at %lu baud (version %u.%u)",
                  hexBytes(board.signature).c_str(), board.bootloader->name,
                  static_cast<unsigned long>(board.bootloader->baudRate), major.value_or(0),
                  minor.value_or(0));
    report.lines.push_back(text);
    // The tunables block lies within the first searchWindow bytes: two page reads.
    std::vector<std::uint8_t> flash;
    for (std::uint32_t at = 0; at < tunablesBlock::searchWindow; at += stk500::pageSize) {
        const auto page = stk500::readFlash(board.link, at, stk500::pageSize);
        if (!page) break;
        flash.insert(flash.end(), page->begin(), page->end());
    }
    if (flash.size() == tunablesBlock::searchWindow)
        report.lines.push_back(describeFirmware(flash));
    else
        report.lines.push_back("its flash could not be read");
    stk500::leave(board.link);
    return report;
}

void printReport(const PortReport& report) {
    say("COM%d%s%s\n", report.port.number, report.port.friendlyName.empty() ? "" : "  ",
        report.port.friendlyName.c_str());
    for (const std::string& line : report.lines)
        say("      %s\n", line.c_str());
}

// --- Ventora holding a port ---------------------------------------------------------------------

// The exe of the Ventora this tool closed, until it is started again. Ctrl+C, Ctrl+Break and
// closing the console window end the tool from another thread, so it is held under a lock.
std::mutex asideLock;
std::optional<std::string> asideExe;

// Closes a running Ventora when it drives the port (any port, when port is empty), telling the
// user; it starts again with restoreVentora. False when it would not close.
bool makeWayFromVentora(std::optional<int> port) {
    std::optional<RunningVentora> ventora = findRunningVentora();
    if (!ventora || (port && ventora->port != port)) return true;
    if (ventora->port)
        say("Ventora is running and holds COM%d: closing it (it saves its settings first); it starts again "
            "when this is done.\n",
            *ventora->port);
    else
        say("Ventora is running: closing it (it saves its settings first); it starts again when this is "
            "done.\n");
    {
        // Set aside before it is asked to close, so a Ctrl+C during the wait still brings it back.
        const std::lock_guard<std::mutex> hold(asideLock);
        asideExe = ventora->exePath;
    }
    if (closeVentora()) return true;
    {
        const std::lock_guard<std::mutex> hold(asideLock);
        asideExe.reset();
    }
    complain("Ventora did not close. Close it from its tray icon and run this again.");
    return false;
}

// Starts the Ventora set aside, once, or with always the one beside this tool when none was.
// Nothing when there was none to start, else whether it came up. The lock stays held while it
// starts, so the tool cannot end between taking it and starting it.
std::optional<bool> startAsideVentora(bool always) {
    const std::lock_guard<std::mutex> hold(asideLock);
    if (!asideExe && !always) return std::nullopt;
    const std::string exe = asideExe.value_or(std::string());
    asideExe.reset();
    return startVentora(exe);
}

void restoreVentora() {
    const std::optional<bool> started = startAsideVentora(false);
    if (!started) return;
    if (*started)
        say("Ventora is running again.\n");
    else
        complain("Ventora could not be started again: start it yourself.");
}

// Starts the Ventora set aside again however the tool ends: on return, and on the console's
// Ctrl+C, Ctrl+Break or close, after which Windows ends the process without unwinding.
struct VentoraRestorer {
    VentoraRestorer() = default;
    VentoraRestorer(const VentoraRestorer&) = delete;
    VentoraRestorer& operator=(const VentoraRestorer&) = delete;
    ~VentoraRestorer() { restoreVentora(); }
};

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) restoreVentora();
    return FALSE; // and the tool ends as it would have
}

// --- flash ---------------------------------------------------------------------------------------

struct FlashRequest {
    int port = 0;
    bool escs = false;
    std::string hexPath; // empty: the built-in image of the variant
    std::vector<TunableChange> changes;
};

std::string builtInImage(bool escs) {
    HRSRC resource =
        FindResourceA(nullptr, MAKEINTRESOURCEA(escs ? FIRMWARE_ESCS_HEX : FIRMWARE_PWM_FANS_HEX),
                      MAKEINTRESOURCEA(10) /* RT_RCDATA */);
    HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    return text ? std::string(text, SizeofResource(nullptr, resource)) : std::string();
}

std::optional<std::string> readTextFile(const std::string& path) {
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "rb") != 0 || !file) return std::nullopt;
    std::string text;
    char chunk[4096];
    for (std::size_t count; (count = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, count);
    std::fclose(file);
    return text;
}

// Reads and tunes the image a flash writes; prints why not and returns nothing on a problem.
std::optional<FlashImage> prepareImage(const FlashRequest& request, std::string& imageName) {
    std::string text;
    if (request.hexPath.empty()) {
        imageName = request.escs ? "ventora-fan-esc.hex" : "ventora-fan.hex";
        text = builtInImage(request.escs);
        if (text.empty()) {
            complain("this ventora-board.exe holds no %s: it was built without the firmware",
                     imageName.c_str());
            return std::nullopt;
        }
    } else {
        imageName = request.hexPath;
        const auto file = readTextFile(request.hexPath);
        if (!file) {
            complain("cannot read %s", request.hexPath.c_str());
            return std::nullopt;
        }
        text = *file;
    }
    HexReading reading = readIntelHex(text);
    if (!reading.error.empty()) {
        complain("%s: %s. Nothing was written.", imageName.c_str(), reading.error.c_str());
        return std::nullopt;
    }
    const std::string tuneProblem = applyTunables(reading.image.bytes, request.changes);
    if (!tuneProblem.empty()) {
        complain("%s. Nothing was written.", tuneProblem.c_str());
        return std::nullopt;
    }
    if (reading.image.end() > bootloaders[0].start) {
        complain("%s is too large: it ends at 0x%04zX, and the flash below the bootloader ends at 0x%04X (%u "
                 "bytes). Nothing was written.",
                 imageName.c_str(), reading.image.end(), bootloaders[0].start, bootloaders[0].start);
        return std::nullopt;
    }
    return std::move(reading.image);
}

std::string imageTitle(const FlashImage& image, const std::string& imageName) {
    const TunablesReading reading = readTunables(image.bytes);
    if (!reading.tunables) return imageName;
    char text[120];
    std::snprintf(text, sizeof text, "Ventora firmware %u.%u.%u for %s", reading.tunables->version[0],
                  reading.tunables->version[1], reading.tunables->version[2],
                  variantName(reading.tunables->variant));
    return text;
}

bool flashBoard(const FlashRequest& request) {
    std::string imageName;
    const std::optional<FlashImage> image = prepareImage(request, imageName);
    if (!image) return false;
    const std::string title = imageTitle(*image, imageName);

    const ULONGLONG started = GetTickCount64();
    say("Looking for the bootloader on COM%d...\n", request.port);
    Board board;
    const std::string problem = reachBootloader(describeComPort(request.port), board);
    if (!problem.empty()) {
        complain("%s Nothing was written.", problem.c_str());
        return false;
    }
    say("Found an ATmega328P, %s at %lu baud.\n", board.bootloader->name,
        static_cast<unsigned long>(board.bootloader->baudRate));
    if (image->end() > board.bootloader->start) {
        stk500::leave(board.link);
        complain("%s is too large: it ends at 0x%04zX, and the flash below %s ends at 0x%04X. Nothing was "
                 "written.",
                 imageName.c_str(), image->end(), board.bootloader->name, board.bootloader->start);
        return false;
    }

    say("Writing %s to COM%d\n", title.c_str(), request.port);
    const bool console = onConsole();
    const auto progress = [&](std::size_t done, std::size_t all) {
        if (console) say("\r  [%s] %3zu %%", bar(done, all, 40).c_str(), done * 100 / all);
    };
    stk500::ProgramResult result = stk500::programImage(board.link, *image, progress);
    if (result.outcome == stk500::ProgramResult::noAnswer &&
        reachBootloader(describeComPort(request.port), board).empty()) {
        // Still there, so not unplugged: the PC stalled for longer than the bootloader's one-second
        // watchdog, and it started the half-written firmware. A reset brings it back for a whole
        // second try.
        say("%sCOM%d stopped answering at the page at 0x%04X; the board is back after a reset, so once "
            "more from the start.\n",
            console ? "\n" : "", request.port, static_cast<unsigned>(result.address));
        result = stk500::programImage(board.link, *image, progress);
    }
    if (console) say("\n");
    if (result.outcome == stk500::ProgramResult::noAnswer) {
        complain("COM%d stopped answering at the page at 0x%04X: was the board unplugged? The bootloader is "
                 "never written, so the board is not harmed: plug it back in and run this again.",
                 request.port, static_cast<unsigned>(result.address));
        return false;
    }
    if (result.outcome == stk500::ProgramResult::mismatch) {
        stk500::leave(board.link);
        complain(
            "the page at 0x%04X reads back wrong (0x%04X: wrote %02X, read %02X): the board's flash did not "
            "take it. Run this again; if it happens again, the chip's flash may be worn out.",
            static_cast<unsigned>(result.address), static_cast<unsigned>(result.firstBad), result.wrote,
            result.read);
        return false;
    }
    // Leaving programming mode starts the new firmware: Optiboot resets into it at once, the old
    // bootloader once the line has been quiet for a moment.
    const bool left = stk500::leave(board.link);
    board.line.close();
    const double seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    say("Wrote %s to COM%d: %zu bytes in %zu pages, each read back equal, in %.1f s.\n", title.c_str(),
        request.port, image->end(), result.pages, seconds);
    const TunablesReading tunables = readTunables(image->bytes);
    if (tunables.tunables) say("Tunables: %s\n", describeTunables(*tunables.tunables).c_str());
    say(left ? "The board now runs it.\n"
             : "The board runs it once it is reset (unplug it and plug it back in).\n");
    return true;
}

// --- the fan test --------------------------------------------------------------------------------

bool runFanTest(int port) {
    SerialLine line;
    if (const DWORD error = line.open(port, CBR_9600)) {
        complain("%s", openProblem(port, error).c_str());
        return false;
    }
    std::vector<std::uint8_t> levels;
    for (int i = 0; i <= fanTestRampBytes; ++i)
        levels.push_back(static_cast<std::uint8_t>((79 * i + fanTestRampBytes / 2) / fanTestRampBytes));
    levels.insert(levels.end(), fanTestTopBytes - 1, levels.back());
    for (int i = fanTestRampBytes - 1; i >= 0; --i)
        levels.push_back(levels[static_cast<std::size_t>(i)]);

    say("Fan test on COM%d: the board restarts as its port opens, then the fans run from off to full and "
        "back to off over 10 s.\n",
        port);
    const bool console = onConsole();
    // Level 0 while the bootloader has its second after the reset; it hears these bytes as noise.
    const std::size_t startBytes = fanTestStartMs / fanTestByteMs;
    ULONGLONG next = GetTickCount64();
    for (std::size_t i = 0; i < startBytes + levels.size(); ++i) {
        const std::uint8_t level = i < startBytes ? 0 : levels[i - startBytes];
        if (!line.send(&level, 1)) {
            if (console) say("\n");
            complain("COM%d stopped taking bytes: was the board unplugged? Plug it back in and run the test "
                     "again.",
                     port);
            return false;
        }
        if (i >= startBytes && (console || (i - startBytes) % 10 == 0 || i + 1 == startBytes + levels.size()))
            say("%slevel %2u [%s]%s", console ? "\r" : "", level, bar(level, 79, 40).c_str(),
                console ? "" : "\n");
        next += fanTestByteMs;
        const ULONGLONG now = GetTickCount64();
        // After a stall the ramp goes on from now rather than sending the late bytes in a burst,
        // which the fans could not follow anyway.
        if (next > now)
            Sleep(static_cast<DWORD>(next - now));
        else
            next = now;
    }
    if (console) say("\n");
    say("Fan test done: the fans stop within a second.\n");
    return true;
}

// --- list ----------------------------------------------------------------------------------------

std::vector<PortReport> probeAllPorts() {
    std::vector<PortReport> reports;
    const std::vector<ComPort> ports = listComPorts();
    if (ports.empty()) say("No COM ports on this PC.\n");
    for (const ComPort& port : ports) {
        reports.push_back(probePort(port));
        printReport(reports.back());
    }
    return reports;
}

int runList() {
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;
    probeAllPorts();
    return exitDone;
}

// --- the wizard ----------------------------------------------------------------------------------

// One answer typed (or piped in); nothing at the end of input.
std::optional<std::string> ask(const char* prompt) {
    say("%s", prompt);
    std::string answer;
    if (!std::getline(std::cin, answer)) return std::nullopt;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    answer.erase(0, answer.find_first_not_of(' '));
    return answer;
}

// A number from 1 to count, with a default for an empty answer; nothing at the end of input.
std::optional<int> askChoice(const char* prompt, int count, int fallback) {
    for (;;) {
        const auto answer = ask(prompt);
        if (!answer) return std::nullopt;
        if (answer->empty() && fallback) return fallback;
        if (answer->size() <= 3 && !answer->empty() &&
            std::all_of(answer->begin(), answer->end(), [](unsigned char c) { return std::isdigit(c); })) {
            const int choice = std::stoi(*answer);
            if (choice >= 1 && choice <= count) return choice;
        }
        say("Please enter a number from 1 to %d.\n", count);
    }
}

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

int runWizardSteps() {
    say("Ventora fan controller set-up\n\n"
        "This finds your Arduino Uno or Nano, puts Ventora's fan firmware on it, runs the fans once from\n"
        "off to full and back, and sets Ventora to the board's port.\n\n");
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;

    std::vector<PortReport> boards;
    for (;;) {
        say("Looking for boards on COM1 to COM%d...\n", highestComPort);
        boards.clear();
        for (PortReport& report : probeAllPorts())
            if (report.board) boards.push_back(report);
        if (!boards.empty()) break;
        say("\nNo Uno or Nano found. Check that the USB cable carries data (some only charge), and that\n"
            "Windows lists the board under \"Ports (COM & LPT)\" in Device Manager: a CH340 clone may need "
            "its\n"
            "driver.\n");
        const auto again = ask("Press Enter to look again, or type q and Enter to stop: ");
        if (!again || *again == "q" || *again == "Q") return exitFailed;
    }

    int chosen = 0;
    if (boards.size() > 1) {
        say("\nBoards found:\n");
        for (std::size_t i = 0; i < boards.size(); ++i)
            say("  %zu  COM%d  %s\n", i + 1, boards[i].port.number, boards[i].lines.front().c_str());
        const std::string prompt =
            "Which board drives the fans? Enter 1 to " + std::to_string(boards.size()) + ": ";
        const auto choice = askChoice(prompt.c_str(), static_cast<int>(boards.size()), 0);
        if (!choice) return exitFailed;
        chosen = *choice - 1;
    }
    const int port = boards[static_cast<std::size_t>(chosen)].port.number;
    say("\nWhat does the board on COM%d drive?\n"
        "  1  4-pin PWM fans (PC or server fans)\n"
        "  2  brushless motors through ESCs\n",
        port);
    const auto variant = askChoice("Enter 1 or 2 [1]: ", 2, 1);
    if (!variant) return exitFailed;

    say("\n");
    FlashRequest request;
    request.port = port;
    request.escs = *variant == 2;
    if (!flashBoard(request)) return exitFailed;
    say("\n");
    const bool tested = runFanTest(port);
    say("\n");
    if (!setVentoraPort(port)) return exitFailed;
    // Started even when it was not running: the rig is ready, and the fans follow Ventora from now.
    if (*startAsideVentora(true))
        say("Ventora is running in the tray and drives the fans on COM%d.\n", port);
    else
        say("Start Ventora: it drives the fans on COM%d.\n", port);
    say(tested ? "All done: start a game, and the fans follow your speed.\n"
               : "The fan test did not finish; the board is flashed and Ventora is set.\n");
    return tested ? exitDone : exitFailed;
}

int runWizard() {
    const int result = runWizardSteps();
    say("\nPress Enter to close");
    std::string line;
    std::getline(std::cin, line);
    return result;
}

// --- the command line ----------------------------------------------------------------------------

void printUsage() {
    std::string tunables;
    for (const TunableField& field : tunableFields) {
        char text[120];
        std::snprintf(text, sizeof text, "    --%-12s %u to %u %s%s\n", field.option, field.range.lowest,
                      field.range.highest, field.unit,
                      field.use == TunableUse::escs      ? " (ESCs)"
                      : field.use == TunableUse::pwmFans ? " (PWM fans)"
                                                         : "");
        tunables += text;
    }
    std::fprintf(stderr,
                 "usage: ventora-board                 the set-up wizard\n"
                 "       ventora-board list            every COM port, and the board on each\n"
                 "       ventora-board flash COMn [--esc] [--hex FILE] [tunables]\n"
                 "       ventora-board test COMn       the fans from off to full and back over 10 s\n"
                 "tunables (written into the firmware as it is flashed):\n%s",
                 tunables.c_str());
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
            request.escs = true;
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
    if (request.escs && !request.hexPath.empty())
        return badUsage("--esc picks a built-in firmware; --hex flashes the file as it is: give one of them");

    const VentoraRestorer restorer;
    if (!makeWayFromVentora(request.port)) return exitFailed;
    const bool done = flash ? flashBoard(request) : runFanTest(request.port);
    return done ? exitDone : exitFailed;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
    if (args.empty()) return runWizard();
    if (args[0] == "list" && args.size() == 1) return runList();
    if (args[0] == "flash") return runPortCommand(args, true);
    if (args[0] == "test") return runPortCommand(args, false);
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "/?") {
        printUsage();
        return exitDone;
    }
    return badUsage("unknown command %s", args[0].c_str());
}
