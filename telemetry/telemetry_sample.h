// What the game readers hand to the fan level computation once per tick.
#pragma once
#include <string>

struct TelemetrySample {
    std::string combo;     // "car @ track layout" of the live game; empty exactly when none is live
    float speedKmh = 0.0f; // 0 when no game is live
};
