// simulated_board: runs a fan firmware on a simulated ATmega328P and reports what its outputs do.
//
//   simulated_board test FIRMWARE.elf [--shield KIND] [--until SECONDS] [SECONDS=BYTE ...]
//       Feeds each BYTE at its simulated time and prints every change of the outputs with its
//       simulated time, then the share of time the CPU was awake, and what the firmware sent on its
//       transmit line. No wall clock is involved.
//   simulated_board rig [FIRMWARE] [--bootloader optiboot|old-nano|atmega168] [--flash-file FILE]
//                       [--no-rate-check] [--shield KIND] [--corrupt-page N] [--unplug-at-page-write K]
//       Bridges the serial port to a new pty (its name is the first line printed: "pty NAME"), runs
//       paced to the wall clock, and prints each change of level, duty and power pin, until
//       SIGINT or SIGTERM. With a bootloader the board is an Uno or Nano: the bootloader in the boot
//       section (optiboot: Uno and new Nano, 115200 baud; old-nano: ATmegaBOOT, 57600; atmega168:
//       an ATmega168 with Optiboot), reset whenever the pty is opened, bytes at another rate than
//       the USART's read as garbage (unless --no-rate-check), FIRMWARE (ELF or Intel HEX) in the
//       application flash or none (erased). --flash-file keeps the whole flash, raw, between runs:
//       loaded when it exists, written back whenever the bootloader changed the flash and at the end.
//       For a flashing tool's tests: --corrupt-page N flips the last byte of flash page N whenever
//       the bootloader writes it; --unplug-at-page-write K stops the chip and the line for good as
//       the bootloader starts its K-th page write (1 is the first). Each change of pins D8, D9 and
//       D10 from their reset state (inputs) is a "pins" line (without --shield). SIGUSR1 prints the
//       simulated time ("12.345 s  time").
//
//   Without --shield each line shows the two fans by side, D9 and D10 as the tunables block's
//   left-fan output names them ("left  65.0 %  right  48.1 %"; an ESC's as pulses), so a lap's
//   corners show as the split between them.
//
//   --shield KIND (pwm-fans, escs, driver, l293d-shield, motor-shield-v2, arduino-motor-shield,
//   monster-moto) reads the fans through that kind's wiring or shield, with the chips the shield
//   adds (the L293D shield's 74HC595, the v2 shield's PCA9685 at 0x60), and each line then shows
//   both fans instead of Timer1's drive:
//       12.345 s  level  40  fan1  65.0 % forward  fan2  65.0 % forward  at 7.81 kHz
//   The state is forward or reverse while a fan runs, coast or brake while it is off (on and off
//   for pwm-fans, where the fans' 12 V is switched); an ESC's shows its pulse ("fan1 1506 us").
#include "board.h"
#include "pin_drive.h"
#include "shield.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <sys/prctl.h>

namespace {

volatile bool stopRequested = false;

void requestStop(int) {
    stopRequested = true;
}

// SIGUSR1 asks for the simulated time: a board whose program prints nothing (a stub looping in
// place) still says how far it has run, since on a busy host that can lag the wall clock.
volatile std::sig_atomic_t timeAsked = 0;

void askTime(int) {
    timeAsked = 1;
}

[[noreturn]] void badUsage(const char* why) {
    std::fprintf(stderr,
                 "simulated_board: %s\nusage: simulated_board test FIRMWARE.elf [--shield KIND] [--until "
                 "SECONDS] [SECONDS=BYTE ...]\n       simulated_board rig [FIRMWARE] [--bootloader "
                 "optiboot|old-nano|atmega168] "
                 "[--flash-file FILE] [--no-rate-check] [--shield KIND] [--corrupt-page N] "
                 "[--unplug-at-page-write K]\n"
                 "KIND: pwm-fans, escs, driver, l293d-shield, motor-shield-v2, arduino-motor-shield, "
                 "monster-moto\n",
                 why);
    std::exit(1);
}

// What the fans see: a duty for PWM fans (a fast PWM), a pulse width for ESCs (servo frames).
std::string describeDrive(const board::Outputs& out) {
    char text[96];
    const double hz = out.frequencyHz();
    if (hz == 0.0)
        std::snprintf(text, sizeof text, "timer stopped");
    else if (hz >= 1000.0 && out.fanPinsReleased())
        std::snprintf(text, sizeof text, "duty %5.1f %% (%u/%u) at %.2f kHz, D9 D10 released", 0.0, 0u,
                      out.icr1, hz / 1000.0);
    else if (hz < 1000.0)
        std::snprintf(text, sizeof text, "pulse %4.0f us at %.2f Hz", out.highMicroseconds(), hz);
    else
        std::snprintf(text, sizeof text, "duty %5.1f %% (%u/%u) at %.2f kHz", 100.0 * out.ocr1a / out.icr1,
                      out.ocr1a, out.icr1, hz / 1000.0);
    return text;
}

// D9 and D10 as the left and right fan: a duty, or an ESC's pulse.
std::string describeSides(const board::SimulatedBoard& simulated) {
    const auto side = [&](int pin) {
        const board::PinDrive drive = board::pinDrive(simulated.chip(), pin);
        char text[24];
        if (drive.kind == board::PinDrive::pwm && drive.hz > 0 && drive.hz < 1000.0)
            std::snprintf(text, sizeof text, "%4.0f us", drive.duty / drive.hz * 1e6);
        else
            std::snprintf(text, sizeof text, "%5.1f %%",
                          drive.kind == board::PinDrive::pwm || drive.kind == board::PinDrive::high
                              ? 100.0 * drive.duty
                              : 0.0);
        return std::string(text);
    };
    const bool leftOnD9 = simulated.leftFanOutput() == 1;
    return "left " + side(leftOnD9 ? 9 : 10) + "  right " + side(leftOnD9 ? 10 : 9);
}

board::OutputKind shieldNamed(const char* name) {
    board::OutputKind kind;
    if (!board::outputKindNamed(name, kind)) badUsage("unknown --shield kind");
    return kind;
}

int runTest(board::SimulatedBoard& simulated, int argc, char** argv) {
    double until = -1.0;
    std::multimap<double, int> feeds;
    std::optional<board::Shield> shield;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--until" && i + 1 < argc) {
            until = std::atof(argv[++i]);
            continue;
        }
        if (arg == "--shield" && i + 1 < argc) {
            shield.emplace(simulated, shieldNamed(argv[++i]));
            continue;
        }
        const auto equals = arg.find('=');
        if (equals == std::string::npos) badUsage("a feed is SECONDS=BYTE");
        const int byte = std::atoi(arg.c_str() + equals + 1);
        if (byte < 0 || byte > 255) badUsage("a byte is 0 to 255");
        feeds.emplace(std::atof(arg.substr(0, equals).c_str()), byte);
    }
    if (until < 0.0) until = (feeds.empty() ? 0.0 : feeds.rbegin()->first) + 3.0;

    // The shield's chips change between the board's reports: it is looked at each millisecond too.
    std::string shown;
    const auto print = [&](const board::Outputs& out, std::uint64_t cycle) {
        if (shield) {
            const std::string now = shield->describe() + (out.ledOn() ? "  led on" : "  led off");
            if (now == shown) return;
            shown = now;
            std::printf("%11.6f s  %s\n", double(cycle) / board::clockHz, now.c_str());
            return;
        }
        std::printf("%11.6f s  %s  %s  power %s  led %s\n", double(cycle) / board::clockHz,
                    describeDrive(out).c_str(), describeSides(simulated).c_str(),
                    out.powerOn() ? "on " : "off", out.ledOn() ? "on" : "off");
    };
    const auto runTo = [&](double seconds) {
        const auto end = static_cast<std::uint64_t>(seconds * board::clockHz + 0.5);
        if (!shield) {
            simulated.runUntil(end, print);
            return;
        }
        for (std::uint64_t at = simulated.cycle(); at < end;) {
            at = std::min<std::uint64_t>(at + board::clockHz / 1000, end);
            simulated.runUntil(at, print);
            print(simulated.outputs(), simulated.cycle());
        }
    };
    std::string sent;
    simulated.onTransmit([&](std::uint8_t byte, std::uint64_t) { sent += static_cast<char>(byte); });
    print(simulated.outputs(), simulated.cycle());
    for (const auto& [at, byte] : feeds) {
        runTo(at);
        std::printf("%11.6f s  byte %d\n", simulated.seconds(), byte);
        simulated.feed(static_cast<std::uint8_t>(byte));
    }
    runTo(until);
    std::printf("awake %.3f %% of %.3f s\n", 100.0 * simulated.awakeCycles() / simulated.cycle(),
                simulated.seconds());
    std::string sentText;
    for (const char c : sent)
        sentText += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    std::printf("sent \"%s\"\n", sentText.c_str());
    return 0;
}

struct RigOptions {
    board::BoardSetup setup;
    std::string firmware;
    std::optional<board::OutputKind> shield;
};

RigOptions readRigOptions(int argc, char** argv) {
    RigOptions options;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--bootloader" && hasValue) {
            const std::string name = argv[++i];
            if (name == "optiboot")
                options.setup.bootloader = board::Bootloader::optiboot;
            else if (name == "old-nano")
                options.setup.bootloader = board::Bootloader::oldNano;
            else if (name == "atmega168")
                options.setup.bootloader = board::Bootloader::optiboot168;
            else
                badUsage("the bootloader is optiboot, old-nano or atmega168");
        } else if (arg == "--flash-file" && hasValue) {
            options.setup.flashFile = argv[++i];
        } else if (arg == "--shield" && hasValue) {
            options.shield = shieldNamed(argv[++i]);
        } else if (arg == "--corrupt-page" && hasValue) {
            options.setup.corruptPage = std::atoi(argv[++i]);
        } else if (arg == "--unplug-at-page-write" && hasValue) {
            options.setup.unplugAtPageWrite = std::atoi(argv[++i]);
        } else if (arg == "--no-rate-check") {
            options.setup.rateCheck = false;
        } else if (arg.starts_with("--") || !options.firmware.empty()) {
            badUsage(("unknown argument " + arg).c_str());
        } else {
            options.firmware = arg;
        }
    }
    options.setup.firmware = options.firmware;
    if (options.setup.bootloader == board::Bootloader::none && options.firmware.empty())
        badUsage("a board without a bootloader needs a firmware");
    if (options.setup.bootloader == board::Bootloader::none &&
        (!options.setup.flashFile.empty() || !options.setup.rateCheck))
        badUsage("--flash-file and --no-rate-check go with a bootloader");
    return options;
}

int runRig(board::SimulatedBoard& simulated, std::optional<board::OutputKind> shieldKind) {
    // The shield's chips on the board before it runs: a PCA9685 then sees the firmware's first
    // transfer.
    std::optional<board::Shield> shield;
    if (shieldKind) shield.emplace(simulated, *shieldKind);
    std::atomic<int> level{-1};
    std::atomic<std::uint64_t> lastByteCycle{0};
    // What a bootloader reads (Ventora's levels as noise, a flashing tool's commands) is no level:
    // it is counted, and told when the firmware starts.
    int bytesToBootloader = 0;
    simulated.onByte([&](std::uint8_t byte, std::uint64_t cycle) {
        if (!simulated.firmwareRunning()) {
            ++bytesToBootloader;
            return;
        }
        // A corner byte (or the set-up tool's output byte) goes with the level after it.
        if (byte >= 0x7E) return;
        lastByteCycle = cycle;
        level = byte;
    });
    simulated.onEvent([&](board::BoardEvent event) {
        const double at = simulated.seconds();
        switch (event) {
        case board::BoardEvent::resetByPortOpen:
            bytesToBootloader = 0;
            std::printf("%10.3f s  reset: the port was opened\n", at);
            break;
        case board::BoardEvent::firmwareStarted:
            std::printf("%10.3f s  firmware started (the bootloader read %d bytes)\n", at, bytesToBootloader);
            break;
        case board::BoardEvent::flashWritten: std::printf("%10.3f s  flash written\n", at); break;
        case board::BoardEvent::firmwareCrashed:
            std::printf("%10.3f s  firmware crashed: the chip waits for a reset\n", at);
            break;
        case board::BoardEvent::unplugged:
            std::printf("%10.3f s  unplugged as the bootloader began a page write\n", at);
            break;
        }
    });
    std::printf("pty %s\n", simulated.connectPty().c_str());

    // A byte takes its effect about a millisecond after it arrives: a new level waits up to 5 ms
    // for the change it makes, so that both are one line.
    constexpr std::uint64_t effectWindowCycles = board::clockHz / 200;
    int shownLevel = -1;
    board::Outputs shown = simulated.settledOutputs();
    // A shield is read once a simulated millisecond: its chips change between the board's reports,
    // and reading it after every instruction would slow a bootloader's run.
    std::string shownShield, shieldNow;
    std::uint64_t shieldReadAt = 0;
    constexpr std::uint8_t pinBits = board::powerPinBit | board::fanPinBits;
    int shownPins = 0; // DDRB and PORTB's bits of D8 to D10: all clear after a reset
    simulated.runPaced(stopRequested, [&] {
        if (timeAsked) {
            timeAsked = 0;
            std::printf("%10.3f s  time\n", simulated.seconds());
        }
        const board::Outputs& out = simulated.settledOutputs();
        // (A shield's own lines are left out: the L293D shield's 74HC595 is fed through D8.)
        if (const int pins = (out.ddrb & pinBits) << 8 | (out.portb & pinBits);
            !shield && pins != shownPins) {
            shownPins = pins;
            const auto pin = [&](std::uint8_t bit) {
                return out.ddrb & bit    ? (out.portb & bit ? "high" : "low")
                       : out.portb & bit ? "pulled up"
                                         : "input";
            };
            std::printf("%10.3f s  pins D8 %s, D9 %s, D10 %s\n", simulated.seconds(), pin(1 << 0),
                        pin(1 << 1), pin(1 << 2));
        }
        const int nowLevel = level;
        if (shield && simulated.cycle() - shieldReadAt >= board::clockHz / 1000) {
            shieldReadAt = simulated.cycle();
            shieldNow = shield->describe();
        }
        const bool drive = shield ? shieldNow != shownShield
                                  : out.ocr1a != shown.ocr1a || out.ocr1b != shown.ocr1b ||
                                        out.icr1 != shown.icr1 || out.tccr1a != shown.tccr1a ||
                                        out.tccr1b != shown.tccr1b || out.powerOn() != shown.powerOn();
        const double silence = double(simulated.cycle() - lastByteCycle) / board::clockHz;
        if (!drive && (nowLevel == shownLevel || silence * board::clockHz < effectWindowCycles)) return;
        shownLevel = nowLevel;
        shown = out;
        shownShield = shieldNow;
        char levelText[16] = "-";
        if (nowLevel >= 0) std::snprintf(levelText, sizeof levelText, "%d", nowLevel);
        if (shield)
            std::printf("%10.3f s  level %3s  %s", simulated.seconds(), levelText, shieldNow.c_str());
        else
            std::printf("%10.3f s  level %3s  %s  %s  power %s", simulated.seconds(), levelText,
                        describeDrive(out).c_str(), describeSides(simulated).c_str(),
                        out.powerOn() ? "on" : "off");
        // Ventora sends a byte every 100 ms; a change long after the last one is the board's own.
        if (nowLevel >= 0 && silence > 0.2) std::printf("  after %.3f s of silence", silence);
        std::printf("\n");
    });
    simulated.saveFlash();
    std::printf("stopped at %.3f s, awake %.3f %% of the time\n", simulated.seconds(),
                100.0 * simulated.awakeCycles() / simulated.cycle());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc < 3) badUsage("a mode and a firmware or a bootloader are needed");
    const std::string mode = argv[1];
    if (mode != "test" && mode != "rig") badUsage("the mode is test or rig");
    if (mode == "test") {
        board::SimulatedBoard simulated(argv[2]);
        return runTest(simulated, argc - 3, argv + 3);
    }
    const RigOptions options = readRigOptions(argc - 2, argv + 2);
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
    std::signal(SIGUSR1, askTime);
    // A rig whose starter (a test, the demo) was killed would otherwise run and hold its pty forever.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (options.setup.bootloader == board::Bootloader::none) {
        board::SimulatedBoard simulated(options.firmware);
        runRig(simulated, options.shield);
    } else {
        board::SimulatedBoard simulated(options.setup);
        runRig(simulated, options.shield);
    }
    // Not through the board's destructor: simavr's pty thread stays blocked until the process ends.
    std::exit(0);
}
