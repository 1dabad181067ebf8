// Level to duty, and the kick-start from off: the same for every kind that drives its fans with a
// duty, whatever its PWM's resolution, so a level means the same share of full power on each.
#ifndef VENTORA_FIRMWARE_FAN_DUTY_H
#define VENTORA_FIRMWARE_FAN_DUTY_H

#include <stdint.h>

// Takes the tunables' minimum duty and kick-start; fullDuty is the count of 100 % (a timer's TOP,
// 256 for an 8-bit fast PWM, 4096 for the PCA9685).
void setUpFanDuty(uint16_t fullDuty);

// The duty a newly received level asks for now: 0 at level 0, fullDuty during a kick-start, else
// the level's own. Level 1 is the minimum duty, topLevel is full, linear between.
uint16_t dutyForLevel(uint8_t level);

// Once a millisecond. True when a kick-start has just ended: levelDuty() is now due.
bool kickStartEnded();

// The duty of the last level, without any kick.
uint16_t levelDuty();

#endif
