// The corner filter: a median of three against one-tick spikes, then exponential smoothing against
// the rest of the jitter, both over the tick's cornering in g.
#include "fan/corner_wind.h"

#include <algorithm>
#include <cmath>

namespace {

// No car corners harder than this on the road; beyond it a game has given a glitch or a crash.
constexpr float absurdG = 6.0f;
// The share of the new value a tick: a steady corner reaches about 85 % within three ticks.
constexpr float smoothing = 0.6f;
// Below this a car is on a straight for the fans: it keeps a straight's tiny wobbles from
// flickering the corner byte on and off.
constexpr float straightBelowG = 0.1f;
constexpr float gPerStep = 0.05f;
constexpr int topMagnitude = cornerMagnitudeMask;

float sane(float g) {
    return std::isfinite(g) && std::fabs(g) <= absurdG ? g : 0.0f;
}

float medianOfThree(const std::array<float, 3>& values) {
    return std::max(std::min(values[0], values[1]), std::min(std::max(values[0], values[1]), values[2]));
}

} // namespace

CornerByte encodeCornerByte(float smoothedG) {
    const float size = std::fabs(smoothedG);
    if (!(size >= straightBelowG)) return straightCornerByte;
    const int magnitude = std::min(topMagnitude, static_cast<int>(std::lround(size / gPerStep)));
    return static_cast<CornerByte>(straightCornerByte | (smoothedG > 0.0f ? rightHandCornerBit : 0) |
                                   magnitude);
}

CornerByte updateCornerWind(CornerWind& wind, const TelemetrySample& sample) {
    if (sample.combo.empty() || sample.combo != wind.combo) {
        wind = CornerWind{};
        wind.combo = sample.combo;
        if (sample.combo.empty()) return straightCornerByte;
    }
    wind.recentG = {wind.recentG[1], wind.recentG[2], sane(sample.cornerG)};
    wind.smoothedG += smoothing * (medianOfThree(wind.recentG) - wind.smoothedG);
    return encodeCornerByte(wind.smoothedG);
}
