// The fan firmware behind the Arduino bootloaders, on a simulated Uno or Nano: it starts after
// either one with the watchdog unable to reset it and its own serial set-up, and Ventora's levels arriving
// while a bootloader listens never change the flash.
#include "firmware_run.h"

#include <gtest/gtest.h>

namespace {

constexpr double ventoraBaud = 9600;
constexpr std::uint16_t dutyOfLevel40 = 208;

const struct {
    const char* name;
    board::Bootloader bootloader;
} bootloaders[] = {{"Optiboot", board::Bootloader::optiboot}, {"old Nano", board::Bootloader::oldNano}};

board::BoardSetup boardWith(board::Bootloader bootloader, const char* firmware, bool rateCheck = true) {
    board::BoardSetup setup;
    setup.bootloader = bootloader;
    setup.firmware = firmwarePath(firmware);
    setup.rateCheck = rateCheck;
    return setup;
}

TEST(Bootloaders, FirmwareStartsAfterEitherWithNoWatchdogResetAndDrivesTheFans) {
    for (const auto& loader : bootloaders)
        for (const bool portOpened : {false, true}) {
            const std::string name = std::string(loader.name) + (portOpened ? ", port opened" : ", power-on");
            FirmwareRun run(boardWith(loader.bootloader, "ventora-fan.elf"));
            if (portOpened) {
                run.runTo(0.2);
                run.board.resetExternally();
            }
            const double started = run.runUntilFirmwareRuns(4.0);
            ASSERT_GT(started, 0.0) << name;
            run.runTo(started + 0.01);
            EXPECT_FALSE(run.board.watchdogResets()) << name;
            EXPECT_NEAR(run.board.uartBaud(), 9615, 1) << name;
            // Ventora's ticks; a watchdog left running would reset the chip, and the duty with it.
            run.feedAtRateEvery100ms(started + 0.1, started + 3.0, 40, ventoraBaud);
            for (double t = started + 0.3; t < started + 3.0; t += 0.5) {
                const board::Outputs out = run.at(t);
                EXPECT_EQ(out.ocr1a, dutyOfLevel40) << name << " at " << t;
                EXPECT_TRUE(out.powerOn()) << name << " at " << t;
            }
            EXPECT_FALSE(run.board.watchdogResets()) << name;
        }
}

TEST(Bootloaders, VentorasNoiseEndsTheBootloadersWaitAsOnARealBoard) {
    // Optiboot flashes its LED for about 0.4 s, then the first garbled byte makes it let the
    // watchdog start the firmware 16 ms later; the old bootloader gives up after a few bytes that
    // are no command. Without bytes each would listen for a second or more.
    for (const auto& loader : bootloaders) {
        FirmwareRun run(boardWith(loader.bootloader, "ventora-fan.elf"));
        run.runTo(0.1);
        run.board.resetExternally();
        for (int tick = 0; tick < 10 && !run.board.firmwareRunning(); ++tick) {
            run.runTo(0.1 + tick * 0.1);
            run.board.feedAtRate(40, ventoraBaud);
        }
        const double started = run.runUntilFirmwareRuns(2.0);
        ASSERT_GT(started, 0.0) << loader.name;
        EXPECT_LT(started - 0.1, 0.45) << loader.name;
    }
}

// Each level as Ventora sends it, a byte every 100 ms through the bootloader's second after the
// port opens: at 9600 baud to a bootloader at 115200 or 57600 (noise), and as clean bytes (the rate
// check off). Every STK500 command that writes is above 79, so neither can program the board; clean
// bytes that happen to be other commands keep the old bootloader a while longer (it gives up after
// five errors), but the firmware starts.
struct LevelsCase {
    board::Bootloader bootloader;
    bool rateCheck;
};

class LevelsWhileTheBootloaderListens : public testing::TestWithParam<LevelsCase> {};

TEST_P(LevelsWhileTheBootloaderListens, NeverChangeTheFlashAndTheFirmwareStarts) {
    const LevelsCase c = GetParam();
    for (int level = 0; level <= 79; ++level) {
        FirmwareRun run(boardWith(c.bootloader, "ventora-fan.elf", c.rateCheck));
        run.runTo(0.1);
        const std::vector<std::uint8_t> before = run.board.flash();
        run.board.resetExternally();
        const double opened = run.board.seconds();
        for (int tick = 0; tick < 10; ++tick) {
            run.runTo(opened + tick * 0.1);
            run.board.feedAtRate(static_cast<std::uint8_t>(level), ventoraBaud);
        }
        run.runUntilFirmwareRuns(opened + 15.0);
        ASSERT_TRUE(run.board.firmwareRunning()) << "level " << level;
        ASSERT_TRUE(run.board.flash() == before) << "level " << level;
    }
}

INSTANTIATE_TEST_SUITE_P(Bootloaders, LevelsWhileTheBootloaderListens,
                         testing::Values(LevelsCase{board::Bootloader::optiboot, true},
                                         LevelsCase{board::Bootloader::optiboot, false},
                                         LevelsCase{board::Bootloader::oldNano, true},
                                         LevelsCase{board::Bootloader::oldNano, false}),
                         [](const testing::TestParamInfo<LevelsCase>& info) {
                             return std::string(info.param.bootloader == board::Bootloader::optiboot
                                                    ? "Optiboot"
                                                    : "OldNano") +
                                    (info.param.rateCheck ? "At9600" : "Clean");
                         });

TEST(FanOutputs, OffLetsTheFanPinsGoAndTheEscsKeepTheirOffPulse) {
    const struct {
        const char* name;
        const char* firmware;
        std::vector<std::pair<double, std::uint8_t>> bytes;
        double at;
        bool released;
    } cases[] = {
        {"fans before the first byte", "ventora-fan.elf", {}, 0.5, true},
        {"fans at level 40", "ventora-fan.elf", {{0.1, 40}}, 0.3, false},
        {"fans at level 1 (kick-start)", "ventora-fan.elf", {{0.1, 1}}, 0.3, false},
        {"fans at level 0", "ventora-fan.elf", {{0.1, 40}, {0.2, 0}}, 0.3, true},
        {"fans in failsafe", "ventora-fan.elf", {{0.1, 40}}, 1.5, true},
        {"ESCs before the first byte", "ventora-fan-esc.elf", {}, 0.5, false},
        {"ESCs at level 0", "ventora-fan-esc.elf", {{2.1, 40}, {2.2, 0}}, 2.3, false},
        {"ESCs in failsafe", "ventora-fan-esc.elf", {{2.1, 40}}, 3.5, false},
    };
    for (const auto& c : cases) {
        FirmwareRun run(c.firmware);
        for (const auto& [time, level] : c.bytes)
            run.feedAt(time, level);
        const board::Outputs out = run.at(c.at);
        EXPECT_EQ(out.fanPinsReleased(), c.released) << c.name;
        if (!c.released) {
            EXPECT_EQ(out.ddrb & board::fanPinBits, board::fanPinBits) << c.name << ": both pins drive";
            EXPECT_EQ(out.tccr1a & 0xF0, 0xA0) << c.name << ": Timer1 drives both pins";
        }
    }
    // An ESC off is the shortest pulse, not a silent wire.
    FirmwareRun esc("ventora-fan-esc.elf");
    esc.feedAt(2.1, 40);
    EXPECT_DOUBLE_EQ(esc.at(3.5).highMicroseconds(), 1000.0);
}

} // namespace
