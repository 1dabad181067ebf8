// What the game readers hand to the fan level computation once per tick.
#pragma once
#include <string>

// Standard gravity: the games that give accelerations in m/s^2 are turned into g with it.
inline constexpr float metresPerSecondSquaredPerG = 9.80665f;

struct TelemetrySample {
    std::string combo;     // "car @ track layout" of the live game; empty exactly when none is live
    float speedKmh = 0.0f; // 0 when no game is live
    // The car's sideways acceleration in the road's plane, in g, positive toward the car's right
    // (a right-hand corner). 0 for a game whose sign is not known for sure: no split is better
    // than the wind coming from the wrong side.
    float cornerG = 0.0f;
};
