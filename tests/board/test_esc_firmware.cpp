// The ESC firmware on the simulated board: 50 Hz servo pulses from 1000 us (off) to 2000 us (full),
// held at 1000 us while the ESCs arm, and in failsafe.
#include "firmware_run.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* escFirmware = "ventora-fan-esc.elf";

TEST(EscFirmware, LevelsGivePulsesFromOneToTwoMillisecondsAtFiftyHertz) {
    // 1000 us + level * 1000 / 79, to the nearest microsecond.
    const struct {
        std::uint8_t level;
        double microseconds;
    } cases[] = {{0, 1000}, {40, 1506}, {79, 2000}, {100, 2000}};
    for (const auto& c : cases) {
        FirmwareRun run(escFirmware);
        run.feedEvery100ms(0.1, 2.6, c.level);
        const board::Outputs out = run.at(2.55);
        EXPECT_DOUBLE_EQ(out.highMicroseconds(), c.microseconds) << int(c.level);
        EXPECT_EQ(out.ocr1b, out.ocr1a) << int(c.level);
        EXPECT_NEAR(out.frequencyHz(), 50.0, 0.5);
        EXPECT_FALSE(out.powerOn()) << "D8 is unused and stays low";
    }
}

TEST(EscFirmware, HoldsTheOffPulseForTwoSecondsAfterPowerOnWhateverArrives) {
    FirmwareRun run(escFirmware);
    for (double t = 0.05; t < 2.5; t += 0.1) {
        run.feedAt(t, 79);
        const double sample = t + 0.09;
        EXPECT_DOUBLE_EQ(run.at(sample).highMicroseconds(), sample < 2.0 ? 1000.0 : 2000.0) << sample;
    }
}

TEST(EscFirmware, FailsafeReturnsToTheOffPulseAndKeepsPulsing) {
    FirmwareRun run(escFirmware);
    run.feedEvery100ms(0.1, 3.0, 60); // the last byte at 2.9 s
    EXPECT_GT(run.at(2.95).highMicroseconds(), 1700.0);
    run.runTo(4.95);
    const double off =
        run.firstChangeAfter(2.9, [](const auto& out) { return out.highMicroseconds() == 1000.0; });
    ASSERT_GT(off, 0.0);
    EXPECT_GE(off - 2.9, 1.0);
    EXPECT_LE(off - 2.9, 1.0 + byteSeconds + clockTickSeconds);
    const board::Outputs out = run.at(4.9);
    EXPECT_DOUBLE_EQ(out.highMicroseconds(), 1000.0);
    EXPECT_NEAR(out.frequencyHz(), 50.0, 0.5);
}

} // namespace
