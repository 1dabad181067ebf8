// Timer1's phase-and-frequency-correct PWM on OC1A and OC1B.
#include "timer1_pwm.h"

#include <avr/io.h>

void startTimer1Pwm(uint16_t top) {
    TCCR1B = 0;
    TCCR1A = 0;
    TIMSK1 = 0;
    TCCR1C = 0;
    TCCR1B = _BV(WGM13);
    TCNT1 = 0;
    ICR1 = top;
    setTimer1Duty(0);
    TCCR1B = _BV(WGM13) | _BV(CS10);
}

void setTimer1Duty(uint16_t duty) {
    OCR1A = duty;
    OCR1B = duty;
}

void connectTimer1(bool connected) {
    // Mode 8 keeps WGM11 and WGM10 clear: TCCR1A holds only the compare outputs.
    TCCR1A = connected ? _BV(COM1A1) | _BV(COM1B1) : 0;
}
