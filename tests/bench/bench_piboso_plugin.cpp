// The PiBoSo plugin's cost per call on the game's main thread (RunTelemetry with the record
// rewritten), beside the truck plugin's frame in bench_truck_plugin.cpp, and Ventora's per-tick read
// of that record.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>

#include "piboso_plugin/piboso_plugin.h"
#include "plugin_record/plugin_record.h"
#include "telemetry/opened/plugin_readers.h"
#include "tools/piboso_game_host.h"

namespace {

alignas(4096) std::uint8_t kartSection[pluginRecord::sectionSize];

PiBoSoGameHost startedHost() {
    PiBoSoGameHost host;
    static char modId[] = "krp";
    host.plugin.getModId = [] { return modId; };
    host.plugin.getModDataVersion = [] { return 6; };
    host.plugin.getInterfaceVersion = [] { return 9; };
    host.plugin.startup = [](char*) {
        return startPiBoSoPlugin(piboso::kartRacingPro, {[] { return OpenedSection{kartSection}; }, [] {}});
    };
    host.plugin.shutdown = shutdownPiBoSoPlugin;
    host.plugin.eventInit = [](void* data, int size) { takeEventInit(data, size); };
    host.plugin.runInit = [](void*, int) { takeRunInit(); };
    host.plugin.runStart = takeRunStart;
    host.plugin.runTelemetry = [](void* data, int size, float, float) { takeRunTelemetry(data, size); };
    return host;
}

void pibosoPluginTelemetry(benchmark::State& state) {
    PiBoSoGameHost host = startedHost();
    if (!host.load()) state.SkipWithError("Startup refused");
    host.eventInit("KZ2 Tony Kart", "South Garda Karting");
    host.runInit();
    host.runStart();
    // The game's own block, filled by the game before each call: only the call is measured.
    alignas(4) std::uint8_t block[hostTelemetrySize] = {};
    float speed = 20.0f;
    for (auto _ : state) {
        std::memcpy(block + piboso::telemetrySpeed, &speed, sizeof speed);
        host.plugin.runTelemetry(block, sizeof block, 0.0f, 0.0f);
        speed += 0.001f;
        benchmark::ClobberMemory();
    }
    host.shutdown();
}
BENCHMARK(pibosoPluginTelemetry);

void readKartsAndBikesEachTick(benchmark::State& state) {
    PiBoSoGameHost host = startedHost();
    if (!host.load()) state.SkipWithError("Startup refused");
    host.eventInit("KZ2 Tony Kart", "South Garda Karting");
    host.runInit();
    host.runStart();
    PluginWatch watch;
    std::uint64_t nowMs = 0;
    for (int tick = 0; tick < 2; ++tick) {
        host.telemetry(25.0f);
        TelemetrySample sample;
        readKartsAndBikes({kartSection, &watch, nowMs += 100}, sample);
        if (tick == 1 && sample.combo.empty()) state.SkipWithError("the record never counted as driven");
    }
    alignas(4) std::uint8_t block[hostTelemetrySize] = {};
    const float speed = 25.0f;
    std::memcpy(block + piboso::telemetrySpeed, &speed, sizeof speed);
    for (auto _ : state) {
        host.plugin.runTelemetry(block, sizeof block, 0.0f, 0.0f); // as the game's calls do between ticks
        TelemetrySample sample;
        readKartsAndBikes({kartSection, &watch, nowMs += 100}, sample);
        benchmark::DoNotOptimize(sample);
    }
    host.shutdown();
}
BENCHMARK(readKartsAndBikesEachTick);

} // namespace
