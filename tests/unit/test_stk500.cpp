// The STK500 session against a bootloader simulated here as the Arduino ones behave: framing,
// page writes and read-back, a page that does not take, and a board pulled out mid-write.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "board_setup/stk500.h"

namespace {

using namespace stk500;

// Answers whole commands from a 32 KB flash. flipAt corrupts what a write stores there;
// silentAfter stops all answers after that many commands, as an unplugged board does.
struct FakeBootloader {
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(0x8000, 0xFF);
    std::deque<std::uint8_t> toHost;
    std::vector<std::uint8_t> pending;
    std::uint32_t address = 0;
    long flipAt = -1;
    int silentAfter = -1;
    int commands = 0;
    int pagesWritten = 0;

    void answer(std::initializer_list<std::uint8_t> payload = {}) {
        toHost.push_back(inSync);
        toHost.insert(toHost.end(), payload.begin(), payload.end());
        toHost.push_back(ok);
    }

    // The command's length once its first bytes are in; 0 while unknown.
    std::size_t lengthOf(const std::vector<std::uint8_t>& bytes) const {
        switch (bytes[0]) {
        case getSync:
        case enterProgramming:
        case leaveProgramming:
        case readSignature: return 2;
        case getParameter: return 3;
        case loadAddress: return 4;
        case readPage: return 5;
        case programPage: return bytes.size() < 3 ? 0 : 5 + (std::size_t{bytes[1]} << 8 | bytes[2]);
        default: return 1;
        }
    }

    void take(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t byte : bytes) {
            pending.push_back(byte);
            const std::size_t length = lengthOf(pending);
            if (length && pending.size() == length) {
                run(pending);
                pending.clear();
            }
        }
    }

    void run(const std::vector<std::uint8_t>& command) {
        if (silentAfter >= 0 && commands >= silentAfter) return;
        ++commands;
        if (command.back() != crcEop) return;
        switch (command[0]) {
        case getSync:
        case enterProgramming:
        case leaveProgramming: answer(); break;
        case readSignature: answer({0x1E, 0x95, 0x0F}); break;
        case getParameter: answer({4}); break;
        case loadAddress:
            address = (std::uint32_t{command[1]} | std::uint32_t{command[2]} << 8) * 2;
            answer();
            break;
        case programPage: {
            const std::size_t size = std::size_t{command[1]} << 8 | command[2];
            for (std::size_t i = 0; i < size; ++i)
                flash[address + i] = command[4 + i];
            if (flipAt >= address && flipAt < static_cast<long>(address + size))
                flash[static_cast<std::size_t>(flipAt)] ^= 0x01;
            ++pagesWritten;
            answer();
            break;
        }
        case readPage: {
            const std::size_t size = std::size_t{command[1]} << 8 | command[2];
            toHost.push_back(inSync);
            toHost.insert(toHost.end(), flash.begin() + address,
                          flash.begin() + static_cast<long>(address + size));
            toHost.push_back(ok);
            break;
        }
        }
    }

    Link link() {
        return {[this](std::span<const std::uint8_t> bytes) {
                    take(bytes);
                    return true;
                },
                [this](std::size_t count, unsigned) {
                    std::vector<std::uint8_t> bytes;
                    while (bytes.size() < count && !toHost.empty()) {
                        bytes.push_back(toHost.front());
                        toHost.pop_front();
                    }
                    return bytes;
                },
                [this] { toHost.clear(); }};
    }
};

FlashImage imageOf(std::size_t size, std::size_t gapStart = 0, std::size_t gapEnd = 0) {
    FlashImage image;
    image.bytes.resize(size);
    image.held.resize(size, true);
    for (std::size_t i = 0; i < size; ++i)
        image.bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (std::size_t i = gapStart; i < gapEnd; ++i) {
        image.bytes[i] = 0xFF;
        image.held[i] = false;
    }
    return image;
}

TEST(Stk500, CommandsAreFramedAsTheBootloadersReadThem) {
    EXPECT_EQ(loadAddressCommand(0x7E00), (std::vector<std::uint8_t>{0x55, 0x00, 0x3F, 0x20}));
    EXPECT_EQ(readPageCommand(128), (std::vector<std::uint8_t>{0x74, 0x00, 0x80, 'F', 0x20}));
    const std::vector<std::uint8_t> page(128, 0xAA);
    const auto command = programPageCommand(page);
    ASSERT_EQ(command.size(), 133u);
    EXPECT_EQ(std::vector<std::uint8_t>(command.begin(), command.begin() + 4),
              (std::vector<std::uint8_t>{0x64, 0, 0x80, 'F'}));
    EXPECT_EQ(command.back(), 0x20);
}

TEST(Stk500, AnAnswerCountsOnlyWithItsFrame) {
    struct Case {
        std::vector<std::uint8_t> answer;
        std::size_t payload;
        bool framed;
    } cases[] = {
        {{0x14, 0x10}, 0, true},
        {{0x14, 1, 2, 3, 0x10}, 3, true},
        {{0x14}, 0, false},
        {{0x15, 0x10}, 0, false},
        {{0x14, 0x11}, 0, false},
        {{0x14, 1, 2, 0x10}, 3, false},
        {{0x14, 1, 2, 3, 4, 0x10}, 3, false},
        {{}, 0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unframe(c.answer, c.payload).has_value(), c.framed) << c.answer.size() << " bytes";
}

TEST(Stk500, WritesEveryHeldPageAndReadsItBack) {
    struct Case {
        const char* what;
        FlashImage image;
        std::size_t pages;
    } cases[] = {
        {"whole pages", imageOf(0x300), 6},
        {"a last page padded with erased bytes", imageOf(0x2C5), 6},
        {"a page no record holds is left alone", imageOf(0x300, 0x100, 0x180), 5},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        board.flash[0x100] = 0x42; // an earlier program's byte, in the page no record holds
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        const ProgramResult result = programImage(link, c.image, [](std::size_t, std::size_t) {});
        EXPECT_EQ(result.outcome, ProgramResult::written) << c.what;
        EXPECT_EQ(result.pages, c.pages) << c.what;
        // Held bytes as the image has them, the rest as the board had them.
        for (std::size_t i = 0; i < c.image.end(); ++i) {
            const int expected = c.image.held[i] ? c.image.bytes[i] : i == 0x100 ? 0x42 : 0xFF;
            ASSERT_EQ(board.flash[i], expected) << c.what << " at " << i;
        }
        const std::size_t paddedEnd = (c.image.end() + pageSize - 1) / pageSize * pageSize;
        for (std::size_t i = c.image.end(); i < paddedEnd; ++i)
            EXPECT_EQ(board.flash[i], 0xFF) << c.what;
    }
}

TEST(Stk500, ReportsWhereAWriteWentWrong) {
    struct Case {
        const char* what;
        long flipAt;
        int silentAfter;
        ProgramResult::Outcome outcome;
        std::uint32_t address;
        bool vectorsErased; // page 0 left erased, so the board starts its bootloader
    } cases[] = {
        // Two commands a page: page 0 erased, then pages 0x80 and 0x100.
        {"a byte that does not take", 0x1A5, -1, ProgramResult::mismatch, 0x180, false},
        {"unplugged while writing", -1, 2 + 2 * 3, ProgramResult::noAnswer, 0x180, true},
        {"unplugged before the vectors", -1, 2 + 2 * 6, ProgramResult::noAnswer, 0x0, true},
        {"unplugged while reading back", -1, 2 + 2 * 7 + 1, ProgramResult::noAnswer, 0x0, false},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        // An earlier program's vectors, which must not stay beside the new code.
        std::fill_n(board.flash.begin(), pageSize, 0x0C);
        board.flipAt = c.flipAt;
        board.silentAfter = c.silentAfter;
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        const ProgramResult result = programImage(link, imageOf(0x300), [](std::size_t, std::size_t) {});
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.address, c.address) << c.what;
        const bool vectorsErased = std::all_of(board.flash.begin(), board.flash.begin() + pageSize,
                                               [](std::uint8_t byte) { return byte == 0xFF; });
        EXPECT_EQ(vectorsErased, c.vectorsErased) << c.what;
        if (c.outcome == ProgramResult::mismatch) {
            EXPECT_EQ(result.firstBad, 0x1A5u);
            EXPECT_EQ(result.wrote ^ result.read, 0x01);
        }
    }
}

TEST(Stk500, SynchronisingNeedsTwoAnswersInARow) {
    FakeBootloader silent;
    silent.silentAfter = 0;
    Link silentLink = silent.link();
    EXPECT_FALSE(synchronise(silentLink, 5));

    FakeBootloader once;
    once.silentAfter = 1;
    Link onceLink = once.link();
    EXPECT_FALSE(synchronise(onceLink, 5));
}

} // namespace
