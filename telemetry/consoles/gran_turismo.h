// Gran Turismo 7's telemetry: the packet a PlayStation sends after a heartbeat, decrypted and
// read, and the state it leaves for the tick's sample. Platform-neutral, so the decryption and the
// parse are tested, fuzzed and benchmarked natively; the sockets are in console_sources.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "telemetry/telemetry_sample.h"
#include "telemetry/udp/udp_games.h"

// The heartbeat goes to the console's 33739 from Ventora's 33740, where the packets come back.
inline constexpr std::uint16_t granTurismoHeartbeatPort = 33739, granTurismoPacketPort = 33740;

// The heartbeat's one byte chooses the format. Ventora asks for the shortest, and reads all four,
// as another program may have asked first for another.
inline constexpr char granTurismoHeartbeat = 'A';

// The largest packet of the four formats; anything longer is not Gran Turismo 7's.
inline constexpr std::size_t granTurismoLongestPacket = 368;

struct GranTurismoPacket {
    float speedMetresPerSecond;
    std::uint16_t flags;
    std::int32_t carCode;
};

// The flags' bits that say whether the car is being driven.
inline constexpr std::uint16_t carOnTrackFlag = 1, pausedFlag = 2, loadingFlag = 4;

// Decrypts a datagram of one of the four formats' lengths and reads it; nothing when the length
// is none of them or the magic is wrong after decryption (a stranger's datagram, or a damaged one).
std::optional<GranTurismoPacket> readGranTurismoPacket(std::span<const std::uint8_t> datagram);

struct GranTurismoState {
    bool heard = false;        // a packet has come
    MonotonicTime lastHeard{}; // when the newest one came
    bool driven = false;       // on track, neither paused nor loading, in the newest packet
    float speedKmh = 0.0f;
    std::int32_t carCode = 0;
};

// Takes one datagram from a console, as it arrived at `now`; false when it is not a packet, the
// state then left as it was.
bool takeGranTurismoDatagram(GranTurismoState& state, std::span<const std::uint8_t> datagram,
                             MonotonicTime now);

// While the car is driven and packets keep coming, the sample is the car and its speed:
// "Car 3311 @ Gran Turismo 7" (the stream names no track).
void overlayGranTurismo(const GranTurismoState& state, MonotonicTime now, TelemetrySample& sample);
