// Writes the opened games' pages. Each write is what the game does on one of its ticks: iRacing
// fills its next buffer and then stamps it; the rFactor 2 plugin bumps Begin, rewrites, then sets
// End; Le Mans Ultimate rewrites under its lock; Assetto Corsa EVO simply rewrites.
#include "tools/opened_game_writer.h"

#include "win32.h"

#include <bit>
#include <string>

#include "telemetry/opened/opened_game_pages.h"
#include "tools/page_stores.h"

namespace {

// iRacing's page as publish_game lays it out: the header, five variable headers (two that Ventora
// does not read among them), the session text, then three buffers.
constexpr std::size_t iracingVariables = iracing::headerSize;
constexpr std::size_t iracingSessionInfo = 1024;
constexpr std::size_t iracingSessionInfoRoom = 16384;
constexpr std::size_t iracingBuffers = iracingSessionInfo + iracingSessionInfoRoom;
constexpr std::size_t iracingBufferLength = 64;
constexpr std::int32_t iracingBufferCount = 3;

struct IRacingVariable {
    const char* name;
    iracing::VariableType type;
    std::size_t offset; // in a buffer
};
constexpr IRacingVariable iracingVariableTable[] = {
    {"SessionTime", iracing::doubleType, 0}, {"IsReplayPlaying", iracing::boolType, 8},
    {"RPM", iracing::floatType, 12},         {"Speed", iracing::floatType, 16},
    {"IsOnTrack", iracing::boolType, 20},
};

// Single quotes around the track name, doubled inside it, as YAML writes a quoted scalar.
std::string singleQuoted(std::string_view text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

// The player drives car 2, listed after two others.
std::string iracingSessionText(const OpenedGamePage& p) {
    return "---\nWeekendInfo:\n TrackName: publish_game\n TrackDisplayName: " + singleQuoted(p.track) +
           "\n TrackConfigName: " + std::string(p.layout) +
           "\n WeekendOptions:\n  TrackDisplayName: not this one\n\nDriverInfo:\n DriverCarIdx: 2\n"
           " Drivers:\n - CarIdx: 0\n   UserName: Pace Car\n   CarScreenName: safety car\n"
           " - CarIdx: 1\n   UserName: Rival\n   CarScreenName: rival car\n"
           " - CarIdx: 2\n   UserName: You\n   CarScreenName: " +
           std::string(p.car) + "\n   CarClassID: 1\n\n...\n";
}

// rFactor 2's vehicles: the player is second in the scoring and third in the telemetry, and every
// vehicle's id differs from its place.
struct Rf2Vehicle {
    std::int32_t id;
    const char* name; // null for the player, whose name the page gives
};
constexpr Rf2Vehicle scoringOrder[] = {{11, "rival one"}, {7, nullptr}, {3, "rival two"}};
constexpr Rf2Vehicle telemetryOrder[] = {{3, "rival two"}, {11, "rival one"}, {7, nullptr}};

// Local velocity straight ahead (the car's -z), whose length is the speed exactly.
void storeVelocity(std::span<std::uint8_t> page, std::size_t vehicle, double metresPerSecond) {
    const std::size_t at = vehicle + rf2::vehicleTelemetry::localVelocity;
    storeU64(page, at, std::bit_cast<std::uint64_t>(0.0));
    storeU64(page, at + 8, std::bit_cast<std::uint64_t>(0.0));
    storeU64(page, at + 16, std::bit_cast<std::uint64_t>(-metresPerSecond));
}

// The player's mLocalAccel.x, m/s^2 with +x to the car's left.
void storeCornering(std::span<std::uint8_t> page, std::size_t vehicle, float cornerG) {
    const double leftward = -static_cast<double>(cornerG) * 9.80665;
    storeU64(page, vehicle + rf2::vehicleTelemetry::localAccelerationX,
             std::bit_cast<std::uint64_t>(leftward));
}

constexpr std::uint8_t realtimePhaseGreen = 5, realtimePhasePaused = 9;

} // namespace

std::uint32_t lmuSectionSize() {
    return static_cast<std::uint32_t>(lmu::pageSize);
}

void OpenedGameWriter::writeIRacing(std::span<std::uint8_t> page, const OpenedGamePage& p) {
    using namespace iracing;
    storeU32(page, 0, 2);
    storeU32(page, tickRate, 60);
    storeU32(page, variableCount, std::size(iracingVariableTable));
    storeU32(page, variableHeaderOffset, iracingVariables);
    storeU32(page, bufferCount, iracingBufferCount);
    storeU32(page, bufferLength, iracingBufferLength);
    for (std::size_t i = 0; i < std::size(iracingVariableTable); ++i) {
        const std::size_t header = iracingVariables + i * variableHeaderStride;
        storeU32(page, header + variableType, iracingVariableTable[i].type);
        storeU32(page, header + variableOffset, iracingVariableTable[i].offset);
        storeU32(page, header + variableCountOfValues, 1);
        storeText(page, header + variableName, variableNameRoom, iracingVariableTable[i].name);
    }
    const std::string text = iracingSessionText(p);
    if (text != sessionInfo) {
        sessionInfo = text;
        storeText(page, iracingSessionInfo, iracingSessionInfoRoom, text);
        storeU32(page, sessionInfoOffset, iracingSessionInfo);
        storeU32(page, sessionInfoLength, iracingSessionInfoRoom);
        storeU32(page, sessionInfoUpdate, static_cast<std::uint32_t>(++sessionInfoCount));
    }

    // The next buffer in turn gets the values first and its stamp last.
    ++tick;
    const std::size_t index = static_cast<std::size_t>(tick % iracingBufferCount);
    const std::size_t buffer = iracingBuffers + index * iracingBufferLength;
    storeU64(page, buffer + 0, std::bit_cast<std::uint64_t>(tick / 60.0));
    storeU8(page, buffer + 8, 0);
    storeU32(page, buffer + 12, std::bit_cast<std::uint32_t>(3000.0f));
    storeU32(page, buffer + 16, std::bit_cast<std::uint32_t>(p.iracingMetresPerSecond));
    storeU8(page, buffer + 20, p.live ? 1 : 0);
    const std::size_t slot = buffers + index * bufferStride;
    storeU32(page, slot + bufferOffset, buffer);
    storeU32(page, slot + bufferTickCount, static_cast<std::uint32_t>(tick));
    storeU32(page, status, connectedBit);
}

void OpenedGameWriter::writeRFactor2(std::span<std::uint8_t> scoringPage,
                                     std::span<std::uint8_t> telemetryPage, const OpenedGamePage& p) {
    using namespace rf2;
    ++version;
    // A rewrite in progress: Begin moves first. Torn pages stay that way until the next write.
    storeU32(scoringPage, versionBegin, version);
    storeU32(telemetryPage, versionBegin, version);

    storeText(scoringPage, scoring::trackName, nameRoom, p.track);
    storeU32(scoringPage, scoring::vehicleCount, std::size(scoringOrder));
    storeU8(scoringPage, scoring::gamePhase, realtimePhaseGreen);
    storeU8(scoringPage, scoring::inRealtime, p.live ? 1 : 0);
    for (std::size_t i = 0; i < std::size(scoringOrder); ++i) {
        const std::size_t vehicle = scoring::vehicles + i * vehicleScoring::stride;
        const Rf2Vehicle& entry = scoringOrder[i];
        storeU32(scoringPage, vehicle + vehicleScoring::id, static_cast<std::uint32_t>(entry.id));
        storeText(scoringPage, vehicle + vehicleScoring::vehicleName, nameRoom,
                  entry.name ? entry.name : p.car);
        storeU8(scoringPage, vehicle + vehicleScoring::isPlayer, entry.name ? 0 : 1);
    }

    storeU32(telemetryPage, telemetry::vehicleCount, std::size(telemetryOrder));
    for (std::size_t i = 0; i < std::size(telemetryOrder); ++i) {
        const std::size_t vehicle = telemetry::vehicles + i * vehicleTelemetry::stride;
        const Rf2Vehicle& entry = telemetryOrder[i];
        storeU32(telemetryPage, vehicle + vehicleTelemetry::id, static_cast<std::uint32_t>(entry.id));
        storeText(telemetryPage, vehicle + vehicleTelemetry::vehicleName, nameRoom,
                  entry.name ? entry.name : p.car);
        storeText(telemetryPage, vehicle + vehicleTelemetry::trackName, nameRoom, p.track);
        storeVelocity(telemetryPage, vehicle, entry.name ? 1.0 + entry.id : p.kmh / 3.6);
        storeCornering(telemetryPage, vehicle, entry.name ? 0.5f : p.cornerG);
    }

    const std::uint32_t end = p.torn ? version - 1 : version;
    storeU32(scoringPage, versionEnd, end);
    storeU32(telemetryPage, versionEnd, end);
}

void OpenedGameWriter::writeLeMansUltimate(std::span<std::uint8_t> data, std::span<std::uint8_t> lock,
                                           const OpenedGamePage& p) {
    // The game's side of the lock: it takes the lock for every rewrite (spinning, as Ventora holds it
    // only for a moment), or keeps it taken while asked to hold it.
    auto* busy = reinterpret_cast<volatile LONG*>(lock.data() + lmu::lockBusy);
    while (!holdingLmuLock && InterlockedCompareExchange(busy, 1, 0) != 0)
        YieldProcessor();

    storeText(data, lmu::trackName, rf2::nameRoom, p.track);
    storeU8(data, lmu::gamePhase, p.live ? realtimePhaseGreen : realtimePhasePaused);
    storeU8(data, lmu::inRealtime, 1);
    for (std::size_t i = 0; i < std::size(scoringOrder); ++i) {
        const std::size_t vehicle = lmu::vehicleScoring + i * rf2::vehicleScoring::stride;
        const Rf2Vehicle& entry = scoringOrder[i];
        storeU32(data, vehicle + rf2::vehicleScoring::id, static_cast<std::uint32_t>(entry.id));
        storeText(data, vehicle + rf2::vehicleScoring::vehicleName, rf2::nameRoom,
                  entry.name ? entry.name : p.car);
        storeU8(data, vehicle + rf2::vehicleScoring::isPlayer, entry.name ? 0 : 1);
    }
    for (std::size_t i = 0; i < std::size(telemetryOrder); ++i) {
        const std::size_t vehicle = lmu::vehicleTelemetry + i * rf2::vehicleTelemetry::stride;
        const Rf2Vehicle& entry = telemetryOrder[i];
        storeU32(data, vehicle + rf2::vehicleTelemetry::id, static_cast<std::uint32_t>(entry.id));
        storeText(data, vehicle + rf2::vehicleTelemetry::vehicleName, rf2::nameRoom,
                  entry.name ? entry.name : p.car);
        storeText(data, vehicle + rf2::vehicleTelemetry::trackName, rf2::nameRoom, p.track);
        storeVelocity(data, vehicle, entry.name ? 1.0 + entry.id : p.kmh / 3.6);
        storeCornering(data, vehicle, entry.name ? 0.5f : p.cornerG);
        if (!entry.name) storeU8(data, lmu::playerVehicleIndex, static_cast<std::uint8_t>(i));
    }
    storeU8(data, lmu::playerHasVehicle, 1);

    holdingLmuLock = p.lockHeld;
    if (!holdingLmuLock) InterlockedExchange(busy, 0);
}

void OpenedGameWriter::writeAssettoCorsaEvo(std::span<std::uint8_t> physics, std::span<std::uint8_t> graphics,
                                            std::span<std::uint8_t> statics, const OpenedGamePage& p) {
    using namespace acEvo;
    storeText(statics, statics::smVersion, statics::smVersionRoom, p.acEvoVersion);
    storeText(statics, statics::track, nameRoom, p.track);
    storeText(statics, statics::trackConfiguration, nameRoom, p.layout);
    storeText(graphics, graphics::carModel, nameRoom, p.car);
    storeFloat(physics, physics::speedKmh, p.kmh);
    storeU32(graphics, graphics::status, p.live ? graphics::liveStatus : graphics::offStatus);
}
