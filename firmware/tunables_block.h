// The tunables as they sit in the firmware's flash: one block with a marker, so that a flashing
// tool can change them in a built image without a compiler, and read them back from a board.
// Shared by the firmware (avr-g++, C++14) and the host tools: plain bytes and offsets only, and
// the one check of a whole block that both sides apply.
#ifndef VENTORA_FIRMWARE_TUNABLES_BLOCK_H
#define VENTORA_FIRMWARE_TUNABLES_BLOCK_H

#include <stdint.h>

namespace tunablesBlock {

// The block starts with these eight bytes. Nothing else in the first searchWindow bytes of an image
// holds them (the firmware's own copy, which checkBlock compares against, sits with its data after
// the code), so a search there finds the block and nothing else.
constexpr uint8_t marker[8] = {'V', 'E', 'N', 'T', 'O', 'R', 'A', 0};

// Raised whenever a field moves or changes meaning; a tool refuses a format it does not know
// rather than write into the wrong bytes, and the firmware runs its defaults rather than read one.
// Format 1 (1.1.0) lacked the PWM rate and allowed a failsafe of up to a minute. Format 2 (1.2.0,
// 1.3.0) is format 3 without its last two fields, the wind from the side's: a tool still reads it,
// to keep a board's kind and tunables when it flashes the board again.
constexpr uint8_t formatVersion = 3;
constexpr uint8_t formatWithoutSides = 2;

// The block lies wholly within the first this-many bytes of flash, so a tool that reads a board
// back needs only the first two pages to find it. The firmware's build checks it.
constexpr uint16_t searchWindow = 256;

// Byte offsets within the block. Every 16-bit value is little-endian, as the AVR stores them.
constexpr uint8_t formatVersionOffset = 8;             // u8: formatVersion
constexpr uint8_t blockSizeOffset = 9;                 // u8: blockSize
constexpr uint8_t variantOffset = 10;                  // u8: a Variant, the output kind the image drives
constexpr uint8_t versionMajorOffset = 11;             // u8: the firmware's version, major.minor.patch
constexpr uint8_t versionMinorOffset = 12;             // u8
constexpr uint8_t versionPatchOffset = 13;             // u8
constexpr uint8_t minimumDutyPercentOffset = 14;       // u8
constexpr uint8_t kickStartBelowPercentOffset = 15;    // u8
constexpr uint8_t kickStartMillisecondsOffset = 16;    // u16
constexpr uint8_t failsafeMillisecondsOffset = 18;     // u16
constexpr uint8_t escArmingMillisecondsOffset = 20;    // u16
constexpr uint8_t escOffPulseMicrosecondsOffset = 22;  // u16
constexpr uint8_t escFullPulseMicrosecondsOffset = 24; // u16
constexpr uint8_t pwmFrequencyHzOffset = 26;           // u16: the driver kind's PWM rate
constexpr uint8_t sideWindPercentOffset = 28;          // u8: the inside fan's cut at a full corner
constexpr uint8_t leftFanOutputOffset = 29;            // u8: 1 or 2, the output the left fan is on
constexpr uint8_t blockSize = 30;
// A format 2 block ends where the side's fields begin.
constexpr uint8_t blockSizeWithoutSides = sideWindPercentOffset;

// The output kinds, one firmware image each. The numbers are stored in boards' flash: never reuse one.
enum Variant : uint8_t {
    pwmFans = 1,            // 4-pin PWM fans, their 12 V switched by a MOSFET on D8
    escs = 2,               // brushless motors through RC ESCs
    driver = 3,             // DC fans through a driver module wired by hand (L298N, BTS7960, MOSFET board)
    l293dShield = 4,        // the L293D motor shield (Adafruit v1 design and clones)
    motorShieldV2 = 5,      // Adafruit Motor Shield v2 (PCA9685 and TB6612)
    arduinoMotorShield = 6, // Arduino Motor Shield Rev3 (L298P)
    monsterMoto = 7,        // VNH2SP30 "Monster Moto" shield
};
constexpr uint8_t lowestVariant = pwmFans;
constexpr uint8_t highestVariant = monsterMoto;

// What a tool accepts and the firmware runs, for each value, both ends included. They keep a
// failsafe a failsafe: a silent line stops the fans within 5 s, and an ESC's "off" pulse is its
// stop: 1000 us on most, and many start to turn at 1050 to 1100 us (1200 us is 20 % throttle on
// one calibrated to 1000 to 2000 us).
struct Range {
    uint16_t lowest;
    uint16_t highest;
};
constexpr Range minimumDutyPercentRange = {1, 100};
constexpr Range kickStartBelowPercentRange = {0, 100}; // 0: never kick
constexpr Range kickStartMillisecondsRange = {0, 5000};
// Ventora sends a byte every 100 ms: a time-out near that would cut the fans between bytes.
constexpr Range failsafeMillisecondsRange = {300, 5000};
constexpr Range escArmingMillisecondsRange = {0, 10000};
constexpr Range escOffPulseMicrosecondsRange = {500, 1100};
constexpr Range escFullPulseMicrosecondsRange = {800, 2500};
// Full lies at least this far above off, so level 79 is real throttle and level 1 is not.
constexpr uint16_t escPulseSpanAtLeast = 300;
// Above 25 kHz the drivers' switching losses grow for no gain; below 1 kHz a fan whines.
constexpr Range pwmFrequencyHzRange = {1000, 25000};
constexpr Range sideWindPercentRange = {0, 100}; // 0: both fans always at the level
constexpr Range leftFanOutputRange = {1, 2};

// The tunable values in the order the tools list them (and tunables.h defines them).
struct Field {
    uint8_t offset;
    uint8_t width; // 1 or 2 bytes
    Range range;
};
constexpr uint8_t fieldCount = 10;
// The fields a format 2 block holds: the first this many.
constexpr uint8_t fieldCountWithoutSides = 8;
constexpr Field fields[fieldCount] = {
    {minimumDutyPercentOffset, 1, minimumDutyPercentRange},
    {kickStartBelowPercentOffset, 1, kickStartBelowPercentRange},
    {kickStartMillisecondsOffset, 2, kickStartMillisecondsRange},
    {failsafeMillisecondsOffset, 2, failsafeMillisecondsRange},
    {escArmingMillisecondsOffset, 2, escArmingMillisecondsRange},
    {escOffPulseMicrosecondsOffset, 2, escOffPulseMicrosecondsRange},
    {escFullPulseMicrosecondsOffset, 2, escFullPulseMicrosecondsRange},
    {pwmFrequencyHzOffset, 2, pwmFrequencyHzRange},
    {sideWindPercentOffset, 1, sideWindPercentRange},
    {leftFanOutputOffset, 1, leftFanOutputRange},
};
// Indices into fields, for the cross-field rule.
constexpr uint8_t escOffPulseField = 5;
constexpr uint8_t escFullPulseField = 6;

constexpr uint16_t fieldValue(const uint8_t* block, uint8_t field) {
    return fields[field].width == 1
               ? block[fields[field].offset]
               : static_cast<uint16_t>(block[fields[field].offset] | block[fields[field].offset + 1] << 8);
}

// What a look at a block's blockSize bytes found. Only a whole block is used: the firmware runs
// all its compiled defaults otherwise (never a mix), and a tool writes nothing.
enum Problem : uint8_t {
    whole = 0,
    noMarker,
    unknownFormat,   // a format this side does not know, or a size that is not the format's
    unknownVariant,  // not a kind at all, or (asked for one) not the expected one
    fieldOutOfRange, // Verdict::field says which
    pulsesTooClose,  // full is not escPulseSpanAtLeast above off
};
struct Verdict {
    Problem problem;
    uint8_t field; // fieldOutOfRange: the index in fields
};

// Checks a copy of the block's blockSize bytes. expectedVariant 0 takes any kind.
constexpr Verdict checkBlock(const uint8_t* block, uint8_t expectedVariant) {
    for (uint8_t i = 0; i < sizeof marker; ++i)
        if (block[i] != marker[i]) return {noMarker, 0};
    if (block[formatVersionOffset] != formatVersion || block[blockSizeOffset] != blockSize)
        return {unknownFormat, 0};
    const uint8_t variant = block[variantOffset];
    if (variant < lowestVariant || variant > highestVariant ||
        (expectedVariant != 0 && variant != expectedVariant))
        return {unknownVariant, 0};
    for (uint8_t i = 0; i < fieldCount; ++i) {
        const uint16_t value = fieldValue(block, i);
        if (value < fields[i].range.lowest || value > fields[i].range.highest) return {fieldOutOfRange, i};
    }
    if (fieldValue(block, escFullPulseField) < fieldValue(block, escOffPulseField) + escPulseSpanAtLeast)
        return {pulsesTooClose, 0};
    return {whole, 0};
}

} // namespace tunablesBlock

#endif
