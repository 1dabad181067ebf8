// The readers of the games that talk to Ventora through its own plugins, each family in its own
// section of the one record (plugin_record/plugin_record.h): Euro Truck Simulator 2 and American
// Truck Simulator; Kart Racing Pro, MX Bikes and GP Bikes.
#pragma once
#include <cstdint>
#include <span>

#include "telemetry/telemetry_sample.h"

struct PluginRecord;

// What Ventora keeps of a record between ticks: the last sequence number, and when it last moved.
struct PluginWatch {
    bool seen = false;
    bool moved = false;
    std::uint32_t sequence = 0;
    std::uint64_t movedAtMs = 0;
};

// A plugin's section as a tick finds it: the record, what was seen of it before, and the time.
struct PluginView {
    std::span<const std::uint8_t> record; // empty while no game has the plugin loaded
    PluginWatch* watch = nullptr;
    std::uint64_t nowMs = 0;
};

// A game frozen or gone without a word stops moving the sequence: after this long it is not driven.
inline constexpr std::uint64_t pluginRecordStaleAfterMs = 1000;

// True when the record has not moved for longer than that, or has not been read whole yet: the
// section Ventora holds may be a dead game's, while a new game has made the name afresh.
bool pluginRecordStale(const PluginWatch& watch, std::uint64_t nowMs);

// Copies the record out and updates the watch; true when the record says driven and its sequence
// moved within the last second. A torn copy counts as not driven this tick.
bool copyDrivenRecord(const PluginView& view, PluginRecord& record);

// Replaces the sample's combo ("brand name @ game") and speed (km/h, reversing too) when the
// trucks' record is driven.
void readTrucks(const PluginView& view, TelemetrySample& sample);

// Replaces the sample's combo ("kart or bike @ track") and speed (km/h) when the karts' and bikes'
// record is driven.
void readKartsAndBikes(const PluginView& view, TelemetrySample& sample);
