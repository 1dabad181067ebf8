// Level to duty, and the kick-start from off: the same for every kind that drives its fans with a
// duty, whatever its PWM's resolution, so a level means the same share of full power on each. The
// two outputs (0 and 1: output 1 and output 2 of the kind) keep their own kick: in a corner one
// fan may start from off while the other runs.
#ifndef VENTORA_FIRMWARE_FAN_DUTY_H
#define VENTORA_FIRMWARE_FAN_DUTY_H

#include <stdint.h>

constexpr uint8_t fanOutputCount = 2;

// Takes the tunables' minimum duty and kick-start; fullDuty is the count of 100 % (a timer's TOP,
// 256 for an 8-bit fast PWM, 4096 for the PCA9685).
void setUpFanDuty(uint16_t fullDuty);

// Takes the levels newly received for each output. fanDuty() then gives each output's duty.
void takeLevels(uint8_t output1Level, uint8_t output2Level);

// The duty an output runs at now: 0 at level 0, fullDuty during its kick-start, else its level's.
// Level 1 is the minimum duty, topLevel is full, linear between.
uint16_t fanDuty(uint8_t output);

// Once a millisecond. True when an output's kick-start has just ended: fanDuty() has changed.
bool kickStartEnded();

#endif
