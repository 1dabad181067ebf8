// The tunables as they sit in the firmware's flash: one block with a marker, so that a flashing
// tool can change them in a built image without a compiler, and read them back from a board.
// Shared by the firmware (avr-g++, C++14) and the host tools: plain bytes and offsets only.
#ifndef VENTORA_FIRMWARE_TUNABLES_BLOCK_H
#define VENTORA_FIRMWARE_TUNABLES_BLOCK_H

#include <stdint.h>

namespace tunablesBlock {

// The block starts with these eight bytes. The firmware holds no other text, so a search of an
// image for them finds the block and nothing else.
constexpr uint8_t marker[8] = {'V', 'E', 'N', 'T', 'O', 'R', 'A', 0};

// Raised whenever a field moves or changes meaning; a tool refuses a format it does not know
// rather than write into the wrong bytes.
constexpr uint8_t formatVersion = 1;

// The block lies wholly within the first this-many bytes of flash, so a tool that reads a board
// back needs only the first two pages to find it. The firmware's build checks it.
constexpr uint16_t searchWindow = 256;

// Byte offsets within the block. Every 16-bit value is little-endian, as the AVR stores them.
constexpr uint8_t formatVersionOffset = 8;  // u8: formatVersion
constexpr uint8_t blockSizeOffset = 9;      // u8: blockSize
constexpr uint8_t variantOffset = 10;       // u8: a Variant
constexpr uint8_t versionMajorOffset = 11;  // u8: the firmware's version, major.minor.patch
constexpr uint8_t versionMinorOffset = 12;  // u8
constexpr uint8_t versionPatchOffset = 13;  // u8
constexpr uint8_t minimumDutyPercentOffset = 14;        // u8
constexpr uint8_t kickStartBelowPercentOffset = 15;     // u8
constexpr uint8_t kickStartMillisecondsOffset = 16;     // u16
constexpr uint8_t failsafeMillisecondsOffset = 18;      // u16
constexpr uint8_t escArmingMillisecondsOffset = 20;     // u16
constexpr uint8_t escOffPulseMicrosecondsOffset = 22;   // u16
constexpr uint8_t escFullPulseMicrosecondsOffset = 24;  // u16
constexpr uint8_t blockSize = 26;

enum Variant : uint8_t { pwmFans = 1, escs = 2 };

// What a tool accepts for each value, both ends included. The firmware trusts the block as
// written; these ranges are what keeps a typo from making a board that never stops its fans.
struct Range {
    uint16_t lowest;
    uint16_t highest;
};
constexpr Range minimumDutyPercentRange = {1, 100};
constexpr Range kickStartBelowPercentRange = {0, 100}; // 0: never kick
constexpr Range kickStartMillisecondsRange = {0, 5000};
// Ventora sends a byte every 100 ms: a time-out near that would cut the fans between bytes.
constexpr Range failsafeMillisecondsRange = {300, 60000};
constexpr Range escArmingMillisecondsRange = {0, 10000};
constexpr Range escPulseMicrosecondsRange = {500, 2500}; // and off below full

} // namespace tunablesBlock

#endif
