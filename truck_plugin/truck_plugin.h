// The plugin's side of the games' telemetry interface, apart from the DLL's exports and the
// Windows section, so that it builds natively for tests and benchmarks.
#pragma once
#include <cstdint>
#include <span>

#include "truck_plugin/game_interface.h"

// What opening the section gave: its page, or none when it cannot be made or when another game
// (the other truck game, or a second copy of this one) already publishes in it.
struct OpenedSection {
    std::span<std::uint8_t> page;
    bool anotherGamePublishes = false;
};

// Where the record goes: the DLL makes a named section, a test hands a buffer.
struct RecordSection {
    OpenedSection (*open)();
    void (*close)(); // called only after an open that gave a page
};

// scs_telemetry_init: takes API 1.00 and 1.01, opens the section, registers for the events and the
// speed, and logs that it is ready. -1 for another version, with nothing registered or opened.
// When another game already publishes, it warns and stays idle but still returns ok: the game runs
// on unaffected and the other game's record is left alone.
game::Result initTruckPlugin(std::uint32_t version, const void* params, const RecordSection& section);

// scs_telemetry_shutdown: unregisters what init registered, marks the record not live and closes
// the section.
void shutdownTruckPlugin();
