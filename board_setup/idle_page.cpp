// The idle page 0: its reset vector is `rjmp .`, a jump to itself, and the rest is erased. A board
// reset into it loops there with every pin an input (its reset state), so it runs neither its old
// program nor part of the new one until page 0 is written for real; the bootloader, started first
// by every reset, still answers.
#include "board_setup/idle_page.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::size_t pageSize = 128;

constexpr std::array<std::uint8_t, pageSize> page = [] {
    std::array<std::uint8_t, pageSize> bytes{};
    bytes.fill(0xFF);
    bytes[0] = 0xFF; // rjmp . (0xCFFF), little-endian
    bytes[1] = 0xCF;
    return bytes;
}();

} // namespace

std::span<const std::uint8_t> idlePage() {
    return page;
}

bool isIdlePage(std::span<const std::uint8_t> page0) {
    return std::ranges::equal(page0, page);
}
