// The three game readers. Every field is loaded byte by byte, little-endian, and checked against
// its view's end, so that neither what a game writes nor how short a view is can make a read
// leave its view.
#include "telemetry/created/game_readers.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>

#include "telemetry/created/game_pages.h"
#include "telemetry/byte_loads.h"
#include "telemetry/utf16.h"

namespace {

// The single-precision constant nearest 3.6, so that 10 m/s gives exactly 36 km/h.
constexpr float kmhPerMetrePerSecond = 3.6f;

// The widest UTF-16 name room on Assetto Corsa's static page.
constexpr std::size_t longestUtf16Room = acStatic::trackNameRoom;

// A UTF-16LE name up to its NUL (cut at its room or the view's end like an 8-bit text), as UTF-8
// in `buffer`. The code units are gathered first because a view promises no alignment.
std::string_view loadUtf16Name(PageView page, std::size_t offset, std::size_t roomUnits,
                               std::span<char, utf8NameCapacity> buffer) {
    std::array<char16_t, longestUtf16Room> units;
    const std::size_t maxUnits = std::min(roomUnits, units.size());
    std::size_t count = 0;
    for (std::size_t at = offset; count < maxUnits && at < page.size() && page.size() - at >= 2; at += 2) {
        const auto unit = static_cast<char16_t>(page[at] | page[at + 1] << 8);
        if (unit == 0) break;
        units[count++] = unit;
    }
    const std::size_t length = convertUtf16ToUtf8({units.data(), count}, buffer);
    return {buffer.data(), length};
}

std::string makeCombo(std::string_view car, std::string_view track, std::string_view layout) {
    std::string combo;
    combo.reserve(car.size() + track.size() + layout.size() + 4);
    combo.append(car).append(" @ ").append(track).append(" ").append(layout);
    return combo;
}

void readAssettoCorsa(const GameViews& views, TelemetrySample& sample) {
    if (loadI32(views.acGraphicsPage, acGraphics::state) != acGraphics::liveState) return;
    std::array<char, utf8NameCapacity> car, track, layout;
    sample.combo =
        makeCombo(loadUtf16Name(views.acStaticPage, acStatic::carName, acStatic::carNameRoom, car),
                  loadUtf16Name(views.acStaticPage, acStatic::trackName, acStatic::trackNameRoom, track),
                  loadUtf16Name(views.acStaticPage, acStatic::layoutName, acStatic::layoutNameRoom, layout));
    sample.speedKmh = loadFloat(views.acPhysicsPage, acPhysics::speedKmh);
    sample.cornerG = -loadFloat(views.acPhysicsPage, acPhysics::lateralG);
}

void readProjectCars2(PageView page, TelemetrySample& sample) {
    if (loadI32(page, pcars2::state) != pcars2::liveState) return;
    sample.combo = makeCombo(loadText(page, pcars2::carName, pcars2::carNameRoom),
                             loadText(page, pcars2::trackName, pcars2::trackNameRoom),
                             loadText(page, pcars2::layoutName, pcars2::layoutNameRoom));
    sample.speedKmh = loadFloat(page, pcars2::speedMetresPerSecond) * kmhPerMetrePerSecond;
    sample.cornerG = -loadFloat(page, pcars2::localAccelerationX) / metresPerSecondSquaredPerG;
}

float raceRoomCornerG(PageView page, const r3e::Layout& fields) {
    if (&fields == &r3e::layoutV1) return 0.0f;
    return -loadFloat(page, fields.speedMetresPerSecond + r3e::localAccelerationXAfterSpeed) /
           metresPerSecondSquaredPerG;
}

void readRaceRoom(PageView page, TelemetrySample& sample) {
    const r3e::Layout& fields =
        r3e::layoutFor(loadI32(page, r3e::majorVersion), loadI32(page, r3e::minorVersion));
    if (loadI32(page, fields.state) != r3e::liveState) return;
    sample.combo = makeCombo(loadText(page, fields.carName, fields.carNameRoom),
                             loadText(page, fields.trackName, fields.trackNameRoom),
                             loadText(page, fields.layoutName, fields.layoutNameRoom));
    sample.speedKmh = loadFloat(page, fields.speedMetresPerSecond) * kmhPerMetrePerSecond;
    sample.cornerG = raceRoomCornerG(page, fields);
}

} // namespace

TelemetrySample readTelemetrySample(const GameViews& views) {
    TelemetrySample sample;
    readAssettoCorsa(views, sample);
    readProjectCars2(views.pcars2Page, sample);
    readRaceRoom(views.r3ePage, sample);
    return sample;
}
