// The fan level computation: mode, combo tracking, top-speed learning and the speed-to-level
// mapping. The arithmetic stays in single precision, step by step, so that levels on the edge of
// a rounding step come out the same on every build (this file is compiled with -ffp-contract=off
// so that no product and sum are fused into one rounding).
#include "fan/fan_level.h"

#include <cmath>
#include <cstdio>

namespace {

// Speeds at or below this (km/h) are too small to scale by, and too small to announce as a top speed.
constexpr float smallestUsableMaxSpeed = 1.0f;

std::string formatMaxSpeedLine(float learnedMaxSpeed) {
    // "%f" of the value widened to double: 243.6f shows as 243.600006, as the float really holds.
    // The largest float needs 46 characters in this notation.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%f", static_cast<double>(learnedMaxSpeed));
    return std::string("New max speed: ") + digits;
}

} // namespace

void updateMaxSpeedMode(const SettingsRecord& settings, TickState& state, const LogLineSink& log) {
    const std::int32_t wanted = settings.maxCarSpeed == 0 ? automaticMaxSpeedMode : manualMaxSpeedMode;
    if (wanted == state.maxSpeedMode) return;
    state.maxSpeedMode = wanted;
    log(wanted == automaticMaxSpeedMode ? "Automatic maximum car speed detection"
                                        : "Manual maximum car speed");
}

FanLevel computeFanLevel(const TelemetrySample& sample, const SettingsRecord& settings, TickState& state,
                         const LogLineSink& log) {
    // Sent as is: the OFF slider keeps it within 0..79, and the fan gets the byte the user set.
    const auto defaultLevel = static_cast<FanLevel>(settings.speedOff);
    if (sample.combo.empty()) return defaultLevel;

    if (sample.combo != state.lastCombo) {
        log("New combo: " + sample.combo);
        state.lastCombo = sample.combo;
        state.learnedMaxSpeed = 0.0f;
    }

    // Learned in manual mode too, so that switching to automatic starts from what was driven.
    const bool automatic = state.maxSpeedMode == automaticMaxSpeedMode;
    if (sample.speedKmh > state.learnedMaxSpeed) {
        state.learnedMaxSpeed = sample.speedKmh;
        state.maxSpeedRising = true;
    } else {
        // The top speed is announced once, when the rise ends, rather than on every tick of it.
        if (state.maxSpeedRising && state.learnedMaxSpeed > smallestUsableMaxSpeed && automatic)
            log(formatMaxSpeedLine(state.learnedMaxSpeed));
        state.maxSpeedRising = false;
    }

    const float maximum = automatic ? state.learnedMaxSpeed : static_cast<float>(settings.maxCarSpeed);
    float value = static_cast<float>(settings.speedMin);
    if (maximum > smallestUsableMaxSpeed)
        value = mapToLevelValue(settings.speedMin, settings.speedMax, sample.speedKmh / maximum);
    return levelFromValue(value);
}

float mapToLevelValue(std::int32_t speedMin, std::int32_t speedMax, float fraction) {
    // The settings file is loaded unchecked and the graph may be painted before the sliders have
    // brought the values back into range, so the difference wraps as 32-bit arithmetic would
    // instead of overflowing.
    const auto span = static_cast<std::int32_t>(static_cast<std::uint32_t>(speedMax) -
                                                static_cast<std::uint32_t>(speedMin));
    const float rise = fraction * static_cast<float>(span);
    return static_cast<float>(speedMin) + rise;
}

FanLevel levelFromValue(float value) {
    if (value > 79.0f) return topFanLevel;
    if (value < 0.0f) return 0;
    // A speed that is not a number leaves a value that no comparison holds for; the fan stops.
    if (std::isnan(value)) return 0;
    // Rounded by hand, halves away from zero (39.5 gives 40): mingw-w64's roundf adds a half
    // before flooring, which rounds 0.49999997 up to 1. For a value in 0..79 both the truncation
    // and the subtraction of the whole part are exact.
    const int whole = static_cast<int>(value);
    const float fraction = value - static_cast<float>(whole);
    return static_cast<FanLevel>(fraction >= 0.5f ? whole + 1 : whole);
}
