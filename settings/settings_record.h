// The settings record, Ventora's only persistent state, and its 20-byte file encoding.
// Platform-neutral: the file's byte layout lives here so that it is tested natively.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

struct SettingsRecord {
    std::int32_t portIndex = 0;   // 0 is COM1
    std::int32_t speedOff = 26;   // fan level while no game is live
    std::int32_t speedMin = 0;    // fan level at standstill
    std::int32_t speedMax = 79;   // fan level at the maximum car speed
    std::int32_t maxCarSpeed = 0; // km/h; 0 learns the maximum per combo
};

inline constexpr std::size_t settingsFileSize = 20;

// Five little-endian two's-complement 32-bit integers in field order, no header.
std::array<std::uint8_t, settingsFileSize> encodeSettings(const SettingsRecord& record);

// The record with the leading min(size, 20) bytes of the file laid over it, as a short file
// replaces only the bytes it holds; bytes past the twentieth are ignored.
SettingsRecord overlaySettings(const SettingsRecord& record, std::span<const std::uint8_t> fileBytes);
