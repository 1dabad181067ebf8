// The corner filter, tick by tick: what reaches the corner byte of a board that takes sides.
#include "fan/corner_wind.h"

#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
const std::string hillclimb = "Roadster @ Hillclimb Long";

std::vector<CornerByte> run(const std::vector<float>& ticks, const std::string& combo = hillclimb) {
    CornerWind wind;
    std::vector<CornerByte> bytes;
    for (float g : ticks)
        bytes.push_back(updateCornerWind(wind, TelemetrySample{combo, 100.0f, g}));
    return bytes;
}

constexpr CornerByte right(int magnitude) {
    return static_cast<CornerByte>(0x80 | 0x40 | magnitude);
}
constexpr CornerByte left(int magnitude) {
    return static_cast<CornerByte>(0x80 | magnitude);
}
constexpr CornerByte straight = 0x80;

TEST(CornerWind, FollowsTheCornerAndIgnoresWhatIsNoCorner) {
    struct Case {
        const char* what;
        std::vector<float> ticks;
        std::vector<CornerByte> bytes;
    };
    const Case cases[] = {
        // Median 0, 1, 1, 1: smoothed 0, 0.6, 0.84, 0.936 g, in steps of 0.05 g.
        {"a steady right-hand corner shows within four ticks",
         {1, 1, 1, 1},
         {straight, right(12), right(17), right(19)}},
        {"a left-hand corner is its mirror", {-1, -1, -1, -1}, {straight, left(12), left(17), left(19)}},
        {"a one-tick kerb never shows",
         {0, 0, 2.5f, 0, 0},
         {straight, straight, straight, straight, straight}},
        {"a reading that is no number is straight",
         {notANumber, notANumber, notANumber},
         {straight, straight, straight}},
        {"beyond 6 g is a glitch, straight", {7, 7, 7}, {straight, straight, straight}},
        {"6 g itself is believed and saturates", {6, 6, 6}, {straight, right(63), right(63)}},
        {"0.09 g on the second tick is straight, 0.126 g on the third is not",
         {0.15f, 0.15f, 0.15f},
         {straight, straight, right(3)}},
        // Median 1, 1, -1, -1 after the corner: smoothed 0.936, 0.974, -0.21, -0.684 g.
        {"a flip to the other side passes through",
         {1, 1, 1, 1, -1, -1, -1},
         {straight, right(12), right(17), right(19), right(19), left(4), left(14)}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(run(c.ticks), c.bytes) << c.what;
}

TEST(CornerWind, StartsAfreshOnANewComboAndWithNoGameLive) {
    CornerWind wind;
    for (int tick = 0; tick < 6; ++tick)
        updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, 1.0f});
    // The corner of the old combo is gone at once: the new one starts from straight.
    EXPECT_EQ(updateCornerWind(wind, TelemetrySample{"Kart @ Oval", 100.0f, 1.0f}), straight);
    for (int tick = 0; tick < 6; ++tick)
        updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, 1.0f});
    EXPECT_EQ(updateCornerWind(wind, TelemetrySample{}), straight);
    EXPECT_EQ(updateCornerWind(wind, TelemetrySample{hillclimb, 100.0f, 1.0f}), straight);
}

} // namespace
