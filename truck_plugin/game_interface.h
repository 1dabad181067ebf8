// The telemetry interface Euro Truck Simulator 2 and American Truck Simulator offer the plugins
// they load (64-bit builds, API 1.00 and 1.01), in Ventora's own names: shared by the plugin and
// by the stand-in game that loads it in tests and in publish_game.
#pragma once
#include <cstddef>
#include <cstdint>

namespace game {

using Result = std::int32_t;
inline constexpr Result ok = 0;
inline constexpr Result unsupported = -1;
inline constexpr Result invalidParameter = -2;
inline constexpr Result alreadyRegistered = -3;
inline constexpr Result notFound = -4;
inline constexpr Result unsupportedType = -5;
inline constexpr Result notNow = -6;
inline constexpr Result genericError = -7;

inline constexpr std::uint32_t api100 = 0x00010000;
inline constexpr std::uint32_t api101 = 0x00010001;

enum Event : std::uint32_t {
    frameStartEvent = 1,
    frameEndEvent = 2,
    pausedEvent = 3,  // menus, pause: channel data stops
    startedEvent = 4, // the player drives
    configurationEvent = 5,
    gameplayEvent = 6,
};

enum LogType : std::int32_t { logMessage = 0, logWarning = 1, logError = 2 };

enum ValueType : std::uint32_t { floatType = 5, fvectorType = 7, stringType = 12 };

inline constexpr std::uint32_t noIndex = 0xFFFFFFFF;
inline constexpr const char* speedChannel = "truck.speed";
// In the truck's own space: x to its right, y up, z to its back. m/s^2, and rotations per second.
inline constexpr const char* accelerationChannel = "truck.local.acceleration.linear";
inline constexpr const char* angularVelocityChannel = "truck.local.velocity.angular";
inline constexpr const char* truckConfiguration = "truck";

// 48 bytes: the type, then the payload from byte 8.
struct Value {
    std::uint32_t type;
    std::uint32_t reserved;
    union {
        float floatValue;
        float vectorValue[3]; // x, y, z
        const char* stringValue;
        std::uint8_t bytes[40];
    };
};

// One entry of a configuration's attribute array; a null name ends the array.
struct NamedValue {
    const char* name;
    std::uint32_t index;
    std::uint32_t reserved;
    Value value;
};

struct ConfigurationInfo {
    const char* id;
    const NamedValue* attributes;
};

using EventCallback = void (*)(std::uint32_t event, const void* info, void* context);
using ChannelCallback = void (*)(const char* name, std::uint32_t index, const Value* value, void* context);
using Log = void (*)(std::int32_t type, const char* message);
using RegisterForEvent = Result (*)(std::uint32_t event, EventCallback callback, void* context);
using UnregisterFromEvent = Result (*)(std::uint32_t event);
using RegisterForChannel = Result (*)(const char* name, std::uint32_t index, std::uint32_t type,
                                      std::uint32_t flags, ChannelCallback callback, void* context);
using UnregisterFromChannel = Result (*)(const char* name, std::uint32_t index, std::uint32_t type);

// What the game hands scs_telemetry_init: 64 bytes, the same for API 1.00 and 1.01.
struct InitParams {
    const char* gameName; // UTF-8
    const char* gameId;   // "eut2", "ats"
    std::uint32_t gameVersion;
    std::uint32_t reserved;
    Log log;
    RegisterForEvent registerForEvent;
    UnregisterFromEvent unregisterFromEvent;
    RegisterForChannel registerForChannel;
    UnregisterFromChannel unregisterFromChannel;
};

using Init = Result (*)(std::uint32_t version, const void* params);
using Shutdown = void (*)();

// The games are 64-bit programs: these are their layouts, byte for byte.
static_assert(sizeof(void*) == 8, "the games load 64-bit plugins only");
static_assert(sizeof(Value) == 48 && offsetof(Value, floatValue) == 8);
static_assert(sizeof(NamedValue) == 64 && offsetof(NamedValue, index) == 8 &&
              offsetof(NamedValue, value) == 16);
static_assert(sizeof(ConfigurationInfo) == 16 && offsetof(ConfigurationInfo, attributes) == 8);
static_assert(sizeof(InitParams) == 64 && offsetof(InitParams, gameVersion) == 16 &&
              offsetof(InitParams, log) == 24 && offsetof(InitParams, registerForEvent) == 32 &&
              offsetof(InitParams, unregisterFromEvent) == 40 &&
              offsetof(InitParams, registerForChannel) == 48 &&
              offsetof(InitParams, unregisterFromChannel) == 56);

} // namespace game
