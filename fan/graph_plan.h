// The graph's geometry and the pixels it sets: the speed-to-level mapping as a blue line and the
// newest History entries as red dots. Platform-neutral, so that every pixel is checked natively;
// the GDI code only frames the area and draws the plan.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fan/fan_level.h"
#include "fan/history.h"

// In client coordinates of the main window; right and bottom are exclusive.
struct GraphRect {
    int left;
    int top;
    int right;
    int bottom;
    constexpr int width() const { return right - left; }
    constexpr int height() const { return bottom - top; }
};

// The one-pixel frame runs along its outer columns and rows; the 462 x 80 interior lies within.
// It is also exactly the area copied to the window.
inline constexpr GraphRect graphRect{10, 170, 474, 252};

// Colours as Windows COLORREF values, laid out 0x00BBGGRR.
inline constexpr std::uint32_t mappingLineColour = 0x00FF0000; // blue
inline constexpr std::uint32_t historyDotColour = 0x000000FF;  // red

// One per interior column: the line's steps and the dots of the newest entries.
inline constexpr int mappingLineSteps = 462;
inline constexpr int drawnHistoryEntries = 462;

// Level 0 sits directly above the frame's bottom edge, level 79 directly below its top edge.
constexpr int rowOfLevel(FanLevel level) {
    return 250 - level;
}
// Step 0 stands for standstill, step 461 for the maximum car speed.
constexpr int columnOfMappingStep(int step) {
    return 11 + step;
}
// k = 1 is the newest entry, at the right edge of the interior.
constexpr int columnOfNewestEntry(int k) {
    return 473 - k;
}

struct PlannedPixel {
    int x;
    int y;
    std::uint32_t colour;
};

// The pixels in the order they are to be set: the whole line first, then the dots, so that a dot
// covers the line where they meet.
struct GraphPlan {
    std::array<PlannedPixel, mappingLineSteps + drawnHistoryEntries> pixels;
    std::size_t pixelCount = 0;

    std::span<const PlannedPixel> drawOrder() const { return {pixels.data(), pixelCount}; }
};

// The mapping line of the given settings (independent of the mode and of the maximum car speed)
// and the dots of the newest (at most 462) History entries.
GraphPlan planGraph(std::int32_t speedMin, std::int32_t speedMax, const History& history);
