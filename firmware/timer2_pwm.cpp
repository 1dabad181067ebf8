// Timer2's fast PWM on OC2A and OC2B.
#include "timer2_pwm.h"

#include <avr/io.h>

namespace {

constexpr uint8_t fastPwm = _BV(WGM21) | _BV(WGM20);

} // namespace

void startTimer2Pwm() {
    TCCR2B = 0;
    TIMSK2 = 0;
    TCCR2A = fastPwm;
    TCNT2 = 0;
    OCR2A = 0;
    OCR2B = 0;
    TCCR2B = _BV(CS21); // clk / 8
}

void setTimer2Duty(uint16_t dutyA, uint16_t dutyB) {
    // A pin at 0 keeps its own low; the others non-inverting.
    if (dutyA != 0) OCR2A = static_cast<uint8_t>(dutyA - 1);
    if (dutyB != 0) OCR2B = static_cast<uint8_t>(dutyB - 1);
    TCCR2A = fastPwm | (dutyA != 0 ? _BV(COM2A1) : 0) | (dutyB != 0 ? _BV(COM2B1) : 0);
}
