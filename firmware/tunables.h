// Everything a rig builder may want to change about the fan controller, in one place. Change a
// value, rebuild (cmake --build --preset firmware) and flash the new .hex.
#ifndef VENTORA_FIRMWARE_TUNABLES_H
#define VENTORA_FIRMWARE_TUNABLES_H

#include <stdint.h>

namespace tunables {

// Duty of level 1, in percent; levels 1 to 79 rise linearly from here to 100 %. Many 4-pin fans
// stall, or never start, below about 30 %, so lower levels would be no air at all.
constexpr uint8_t minimumDutyPercent = 30;

// A fan started from off at a duty below this percentage gets a kick first: a stopped rotor needs
// more torque to break away than a spinning one needs to keep turning.
constexpr uint8_t kickStartBelowPercent = 50;

// How long the kick drives the fans at 100 % before the level's own duty, in milliseconds.
constexpr uint16_t kickStartMilliseconds = 500;

// Silence on the serial line after which the fans are switched off, in milliseconds. Ventora
// sends a byte every 100 ms while it runs and nothing when it ends, so this is what stops the fans
// when Ventora is closed, the PC sleeps or the cable is pulled. Keep it well above 100 ms.
constexpr uint16_t failsafeMilliseconds = 1000;

// Half a period of the LED's blink while the line is silent: 250 ms on, 250 ms off is 2 Hz.
constexpr uint16_t failsafeBlinkHalfPeriodMilliseconds = 250;

// ESC variant: after power-on the pulses stay at the "off" width this long, whatever arrives. An
// ESC that sees a long pulse as it powers up enters its throttle calibration instead of arming.
constexpr uint16_t escArmingMilliseconds = 2000;

// ESC variant: the pulse widths of level 0 (motor stopped) and of level 79 (full throttle), in
// microseconds: the usual range of hobby ESCs.
constexpr uint16_t escOffPulseMicroseconds = 1000;
constexpr uint16_t escFullPulseMicroseconds = 2000;

// Driver-module kind: the PWM rate on D9 and D10, in hertz. 20 kHz is above hearing and within
// what the common modules switch cleanly (an L298N's own limit is about 25 kHz).
constexpr uint16_t pwmFrequencyHz = 20000;

// Wind from the side: in a corner the fan on the outside keeps the level for the speed, and the
// inside one blows less, the harder the car corners. This is how far the inside fan drops at a full
// corner (1 g and more), as a share of the way from the level down to level 1: 0 keeps both fans
// always equal, 100 takes the inside fan to level 1. 50 is clearly felt on the face, yet the inside
// fan never comes near its floor (level 1 is the fans' own minimum duty): the usual complaint of
// wind rigs is an inside fan that stops in fast corners, because most fans only work above 30 to
// 67 % duty, and at 50 the inside fan at full speed still runs at about two thirds of full.
constexpr uint8_t sideWindPercent = 50;

// Which output the left fan is on: 1 (D9, M1, A or motor 1, by the kind) or 2. Set by the set-up
// tool's fan test, which runs one side and asks which fan blew.
constexpr uint8_t leftFanOutput = 1;

} // namespace tunables

#endif
