// The UDP games' datagrams: lengths and formats checked first, then the few fields Ventora needs
// loaded through the same bounded little-endian loads as the shared-memory pages. Lengths are
// compared for equality, so every field read below lies inside its datagram.
#include "telemetry/udp/udp_games.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "telemetry/udp/f1_names.h"

namespace {

// The single-precision constant nearest 3.6, as for the shared-memory games.
constexpr float kmhPerMetrePerSecond = 3.6f;

// F1 24 and F1 25: a 29-byte header, then the packet's own data; 22 cars in every list.
namespace f1 {
constexpr std::size_t headerSize = 29;
constexpr std::size_t packetFormat = 0;
constexpr std::size_t packetId = 6;
constexpr std::size_t playerCarIndex = 27;
constexpr std::uint32_t format2024 = 2024, format2025 = 2025;
constexpr std::size_t carCount = 22;

constexpr std::uint8_t sessionId = 1;
constexpr std::size_t sessionSize = 753;
constexpr std::size_t trackId = 36;
constexpr std::size_t isSpectating = 44;

constexpr std::uint8_t participantsId = 4;
constexpr std::size_t participantsEntries = 30;
constexpr std::size_t participantSize2024 = 60, participantSize2025 = 57;
constexpr std::size_t participantTeamId = 3;

constexpr std::uint8_t carTelemetryId = 6;
constexpr std::size_t carTelemetrySize = 1352;
constexpr std::size_t carTelemetryEntrySize = 60;
constexpr std::size_t speedKmh = headerSize; // u16 at the start of each car's entry
} // namespace f1

bool takeF1Session(F1State& state, Datagram datagram) {
    if (datagram.size() != f1::sessionSize) return false;
    state.trackId = static_cast<std::int8_t>(datagram[f1::trackId]);
    state.spectating = datagram[f1::isSpectating] != 0;
    return true;
}

bool takeF1Participants(F1State& state, Datagram datagram, std::uint32_t format) {
    const std::size_t entrySize =
        format == f1::format2024 ? f1::participantSize2024 : f1::participantSize2025;
    if (datagram.size() != f1::participantsEntries + f1::carCount * entrySize) return false;
    const std::size_t player = datagram[f1::playerCarIndex];
    // A spectator has no car of its own: the team stays as it was.
    if (player < f1::carCount)
        state.teamId = datagram[f1::participantsEntries + entrySize * player + f1::participantTeamId];
    return true;
}

bool takeF1CarTelemetry(F1State& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != f1::carTelemetrySize) return false;
    const std::size_t player = datagram[f1::playerCarIndex];
    state.heard = true;
    state.lastHeard = now;
    state.playerIndexValid = player < f1::carCount;
    if (state.playerIndexValid)
        state.speedKmh =
            static_cast<float>(loadU16(datagram, f1::speedKmh + f1::carTelemetryEntrySize * player));
    return true;
}

// Forza's Data Out: the four kinds differ only in length. Forza Horizon's Dash inserts 12 bytes
// at 232, so its speed lies 12 bytes later than the Motorsport Dashes'.
namespace forza {
constexpr std::size_t sledSize = 232, motorsport7DashSize = 311, horizonDashSize = 324,
                      motorsport2023DashSize = 331;
constexpr std::size_t isRaceOn = 0;
constexpr std::size_t velocityX = 32, velocityY = 36, velocityZ = 40;
constexpr std::size_t carOrdinal = 212;
constexpr std::size_t motorsportSpeed = 244, horizonSpeed = 256;
constexpr std::size_t trackOrdinal = 327;
} // namespace forza

namespace outGauge {
constexpr std::size_t size = 92, sizeWithId = 96;
constexpr std::size_t car = 4;
constexpr std::size_t speed = 12;
} // namespace outGauge

float sledSpeedMetresPerSecond(Datagram datagram) {
    const float x = loadFloat(datagram, forza::velocityX), y = loadFloat(datagram, forza::velocityY),
                z = loadFloat(datagram, forza::velocityZ);
    return std::sqrt(x * x + y * y + z * z);
}

} // namespace

bool heardRecently(bool heard, MonotonicTime lastHeard, MonotonicTime now) {
    return heard && now - lastHeard < udpSilenceLimit;
}

bool takeF1Datagram(F1State& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() < f1::headerSize) return false;
    const std::uint32_t format = loadU16(datagram, f1::packetFormat);
    if (format != f1::format2024 && format != f1::format2025) return false;
    switch (datagram[f1::packetId]) {
    case f1::sessionId: return takeF1Session(state, datagram);
    case f1::participantsId: return takeF1Participants(state, datagram, format);
    case f1::carTelemetryId: return takeF1CarTelemetry(state, datagram, now);
    default: return true; // the games send a dozen other packets Ventora has no use for
    }
}

bool takeForzaDatagram(ForzaState& state, Datagram datagram, MonotonicTime now) {
    ForzaKind kind;
    std::size_t speedOffset = 0;
    switch (datagram.size()) {
    case forza::sledSize: kind = ForzaKind::sled; break;
    case forza::motorsport7DashSize:
        kind = ForzaKind::motorsport7Dash;
        speedOffset = forza::motorsportSpeed;
        break;
    case forza::horizonDashSize:
        kind = ForzaKind::horizonDash;
        speedOffset = forza::horizonSpeed;
        break;
    case forza::motorsport2023DashSize:
        kind = ForzaKind::motorsport2023Dash;
        speedOffset = forza::motorsportSpeed;
        break;
    default: return false;
    }
    state.heard = true;
    state.lastHeard = now;
    state.kind = kind;
    state.raceOn = loadI32(datagram, forza::isRaceOn) == 1;
    const float metresPerSecond =
        kind == ForzaKind::sled ? sledSpeedMetresPerSecond(datagram) : loadFloat(datagram, speedOffset);
    state.speedKmh = metresPerSecond * kmhPerMetrePerSecond;
    state.carOrdinal = loadI32(datagram, forza::carOrdinal);
    state.trackOrdinal = kind == ForzaKind::motorsport2023Dash ? loadI32(datagram, forza::trackOrdinal) : 0;
    return true;
}

bool takeOutGaugeDatagram(OutGaugeState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != outGauge::size && datagram.size() != outGauge::sizeWithId) return false;
    state.heard = true;
    state.lastHeard = now;
    std::memcpy(state.car.data(), datagram.data() + outGauge::car, state.car.size());
    state.speedKmh = loadFloat(datagram, outGauge::speed) * kmhPerMetrePerSecond;
    return true;
}

void overlayUdpGames(const UdpGameStates& states, MonotonicTime now, TelemetrySample& sample) {
    const F1State& f1 = states.f1;
    if (heardRecently(f1.heard, f1.lastHeard, now) && f1.playerIndexValid && !f1.spectating) {
        // Before the first Participants packet (the games send one every few seconds) the team is
        // not known yet.
        sample.combo = (f1.teamId < 0 ? std::string("Unknown") : f1TeamName(f1.teamId)) + " @ " +
                       f1TrackName(f1.trackId);
        sample.speedKmh = f1.speedKmh;
    }

    const ForzaState& forza = states.forza;
    if (heardRecently(forza.heard, forza.lastHeard, now) && forza.raceOn) {
        sample.combo = "Car " + std::to_string(forza.carOrdinal) + " @ ";
        switch (forza.kind) {
        case ForzaKind::motorsport2023Dash:
            sample.combo += "Track " + std::to_string(forza.trackOrdinal);
            break;
        case ForzaKind::horizonDash: sample.combo += "Forza Horizon"; break;
        case ForzaKind::sled:
        case ForzaKind::motorsport7Dash: sample.combo += "Forza"; break;
        }
        sample.speedKmh = forza.speedKmh;
    }

    const OutGaugeState& outGauge = states.outGauge;
    if (heardRecently(outGauge.heard, outGauge.lastHeard, now)) {
        const auto carEnd = std::find(outGauge.car.begin(), outGauge.car.end(), '\0');
        sample.combo = std::string(outGauge.car.begin(), carEnd) + " @ OutGauge";
        sample.speedKmh = outGauge.speedKmh;
    }
}
