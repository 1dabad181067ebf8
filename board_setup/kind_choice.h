// Which firmware kind a flash writes: the one asked for, else the one the board already runs, so
// that retuning a shield board (`flash COM5 --min-duty 40`) does not drive its brake or direction
// pins as 4-pin fan outputs. Platform-neutral.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

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
        resumed,   // nothing asked, a write of ours cut short: the kind its pages after page 0 are
        unknown,   // nothing asked, a write of ours cut short whose kind no page says (an upgrade from
                   // an earlier version's firmware, say): only --output may say it, never a default
    } why = defaulted;
    OutputKind kind = outputKinds.front();
    std::optional<OutputKind> was; // changed: the kind the board ran
};

// A firmware image this tool carries, as bytes from address 0.
struct BuiltInImage {
    OutputKind kind;
    std::vector<std::uint8_t> bytes;
};

// A write of ours cut short has the idle page (or, cut while page 0 itself went in, a half-written
// page) where page 0 and its tunables block were: the kind is then the built-in image whose code
// after its block the board's second page holds (the pages go in in order, so the write's own, or
// the earlier firmware's). Nothing when no image, or more than one, matches.
std::optional<OutputKind> kindOfCutShortWrite(std::span<const std::uint8_t> firstPages,
                                              const std::vector<BuiltInImage>& builtIns);

KindChoice chooseOutputKind(std::optional<OutputKind> asked, std::span<const std::uint8_t> firstPages,
                            const std::vector<BuiltInImage>& builtIns = {});
