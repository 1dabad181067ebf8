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

uint8_t blockByte(uint8_t offset) {
    return pgm_read_byte(&tunablesBlockInFlash.bytes[offset]);
}

uint16_t blockWord(uint8_t offset) {
    return static_cast<uint16_t>(blockByte(offset) | blockByte(offset + 1) << 8);
}

} // namespace

Tunables tuned;

void readTunables() {
    tuned.minimumDutyPercent = blockByte(minimumDutyPercentOffset);
    tuned.kickStartBelowPercent = blockByte(kickStartBelowPercentOffset);
    tuned.kickStartMilliseconds = blockWord(kickStartMillisecondsOffset);
    tuned.failsafeMilliseconds = blockWord(failsafeMillisecondsOffset);
    tuned.escArmingMilliseconds = blockWord(escArmingMillisecondsOffset);
    tuned.escOffPulseMicroseconds = blockWord(escOffPulseMicrosecondsOffset);
    tuned.escFullPulseMicroseconds = blockWord(escFullPulseMicrosecondsOffset);
    tuned.pwmFrequencyHz = blockWord(pwmFrequencyHzOffset);
}
