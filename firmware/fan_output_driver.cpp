// DC fans through a driver module wired by hand: an L298N (ENA/ENB on D9/D10, IN1 and IN3 on D8,
// IN2 and IN4 to ground), a BTS7960 "IBT-2" (RPWM on D9 or D10, R_EN and L_EN on D8, LPWM to
// ground), a Cytron MD10C (PWM on D9/D10, DIR to ground) or a MOSFET board (SIG on D9/D10).
// PWM on OC1A (D9) and OC1B (D10) at the tunable rate, D8 high while the fans run.
//
// Off is driven low, never released: a driver's input that floats may read high (a BTS7960's
// enables have no pull-down of their own), so D8, D9 and D10 are outputs held low.
#include "fan_duty.h"
#include "fan_output.h"
#include "timer1_pwm.h"
#include "tunables_in_flash.h"

#include <avr/io.h>

namespace {

constexpr uint8_t enablePin = PB0;               // D8: IN1/IN3, R_EN/L_EN
constexpr uint8_t fanPins = _BV(PB1) | _BV(PB2); // D9 (OC1A), D10 (OC1B)

} // namespace

void setUpFanOutputs() {
    // 16 MHz / (2 * TOP) is the rate, so TOP = 8 MHz / rate: 400 counts at 20 kHz, 8000 at 1 kHz
    // (the range a block allows).
    const uint16_t pwmTop =
        static_cast<uint16_t>((8000000UL + tuned.pwmFrequencyHz / 2) / tuned.pwmFrequencyHz);
    setUpFanDuty(pwmTop);

    PORTB &= ~(_BV(enablePin) | fanPins);
    DDRB |= _BV(enablePin) | fanPins;
    // Not connected to a pin until its fan runs: the pin's own low is off without the timer's spike.
    startTimer1Pwm(pwmTop);
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    setTimer1Duty(fanDuty(0), fanDuty(1));
    // The shared enable (IN1/IN3, R_EN/L_EN) while either fan runs; a fan at 0 has its PWM low.
    if (output1Level == 0 && output2Level == 0)
        PORTB &= ~_BV(enablePin);
    else
        PORTB |= _BV(enablePin);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setTimer1Duty(fanDuty(0), fanDuty(1));
}

bool fanOutputsAnswer() {
    return true;
}

void stopFansAtOnce() {
    TCCR1A = 0; // the timer lets go of both pins
    PORTB &= ~(_BV(enablePin) | fanPins);
    DDRB |= _BV(enablePin) | fanPins;
}
