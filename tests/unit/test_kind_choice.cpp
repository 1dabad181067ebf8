// Which firmware kind a flash writes when the user names none, one, or another than the board's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "board_setup/idle_page.h"
#include "board_setup/kind_choice.h"

namespace {

// A board's first two pages: vectors, then a tunables block of the format and variant given.
std::vector<std::uint8_t> boardWith(std::uint8_t format, std::uint8_t variant) {
    std::vector<std::uint8_t> pages(256, 0xFF);
    const std::uint8_t vectors[] = {0x0C, 0x94, 0x42, 0x00};
    std::memcpy(pages.data(), vectors, sizeof vectors);
    std::memcpy(pages.data() + 104, tunablesBlock::marker, sizeof tunablesBlock::marker);
    pages[104 + tunablesBlock::formatVersionOffset] = format;
    pages[104 + tunablesBlock::blockSizeOffset] = tunablesBlock::blockSize;
    pages[104 + tunablesBlock::variantOffset] = variant;
    return pages;
}

std::optional<OutputKind> kind(const char* option) {
    return option ? findOutputKind(option) : std::nullopt;
}

TEST(KindChoice, KeepsTheBoardsKindUnlessAnotherIsAsked) {
    const std::vector<std::uint8_t> empty(256, 0xFF);
    struct Case {
        const char* what;
        std::vector<std::uint8_t> board;
        const char* asked;
        KindChoice::Why why;
        const char* written;
        const char* was;
    } cases[] = {
        {"an L293D board retuned", boardWith(tunablesBlock::formatVersion, tunablesBlock::l293dShield),
         nullptr, KindChoice::kept, "l293d-shield", nullptr},
        {"an ESC board of 1.1.0's block format", boardWith(1, tunablesBlock::escs), nullptr, KindChoice::kept,
         "escs", nullptr},
        {"an empty board", empty, nullptr, KindChoice::defaulted, "pwm-fans", nullptr},
        {"a block naming no kind", boardWith(tunablesBlock::formatVersion, 99), nullptr,
         KindChoice::defaulted, "pwm-fans", nullptr},
        {"the board's own kind asked for",
         boardWith(tunablesBlock::formatVersion, tunablesBlock::monsterMoto), "monster-moto",
         KindChoice::asked, "monster-moto", nullptr},
        {"another kind asked for", boardWith(tunablesBlock::formatVersion, tunablesBlock::l293dShield),
         "pwm-fans", KindChoice::changed, "pwm-fans", "l293d-shield"},
    };
    for (const Case& c : cases) {
        const KindChoice choice = chooseOutputKind(kind(c.asked), c.board);
        EXPECT_EQ(choice.why, c.why) << c.what;
        EXPECT_EQ(std::string(choice.kind.option), c.written) << c.what;
        EXPECT_EQ(std::string(choice.was ? choice.was->option : "none"), c.was ? c.was : "none") << c.what;
    }
}

// A write of ours cut short: page 0 is the idle page, the block gone with it, and page 1 is the
// image's (its first bytes the block's last, as the user tuned them).
TEST(KindChoice, AWriteCutShortKeepsTheKindItsSecondPageHolds) {
    const auto image = [](std::uint8_t variant, std::uint8_t code) {
        std::vector<std::uint8_t> bytes = boardWith(tunablesBlock::formatVersion, variant);
        std::fill(bytes.begin() + 132, bytes.end(), code);
        return bytes;
    };
    const std::vector<BuiltInImage> builtIns{
        {*findOutputKind("pwm-fans"), image(tunablesBlock::pwmFans, 0x11)},
        {*findOutputKind("l293d-shield"), image(tunablesBlock::l293dShield, 0x22)},
        {*findOutputKind("escs"), image(tunablesBlock::escs, 0x22)}};
    const auto cutShort = [&](std::uint8_t code) {
        std::vector<std::uint8_t> pages(idlePage().begin(), idlePage().end());
        pages.resize(256, code);
        pages[128] = 0x28; // a tuned value at the block's end
        return pages;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> board;
        std::vector<BuiltInImage> builtIns;
        KindChoice::Why why;
        const char* written;
    } cases[] = {
        {"page 1 is one image's", cutShort(0x11), builtIns, KindChoice::resumed, "pwm-fans"},
        // An upgrade from an earlier version's firmware cut after the idle page.
        {"page 1 is no image's", cutShort(0x33), builtIns, KindChoice::unknown, "pwm-fans"},
        {"page 1 is two images'", cutShort(0x22), builtIns, KindChoice::unknown, "pwm-fans"},
        {"page 0 another program's, page 1 no image's",
         [&] {
             auto pages = cutShort(0x33);
             std::fill(pages.begin(), pages.begin() + 64, 0x5A);
             return pages;
         }(),
         builtIns, KindChoice::defaulted, "pwm-fans"},
        {"page 0 half-written, page 1 one image's",
         [&] {
             auto pages = cutShort(0x22);
             std::fill(pages.begin(), pages.begin() + 64, 0x5A);
             return pages;
         }(),
         {builtIns[1]},
         KindChoice::resumed,
         "l293d-shield"},
        {"page 1 is one image's, the other gone",
         cutShort(0x22),
         {builtIns[1]},
         KindChoice::resumed,
         "l293d-shield"},
    };
    for (const Case& c : cases) {
        const KindChoice choice = chooseOutputKind(std::nullopt, c.board, c.builtIns);
        EXPECT_EQ(choice.why, c.why) << c.what;
        EXPECT_EQ(std::string(choice.kind.option), c.written) << c.what;
    }
}

} // namespace
