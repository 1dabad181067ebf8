// The games whose sections Ventora opens rather than creates: iRacing, rFactor 2, Le Mans Ultimate,
// Assetto Corsa EVO, the trucks (Euro Truck Simulator 2, American Truck Simulator) and the karts and
// bikes (Kart Racing Pro, MX Bikes, GP Bikes) through Ventora's plugins, read in that
// order after the three games of created/game_readers.h. Platform-neutral, like those readers, so
// that the order is tested and the cost benchmarked natively.
#pragma once
#include <cstdint>
#include <span>

#include "telemetry/opened/iracing_reader.h"
#include "telemetry/opened/plugin_readers.h"
#include "telemetry/telemetry_sample.h"

// A game whose section is not open has an empty view.
struct OpenedGameViews {
    std::span<const std::uint8_t> iracing;
    std::span<const std::uint8_t> rf2Scoring, rf2Telemetry;
    std::span<const std::uint8_t> lmuData;
    std::span<std::uint8_t> lmuLock; // written: taking the lock is a write
    std::span<const std::uint8_t> acEvoPhysics{}, acEvoGraphics{}, acEvoStatic{};
    PluginView trucks = {};
    PluginView kartsAndBikes = {};
};

// Each live game replaces the sample's combo and speed, so the last live one wins, over the
// earlier games too. Returns true when Le Mans Ultimate's lock had waiters as it was released.
bool readOpenedGames(const OpenedGameViews& views, IRacingSessionCache& iracingCache,
                     TelemetrySample& sample);
