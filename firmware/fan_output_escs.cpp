// Two brushless motors through ESCs: 50 Hz servo pulses on OC1A (D9) and OC1B (D10). The pulses
// never stop (off is the shortest pulse): an ESC that loses its signal may beep, or hold its last
// throttle. D8 is not used and stays low.
#include "fan_output.h"
#include "tunables_in_flash.h"

#include <avr/io.h>

namespace {

// Phase-and-frequency-correct PWM (mode 8, TOP = ICR1), clk / 8: each count is 0.5 us up and
// 0.5 us down, so a frame is 2 * 20000 * 0.5 us = 20 ms and OCR1x is the pulse width in us.
constexpr uint16_t frameTop = 20000;
constexpr uint8_t unusedPowerPin = PB0; // D8
constexpr uint8_t escPins = _BV(PB1) | _BV(PB2);

uint16_t offPulse;
uint16_t pulseSpan;
uint16_t armingMillisecondsLeft;
uint8_t wantedLevels[2];

// From the off pulse to the full one, linear, to the nearest microsecond: a 32-bit division of
// some 40 us, once per byte.
uint16_t pulseOfLevel(uint8_t level) {
    return offPulse + static_cast<uint16_t>((2UL * level * pulseSpan + topLevel) / (2UL * topLevel));
}

void setPulses(uint16_t output1Microseconds, uint16_t output2Microseconds) {
    OCR1A = output1Microseconds;
    OCR1B = output2Microseconds;
}

void setWantedPulses() {
    setPulses(pulseOfLevel(wantedLevels[0]), pulseOfLevel(wantedLevels[1]));
}

} // namespace

void setUpFanOutputs() {
    offPulse = tuned.escOffPulseMicroseconds;
    // Full lies at least 300 us above off: the firmware runs no block that says otherwise.
    pulseSpan = tuned.escFullPulseMicroseconds - offPulse;
    armingMillisecondsLeft = tuned.escArmingMilliseconds;

    PORTB &= ~(_BV(unusedPowerPin) | escPins);
    DDRB |= _BV(unusedPowerPin) | escPins;
    // The mode first, with the clock stopped, then TOP and the compare values, then the clock. A
    // bootloader may have left Timer1 set up: every register is written whole.
    TCCR1B = 0;
    TIMSK1 = 0;
    TCCR1C = 0;
    TCCR1A = _BV(COM1A1) | _BV(COM1B1);
    TCCR1B = _BV(WGM13);
    TCNT1 = 0;
    ICR1 = frameTop;
    setPulses(offPulse, offPulse);
    TCCR1B = _BV(WGM13) | _BV(CS11);
    // Nothing arrived yet: at an arming time of 0 the off pulse is already the level's.
    wantedLevels[0] = wantedLevels[1] = 0;
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    wantedLevels[0] = output1Level;
    wantedLevels[1] = output2Level;
    if (armingMillisecondsLeft == 0) setWantedPulses();
}

void advanceFanOutputs() {
    if (armingMillisecondsLeft != 0 && --armingMillisecondsLeft == 0) setWantedPulses();
}

bool fanOutputsAnswer() {
    return true;
}

// The off pulse, on and on: an ESC whose signal stops may hold its last throttle.
void stopFansAtOnce() {
    armingMillisecondsLeft = 0;
    setPulses(offPulse, offPulse);
    DDRB |= escPins;
    TCCR1A = _BV(COM1A1) | _BV(COM1B1);
}
