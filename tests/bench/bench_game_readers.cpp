// The per-tick read of all five pages, with every game live so that each reader takes its names
// and speed: the most work a tick's telemetry step can do.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

#include "telemetry/created/game_readers.h"

namespace {

using Page = std::vector<std::uint8_t>;

void putU32(Page& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        page[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putText(Page& page, std::size_t offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        page[offset + i] = static_cast<std::uint8_t>(text[i]);
}

void putUtf16(Page& page, std::size_t offset, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        page[offset + 2 * i] = static_cast<std::uint8_t>(text[i]);
        page[offset + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
}

void readAllGamesLive(benchmark::State& state) {
    Page acPhysics(568), acGraphics(284), acStatic(596), pcars2(19380), r3e(30844);
    putU32(acGraphics, 4, 2);
    putUtf16(acStatic, 68, u"ks_porsche_911_gt3_r_2016");
    putUtf16(acStatic, 134, u"ks_n\u00fcrburgring");
    putUtf16(acStatic, 524, u"layout_gp_a");
    putU32(acPhysics, 28, std::bit_cast<std::uint32_t>(201.5f));
    putU32(pcars2, 8, 2);
    putText(pcars2, 6444, "Ligier JS P2 Judd");
    putText(pcars2, 6576, "Le Mans");
    putText(pcars2, 6640, "Circuit des 24 Heures du Mans");
    putU32(pcars2, 6848, std::bit_cast<std::uint32_t>(80.25f));
    // Today's RaceRoom layout, 3.4.
    putU32(r3e, 0, 3);
    putU32(r3e, 4, 4);
    putU32(r3e, 796, 5);
    putText(r3e, 1196, "Audi R8 LMS GT3 evo II");
    putText(r3e, 600, "Nordschleife");
    putText(r3e, 664, "Nordschleife 24 Hours");
    putU32(r3e, 1392, std::bit_cast<std::uint32_t>(60.5f));

    const GameViews views{acPhysics, acGraphics, acStatic, pcars2, r3e};
    for (auto _ : state)
        benchmark::DoNotOptimize(readTelemetrySample(views));
}
BENCHMARK(readAllGamesLive);

} // namespace
