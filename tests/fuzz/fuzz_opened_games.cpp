// Random pages for the iRacing, rFactor 2, Le Mans Ultimate and Assetto Corsa EVO readers, each in a buffer
// of exactly its size so that AddressSanitizer catches a read that leaves it. The input picks the sizes, then
// patches the pages, which start from live pages of each game so that short inputs reach the
// vehicles, the variable buffers and the session text.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "telemetry/opened/acevo_reader.h"
#include "telemetry/opened/opened_games.h"

namespace {

using Page = std::vector<std::uint8_t>;

enum { iracing, rf2Scoring, rf2Telemetry, lmuData, acEvoPhysics, acEvoGraphics, acEvoStatic, pageCount };
// Large enough for the fields the live pages below hold, and for a few vehicles more.
constexpr std::size_t fullSizes[pageCount] = {
    8192, 560 + 8 * 584, 16 + 8 * 1888, 128468 + 8 * 1888, 1024, 5120, 512};

void put(Page& page, std::size_t offset, std::uint8_t value) {
    if (offset < page.size()) page[offset] = value;
}

void putU32(Page& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        put(page, offset + i, static_cast<std::uint8_t>(value >> (8 * i)));
}

void putText(Page& page, std::size_t offset, const char* text) {
    for (std::size_t i = 0; text[i]; ++i)
        put(page, offset + i, static_cast<std::uint8_t>(text[i]));
}

void makeLive(std::array<Page, pageCount>& pages) {
    Page& ir = pages[iracing];
    putU32(ir, 4, 1);
    putU32(ir, 12, 1);
    putU32(ir, 16, 3000);
    putU32(ir, 20, 2000);
    putU32(ir, 24, 3);
    putU32(ir, 28, 112);
    putU32(ir, 32, 2);
    putU32(ir, 36, 16);
    putU32(ir, 48, 5);
    putU32(ir, 52, 6000);
    putU32(ir, 64, 6);
    putU32(ir, 68, 6016);
    const char* names[] = {"Speed", "IsOnTrack", "IsReplayPlaying"};
    const std::uint32_t types[] = {4, 1, 1}, offsets[] = {0, 4, 5};
    for (std::size_t i = 0; i < 3; ++i) {
        putU32(ir, 112 + i * 144, types[i]);
        putU32(ir, 116 + i * 144, offsets[i]);
        putText(ir, 128 + i * 144, names[i]);
    }
    put(ir, 6004, 1);
    put(ir, 6020, 1);
    putText(ir, 2000,
            "WeekendInfo:\n TrackDisplayName: T\nDriverInfo:\n DriverCarIdx: 1\n Drivers:\n"
            " - CarIdx: 1\n   CarScreenName: C\n");

    put(pages[rf2Scoring], 127, 1);
    putU32(pages[rf2Scoring], 116, 8);
    put(pages[rf2Scoring], 560 + 3 * 584 + 196, 1);
    putU32(pages[rf2Telemetry], 12, 8);

    put(pages[lmuData], 1747, 1);
    put(pages[lmuData], 128466, 1);
    put(pages[lmuData], 128465, 3);

    // Assetto Corsa EVO's pages count from their layout's sizes, so that most are whole.
    putU32(pages[acEvoGraphics], 4, 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // One byte of flags (start live, fill with text that has no NUL, a short Le Mans Ultimate page,
    // its lock busy), then two bytes per page for its size.
    constexpr std::size_t headerSize = 1 + 2 * pageCount;
    if (size < headerSize) return 0;
    std::array<Page, pageCount> pages;
    const std::uint8_t flags = data[0];
    for (std::size_t i = 0; i < pageCount; ++i) {
        std::size_t wanted = data[1 + 2 * i] | std::size_t{data[2 + 2 * i]} << 8;
        // Le Mans Ultimate's fields lie past 128 KB: unless asked for a short page, its size
        // counts from there.
        if (i == lmuData && !(flags & 4)) wanted += 128000;
        if (i == acEvoPhysics) wanted += 800 - 64;
        if (i == acEvoGraphics) wanted += 4900 - 64;
        if (i == acEvoStatic) wanted += 208 - 64;
        pages[i].resize(std::min(wanted, fullSizes[i]), flags & 2 ? 'x' : 0);
    }
    if (flags & 1) makeLive(pages);

    // Patches: the page (one byte), the offset (three bytes), the length (one byte), the bytes.
    constexpr std::size_t patchHeaderSize = 5;
    for (std::size_t at = headerSize; size - at >= patchHeaderSize;) {
        Page& page = pages[data[at] % pageCount];
        const std::size_t offset =
            data[at + 1] | std::size_t{data[at + 2]} << 8 | std::size_t{data[at + 3]} << 16;
        const std::size_t length = std::min<std::size_t>(data[at + 4], size - at - patchHeaderSize);
        at += patchHeaderSize;
        for (std::size_t i = 0; i < length; ++i)
            put(page, offset + i, data[at + i]);
        at += length;
    }

    alignas(4) std::uint8_t lock[8] = {};
    lock[4] = flags & 8 ? 1 : 0;
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames({pages[iracing], pages[rf2Scoring], pages[rf2Telemetry], pages[lmuData], lock,
                     pages[acEvoPhysics], pages[acEvoGraphics], pages[acEvoStatic]},
                    cache, sample);
    std::string loggedVersion;
    if (const auto line = acEvoVersionLine(pages[acEvoStatic], loggedVersion);
        line && loggedVersion.size() > 15)
        std::abort(); // a version runs no further than its 15 bytes

    // A live game's combo holds " @ "; the lock is left as it was found.
    if (!sample.combo.empty() && sample.combo.find(" @ ") == std::string::npos) std::abort();
    if (lock[4] != (flags & 8 ? 1 : 0)) std::abort();
    return 0;
}
