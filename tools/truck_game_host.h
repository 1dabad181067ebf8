// A stand-in for Euro Truck Simulator 2 or American Truck Simulator on the game's side of the
// telemetry interface: it hands a plugin the game's parameters, keeps what the plugin registers,
// and plays a truck through it (configuration, started, frames with the speed, paused). Neutral:
// publish_game and the Windows tests give it the DLL's exports, the native tests the plugin's
// functions.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "truck_plugin/game_interface.h"

struct TruckGameHost {
    std::string gameId = "eut2", gameName = "Euro Truck Simulator 2";
    std::uint32_t gameVersion = 0x00010012;
    // What the host refuses with -4 (not found): events by number, channels by name.
    std::set<std::uint32_t> refusedEvents;
    std::set<std::string> refusedChannels;
    // Every line the plugin logs: (type, text).
    std::vector<std::pair<std::int32_t, std::string>> log;
    bool echoLog = false; // also print each line to standard error, as a game's console would

    TruckGameHost();
    ~TruckGameHost();
    TruckGameHost(const TruckGameHost&) = delete;
    TruckGameHost& operator=(const TruckGameHost&) = delete;

    // The plugin's init with one version, as the game calls it.
    game::Result init(game::Init init, game::Shutdown shutdown, std::uint32_t version);
    // As the game does: each version it knows, newest first, until one is taken.
    game::Result initNewestFirst(game::Init init, game::Shutdown shutdown);
    void shutdown();

    // The game's events, each delivered only if the plugin registered for it.
    void configure(const std::string& brand, const std::string& name);
    // A configuration event with whatever info a test makes up, null included.
    void sendConfiguration(const game::ConfigurationInfo* info) { deliver(game::configurationEvent, info); }
    void start();
    void pause();
    // One frame: frame start, the speed and the truck's local acceleration and angular velocity
    // (not while paused), frame end. Sideways is m/s^2 toward the truck's right, yaw rotations
    // per second about its up axis.
    void frame(float metresPerSecond, float sidewaysAcceleration = 0.0f, float yawRotationsPerSecond = 0.0f);

    bool paused() const { return paused_; }
    std::size_t registrations() const;
    bool registeredFor(std::uint32_t event) const;
    bool registeredForSpeed() const { return speed_.callback != nullptr; }

  private:
    friend struct TruckGameHostCalls;
    struct EventSlot {
        game::EventCallback callback = nullptr;
        void* context = nullptr;
    };
    struct ChannelSlot {
        game::ChannelCallback callback = nullptr;
        void* context = nullptr;
    };
    void deliver(std::uint32_t event, const void* info);

    game::InitParams params_{};
    game::Shutdown shutdown_ = nullptr;
    bool initialising_ = false;
    bool paused_ = true; // the game starts paused
    EventSlot events_[game::gameplayEvent + 1];
    ChannelSlot speed_, acceleration_, angularVelocity_;
    ChannelSlot* channelSlot(const char* name, std::uint32_t type);
};
