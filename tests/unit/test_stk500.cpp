// The STK500 session against a bootloader simulated here as the Arduino ones behave: framing,
// page writes and read-back, a page that does not take, and a board pulled out mid-write.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <thread>
#include <vector>

#include "board_setup/idle_page.h"
#include "board_setup/stk500.h"
#include "board_setup/write_stop.h"

namespace stk500 {
// Readable names in a failure's message.
void PrintTo(BoardLeft left, std::ostream* out) {
    static const char* const names[] = {"asItWas", "runsNothing", "unsure", "theImage"};
    *out << names[static_cast<int>(left)];
}
void PrintTo(ProgramResult::Outcome outcome, std::ostream* out) {
    static const char* const names[] = {"written", "noAnswer", "mismatch", "stopped"};
    *out << names[outcome];
}
} // namespace stk500

namespace {

using namespace stk500;

// Answers whole commands from a 32 KB flash. flipAt corrupts what every write stores there, as a
// worn cell does; silentAfter stops all answers after that many commands, as an unplugged board
// does; everyOtherSync leaves every second GET_SYNC unanswered, as a board that answers only now
// and then.
struct FakeBootloader {
    std::vector<std::uint8_t> flash = std::vector<std::uint8_t>(0x8000, 0xFF);
    std::deque<std::uint8_t> toHost;
    std::vector<std::uint8_t> pending;
    std::uint32_t address = 0;
    long flipAt = -1;
    int silentAfter = -1;
    bool everyOtherSync = false;
    int syncs = 0;
    int commands = 0;
    int pagesWritten = 0;
    std::vector<std::uint32_t> writtenAt; // each page write's address, in order
    std::function<void(std::uint32_t)> beforeWrite;

    // Plugged back in, or reset after a stall: it answers again, from a quiet line.
    void comeBack() {
        silentAfter = -1;
        pending.clear();
        toHost.clear();
    }

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
            if (!everyOtherSync || syncs++ % 2 == 0) answer();
            break;
        case enterProgramming:
        case leaveProgramming: answer(); break;
        case readSignature: answer({0x1E, 0x95, 0x0F}); break;
        case getParameter: answer({4}); break;
        case loadAddress:
            address = (std::uint32_t{command[1]} | std::uint32_t{command[2]} << 8) * 2;
            answer();
            break;
        case programPage: {
            if (beforeWrite) beforeWrite(address);
            writtenAt.push_back(address);
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

const std::vector<std::uint8_t> oldVectors(2, 0x0C);
// The first two bytes of page 0 each case compares.
const std::vector<std::uint8_t> idle(idlePage().begin(), idlePage().begin() + 2);

TEST(Stk500, WritesEveryHeldPageAndReadsItBackWithPageZeroLast) {
    struct Case {
        const char* what;
        FlashImage image;
        std::size_t pages;
    } cases[] = {
        {"whole pages", imageOf(0x300), 6},
        {"a last page padded with erased bytes", imageOf(0x2C5), 6},
        {"a page no record holds is left alone", imageOf(0x300, 0x100, 0x180), 5},
        {"an image that leaves page 0 alone", imageOf(0x300, 0, 0x80), 5},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        std::fill_n(board.flash.begin(), pageSize, 0x0C); // an earlier program's vectors
        board.flash[0x100] = 0x42;                        // and a byte of its code
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        std::vector<BoardLeft> told;
        std::size_t steps = 0;
        const ProgramResult result =
            programImage(link, c.image, [&](std::size_t done, std::size_t all, BoardLeft left) {
                EXPECT_EQ(done, ++steps) << c.what;
                EXPECT_LE(done, all) << c.what;
                if (told.empty() || told.back() != left) told.push_back(left);
                return true;
            });
        EXPECT_EQ(result.outcome, ProgramResult::written) << c.what;
        EXPECT_EQ(result.pages, c.pages) << c.what;
        // Page 0 in doubt while the idle page goes in, then safe while the rest goes in, in doubt
        // again while it is written for real: what a console stop is told.
        const auto first = c.image.held[0] ? told.begin() : told.begin() + 1;
        EXPECT_EQ(std::vector<BoardLeft>(first, told.end()),
                  (std::vector<BoardLeft>{BoardLeft::unsure, BoardLeft::runsNothing, BoardLeft::unsure,
                                          BoardLeft::theImage}))
            << c.what;
        // Held bytes as the image has them, the rest as the board had them.
        for (std::size_t i = 0; i < c.image.end(); ++i) {
            const int expected = c.image.held[i] ? c.image.bytes[i]
                                 : i < pageSize  ? 0x0C
                                 : i == 0x100    ? 0x42
                                                 : 0xFF;
            ASSERT_EQ(board.flash[i], expected) << c.what << " at " << i;
        }
        const std::size_t paddedEnd = (c.image.end() + pageSize - 1) / pageSize * pageSize;
        for (std::size_t i = c.image.end(); i < paddedEnd; ++i)
            EXPECT_EQ(board.flash[i], 0xFF) << c.what;
    }
}

TEST(Stk500, AWriteCutShortOrReadBackWrongLeavesABoardThatRunsNothing) {
    // Two commands for each page written or read, after the two GET_SYNCs: the idle page written
    // and read (3 to 6), pages 0x80 to 0x280 written (7 to 16) and read (17 to 26), page 0 written
    // (27, 28) and read (29, 30).
    struct Case {
        const char* what;
        std::size_t imageSize;
        long flipAt;
        int silentAfter;
        ProgramResult::Outcome outcome;
        std::uint32_t address;
        BoardLeft left;
        std::vector<std::uint8_t> vectors; // what the board's page 0 starts with
    } cases[] = {
        {"unplugged before anything was written", 0x300, -1, 2, ProgramResult::noAnswer, 0x0,
         BoardLeft::asItWas, oldVectors},
        {"unplugged while the idle page goes in", 0x300, -1, 3, ProgramResult::noAnswer, 0x0,
         BoardLeft::unsure, oldVectors},
        {"unplugged once the idle page is in", 0x300, -1, 6, ProgramResult::noAnswer, 0x80,
         BoardLeft::runsNothing, idle},
        {"unplugged while writing", 0x300, -1, 2 + 4 + 2 * 2 + 1, ProgramResult::noAnswer, 0x180,
         BoardLeft::runsNothing, idle},
        {"unplugged while reading back", 0x300, -1, 2 + 4 + 10 + 3, ProgramResult::noAnswer, 0x100,
         BoardLeft::runsNothing, idle},
        {"unplugged just before page 0 is written for real", 0x300, -1, 26, ProgramResult::noAnswer, 0x0,
         BoardLeft::runsNothing, idle},
        {"unplugged while page 0 is written for real", 0x300, -1, 27, ProgramResult::noAnswer, 0x0,
         BoardLeft::unsure, idle},
        {"the first page after the vectors reads back wrong", 0x300, 0x85, -1, ProgramResult::mismatch, 0x80,
         BoardLeft::runsNothing, idle},
        {"a middle page reads back wrong", 0x300, 0x1A5, -1, ProgramResult::mismatch, 0x180,
         BoardLeft::runsNothing, idle},
        {"the last page reads back wrong", 0x300, 0x2FF, -1, ProgramResult::mismatch, 0x280,
         BoardLeft::runsNothing, idle},
        {"the padding of the last page reads back wrong", 0x2C5, 0x2F0, -1, ProgramResult::mismatch, 0x280,
         BoardLeft::runsNothing, idle},
        {"the idle page's first byte does not take",
         0x300,
         0x00,
         -1,
         ProgramResult::mismatch,
         0x0,
         BoardLeft::unsure,
         {static_cast<std::uint8_t>(idlePage()[0] ^ 0x01), idlePage()[1]}},
        {"a byte of the idle page past its vector does not take", 0x300, 0x05, -1, ProgramResult::mismatch,
         0x0, BoardLeft::unsure, idle},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        std::fill_n(board.flash.begin(), pageSize, 0x0C);
        board.flipAt = c.flipAt;
        board.silentAfter = c.silentAfter;
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        const FlashImage image = imageOf(c.imageSize);
        const ProgramResult result =
            programImage(link, image, [](std::size_t, std::size_t, BoardLeft) { return true; });
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.address, c.address) << c.what;
        EXPECT_EQ(result.left, c.left) << c.what;
        EXPECT_EQ(std::vector<std::uint8_t>(board.flash.begin(), board.flash.begin() + 2), c.vectors)
            << c.what;
        if (c.outcome == ProgramResult::mismatch) {
            EXPECT_EQ(result.firstBad, static_cast<std::uint32_t>(c.flipAt)) << c.what;
            EXPECT_EQ(result.wrote ^ result.read, 0x01) << c.what;
        }
    }
}

// Ctrl+C or a closed console asks the write to stop: wherever it is asked, the write ends with the
// board as it was or running nothing, never with page 0 in doubt, or goes on to the whole image.
TEST(Stk500, AStopAskedAnywhereEndsWhereTheBoardRunsNothing) {
    const FlashImage image = imageOf(0x300);
    for (std::size_t askedAt = 1;; ++askedAt) {
        FakeBootloader board;
        std::fill_n(board.flash.begin(), pageSize, 0x0C);
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3));
        std::size_t steps = 0;
        const ProgramResult result =
            programImage(link, image, [&](std::size_t done, std::size_t all, BoardLeft) {
                steps = all;
                return done < askedAt;
            });
        const std::span<const std::uint8_t> page0(board.flash.data(), pageSize);
        if (result.outcome == ProgramResult::written) {
            // Asked only once page 0 was being written for real: it went on to the whole image.
            EXPECT_GE(askedAt, steps - 1);
            EXPECT_EQ(result.left, BoardLeft::theImage);
            break;
        }
        EXPECT_EQ(result.outcome, ProgramResult::stopped) << askedAt;
        EXPECT_EQ(result.left, BoardLeft::runsNothing) << askedAt;
        EXPECT_TRUE(isIdlePage(page0)) << askedAt;
        ASSERT_LT(askedAt, 100u) << "the write never finished";
    }
}

TEST(Stk500, SynchronisingNeedsTwoAnswersInARow) {
    struct Case {
        const char* what;
        int silentAfter;
        bool everyOtherSync;
        bool inSync;
    } cases[] = {
        {"a silent line", 0, false, false},
        {"one answer, then silence", 1, false, false},
        {"every other GET_SYNC answered", -1, true, false},
        {"every GET_SYNC answered", -1, false, true},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        board.silentAfter = c.silentAfter;
        board.everyOtherSync = c.everyOtherSync;
        Link link = board.link();
        EXPECT_EQ(synchronise(link, 5), c.inSync) << c.what;
    }
}

// A page got no answer (the PC stalled, the board reset into page 0's loop) and the board is reset
// for a second try: a stop asked before or during that reconnect writes nothing more, and page 0
// already idle is not written again.
TEST(Stk500, AWriteCutAndRetriedHonoursAStopAndWritesTheIdlePageOnce) {
    enum Stop { never, beforeReconnect, duringReconnect };
    struct Case {
        const char* what;
        int silentAfter; // commands answered before the cut, the two GET_SYNCs included
        FlashImage image;
        Stop stop;
        ProgramResult::Outcome outcome;
        BoardLeft left;
        std::vector<std::uint32_t> writtenAfterCut;
    } cases[] = {
        {"the board comes back",
         8,
         imageOf(0x300),
         never,
         ProgramResult::written,
         BoardLeft::theImage,
         {0x80, 0x100, 0x180, 0x200, 0x280, 0x0}},
        {"a stop asked before the reconnect",
         8,
         imageOf(0x300),
         beforeReconnect,
         ProgramResult::stopped,
         BoardLeft::runsNothing,
         {}},
        {"a stop asked during the reconnect, the board back",
         8,
         imageOf(0x300),
         duringReconnect,
         ProgramResult::stopped,
         BoardLeft::runsNothing,
         {}},
        {"cut before the idle page took",
         3,
         imageOf(0x300),
         never,
         ProgramResult::written,
         BoardLeft::theImage,
         {0x0, 0x80, 0x100, 0x180, 0x200, 0x280, 0x0}},
        {"an image that leaves page 0 alone",
         10,
         imageOf(0x300, 0, 0x80),
         never,
         ProgramResult::written,
         BoardLeft::theImage,
         {0x80, 0x100, 0x180, 0x200, 0x280, 0x0}},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        std::fill_n(board.flash.begin(), pageSize, 0x0C);
        board.silentAfter = c.silentAfter;
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        bool stop = false;
        std::size_t cutAt = 0;
        int reconnects = 0;
        const ProgramResult result = programImageOrRetry(
            link, c.image, [&](std::size_t, std::size_t, BoardLeft) { return !stop; },
            [&] {
                if (c.stop == beforeReconnect) stop = true;
                return stop;
            },
            [&](const ProgramResult&) {
                ++reconnects;
                cutAt = board.writtenAt.size();
                if (c.stop == duringReconnect) stop = true;
                board.comeBack();
                return true;
            });
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.left, c.left) << c.what;
        EXPECT_EQ(reconnects, c.stop == beforeReconnect ? 0 : 1) << c.what;
        if (c.stop != beforeReconnect) {
            EXPECT_EQ(std::vector<std::uint32_t>(board.writtenAt.begin() + static_cast<long>(cutAt),
                                                 board.writtenAt.end()),
                      c.writtenAfterCut)
                << c.what;
        }
        if (c.outcome == ProgramResult::written)
            for (std::size_t i = 0; i < c.image.end(); ++i)
                ASSERT_EQ(board.flash[i], c.image.held[i] ? c.image.bytes[i] : 0x0C) << c.what << " at " << i;
        else
            EXPECT_TRUE(isIdlePage(std::span<const std::uint8_t>(board.flash.data(), pageSize))) << c.what;
    }
}

// What the console handler does while a write runs on another thread, as Ctrl+C or a closed
// console window does it: the write stops at its next point where the board runs nothing and
// says so before the handler returns, or finishes page 0 once that is under way.
TEST(WriteStop, AStopFromAnotherThreadEndsTheWriteWhereTheBoardRunsNothing) {
    using namespace std::chrono_literals;
    struct Case {
        const char* what;
        std::uint32_t askedAtWriteOf; // the page whose write command the stop meets
        int writesOfPage0Before;      // ... after this many writes of page 0
        ProgramResult::Outcome outcome;
        BoardLeft left;
    } cases[] = {
        {"asked while the pages go in", 0x180, 1, ProgramResult::stopped, BoardLeft::runsNothing},
        {"asked while page 0 goes in for real", 0x0, 1, ProgramResult::written, BoardLeft::theImage},
    };
    for (const Case& c : cases) {
        FakeBootloader board;
        Link link = board.link();
        ASSERT_TRUE(synchronise(link, 3)) << c.what;
        WriteStop stop;
        std::atomic<bool> reached{false};
        int page0Writes = 0;
        // The scripted write halts at the page until the stop has been asked, a guard's time at most.
        board.beforeWrite = [&](std::uint32_t address) {
            if (address != c.askedAtWriteOf || (address == 0 && page0Writes++ != c.writesOfPage0Before))
                return;
            reached = true;
            for (const auto guard = std::chrono::steady_clock::now() + 5s;
                 !stopAsked(stop) && std::chrono::steady_clock::now() < guard;)
                std::this_thread::sleep_for(1ms);
        };
        ProgramResult result;
        beginWrite(stop);
        std::thread writer([&] {
            result = programImage(link, imageOf(0x300),
                                  [&](std::size_t, std::size_t, BoardLeft) { return !stopAsked(stop); });
            endWrite(stop); // the outcome said
        });
        for (const auto guard = std::chrono::steady_clock::now() + 5s;
             !reached && std::chrono::steady_clock::now() < guard;)
            std::this_thread::sleep_for(1ms);
        EXPECT_EQ(stopWriteAndWait(stop, stopWaitLimit), StopWait::ended) << c.what;
        writer.join();
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.left, c.left) << c.what;
    }
}

} // namespace
