// Wind from the side on the simulated board (the 4-pin fans' image, whose 320-count PWM shows each
// level apart): the levels each output takes from a level byte and the corner byte before it, by
// the two tunables; a corner byte that is lost, stale or alone; and the announcement on TX.
#include "fan_wire.h"
#include "firmware_run.h"
#include "tunables_block.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

// Level 1 is 96 of 320 counts, level 79 is 320, linear between, rounded.
std::uint16_t dutyOf(int level) {
    return level == 0 ? 0 : static_cast<std::uint16_t>(96 + (2 * 224 * (level - 1) + 78) / 156);
}

void setKnobs(board::SimulatedBoard& simulated, std::uint8_t sideWindPercent, std::uint8_t leftFanOutput) {
    const std::vector<std::uint8_t> flash = simulated.flash();
    const auto end = flash.begin() + tunablesBlock::searchWindow;
    const auto found =
        std::search(flash.begin(), end, std::begin(tunablesBlock::marker), std::end(tunablesBlock::marker));
    ASSERT_NE(found, end);
    const auto at = static_cast<std::uint32_t>(found - flash.begin());
    simulated.writeFlash(at + tunablesBlock::sideWindPercentOffset, {sideWindPercent, leftFanOutput});
}

// Ventora's tick to a board that said "sides": the corner byte, then the level byte. The set-up
// tool doubles its output bytes.
void sendTick(FirmwareRun& run, double at, std::uint8_t corner, std::uint8_t level, bool doubled = false) {
    run.feedAt(at, corner);
    if (doubled) run.feedAt(at + byteSeconds, corner);
    run.feedAt(at + (doubled ? 2 : 1) * byteSeconds, level);
}

constexpr std::uint8_t right = fanWire::cornerByte | fanWire::cornerRight;
constexpr std::uint8_t left = fanWire::cornerByte;

TEST(SideWind, EachOutputTakesTheLevelOfItsSide) {
    const struct {
        const char* name;
        std::uint8_t percent, leftOutput, corner, level;
        int output1, output2; // the levels D9 and D10 run at
        bool doubled = false;
    } cases[] = {
        {"straight", 50, 1, left | 0, 40, 40, 40},
        // A right-hand corner (the left fan outside), and the tool's byte for output 1, are in each
        // kind's own test. Past a full corner saturates: 39 * 50 % = 19.5, the inside fan at 20.
        {"a left-hand corner", 50, 1, left | 63, 40, 20, 40},
        {"the left fan on output 2", 50, 2, right | 63, 40, 20, 40},
        // round(78 * 0.5 * 10 / 20) = 19.5 -> 20 cut at half a g from 79.
        {"half a g at the top", 50, 1, right | 10, 79, 79, 59},
        {"strength 100: the inside fan at level 1, never below", 100, 1, right | 63, 79, 79, 1},
        {"level 0: both off", 100, 1, right | 63, 0, 0, 0},
        {"the tool's byte: output 2 alone", 50, 1, fanWire::onlyOutput2, 60, 0, 60, true},
        {"a lone tool byte (a corner byte's top bit lost): both at the level", 50, 1, fanWire::onlyOutput2,
         60, 60, 60},
    };
    for (const auto& c : cases) {
        FirmwareRun run("ventora-fan.elf");
        setKnobs(run.board, c.percent, c.leftOutput);
        for (int tick = 0; tick < 8; ++tick)
            sendTick(run, 0.1 + 0.1 * tick, c.corner, c.level, c.doubled);
        const board::Outputs out = run.at(0.85); // past any kick
        EXPECT_EQ(out.ocr1a * ((out.tccr1a & 0x80) != 0), dutyOf(c.output1)) << c.name;
        EXPECT_EQ(out.ocr1b * ((out.tccr1a & 0x20) != 0), dutyOf(c.output2)) << c.name;
        EXPECT_EQ(out.powerOn(), c.output1 + c.output2 > 0) << c.name;
    }
}

// Ticks of a full right-hand corner at level 60 (the right fan at 30), then one tick's bytes
// spoiled (as fed from 0.6 s): what the right fan (output 2) runs at after that tick, and after the
// next whole one. A corner byte alone is no link either: the failsafe comes a second after the
// last level.
TEST(SideWind, ALostOrStaleCornerByteLeavesBothFansAtTheLevelForOneTick) {
    const struct {
        const char* name;
        std::vector<std::pair<double, std::uint8_t>> spoiledTick;
        int rightLevel; // after the spoiled tick
    } cases[] = {
        {"the corner byte lost", {{0, 60}}, 60},
        {"the corner byte 25 ms before its level", {{0, right | 20}, {0.025, 60}}, 60},
        // The corner byte waits, unused, for a level that never comes; the next level alone does
        // not take it.
        {"the level byte lost, the next level alone", {{0, right | 20}, {0.1, 60}}, 60},
        {"a corner byte alone", {{0, right | 20}}, 30},
    };
    for (const auto& c : cases) {
        FirmwareRun run("ventora-fan.elf");
        for (int tick = 0; tick < 5; ++tick)
            sendTick(run, 0.1 + 0.1 * tick, right | 20, 60);
        for (const auto& [after, byte] : c.spoiledTick)
            run.feedAt(0.6 + after, byte);
        const board::Outputs spoiled = run.at(0.79);
        EXPECT_EQ(spoiled.ocr1a, dutyOf(60)) << c.name << ": the outside fan";
        EXPECT_EQ(spoiled.ocr1b, dutyOf(c.rightLevel)) << c.name;
        sendTick(run, 0.8, right | 20, 60);
        EXPECT_EQ(run.at(0.85).ocr1b, dutyOf(30)) << c.name << ": the next whole tick";
        for (int tick = 1; tick < 15; ++tick)
            run.feedAt(0.8 + 0.1 * tick, right | 20);
        const double off =
            run.firstChangeAfter(0.85, [](const board::Outputs& out) { return !out.powerOn(); });
        EXPECT_GE(off, 1.8) << c.name;
        EXPECT_LE(off, 1.8 + 2 * byteSeconds + clockTickSeconds) << c.name;
    }
}

TEST(SideWind, TheBoardAnnouncesSidesAfterResetAndWhenTheLinkComesAlive) {
    FirmwareRun run("ventora-fan.elf");
    // Sent after reset, after the first level, in the silence, after the link is alive again.
    std::string sent[5];
    const double ends[] = {0.09, 0.6, 2.0, 2.5};
    run.board.onTransmit([&](std::uint8_t byte, std::uint64_t cycle) {
        sent[std::upper_bound(std::begin(ends), std::end(ends), double(cycle) / board::clockHz) - ends] +=
            char(byte);
    });
    run.feedEvery100ms(0.1, 0.6, 40);
    run.feedEvery100ms(2.0, 2.5, 40); // after the failsafe at 1.5 s
    run.runTo(2.5);
    const std::string line = fanWire::announcement;
    EXPECT_EQ(std::vector<std::string>(sent, sent + 4), (std::vector<std::string>{line, line, "", line}));
}

} // namespace
