// A speed a car can have: anything else a datagram says (no number, backwards beyond a sensor's
// noise, faster than any car) is taken as standing still, so that it is never learned as a top speed.
#pragma once
#include <cmath>

inline constexpr float fastestPlausibleKmh = 1000.0f;
inline constexpr float reverseNoiseKmh = 1.0f;

inline float plausibleSpeedKmh(float kmh) {
    return std::isfinite(kmh) && kmh >= -reverseNoiseKmh && kmh <= fastestPlausibleKmh ? kmh : 0.0f;
}
