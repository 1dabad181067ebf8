// What the tool reads a board's first two pages as, which decides whether a flash must be asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "board_setup/flash_contents.h"
#include "board_setup/idle_page.h"

namespace {

struct Bytes {
    std::size_t at;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> firstPages(std::initializer_list<Bytes> written) {
    std::vector<std::uint8_t> flash(256, 0xFF);
    for (const Bytes& chunk : written)
        std::memcpy(flash.data() + chunk.at, chunk.bytes.data(), chunk.bytes.size());
    return flash;
}

const std::vector<std::uint8_t> vectors{0x0C, 0x94, 0x42, 0x00, 0x0C, 0x94, 0x61, 0x00}; // jmp, jmp
const std::vector<std::uint8_t> marker{'V', 'E', 'N', 'T', 'O', 'R', 'A', 0};
const std::vector<std::uint8_t> code{0x11, 0x24, 0x1F, 0xBE, 0xCF, 0xEF}; // clr r1, out SREG, ldi
const std::vector<std::uint8_t> rjmpToItself{0xFF, 0xCF};
const std::vector<std::uint8_t> idle(idlePage().begin(), idlePage().end());

std::vector<std::uint8_t> idleWithByte(std::size_t at, std::uint8_t byte) {
    std::vector<std::uint8_t> page = idle;
    page[at] = byte;
    return page;
}

TEST(FlashContents, TellEmptyOursCutShortAndAnotherProgram) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> flash;
        FlashContents contents;
    } cases[] = {
        {"erased", firstPages({}), FlashContents::empty},
        {"Ventora's block after the vectors", firstPages({{0, vectors}, {104, marker}, {112, {2, 28}}}),
         FlashContents::ventoraFirmware},
        {"a block of a format this tool does not know",
         firstPages({{0, vectors}, {104, marker}, {112, {9, 40}}}), FlashContents::ventoraFirmware},
        {"the marker in the second page", firstPages({{0, vectors}, {200, marker}}),
         FlashContents::ventoraFirmware},
        {"the marker ending on the last byte read", firstPages({{0, vectors}, {248, marker}}),
         FlashContents::ventoraFirmware},
        {"the marker cut off at the end", firstPages({{0, vectors}, {250, {'V', 'E', 'N', 'T', 'O', 'R'}}}),
         FlashContents::anotherProgram},
        {"page 0 the idle page, page 1 written", firstPages({{0, idle}, {128, code}}),
         FlashContents::cutShort},
        {"page 0 the idle page, page 1 erased", firstPages({{0, idle}}), FlashContents::cutShort},
        {"page 0 an older tool's stub looping on itself", firstPages({{0, rjmpToItself}, {128, code}}),
         FlashContents::cutShort},
        {"page 0 1.3.0's idle page, without the bus clear",
         firstPages({{0, {earlierIdlePage().begin(), earlierIdlePage().end()}}, {128, code}}),
         FlashContents::cutShort},
        // Another tool's upload cut during its first page: the bootloader erased page 0 as the
        // write command came.
        {"page 0 erased, page 1 written", firstPages({{128, code}}), FlashContents::anotherProgram},
        {"the idle page with its last byte erased", firstPages({{0, idleWithByte(0x7D, 0xFF)}, {128, code}}),
         FlashContents::anotherProgram},
        {"the idle page with a byte after its code written",
         firstPages({{0, idleWithByte(0x7E, 0x00)}, {128, code}}), FlashContents::anotherProgram},
        {"the older stub with a byte after it written",
         firstPages({{0, rjmpToItself}, {2, {0x00}}, {128, code}}), FlashContents::anotherProgram},
        {"a sketch", firstPages({{0, vectors}, {104, code}}), FlashContents::anotherProgram},
        {"a sketch that fills only page 0", firstPages({{0, vectors}}), FlashContents::anotherProgram},
        {"one byte in page 0", firstPages({{127, {0x00}}}), FlashContents::anotherProgram},
        {"the stub's bytes the other way round", firstPages({{0, {0xCF, 0xFF}}, {128, code}}),
         FlashContents::anotherProgram},
    };
    for (const Case& c : cases)
        EXPECT_EQ(classifyFlash(c.flash), c.contents) << c.what;
}

} // namespace
