// The page 0 a write puts on the board while the rest of the image goes in, and again after a page
// reads back wrong: a board reset into it runs nothing that can drive a fan. Platform-neutral.
#pragma once
#include <cstdint>
#include <span>

// The whole 128-byte page 0, as written and as it must read back.
std::span<const std::uint8_t> idlePage();
// Whether a page 0 read from a board is the idle page, every byte of it.
bool isIdlePage(std::span<const std::uint8_t> page0);
// The idle page an earlier version of this tool wrote (1.3.0's, without the bus clear): a board
// holding it had a write of that version's cut short.
std::span<const std::uint8_t> earlierIdlePage();
