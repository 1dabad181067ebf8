// Keeping the kind a board runs unless another is asked for.
#include "board_setup/kind_choice.h"

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

KindChoice chooseOutputKind(std::optional<OutputKind> asked, std::span<const std::uint8_t> firstPages) {
    const std::optional<OutputKind> onBoard = kindOnBoard(firstPages);
    if (asked) {
        if (onBoard && onBoard->variant != asked->variant) return {KindChoice::changed, *asked, onBoard};
        return {KindChoice::asked, *asked, std::nullopt};
    }
    if (onBoard) return {KindChoice::kept, *onBoard, std::nullopt};
    return {KindChoice::defaulted, outputKinds.front(), std::nullopt};
}
