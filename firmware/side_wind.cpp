// The outside fan keeps the level; the inside one drops toward level 1 with the corner's strength.
#include "side_wind.h"
#include "fan_wire.h"

OutputLevels levelsForOutputs(uint8_t level, uint8_t prefix, uint8_t sideWindPercent, uint8_t leftFanOutput) {
    if (prefix == fanWire::onlyOutput1) return {level, 0};
    if (prefix == fanWire::onlyOutput2) return {0, level};
    if (level == 0 || prefix < fanWire::cornerByte) return {level, level};
    uint8_t magnitude = prefix & fanWire::cornerMagnitudeMask;
    if (magnitude > fanWire::fullCornerMagnitude) magnitude = fanWire::fullCornerMagnitude;
    // round((level - 1) * percent / 100 * magnitude / 20): at most 78 * 100 * 20, past 16 bits. The
    // cut is at most level - 1, so the inside fan never drops below level 1.
    const uint32_t scaled = static_cast<uint32_t>((level - 1) * magnitude) * sideWindPercent;
    const uint8_t inside = level - static_cast<uint8_t>((scaled + 50U * fanWire::fullCornerMagnitude) /
                                                        (100U * fanWire::fullCornerMagnitude));
    // A right-hand corner has the left fan outside.
    const bool right = prefix & fanWire::cornerRight;
    const uint8_t left = right ? level : inside, rightFan = right ? inside : level;
    return leftFanOutput == 2 ? OutputLevels{rightFan, left} : OutputLevels{left, rightFan};
}
