// A simulated fan-controller board: an ATmega328P at 16 MHz (simavr) running one of the fan
// firmwares, with its serial input and its outputs. The outputs are read from Timer1's registers
// and PORTB: simavr does not drive the OC1A/OC1B pins, so the registers are what the pins do.
// Like an Uno or a Nano it may run an Arduino bootloader first, reset when its port is opened and
// read bytes sent at another rate than its USART's as the garbage a real UART reads.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct avr_t;
struct avr_irq_t;
struct avr_uart_t;

namespace board {

constexpr std::uint32_t clockHz = 16'000'000;

// PORTB bits of the board's pins.
constexpr std::uint8_t powerPinBit = 1 << 0;         // D8, the fans' 12 V switch
constexpr std::uint8_t fanPinBits = 1 << 1 | 1 << 2; // D9 (OC1A), D10 (OC1B)
constexpr std::uint8_t ledBit = 1 << 5;              // D13

struct Outputs {
    std::uint8_t tccr1a = 0;
    std::uint8_t tccr1b = 0;
    std::uint16_t icr1 = 0;
    std::uint16_t ocr1a = 0;
    std::uint16_t ocr1b = 0;
    std::uint8_t portb = 0;
    std::uint8_t ddrb = 0;
    // The shields' lines: port D, and Timer0's and Timer2's PWM (a change there is a change too).
    std::uint8_t portd = 0;
    std::uint8_t ddrd = 0;
    std::uint8_t tccr0a = 0;
    std::uint8_t tccr0b = 0;
    std::uint8_t ocr0a = 0;
    std::uint8_t ocr0b = 0;
    std::uint8_t tccr2a = 0;
    std::uint8_t tccr2b = 0;
    std::uint8_t ocr2a = 0;
    std::uint8_t ocr2b = 0;

    bool operator==(const Outputs&) const = default;

    bool powerOn() const { return portb & powerPinBit; }
    bool ledOn() const { return portb & ledBit; }
    // D9 and D10 let go: inputs without pull-up, Timer1 not connected to them.
    bool fanPinsReleased() const {
        return (tccr1a & 0xF0) == 0 && !(ddrb & fanPinBits) && !(portb & fanPinBits);
    }
    // Timer1's clock divider from its clock-select bits, 0 when the timer is stopped.
    unsigned prescaler() const;
    // The PWM frequency in phase-and-frequency-correct mode (TOP = ICR1, counting up and down).
    double frequencyHz() const;
    // How long OC1A is high in each period, in microseconds.
    double highMicroseconds() const;
};

// Told the outputs after a change and the simulated cycle the change was made at.
using ChangeListener = std::function<void(const Outputs&, std::uint64_t)>;

// The Arduino bootloader in the boot section, started by the reset vector (BOOTRST programmed).
enum class Bootloader {
    none,        // the firmware starts at address 0 (the firmware's own tests)
    optiboot,    // Uno and new-bootloader Nano: 115200 baud, at 0x7E00
    oldNano,     // old-bootloader Nano (ATmegaBOOT): 57600 baud, at 0x7800
    optiboot168, // an ATmega168 with its own Optiboot: a chip the fan firmware is not for
};

struct BoardSetup {
    Bootloader bootloader = Bootloader::none;
    // ELF or Intel HEX; empty leaves the application flash erased, as a board whose sketch was wiped.
    std::string firmware;
    // The whole flash as raw bytes, kept between runs like a board unplugged and plugged back in:
    // loaded at start when the file exists (instead of the firmware), written back whenever the
    // flash changed and by saveFlash().
    std::string flashFile;
    // Off: every byte reaches the USART whole, whatever the two rates.
    bool rateCheck = true;
    // A page whose last byte comes out flipped each time the bootloader writes it, as a worn page
    // of flash; -1: none.
    int corruptPage = -1;
    // The cable pulled as the bootloader starts its this-many-th page write since the board
    // started (1 is the first): that write never happens, the chip stops and the line goes silent,
    // for good; 0: never.
    int unplugAtPageWrite = 0;
};

// The Intel HEX image of a bootloader: Optiboot as the firmware build makes it, the old Nano's as
// Debian's arduino-core-avr ships it.
std::string bootloaderImage(Bootloader bootloader);

// Something the board did on its own, for a report.
enum class BoardEvent { resetByPortOpen, firmwareStarted, flashWritten, firmwareCrashed, unplugged };

class SimulatedBoard {
  public:
    // Loads the firmware; on failure, says why on stderr and exits, as a test tool may.
    explicit SimulatedBoard(const std::string& elfPath);
    explicit SimulatedBoard(const BoardSetup& setup);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Puts a byte on the serial line into USART0, starting now.
    void feed(std::uint8_t byte);
    // Puts a byte sent at lineBaud on the serial line: what the USART reads of it at its own rate
    // (unless the rate check is off).
    void feedAtRate(std::uint8_t byte, double lineBaud);
    // The reset pin pulled low and let go, as a USB chip's DTR does when the port is opened.
    void resetExternally();
    // Runs until the given simulated time, calling onChange after each change of the outputs (once
    // the firmware has finished writing them).
    void runUntil(std::uint64_t cycle, const ChangeListener& onChange = {});
    void runForSeconds(double seconds, const ChangeListener& onChange = {});

    // The run loop of rig mode: paced to the wall clock, until stop becomes true; observe is called
    // after every step (settledOutputs() then holds the outputs).
    void runPaced(const volatile bool& stop, const std::function<void()>& observe);
    // Bridges USART0 to a new pty and returns the pty's name. From then on each open of the pty
    // by another process resets the board, and the pty's speed is the line's rate.
    std::string connectPty();
    void onEvent(std::function<void(BoardEvent)> listener) { eventListener = std::move(listener); }

    // The rate USART0 is set to now, in baud.
    double uartBaud() const;
    // With a bootloader: the firmware has started since the last reset (the program counter has
    // left the boot section) and has not been reset into it since. Without one, always.
    bool firmwareRunning() const { return running; }
    // The watchdog would reset the chip when it times out: WDE set, or held on by WDRF.
    bool watchdogResets() const;
    std::vector<std::uint8_t> flash() const;
    // Changes the flash before the chip runs it, as a tool would change an image before flashing.
    void writeFlash(std::uint32_t address, const std::vector<std::uint8_t>& bytes);
    // Writes the flash to the flash file, if there is one and the flash differs from the file.
    void saveFlash();

    // The simulated chip, for the models of what a shield adds (shift_register_595.h, pca9685.h).
    avr_t* chip() const { return avr; }
    std::uint64_t cycle() const;
    double seconds() const { return static_cast<double>(cycle()) / clockHz; }
    // The registers as they are now (possibly halfway through a firmware's update).
    Outputs outputs() const;
    // The outputs as last reported to onChange.
    const Outputs& settledOutputs() const { return last; }
    // Simulated cycles the CPU spent executing (not asleep) since it started.
    std::uint64_t awakeCycles() const { return awake; }
    // Every byte that reaches USART0, fed or from the pty, with the simulated cycle it came at.
    void onByte(std::function<void(std::uint8_t, std::uint64_t)> listener) {
        byteListener = std::move(listener);
    }
    // Every byte the firmware transmits on USART0 (the board's announcement), with the simulated
    // cycle it was sent at. In rig mode these reach the pty as well.
    void onTransmit(std::function<void(std::uint8_t, std::uint64_t)> listener);
    // Which output the block in flash names as the left fan: 1 or 2 (1 for a block without one).
    int leftFanOutput() const;

  private:
    void step(const ChangeListener& onChange);
    void loadBootloader(Bootloader bootloader);
    void loadImage(const std::string& path);
    // Copies an Intel HEX file into the flash; returns its lowest address.
    std::uint32_t loadHex(const std::string& path);
    void deliver(std::uint8_t byte, double lineBaud);
    void passLineByte();
    void lookAfterRig();
    // A test's faults in the bootloader's page writes (BoardSetup's corruptPage, unplugAtPageWrite).
    bool spoilPageWrite();
    void tell(BoardEvent event) {
        if (eventListener) eventListener(event);
    }

    avr_t* avr = nullptr;
    void* pty = nullptr;
    avr_uart_t* uart = nullptr; // USART0, for how full its receive buffer is
    struct LineByte {
        std::uint8_t byte = 0;
        double baud = 0.0;
    };
    std::mutex lineMutex; // the pty's bytes on their way, written by simavr's pty thread
    std::deque<LineByte> line;
    std::atomic<bool> lineWaiting{false};
    std::uint64_t nextLineCycle = 0;
    int ptyOpens = -1;           // inotify on the pty's slave path
    std::uint32_t bootStart = 0; // 0: no bootloader
    bool running = true;
    bool halted = false; // crashed, until the next reset
    int corruptPage = -1;
    int unplugAtPageWrite = 0;
    int pageWrites = 0;
    bool unplugged = false;
    std::uint8_t lastWatchdogControl = 0;
    bool rateCheck = true;
    std::string flashFile;
    std::vector<std::uint8_t> savedFlash;
    std::uint64_t lastFlashCheckCycle = 0;
    std::function<void(BoardEvent)> eventListener;
    std::uint64_t awake = 0;
    Outputs last;     // as last reported
    Outputs settling; // as last seen, since settledSince
    std::uint64_t settledSince = 0;
    std::function<void(std::uint8_t, std::uint64_t)> byteListener;
    std::function<void(std::uint8_t, std::uint64_t)> transmitListener;
    friend void notifyByte(::avr_irq_t*, std::uint32_t, void*);
    friend void notifyTransmit(::avr_irq_t*, std::uint32_t, void*);
    friend void byteFromPty(::avr_irq_t*, std::uint32_t, void*);
};

} // namespace board
