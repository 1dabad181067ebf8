// Turning the live car speed into the byte the fan controller receives, learning each combo's
// top speed on the way. Platform-neutral.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "settings/settings_record.h"
#include "telemetry/telemetry_sample.h"

using FanLevel = std::uint8_t; // 0 to 79

inline constexpr FanLevel topFanLevel = 79;

// What the fan level computation carries from tick to tick.
struct TickState {
    std::string lastCombo;
    float learnedMaxSpeed = 0.0f;
    bool maxSpeedRising = false;
    std::int32_t maxSpeedMode = -1; // 1 automatic, 0 manual, -1 before the first tick
};

// Where the computation's event lines go: the log pane in the program, a vector in the tests.
using LogLineSink = std::function<void(std::string)>;

void updateMaxSpeedMode(const SettingsRecord& settings, TickState& state, const LogLineSink& log);

FanLevel computeFanLevel(const TelemetrySample& sample, const SettingsRecord& settings, TickState& state,
                         const LogLineSink& log);

// Clamps a mapped value to 0..79 and rounds halves away from zero; NaN gives 0.
FanLevel levelFromValue(float value);
