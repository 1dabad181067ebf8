// The tunables block in flash, built from the defaults in tunables.h, and the one read of it at
// start. Its layout is tunables_block.h, which the flashing tool shares.
#include "tunables_in_flash.h"
#include "tunables.h"
#include "tunables_block.h"

#include <avr/pgmspace.h>

#ifndef VENTORA_FIRMWARE_VARIANT
#error "the build names the variant this image is (a tunablesBlock::Variant)"
#endif

namespace {

using namespace tunablesBlock;

struct BlockImage {
    uint8_t bytes[blockSize];

    constexpr BlockImage() : bytes() {
        for (uint8_t i = 0; i < sizeof marker; ++i)
            bytes[i] = marker[i];
        bytes[formatVersionOffset] = formatVersion;
        bytes[blockSizeOffset] = blockSize;
        bytes[variantOffset] = VENTORA_FIRMWARE_VARIANT;
        bytes[versionMajorOffset] = VENTORA_VERSION_MAJOR;
        bytes[versionMinorOffset] = VENTORA_VERSION_MINOR;
        bytes[versionPatchOffset] = VENTORA_VERSION_PATCH;
        bytes[minimumDutyPercentOffset] = tunables::minimumDutyPercent;
        bytes[kickStartBelowPercentOffset] = tunables::kickStartBelowPercent;
        put(kickStartMillisecondsOffset, tunables::kickStartMilliseconds);
        put(failsafeMillisecondsOffset, tunables::failsafeMilliseconds);
        put(escArmingMillisecondsOffset, tunables::escArmingMilliseconds);
        put(escOffPulseMicrosecondsOffset, tunables::escOffPulseMicroseconds);
        put(escFullPulseMicrosecondsOffset, tunables::escFullPulseMicroseconds);
        put(pwmFrequencyHzOffset, tunables::pwmFrequencyHz);
        bytes[sideWindPercentOffset] = tunables::sideWindPercent;
        bytes[leftFanOutputOffset] = tunables::leftFanOutput;
    }
    constexpr void put(uint8_t offset, uint16_t value) {
        bytes[offset] = static_cast<uint8_t>(value);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
};

// The defaults are what a tool accepts too: the block the build writes is a whole one.
static_assert(checkBlock(BlockImage().bytes, VENTORA_FIRMWARE_VARIANT).problem == whole,
              "every default lies in the range a flashing tool accepts");

// The build finds it by name and checks that it lies within the first searchWindow bytes: its
// section sorts first among the constants in flash, right after the interrupt vectors.
constexpr BlockImage tunablesBlockInFlash __attribute__((section(".progmem.gcc_tunables"), used));

// Two little-endian bytes of the copy.
uint16_t wordAt(const uint8_t* block, uint8_t offset) {
    return static_cast<uint16_t>(block[offset] | block[offset + 1] << 8);
}

} // namespace

// The compiled defaults until a whole block says otherwise: the C runtime copies them in before main.
Tunables tuned = {tunables::minimumDutyPercent,       tunables::kickStartBelowPercent,
                  tunables::kickStartMilliseconds,    tunables::failsafeMilliseconds,
                  tunables::escArmingMilliseconds,    tunables::escOffPulseMicroseconds,
                  tunables::escFullPulseMicroseconds, tunables::pwmFrequencyHz,
                  tunables::sideWindPercent,          tunables::leftFanOutput};

void readTunables() {
    // Checked as a copy in RAM, by the same check the flashing tool applies to an image.
    uint8_t block[blockSize];
    memcpy_P(block, &tunablesBlockInFlash, blockSize);
    // An erased block, one of another format or kind, or one value out of its range: every value
    // stays the compiled default. A block with one bad value may hold others no tool checked (a
    // failsafe of a minute, a kick at full as long), so none of it is used.
    if (checkBlock(block, VENTORA_FIRMWARE_VARIANT).problem != whole) return;
    tuned.minimumDutyPercent = block[minimumDutyPercentOffset];
    tuned.kickStartBelowPercent = block[kickStartBelowPercentOffset];
    tuned.kickStartMilliseconds = wordAt(block, kickStartMillisecondsOffset);
    tuned.failsafeMilliseconds = wordAt(block, failsafeMillisecondsOffset);
    tuned.escArmingMilliseconds = wordAt(block, escArmingMillisecondsOffset);
    tuned.escOffPulseMicroseconds = wordAt(block, escOffPulseMicrosecondsOffset);
    tuned.escFullPulseMicroseconds = wordAt(block, escFullPulseMicrosecondsOffset);
    tuned.pwmFrequencyHz = wordAt(block, pwmFrequencyHzOffset);
    tuned.sideWindPercent = block[sideWindPercentOffset];
    tuned.leftFanOutput = block[leftFanOutputOffset];
}
