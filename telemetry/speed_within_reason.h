// A speed from outside the PC's own games' pages (a datagram from the network, a plugin's record)
// taken only when a car could go that fast: a speed beyond reason would be learned as the combo's
// top speed and hold the fan low for the rest of the combo. Platform-neutral.
#pragma once
#include <cmath>

// Far beyond any car in any of the games, and far below what a float's overflow in a unit
// conversion gives (about 9.4e37 m/s becomes infinity only after 3.6 times).
inline constexpr float mostReasonableSpeedKmh = 1000.0f;
// A car standing still may report a hair below zero; more than this below zero is no speed.
inline constexpr float negativeSpeedNoiseKmh = 2.0f;

// The speed in km/h as it was, or 0 (standing still) when it is no number, negative beyond the
// noise, or above the most reasonable speed; a hair below zero is 0 as well.
inline float speedWithinReason(float kmh) {
    if (!std::isfinite(kmh) || kmh < -negativeSpeedNoiseKmh || kmh > mostReasonableSpeedKmh) return 0.0f;
    return kmh < 0.0f ? 0.0f : kmh;
}
