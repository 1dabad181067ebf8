// The fan test: a ramp of levels at 9600 baud, ten bytes a second, as Ventora sends them.
#include "board_setup/fan_test.h"

#include <cstdint>
#include <vector>

#include "win32.h"
#include "board_setup/board_link.h"
#include "board_setup/console.h"
#include "board_setup/serial_line.h"
#include "firmware/fan_wire.h"

namespace {

// The fan test: ten bytes a second, as Ventora sends them.
constexpr DWORD fanTestByteMs = 100;
constexpr int fanTestRampBytes = 50;
// Full blast is held for half a second at the top of the ramp: long enough to hear, and still
// reached when a busy PC stalls near the top.
constexpr int fanTestTopBytes = 5;
constexpr DWORD fanTestStartMs = 2000;

// Whether the board runs Ventora's firmware, said either way.
bool runsVentorasFirmware(int port) {
    say("Looking at what the board on COM%d runs...\n", port);
    Board board;
    const std::string problem = reachBootloader(describeComPort(port), board);
    if (!problem.empty()) {
        complain("%s The fan test needs an Uno or Nano with Ventora's firmware.", problem.c_str());
        return false;
    }
    const auto flash = readFirstPages(board.link);
    stk500::leave(board.link);
    board.line.close();
    if (!flash) {
        complain("the flash of the board on COM%d could not be read: run the test again.", port);
        return false;
    }
    if (classifyFlash(*flash) != FlashContents::ventoraFirmware) {
        complain(
            "the board on COM%d runs no Ventora firmware (%s), so it would not follow the levels. Flash it "
            "first: ventora-board flash COM%d",
            port, describeFirmware(*flash).c_str(), port);
        return false;
    }
    say("It runs %s.\n", describeFirmware(*flash).c_str());
    return true;
}

// The side test: each output alone at a level clearly felt, long enough to turn and look.
constexpr std::uint8_t sideTestLevel = 60;
constexpr int sideTestBytes = 30; // 3 s
// Off between the two, so the second is not taken for the first still running down.
constexpr int sideTestGapBytes = 15;

// Waits for the next byte's moment, a tick after the last. After a stall the bytes go on from now
// rather than late ones in a burst, which the fans could not follow anyway.
void waitForNextByte(ULONGLONG& next) {
    next += fanTestByteMs;
    const ULONGLONG now = GetTickCount64();
    if (next > now)
        Sleep(static_cast<DWORD>(next - now));
    else
        next = now;
}

// Sends the ticks at Ventora's pace; false, said, when the board stopped taking them.
bool sendTicks(SerialLine& line, int port, const std::vector<std::vector<std::uint8_t>>& ticks) {
    ULONGLONG next = GetTickCount64();
    for (const std::vector<std::uint8_t>& tick : ticks) {
        if (!line.send(tick.data(), tick.size())) {
            complain(
                "COM%d stopped taking bytes: was the board unplugged? Plug it back in and run the set-up "
                "again.",
                port);
            return false;
        }
        waitForNextByte(next);
    }
    return true;
}

} // namespace

std::optional<int> runSideTest(int port) {
    SerialLine line;
    if (const DWORD error = line.open(port, CBR_9600)) {
        complain("%s", openProblem(port, error).c_str());
        return std::nullopt;
    }
    say("Side test on COM%d: one fan blows for 3 s, then the other. Watch which blows first.\n", port);
    std::vector<std::vector<std::uint8_t>> ticks(fanTestStartMs / fanTestByteMs, {0});
    // The output byte goes only to a board whose firmware takes it: older firmware would read it as
    // full power on both fans.
    // Doubled: the board takes an output byte only twice in a row.
    ticks.insert(ticks.end(), sideTestBytes, {fanWire::onlyOutput1, fanWire::onlyOutput1, sideTestLevel});
    ticks.insert(ticks.end(), sideTestGapBytes, {0});
    ticks.insert(ticks.end(), sideTestBytes, {fanWire::onlyOutput2, fanWire::onlyOutput2, sideTestLevel});
    ticks.push_back({0});
    if (!sendTicks(line, port, ticks)) return std::nullopt;
    line.close();
    for (;;) {
        const auto answer =
            ask("Which fan blew first: the left one or the right one? Type l or r and Enter: ");
        if (!answer) return std::nullopt;
        if (*answer == "l" || *answer == "L") return 1;
        if (*answer == "r" || *answer == "R") return 2;
    }
}

bool runFanTest(int port, bool checkFirst) {
    if (checkFirst && !runsVentorasFirmware(port)) return false;
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
        waitForNextByte(next);
    }
    if (console) say("\n");
    say("Fan test done: the fans stop within a second.\n");
    return true;
}
