// The plugin interface of PiBoSo's simulators (Kart Racing Pro, MX Bikes, GP Bikes; 64-bit), in
// Ventora's own names: what each game checks of a plugin, the rates it offers, and where the few
// things a wind plugin needs lie in the blocks of bytes it hands over. Shared by the plugin and by
// the stand-in game that loads it in tests and in publish_game.
#pragma once
#include <cstddef>

namespace piboso {

// What a game asks of a plugin before it keeps it, and the layout of its EventInit block.
struct GameIdentity {
    const char* modId; // GetModID
    int dataVersion;   // GetModDataVersion
    int interfaceVersion;
    std::size_t vehicleName;   // EventInit: the kart's or bike's name, char[100]
    std::size_t trackName;     // EventInit: the track's name, char[100]
    std::size_t eventInitSize; // EventInit's whole block in today's builds; newer ones pass more
};

inline constexpr std::size_t nameRoom = 100;

// Kart Racing Pro Release 14 and later, MX Bikes beta21 and later, GP Bikes beta22b and later.
inline constexpr GameIdentity kartRacingPro{"krp", 6, 9, 200, 640, 748};
inline constexpr GameIdentity mxBikes{"mxbikes", 8, 9, 200, 544, 820};
inline constexpr GameIdentity gpBikes{"gpbikes", 12, 9, 200, 544, 652};

// What Startup returns: how often the game calls RunTelemetry, or that it should unload the plugin.
enum TelemetryRate : int { unloadPlugin = -1, rate100Hz = 0, rate50Hz = 1, rate20Hz = 2, rate10Hz = 3 };

// RunTelemetry's block: the speedometer, a float in metres per second.
inline constexpr std::size_t telemetrySpeed = 20;
// The chassis' sideways acceleration (a float, in g) and its yaw rate (a float, in degrees per
// second), in the games' own axes, whose directions are not documented.
inline constexpr std::size_t telemetryAccelerationX = 48;
inline constexpr std::size_t telemetryYawVelocity = 108;
// RaceEvent's block: its type, an int at the start; -1 when the game has loaded a replay.
inline constexpr std::size_t raceEventType = 0;
inline constexpr int replayRaceEvent = -1;

// The exports, undecorated C functions (the first five required, the rest optional).
using GetModId = char* (*)();
using GetModDataVersion = int (*)();
using GetInterfaceVersion = int (*)();
using Startup = int (*)(char* savePath);
using Shutdown = void (*)();
using EventInit = void (*)(void* data, int size);
using EventDeinit = void (*)();
using RunInit = void (*)(void* data, int size);
using RunDeinit = void (*)();
using RunStart = void (*)();
using RunStop = void (*)();
using RunTelemetry = void (*)(void* data, int size, float time, float pos);
using RaceEvent = void (*)(void* data, int size);

} // namespace piboso
