// The wait after closing a Ventora that drove the board: long enough for any failsafe it may be tuned to.
#include <gtest/gtest.h>

#include "board_setup/failsafe_wait.h"
#include "firmware/tunables_block.h"

namespace {

TEST(FailsafeWait, OutlastsEveryFailsafeABoardMayBeTunedTo) {
    const auto& range = tunablesBlock::failsafeMillisecondsRange;
    struct Case {
        std::uint64_t failsafeMs;
        std::uint64_t sinceClosedMs;
    } cases[] = {
        {range.lowest, 0},
        {range.highest, 0},
        {range.highest, range.highest - 1},
    };
    for (const Case& c : cases) {
        const std::uint64_t wait = failsafeWaitMs(c.sinceClosedMs);
        // The board's fans are off once the line has been silent for its failsafe: the port opens
        // after that, with room for a byte in flight and the board's clock.
        EXPECT_GE(c.sinceClosedMs + wait, c.failsafeMs + 100)
            << c.failsafeMs << " ms, closed " << c.sinceClosedMs;
    }
    // And no wait at all once the longest has passed.
    EXPECT_EQ(failsafeWaitMs(range.highest + 1000), 0u);
}

} // namespace
