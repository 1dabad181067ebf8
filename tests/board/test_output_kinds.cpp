// Every output kind's image on the simulated board, with the chips its shield adds: off from
// power-on to the first byte, the same share of full power at a level on every kind, the kick-start,
// the failsafe at 1 s, and what each kind's off drives; a main loop that hangs, behind either
// bootloader. Then the Adafruit v2 shield's PCA9685: set every channel full off first, and a shield
// that does not answer.
#include "firmware_run.h"
#include "pin_drive.h"
#include "shield.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>

extern "C" {
#include <sim_avr.h>
}

namespace {

using board::FanDrive;
using board::OutputKind;
using board::PinDrive;
using board::Shield;

// Level 1 is 30 %, level 79 is 100 %, linear between: level 40 is 30 + 70 * 39 / 78 = 65 %.
double shareOf(int level) {
    return level == 0 ? 0.0 : 0.30 + 0.70 * (level - 1) / 78.0;
}

bool low(const board::SimulatedBoard& simulated, int pin) {
    return board::pinDrive(simulated.chip(), pin).drivenLow();
}

bool released(const board::SimulatedBoard& simulated, int pin) {
    return board::pinDrive(simulated.chip(), pin).kind == PinDrive::released;
}

struct Kind {
    const char* firmware;
    OutputKind kind;
    const char* running; // each fan's state while it runs
    double pwmHz;
    double firstByte; // ESCs arm for 2 s first
    // The kind's off: what every line it owns drives at level 0, in failsafe and before any byte.
    std::function<bool(board::SimulatedBoard&, Shield&)> off;
};

const Kind kinds[] = {
    {"ventora-fan.elf", OutputKind::pwmFans, "on", 25000, 0.1,
     [](auto& b, auto&) { return low(b, 8) && released(b, 9) && released(b, 10); }},
    {"ventora-fan-esc.elf", OutputKind::escs, "", 50, 2.1,
     [](auto&, auto& s) { return s.fan(1).state == "1000 us" && s.fan(2).state == "1000 us"; }},
    {"ventora-fan-driver.elf", OutputKind::driver, "forward", 20000, 0.1,
     [](auto& b, auto&) { return low(b, 8) && low(b, 9) && low(b, 10); }},
    {"ventora-fan-l293d-shield.elf", OutputKind::l293dShield, "forward", 7812.5, 0.1,
     [](auto& b, auto& s) {
         return low(b, 11) && low(b, 3) && s.shiftRegister()->enabled() && s.shiftRegister()->latched() == 0;
     }},
    {"ventora-fan-motor-shield-v2.elf", OutputKind::motorShieldV2, "forward", 25e6 / (4096 * 4), 0.1,
     [](auto&, auto& s) {
         for (int channel = 0; channel < 16; ++channel)
             if (!s.pca()->fullOff(channel)) return false;
         return true;
     }},
    {"ventora-fan-arduino-motor-shield.elf", OutputKind::arduinoMotorShield, "forward", 7812.5, 0.1,
     [](auto& b, auto&) { return low(b, 3) && low(b, 11) && low(b, 9) && low(b, 8); }},
    {"ventora-fan-monster-moto.elf", OutputKind::monsterMoto, "forward", 7812.5, 0.1,
     [](auto& b, auto& s) {
         // Every switch of the VNH2SP30 off: the fans coast rather than brake.
         return low(b, 7) && low(b, 8) && low(b, 5) && low(b, 4) && low(b, 9) && low(b, 6) &&
                s.fan(1).state == "coast" && s.fan(2).state == "coast";
     }},
};

struct KindRun {
    explicit KindRun(const Kind& k) : kind(k), run(k.firmware), shield(run.board, k.kind) {}
    KindRun(const Kind& k, const board::BoardSetup& setup) : kind(k), run(setup), shield(run.board, k.kind) {}
    FanDrive fan(double at, int which) {
        run.runTo(at);
        return shield.fan(which);
    }
    bool offAt(double at) {
        run.runTo(at);
        return kind.off(run.board, shield);
    }
    // Output 1 and output 2 (by default both) at their levels' shares, running at the kind's rate
    // where it switches; an output at 0 undriven (the 4-pin fans' supply stays on for the other).
    ::testing::AssertionResult drivesAt(double at, int output1, int output2 = -1) {
        run.runTo(at);
        const int levels[] = {output1, output2 < 0 ? output1 : output2};
        for (int which : {1, 2}) {
            const FanDrive fan = shield.fan(which);
            const int level = levels[which - 1];
            if (kind.kind == OutputKind::escs) {
                const std::string pulse = std::to_string(1000 + (level * 1000 + 39) / 79) + " us";
                if (fan.state != pulse)
                    return ::testing::AssertionFailure() << "fan " << which << " " << fan.state;
                continue;
            }
            // A step of the coarsest PWM here (256 counts) from the exact share.
            if (std::fabs(fan.duty - shareOf(level)) > 1.0 / 256 ||
                (level != 0 && fan.state != kind.running) ||
                (fan.duty > 0.0 && fan.duty < 1.0 && std::fabs(fan.hz - kind.pwmHz) > kind.pwmHz * 0.001))
                return ::testing::AssertionFailure()
                       << "fan " << which << " " << fan.duty << " " << fan.state << " at " << fan.hz << " Hz";
        }
        return ::testing::AssertionSuccess();
    }

    const Kind& kind;
    FirmwareRun run;
    Shield shield;
};

TEST(OutputKinds, StayOffFromPowerOnUntilTheFirstByte) {
    for (const Kind& kind : kinds) {
        KindRun run(kind);
        for (double at : {0.001, 0.5, 3.0}) {
            EXPECT_TRUE(run.offAt(at)) << kind.firmware << " at " << at;
            EXPECT_EQ(run.fan(at, 1).duty, 0.0) << kind.firmware << " at " << at;
        }
    }
}

TEST(OutputKinds, DriveLevelsFortyAndSeventyNineAsTheSameShareOfFullPower) {
    for (const Kind& kind : kinds)
        for (int level : {40, 79}) {
            KindRun run(kind);
            run.run.feedEvery100ms(kind.firstByte, kind.firstByte + 0.9, static_cast<std::uint8_t>(level));
            EXPECT_TRUE(run.drivesAt(kind.firstByte + 0.85, level)) << kind.firmware << " level " << level;
        }
}

// A right-hand corner past full at level 40 (the default split: the left fan, output 1, at 40,
// the right one at 20), then level 1 on output 1 alone (the set-up tool's byte) and level 1 on both:
// output 2 starts from off with a kick of its own while output 1 runs on at level 1.
TEST(OutputKinds, DriveEachSideAtItsOwnLevelAndKickASideStartedFromOff) {
    const auto tick = [](KindRun& run, double at, std::uint8_t prefix, std::uint8_t level) {
        run.run.feedAt(at, prefix);
        run.run.feedAt(at + byteSeconds, level);
    };
    for (const Kind& kind : kinds) {
        KindRun run(kind);
        for (int i = 0; i < 9; ++i)
            tick(run, kind.firstByte + 0.1 * i, 0xC0 | 63, 40);
        EXPECT_TRUE(run.drivesAt(kind.firstByte + 0.85, 40, 20)) << kind.firmware << ": the corner";
        if (kind.kind == OutputKind::escs) continue; // an ESC starts its motor itself
        const double start = kind.firstByte + 2.0;   // after the failsafe: both off
        for (int i = 0; i < 7; ++i) {                // the tool doubles its output byte
            run.run.feedAt(start + 0.1 * i, 0x7E);
            tick(run, start + 0.1 * i + byteSeconds, 0x7E, 1);
        }
        EXPECT_TRUE(run.drivesAt(start + 0.65, 1, 0)) << kind.firmware << ": output 1 alone";
        run.run.feedEvery100ms(start + 0.7, start + 1.0, 1);
        EXPECT_TRUE(run.drivesAt(start + 0.75, 1, 79)) << kind.firmware << ": output 2's own kick";
        EXPECT_TRUE(run.drivesAt(start + 1.3, 1, 1)) << kind.firmware << ": both at level 1";
    }
}

TEST(OutputKinds, KickAFanStartedFromOffAtLevelOneToFullForHalfASecond) {
    for (const Kind& kind : kinds) {
        if (kind.kind == OutputKind::escs) continue; // an ESC starts its motor itself
        KindRun run(kind);
        run.run.feedAt(0.1, 1);
        EXPECT_TRUE(run.drivesAt(0.1 + byteSeconds + 0.002, 79)) << kind.firmware << ": the kick";
        run.run.feedEvery100ms(0.2, 0.6, 1);
        EXPECT_TRUE(run.drivesAt(0.59, 79)) << kind.firmware << ": the kick";
        run.run.feedAt(0.6, 1);
        EXPECT_TRUE(run.drivesAt(0.61 + byteSeconds, 1)) << kind.firmware << ": level 1 after it";
    }
}

TEST(OutputKinds, SwitchOffOneSecondAfterTheLastByteAndDriveTheirOff) {
    for (const Kind& kind : kinds) {
        KindRun run(kind);
        const double lastByte = kind.firstByte + 0.8;
        run.run.feedEvery100ms(kind.firstByte, lastByte + 0.05, 40);
        EXPECT_TRUE(run.drivesAt(lastByte + 0.99, 40)) << kind.firmware;
        EXPECT_TRUE(run.offAt(lastByte + 1.0 + byteSeconds + clockTickSeconds + 0.001)) << kind.firmware;
        // And level 0 is the same off.
        run.run.feedEvery100ms(lastByte + 1.5, lastByte + 1.8, 40);
        run.run.feedAt(lastByte + 1.8, 0);
        EXPECT_TRUE(run.offAt(lastByte + 1.85)) << kind.firmware << ": level 0";
    }
}

TEST(OutputKinds, ShowTheLinkOnTheLedWhereDThirteenIsFree) {
    for (const Kind& kind : kinds) {
        KindRun run(kind);
        run.run.feedEvery100ms(kind.firstByte, kind.firstByte + 0.5, 0);
        const bool lit = run.run.at(kind.firstByte + 0.45).ledOn();
        // On the Arduino Motor Shield D13 is B's direction: low while the fans are off.
        EXPECT_EQ(lit, kind.kind != OutputKind::arduinoMotorShield) << kind.firmware;
    }
}

// The main loop stuck where it stands, as a bug or a wild jump would leave it: the program counter
// sent to a jump to itself in flash no image uses, taken while the loop sleeps (interrupts on), so
// the serial and clock interrupts go on and only the loop never comes round again.
void hangHere(board::SimulatedBoard& simulated) {
    constexpr std::uint32_t loopAt = 0x6000;
    simulated.writeFlash(loopAt, {0xFF, 0xCF}); // rjmp .
    simulated.chip()->pc = loopAt;
    simulated.chip()->state = cpu_Running;
}

void hangMainLoop(board::SimulatedBoard& simulated) {
    avr_t* avr = simulated.chip();
    for (int step = 0; step < 100000 && avr->state != cpu_Sleeping; ++step)
        simulated.runUntil(simulated.cycle() + 1);
    ASSERT_EQ(avr->state, cpu_Sleeping) << "the loop never went to sleep";
    hangHere(simulated);
}

struct HangCase {
    int kind; // in kinds
    board::Bootloader bootloader;
};

class AHungMainLoop : public testing::TestWithParam<HangCase> {};

// The watchdog's interrupt switches every output off within 2 s (the bytes keep coming, so no
// failsafe of the loop's does it), and the board stays so without a reset: the bootloader never
// runs again, where a watchdog reset would start it (and keep the old Nano's resetting).
TEST_P(AHungMainLoop, StopsTheFansWithinTwoSecondsAndNeverResets) {
    const Kind& kind = kinds[GetParam().kind];
    board::BoardSetup setup;
    setup.bootloader = GetParam().bootloader;
    setup.firmware = firmwarePath(kind.firmware);
    KindRun run(kind, setup);
    int starts = 0;
    run.run.board.onEvent(
        [&](board::BoardEvent event) { starts += event == board::BoardEvent::firmwareStarted; });
    const double started = run.run.runUntilFirmwareRuns(4.0);
    ASSERT_GT(started, 0.0);
    const double first = started + kind.firstByte, hung = first + 0.6, end = hung + 3.0;
    run.run.feedEvery100ms(first, hung, 79);
    ASSERT_TRUE(run.drivesAt(hung - 0.01, 79));
    hangMainLoop(run.run.board);
    const double hungAt = run.run.board.seconds();
    // Ventora goes on sending, a byte every 100 ms; the outputs looked at every 10 ms.
    double off = -1.0;
    for (int tick = 1; hungAt + tick * 0.01 < end; ++tick) {
        const double at = hungAt + tick * 0.01;
        run.run.runTo(at);
        if (tick % 10 == 0) run.run.board.feed(79);
        if (off < 0 && kind.off(run.run.board, run.shield)) off = at;
    }
    EXPECT_TRUE(run.offAt(end)) << "off for good";
    EXPECT_GT(off, hungAt);
    EXPECT_LT(off, hungAt + 2.0);
    EXPECT_EQ(starts, 1) << "the firmware started again";
    EXPECT_TRUE(run.run.board.firmwareRunning()) << "back in the bootloader";
    EXPECT_FALSE(run.run.board.watchdogResets());
}

std::vector<HangCase> hangCases() {
    std::vector<HangCase> cases;
    for (int kind = 0; kind < static_cast<int>(std::size(kinds)); ++kind)
        for (const auto bootloader : {board::Bootloader::optiboot, board::Bootloader::oldNano})
            cases.push_back({kind, bootloader});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(OutputKinds, AHungMainLoop, testing::ValuesIn(hangCases()),
                         [](const testing::TestParamInfo<HangCase>& info) {
                             std::string name = board::nameOf(kinds[info.param.kind].kind);
                             std::erase(name, '-');
                             return name + (info.param.bootloader == board::Bootloader::optiboot ? "Optiboot"
                                                                                                 : "OldNano");
                         });

// Hung halfway through writing the channels, the chip part-way into a transfer and part-way to the
// new level: the watchdog's general call still reaches it, and every channel goes full off.
TEST(MotorShieldV2, AMainLoopHungInsideATransferStillHasEveryChannelSwitchedOff) {
    FirmwareRun run("ventora-fan-motor-shield-v2.elf");
    Shield shield(run.board, OutputKind::motorShieldV2);
    board::Pca9685& pca = *shield.pca();
    run.feedEvery100ms(0.1, 0.5, 79);
    run.feedAt(0.5, 40);
    const std::size_t before = pca.writes().size();
    for (int step = 0; step < 1000000 && pca.writes().size() < before + 2; ++step)
        run.board.runUntil(run.board.cycle() + 1);
    ASSERT_EQ(pca.writes().size(), before + 2) << "the transfer never began";
    ASSERT_TRUE(run.board.chip()->sreg[S_I]) << "the main loop, not an interrupt";
    hangHere(run.board);
    const double hungAt = run.board.seconds();
    run.feedEvery100ms(hungAt + 0.1, hungAt + 1.5, 40);
    run.runTo(hungAt + 1.5);
    EXPECT_EQ(pca.resets(), 1u);
    for (int channel = 0; channel < 16; ++channel)
        EXPECT_TRUE(pca.fullOff(channel)) << "channel " << channel;
}

// The chip left partway through a byte (the Uno reset while it acknowledged, a glitch from the
// motors) holds SDA low and hears no START until SCL has clocked it free. Hung, the watchdog's stop
// clears the bus; running, the set-up tried again after the failsafe's failed write does. Either way
// the bus ends with a STOP, SCL is never driven high, and every channel goes full off.
TEST(MotorShieldV2, AChipHoldingSdaLowIsClockedFreeAndEveryChannelSwitchedOff) {
    for (const bool hung : {true, false}) {
        FirmwareRun run("ventora-fan-motor-shield-v2.elf");
        Shield shield(run.board, OutputKind::motorShieldV2);
        board::Pca9685& pca = *shield.pca();
        run.feedEvery100ms(0.1, 0.6, 79);
        run.runTo(0.6);
        ASSERT_EQ(shield.fan(1).state, "forward") << hung;
        if (hung) hangMainLoop(run.board);
        const double heldAt = run.board.seconds();
        pca.holdSdaLow(8); // the chip lets SDA go after eight clocks, its byte's rest
        // Hung, Ventora goes on sending; running, the line falls silent and the failsafe comes.
        if (hung) run.feedEvery100ms(heldAt + 0.1, heldAt + 2.0, 79);
        run.runTo(heldAt + 2.0);
        EXPECT_FALSE(pca.holdsSda()) << hung;
        EXPECT_GE(pca.stopsOnPins(), 1u) << hung;
        EXPECT_FALSE(pca.sclDrivenHigh()) << hung;
        EXPECT_GE(pca.resets(), hung ? 1u : 0u) << hung;
        for (int channel = 0; channel < 16; ++channel)
            EXPECT_TRUE(pca.fullOff(channel)) << hung << ": channel " << channel;
        EXPECT_EQ(shield.fan(1).state, "coast") << hung;
        EXPECT_EQ(shield.fan(2).state, "coast") << hung;
    }
}

TEST(MotorShieldV2, SetsEveryChannelFullOffBeforeAnythingElse) {
    FirmwareRun run("ventora-fan-motor-shield-v2.elf");
    Shield shield(run.board, OutputKind::motorShieldV2);
    // As a program before left it: awake, both motors forward at full.
    board::Pca9685& pca = *shield.pca();
    pca.setRegister(0x00, 0x20);
    for (int channel : {8, 10, 11, 13}) { // PWM and IN1 full on, IN2 (9, 12) full off
        pca.setRegister(static_cast<std::uint8_t>(0x06 + 4 * channel + 1), 0x10);
        pca.setRegister(static_cast<std::uint8_t>(0x06 + 4 * channel + 3), 0x00);
    }
    ASSERT_EQ(shield.fan(1).state, "forward");
    run.runTo(0.01);
    ASSERT_FALSE(pca.writes().empty());
    EXPECT_EQ(pca.writes().front().first, 0xFD) << "ALL_LED_OFF_H";
    EXPECT_EQ(pca.writes().front().second, 0x10) << "full off";
    EXPECT_EQ(shield.fan(1).state, "coast");
    EXPECT_EQ(shield.fan(2).state, "coast");
    EXPECT_EQ(pca.reg(0xFE), 3) << "prescale 3: 1526 Hz";
    EXPECT_FALSE(pca.asleep());
}

std::vector<double> ledToggles(const FirmwareRun& run, double from, double to) {
    std::vector<double> toggles;
    bool lit = false;
    bool first = true;
    for (const auto& [time, out] : run.changes) {
        if (time < from || time > to) continue;
        if (!first && out.ledOn() != lit) toggles.push_back(time);
        lit = out.ledOn();
        first = false;
    }
    return toggles;
}

TEST(MotorShieldV2, AShieldThatDoesNotAnswerIsRetriedWhileTheLedBlinksFastAndTheFailsafeRuns) {
    FirmwareRun run("ventora-fan-motor-shield-v2.elf");
    Shield shield(run.board, OutputKind::motorShieldV2, false);
    run.feedEvery100ms(0.1, 1.5, 40);
    // The bytes still arrive and the clock still runs: the LED at 10 Hz rather than lit.
    const std::vector<double> toggles = ledToggles(run, 0.3, 1.4);
    ASSERT_GE(toggles.size(), 15u);
    EXPECT_NEAR((toggles.size() - 1) / 2.0 / (toggles.back() - toggles.front()), 10.0, 1.0);
    EXPECT_GE(shield.pca()->transfers(), 12u) << "tried again every 100 ms";

    // Plugged in: set up within a retry, at the level that keeps arriving, the LED lit.
    shield.pca()->setAnswers(true);
    run.feedEvery100ms(1.5, 2.0, 40);
    EXPECT_NEAR(shield.fan(1).duty, 0.65, 1.0 / 256);
    EXPECT_EQ(shield.fan(1).state, "forward");
    EXPECT_TRUE(run.at(1.95).ledOn());

    // Unplugged again while the fans run, and the line falls silent: the firmware's failsafe comes
    // at 1 s all the same, and reaches the shield as soon as it answers.
    shield.pca()->setAnswers(false);
    run.feedEvery100ms(2.0, 2.5, 40); // the last byte at 2.4 s
    run.runTo(3.6);
    EXPECT_GE(ledToggles(run, 2.1, 3.6).size(), 20u);
    shield.pca()->setAnswers(true);
    run.runTo(3.75);
    EXPECT_EQ(shield.fan(1).state, "coast");
    EXPECT_EQ(shield.fan(2).state, "coast");
    EXPECT_EQ(shield.fan(1).duty, 0.0);
}

} // namespace
