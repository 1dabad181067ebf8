// The plugin's side of the games' telemetry interface, apart from the DLL's exports and the
// Windows section, so that it builds natively for tests and benchmarks.
#pragma once
#include <cstdint>
#include <span>

#include "truck_plugin/game_interface.h"

// Where the record goes: the DLL makes a named section, a test hands a buffer.
struct RecordSection {
    std::span<std::uint8_t> (*open)(); // an empty span when it cannot be made
    void (*close)();
};

// scs_telemetry_init: takes API 1.00 and 1.01, opens the section, registers for the events and the
// speed, and logs that it is ready. -1 for another version, with nothing registered or opened.
game::Result initTruckPlugin(std::uint32_t version, const void* params, const RecordSection& section);

// scs_telemetry_shutdown: unregisters what init registered, marks the record not live and closes
// the section.
void shutdownTruckPlugin();
