// Two 4-pin fans at one level: 25 kHz PWM on OC1A (D9) and OC1B (D10), and a power pin (D8) that
// switches the fans' 12 V through a MOSFET. A 4-pin fan whose PWM input floats runs at full speed,
// and many never stop at 0 % duty, so only cutting their supply makes level 0 off.
//
// Off means released: with the supply cut, a fan whose PWM wire is still driven low finds a ground
// through it (its controller half-powers through the input's pull-up, and the pin sinks that
// current). So while the fans are off, D9 and D10 are inputs without pull-up and Timer1 is
// disconnected from them.
#include "fan_duty.h"
#include "fan_output.h"

#include <avr/io.h>

namespace {

// Phase-and-frequency-correct PWM (mode 8, TOP = ICR1), no prescaler: 16 MHz / (2 * 320) = 25 kHz,
// the 4-pin fan standard. Mode 8 takes a new OCR1x at BOTTOM, so a duty change never glitches, and
// simavr (the simulated board the tests use) gets it right, where it runs mode 14 as phase-correct
// and lacks mode 10.
constexpr uint16_t pwmTop = 320;
constexpr uint8_t powerPin = PB0;                                // D8
constexpr uint8_t fanPins = _BV(PB1) | _BV(PB2);                 // D9 (OC1A), D10 (OC1B)
constexpr uint8_t fanCompareOutputs = _BV(COM1A1) | _BV(COM1B1); // non-inverting

void setDuty(uint16_t duty) {
    OCR1A = duty;
    OCR1B = duty;
}

// The pins are let go before the timer leaves them, and the timer takes them before they drive, so
// neither order drives them low for an instant.
void releaseFanPins() {
    DDRB &= ~fanPins;
    PORTB &= ~fanPins;
    TCCR1A &= ~fanCompareOutputs;
}

void driveFanPins() {
    TCCR1A |= fanCompareOutputs;
    DDRB |= fanPins;
}

void setPower(bool on) {
    if (on)
        PORTB |= _BV(powerPin);
    else
        PORTB &= ~_BV(powerPin);
}

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(pwmTop);

    PORTB &= ~(_BV(powerPin) | fanPins);
    DDRB = (DDRB & ~fanPins) | _BV(powerPin);
    // The mode first, with the clock stopped, then TOP and the compare values, then the clock. A
    // bootloader may have left Timer1 set up: every register is written whole.
    TCCR1B = 0;
    TCCR1A = 0; // released: not connected to the pins
    TIMSK1 = 0;
    TCCR1C = 0;
    TCCR1B = _BV(WGM13);
    TCNT1 = 0;
    ICR1 = pwmTop;
    setDuty(0);
    TCCR1B = _BV(WGM13) | _BV(CS10);
}

void driveFans(uint8_t level) {
    const uint16_t duty = dutyForLevel(level);
    if (level == 0) {
        releaseFanPins();
        setDuty(0);
        setPower(false);
        return;
    }
    setDuty(duty);
    driveFanPins();
    setPower(true);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuty(levelDuty());
}

bool fanOutputsAnswer() {
    return true;
}
