// Wind from the side: the tick's cornering, filtered, as the corner byte a board that takes sides
// gets before each level byte. Platform-neutral.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "telemetry/telemetry_sample.h"

// 0x80 | 0x40 for a right-hand corner | the magnitude in steps of 1/20 g, at most 63.
using CornerByte = std::uint8_t;
inline constexpr CornerByte straightCornerByte = 0x80;
inline constexpr CornerByte rightHandCornerBit = 0x40;
inline constexpr CornerByte cornerMagnitudeMask = 0x3F;

// What the filter carries from tick to tick.
struct CornerWind {
    std::string combo;              // the combo the ticks below belong to
    std::array<float, 3> recentG{}; // the last three ticks' cornering, oldest first
    float smoothedG = 0.0f;
};

// Takes the tick's sample and gives its corner byte. A reading that is no number or beyond 6 g
// counts as straight, a one-tick spike (a kerb, a bump) never shows, a steady corner shows within
// three or four ticks, and anything below 0.1 g is straight. A combo change or no live game starts
// the filter afresh.
CornerByte updateCornerWind(CornerWind& wind, const TelemetrySample& sample);

// The corner byte for a smoothed cornering in g.
CornerByte encodeCornerByte(float smoothedG);
