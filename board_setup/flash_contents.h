// What a board's first two pages of flash say it holds, so that a flash replaces a program that
// is not Ventora's firmware only when the user says so. Platform-neutral.
#pragma once
#include <cstdint>
#include <span>

enum class FlashContents {
    empty,           // every byte erased: nothing to lose
    ventoraFirmware, // the tunables block's marker, whatever the block's format
    cutShort,        // a write of this tool's cut short: page 0 its idle page, before the rest
    anotherProgram,  // a sketch, or another tool's firmware
};

FlashContents classifyFlash(std::span<const std::uint8_t> firstPages);
