// The corner filter, tick by tick: what reaches the corner byte of a board that takes sides.
#include "fan/corner_wind.h"

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
const std::string hillclimb = "Roadster @ Hillclimb Long";

std::vector<CornerByte> run(const std::vector<float>& ticks) {
    CornerWind wind;
    std::vector<CornerByte> bytes;
    for (float g : ticks)
        bytes.push_back(updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, g}));
    return bytes;
}

constexpr auto right = [](int magnitude) { return static_cast<CornerByte>(0xC0 | magnitude); };
constexpr auto left = [](int magnitude) { return static_cast<CornerByte>(0x80 | magnitude); };
constexpr CornerByte straight = 0x80;

TEST(CornerWind, FollowsTheCornerAndIgnoresWhatIsNoCorner) {
    const std::tuple<const char*, std::vector<float>, std::vector<CornerByte>> cases[] = {
        // Median 0, 1, 1, 1, 1, -1, -1: smoothed 0, 0.6, 0.84, 0.936, 0.974, -0.21, -0.684 g.
        {"a right-hand corner within four ticks, then a flip to the left",
         {1, 1, 1, 1, -1, -1, -1},
         {straight, right(12), right(17), right(19), right(19), left(4), left(14)}},
        {"a one-tick kerb never shows",
         {0, 0, 2.5f, 0, 0},
         {straight, straight, straight, straight, straight}},
        {"a reading that is no number is straight", {notANumber, notANumber}, {straight, straight}},
        {"beyond 6 g is a glitch, straight", {7, 7, 7}, {straight, straight, straight}},
        {"6 g itself is believed and saturates", {6, 6, 6}, {straight, right(63), right(63)}},
        {"0.09 g on the second tick is straight, 0.126 g on the third is not",
         {0.15f, 0.15f, 0.15f},
         {straight, straight, right(3)}},
    };
    for (const auto& [what, ticks, bytes] : cases)
        EXPECT_EQ(run(ticks), bytes) << what;
}

// The corner of the old combo is gone at once: a new combo, or no live game, starts from straight.
TEST(CornerWind, StartsAfreshOnANewComboAndWithNoGameLive) {
    for (const std::string next : {"Kart @ Oval", ""}) {
        CornerWind wind;
        for (int tick = 0; tick < 6; ++tick)
            updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, 1.0f});
        EXPECT_EQ(updateCornerWind(wind, TelemetrySample{next, 100.0f, 1.0f}), straight) << next;
        EXPECT_EQ(updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, 1.0f}), straight) << next;
    }
}

} // namespace
