// What the receiving side asks of the outputs. Each variant (4-pin PWM fans, or ESCs) has its own
// implementation, linked into its own firmware image.
#ifndef VENTORA_FIRMWARE_FAN_OUTPUT_H
#define VENTORA_FIRMWARE_FAN_OUTPUT_H

#include <stdint.h>

// The highest level Ventora sends: full power. Higher bytes count as this.
constexpr uint8_t topLevel = 79;

// Sets up Timer1 and the output pins with the fans off.
void setUpFanOutputs();

// Drives the fans at a level from 0 (off) to topLevel. Failsafe is level 0.
void driveFans(uint8_t level);

// Called once a millisecond, for what the outputs do over time (kick-start, arming).
void advanceFanOutputs();

#endif
