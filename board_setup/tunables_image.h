// The firmware's tunables block in a flash image: found by its marker, read, and changed before
// the image is flashed, so that a rig builder tunes the board without a compiler. Platform-neutral.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/tunables_block.h"

// Which firmware variants a tunable means something to: the duty ones to every kind that drives a
// duty (all but the ESCs), the pulse ones to the ESCs, the rate to the driver modules.
enum class TunableUse { every, duty, escs, driver };

struct TunableField {
    const char* option; // the flash command's option, without its leading "--"
    std::uint8_t offset;
    std::uint8_t width; // 1 or 2 bytes
    tunablesBlock::Range range;
    TunableUse use;
    const char* unit;
};

// Every tunable the block holds, in the order the firmware's tunables.h lists them.
inline constexpr std::array<TunableField, tunablesBlock::fieldCount> tunableFields{{
    {"min-duty", tunablesBlock::minimumDutyPercentOffset, 1, tunablesBlock::minimumDutyPercentRange,
     TunableUse::duty, "%"},
    {"kick-below", tunablesBlock::kickStartBelowPercentOffset, 1, tunablesBlock::kickStartBelowPercentRange,
     TunableUse::duty, "%"},
    {"kick-ms", tunablesBlock::kickStartMillisecondsOffset, 2, tunablesBlock::kickStartMillisecondsRange,
     TunableUse::duty, "ms"},
    {"failsafe-ms", tunablesBlock::failsafeMillisecondsOffset, 2, tunablesBlock::failsafeMillisecondsRange,
     TunableUse::every, "ms"},
    {"arming-ms", tunablesBlock::escArmingMillisecondsOffset, 2, tunablesBlock::escArmingMillisecondsRange,
     TunableUse::escs, "ms"},
    {"esc-off-us", tunablesBlock::escOffPulseMicrosecondsOffset, 2,
     tunablesBlock::escOffPulseMicrosecondsRange, TunableUse::escs, "us"},
    {"esc-full-us", tunablesBlock::escFullPulseMicrosecondsOffset, 2,
     tunablesBlock::escFullPulseMicrosecondsRange, TunableUse::escs, "us"},
    {"pwm-hz", tunablesBlock::pwmFrequencyHzOffset, 2, tunablesBlock::pwmFrequencyHzRange, TunableUse::driver,
     "Hz"},
    {"side-wind", tunablesBlock::sideWindPercentOffset, 1, tunablesBlock::sideWindPercentRange,
     TunableUse::every, "%"},
    {"left-fan", tunablesBlock::leftFanOutputOffset, 1, tunablesBlock::leftFanOutputRange, TunableUse::every,
     "(output)"},
}};

// The block's own list and the tool's name the same values in the same order.
constexpr bool tunableFieldsMatchTheBlock() {
    for (std::size_t i = 0; i < tunableFields.size(); ++i)
        if (tunableFields[i].offset != tunablesBlock::fields[i].offset ||
            tunableFields[i].width != tunablesBlock::fields[i].width ||
            tunableFields[i].range.lowest != tunablesBlock::fields[i].range.lowest ||
            tunableFields[i].range.highest != tunablesBlock::fields[i].range.highest)
            return false;
    return true;
}
static_assert(tunableFieldsMatchTheBlock());

struct FirmwareTunables {
    // tunablesBlock::formatVersion, or formatWithoutSides (1.2.0, 1.3.0): then the side's two values
    // are the defaults, and the board has no such tunables.
    std::uint8_t format = tunablesBlock::formatVersion;
    std::uint8_t variant = 0; // a tunablesBlock::Variant
    std::array<std::uint8_t, 3> version{};
    std::array<std::uint16_t, tunableFields.size()> values{};
};

// What a look into an image found: the block's values, or why there are none.
struct TunablesReading {
    std::optional<FirmwareTunables> tunables;
    std::optional<std::size_t> offset;
    std::string problem; // empty when tunables holds the block's values
};

TunablesReading readTunables(std::span<const std::uint8_t> flash);

// One value asked for on the command line: the field's index in tunableFields and the number.
struct TunableChange {
    std::size_t field;
    std::uint32_t value;
};

// The index in tunableFields of the option (without "--"), or nothing when it is not a tunable.
std::optional<std::size_t> findTunableField(std::string_view option);

// Writes the changes into the image's block. On any problem (no block, a format this tool does
// not know, a value out of its range, a tunable of another variant, full pulse not far enough
// above off)
// the image is left as it was and the message says what to fix.
std::string applyTunables(std::span<std::uint8_t> flash, const std::vector<TunableChange>& changes);

// Why the image's tunables block is not whole (the field out of range named as the option that
// sets it, its value and its range), checked as the firmware checks it at start; empty when it is
// whole, or when the image holds no block at all (another program, flashed as the user gave it).
// expectedVariant 0 takes any kind.
std::string blockProblem(std::span<const std::uint8_t> flash, std::uint8_t expectedVariant);

// The board's tunables to write again into the image a flash writes in place of its firmware (the
// ones the new image's variant uses), so that a board flashed again keeps its tuning and its
// left fan as it keeps its kind. The request's own changes go after them.
std::vector<TunableChange> keptTunables(const FirmwareTunables& board, std::uint8_t variant);

// Whether the firmware the tunables came from takes corner bytes and the set-up tool's output bytes.
bool takesSides(const FirmwareTunables& tunables);

// What the variant drives, in words: "4-pin PWM fans", "the L293D motor shield", "ESCs".
const char* variantName(std::uint8_t variant);
// The tunables the variant uses, as the options that would set them: "--min-duty 30 --kick-below 50 ...".
std::string describeTunables(const FirmwareTunables& tunables);
