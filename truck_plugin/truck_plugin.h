// The plugin's side of the games' telemetry interface, apart from the DLL's exports and the
// Windows section, so that it builds natively for tests and benchmarks.
#pragma once
#include <cstdint>
#include <span>

#include "plugin_record/plugin_section.h"
#include "truck_plugin/game_interface.h"

// scs_telemetry_init: takes API 1.00 and 1.01, opens the section, registers for the events and the
// speed, and logs that it is ready. -1 for another version, with nothing registered or opened.
// When another game already publishes, it warns and stays idle but still returns ok: the game runs
// on unaffected and the other game's record is left alone.
game::Result initTruckPlugin(std::uint32_t version, const void* params, const RecordSection& section);

// scs_telemetry_shutdown: unregisters what init registered, marks the record not live and closes
// the section.
void shutdownTruckPlugin();
