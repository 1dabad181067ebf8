// A plugin's record is copied out whole under its sequence number and only then believed.
#include "telemetry/opened/plugin_readers.h"

#include <cmath>
#include <cstring>
#include <string_view>

#include "plugin_record/plugin_record.h"
#include "telemetry/speed_within_reason.h"

namespace {

constexpr float kmhPerMetrePerSecond = 3.6f;

std::string_view truckGameTitle(const char* gameId) {
    if (std::strcmp(gameId, "eut2") == 0) return "Euro Truck Simulator 2";
    if (std::strcmp(gameId, "ats") == 0) return "American Truck Simulator";
    return gameId; // a game of the same family Ventora does not know yet still gets a combo
}

} // namespace

bool pluginRecordStale(const PluginWatch& watch, std::uint64_t nowMs) {
    return !watch.seen || nowMs - watch.movedAtMs > pluginRecordStaleAfterMs;
}

bool copyDrivenRecord(const PluginView& view, PluginRecord& record) {
    if (!view.watch) return false;
    PluginWatch& watch = *view.watch;
    std::uint32_t sequence = 0;
    if (!copyPluginRecord(view.record, record, sequence)) return false;
    // The first sight only sets the mark: a record left by a game that has stopped must move
    // before it counts.
    if (!watch.seen) {
        watch = {true, false, sequence, view.nowMs};
        return false;
    }
    if (sequence != watch.sequence) {
        watch.sequence = sequence;
        watch.moved = true;
        watch.movedAtMs = view.nowMs;
    }
    return record.live && watch.moved && !pluginRecordStale(watch, view.nowMs);
}

void readTrucks(const PluginView& view, TelemetrySample& sample) {
    PluginRecord record;
    if (!copyDrivenRecord(view, record)) return;
    sample.combo.assign(record.firstName)
        .append(" ")
        .append(record.secondName)
        .append(" @ ")
        .append(truckGameTitle(record.gameId));
    sample.speedKmh = speedWithinReason(std::fabs(record.metresPerSecond) * kmhPerMetrePerSecond);
    // The trucks' x axis points to the truck's right; an older plugin copy says nothing.
    sample.cornerG = record.carriesCornering ? record.lateralAcceleration / metresPerSecondSquaredPerG : 0.0f;
}

void readKartsAndBikes(const PluginView& view, TelemetrySample& sample) {
    PluginRecord record;
    if (!copyDrivenRecord(view, record)) return;
    sample.combo.assign(record.firstName).append(" @ ").append(record.secondName);
    sample.speedKmh = speedWithinReason(std::fabs(record.metresPerSecond) * kmhPerMetrePerSecond);
    // Which way the PiBoSo games' axes point is not known, and a leaning bike's own sideways
    // acceleration says little: the record carries their values, the fans do not split on them.
    sample.cornerG = 0.0f;
}
