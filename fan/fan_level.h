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

// Values of TickState::maxSpeedMode once the first tick has run.
inline constexpr std::int32_t manualMaxSpeedMode = 0;
inline constexpr std::int32_t automaticMaxSpeedMode = 1;

// What the fan level computation carries from tick to tick.
struct TickState {
    std::string lastCombo;
    float learnedMaxSpeed = 0.0f;
    bool maxSpeedRising = false;
    std::int32_t maxSpeedMode = -1; // 1 automatic, 0 manual, -1 before the first tick
};

// Where the computation's event lines go: the log pane in the program, a vector in the tests.
using LogLineSink = std::function<void(std::string)>;

// Picks automatic mode for a max car speed of 0, manual otherwise, and logs each change
// (the first call always logs, since the state starts in neither mode).
void updateMaxSpeedMode(const SettingsRecord& settings, TickState& state, const LogLineSink& log);

// The tick's fan level: speedOff while no game is live, otherwise the speed mapped linearly from
// speedMin (standstill) to speedMax (maximum car speed). Learns the combo's top speed and logs a
// new combo and, in automatic mode, each newly learned top speed.
FanLevel computeFanLevel(const TelemetrySample& sample, const SettingsRecord& settings, TickState& state,
                         const LogLineSink& log);

// speedMin + fraction * (speedMax - speedMin) in single precision, product before sum. The fan
// level and the graph's mapping line share it so that the line shows exactly what the fan gets.
float mapToLevelValue(std::int32_t speedMin, std::int32_t speedMax, float fraction);

// Clamps a mapped value to 0..79 and rounds halves away from zero; NaN gives 0.
FanLevel levelFromValue(float value);
