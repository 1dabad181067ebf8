// The UDP games' datagrams: lengths and formats checked first, then the few fields Ventora needs
// loaded through the same bounded little-endian loads as the shared-memory pages. Lengths are
// compared for equality, so every field read below lies inside its datagram.
#include "telemetry/udp/udp_games.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>

#include "telemetry/speed_within_reason.h"
#include "telemetry/udp/f1_names.h"

namespace {

// The single-precision constant nearest 3.6, as for the shared-memory games.
constexpr float kmhPerMetrePerSecond = 3.6f;

// F1 24 and F1 25: a 29-byte header, then the packet's own data. The packet format, not the game's
// year, decides the layout: F1 25 sends any of the three formats, as the user chooses.
namespace f1 {
constexpr std::size_t headerSize = 29;
constexpr std::size_t packetFormat = 0;
constexpr std::size_t packetId = 6;
constexpr std::uint8_t lastPacketId = 15;
constexpr std::size_t playerCarIndex = 27;

constexpr std::uint8_t sessionId = 1;
constexpr std::size_t trackId = 36;
constexpr std::size_t isSpectating = 44;

constexpr std::uint8_t participantsId = 4;
constexpr std::size_t participantsEntries = 30;

constexpr std::uint8_t carTelemetryId = 6;
constexpr std::size_t speedKmh = headerSize; // u16 at the start of each car's entry

struct Format {
    std::uint16_t number;
    std::size_t carCount;
    std::size_t sessionSize;
    std::size_t participantSize, teamId, teamIdWidth; // in each Participants entry
    std::size_t carTelemetrySize, carTelemetryEntrySize;
};

// 2026 has room for 24 cars, a 16-bit team id and a Car Telemetry entry one byte narrower.
constexpr Format formats[] = {{2024, 22, 753, 60, 3, 1, 1352, 60},
                              {2025, 22, 753, 57, 3, 1, 1352, 60},
                              {2026, 24, 926, 60, 5, 2, 1448, 59}};

// The Motion packet: each car's world velocity and its right direction (int16 over 32767), with
// the session's clock in the header to difference the velocity over.
constexpr std::uint8_t motionId = 0;
constexpr std::size_t sessionTime = 15;
constexpr std::size_t motionVelocity = 12, motionRightDirection = 30;
constexpr float directionScale = 32767.0f;

std::size_t motionEntrySize(const Format& format) {
    return format.number == 2026 ? 54 : 60;
}

const Format* formatOf(Datagram datagram) {
    if (datagram.size() < headerSize) return nullptr;
    const std::uint16_t number = loadU16(datagram, packetFormat);
    for (const Format& format : formats)
        if (format.number == number) return &format;
    return nullptr;
}
} // namespace f1

bool takeF1Session(F1State& state, Datagram datagram, const f1::Format& format) {
    if (datagram.size() != format.sessionSize) return false;
    state.trackId = static_cast<std::int8_t>(datagram[f1::trackId]);
    state.spectating = datagram[f1::isSpectating] != 0;
    return true;
}

bool takeF1Participants(F1State& state, Datagram datagram, const f1::Format& format) {
    if (datagram.size() != f1::participantsEntries + format.carCount * format.participantSize) return false;
    const std::size_t player = datagram[f1::playerCarIndex];
    // A spectator has no car of its own: the team stays as it was.
    if (player < format.carCount) {
        const std::size_t team = f1::participantsEntries + format.participantSize * player + format.teamId;
        state.teamId = format.teamIdWidth == 2 ? loadU16(datagram, team) : loadU8(datagram, team);
    }
    return true;
}

bool takeF1CarTelemetry(F1State& state, Datagram datagram, MonotonicTime now, const f1::Format& format) {
    if (datagram.size() != format.carTelemetrySize) return false;
    const std::size_t player = datagram[f1::playerCarIndex];
    state.heard = true;
    state.lastHeard = now;
    state.playerIndexValid = player < format.carCount;
    if (state.playerIndexValid)
        state.speedKmh = speedWithinReason(
            static_cast<float>(loadU16(datagram, f1::speedKmh + format.carTelemetryEntrySize * player)));
    return true;
}

bool takeF1Motion(F1State& state, Datagram datagram, MonotonicTime now, const f1::Format& format) {
    const std::size_t entrySize = f1::motionEntrySize(format);
    if (datagram.size() != f1::headerSize + format.carCount * entrySize) return false;
    const std::size_t player = datagram[f1::playerCarIndex];
    if (player >= format.carCount) return true;
    const std::size_t entry = f1::headerSize + entrySize * player;
    std::array<float, 3> velocity, right;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        velocity[axis] = loadFloat(datagram, entry + f1::motionVelocity + 4 * axis);
        right[axis] =
            static_cast<std::int16_t>(loadU16(datagram, entry + f1::motionRightDirection + 2 * axis)) /
            f1::directionScale;
    }
    takeVelocityReading(state.cornering, loadFloat(datagram, f1::sessionTime), velocity, right, now);
    return true;
}

// DiRT Rally, DiRT Rally 2.0 and DiRT 4 with extradata 3: little-endian floats, nothing else.
namespace dirt {
constexpr std::size_t afterRunTime = 4; // the run time is the first float, the one that moves paused
constexpr std::size_t speedMetresPerSecond = 28;
constexpr std::size_t trackLengthMetres = 244;
constexpr std::size_t runTime = 0;
constexpr std::size_t worldVelocity = 32, rightDirection = 44; // three floats each
} // namespace dirt

// EA SPORTS WRC's "wrc" structure, session_update packet: packed, no header.
namespace wrc {
constexpr std::size_t size = 237;
constexpr std::size_t vehicleSpeed = 41;
constexpr std::size_t stageCurrentTime = 217;
constexpr std::size_t stageLength = 229;
// m/s^2 in the world's frame, and the car's left as a unit vector in it.
constexpr std::size_t worldAcceleration = 73, leftDirection = 85; // three floats each
} // namespace wrc

// A stage length as whole metres for the combo; a length no stage has (not finite, or beyond any
// road) gives 0 rather than an undefined rounding.
long long wholeMetres(double metres) {
    constexpr double longestStage = 1e9;
    return std::isfinite(metres) && std::fabs(metres) < longestStage ? std::llround(metres) : 0;
}

// Forza's Data Out: the four kinds differ only in length. Forza Horizon's Dash inserts 12 bytes
// at 232, so its speed lies 12 bytes later than the Motorsport Dashes'.
namespace forza {
constexpr std::size_t sledSize = 232, motorsport7DashSize = 311, horizonDashSize = 324,
                      motorsport2023DashSize = 331;
constexpr std::size_t isRaceOn = 0;
constexpr std::size_t accelerationX = 20; // m/s^2 in the car's frame, positive toward its right
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

namespace rbr {
constexpr std::size_t totalSteps = 0;
constexpr std::size_t stage = 4;
constexpr std::size_t raceTime = 12;
constexpr std::size_t car = 56;
constexpr std::size_t speed = 60;
constexpr std::size_t velocity = 88; // surge, sway and heave, metres per second
constexpr float kmhPerMph = 1.609344f;
// The speed over the velocity is 3.6 in km/h and 2.237 in mph. The velocity's length may be a
// little more than the speed the game shows while the car slides (when the game shows the speed
// along the car); beyond these bounds around each (a spin, a jump) the datagram says nothing of
// the units, which stay as they were. The two ranges lie far apart.
constexpr float leastRatioShare = 0.8f, mostRatioShare = 1.15f;
} // namespace rbr

// km/h or mph from the one datagram; nothing when it does not tell.
std::optional<bool> rbrUnitsAreMph(Datagram datagram, float speed) {
    const float x = loadFloat(datagram, rbr::velocity), y = loadFloat(datagram, rbr::velocity + 4),
                z = loadFloat(datagram, rbr::velocity + 8);
    const float metresPerSecond = std::sqrt(x * x + y * y + z * z);
    if (!std::isfinite(metresPerSecond) || metresPerSecond < rbrUnitsLeastMetresPerSecond)
        return std::nullopt;
    const float ratio = std::fabs(speed) / metresPerSecond;
    const auto near = [ratio](float factor) {
        return ratio >= factor * rbr::leastRatioShare && ratio <= factor * rbr::mostRatioShare;
    };
    if (near(kmhPerMetrePerSecond)) return false;
    if (near(kmhPerMetrePerSecond / rbr::kmhPerMph)) return true;
    return std::nullopt;
}

std::array<float, 3> loadVector(Datagram datagram, std::size_t offset) {
    return {loadFloat(datagram, offset), loadFloat(datagram, offset + 4), loadFloat(datagram, offset + 8)};
}

float dot(const std::array<float, 3>& a, const std::array<float, 3>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Shorter stretches would difference the physics' own jitter; longer ones lag the corner.
constexpr float shortestStretchSeconds = 0.05f;
// A longer gap in the game's clock is a pause, a restart or lost datagrams: start afresh.
constexpr float longestStretchSeconds = 0.5f;

float sledSpeedMetresPerSecond(Datagram datagram) {
    const float x = loadFloat(datagram, forza::velocityX), y = loadFloat(datagram, forza::velocityY),
                z = loadFloat(datagram, forza::velocityZ);
    return std::sqrt(x * x + y * y + z * z);
}

} // namespace

void takeVelocityReading(CorneringFromVelocity& cornering, float time, const std::array<float, 3>& velocity,
                         const std::array<float, 3>& rightDirection, MonotonicTime now) {
    cornering.lastHeard = now;
    const float stretch = time - cornering.time;
    if (!cornering.started || !std::isfinite(stretch) || stretch <= 0.0f || stretch > longestStretchSeconds) {
        cornering.started = std::isfinite(time);
        cornering.time = time;
        cornering.velocity = velocity;
        cornering.rightwardG = 0.0f;
        return;
    }
    if (stretch < shortestStretchSeconds) return;
    const std::array<float, 3> change{velocity[0] - cornering.velocity[0],
                                      velocity[1] - cornering.velocity[1],
                                      velocity[2] - cornering.velocity[2]};
    const float g = dot(change, rightDirection) / stretch / metresPerSecondSquaredPerG;
    cornering.rightwardG = std::isfinite(g) ? g : 0.0f;
    cornering.time = time;
    cornering.velocity = velocity;
}

bool heardRecently(bool heard, MonotonicTime lastHeard, MonotonicTime now) {
    return heard && now - lastHeard < udpSilenceLimit;
}

bool takeF1Datagram(F1State& state, Datagram datagram, MonotonicTime now) {
    const f1::Format* format = f1::formatOf(datagram);
    if (!format) return false;
    switch (datagram[f1::packetId]) {
    case f1::sessionId: return takeF1Session(state, datagram, *format);
    case f1::participantsId: return takeF1Participants(state, datagram, *format);
    case f1::carTelemetryId: return takeF1CarTelemetry(state, datagram, now, *format);
    case f1::motionId: return takeF1Motion(state, datagram, now, *format);
    default: return true; // the games send a dozen other packets Ventora has no use for
    }
}

// DiRT's fields, from its own datagrams and from the first 264 bytes of Test Drive Unlimited's.
void takeDirtFields(DirtState& state, Datagram fields, MonotonicTime now) {
    // The first datagram has nothing to differ from: a game paused as Ventora starts stays not live.
    const bool changed = state.heard && !std::equal(fields.begin() + dirt::afterRunTime, fields.end(),
                                                    state.last.begin() + dirt::afterRunTime);
    if (changed) {
        state.changed = true;
        state.lastChanged = now;
    }
    state.heard = true;
    state.lastHeard = now;
    std::copy(fields.begin(), fields.end(), state.last.begin());
    state.speedKmh = speedWithinReason(loadFloat(fields, dirt::speedMetresPerSecond) * kmhPerMetrePerSecond);
    state.trackLengthMetres = loadFloat(fields, dirt::trackLengthMetres);
    takeVelocityReading(state.cornering, loadFloat(fields, dirt::runTime),
                        loadVector(fields, dirt::worldVelocity), loadVector(fields, dirt::rightDirection),
                        now);
}

bool takeDirtDatagram(DirtState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != dirtDatagramSize) return false;
    takeDirtFields(state, datagram, now);
    return true;
}

bool takeTduDatagram(TduState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() < tduShortestDatagram) return false;
    // Only DiRT's part: the tail's meaning is not known, and a clock in it would keep a paused game
    // live.
    takeDirtFields(state, datagram.first(dirtDatagramSize), now);
    return true;
}

bool takeWrcDatagram(WrcState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != wrc::size) return false;
    const float stageTime = loadFloat(datagram, wrc::stageCurrentTime);
    if (state.heard && stageTime > state.stageTime) {
        state.advanced = true;
        state.lastAdvanced = now;
    }
    state.heard = true;
    state.lastHeard = now;
    state.stageTime = stageTime;
    state.speedKmh = speedWithinReason(loadFloat(datagram, wrc::vehicleSpeed) * kmhPerMetrePerSecond);
    state.stageLengthMetres = loadDouble(datagram, wrc::stageLength);
    const float leftwardG =
        dot(loadVector(datagram, wrc::worldAcceleration), loadVector(datagram, wrc::leftDirection)) /
        metresPerSecondSquaredPerG;
    state.rightwardG = std::isfinite(leftwardG) ? -leftwardG : 0.0f;
    return true;
}

// F1 games in a format Ventora does not read (F1 23, or F1 24 set to 2023) send datagrams as long as
// Test Drive Unlimited's to the same port: their header's format is a year, where Test Drive's run
// time (a float) would have to fall on one by chance, and then only that datagram is passed over.
bool looksLikeF1(Datagram datagram) {
    constexpr std::uint16_t firstF1Year = 2017, lastF1Year = 2035;
    const std::uint16_t format = loadU16(datagram, 0);
    return format >= firstF1Year && format <= lastF1Year;
}

bool takeF1PortDatagram(UdpGameStates& states, Datagram datagram, MonotonicTime now) {
    // F1 24's Motion Ex packet is 237 bytes too: a datagram with an F1 header is F1's.
    const f1::Format* format = f1::formatOf(datagram);
    if (!format || datagram[f1::packetId] > f1::lastPacketId) {
        if (datagram.size() == dirtDatagramSize) return takeDirtDatagram(states.dirt, datagram, now);
        if (datagram.size() == wrc::size) return takeWrcDatagram(states.wrc, datagram, now);
        if (datagram.size() >= tduShortestDatagram && !looksLikeF1(datagram))
            return takeTduDatagram(states.tdu, datagram, now);
    }
    return takeF1Datagram(states.f1, datagram, now);
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
    state.speedKmh = speedWithinReason(metresPerSecond * kmhPerMetrePerSecond);
    state.carOrdinal = loadI32(datagram, forza::carOrdinal);
    state.trackOrdinal = kind == ForzaKind::motorsport2023Dash ? loadI32(datagram, forza::trackOrdinal) : 0;
    state.rightwardG = loadFloat(datagram, forza::accelerationX) / metresPerSecondSquaredPerG;
    return true;
}

bool takeOutGaugeDatagram(OutGaugeState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != outGauge::size && datagram.size() != outGauge::sizeWithId) return false;
    state.heard = true;
    state.lastHeard = now;
    std::memcpy(state.car.data(), datagram.data() + outGauge::car, state.car.size());
    state.speedKmh = speedWithinReason(loadFloat(datagram, outGauge::speed) * kmhPerMetrePerSecond);
    return true;
}

bool takeRbrDatagram(RbrState& state, Datagram datagram, MonotonicTime now) {
    if (datagram.size() != rbrDatagramSize) return false;
    const std::uint32_t steps = loadU32(datagram, rbr::totalSteps);
    const float raceTime = loadFloat(datagram, rbr::raceTime);
    const std::int32_t stage = loadI32(datagram, rbr::stage), car = loadI32(datagram, rbr::car);
    // Paused, the game goes on sending the same step and time; a restarted stage counts again from
    // the start, its steps lower than before.
    const bool sameRun = state.heard && stage == state.stage && car == state.car;
    const bool advanced = sameRun && steps > state.totalSteps && raceTime > state.raceTime;
    if (advanced) {
        state.advanced = true;
        state.lastAdvanced = now;
    }
    state.heard = true;
    state.lastHeard = now;
    state.totalSteps = steps;
    state.raceTime = raceTime;
    state.stage = stage;
    state.car = car;
    const float speed = loadFloat(datagram, rbr::speed);
    state.speed = std::isfinite(speed) ? speed : 0.0f;
    if (const std::optional<bool> mph = rbrUnitsAreMph(datagram, state.speed)) state.mph = *mph;
    return true;
}

// A cornering that stopped coming (F1's Motion packets turned off while its Car Telemetry goes on)
// is no longer believed.
float recentCornering(const CorneringFromVelocity& cornering, MonotonicTime now) {
    return heardRecently(cornering.started, cornering.lastHeard, now) ? cornering.rightwardG : 0.0f;
}

void overlayUdpGames(const UdpGameStates& states, MonotonicTime now, TelemetrySample& sample) {
    const F1State& f1 = states.f1;
    if (heardRecently(f1.heard, f1.lastHeard, now) && f1.playerIndexValid && !f1.spectating) {
        // Before the first Participants packet (the games send one every few seconds) the team is
        // not known yet.
        sample.combo = (f1.teamId < 0 ? std::string("Unknown") : f1TeamName(f1.teamId)) + " @ " +
                       f1TrackName(f1.trackId);
        sample.speedKmh = f1.speedKmh;
        sample.cornerG = recentCornering(f1.cornering, now);
    }

    const DirtState& dirt = states.dirt;
    // A change, or an advance, comes only with a datagram, so it being recent says the game is still
    // sending too.
    if (heardRecently(dirt.changed, dirt.lastChanged, now)) {
        // No names in the datagram: the stage's length tells one stage from another.
        sample.combo = "Stage " + std::to_string(wholeMetres(dirt.trackLengthMetres)) + " m @ DiRT";
        sample.speedKmh = dirt.speedKmh;
        sample.cornerG = recentCornering(dirt.cornering, now);
    }

    const WrcState& wrc = states.wrc;
    if (heardRecently(wrc.advanced, wrc.lastAdvanced, now)) {
        sample.combo = "Stage " + std::to_string(wholeMetres(wrc.stageLengthMetres)) + " m @ EA WRC";
        sample.speedKmh = wrc.speedKmh;
        sample.cornerG = wrc.rightwardG;
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
        sample.cornerG = forza.rightwardG;
    }

    const OutGaugeState& outGauge = states.outGauge;
    if (heardRecently(outGauge.heard, outGauge.lastHeard, now)) {
        const auto carEnd = std::find(outGauge.car.begin(), outGauge.car.end(), '\0');
        sample.combo = std::string(outGauge.car.begin(), carEnd) + " @ OutGauge";
        sample.speedKmh = outGauge.speedKmh;
        sample.cornerG = 0.0f; // OutGauge carries no acceleration
    }

    const RbrState& rbr = states.rbr;
    if (heardRecently(rbr.advanced, rbr.lastAdvanced, now)) {
        // The datagram names its stage and car slot by number only; their names live in the
        // game's own files, wherever the game is installed.
        sample.combo = "Car " + std::to_string(rbr.car) + " @ Stage " + std::to_string(rbr.stage) +
                       " @ Richard Burns Rally";
        sample.speedKmh = speedWithinReason(std::fabs(rbr.speed) * (rbr.mph ? rbr::kmhPerMph : 1.0f));
        sample.cornerG = 0.0f; // its sway and yaw say "left/right" but not which is which
    }

    const TduState& tdu = states.tdu;
    if (heardRecently(tdu.changed, tdu.lastChanged, now)) {
        sample.combo = "Test Drive Unlimited Solar Crown";
        sample.speedKmh = tdu.speedKmh;
        sample.cornerG = recentCornering(tdu.cornering, now);
    }
}
