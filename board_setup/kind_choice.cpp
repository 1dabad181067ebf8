// Keeping the kind a board runs unless another is asked for.
#include "board_setup/kind_choice.h"

#include <algorithm>

#include "board_setup/flash_contents.h"
#include "board_setup/stk500.h"
#include "board_setup/tunables_image.h"

std::optional<OutputKind> kindOnBoard(std::span<const std::uint8_t> firstPages) {
    const TunablesReading reading = readTunables(firstPages);
    if (!reading.offset || *reading.offset + tunablesBlock::blockSize > firstPages.size())
        return std::nullopt;
    const std::uint8_t* block = firstPages.data() + *reading.offset;
    // An older format (a 1.1.0 board, its ESCs or fans) names its kind at the same place, by the
    // same numbers; a newer one may not.
    const std::uint8_t format = block[tunablesBlock::formatVersionOffset];
    if (format < 1 || format > tunablesBlock::formatVersion) return std::nullopt;
    return outputKindOf(block[tunablesBlock::variantOffset]);
}

std::optional<OutputKind> kindOfCutShortWrite(std::span<const std::uint8_t> firstPages,
                                              const std::vector<BuiltInImage>& builtIns) {
    std::optional<OutputKind> found;
    for (const BuiltInImage& image : builtIns) {
        const TunablesReading reading = readTunables(image.bytes);
        if (!reading.offset) continue;
        // Past the block, whose values the user's tunables change; page 0 is the idle page now.
        const std::size_t from = std::max(stk500::pageSize, *reading.offset + tunablesBlock::blockSize);
        const std::size_t to = std::min(firstPages.size(), image.bytes.size());
        if (from >= to || !std::equal(firstPages.begin() + static_cast<std::ptrdiff_t>(from),
                                      firstPages.begin() + static_cast<std::ptrdiff_t>(to),
                                      image.bytes.begin() + static_cast<std::ptrdiff_t>(from)))
            continue;
        if (found) return std::nullopt;
        found = image.kind;
    }
    return found;
}

KindChoice chooseOutputKind(std::optional<OutputKind> asked, std::span<const std::uint8_t> firstPages,
                            const std::vector<BuiltInImage>& builtIns) {
    const std::optional<OutputKind> onBoard = kindOnBoard(firstPages);
    if (asked) {
        if (onBoard && onBoard->variant != asked->variant) return {KindChoice::changed, *asked, onBoard};
        return {KindChoice::asked, *asked, std::nullopt};
    }
    if (onBoard) return {KindChoice::kept, *onBoard, std::nullopt};
    // A write cut short while page 0 itself went in leaves that page half-written, which reads as
    // another program's: the pages after it still say which of ours it was, and another program's
    // code never matches one of our images page for page.
    const FlashContents contents = classifyFlash(firstPages);
    if (contents != FlashContents::empty)
        if (const auto cut = kindOfCutShortWrite(firstPages, builtIns))
            return {KindChoice::resumed, *cut, std::nullopt};
    // Our idle page over pages no image of ours holds: the write was of some kind, very likely a
    // shield's, and the 4-pin fans' pins would drive its brakes and directions.
    if (contents == FlashContents::cutShort) return {KindChoice::unknown, outputKinds.front(), std::nullopt};
    return {KindChoice::defaulted, outputKinds.front(), std::nullopt};
}
