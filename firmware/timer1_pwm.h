// Timer1 as the two fans' PWM on OC1A (D9) and OC1B (D10), each at its own duty, for the kinds
// that drive their fans from D9 and D10 (4-pin fans, driver modules).
#ifndef VENTORA_FIRMWARE_TIMER1_PWM_H
#define VENTORA_FIRMWARE_TIMER1_PWM_H

#include <stdint.h>

// Phase-and-frequency-correct PWM (mode 8, TOP = ICR1), no prescaler: 16 MHz / (2 * top) is the
// rate (320 counts: 25 kHz). Mode 8 takes a new OCR1x at BOTTOM, so a duty change never glitches,
// and simavr (the simulated board the tests use) gets it right, where it runs mode 14 as
// phase-correct and lacks mode 10.
//
// The mode first, with the clock stopped, then TOP and the compare values, then the clock. A
// bootloader may have left Timer1 set up: every register is written whole. The timer starts at
// duty 0, not connected to the pins.
void startTimer1Pwm(uint16_t top);

// OC1A's and OC1B's duty; a pin at 0 is let go by the timer to its port bit, a pin above 0 is
// driven by the timer (non-inverting).
void setTimer1Duty(uint16_t dutyA, uint16_t dutyB);

#endif
