// Assetto Corsa Rally's reading. Its names are checked as UTF-16 before they are converted: a page
// that holds something else than names there must not put noise into the combo (nor into the log).
#include "telemetry/created/ac_rally_reader.h"

#include <array>
#include <string_view>

#include "telemetry/created/game_pages.h"
#include "telemetry/utf16.h"

namespace {

constexpr const char* gameName = "Assetto Corsa Rally";

// A name as UTF-8 in `buffer`, or nothing when its room holds no NUL-terminated, non-empty text of
// printable characters (no control characters, no unpaired surrogates, no non-characters).
std::string_view printableName(PageView page, std::size_t offset, std::size_t roomUnits,
                               std::span<char, utf8NameCapacity> buffer) {
    std::array<char16_t, acStatic::trackNameRoom> units;
    std::size_t count = 0;
    bool terminated = false;
    for (std::size_t unit = 0; unit < roomUnits && unit < units.size(); ++unit) {
        const std::size_t at = offset + 2 * unit;
        if (!fieldFits(page, at, 2)) return {};
        const auto value = static_cast<char16_t>(loadU16(page, at));
        if (value == 0) {
            terminated = true;
            break;
        }
        units[count++] = value;
    }
    if (!terminated || count == 0) return {};
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t u = units[i];
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u >= 0xFFFE || u == 0xFFFD) return {};
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 == count || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return {};
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return {};
        }
    }
    const std::size_t length = convertUtf16ToUtf8({units.data(), count}, buffer);
    return {buffer.data(), length};
}

std::string rallyCombo(PageView statics) {
    std::array<char, utf8NameCapacity> carBuffer, stageBuffer, layoutBuffer;
    const std::string_view car = printableName(statics, acStatic::carName, acStatic::carNameRoom, carBuffer);
    const std::string_view stage =
        printableName(statics, acStatic::trackName, acStatic::trackNameRoom, stageBuffer);
    const std::string_view layout =
        printableName(statics, acStatic::layoutName, acStatic::layoutNameRoom, layoutBuffer);
    if (car.empty()) return gameName;
    std::string combo(car);
    combo.append(" @ ").append(stage.empty() ? std::string_view(gameName) : stage);
    if (!stage.empty() && !layout.empty()) combo.append(" ").append(layout);
    return combo;
}

// Whether the car counts as driven this tick; learns the status and the physics as it goes.
bool rallyDriven(const GameViews& views, AcRallyWatch& watch, std::uint64_t nowMs) {
    const std::int32_t status = loadI32(views.acGraphicsPage, acGraphics::state);
    const std::int32_t packetId = loadI32(views.acPhysicsPage, acPhysics::packetId);
    if (watch.packetIdKnown && packetId != watch.packetId) {
        if (!watch.running) watch.runningSinceMs = nowMs;
        watch.running = true;
        watch.lastAdvancedMs = nowMs;
    } else if (nowMs - watch.lastAdvancedMs >= acRallyPhysicsLimitMs) {
        watch.running = false;
    }
    watch.packetIdKnown = true;
    watch.packetId = packetId;

    if (status != acGraphics::offState && !watch.statusSet) {
        watch.statusSet = true;
        if (!watch.loggedSet) watch.logLine = "Assetto Corsa Rally: status set, driven while it shows live";
        watch.loggedSet = true;
    }
    if (watch.statusSet) return status == acGraphics::liveState;
    if (watch.running && !watch.loggedNotSet && nowMs - watch.runningSinceMs >= acRallyVerdictMs) {
        watch.logLine = "Assetto Corsa Rally: status not set, driven while physics runs";
        watch.loggedNotSet = true;
    }
    return watch.running;
}

} // namespace

void restartAcRallyWatch(AcRallyWatch& watch) {
    watch.packetIdKnown = false;
    watch.running = false;
}

TelemetrySample readTelemetrySampleAsRally(const GameViews& views, AcRallyWatch& watch, std::uint64_t nowMs) {
    TelemetrySample sample;
    if (rallyDriven(views, watch, nowMs)) {
        sample.combo = rallyCombo(views.acStaticPage);
        sample.speedKmh = loadFloat(views.acPhysicsPage, acPhysics::speedKmh);
        sample.cornerG = 0.0f; // a new engine: its sideways sign is not known, so no split
    }
    // Assetto Corsa's own reading must not see the rally game's pages: without its graphics page
    // it is never live, and the other two games are read as always, the later live one winning.
    GameViews others = views;
    others.acGraphicsPage = {};
    TelemetrySample rest = readTelemetrySample(others);
    return rest.combo.empty() ? sample : rest;
}
