// What an Arduino pin of the simulated ATmega328P drives, read from its port's and timers'
// registers: simavr does not toggle the compare-output pins, so the registers are what the pins do.
#pragma once

#include <cstdint>

struct avr_t;

namespace board {

// Arduino pin numbers: D0 to D13 are 0 to 13, A0 to A5 are 14 to 19.
constexpr int pinA0 = 14;

struct PinDrive {
    enum Kind { released, pulledUp, low, high, pwm } kind = released;
    double duty = 0.0; // the share of each period the pin is high: 0 low, 1 high
    double hz = 0.0;   // pwm only

    bool drivenLow() const { return kind == low || (kind == pwm && duty == 0.0); }
};

PinDrive pinDrive(const avr_t* avr, int pin);

// "low", "high", "released", "pulled up" or "65.0 % at 7.81 kHz".
const char* describePin(const PinDrive& drive, char* text, unsigned size);

} // namespace board
