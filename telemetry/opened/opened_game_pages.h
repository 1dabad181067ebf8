// Where iRacing, rFactor 2, Le Mans Ultimate and Assetto Corsa EVO put the fields Ventora reads. Unlike the
// five sections in created/game_pages.h, these games size their own sections, so Ventora only ever opens
// them. Shared by the readers and by the page publisher in tools/.
#pragma once
#include <cstddef>
#include <cstdint>

// iRacing: a header, a table of variable headers, the session-info text (YAML) and up to four
// rotating buffers of variable values, each stamped with the tick it was written in.
namespace iracing {
inline constexpr const char* sectionName = "Local\\IRSDKMemMapFileName";
inline constexpr std::size_t status = 4;
inline constexpr std::uint32_t connectedBit = 1;
inline constexpr std::size_t tickRate = 8;
inline constexpr std::size_t sessionInfoUpdate = 12;
inline constexpr std::size_t sessionInfoLength = 16;
inline constexpr std::size_t sessionInfoOffset = 20;
inline constexpr std::size_t variableCount = 24;
inline constexpr std::size_t variableHeaderOffset = 28;
inline constexpr std::size_t bufferCount = 32;
inline constexpr std::size_t bufferLength = 36;
inline constexpr std::size_t buffers = 48;
inline constexpr std::size_t bufferStride = 16;
inline constexpr std::size_t bufferTickCount = 0;
inline constexpr std::size_t bufferOffset = 4;
inline constexpr std::int32_t maxBuffers = 4;
inline constexpr std::size_t headerSize = buffers + maxBuffers * bufferStride;

inline constexpr std::size_t variableHeaderStride = 144;
inline constexpr std::size_t variableType = 0;
inline constexpr std::size_t variableOffset = 4;
inline constexpr std::size_t variableCountOfValues = 8;
inline constexpr std::size_t variableName = 16;
inline constexpr std::size_t variableNameRoom = 32;

enum VariableType : std::int32_t {
    charType = 0,
    boolType = 1,
    intType = 2,
    bitfieldType = 3,
    floatType = 4,
    doubleType = 5
};
} // namespace iracing

// rFactor 2 through its Shared Memory Map plugin: two pages, each bracketed by a pair of version
// counters that the plugin bumps before and after it rewrites the page.
namespace rf2 {
inline constexpr std::size_t versionBegin = 0;
inline constexpr std::size_t versionEnd = 4;
inline constexpr std::int32_t pausedGamePhase = 9;
inline constexpr std::size_t nameRoom = 64;

namespace scoring {
inline constexpr const char* sectionName = "$rFactor2SMMP_Scoring$";
inline constexpr std::size_t trackName = 12;
inline constexpr std::size_t vehicleCount = 116;
inline constexpr std::size_t gamePhase = 120;
inline constexpr std::size_t inRealtime = 127;
inline constexpr std::size_t vehicles = 560;
} // namespace scoring

namespace telemetry {
inline constexpr const char* sectionName = "$rFactor2SMMP_Telemetry$";
inline constexpr std::size_t vehicleCount = 12;
inline constexpr std::size_t vehicles = 16;
} // namespace telemetry

// One vehicle's scoring, the same in rFactor 2 and Le Mans Ultimate.
namespace vehicleScoring {
inline constexpr std::size_t stride = 584;
inline constexpr std::size_t id = 0;
inline constexpr std::size_t vehicleName = 36;
inline constexpr std::size_t isPlayer = 196;
} // namespace vehicleScoring

// One vehicle's telemetry, the same in rFactor 2 and Le Mans Ultimate.
namespace vehicleTelemetry {
inline constexpr std::size_t stride = 1888;
inline constexpr std::size_t id = 0;
inline constexpr std::size_t vehicleName = 32;
inline constexpr std::size_t trackName = 96;
inline constexpr std::size_t localVelocity = 184; // three doubles, m/s in the car's frame
// A double, m/s^2, positive toward the car's left.
inline constexpr std::size_t localAccelerationX = 208;
} // namespace vehicleTelemetry
} // namespace rf2

// Le Mans Ultimate's own interface: one page, guarded by a lock in a section of its own.
namespace lmu {
inline constexpr const char* sectionName = "LMU_Data";
inline constexpr const char* lockSectionName = "LMU_SharedMemoryLockData";
// What a lock holder signals on release when someone waits for the lock.
inline constexpr const char* lockEventName = "LMU_SharedMemoryLockEvent";
inline constexpr std::size_t lockWaiters = 0;
inline constexpr std::size_t lockBusy = 4;
inline constexpr std::size_t lockSize = 8;

inline constexpr std::size_t scoringInfo = 1632;
inline constexpr std::size_t trackName = scoringInfo;
inline constexpr std::size_t gamePhase = 1740;
inline constexpr std::size_t inRealtime = 1747;
inline constexpr std::size_t vehicleScoring = 2192;
inline constexpr std::size_t maxVehicles = 104;
inline constexpr std::size_t playerVehicleIndex = 128465;
inline constexpr std::size_t playerHasVehicle = 128466;
inline constexpr std::size_t vehicleTelemetry = 128468;
inline constexpr std::size_t pageSize = vehicleTelemetry + maxVehicles * rf2::vehicleTelemetry::stride;
} // namespace lmu

// Assetto Corsa EVO (0.6 and later): three sections, 8-bit names, speed already in km/h. The layout
// is the game's own and has changed before, so a page is read only when its view is at least as
// large as this layout's.
namespace acEvo {
inline constexpr std::size_t nameRoom = 33;

namespace physics {
inline constexpr const char* sectionName = "Local\\acevo_pmf_physics";
inline constexpr std::size_t size = 800;
inline constexpr std::size_t speedKmh = 28;
} // namespace physics

namespace graphics {
inline constexpr const char* sectionName = "Local\\acevo_pmf_graphics";
inline constexpr std::size_t size = 4900;
inline constexpr std::size_t status = 4;
inline constexpr std::int32_t offStatus = 0, replayStatus = 1, liveStatus = 2, pauseStatus = 3;
inline constexpr std::size_t carModel = 3086;
} // namespace graphics

namespace statics {
inline constexpr const char* sectionName = "Local\\acevo_pmf_static";
inline constexpr std::size_t size = 208;
inline constexpr std::size_t smVersion = 0;
inline constexpr std::size_t smVersionRoom = 15;
inline constexpr std::size_t track = 136;
inline constexpr std::size_t trackConfiguration = 169;
} // namespace statics
} // namespace acEvo
