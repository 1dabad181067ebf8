// Finding the bootloader behind a port and reading what the board holds.
#include "board_setup/board_link.h"

#include <cstdio>

#include "board_setup/console.h"
#include "board_setup/tunables_image.h"
#include "board_setup/usb_boards.h"
#include "board_setup/ventora_aside.h"

namespace {

// GET_SYNC tries after a reset, about 300 ms apart: the bootloaders listen for about a second.
constexpr int syncAttempts = 5;
// Resets at each rate: a bootloader that lost a byte of the first tries has started the firmware,
// and only another reset brings it back.
constexpr int resetsPerRate = 2;

} // namespace

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

namespace {

std::string silentProblem(const ComPort& port) {
    if (const std::string note = cannotFlashNote(port); !note.empty()) return note;
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

} // namespace

std::string reachBootloader(const ComPort& port, Board& board, const std::function<bool()>& stopped) {
    board.port = port.number;
    for (int attempt = 0; attempt < resetsPerRate * 2; ++attempt) {
        if (stopped && stopped()) {
            board.line.close();
            return "stopped, as asked.";
        }
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

std::optional<std::vector<std::uint8_t>> readFirstPages(stk500::Link& link) {
    std::vector<std::uint8_t> flash;
    for (std::uint32_t at = 0; at < tunablesBlock::searchWindow; at += stk500::pageSize) {
        const auto page = stk500::readFlash(link, at, stk500::pageSize);
        if (!page) return std::nullopt;
        flash.insert(flash.end(), page->begin(), page->end());
    }
    return flash;
}

std::string describeFirmware(std::span<const std::uint8_t> flash) {
    const FlashContents contents = classifyFlash(flash);
    if (contents == FlashContents::empty) return "no program: the flash is empty";
    if (contents == FlashContents::cutShort)
        return "no program that runs: a flash of Ventora's firmware was cut short (flash it again)";
    const TunablesReading reading = readTunables(flash);
    if (!reading.tunables)
        return reading.offset ? "Ventora firmware, " + reading.problem
                              : "another program (not Ventora's firmware)";
    const FirmwareTunables& tunables = *reading.tunables;
    char text[300];
    std::snprintf(text, sizeof text, "Ventora firmware %u.%u.%u for %s; tunables %s", tunables.version[0],
                  tunables.version[1], tunables.version[2], variantName(tunables.variant),
                  describeTunables(tunables).c_str());
    // The firmware runs none of a block that is not whole: the values above are not what it runs.
    const std::string problem = blockProblem(flash, 0);
    if (!problem.empty()) return text + ("; but " + problem + ", so the board runs its compiled defaults");
    return text;
}

PortReport probePort(const ComPort& port) {
    PortReport report{port, false, {}, std::nullopt};
    waitForFailsafe(port.number);
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
    if (const auto flash = readFirstPages(board.link)) {
        report.lines.push_back(describeFirmware(*flash));
        report.contents = classifyFlash(*flash);
    } else {
        report.lines.push_back("its flash could not be read");
    }
    stk500::leave(board.link);
    return report;
}

void printReport(const PortReport& report) {
    say("COM%d%s%s\n", report.port.number, report.port.friendlyName.empty() ? "" : "  ",
        report.port.friendlyName.c_str());
    for (const std::string& line : report.lines)
        say("      %s\n", line.c_str());
}
