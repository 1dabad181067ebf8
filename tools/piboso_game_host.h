// A stand-in for Kart Racing Pro, MX Bikes or GP Bikes on the game's side of their plugin
// interface: it checks a plugin's identity as the game does, starts it, and plays an event through
// it (EventInit with the names, RunInit, RunStart, telemetry at the rate the plugin asked for,
// RunStop, a replay, the ends). Neutral: publish_game and the Windows tests give it a .dlo's
// exports, the native tests the plugin's functions.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "piboso_plugin/piboso_interface.h"

// The plugin's exports; an optional one may be null, as the game allows.
struct PiBoSoPluginCalls {
    piboso::GetModId getModId = nullptr;
    piboso::GetModDataVersion getModDataVersion = nullptr;
    piboso::GetInterfaceVersion getInterfaceVersion = nullptr;
    piboso::Startup startup = nullptr;
    piboso::Shutdown shutdown = nullptr;
    piboso::EventInit eventInit = nullptr;
    piboso::EventDeinit eventDeinit = nullptr;
    piboso::RunInit runInit = nullptr;
    piboso::RunDeinit runDeinit = nullptr;
    piboso::RunStart runStart = nullptr;
    piboso::RunStop runStop = nullptr;
    piboso::RunTelemetry runTelemetry = nullptr;
    piboso::RaceEvent raceEvent = nullptr;
};

// RunTelemetry's block in the stand-in: longer than the speed's end, as the games' own are.
inline constexpr std::size_t hostTelemetrySize = 196;

struct PiBoSoGameHost {
    piboso::GameIdentity game = piboso::kartRacingPro;
    PiBoSoPluginCalls plugin;
    std::string savePath = "C:\\Users\\Player\\Documents\\PiBoSo\\Kart Racing Pro\\";
    int rate = piboso::unloadPlugin; // what Startup returned
    bool started = false;

    ~PiBoSoGameHost() { shutdown(); }

    // True when the plugin has every required export and the game's own identity.
    bool identityMatches() const;
    // As the game does: the identity checked, then Startup. True when the game keeps the plugin.
    bool load();
    void shutdown();

    // A whole EventInit block of `size` bytes (0: the game's own size): the names at their
    // offsets, every other byte filled, and the block overwritten once the call returns, so a
    // plugin that read past `size` or kept a pointer would show it.
    void eventInit(const std::string& vehicle, const std::string& track, std::size_t size = 0);
    void eventDeinit();
    void runInit();
    void runDeinit();
    void runStart();
    void runStop();
    void telemetry(float metresPerSecond);
    void raceEvent(int type);

    // How many RunTelemetry calls a second the plugin asked for; 0 when it is not started.
    int telemetryPerSecond() const;
};
