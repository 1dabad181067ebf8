// The firmware runs with the tunables in its block in flash: a block changed in the image (as the
// flashing tool changes it) changes what the board does, a block that is not whole (erased, another
// format or kind, a value out of its range) runs every compiled default, and the block says which
// firmware it is.
#include "firmware_run.h"
#include "tunables_block.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

using namespace tunablesBlock;

// Where the block starts in an image, or -1: the marker within the first searchWindow bytes.
long findBlock(const std::vector<std::uint8_t>& flash) {
    const auto end = flash.begin() + std::min<std::size_t>(flash.size(), searchWindow);
    const auto found = std::search(flash.begin(), end, std::begin(marker), std::end(marker));
    return found == end ? -1 : found - flash.begin();
}

// Writes a value (one byte, or two little-endian) into the block of the board's flash.
void patchBlock(board::SimulatedBoard& simulated, std::uint8_t offset, std::uint16_t value, int width) {
    const long block = findBlock(simulated.flash());
    ASSERT_GE(block, 0);
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(value)};
    if (width == 2) bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    simulated.writeFlash(static_cast<std::uint32_t>(block + offset), bytes);
}

TEST(TunablesBlock, SaysWhichVariantAndVersionItIs) {
    const struct {
        const char* firmware;
        Variant variant;
    } cases[] = {{"ventora-fan.elf", pwmFans}, {"ventora-fan-esc.elf", escs}};
    for (const auto& c : cases) {
        FirmwareRun run(c.firmware);
        const std::vector<std::uint8_t> flash = run.board.flash();
        const long block = findBlock(flash);
        ASSERT_GE(block, 0) << c.firmware;
        EXPECT_LE(block + blockSize, searchWindow) << c.firmware;
        EXPECT_EQ(flash[block + formatVersionOffset], formatVersion) << c.firmware;
        EXPECT_EQ(flash[block + blockSizeOffset], blockSize) << c.firmware;
        EXPECT_EQ(flash[block + variantOffset], c.variant) << c.firmware;
        EXPECT_EQ(flash[block + versionMajorOffset], VENTORA_VERSION_MAJOR) << c.firmware;
        EXPECT_EQ(flash[block + versionMinorOffset], VENTORA_VERSION_MINOR) << c.firmware;
        EXPECT_EQ(flash[block + versionPatchOffset], VENTORA_VERSION_PATCH) << c.firmware;
    }
}

TEST(TunablesBlock, AChangedBlockChangesWhatTheBoardDoes) {
    const struct {
        const char* name;
        const char* firmware;
        std::uint8_t offset;
        std::uint16_t value;
        int width;
        std::uint8_t level; // sent every 100 ms from 0.1 s to until
        double until;
        double at;
        std::function<bool(const board::Outputs&)> expected;
    } cases[] = {
        // 40 % of 320 counts is 128 (30 % gives 96); the half-second kick is over by 0.8 s.
        {"minimum duty 40 %", "ventora-fan.elf", minimumDutyPercentOffset, 40, 1, 1, 0.2, 0.8,
         [](const board::Outputs& out) { return out.ocr1a == 128 && out.powerOn(); }},
        // No kick at all: level 1 runs at its duty from the start.
        {"kick-start below 0 %", "ventora-fan.elf", kickStartBelowPercentOffset, 0, 1, 1, 0.2, 0.15,
         [](const board::Outputs& out) { return out.ocr1a == 96; }},
        {"kick-start 1.5 s", "ventora-fan.elf", kickStartMillisecondsOffset, 1500, 2, 1, 1.5, 1.5,
         [](const board::Outputs& out) { return out.ocr1a == 320; }},
        // The last byte at 0.1 s: off after 1 s by default, still on at 2 s with 2.5 s.
        {"failsafe 2.5 s", "ventora-fan.elf", failsafeMillisecondsOffset, 2500, 2, 40, 0.2, 2.0,
         [](const board::Outputs& out) { return out.powerOn(); }},
        {"ESC arming 0.5 s", "ventora-fan-esc.elf", escArmingMillisecondsOffset, 500, 2, 79, 1.0, 0.9,
         [](const board::Outputs& out) { return out.highMicroseconds() == 2000.0; }},
        {"ESC full pulse 1900 us", "ventora-fan-esc.elf", escFullPulseMicrosecondsOffset, 1900, 2, 79, 2.6,
         2.55, [](const board::Outputs& out) { return out.highMicroseconds() == 1900.0; }},
        {"ESC off pulse 1100 us", "ventora-fan-esc.elf", escOffPulseMicrosecondsOffset, 1100, 2, 0, 2.6, 2.55,
         [](const board::Outputs& out) { return out.highMicroseconds() == 1100.0; }},
        {"driver PWM 10 kHz", "ventora-fan-driver.elf", pwmFrequencyHzOffset, 10000, 2, 40, 0.2, 0.15,
         [](const board::Outputs& out) { return out.frequencyHz() == 10000.0 && out.ocr1a == 520; }},
    };
    for (const auto& c : cases) {
        FirmwareRun run(c.firmware);
        patchBlock(run.board, c.offset, c.value, c.width);
        run.feedEvery100ms(0.1, c.until, c.level);
        const board::Outputs out = run.at(c.at);
        EXPECT_TRUE(c.expected(out)) << c.name << ": duty " << out.ocr1a << ", pulse "
                                     << out.highMicroseconds() << " us, power " << out.powerOn();
    }
}

// A whole block whose every value differs from its default, so that a run shows which it used.
std::vector<std::uint8_t> changedBlock(const board::SimulatedBoard& simulated) {
    const std::vector<std::uint8_t> flash = simulated.flash();
    const long at = findBlock(flash);
    std::vector<std::uint8_t> block(flash.begin() + std::max(at, 0L),
                                    flash.begin() + std::max(at, 0L) + blockSize);
    const auto put = [&](std::uint8_t offset, std::uint16_t value) {
        block[offset] = static_cast<std::uint8_t>(value);
        block[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    block[minimumDutyPercentOffset] = 40;    // level 1: 128 counts, not 96
    block[kickStartBelowPercentOffset] = 60; // 128 counts still kicks
    put(kickStartMillisecondsOffset, 200);
    put(failsafeMillisecondsOffset, 2500);
    put(escArmingMillisecondsOffset, 500);
    put(escOffPulseMicrosecondsOffset, 1100);
    put(escFullPulseMicrosecondsOffset, 1900);
    put(pwmFrequencyHzOffset, 10000);
    return block;
}

void writeBlock(board::SimulatedBoard& simulated, const std::vector<std::uint8_t>& block) {
    const long at = findBlock(simulated.flash());
    ASSERT_GE(at, 0);
    simulated.writeFlash(static_cast<std::uint32_t>(at), block);
}

struct Breakage {
    std::string name;
    std::uint8_t offset;
    std::uint16_t value;
    int width; // 0: every byte of the block becomes value
};

// Each way a block can fail the check: the whole block, its header, and one past each end of each
// field's range (where a byte or a word can hold it).
std::vector<Breakage> breakages() {
    std::vector<Breakage> result = {
        {"erased block", 0, 0xFF, 0},
        {"wrong marker", 0, 'v', 1},
        {"format 1", formatVersionOffset, 1, 1},
        {"format 2 (1.3.0's, without the sides)", formatVersionOffset, formatWithoutSides, 1},
        {"size 26", blockSizeOffset, 26, 1},
        {"no kind", variantOffset, 0, 1},
        {"kind past the last", variantOffset, highestVariant + 1, 1},
        {"full pulse 299 us above off", escFullPulseMicrosecondsOffset, 1100 + escPulseSpanAtLeast - 1, 2},
    };
    for (std::uint8_t i = 0; i < fieldCount; ++i) {
        const Field& field = fields[i];
        const std::string name = "field at " + std::to_string(field.offset);
        if (field.range.lowest > 0)
            result.push_back({name + " below its range", field.offset, std::uint16_t(field.range.lowest - 1),
                              field.width});
        if (field.range.highest < (field.width == 1 ? 0xFF : 0xFFFF))
            result.push_back({name + " above its range", field.offset, std::uint16_t(field.range.highest + 1),
                              field.width});
    }
    return result;
}

std::vector<std::uint8_t> broken(std::vector<std::uint8_t> block, const Breakage& breakage) {
    if (breakage.width == 0) return std::vector<std::uint8_t>(block.size(), std::uint8_t(breakage.value));
    block[breakage.offset] = static_cast<std::uint8_t>(breakage.value);
    if (breakage.width == 2) block[breakage.offset + 1] = static_cast<std::uint8_t>(breakage.value >> 8);
    return block;
}

// The PWM fans fed level 1 from 0.1 s to the last byte at 0.4 s: what the run did, to compare with
// the defaults (a 500 ms kick at full, 30 % after it, off 1 s after the last byte) or the changed
// block (a 200 ms kick, 40 %, off 2.5 s after it).
struct FanRun {
    std::uint16_t dutyInKick; // at 0.55 s
    std::uint16_t dutyAfter;  // at 0.8 s
    double offAfterLastByte;  // -1: still on at 4 s
};

FanRun runFans(const std::vector<std::uint8_t>& block) {
    FirmwareRun run("ventora-fan.elf");
    writeBlock(run.board, block);
    run.feedEvery100ms(0.1, 0.5, 1);
    FanRun result{run.at(0.55).ocr1a, run.at(0.8).ocr1a, -1.0};
    run.runTo(4.0);
    const double off = run.firstChangeAfter(0.4, [](const auto& out) { return !out.powerOn(); });
    if (off > 0.0) result.offAfterLastByte = off - 0.4;
    return result;
}

// The ESCs fed level 79 from 0.1 s to the last byte at 2.5 s: the pulse while the defaults still
// arm (0.9 s), at full (2.55 s), and after the failsafe (5.2 s, past the changed block's 2.5 s).
struct EscRun {
    double armingPulse;
    double fullPulse;
    double offPulse;
    double offAfterLastByte;
};

EscRun runEscs(const std::vector<std::uint8_t>& block) {
    FirmwareRun run("ventora-fan-esc.elf");
    writeBlock(run.board, block);
    run.feedEvery100ms(0.1, 0.9, 79);
    EscRun result{run.at(0.9).highMicroseconds(), 0.0, 0.0, -1.0};
    run.feedEvery100ms(0.9, 2.6, 79);
    result.fullPulse = run.at(2.55).highMicroseconds();
    result.offPulse = run.at(5.2).highMicroseconds();
    const double off =
        run.firstChangeAfter(2.5, [&](const auto& out) { return out.highMicroseconds() == result.offPulse; });
    if (off > 0.0) result.offAfterLastByte = off - 2.5;
    return result;
}

TEST(TunablesBlock, ABlockThatIsNotWholeRunsEveryCompiledDefault) {
    for (const Breakage& breakage : breakages()) {
        {
            FirmwareRun image("ventora-fan.elf");
            const FanRun fans = runFans(broken(changedBlock(image.board), breakage));
            EXPECT_EQ(fans.dutyInKick, 320) << breakage.name << ": the kick lasts 500 ms";
            EXPECT_EQ(fans.dutyAfter, 96) << breakage.name << ": level 1 is 30 %";
            EXPECT_GE(fans.offAfterLastByte, 1.0) << breakage.name;
            EXPECT_LE(fans.offAfterLastByte, 1.0 + byteSeconds + clockTickSeconds)
                << breakage.name << ": the failsafe is 1 s";
        }
        {
            FirmwareRun image("ventora-fan-esc.elf");
            const EscRun escs = runEscs(broken(changedBlock(image.board), breakage));
            EXPECT_EQ(escs.armingPulse, 1000.0) << breakage.name << ": arming lasts 2 s";
            EXPECT_EQ(escs.fullPulse, 2000.0) << breakage.name;
            EXPECT_EQ(escs.offPulse, 1000.0) << breakage.name;
            EXPECT_GE(escs.offAfterLastByte, 1.0) << breakage.name;
            EXPECT_LE(escs.offAfterLastByte, 1.0 + byteSeconds + clockTickSeconds)
                << breakage.name << ": the failsafe is 1 s";
        }
        {
            FirmwareRun image("ventora-fan-driver.elf");
            writeBlock(image.board, broken(changedBlock(image.board), breakage));
            image.feedAt(0.1, 40);
            EXPECT_EQ(image.at(0.15).frequencyHz(), 20000.0) << breakage.name;
        }
    }
}

TEST(TunablesBlock, AWholeBlockWithEveryValueChangedTakesEffect) {
    {
        FirmwareRun image("ventora-fan.elf");
        const FanRun fans = runFans(changedBlock(image.board));
        EXPECT_EQ(fans.dutyInKick, 128);
        EXPECT_EQ(fans.dutyAfter, 128);
        EXPECT_GE(fans.offAfterLastByte, 2.5);
        EXPECT_LE(fans.offAfterLastByte, 2.5 + byteSeconds + clockTickSeconds);
    }
    {
        FirmwareRun image("ventora-fan-driver.elf");
        writeBlock(image.board, changedBlock(image.board));
        image.feedAt(0.1, 40);
        EXPECT_EQ(image.at(0.15).frequencyHz(), 10000.0);
    }
    FirmwareRun image("ventora-fan-esc.elf");
    const EscRun escs = runEscs(changedBlock(image.board));
    EXPECT_EQ(escs.armingPulse, 1900.0);
    EXPECT_EQ(escs.fullPulse, 1900.0);
    EXPECT_EQ(escs.offPulse, 1100.0);
    EXPECT_GE(escs.offAfterLastByte, 2.5);
    EXPECT_LE(escs.offAfterLastByte, 2.5 + byteSeconds + clockTickSeconds);
}

} // namespace
