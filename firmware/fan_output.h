// What the receiving side asks of the outputs. Each output kind (4-pin PWM fans, ESCs, a driver
// module, each motor shield) has its own implementation, fan_output_<kind>.cpp, linked into its own
// firmware image; the build names the kind in VENTORA_FIRMWARE_VARIANT.
#ifndef VENTORA_FIRMWARE_FAN_OUTPUT_H
#define VENTORA_FIRMWARE_FAN_OUTPUT_H

#include "tunables_block.h"

#include <stdint.h>

// The highest level Ventora sends: full power. Higher bytes count as this.
constexpr uint8_t topLevel = 79;

// The L293D shield and the Arduino Motor Shield take Timer2's pins (D3, D11) for their PWM: there
// the millisecond clock runs on Timer0, elsewhere on Timer2 (the Monster Moto takes Timer0's).
constexpr bool millisecondClockOnTimer0 = VENTORA_FIRMWARE_VARIANT == tunablesBlock::l293dShield ||
                                          VENTORA_FIRMWARE_VARIANT == tunablesBlock::arduinoMotorShield;

// D13 carries the link LED, except on the Arduino Motor Shield, where it is motor B's direction.
constexpr bool linkLedOnD13 = VENTORA_FIRMWARE_VARIANT != tunablesBlock::arduinoMotorShield;

// Sets up the outputs with the fans off: timers, pins, and a shield's own chips.
void setUpFanOutputs();

// Drives each output at a level from 0 (off) to topLevel: output 1 is D9, M1, A or motor 1 by the
// kind, output 2 is D10, M2, B or motor 2. Failsafe is both at 0.
void driveFans(uint8_t output1Level, uint8_t output2Level);

// Called once a millisecond, for what the outputs do over time (kick-start, arming, retrying a
// shield that did not answer).
void advanceFanOutputs();

// False while a shield the outputs talk to does not answer (the LED then blinks fast).
bool fanOutputsAnswer();

// Puts every output in its off state from whatever state the main loop left it in, with
// interrupts off: the watchdog's interrupt calls it when the main loop has hung. It writes the
// outputs' registers whole, trusts nothing the loop was halfway through, and every wait in it is
// bounded.
void stopFansAtOnce();

#endif
