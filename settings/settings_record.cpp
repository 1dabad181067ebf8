// The 20-byte settings file: five little-endian 32-bit integers, written and read byte by byte
// so that the layout never depends on how a compiler lays out the record.
#include "settings/settings_record.h"

#include <algorithm>

namespace {

constexpr std::size_t fieldCount = settingsFileSize / 4;

std::array<std::int32_t*, fieldCount> fieldsOf(SettingsRecord& record) {
    return {&record.portIndex, &record.speedOff, &record.speedMin, &record.speedMax, &record.maxCarSpeed};
}

} // namespace

std::array<std::uint8_t, settingsFileSize> encodeSettings(const SettingsRecord& record) {
    SettingsRecord copy = record;
    std::array<std::uint8_t, settingsFileSize> bytes{};
    std::size_t at = 0;
    for (std::int32_t* field : fieldsOf(copy)) {
        auto value = static_cast<std::uint32_t>(*field);
        for (int shift = 0; shift < 32; shift += 8)
            bytes[at++] = static_cast<std::uint8_t>(value >> shift);
    }
    return bytes;
}

SettingsRecord overlaySettings(const SettingsRecord& record, std::span<const std::uint8_t> fileBytes) {
    // Lay the file over the record's own bytes, so that a short file replaces exactly the leading
    // bytes it holds, down to part of a field.
    std::array<std::uint8_t, settingsFileSize> bytes = encodeSettings(record);
    std::copy_n(fileBytes.begin(), std::min(fileBytes.size(), settingsFileSize), bytes.begin());

    SettingsRecord result;
    std::size_t at = 0;
    for (std::int32_t* field : fieldsOf(result)) {
        std::uint32_t value = 0;
        for (int shift = 0; shift < 32; shift += 8)
            value |= std::uint32_t{bytes[at++]} << shift;
        *field = static_cast<std::int32_t>(value);
    }
    return result;
}
