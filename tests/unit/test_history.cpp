// The History's bound: it grows by one level per tick up to its capacity, then drops the oldest.
#include "fan/history.h"

#include <gtest/gtest.h>

namespace {

FanLevel levelOfTick(std::size_t tick) {
    return static_cast<FanLevel>(tick % 80);
}

TEST(History, HoldsAtMost464LevelsAndDropsTheOldest) {
    History history;
    const struct {
        std::size_t pushes;
        std::size_t size;
        std::size_t oldestTick; // the tick whose level is at the front
    } checkpoints[] = {{1, 1, 0}, {463, 463, 0}, {464, 464, 0}, {465, 464, 1}, {1000, 464, 536}};
    std::size_t pushed = 0;
    for (const auto& checkpoint : checkpoints) {
        for (; pushed < checkpoint.pushes; ++pushed)
            appendHistory(history, levelOfTick(pushed));
        SCOPED_TRACE(testing::Message() << "after " << pushed << " pushes");
        ASSERT_EQ(history.size(), checkpoint.size);
        EXPECT_EQ(history.front(), levelOfTick(checkpoint.oldestTick));
        EXPECT_EQ(history.back(), levelOfTick(pushed - 1));
    }
}

} // namespace
