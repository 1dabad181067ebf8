// Wind from the side: the level for each output from the level for the speed and the corner byte
// that came with it (or the set-up tool's byte that picks one output).
#ifndef VENTORA_FIRMWARE_SIDE_WIND_H
#define VENTORA_FIRMWARE_SIDE_WIND_H

#include <stdint.h>

struct OutputLevels {
    uint8_t output1;
    uint8_t output2;
};

// level is 0 to topLevel; prefix the fresh byte 0x7E to 0xFF that came just before it, or 0 for none.
// sideWindPercent and leftFanOutput are the tunables'.
OutputLevels levelsForOutputs(uint8_t level, uint8_t prefix, uint8_t sideWindPercent, uint8_t leftFanOutput);

#endif
