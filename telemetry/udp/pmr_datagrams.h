// Project Motor Racing's UDP telemetry: tagged datagrams of variable length (a type byte, a version
// per type, length-prefixed strings, counted lists), read front to back within the datagram. The
// fan follows the player's car alone, named by the participant packet that says it is the player's.
// Platform-neutral; the socket is in udp_sources.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "telemetry/udp/udp_games.h"

// The game's port, and the multicast group it sends to unless the user gives it a host.
inline constexpr std::uint16_t pmrPort = 7576;
inline constexpr std::uint32_t pmrMulticastGroup = 0xE0000096; // 224.0.0.150, host byte order

// The player's telemetry must be this fresh, and have moved within this long: paused, the game
// goes on sending the same values, bit for bit.
inline constexpr auto pmrTelemetryLimit = std::chrono::milliseconds(500);

// The chassis block every telemetry packet carries after its wheels: position, orientation,
// velocities, accelerations, speeds. A car being driven never sends the same block twice.
inline constexpr std::size_t pmrChassisSize = 112;

struct PmrState {
    // From the newest RaceInfo, kept until SessionStopped: the game need not send it again.
    bool raceActive = false;
    std::string track, layout;
    // From the participant packet that says it is the player's.
    bool playerKnown = false;
    std::int32_t playerId = 0;
    std::string vehicleName;
    // From the player's telemetry.
    bool heard = false;
    std::array<std::uint8_t, pmrChassisSize> chassis{};
    bool moved = false;        // its chassis has differed from the one before
    MonotonicTime lastMoved{}; // when it last did
    float speedKmh = 0.0f;
    // A version of a packet Ventora does not know is said once in the log (per type), through
    // this line, which the socket's side takes and clears.
    std::array<std::uint16_t, 4> loggedVersion{};
    std::string logLine;
};

// Takes one datagram. False for one the game does not send (too short for its header, a length
// that does not hold what its counts and strings say, a float that is no number), which leaves
// the state as it was. A type or version not known here leaves it as it was too, but counts as the
// game's.
bool takePmrDatagram(PmrState& state, Datagram datagram, MonotonicTime now);

// Driven: the race is Active and the player's telemetry is fresh and moving. Then the combo is
// "vehicle @ track layout".
bool pmrDriven(const PmrState& state, MonotonicTime now);
void overlayPmr(const PmrState& state, MonotonicTime now, TelemetrySample& sample);
