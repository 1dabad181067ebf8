// Little-endian stores into a stand-in game's page that drop whatever falls beyond its end.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

inline void storeU8(std::span<std::uint8_t> page, std::size_t offset, std::uint8_t value) {
    if (offset < page.size()) page[offset] = value;
}

inline void storeU32(std::span<std::uint8_t> page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        storeU8(page, offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void storeU64(std::span<std::uint8_t> page, std::size_t offset, std::uint64_t value) {
    for (std::size_t i = 0; i < 8; ++i)
        storeU8(page, offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

inline void storeFloat(std::span<std::uint8_t> page, std::size_t offset, float value) {
    storeU32(page, offset, std::bit_cast<std::uint32_t>(value));
}

// A NUL-terminated text in its room, cut to leave room for the NUL, the rest of the room cleared
// so that no part of a longer earlier name is left behind.
inline void storeText(std::span<std::uint8_t> page, std::size_t offset, std::size_t room, std::string_view text) {
    text = text.substr(0, room - 1);
    for (std::size_t i = 0; i < room; ++i)
        storeU8(page, offset + i, i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
}
