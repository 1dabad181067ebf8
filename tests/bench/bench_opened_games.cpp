// The tick's telemetry step with all six games live (the three created sections, then iRacing,
// rFactor 2 and Le Mans Ultimate), and the parse of a session text of iRacing's usual size.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/created/game_readers.h"
#include "telemetry/opened/opened_games.h"
#include "telemetry/opened/session_info.h"

namespace {

using Page = std::vector<std::uint8_t>;

void putU32(Page& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        page[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putDouble(Page& page, std::size_t offset, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i)
        page[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void putText(Page& page, std::size_t offset, std::string_view text) {
    std::memcpy(page.data() + offset, text.data(), text.size());
}

// A session text of about 100 KB, shaped as iRacing's: a full field of 64 drivers, each with the
// keys the game lists, the player last.
std::string sessionText() {
    std::string text = "---\nWeekendInfo:\n TrackName: spa 2022 up\n TrackDisplayName: Circuit de "
                       "Spa-Francorchamps\n TrackConfigName: Endurance\n WeekendOptions:\n  NumStarters: 64\n"
                       "DriverInfo:\n DriverCarIdx: 63\n Drivers:\n";
    for (int car = 0; car < 64; ++car) {
        text += " - CarIdx: " + std::to_string(car) + "\n   UserName: Driver Number " + std::to_string(car) +
                "\n";
        for (int key = 0; key < 30; ++key)
            text += "   DriverDetail" + std::to_string(key) + ": some value of the usual length\n";
        text += "   CarScreenName: Porsche 911 GT3 R (992)\n";
    }
    return text + "...\n";
}

// iRacing's page with its usual few hundred variables, the three read listed last.
Page iracingPage(const std::string& session) {
    constexpr std::size_t variables = 300, headers = 112, text = headers + variables * 144,
                          buffer = text + 131072;
    Page page(buffer + 4096); // the three buffers share one place: only the newest is read
    putU32(page, 4, 1);
    putU32(page, 12, 1);
    putU32(page, 16, 131072);
    putU32(page, 20, text);
    putU32(page, 24, variables);
    putU32(page, 28, headers);
    putU32(page, 32, 3);
    putU32(page, 36, 4096);
    for (std::size_t i = 0; i < 3; ++i)
        putU32(page, 52 + 16 * i, buffer);
    putU32(page, 48, 100);
    for (std::size_t i = 0; i < variables; ++i) {
        const std::string name = i == variables - 3   ? "IsOnTrack"
                                 : i == variables - 2 ? "IsReplayPlaying"
                                 : i == variables - 1 ? "Speed"
                                                      : "Variable" + std::to_string(i);
        putU32(page, headers + i * 144, i == variables - 1 ? 4 : 1);
        putU32(page, headers + i * 144 + 4, static_cast<std::uint32_t>(4 * i));
        putText(page, headers + i * 144 + 16, name);
    }
    page[buffer + 4 * (variables - 3)] = 1;
    putU32(page, buffer + 4 * (variables - 1), std::bit_cast<std::uint32_t>(55.0f));
    putText(page, text, session);
    return page;
}

void putVehicles(Page& page, std::size_t scoring, std::size_t telemetry, std::size_t count,
                 std::size_t player) {
    for (std::size_t i = 0; i < count; ++i) {
        putU32(page, scoring + i * 584, static_cast<std::uint32_t>(i));
        putText(page, scoring + i * 584 + 36, "Oreca 07 Gibson");
        page[scoring + i * 584 + 196] = i == player;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t id = count - 1 - i; // the telemetry in the other order
        putU32(page, telemetry + i * 1888, static_cast<std::uint32_t>(id));
        putText(page, telemetry + i * 1888 + 32, "Oreca 07 Gibson");
        putDouble(page, telemetry + i * 1888 + 200, -60.0);
    }
}

void readAllSixGamesLive(benchmark::State& state) {
    Page acPhysics(568), acGraphics(284), acStatic(596), pcars2(19380), r3e(30844);
    putU32(acGraphics, 4, 2);
    putU32(pcars2, 8, 2);
    putText(pcars2, 6444, "Ligier JS P2 Judd");
    putU32(r3e, 0, 3);
    putU32(r3e, 4, 4);
    putU32(r3e, 796, 5);
    putText(r3e, 1196, "Audi R8 LMS GT3 evo II");

    const Page iracing = iracingPage(sessionText());
    // rFactor 2 and Le Mans Ultimate with a full grid, the player in the middle.
    Page scoring(560 + 60 * 584), telemetry(16 + 60 * 1888);
    putU32(scoring, 116, 60);
    scoring[127] = 1;
    putText(scoring, 12, "Sebring International Raceway");
    putU32(telemetry, 12, 60);
    Page both(560 + 60 * 584 + 16 + 60 * 1888);
    putVehicles(both, 560, 560 + 60 * 584 + 16, 60, 30);
    std::memcpy(scoring.data() + 560, both.data() + 560, 60 * 584);
    std::memcpy(telemetry.data() + 16, both.data() + 560 + 60 * 584 + 16, 60 * 1888);
    Page lmu(128468 + 104 * 1888);
    lmu[1747] = 1;
    lmu[128466] = 1;
    lmu[128465] = 30;
    putText(lmu, 1632, "Circuit de la Sarthe");
    putVehicles(lmu, 2192, 128468, 60, 29);
    alignas(4) std::uint8_t lock[8] = {};

    IRacingSessionCache cache;
    const OpenedGameViews opened{iracing, scoring, telemetry, lmu, lock};
    // Each of the three is live on its own, so that each reader does its whole work in the loop.
    for (const OpenedGameViews& alone :
         {OpenedGameViews{iracing, {}, {}, {}, {}}, OpenedGameViews{{}, scoring, telemetry, {}, {}},
          OpenedGameViews{{}, {}, {}, lmu, lock}}) {
        TelemetrySample sample;
        readOpenedGames(alone, cache, sample);
        if (sample.combo.empty()) state.SkipWithError("a game is not live");
    }
    for (auto _ : state) {
        TelemetrySample sample = readTelemetrySample({acPhysics, acGraphics, acStatic, pcars2, r3e});
        readOpenedGames(opened, cache, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(readAllSixGamesLive);

// Assetto Corsa EVO live alone: the size checks, the status, three names and the speed.
void readAssettoCorsaEvoLive(benchmark::State& state) {
    Page physics(800), graphics(4900), statics(208);
    putU32(graphics, 4, 2);
    putText(graphics, 3086, "ks_ferrari_296_gt3");
    putText(statics, 136, "Autodromo Nazionale Monza");
    putText(statics, 169, "gp");
    IRacingSessionCache cache;
    const OpenedGameViews opened{{}, {}, {}, {}, {}, physics, graphics, statics};
    for (auto _ : state) {
        TelemetrySample sample;
        readOpenedGames(opened, cache, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(readAssettoCorsaEvoLive);

void parseSessionInfoOf100Kb(benchmark::State& state) {
    const std::string text = sessionText();
    for (auto _ : state)
        benchmark::DoNotOptimize(parseSessionInfo(text));
    state.SetLabel(std::to_string(text.size()) + " bytes");
}
BENCHMARK(parseSessionInfoOf100Kb);

} // namespace
