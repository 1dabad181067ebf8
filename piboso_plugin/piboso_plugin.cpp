// The PiBoSo plugin's calls: they keep the kart's or bike's state in a fixed record and publish it
// at each call. Everything here runs on the game's main thread between two of its frames: no
// allocation, no lock, no wait, and no byte of the game's blocks read outside what the game said
// it passed and what Ventora knows of the layout.
#include "piboso_plugin/piboso_plugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "plugin_record/plugin_record.h"
#include "telemetry/byte_loads.h"
#include "telemetry/telemetry_sample.h"

namespace {

struct Plugin {
    bool started = false;
    const piboso::GameIdentity* game = nullptr;
    RecordSection section{};
    std::span<std::uint8_t> page;
    PluginRecord record;
    std::uint32_t sequence = 0;
    bool onTrack = false;   // from RunInit to RunDeinit
    bool running = false;   // from RunStart to RunStop: the simulation is not paused
    bool replay = false;    // the event is a replay the player watches
    bool replayRan = false; // a run has begun since the replay was announced
    bool telemetry = false; // RunTelemetry has come since the last RunStart
};

Plugin plugin;

void publish() {
    plugin.record.live = plugin.onTrack && plugin.running && !plugin.replay && plugin.telemetry;
    if (!plugin.record.live)
        plugin.record.metresPerSecond = plugin.record.lateralAcceleration = plugin.record.yawRate = 0.0f;
    writePluginRecord(plugin.page, plugin.record, plugin.sequence);
}

// The game's block as far as both it and Ventora's layout reach.
PageView blockOf(const void* data, int size, std::size_t known) {
    if (!data || size <= 0) return {};
    return {static_cast<const std::uint8_t*>(data), std::min(static_cast<std::size_t>(size), known)};
}

void copyName(PageView block, std::size_t offset, char* room, std::size_t roomSize) {
    copyBoundedText(loadText(block, offset, piboso::nameRoom), room, roomSize);
}

} // namespace

int startPiBoSoPlugin(const piboso::GameIdentity& game, const RecordSection& section) {
    // Started twice without a shutdown between: the section is the one already open.
    if (plugin.started) return piboso::rate20Hz;
    if (!section.open || !section.close) return piboso::unloadPlugin;
    const OpenedSection opened = section.open();
    if (opened.anotherGamePublishes || opened.page.size() < pluginRecord::size) {
        if (!opened.page.empty()) section.close();
        return piboso::unloadPlugin;
    }
    plugin = Plugin{};
    plugin.started = true;
    plugin.game = &game;
    plugin.section = section;
    plugin.page = opened.page;
    copyBoundedText(game.modId, plugin.record.gameId, sizeof plugin.record.gameId);
    publish(); // the game, not yet driven, from the start
    // Ventora looks every 100 ms, against its own clock. At 10 Hz the calls and the looks beat
    // (a call comes at the first frame after its 100 ms, so some looks would find the speed of two
    // looks before); at 20 Hz every look finds a speed newer than the one before.
    return piboso::rate20Hz;
}

void shutdownPiBoSoPlugin() {
    if (!plugin.started) return;
    // A reader still holding the section sees the game gone at once.
    plugin.onTrack = plugin.running = false;
    publish();
    plugin.section.close();
    plugin = Plugin{};
}

void takeEventInit(const void* data, int size) {
    if (!plugin.started) return;
    // A replay announced before this event is this event's; one whose runs have been played
    // belonged to the event before, which ended without its EventDeinit.
    if (plugin.replayRan) plugin.replay = plugin.replayRan = false;
    const PageView block = blockOf(data, size, plugin.game->eventInitSize);
    // Each event names its kart or bike and its track whole: a name it does not carry is cleared.
    copyName(block, plugin.game->vehicleName, plugin.record.firstName, sizeof plugin.record.firstName);
    copyName(block, plugin.game->trackName, plugin.record.secondName, sizeof plugin.record.secondName);
    plugin.onTrack = plugin.running = plugin.telemetry = false;
    publish();
}

void takeEventDeinit() {
    if (!plugin.started) return;
    plugin.onTrack = plugin.running = plugin.replay = plugin.replayRan = false;
    publish();
}

void takeRunInit() {
    if (!plugin.started) return;
    plugin.onTrack = true;
    plugin.running = plugin.telemetry = false;
    plugin.replayRan = plugin.replay;
    publish();
}

void takeRunDeinit() {
    if (!plugin.started) return;
    plugin.onTrack = plugin.running = false;
    publish();
}

void takeRunStart() {
    if (!plugin.started) return;
    plugin.running = true;
    plugin.telemetry = false; // driven again once the game's telemetry says it moves on
    publish();
}

void takeRunStop() {
    if (!plugin.started) return;
    plugin.running = false;
    publish();
}

void takeRunTelemetry(const void* data, int size) {
    if (!plugin.started) return;
    const PageView block = blockOf(data, size, piboso::telemetryYawVelocity + sizeof(float));
    if (!fieldFits(block, piboso::telemetrySpeed, sizeof(float))) return;
    const float speed = loadFloat(block, piboso::telemetrySpeed);
    plugin.record.metresPerSecond = std::isfinite(speed) ? speed : 0.0f;
    // A field beyond a shorter block reads 0. Carried in SI units, as the trucks' are.
    const float sideways = loadFloat(block, piboso::telemetryAccelerationX) * metresPerSecondSquaredPerG;
    const float yaw = loadFloat(block, piboso::telemetryYawVelocity) * std::numbers::pi_v<float> / 180.0f;
    plugin.record.lateralAcceleration = std::isfinite(sideways) ? sideways : 0.0f;
    plugin.record.yawRate = std::isfinite(yaw) ? yaw : 0.0f;
    plugin.telemetry = true;
    publish();
}

void takeRaceEvent(const void* data, int size) {
    if (!plugin.started) return;
    const PageView block = blockOf(data, size, piboso::raceEventType + sizeof(int));
    if (!fieldFits(block, piboso::raceEventType, sizeof(int))) return;
    plugin.replay = loadI32(block, piboso::raceEventType) == piboso::replayRaceEvent;
    plugin.replayRan = false;
    publish();
}
