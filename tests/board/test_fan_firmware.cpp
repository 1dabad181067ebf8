// The 4-pin PWM fan firmware on the simulated board: duty, frequency, power pin, kick-start,
// failsafe, latency and LED, against the rules a fan controller must keep.
#include "firmware_run.h"

#include <gtest/gtest.h>

namespace {

constexpr const char* fanFirmware = "ventora-fan.elf";
constexpr std::uint16_t fullDuty = 320; // ICR1 for 25 kHz

bool dutyIs(const board::Outputs& out, std::uint16_t duty) {
    return out.ocr1a == duty && out.ocr1b == duty;
}

TEST(FanFirmware, LevelsGiveTheirDutyOnBothFansWithPowerOnlyAboveZero) {
    // Level 1 is 30 % of 320 = 96 counts, level 79 and above is 320, linear between, rounded.
    const struct {
        std::uint8_t level;
        std::uint16_t duty;
    } cases[] = {{0, 0}, {1, 96}, {40, 208}, {78, 317}, {79, 320}, {80, 320}, {125, 320}};
    for (const auto& c : cases) {
        FirmwareRun run(fanFirmware);
        run.feedAt(0.1, c.level);
        // After any kick-start (0.5 s), before the failsafe (1 s).
        const board::Outputs out = run.at(0.8);
        EXPECT_EQ(out.ocr1a, c.duty) << "level " << int(c.level);
        EXPECT_EQ(out.ocr1b, c.duty) << "level " << int(c.level);
        EXPECT_EQ(out.powerOn(), c.level > 0) << "level " << int(c.level);
    }
}

TEST(FanFirmware, TimerRunsPhaseAndFrequencyCorrectPwmAt25kHzOnBothPins) {
    FirmwareRun run(fanFirmware);
    run.feedAt(0.1, 40);
    const board::Outputs out = run.at(0.2);
    EXPECT_EQ(out.tccr1b & 0x18, 0x10) << "WGM13:12 = 10 (mode 8)";
    EXPECT_EQ(out.tccr1a & 0x03, 0x00) << "WGM11:10 = 00 (mode 8)";
    EXPECT_EQ(out.tccr1a & 0xF0, 0xA0) << "OC1A and OC1B non-inverting";
    EXPECT_NEAR(16e6 / (2.0 * out.prescaler() * out.icr1), 25000.0, 250.0);
}

TEST(FanFirmware, StartsOffWithThePowerPinLowUntilTheFirstByte) {
    FirmwareRun run(fanFirmware);
    for (double t : {0.01, 0.5, 2.0}) {
        const board::Outputs out = run.at(t);
        EXPECT_EQ(out.ocr1a, 0) << t;
        EXPECT_FALSE(out.powerOn()) << t;
    }
}

TEST(FanFirmware, KicksAFanStartedFromOffAtUnderHalfDutyForHalfASecond) {
    // Level 23 is 159 counts (under 160, half of 320), level 24 is 162.
    const struct {
        const char* name;
        std::uint8_t before; // level sent from 0.1 s, 0 for none
        std::uint8_t level;  // level sent from 0.5 s
        std::uint16_t duty;
        bool kicks;
    } cases[] = {
        {"off to 1", 0, 1, 96, true},
        {"off to 23", 0, 23, 159, true},
        {"off to 24", 0, 24, 162, false},
        {"off to 79", 0, 79, 320, false},
        {"running at 40 to 1", 40, 1, 96, false},
    };
    for (const auto& c : cases) {
        FirmwareRun run(fanFirmware);
        if (c.before) run.feedEvery100ms(0.1, 0.5, c.before);
        run.feedEvery100ms(0.5, 1.4, c.level);
        const double settled =
            run.firstChangeAfter(0.5, [&](const auto& out) { return dutyIs(out, c.duty); });
        ASSERT_GT(settled, 0.0) << c.name;
        if (!c.kicks) {
            EXPECT_LT(settled - 0.5, byteSeconds + 100e-6) << c.name;
            continue;
        }
        const double kick = run.firstChangeAfter(0.5, [](const auto& out) { return dutyIs(out, fullDuty); });
        ASSERT_GT(kick, 0.0) << c.name;
        EXPECT_LT(kick - 0.5, byteSeconds + 100e-6) << c.name;
        EXPECT_NEAR(settled - kick, 0.5, 0.002) << c.name;
        EXPECT_TRUE(run.at(1.3).powerOn()) << c.name;
    }
}

TEST(FanFirmware, FailsafeSwitchesOffOneSecondAfterTheLastByteAndTheNextByteResumes) {
    FirmwareRun run(fanFirmware);
    run.feedEvery100ms(0.1, 1.0, 40); // the last byte at 0.9 s
    run.runTo(2.95);
    const double offAt = run.firstChangeAfter(0.9, [](const auto& out) { return !out.powerOn(); });
    ASSERT_GT(offAt, 0.0);
    EXPECT_GE(offAt - 0.9, 1.0);
    EXPECT_LE(offAt - 0.9, 1.0 + byteSeconds + clockTickSeconds);
    EXPECT_EQ(run.at(2.9).ocr1a, 0);
    EXPECT_FALSE(run.at(2.9).powerOn());

    // Back at 208 at once: no kick, that duty starts a fan on its own.
    run.feedAt(3.0, 40);
    const board::Outputs out = run.at(3.0 + byteSeconds + 100e-6);
    EXPECT_TRUE(dutyIs(out, 208));
    EXPECT_TRUE(out.powerOn());
}

TEST(FanFirmware, AByteReachesTheOutputsWithinOneByteTimeAndAHundredMicroseconds) {
    // Bytes at times with different phases against the firmware's millisecond clock.
    const struct {
        double at;
        std::uint8_t level;
        std::uint16_t duty;
    } cases[] = {{0.1, 60, 265}, {0.20013, 79, 320}, {0.30071, 0, 0}, {0.40047, 50, 237}, {0.50099, 70, 294}};
    FirmwareRun run(fanFirmware);
    for (const auto& c : cases) {
        run.feedAt(c.at, c.level);
        run.runTo(c.at + 0.05);
        const double changed =
            run.firstChangeAfter(c.at, [&](const auto& out) { return dutyIs(out, c.duty); });
        ASSERT_GT(changed, 0.0) << c.at;
        EXPECT_LE(changed - c.at, byteSeconds + 100e-6) << c.at;
    }
}

TEST(FanFirmware, LedStaysLitWhileBytesArriveAndBlinksAtTwoHertzInFailsafe) {
    FirmwareRun run(fanFirmware);
    run.feedEvery100ms(0.1, 2.0, 40);
    for (double t = 0.15; t < 2.0; t += 0.1)
        EXPECT_TRUE(run.at(t).ledOn()) << t;

    run.runTo(5.0);
    std::vector<double> toggles;
    bool lit = true;
    for (const auto& [time, out] : run.changes)
        if (time > 3.0 && out.ledOn() != lit) {
            toggles.push_back(time);
            lit = out.ledOn();
        }
    ASSERT_GE(toggles.size(), 6u);
    const double frequency = (toggles.size() - 1) / 2.0 / (toggles.back() - toggles.front());
    EXPECT_NEAR(frequency, 2.0, 0.2);
}

} // namespace
