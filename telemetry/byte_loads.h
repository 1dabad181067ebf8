// Bounds-checked little-endian loads from a view of a game's bytes, for every reader: the pages of
// shared memory and the UDP datagrams alike. A field that does not lie wholly inside the view reads
// as zero (a text as empty), so that neither what a game writes nor how short its section or
// datagram is can make a read leave the view.
#pragma once
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

using PageView = std::span<const std::uint8_t>;

inline bool fieldFits(PageView page, std::size_t offset, std::size_t width) {
    return offset <= page.size() && page.size() - offset >= width;
}

inline std::uint8_t loadU8(PageView page, std::size_t offset) {
    return offset < page.size() ? page[offset] : 0;
}

inline std::uint16_t loadU16(PageView page, std::size_t offset) {
    if (!fieldFits(page, offset, 2)) return 0;
    return static_cast<std::uint16_t>(page[offset] | page[offset + 1] << 8);
}

inline std::uint32_t loadU32(PageView page, std::size_t offset) {
    if (!fieldFits(page, offset, 4)) return 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{page[offset + i]} << (8 * i);
    return value;
}

inline std::int32_t loadI32(PageView page, std::size_t offset) {
    return static_cast<std::int32_t>(loadU32(page, offset));
}

inline float loadFloat(PageView page, std::size_t offset) {
    return std::bit_cast<float>(loadU32(page, offset));
}

inline double loadDouble(PageView page, std::size_t offset) {
    if (!fieldFits(page, offset, 8)) return 0.0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= std::uint64_t{page[offset + i]} << (8 * i);
    return std::bit_cast<double>(value);
}

// An 8-bit text up to its NUL, cut at its room (or the view's end) when it has none.
inline std::string_view loadText(PageView page, std::size_t offset, std::size_t room) {
    if (offset >= page.size()) return {};
    const std::size_t limit = std::min(room, page.size() - offset);
    const auto* first = reinterpret_cast<const char*>(page.data() + offset);
    const auto* nul = static_cast<const char*>(std::memchr(first, 0, limit));
    return {first, nul ? static_cast<std::size_t>(nul - first) : limit};
}

// The offset of element `index` of an array in a page, or SIZE_MAX when that would overflow, so
// that an element index taken from the page can never wrap around to a field inside it.
inline std::size_t elementOffset(std::size_t base, std::size_t index, std::size_t stride) {
    if (index > (SIZE_MAX - base) / stride) return SIZE_MAX;
    return base + index * stride;
}

// Keeps the loads on either side of it in program order, so that a counter read again after the
// fields (to see whether the game rewrote them meanwhile) is really read again. On x86 loads are
// not reordered with one another, so this only stops the compiler.
inline void orderLoads() {
    std::atomic_thread_fence(std::memory_order_acquire);
}
