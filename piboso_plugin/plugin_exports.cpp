// ventora-krp.dlo, ventora-mxbikes.dlo, ventora-gpbikes.dlo: what Kart Racing Pro, MX Bikes and
// GP Bikes load from the plugins folder beside their program. One source; the build names the game
// (VENTORA_PIBOSO_GAME), whose identity the game checks before it keeps the plugin. Undecorated C
// exports. Nothing behind them allocates or throws, so nothing can escape into the game; they are
// not marked noexcept, which would link in the terminate handler and its demangler, 110 KB.
#include "piboso_plugin/piboso_interface.h"
#include "piboso_plugin/piboso_plugin.h"
#include "plugin_record/plugin_record.h"
#include "plugin_record/plugin_section.h"

namespace {

constexpr const piboso::GameIdentity& game = piboso::VENTORA_PIBOSO_GAME;

// GetModID hands out a char*: a buffer of the plugin's own, which the game may keep.
char modId[16] = {};

OpenedSection openSection() {
    return openPluginSection(pluginRecord::kartsAndBikesSectionName);
}

} // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT char* GetModID() {
    copyBoundedText(game.modId, modId, sizeof modId);
    return modId;
}

EXPORT int GetModDataVersion() {
    return game.dataVersion;
}

EXPORT int GetInterfaceVersion() {
    return game.interfaceVersion;
}

EXPORT int Startup(char*) {
    return startPiBoSoPlugin(game, {openSection, closePluginSection});
}

EXPORT void Shutdown() {
    shutdownPiBoSoPlugin();
}

EXPORT void EventInit(void* data, int size) {
    takeEventInit(data, size);
}

EXPORT void EventDeinit() {
    takeEventDeinit();
}

EXPORT void RunInit(void*, int) {
    takeRunInit();
}

EXPORT void RunDeinit() {
    takeRunDeinit();
}

EXPORT void RunStart() {
    takeRunStart();
}

EXPORT void RunStop() {
    takeRunStop();
}

EXPORT void RunTelemetry(void* data, int size, float, float) {
    takeRunTelemetry(data, size);
}

EXPORT void RaceEvent(void* data, int size) {
    takeRaceEvent(data, size);
}
