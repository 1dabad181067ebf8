// The tunables the firmware runs with: the defaults of tunables.h, as written into the block in
// flash by the build, or changed there by a flashing tool. Read once at start, and used only when
// the whole block passes the check a flashing tool applies.
#ifndef VENTORA_FIRMWARE_TUNABLES_IN_FLASH_H
#define VENTORA_FIRMWARE_TUNABLES_IN_FLASH_H

#include <stdint.h>

struct Tunables {
    uint8_t minimumDutyPercent;
    uint8_t kickStartBelowPercent;
    uint16_t kickStartMilliseconds;
    uint16_t failsafeMilliseconds;
    uint16_t escArmingMilliseconds;
    uint16_t escOffPulseMicroseconds;
    uint16_t escFullPulseMicroseconds;
    uint16_t pwmFrequencyHz;
    uint8_t sideWindPercent;
    uint8_t leftFanOutput;
};

// Valid after readTunables().
extern Tunables tuned;

// Copies the block's values out of flash into tuned when the block is whole; otherwise tuned keeps
// every compiled default.
void readTunables();

#endif
