// Which firmware kind a flash writes: the one asked for, else the one the board already runs, so
// that retuning a shield board (`flash COM5 --min-duty 40`) does not drive its brake or direction
// pins as 4-pin fan outputs. Platform-neutral.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "board_setup/output_kinds.h"

// The kind a board's tunables block names, in any block format this tool has written (the variant
// numbers never change), or nothing: no block, an unknown format, a number no kind has.
std::optional<OutputKind> kindOnBoard(std::span<const std::uint8_t> firstPages);

struct KindChoice {
    enum Why {
        asked,     // --output or --esc, and the board ran that kind or none
        kept,      // nothing asked: the kind the board runs
        defaulted, // nothing asked, no kind on the board: the 4-pin fans, as scripts expect
        changed,   // asked for another kind than the board runs
    } why = defaulted;
    OutputKind kind = outputKinds.front();
    std::optional<OutputKind> was; // changed: the kind the board ran
};

KindChoice chooseOutputKind(std::optional<OutputKind> asked, std::span<const std::uint8_t> firstPages);
