// The iRacing reader. The game writes each tick's variables into the next of its rotating buffers
// and stamps that buffer with the tick; the newest buffer is the one with the largest stamp. A
// stamp that moved while Ventora read means the game began rewriting that buffer.
#include "telemetry/opened/iracing_reader.h"

#include <string_view>

#include "telemetry/opened/opened_game_pages.h"
#include "telemetry/byte_loads.h"
#include "telemetry/opened/session_info.h"

namespace {

constexpr float kmhPerMetrePerSecond = 3.6f;

struct Variable {
    std::int32_t type = -1;
    std::size_t offset = 0;
};

// Where the three variables sit in a buffer, looked up by name in the variable headers.
struct Variables {
    Variable speed, onTrack, replayPlaying;
};

Variables findVariables(PageView page) {
    using namespace iracing;
    Variables found;
    const std::int32_t count = loadI32(page, variableCount);
    const std::size_t first = loadU32(page, variableHeaderOffset);
    for (std::int32_t index = 0; index < count; ++index) {
        const std::size_t header =
            elementOffset(first, static_cast<std::size_t>(index), variableHeaderStride);
        // Headers past the view's end cannot be read, nor can any after them.
        if (!fieldFits(page, header, variableHeaderStride)) break;
        const std::string_view name = loadText(page, header + variableName, variableNameRoom);
        Variable* slot = name == "Speed"             ? &found.speed
                         : name == "IsOnTrack"       ? &found.onTrack
                         : name == "IsReplayPlaying" ? &found.replayPlaying
                                                     : nullptr;
        if (slot && slot->type < 0)
            *slot = {loadI32(page, header + variableType), loadU32(page, header + variableOffset)};
    }
    return found;
}

struct Buffer {
    std::int32_t tickCount = 0;
    std::size_t offset = 0;
    std::size_t stamp = 0; // where its tick count lies, for the second look
};

std::optional<Buffer> newestBuffer(PageView page) {
    using namespace iracing;
    const std::int32_t count = std::min(loadI32(page, bufferCount), maxBuffers);
    std::optional<Buffer> newest;
    for (std::int32_t index = 0; index < count; ++index) {
        const std::size_t at = buffers + static_cast<std::size_t>(index) * bufferStride;
        const Buffer buffer{loadI32(page, at + bufferTickCount), loadU32(page, at + bufferOffset),
                            at + bufferTickCount};
        if (!newest || buffer.tickCount > newest->tickCount) newest = buffer;
    }
    return newest;
}

// Where a variable's value lies in the buffer, when it has the expected type and lies in the view.
std::optional<std::size_t> valueAt(PageView page, const Buffer& buffer, const Variable& variable,
                                   iracing::VariableType type, std::size_t width) {
    if (variable.type != type) return std::nullopt;
    if (buffer.offset > SIZE_MAX - variable.offset) return std::nullopt;
    const std::size_t at = buffer.offset + variable.offset;
    if (!fieldFits(page, at, width)) return std::nullopt;
    return at;
}

// False when the text was rewritten while it was parsed: it is parsed again on the next tick, and
// this tick has no sample.
bool refreshSessionNames(PageView page, IRacingSessionCache& cache) {
    using namespace iracing;
    const std::int32_t update = loadI32(page, sessionInfoUpdate);
    if (cache.sessionInfoUpdate == update) return true;
    const std::size_t offset = loadU32(page, sessionInfoOffset);
    const std::size_t length = loadU32(page, sessionInfoLength);
    orderLoads();
    const SessionNames names = parseSessionInfo(loadText(page, offset, length));
    cache.combo.clear();
    cache.combo.append(names.car).append(" @ ").append(names.track).append(" ").append(names.layout);
    cache.sessionInfoUpdate.reset();
    orderLoads();
    if (loadI32(page, sessionInfoUpdate) != update) return false;
    cache.sessionInfoUpdate = update;
    return true;
}

} // namespace

void readIRacing(PageView page, IRacingSessionCache& cache, TelemetrySample& sample) {
    using namespace iracing;
    if (!(loadU32(page, status) & connectedBit)) return;
    const std::optional<Buffer> buffer = newestBuffer(page);
    if (!buffer) return;
    orderLoads();
    const Variables variables = findVariables(page);
    const auto speed = valueAt(page, *buffer, variables.speed, floatType, 4);
    const auto onTrack = valueAt(page, *buffer, variables.onTrack, boolType, 1);
    const auto replay = valueAt(page, *buffer, variables.replayPlaying, boolType, 1);
    if (!speed || !onTrack || !replay) return;

    const float speedMetresPerSecond = loadFloat(page, *speed);
    const bool live = loadU8(page, *onTrack) != 0 && loadU8(page, *replay) == 0;
    orderLoads();
    if (loadI32(page, buffer->stamp) != buffer->tickCount) return; // torn: no sample this tick
    if (!live) return;

    if (!refreshSessionNames(page, cache)) return;
    sample.combo = cache.combo;
    sample.speedKmh = speedMetresPerSecond * kmhPerMetrePerSecond;
    sample.cornerG = 0.0f; // its LatAccel's frame is not known for sure
}
