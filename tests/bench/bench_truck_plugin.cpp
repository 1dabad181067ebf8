// The truck plugin's cost per frame on the game's main thread (frame start, the speed, frame end
// with the record rewritten), and Ventora's per-tick read of that record.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "telemetry/opened/plugin_readers.h"
#include "tools/truck_game_host.h"
#include "truck_plugin/truck_plugin.h"
#include "plugin_record/plugin_record.h"

namespace {

alignas(4096) std::uint8_t section[pluginRecord::sectionSize];

game::Result initWithBuffer(std::uint32_t version, const void* params) {
    return initTruckPlugin(version, params, {[] { return OpenedSection{section}; }, [] {}});
}

void truckPluginFrame(benchmark::State& state) {
    TruckGameHost host;
    if (host.initNewestFirst(initWithBuffer, shutdownTruckPlugin) != game::ok)
        state.SkipWithError("init failed");
    host.configure("Scania", "R 730");
    host.start();
    float speed = 20.0f;
    for (auto _ : state) {
        host.frame(speed);
        speed += 0.001f;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(truckPluginFrame);

void readTrucksEachTick(benchmark::State& state) {
    PluginRecord record;
    record.live = true;
    record.metresPerSecond = 25.0f;
    copyBoundedText("eut2", record.gameId, sizeof record.gameId);
    copyBoundedText("Scania", record.firstName, sizeof record.firstName);
    copyBoundedText("R 730", record.secondName, sizeof record.secondName);
    std::uint32_t sequence = 0;
    PluginWatch watch;
    std::uint64_t nowMs = 0;
    // The first sight only marks the sequence; from the second on the truck is driven.
    for (int tick = 0; tick < 2; ++tick) {
        writePluginRecord(section, record, sequence);
        TelemetrySample sample;
        readTrucks({section, &watch, nowMs += 100}, sample);
        if (tick == 1 && sample.combo.empty()) state.SkipWithError("the record never counted as driven");
    }
    for (auto _ : state) {
        writePluginRecord(section, record, sequence); // as the game's frames do between ticks
        TelemetrySample sample;
        readTrucks({section, &watch, nowMs += 100}, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(readTrucksEachTick);

} // namespace
