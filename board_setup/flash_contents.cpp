// Telling an empty board, Ventora's firmware and another program apart by the first bytes of flash.
#include "board_setup/flash_contents.h"

#include <algorithm>

#include "board_setup/stk500.h"
#include "board_setup/tunables_image.h"

namespace {

bool erased(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0xFF; });
}

} // namespace

FlashContents classifyFlash(std::span<const std::uint8_t> firstPages) {
    if (erased(firstPages)) return FlashContents::empty;
    // The block's marker, whether or not this tool reads its format.
    if (readTunables(firstPages).offset) return FlashContents::ventoraFirmware;
    // This tool writes page 0 last: first erased or as a stub whose reset vector is "rjmp ." (a loop
    // on itself, 0xCFFF), then the other pages. No other writer leaves page 0 so while the pages
    // after it hold code, and a program that starts in a loop on itself does nothing to lose.
    const std::span<const std::uint8_t> page0 =
        firstPages.first(std::min(firstPages.size(), stk500::pageSize));
    if (erased(page0) || (page0.size() >= 2 && page0[0] == 0xFF && page0[1] == 0xCF))
        return FlashContents::cutShort;
    return FlashContents::anotherProgram;
}
