// The plugin's callbacks: they keep the truck's state in a fixed record and publish it at each
// frame end. Everything here runs on the game's main thread and must cost the game nothing
// noticeable: no allocation after init, no lock, no wait, and no pointer from the game trusted
// before it is checked.
#include "truck_plugin/truck_plugin.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "plugin_record/plugin_record.h"

namespace {

struct EventRegistration {
    std::uint32_t event;
    const char* what; // for the warning when the game refuses it
    bool registered;
};

struct Plugin {
    bool running = false;
    game::InitParams game{};
    RecordSection section{};
    std::span<std::uint8_t> page;
    PluginRecord record;
    std::uint32_t sequence = 0;
    // In this order: the four registrations below name them by place.
    EventRegistration events[4] = {
        {game::configurationEvent, "the configuration event", false},
        {game::startedEvent, "the started event", false},
        {game::pausedEvent, "the paused event", false},
        {game::frameEndEvent, "the frame end event", false},
    };
    bool speedRegistered = false;
    bool accelerationRegistered = false;
    bool angularVelocityRegistered = false;
    // Without the started and paused events, the truck counts as driven while speeds arrive (the
    // game sends none while paused); without frame ends, every callback publishes.
    bool liveFromSpeed = false;
    bool publishEveryCall = false;
    bool speedThisFrame = false;
};

Plugin plugin;
enum EventPlace { configurationPlace, startedPlace, pausedPlace, frameEndPlace };

// Longest attribute array looked through: a guard against a configuration that lost its end.
constexpr int maxAttributes = 4096;

void log(game::LogType type, const char* text) {
    if (plugin.game.log) plugin.game.log(type, text);
}

void publish() {
    writePluginRecord(plugin.page, plugin.record, plugin.sequence);
}

void onConfiguration(const game::ConfigurationInfo* info) {
    if (!info || !info->id || std::strcmp(info->id, game::truckConfiguration) != 0) return;
    // Each truck configuration lists the truck whole: what it leaves out is no longer there.
    copyBoundedText({}, plugin.record.firstName, sizeof plugin.record.firstName);
    copyBoundedText({}, plugin.record.secondName, sizeof plugin.record.secondName);
    const game::NamedValue* attribute = info->attributes;
    for (int i = 0; attribute && attribute->name && i < maxAttributes; ++i, ++attribute) {
        if (attribute->value.type != game::stringType || !attribute->value.stringValue) continue;
        // Copied now: the game's strings die with the callback.
        if (std::strcmp(attribute->name, "brand") == 0)
            copyBoundedText(attribute->value.stringValue, plugin.record.firstName,
                            sizeof plugin.record.firstName);
        else if (std::strcmp(attribute->name, "name") == 0)
            copyBoundedText(attribute->value.stringValue, plugin.record.secondName,
                            sizeof plugin.record.secondName);
    }
}

void onEvent(std::uint32_t event, const void* info, void*) {
    if (!plugin.running) return;
    switch (event) {
    case game::configurationEvent: onConfiguration(static_cast<const game::ConfigurationInfo*>(info)); break;
    case game::startedEvent: plugin.record.live = true; break;
    case game::pausedEvent: plugin.record.live = false; break;
    case game::frameEndEvent:
        if (plugin.liveFromSpeed) plugin.record.live = plugin.speedThisFrame;
        plugin.speedThisFrame = false;
        publish();
        return;
    default: return;
    }
    if (plugin.publishEveryCall) publish();
}

void onSpeed(const char*, std::uint32_t, const game::Value* value, void*) {
    if (!plugin.running || !value || value->type != game::floatType) return;
    plugin.record.metresPerSecond = value->floatValue;
    plugin.speedThisFrame = true;
    if (plugin.liveFromSpeed && plugin.publishEveryCall) plugin.record.live = true;
    if (plugin.publishEveryCall) publish();
}

// The cornering rides along with the speed: no frame of its own is published for it.
void onAcceleration(const char*, std::uint32_t, const game::Value* value, void*) {
    if (!plugin.running || !value || value->type != game::fvectorType) return;
    const float sideways = value->vectorValue[0];
    plugin.record.lateralAcceleration = std::isfinite(sideways) ? sideways : 0.0f;
}

void onAngularVelocity(const char*, std::uint32_t, const game::Value* value, void*) {
    if (!plugin.running || !value || value->type != game::fvectorType) return;
    const float yaw = value->vectorValue[1] * 2.0f * std::numbers::pi_v<float>; // rotations to radians
    plugin.record.yawRate = std::isfinite(yaw) ? yaw : 0.0f;
}

void warnRefused(const char* what, game::Result result) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Ventora telemetry plugin: the game refused %s (%d); going on without it", what,
                  static_cast<int>(result));
    log(game::logWarning, text);
}

bool registerVector(const char* channel, game::ChannelCallback callback) {
    game::Result result = game::notFound;
    if (plugin.game.registerForChannel)
        result =
            plugin.game.registerForChannel(channel, game::noIndex, game::fvectorType, 0, callback, nullptr);
    if (result != game::ok) {
        char what[80];
        std::snprintf(what, sizeof what, "the %s channel", channel);
        warnRefused(what, result);
    }
    return result == game::ok;
}

void registerAll() {
    for (EventRegistration& registration : plugin.events) {
        const game::Result result = plugin.game.registerForEvent(registration.event, onEvent, nullptr);
        registration.registered = result == game::ok;
        if (!registration.registered) warnRefused(registration.what, result);
    }
    game::Result result = game::notFound;
    if (plugin.game.registerForChannel)
        result = plugin.game.registerForChannel(game::speedChannel, game::noIndex, game::floatType, 0,
                                                onSpeed, nullptr);
    plugin.speedRegistered = result == game::ok;
    if (!plugin.speedRegistered) warnRefused("the truck.speed channel", result);
    plugin.accelerationRegistered = registerVector(game::accelerationChannel, onAcceleration);
    plugin.angularVelocityRegistered = registerVector(game::angularVelocityChannel, onAngularVelocity);

    plugin.liveFromSpeed = !plugin.events[startedPlace].registered || !plugin.events[pausedPlace].registered;
    plugin.publishEveryCall = !plugin.events[frameEndPlace].registered;
}

} // namespace

game::Result initTruckPlugin(std::uint32_t version, const void* params, const RecordSection& section) {
    if (version != game::api100 && version != game::api101) return game::unsupported;
    if (plugin.running) return game::alreadyRegistered;
    if (!params) return game::invalidParameter;
    plugin = Plugin{};
    std::memcpy(&plugin.game, params, sizeof plugin.game);
    if (!plugin.game.registerForEvent || !section.open || !section.close) {
        plugin = Plugin{};
        return game::invalidParameter;
    }
    const OpenedSection opened = section.open();
    if (opened.anotherGamePublishes) {
        // Two writers with their own sequence numbers could mix two records into one that a reader
        // believes: the game that came first keeps the section.
        log(game::logWarning, "Ventora telemetry plugin: another truck game already sends its telemetry to "
                              "Ventora; this one sends nothing until it is restarted alone");
        plugin = Plugin{};
        return game::ok;
    }
    plugin.page = opened.page;
    if (plugin.page.size() < pluginRecord::size) {
        log(game::logError, "Ventora telemetry plugin: cannot make its shared memory; Ventora gets nothing");
        if (!plugin.page.empty()) section.close();
        plugin = Plugin{};
        return game::genericError;
    }
    plugin.section = section;
    plugin.running = true;
    copyBoundedText(plugin.game.gameId ? plugin.game.gameId : "", plugin.record.gameId,
                    sizeof plugin.record.gameId);
    publish(); // the game and not yet live, from the start
    registerAll();
    log(game::logMessage, "Ventora telemetry plugin " VENTORA_VERSION " ready");
    return game::ok;
}

void shutdownTruckPlugin() {
    if (!plugin.running) return;
    for (const EventRegistration& registration : plugin.events)
        if (registration.registered && plugin.game.unregisterFromEvent)
            plugin.game.unregisterFromEvent(registration.event);
    if (plugin.speedRegistered && plugin.game.unregisterFromChannel)
        plugin.game.unregisterFromChannel(game::speedChannel, game::noIndex, game::floatType);
    if (plugin.accelerationRegistered && plugin.game.unregisterFromChannel)
        plugin.game.unregisterFromChannel(game::accelerationChannel, game::noIndex, game::fvectorType);
    if (plugin.angularVelocityRegistered && plugin.game.unregisterFromChannel)
        plugin.game.unregisterFromChannel(game::angularVelocityChannel, game::noIndex, game::fvectorType);
    // A reader still holding the section sees the game gone at once.
    plugin.record.live = false;
    publish();
    plugin.section.close();
    plugin = Plugin{};
}
