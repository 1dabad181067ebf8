// The PiBoSo plugin's calls, apart from the DLL's exports and the Windows section, so that they
// build natively for tests and benchmarks. The game calls each on its own main thread.
#pragma once
#include "piboso_plugin/piboso_interface.h"
#include "plugin_record/plugin_section.h"

// Startup: opens the section and publishes the game, not yet driven. Returns the telemetry rate,
// or unloadPlugin when the section cannot be made or another game already publishes in it (the
// game then runs on without the plugin, and the other game's record is left alone).
int startPiBoSoPlugin(const piboso::GameIdentity& game, const RecordSection& section);

// Shutdown: marks the record not driven and closes the section.
void shutdownPiBoSoPlugin();

// The game's events, as the exports of the same names get them. A block shorter than a field
// leaves that field as it was; what lies past the known layout is never read.
void takeEventInit(const void* data, int size);
void takeEventDeinit();
void takeRunInit();
void takeRunDeinit();
void takeRunStart();
void takeRunStop();
void takeRunTelemetry(const void* data, int size);
void takeRaceEvent(const void* data, int size);
