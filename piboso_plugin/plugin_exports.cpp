// ventora-krp.dlo, ventora-mxbikes.dlo, ventora-gpbikes.dlo: what Kart Racing Pro, MX Bikes and
// GP Bikes load from the plugins folder beside their program. One source; the build names the game
// (VENTORA_PIBOSO_GAME), whose identity the game checks before it keeps the plugin. Undecorated C
// exports, none of which lets anything escape into the game.
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

EXPORT char* GetModID() noexcept {
    copyBoundedText(game.modId, modId, sizeof modId);
    return modId;
}

EXPORT int GetModDataVersion() noexcept {
    return game.dataVersion;
}

EXPORT int GetInterfaceVersion() noexcept {
    return game.interfaceVersion;
}

EXPORT int Startup(char*) noexcept {
    return startPiBoSoPlugin(game, {openSection, closePluginSection});
}

EXPORT void Shutdown() noexcept {
    shutdownPiBoSoPlugin();
}

EXPORT void EventInit(void* data, int size) noexcept {
    takeEventInit(data, size);
}

EXPORT void EventDeinit() noexcept {
    takeEventDeinit();
}

EXPORT void RunInit(void*, int) noexcept {
    takeRunInit();
}

EXPORT void RunDeinit() noexcept {
    takeRunDeinit();
}

EXPORT void RunStart() noexcept {
    takeRunStart();
}

EXPORT void RunStop() noexcept {
    takeRunStop();
}

EXPORT void RunTelemetry(void* data, int size, float, float) noexcept {
    takeRunTelemetry(data, size);
}

EXPORT void RaceEvent(void* data, int size) noexcept {
    takeRaceEvent(data, size);
}
