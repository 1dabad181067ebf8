// Telling an empty board, Ventora's firmware and another program apart by the first bytes of flash.
#include "board_setup/flash_contents.h"

#include <algorithm>

#include "board_setup/idle_page.h"
#include "board_setup/stk500.h"
#include "board_setup/tunables_image.h"

namespace {

bool erased(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0xFF; });
}

bool isOlderIdlePage(std::span<const std::uint8_t> page0) {
    return page0.size() == stk500::pageSize && page0[0] == 0xFF && page0[1] == 0xCF &&
           erased(page0.subspan(2));
}

} // namespace

FlashContents classifyFlash(std::span<const std::uint8_t> firstPages) {
    if (erased(firstPages)) return FlashContents::empty;
    // The block's marker, whether or not this tool reads its format.
    if (readTunables(firstPages).offset) return FlashContents::ventoraFirmware;
    // This tool writes page 0 last: first its idle page, then the other pages. No other writer
    // leaves that page, and it does nothing to lose. An erased page 0 above code is not ours: the
    // bootloaders erase a page as its write command arrives, so another tool's upload cut during
    // its first page leaves just that. 1.2.0 wrote "rjmp ." (0xCFFF) on an erased page instead, and 1.3.0
    // an idle page without the bus clear.
    const std::span<const std::uint8_t> page0 =
        firstPages.first(std::min(firstPages.size(), stk500::pageSize));
    if (isIdlePage(page0) || std::ranges::equal(page0, earlierIdlePage()) || isOlderIdlePage(page0))
        return FlashContents::cutShort;
    return FlashContents::anotherProgram;
}
