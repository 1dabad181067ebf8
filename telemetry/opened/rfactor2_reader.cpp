// The rFactor 2 and Le Mans Ultimate readers. The combo is the vehicle's name, " @ " and the track's
// name, with no layout: neither game gives one apart from the track name.
#include "telemetry/opened/rfactor2_reader.h"

#include <atomic>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

#include "telemetry/opened/opened_game_pages.h"
#include "telemetry/byte_loads.h"

namespace {

using namespace rf2;

// In double precision, as the game gives it, so that the one rounding is to the sample's float.
constexpr double kmhPerMetrePerSecond = 3.6;

struct Reading {
    std::string vehicle, track;
    double x = 0.0, y = 0.0, z = 0.0; // local velocity, m/s
    // m/s^2
    double leftwardAcceleration = 0.0;
};

bool isLive(std::uint8_t gamePhase, std::uint8_t inRealtime) {
    return inRealtime != 0 && gamePhase != pausedGamePhase;
}

void loadVelocity(PageView page, std::size_t vehicle, Reading& reading) {
    const std::size_t at = vehicle + vehicleTelemetry::localVelocity;
    reading.x = loadDouble(page, at);
    reading.y = loadDouble(page, at + 8);
    reading.z = loadDouble(page, at + 16);
    reading.leftwardAcceleration = loadDouble(page, vehicle + vehicleTelemetry::localAccelerationX);
}

void putReading(const Reading& reading, TelemetrySample& sample) {
    sample.combo.clear();
    sample.combo.append(reading.vehicle).append(" @ ").append(reading.track);
    const double speed = std::sqrt(reading.x * reading.x + reading.y * reading.y + reading.z * reading.z);
    sample.speedKmh = static_cast<float>(speed * kmhPerMetrePerSecond);
    sample.cornerG = static_cast<float>(-reading.leftwardAcceleration / metresPerSecondSquaredPerG);
}

// The vehicles a page says it has, as far as they lie inside the view.
std::size_t vehiclesInView(PageView page, std::size_t countAt, std::size_t first, std::size_t stride) {
    const std::int32_t stated = loadI32(page, countAt);
    if (stated <= 0 || first > page.size()) return 0;
    return std::min<std::size_t>(static_cast<std::size_t>(stated), (page.size() - first) / stride);
}

// A page's version counters, read before its fields. The page is whole when Begin and End agreed
// before the fields were read and both still hold that value after: End alone would not show a
// rewrite that has begun but not yet ended.
struct Versions {
    std::uint32_t begin;
    bool settled;
};

Versions firstLook(PageView page) {
    const std::uint32_t begin = loadU32(page, versionBegin);
    const bool settled = loadU32(page, versionEnd) == begin;
    orderLoads();
    return {begin, settled};
}

bool unchanged(PageView page, Versions seen) {
    orderLoads();
    return loadU32(page, versionEnd) == seen.begin && loadU32(page, versionBegin) == seen.begin;
}

struct ScoredPlayer {
    std::int32_t id;
    std::string vehicle, track;
};

std::optional<ScoredPlayer> readScoring(PageView page) {
    const Versions seen = firstLook(page);
    if (!seen.settled) return std::nullopt;
    if (!isLive(loadU8(page, scoring::gamePhase), loadU8(page, scoring::inRealtime))) return std::nullopt;
    const std::size_t count =
        vehiclesInView(page, scoring::vehicleCount, scoring::vehicles, vehicleScoring::stride);
    std::optional<ScoredPlayer> player;
    for (std::size_t index = 0; index < count && !player; ++index) {
        const std::size_t vehicle = scoring::vehicles + index * vehicleScoring::stride;
        if (loadU8(page, vehicle + vehicleScoring::isPlayer) == 0) continue;
        player = ScoredPlayer{loadI32(page, vehicle + vehicleScoring::id),
                              std::string(loadText(page, vehicle + vehicleScoring::vehicleName, nameRoom)),
                              std::string(loadText(page, scoring::trackName, nameRoom))};
    }
    if (!player || !unchanged(page, seen)) return std::nullopt;
    return player;
}

// The telemetry arrays are not in the scoring's order: the player's entry is found by its id.
bool readTelemetry(PageView page, std::int32_t id, Reading& reading) {
    const Versions seen = firstLook(page);
    if (!seen.settled) return false;
    const std::size_t count =
        vehiclesInView(page, telemetry::vehicleCount, telemetry::vehicles, vehicleTelemetry::stride);
    bool found = false;
    for (std::size_t index = 0; index < count && !found; ++index) {
        const std::size_t vehicle = telemetry::vehicles + index * vehicleTelemetry::stride;
        if (loadI32(page, vehicle + vehicleTelemetry::id) != id) continue;
        loadVelocity(page, vehicle, reading);
        found = true;
    }
    return found && unchanged(page, seen);
}

// Le Mans Ultimate's lock, tried once. Shared memory carries no alignment promise for a span
// handed in, so a misaligned lock counts as one that cannot be had.
class LockTry {
  public:
    explicit LockTry(std::span<std::uint8_t> lock) {
        if (lock.size() < lmu::lockSize) return;
        auto* busy = lock.data() + lmu::lockBusy;
        auto* waiters = lock.data() + lmu::lockWaiters;
        if (reinterpret_cast<std::uintptr_t>(busy) % alignof(std::int32_t) != 0) return;
        busy_ = reinterpret_cast<std::int32_t*>(busy);
        waiters_ = reinterpret_cast<std::int32_t*>(waiters);
        std::int32_t free = 0;
        held_ = std::atomic_ref(*busy_).compare_exchange_strong(free, 1, std::memory_order_acquire);
    }
    bool held() const { return held_; }
    // Frees the lock; true when the game waits for it and must be woken.
    bool release() {
        if (!held_) return false;
        held_ = false;
        std::atomic_ref(*busy_).store(0, std::memory_order_seq_cst);
        return std::atomic_ref(*waiters_).load(std::memory_order_relaxed) > 0;
    }
    ~LockTry() { release(); }

  private:
    std::int32_t* busy_ = nullptr;
    std::int32_t* waiters_ = nullptr;
    bool held_ = false;
};

// Copies what a tick needs from Le Mans Ultimate's page (under its lock).
std::optional<Reading> copyLeMansUltimate(PageView page) {
    if (!isLive(loadU8(page, lmu::gamePhase), loadU8(page, lmu::inRealtime))) return std::nullopt;
    if (loadU8(page, lmu::playerHasVehicle) == 0) return std::nullopt;
    const std::size_t index = loadU8(page, lmu::playerVehicleIndex);
    if (index >= lmu::maxVehicles) return std::nullopt;
    const std::size_t vehicle = lmu::vehicleTelemetry + index * vehicleTelemetry::stride;
    if (!fieldFits(page, vehicle, vehicleTelemetry::localVelocity + 24)) return std::nullopt;
    Reading reading;
    loadVelocity(page, vehicle, reading);
    reading.track = loadText(page, lmu::trackName, nameRoom);
    reading.vehicle = loadText(page, vehicle + vehicleTelemetry::vehicleName, nameRoom);
    // The telemetry entry normally names the car; failing that, the scoring entry marked as the player.
    for (std::size_t slot = 0; reading.vehicle.empty() && slot < lmu::maxVehicles; ++slot) {
        const std::size_t scored = lmu::vehicleScoring + slot * vehicleScoring::stride;
        if (loadU8(page, scored + vehicleScoring::isPlayer) != 0)
            reading.vehicle = loadText(page, scored + vehicleScoring::vehicleName, nameRoom);
    }
    return reading;
}

} // namespace

void readRFactor2(PageView scoringPage, PageView telemetryPage, TelemetrySample& sample) {
    const std::optional<ScoredPlayer> player = readScoring(scoringPage);
    if (!player) return;
    Reading reading{player->vehicle, player->track};
    if (!readTelemetry(telemetryPage, player->id, reading)) return;
    putReading(reading, sample);
}

bool readLeMansUltimate(PageView data, std::span<std::uint8_t> lock, TelemetrySample& sample) {
    // A game that offers no lock section at all is read as it is.
    LockTry lockTry(lock);
    if (!lock.empty() && !lockTry.held()) return false;
    const std::optional<Reading> reading = copyLeMansUltimate(data);
    const bool wakeWaiters = lockTry.release();
    if (reading) putReading(*reading, sample);
    return wakeWaiters;
}
