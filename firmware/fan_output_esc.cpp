// Two brushless motors through ESCs: 50 Hz servo pulses on OC1A (D9) and OC1B (D10). The pulses
// never stop (off is the shortest pulse): an ESC that loses its signal may beep, or hold its last
// throttle. D8 is not used and stays low.
#include "fan_output.h"
#include "tunables.h"

#include <avr/io.h>
#include <avr/pgmspace.h>

namespace {

// Phase-and-frequency-correct PWM (mode 8, TOP = ICR1), clk / 8: each count is 0.5 us up and
// 0.5 us down, so a frame is 2 * 20000 * 0.5 us = 20 ms and OCR1x is the pulse width in us.
constexpr uint16_t frameTop = 20000;
constexpr uint8_t unusedPowerPin = PB0; // D8

constexpr uint16_t pulseOfLevel(uint8_t level) {
    return tunables::escOffPulseMicroseconds +
           static_cast<uint16_t>(
               (2UL * level * (tunables::escFullPulseMicroseconds - tunables::escOffPulseMicroseconds) +
                topLevel) /
               (2UL * topLevel));
}

static_assert(tunables::escOffPulseMicroseconds < tunables::escFullPulseMicroseconds &&
                  tunables::escFullPulseMicroseconds < frameTop,
              "pulses run from off to full inside one frame");

// Every level's pulse, worked out by the compiler and kept in flash (no 32-bit division at run time).
struct PulseTable {
    uint16_t microseconds[topLevel + 1];
    constexpr PulseTable() : microseconds() {
        for (uint8_t level = 0; level <= topLevel; ++level)
            microseconds[level] = pulseOfLevel(level);
    }
};
constexpr PulseTable pulseTable PROGMEM;

uint16_t armingMillisecondsLeft;
uint8_t wantedLevel;

void setPulse(uint16_t microseconds) {
    OCR1A = microseconds;
    OCR1B = microseconds;
}

} // namespace

void setUpFanOutputs() {
    PORTB &= ~_BV(unusedPowerPin);
    DDRB |= _BV(unusedPowerPin) | _BV(PB1) | _BV(PB2);
    armingMillisecondsLeft = tunables::escArmingMilliseconds;
    // The mode first, with the clock stopped, then TOP and the compare values, then the clock.
    TCCR1A = _BV(COM1A1) | _BV(COM1B1);
    TCCR1B = _BV(WGM13);
    ICR1 = frameTop;
    setPulse(tunables::escOffPulseMicroseconds);
    TCCR1B = _BV(WGM13) | _BV(CS11);
}

void driveFans(uint8_t level) {
    wantedLevel = level;
    if (armingMillisecondsLeft == 0) setPulse(pgm_read_word(&pulseTable.microseconds[level]));
}

void advanceFanOutputs() {
    if (armingMillisecondsLeft != 0 && --armingMillisecondsLeft == 0)
        setPulse(pgm_read_word(&pulseTable.microseconds[wantedLevel]));
}
