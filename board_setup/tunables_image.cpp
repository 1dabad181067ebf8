// Finding, reading and changing the tunables block, byte by byte as the AVR stores it.
#include "board_setup/tunables_image.h"
#include "board_setup/output_kinds.h"

#include <algorithm>
#include <cstdio>

#include "firmware/tunables.h"

namespace {

std::uint16_t loadValue(std::span<const std::uint8_t> block, const TunableField& field) {
    const std::uint16_t low = block[field.offset];
    return field.width == 1 ? low : static_cast<std::uint16_t>(low | block[field.offset + 1] << 8);
}

void storeValue(std::span<std::uint8_t> block, const TunableField& field, std::uint16_t value) {
    block[field.offset] = static_cast<std::uint8_t>(value);
    if (field.width == 2) block[field.offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// The fields a block of the format holds: a format 2 block ends before the side's.
std::size_t fieldsOf(std::uint8_t format) {
    return format == tunablesBlock::formatWithoutSides ? tunablesBlock::fieldCountWithoutSides
                                                       : tunableFields.size();
}

std::uint8_t sizeOf(std::uint8_t format) {
    return format == tunablesBlock::formatWithoutSides ? tunablesBlock::blockSizeWithoutSides
                                                       : tunablesBlock::blockSize;
}

bool usedBy(const TunableField& field, std::uint8_t variant) {
    return field.use == TunableUse::every ||
           (field.use == TunableUse::duty && variant != tunablesBlock::escs) ||
           (field.use == TunableUse::escs && variant == tunablesBlock::escs) ||
           (field.use == TunableUse::driver && variant == tunablesBlock::driver);
}

std::size_t fieldIndex(std::string_view option) {
    return static_cast<std::size_t>(findTunableField(option).value_or(0));
}

} // namespace

TunablesReading readTunables(std::span<const std::uint8_t> flash) {
    TunablesReading reading;
    const std::size_t window = std::min<std::size_t>(flash.size(), tunablesBlock::searchWindow);
    const std::span<const std::uint8_t> marker(tunablesBlock::marker);
    const auto found = std::search(flash.begin(), flash.begin() + window, marker.begin(), marker.end());
    if (found == flash.begin() + window) {
        reading.problem = "no tunables block: not Ventora's firmware";
        return reading;
    }
    const std::size_t offset = static_cast<std::size_t>(found - flash.begin());
    reading.offset = offset;
    if (offset + tunablesBlock::blockSize > tunablesBlock::searchWindow) {
        // A board is read back only this far: such a block could be changed but never read.
        reading.problem = "the tunables block runs past the first 256 bytes of flash";
        return reading;
    }
    if (offset + tunablesBlock::blockSize > flash.size()) {
        reading.problem = "the tunables block is cut short";
        return reading;
    }
    const std::uint8_t format = flash[offset + tunablesBlock::formatVersionOffset];
    const bool known = format == tunablesBlock::formatVersion || format == tunablesBlock::formatWithoutSides;
    const auto block = flash.subspan(offset, known ? sizeOf(format) : tunablesBlock::blockSize);
    if (!known || block[tunablesBlock::blockSizeOffset] != sizeOf(format)) {
        char text[160];
        // An older format is a board flashed by an older ventora-board: this one's firmware replaces it.
        if (block[tunablesBlock::formatVersionOffset] < tunablesBlock::formatWithoutSides)
            std::snprintf(text, sizeof text,
                          "an older tunables block (format %u) that this tool does not read: flash the board "
                          "again to bring it up to date",
                          block[tunablesBlock::formatVersionOffset]);
        else
            std::snprintf(text, sizeof text,
                          "a tunables block of format %u (size %u) that this tool does not know: use a newer "
                          "ventora-board",
                          block[tunablesBlock::formatVersionOffset], block[tunablesBlock::blockSizeOffset]);
        reading.problem = text;
        return reading;
    }
    FirmwareTunables tunables;
    tunables.format = format;
    tunables.variant = block[tunablesBlock::variantOffset];
    tunables.version = {block[tunablesBlock::versionMajorOffset], block[tunablesBlock::versionMinorOffset],
                        block[tunablesBlock::versionPatchOffset]};
    for (std::size_t i = 0; i < fieldsOf(format); ++i)
        tunables.values[i] = loadValue(block, tunableFields[i]);
    // What the older firmware does without them: both fans alike, the left one on output 1.
    if (format == tunablesBlock::formatWithoutSides) {
        tunables.values[fieldIndex("side-wind")] = 0;
        tunables.values[fieldIndex("left-fan")] = tunables::leftFanOutput;
    }
    reading.tunables = tunables;
    return reading;
}

std::optional<std::size_t> findTunableField(std::string_view option) {
    for (std::size_t i = 0; i < tunableFields.size(); ++i)
        if (option == tunableFields[i].option) return i;
    return std::nullopt;
}

std::string applyTunables(std::span<std::uint8_t> flash, const std::vector<TunableChange>& changes) {
    if (changes.empty()) return {};
    const TunablesReading reading = readTunables(flash);
    if (!reading.tunables) return "cannot set tunables in this image: " + reading.problem;
    FirmwareTunables tunables = *reading.tunables;
    char text[200];
    for (const TunableChange& change : changes) {
        const TunableField& field = tunableFields[change.field];
        if (change.field >= fieldsOf(tunables.format)) {
            std::snprintf(text, sizeof text,
                          "--%s needs Ventora's firmware 1.4.0 or newer, and this image is %u.%u.%u",
                          field.option, tunables.version[0], tunables.version[1], tunables.version[2]);
            return text;
        }
        if (!usedBy(field, tunables.variant)) {
            std::snprintf(text, sizeof text, "--%s is for %s, and this image drives %s", field.option,
                          field.use == TunableUse::escs     ? "ESCs"
                          : field.use == TunableUse::driver ? "fans on a driver module"
                                                            : "every kind but ESCs",
                          variantName(tunables.variant));
            return text;
        }
        if (change.value < field.range.lowest || change.value > field.range.highest) {
            std::snprintf(text, sizeof text, "--%s must be from %u to %u %s; %lu is out of range%s",
                          field.option, field.range.lowest, field.range.highest, field.unit,
                          static_cast<unsigned long>(change.value),
                          field.offset == tunablesBlock::escOffPulseMicrosecondsOffset
                              ? ": the off pulse must be your ESCs' own stop, 1000 us for most"
                              : "");
            return text;
        }
        tunables.values[change.field] = static_cast<std::uint16_t>(change.value);
    }
    if (tunables.variant == tunablesBlock::escs) {
        const std::uint16_t off = tunables.values[fieldIndex("esc-off-us")];
        const std::uint16_t full = tunables.values[fieldIndex("esc-full-us")];
        if (full < off + tunablesBlock::escPulseSpanAtLeast) {
            std::snprintf(text, sizeof text, "--esc-full-us (%u) must be at least %u above --esc-off-us (%u)",
                          full, tunablesBlock::escPulseSpanAtLeast, off);
            return text;
        }
    }
    const auto block = flash.subspan(*reading.offset, sizeOf(tunables.format));
    for (std::size_t i = 0; i < fieldsOf(tunables.format); ++i)
        storeValue(block, tunableFields[i], tunables.values[i]);
    return {};
}

std::string blockProblem(std::span<const std::uint8_t> flash, std::uint8_t expectedVariant) {
    const TunablesReading reading = readTunables(flash);
    if (!reading.offset) return {};
    if (!reading.tunables) return "its tunables block cannot be checked: " + reading.problem;
    // A format 2 block is checked as the current format with the side's defaults: its fields are
    // the first ones, with the same ranges.
    std::array<std::uint8_t, tunablesBlock::blockSize> whole{};
    std::copy_n(flash.begin() + static_cast<std::ptrdiff_t>(*reading.offset),
                sizeOf(reading.tunables->format), whole.begin());
    if (reading.tunables->format == tunablesBlock::formatWithoutSides) {
        whole[tunablesBlock::formatVersionOffset] = tunablesBlock::formatVersion;
        whole[tunablesBlock::blockSizeOffset] = tunablesBlock::blockSize;
        whole[tunablesBlock::sideWindPercentOffset] = 0;
        whole[tunablesBlock::leftFanOutputOffset] = tunables::leftFanOutput;
    }
    const std::uint8_t* block = whole.data();
    const tunablesBlock::Verdict verdict = tunablesBlock::checkBlock(block, expectedVariant);
    char text[200];
    switch (verdict.problem) {
    case tunablesBlock::whole: return {};
    case tunablesBlock::fieldOutOfRange: {
        const TunableField& field = tunableFields[verdict.field];
        std::snprintf(text, sizeof text, "its tunables block is not whole: --%s is %u, outside %u to %u %s",
                      field.option, reading.tunables->values[verdict.field], field.range.lowest,
                      field.range.highest, field.unit);
        return text;
    }
    case tunablesBlock::pulsesTooClose:
        std::snprintf(
            text, sizeof text,
            "its tunables block is not whole: --esc-full-us (%u) is not at least %u above --esc-off-us (%u)",
            reading.tunables->values[fieldIndex("esc-full-us")], tunablesBlock::escPulseSpanAtLeast,
            reading.tunables->values[fieldIndex("esc-off-us")]);
        return text;
    case tunablesBlock::unknownVariant:
        std::snprintf(text, sizeof text, "its tunables block is not whole: it names output kind %u%s%s",
                      block[tunablesBlock::variantOffset], expectedVariant ? ", not the " : "",
                      expectedVariant ? variantName(expectedVariant) : "");
        return text;
    case tunablesBlock::noMarker:
    case tunablesBlock::unknownFormat: break;
    }
    return "its tunables block is not whole";
}

const char* variantName(std::uint8_t variant) {
    const auto kind = outputKindOf(variant);
    return kind ? kind->shortName : "an output this tool does not know";
}

std::string describeTunables(const FirmwareTunables& tunables) {
    std::string text;
    for (std::size_t i = 0; i < fieldsOf(tunables.format); ++i) {
        if (!usedBy(tunableFields[i], tunables.variant)) continue;
        if (!text.empty()) text += ' ';
        text += "--" + std::string(tunableFields[i].option) + ' ' + std::to_string(tunables.values[i]);
    }
    return text;
}

std::vector<TunableChange> keptTunables(const FirmwareTunables& board, std::uint8_t variant) {
    std::vector<TunableChange> kept;
    for (std::size_t i = 0; i < fieldsOf(board.format); ++i)
        if (usedBy(tunableFields[i], variant)) kept.push_back({i, board.values[i]});
    return kept;
}

bool takesSides(const FirmwareTunables& tunables) {
    return tunables.format >= tunablesBlock::formatVersion;
}
