// Project Motor Racing's packets, read with a cursor that never leaves the datagram: once a read
// would run past its end, every later read gives zero and the packet is refused. Only the first
// fields of each packet lie at fixed offsets; everything after the first string or list is found by
// walking to it.
#include "telemetry/udp/pmr_datagrams.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "telemetry/speed_within_reason.h"

namespace {

constexpr float kmhPerMetrePerSecond = 3.6f;

enum PacketType : std::uint8_t {
    raceInfo = 0,
    participantRaceState = 1,
    vehicleTelemetry = 2,
    sessionStopped = 3
};
constexpr const char* packetNames[] = {"race info", "participant", "telemetry", "session stop"};

constexpr std::uint8_t activeState = 1;
constexpr std::size_t highestWheelCount = 8;
constexpr std::size_t wheelSize = 124;
// Within the chassis block: the overall speed, in m/s.
constexpr std::size_t overallSpeed = 100;
// The version 2 packet after its suspension: the input, setup, general and constant blocks.
constexpr std::size_t telemetryTailSize = 163;

class Cursor {
  public:
    explicit Cursor(Datagram datagram) : datagram_(datagram) {}

    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && at_ == datagram_.size(); }
    std::size_t at() const { return at_; }

    // The next `count` bytes, or an empty view (and the cursor failed) when fewer are left.
    Datagram take(std::size_t count) {
        if (!ok_ || datagram_.size() - at_ < count) {
            ok_ = false;
            return {};
        }
        const Datagram bytes = datagram_.subspan(at_, count);
        at_ += count;
        return bytes;
    }
    void skip(std::size_t count) { take(count); }
    std::uint8_t u8() { return loadU8(take(1), 0); }
    std::uint16_t u16() { return loadU16(take(2), 0); }
    std::int32_t i32() { return loadI32(take(4), 0); }
    float f32() {
        const float value = loadFloat(take(4), 0);
        if (!std::isfinite(value)) ok_ = false;
        return value;
    }
    std::string text() {
        const Datagram bytes = take(u8());
        return {bytes.begin(), bytes.end()};
    }
    void skipTexts(int count) {
        for (int i = 0; i < count; ++i)
            skip(u8());
    }
    void skipFloatList() { skip(std::size_t{u8()} * 4); }

  private:
    Datagram datagram_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

bool knownVersion(std::uint8_t type, std::uint16_t version) {
    switch (type) {
    case raceInfo:
    case participantRaceState:
    case vehicleTelemetry: return version == 1 || version == 2;
    default: return true; // SessionStopped's version is not known: any
    }
}

bool takeRaceInfo(PmrState& state, Cursor& in, std::uint16_t version) {
    std::string track = in.text(), layout = in.text();
    in.skipTexts(4);                  // season, weather, session, game mode
    in.skip(5 * 4);                   // layout length, duration, overtime, ambient and track temperatures
    if (version >= 2) in.skip(2 * 4); // session time elapsed, track grip
    in.skip(1);                       // IsLaps
    if (version >= 2) in.skip(1);     // SessionIsLaps
    const std::uint8_t raceState = in.u8();
    in.skip(1); // participants
    if (!in.atEnd()) return false;
    state.raceActive = raceState == activeState;
    state.track = std::move(track);
    state.layout = std::move(layout);
    return true;
}

bool takeParticipant(PmrState& state, Cursor& in, std::uint16_t version) {
    const std::int32_t vehicleId = in.i32();
    const bool isPlayer = in.u8() != 0;
    std::string vehicleName = in.text();
    if (version == 1) {
        in.skipTexts(3); // driver, livery, class
        in.skip(5 * 4);  // position, lap, lap time, best lap, lap progress
        in.skip(4);      // sector
        in.skipFloatList();
        in.skipFloatList();
        in.skip(3 + 4); // in pits, finished, disqualified, flags
        if (!in.atEnd()) return false;
    } else if (!in.ok()) {
        return false; // beyond its first fields, version 2 is not known
    }
    if (!isPlayer) return true;
    if (!state.playerKnown || state.playerId != vehicleId) state.heard = false;
    state.playerKnown = true;
    state.playerId = vehicleId;
    state.vehicleName = std::move(vehicleName);
    return true;
}

bool takeTelemetry(PmrState& state, Cursor& in, std::uint16_t version, MonotonicTime now) {
    const std::int32_t vehicleId = in.i32();
    const std::size_t wheels = in.u8();
    if (wheels < 1 || wheels > highestWheelCount) return false;
    in.skip(wheels * wheelSize);
    const Datagram chassis = in.take(pmrChassisSize);
    for (std::size_t at = 0; at < pmrChassisSize; at += 4)
        if (!std::isfinite(loadFloat(chassis, at))) return false;
    if (version == 2) {
        in.skip(28 * 4 + 7); // drivetrain floats and flags
        in.skip(std::size_t{in.u8()} * 8);
        in.skipFloatList(); // suspension
        in.skip(4 + telemetryTailSize);
        if (!in.atEnd()) return false;
    }
    if (!in.ok()) return false;
    if (!state.playerKnown || vehicleId != state.playerId) return true; // another car's
    // The first packet has nothing to differ from: a game paused as Ventora starts stays not driven.
    if (state.heard && !std::equal(chassis.begin(), chassis.end(), state.chassis.begin())) {
        state.moved = true;
        state.lastMoved = now;
    }
    state.heard = true;
    std::copy(chassis.begin(), chassis.end(), state.chassis.begin());
    state.speedKmh = speedWithinReason(loadFloat(chassis, overallSpeed) * kmhPerMetrePerSecond);
    return true;
}

} // namespace

bool takePmrDatagram(PmrState& state, Datagram datagram, MonotonicTime now) {
    Cursor in(datagram);
    const std::uint8_t type = in.u8();
    const std::uint16_t version = in.u16();
    if (!in.ok()) return false;
    // Packets of a type or version not known here are the game's all the same (a flood of them
    // must not be cut short with the player's telemetry among them), and are passed over.
    if (type > sessionStopped) return true;
    if (!knownVersion(type, version)) {
        if (state.loggedVersion[type] != version) {
            state.loggedVersion[type] = version;
            state.logLine = "Project Motor Racing: " + std::string(packetNames[type]) +
                            " packets of version " + std::to_string(version) +
                            " are not known and are ignored";
        }
        return true;
    }
    switch (type) {
    case raceInfo: return takeRaceInfo(state, in, version);
    case participantRaceState: return takeParticipant(state, in, version);
    case vehicleTelemetry: return takeTelemetry(state, in, version, now);
    default:
        // The session is over: the next one names its track, and its player, afresh.
        state.raceActive = false;
        state.playerKnown = false;
        state.heard = false;
        return true;
    }
}

bool pmrDriven(const PmrState& state, MonotonicTime now) {
    return state.raceActive && state.playerKnown && state.heard && state.moved &&
           now - state.lastMoved < pmrTelemetryLimit;
}

void overlayPmr(const PmrState& state, MonotonicTime now, TelemetrySample& sample) {
    if (!pmrDriven(state, now)) return;
    sample.combo = state.vehicleName + " @ " + state.track + " " + state.layout;
    sample.speedKmh = state.speedKmh;
    sample.cornerG = 0.0f; // which local axis is forward is not known: no split
}
