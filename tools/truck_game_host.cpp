// The host's side of the interface. The game's functions take no context, so the one host that is
// running is process-wide, as the game itself is.
#include "tools/truck_game_host.h"

#include <cstdio>
#include <cstring>

namespace {
TruckGameHost* runningHost = nullptr;
} // namespace

struct TruckGameHostCalls {
    static void log(std::int32_t type, const char* message) {
        if (!runningHost || !message) return;
        runningHost->log.emplace_back(type, message);
        if (runningHost->echoLog) std::fprintf(stderr, "game log %d: %s\n", static_cast<int>(type), message);
    }

    static game::Result registerForEvent(std::uint32_t event, game::EventCallback callback, void* context) {
        TruckGameHost* host = runningHost;
        if (!host) return game::genericError;
        if (!host->initialising_) return game::notNow;
        if (event < game::frameStartEvent || event > game::gameplayEvent || !callback)
            return game::invalidParameter;
        if (host->refusedEvents.count(event)) return game::notFound;
        if (host->events_[event].callback) return game::alreadyRegistered;
        host->events_[event] = {callback, context};
        return game::ok;
    }

    static game::Result unregisterFromEvent(std::uint32_t event) {
        TruckGameHost* host = runningHost;
        if (!host || event < game::frameStartEvent || event > game::gameplayEvent)
            return game::invalidParameter;
        if (!host->events_[event].callback) return game::notFound;
        host->events_[event] = {};
        return game::ok;
    }

    static game::Result registerForChannel(const char* name, std::uint32_t index, std::uint32_t type,
                                           std::uint32_t, game::ChannelCallback callback, void* context) {
        TruckGameHost* host = runningHost;
        if (!host) return game::genericError;
        if (!host->initialising_) return game::notNow;
        if (!name || !callback) return game::invalidParameter;
        // The host knows the channels a wind plugin needs.
        if (!host->channelSlot(name, game::floatType) && !host->channelSlot(name, game::fvectorType))
            return game::notFound;
        if (index != game::noIndex || host->refusedChannels.count(name)) return game::notFound;
        TruckGameHost::ChannelSlot* slot = host->channelSlot(name, type);
        if (!slot) return game::unsupportedType;
        if (slot->callback) return game::alreadyRegistered;
        *slot = {callback, context};
        return game::ok;
    }

    static game::Result unregisterFromChannel(const char* name, std::uint32_t index, std::uint32_t type) {
        TruckGameHost* host = runningHost;
        if (!host || !name) return game::invalidParameter;
        TruckGameHost::ChannelSlot* slot = host->channelSlot(name, type);
        if (!slot || index != game::noIndex || !slot->callback) return game::notFound;
        *slot = {};
        return game::ok;
    }
};

TruckGameHost::TruckGameHost() {
    params_.log = TruckGameHostCalls::log;
    params_.registerForEvent = TruckGameHostCalls::registerForEvent;
    params_.unregisterFromEvent = TruckGameHostCalls::unregisterFromEvent;
    params_.registerForChannel = TruckGameHostCalls::registerForChannel;
    params_.unregisterFromChannel = TruckGameHostCalls::unregisterFromChannel;
}

TruckGameHost::~TruckGameHost() {
    shutdown();
    if (runningHost == this) runningHost = nullptr;
}

game::Result TruckGameHost::init(game::Init init, game::Shutdown shutdown, std::uint32_t version) {
    runningHost = this;
    params_.gameName = gameName.c_str();
    params_.gameId = gameId.c_str();
    params_.gameVersion = gameVersion;
    initialising_ = true;
    const game::Result result = init(version, &params_);
    initialising_ = false;
    if (result == game::ok) {
        shutdown_ = shutdown;
        paused_ = true;
    } else {
        // A plugin that turns a version down leaves nothing the game keeps.
        for (EventSlot& slot : events_)
            slot = {};
        speed_ = acceleration_ = angularVelocity_ = {};
    }
    return result;
}

game::Result TruckGameHost::initNewestFirst(game::Init init, game::Shutdown shutdown) {
    game::Result result = game::unsupported;
    for (std::uint32_t version : {game::api101, game::api100})
        if ((result = this->init(init, shutdown, version)) == game::ok) break;
    return result;
}

void TruckGameHost::shutdown() {
    if (!shutdown_) return;
    // With two games in one test, the one shutting down takes the plugin's calls again.
    runningHost = this;
    shutdown_();
    shutdown_ = nullptr;
    runningHost = nullptr;
}

void TruckGameHost::deliver(std::uint32_t event, const void* info) {
    if (events_[event].callback) events_[event].callback(event, info, events_[event].context);
}

void TruckGameHost::configure(const std::string& brand, const std::string& name) {
    // The game's strings last only as long as the callback: these copies are overwritten after it,
    // so a plugin that kept a pointer would show garbage.
    std::string brandText = brand, nameText = name, idText = "vehicle.scania_r";
    auto text = [](const char* attribute, const std::string& value) {
        game::NamedValue named{};
        named.name = attribute;
        named.index = game::noIndex;
        named.value.type = game::stringType;
        named.value.stringValue = value.c_str();
        return named;
    };
    game::NamedValue fuel{};
    fuel.name = "fuel.capacity";
    fuel.index = game::noIndex;
    fuel.value.type = game::floatType;
    fuel.value.floatValue = 800.0f;
    const game::NamedValue attributes[] = {text("id", idText), fuel, text("brand", brandText),
                                           text("name", nameText), game::NamedValue{}};
    const game::ConfigurationInfo info{game::truckConfiguration, attributes};
    deliver(game::configurationEvent, &info);
    for (std::string* copy : {&brandText, &nameText, &idText})
        std::memset(copy->data(), '#', copy->size());
}

void TruckGameHost::start() {
    paused_ = false;
    deliver(game::startedEvent, nullptr);
}

void TruckGameHost::pause() {
    paused_ = true;
    deliver(game::pausedEvent, nullptr);
}

TruckGameHost::ChannelSlot* TruckGameHost::channelSlot(const char* name, std::uint32_t type) {
    if (type == game::floatType && std::strcmp(name, game::speedChannel) == 0) return &speed_;
    if (type == game::fvectorType && std::strcmp(name, game::accelerationChannel) == 0) return &acceleration_;
    if (type == game::fvectorType && std::strcmp(name, game::angularVelocityChannel) == 0)
        return &angularVelocity_;
    return nullptr;
}

void TruckGameHost::frame(float metresPerSecond, float sidewaysAcceleration, float yawRotationsPerSecond) {
    deliver(game::frameStartEvent, nullptr);
    if (!paused_) {
        auto send = [](const ChannelSlot& slot, const char* name, const game::Value& value) {
            if (slot.callback) slot.callback(name, game::noIndex, &value, slot.context);
        };
        game::Value value{};
        value.type = game::fvectorType;
        // Braking and the up-and-down of the road ride along, as in the game.
        value.vectorValue[0] = sidewaysAcceleration;
        value.vectorValue[1] = 0.3f;
        value.vectorValue[2] = 1.5f;
        send(acceleration_, game::accelerationChannel, value);
        value.vectorValue[0] = 0.01f;
        value.vectorValue[1] = yawRotationsPerSecond;
        value.vectorValue[2] = -0.02f;
        send(angularVelocity_, game::angularVelocityChannel, value);
        value = game::Value{};
        value.type = game::floatType;
        value.floatValue = metresPerSecond;
        send(speed_, game::speedChannel, value);
    }
    deliver(game::frameEndEvent, nullptr);
}

std::size_t TruckGameHost::registrations() const {
    std::size_t count = 0;
    for (const ChannelSlot* slot : {&speed_, &acceleration_, &angularVelocity_})
        count += slot->callback ? 1 : 0;
    for (const EventSlot& slot : events_)
        count += slot.callback ? 1 : 0;
    return count;
}

bool TruckGameHost::registeredFor(std::uint32_t event) const {
    return event < std::size(events_) && events_[event].callback;
}
