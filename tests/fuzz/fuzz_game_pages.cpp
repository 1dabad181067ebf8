// Random game pages for the readers. The input chooses the size of each of the five views, each a
// buffer of exactly that size, so that AddressSanitizer catches a read that leaves its view
// whatever the pages hold and however short they are. The rest of the input is a list of patches
// to write into the zeroed views, so that a short input can reach fields deep into a page.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telemetry/created/game_readers.h"

namespace {

constexpr std::size_t viewCount = 5;
constexpr std::size_t acGraphicsView = 1, pcars2View = 3, r3eView = 4;
// The views Ventora maps. The fuzzer picks sizes up to these, so that most views end somewhere
// among the fields read rather than far beyond them.
constexpr std::size_t fullViewSizes[viewCount] = {568, 284, 596, 19380, 30844};

// The longest combo any game can give: Project CARS 2's rooms of 132, 64 and 208 bytes, plus the
// four separator bytes (Assetto Corsa's three 98-byte names and RaceRoom's rooms come to less).
constexpr std::size_t longestCombo = 132 + 64 + 208 + 4;

// RaceRoom layout versions and where each keeps its state, so that the fuzzer starts from live
// pages of every layout instead of having to find them.
struct RaceRoomVersion {
    std::uint8_t major, minor;
    std::size_t state;
};
constexpr RaceRoomVersion raceRoomVersions[] = {{1, 0, 428}, {2, 0, 772}, {3, 1, 788},
                                                {3, 2, 788}, {3, 3, 792}, {3, 4, 796}};

void put(std::vector<std::uint8_t>& page, std::size_t offset, std::uint8_t value) {
    if (offset < page.size()) page[offset] = value;
}

void putU32(std::vector<std::uint8_t>& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        put(page, offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One byte of flags (which games start live, RaceRoom's layout, and whether the views start
    // zeroed or full of text with no NUL anywhere), then two bytes per view
    // choosing its size.
    constexpr std::size_t headerSize = 1 + 2 * viewCount;
    if (size < headerSize) return 0;
    std::array<std::vector<std::uint8_t>, viewCount> pages;
    const std::uint8_t flags = data[0];
    const std::uint8_t fill = flags & 0x80 ? 'x' : 0;
    for (std::size_t i = 0; i < viewCount; ++i)
        pages[i].resize((data[1 + 2 * i] | std::size_t{data[2 + 2 * i]} << 8) % (fullViewSizes[i] + 1), fill);

    if (flags & 1) putU32(pages[acGraphicsView], 4, 2);
    if (flags & 2) putU32(pages[pcars2View], 8, 2);
    if (flags & 4) {
        const RaceRoomVersion& version = raceRoomVersions[(flags >> 3) % std::size(raceRoomVersions)];
        putU32(pages[r3eView], 0, version.major);
        putU32(pages[r3eView], 4, version.minor);
        putU32(pages[r3eView], version.state, 5);
    }

    // Then patches laid over the views: the view (one byte), the offset (two bytes), the length
    // (one byte), the bytes.
    constexpr std::size_t patchHeaderSize = 4;
    for (std::size_t at = headerSize; size - at >= patchHeaderSize;) {
        std::vector<std::uint8_t>& page = pages[data[at] % viewCount];
        const std::size_t offset = data[at + 1] | std::size_t{data[at + 2]} << 8;
        const std::size_t length = std::min<std::size_t>(data[at + 3], size - at - patchHeaderSize);
        at += patchHeaderSize;
        for (std::size_t i = 0; i < length; ++i)
            put(page, offset + i, data[at + i]);
        at += length;
    }

    const TelemetrySample sample = readTelemetrySample({pages[0], pages[1], pages[2], pages[3], pages[4]});

    // A live game's combo always holds " @ "; no name may run past its room.
    if (!sample.combo.empty() && sample.combo.find(" @ ") == std::string::npos) std::abort();
    if (sample.combo.size() > longestCombo) std::abort();
    return 0;
}
