// The reader of Euro Truck Simulator 2 and American Truck Simulator, through the record Ventora's
// own plugin publishes from inside the game (truck_plugin/truck_record.h).
#pragma once
#include <cstdint>
#include <span>

#include "telemetry/telemetry_sample.h"

// What Ventora keeps of the record between ticks: the last sequence number, and when it last moved.
struct TruckWatch {
    bool seen = false;
    bool moved = false;
    std::uint32_t sequence = 0;
    std::uint64_t movedAtMs = 0;
};

// The trucks' section as a tick finds it: the record, what was seen of it before, and the time.
struct TruckView {
    std::span<const std::uint8_t> record; // empty while no game has the plugin loaded
    TruckWatch* watch = nullptr;
    std::uint64_t nowMs = 0;
};

// A game frozen or gone without a word stops moving the sequence: after this long it is not driven.
inline constexpr std::uint64_t truckStaleAfterMs = 1000;

// True when the record has not moved for longer than that, or has not been read whole yet: the
// section Ventora holds may be a dead game's, while a new game has made the name afresh.
bool truckRecordStale(const TruckWatch& watch, std::uint64_t nowMs);

// Replaces the sample's combo ("brand name @ game") and speed (km/h, reversing too) when the record
// says live and its sequence moved within the last second. A torn copy gives no sample this tick.
void readTrucks(const TruckView& view, TelemetrySample& sample);
