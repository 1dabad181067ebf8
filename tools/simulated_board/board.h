// A simulated fan-controller board: an ATmega328P at 16 MHz (simavr) running one of the fan
// firmwares, with its serial input and its outputs. The outputs are read from Timer1's registers
// and PORTB: simavr does not drive the OC1A/OC1B pins, so the registers are what the pins do.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct avr_t;
struct avr_irq_t;

namespace board {

constexpr std::uint32_t clockHz = 16'000'000;

// PORTB bits of the board's pins.
constexpr std::uint8_t powerPinBit = 1 << 0; // D8, the fans' 12 V switch
constexpr std::uint8_t ledBit = 1 << 5;      // D13

struct Outputs {
    std::uint8_t tccr1a = 0;
    std::uint8_t tccr1b = 0;
    std::uint16_t icr1 = 0;
    std::uint16_t ocr1a = 0;
    std::uint16_t ocr1b = 0;
    std::uint8_t portb = 0;

    bool operator==(const Outputs&) const = default;

    bool powerOn() const { return portb & powerPinBit; }
    bool ledOn() const { return portb & ledBit; }
    // Timer1's clock divider from its clock-select bits, 0 when the timer is stopped.
    unsigned prescaler() const;
    // The PWM frequency in phase-and-frequency-correct mode (TOP = ICR1, counting up and down).
    double frequencyHz() const;
    // How long OC1A is high in each period, in microseconds.
    double highMicroseconds() const;
};

// Told the outputs after a change and the simulated cycle the change was made at.
using ChangeListener = std::function<void(const Outputs&, std::uint64_t)>;

class SimulatedBoard {
  public:
    // Loads the firmware; on failure, says why on stderr and exits, as a test tool may.
    explicit SimulatedBoard(const std::string& elfPath);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Puts a byte on the serial line into USART0, starting now.
    void feed(std::uint8_t byte);
    // Runs until the given simulated time, calling onChange after each change of the outputs (once
    // the firmware has finished writing them).
    void runUntil(std::uint64_t cycle, const ChangeListener& onChange = {});
    void runForSeconds(double seconds, const ChangeListener& onChange = {});

    // The run loop of rig mode: paced to the wall clock, until stop becomes true; observe is called
    // after every step (settledOutputs() then holds the outputs).
    void runPaced(const volatile bool& stop, const std::function<void()>& observe);
    // Bridges USART0 to a new pty and returns the pty's name.
    std::string connectPty();

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

  private:
    void step(const ChangeListener& onChange);

    avr_t* avr = nullptr;
    void* pty = nullptr;
    std::uint64_t awake = 0;
    Outputs last;     // as last reported
    Outputs settling; // as last seen, since settledSince
    std::uint64_t settledSince = 0;
    std::function<void(std::uint8_t, std::uint64_t)> byteListener;
    friend void notifyByte(::avr_irq_t*, std::uint32_t, void*);
};

} // namespace board
