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
    OCR1A = 0;
    OCR1B = 0;
    TCCR1B = _BV(WGM13) | _BV(CS10);
}

void setTimer1Duty(uint16_t dutyA, uint16_t dutyB) {
    OCR1A = dutyA;
    OCR1B = dutyB;
    // Mode 8 keeps WGM11 and WGM10 clear: TCCR1A holds only the compare outputs. A pin at duty 0 is
    // left to its port bit (low), without the timer's one-count spike.
    TCCR1A = (dutyA != 0 ? _BV(COM1A1) : 0) | (dutyB != 0 ? _BV(COM1B1) : 0);
}
