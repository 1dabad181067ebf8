// Assetto Corsa Rally over Assetto Corsa's pages. What its static and graphics pages hold is not
// known: the speed comes from the physics page, the names only when they read as text, and the
// graphics page's status counts only once the game is seen to set it; until then the car is driven
// while the physics runs.
#pragma once
#include <cstdint>
#include <string>

#include "telemetry/created/game_readers.h"

// The physics must have moved on within this long for the car to count as driven.
inline constexpr std::uint64_t acRallyPhysicsLimitMs = 500;
// How long the physics runs with no status before the log says the game does not set it.
inline constexpr std::uint64_t acRallyVerdictMs = 2000;

// What Ventora has learnt of the game across ticks.
struct AcRallyWatch {
    bool statusSet = false; // the status has been seen other than 0: from then on it decides
    bool packetIdKnown = false;
    std::int32_t packetId = 0;        // the physics page's, at the last tick
    std::uint64_t lastAdvancedMs = 0; // when it last moved on
    std::uint64_t runningSinceMs = 0; // when it began moving on, without a stop
    bool running = false;
    bool loggedNotSet = false, loggedSet = false;
    std::string logLine; // a line for the log, which the caller takes and clears
};

// Forgets the game's physics (not what its status was found to be): the game has started anew.
void restartAcRallyWatch(AcRallyWatch& watch);

// The tick's sample while Assetto Corsa Rally runs: the rally game in Assetto Corsa's place, then
// Project CARS 2 and RaceRoom as always. `nowMs` is a monotonic clock in milliseconds.
TelemetrySample readTelemetrySampleAsRally(const GameViews& views, AcRallyWatch& watch, std::uint64_t nowMs);
