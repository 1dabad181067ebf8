// The trucks' record is copied out whole under its sequence number and only then believed.
#include "telemetry/opened/truck_reader.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "truck_plugin/truck_record.h"

namespace {

std::string_view gameTitle(const char* gameId) {
    if (std::strcmp(gameId, "eut2") == 0) return "Euro Truck Simulator 2";
    if (std::strcmp(gameId, "ats") == 0) return "American Truck Simulator";
    return gameId; // a game of the same family Ventora does not know yet still gets a combo
}

} // namespace

bool truckRecordStale(const TruckWatch& watch, std::uint64_t nowMs) {
    return !watch.seen || nowMs - watch.movedAtMs > truckStaleAfterMs;
}

void readTrucks(const TruckView& view, TelemetrySample& sample) {
    if (!view.watch) return;
    TruckWatch& watch = *view.watch;
    TruckRecord record;
    std::uint32_t sequence = 0;
    if (!copyTruckRecord(view.record, record, sequence)) return;
    // The first sight only sets the mark: a record left by a game that has stopped must move
    // before it counts.
    if (!watch.seen) {
        watch = {true, false, sequence, view.nowMs};
        return;
    }
    if (sequence != watch.sequence) {
        watch.sequence = sequence;
        watch.moved = true;
        watch.movedAtMs = view.nowMs;
    }
    if (!record.live || !watch.moved || truckRecordStale(watch, view.nowMs)) return;

    constexpr float kmhPerMetrePerSecond = 3.6f;
    sample.combo.assign(record.brand)
        .append(" ")
        .append(record.name)
        .append(" @ ")
        .append(gameTitle(record.gameId));
    sample.speedKmh = std::fabs(record.metresPerSecond) * kmhPerMetrePerSecond;
}
