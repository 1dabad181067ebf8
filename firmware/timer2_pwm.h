// Timer2 as the two fans' PWM on OC2A (D11) and OC2B (D3), each at its own duty, for the shields that
// wire their enables there (the L293D shield, the Arduino Motor Shield Rev3).
#ifndef VENTORA_FIRMWARE_TIMER2_PWM_H
#define VENTORA_FIRMWARE_TIMER2_PWM_H

#include <stdint.h>

// Fast PWM (mode 3, TOP 255) at clk / 8: 16 MHz / (8 * 256) = 7.8 kHz. Both channels share the
// timer's TOP, so the other rates are clk / 1 (62.5 kHz, too fast for these bridges) or slower.
// Duty is (OCR + 1) / 256: full is 256 counts, and 0 lets the timer go of the pins (OCR 0 would
// still be a one-count spike).
constexpr uint16_t timer2FullDuty = 256;

// Stops the timer, writes every register whole (a bootloader may have left it set up) and starts
// it with the pins let go, so their own low drives them.
void startTimer2Pwm();

// OC2A's (D11) and OC2B's (D3) duty: 0 lets go of the pin; 1 to timer2FullDuty drives it at that duty.
void setTimer2Duty(uint16_t dutyA, uint16_t dutyB);

#endif
