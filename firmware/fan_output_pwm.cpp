// Two 4-pin fans at one level: 25 kHz PWM on OC1A (D9) and OC1B (D10), and a power pin (D8) that
// switches the fans' 12 V through a MOSFET. A 4-pin fan whose PWM input floats runs at full speed,
// and many never stop at 0 % duty, so only cutting their supply makes level 0 off.
#include "fan_output.h"
#include "tunables.h"

#include <avr/io.h>
#include <avr/pgmspace.h>

namespace {

// Phase-and-frequency-correct PWM (mode 8, TOP = ICR1), no prescaler: 16 MHz / (2 * 320) = 25 kHz,
// the 4-pin fan standard. Mode 8 takes a new OCR1x at BOTTOM, so a duty change never glitches, and
// simavr (the simulated board the tests use) gets it right, where it runs mode 14 as phase-correct
// and lacks mode 10.
constexpr uint16_t pwmTop = 320;
constexpr uint8_t powerPin = PB0; // D8

constexpr uint16_t roundedShare(uint32_t whole, uint32_t numerator, uint32_t denominator) {
    return static_cast<uint16_t>((2 * whole * numerator + denominator) / (2 * denominator));
}

constexpr uint16_t minimumDuty = roundedShare(pwmTop, tunables::minimumDutyPercent, 100);

// Level 1 is the minimum duty and topLevel is 100 %, linear between, rounded to the nearest count.
constexpr uint16_t dutyOfLevel(uint8_t level) {
    return level == 0 ? 0 : minimumDuty + roundedShare(pwmTop - minimumDuty, level - 1, topLevel - 1);
}

// Below this count a duty is under the kick-start percentage.
constexpr uint16_t kickStartBelowDuty = (uint32_t{tunables::kickStartBelowPercent} * pwmTop + 99) / 100;

static_assert(tunables::minimumDutyPercent <= 100, "the minimum duty is a percentage");
static_assert(dutyOfLevel(topLevel) == pwmTop, "the top level is full duty");

// Every level's duty, worked out by the compiler and kept in flash: a byte's new duty is then one
// load away, where the arithmetic would take the AVR's slow 32-bit division.
struct DutyTable {
    uint16_t counts[topLevel + 1];
    constexpr DutyTable() : counts() {
        for (uint8_t level = 0; level <= topLevel; ++level)
            counts[level] = dutyOfLevel(level);
    }
};
constexpr DutyTable dutyTable PROGMEM;

bool fansRunning;
uint16_t levelDuty;
uint16_t kickMillisecondsLeft;

void setDuty(uint16_t duty) {
    OCR1A = duty;
    OCR1B = duty;
}

void setPower(bool on) {
    if (on)
        PORTB |= _BV(powerPin);
    else
        PORTB &= ~_BV(powerPin);
}

} // namespace

void setUpFanOutputs() {
    PORTB &= ~_BV(powerPin);
    DDRB |= _BV(powerPin) | _BV(PB1) | _BV(PB2);
    // The mode first, with the clock stopped, then TOP and the compare values, then the clock.
    TCCR1A = _BV(COM1A1) | _BV(COM1B1); // non-inverting: high for OCR1x counts of each half
    TCCR1B = _BV(WGM13);
    ICR1 = pwmTop;
    setDuty(0);
    TCCR1B = _BV(WGM13) | _BV(CS10);
}

void driveFans(uint8_t level) {
    if (level == 0) {
        fansRunning = false;
        kickMillisecondsLeft = 0;
        setDuty(0);
        setPower(false);
        return;
    }
    levelDuty = pgm_read_word(&dutyTable.counts[level]);
    const bool weak = levelDuty < kickStartBelowDuty;
    if (!weak)
        kickMillisecondsLeft = 0; // strong enough to start, or to keep going, on its own
    else if (!fansRunning)
        kickMillisecondsLeft = tunables::kickStartMilliseconds;
    fansRunning = true;
    setPower(true);
    setDuty(kickMillisecondsLeft != 0 ? pwmTop : levelDuty);
}

void advanceFanOutputs() {
    if (kickMillisecondsLeft != 0 && --kickMillisecondsLeft == 0) setDuty(levelDuty);
}
