// The pages of iRacing, rFactor 2, Le Mans Ultimate and Assetto Corsa EVO as publish_game writes them: the
// game's own layout at the offsets Ventora reads, with a few other vehicles and variables around the player's
// so that a reader has to look for the player rather than take the first entry.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The section sizes these games would give their pages (Ventora only opens them).
inline constexpr std::uint32_t iracingSectionSize = 32768;
inline constexpr std::uint32_t rf2ScoringSectionSize = 75312;    // room for 128 vehicles
inline constexpr std::uint32_t rf2TelemetrySectionSize = 241680; // room for 128 vehicles
std::uint32_t lmuSectionSize();
inline constexpr std::uint32_t lmuLockSectionSize = 8;
// Assetto Corsa EVO's three sections, at the sizes of its 0.6 layout.
inline constexpr std::uint32_t acEvoPhysicsSectionSize = 800;
inline constexpr std::uint32_t acEvoGraphicsSectionSize = 4900;
inline constexpr std::uint32_t acEvoStaticSectionSize = 208;

struct OpenedGamePage {
    std::string_view car, track, layout;
    float kmh = 0.0f;
    float iracingMetresPerSecond = 0.0f; // the float that Ventora's 3.6f turns back into kmh
    bool live = true;
    bool torn = false;     // rFactor 2: each rewrite is left half done (Begin ahead of End)
    bool lockHeld = false; // Le Mans Ultimate: the game holds its lock and does not let go
    std::string_view acEvoVersion = "0.6";
    float cornerG = 0.0f; // toward the car's right; written where the game carries it
};

// Counters a game keeps between rewrites of its page.
struct OpenedGameWriter {
    std::int32_t tick = 0;
    std::int32_t sessionInfoCount = 0;
    std::string sessionInfo;
    std::uint32_t version = 0;
    bool holdingLmuLock = false;

    void writeIRacing(std::span<std::uint8_t> page, const OpenedGamePage& p);
    void writeRFactor2(std::span<std::uint8_t> scoring, std::span<std::uint8_t> telemetry,
                       const OpenedGamePage& p);
    void writeLeMansUltimate(std::span<std::uint8_t> data, std::span<std::uint8_t> lock,
                             const OpenedGamePage& p);
    void writeAssettoCorsaEvo(std::span<std::uint8_t> physics, std::span<std::uint8_t> graphics,
                              std::span<std::uint8_t> statics, const OpenedGamePage& p);
};
