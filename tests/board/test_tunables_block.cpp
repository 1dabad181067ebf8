// The firmware runs with the tunables in its block in flash: a block changed in the image (as the
// flashing tool changes it) changes what the board does, and the block says which firmware it is.
#include "firmware_run.h"
#include "tunables_block.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>

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

} // namespace
