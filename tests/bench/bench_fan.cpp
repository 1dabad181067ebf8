// What one tick's fan level and one paint's pixel plan cost, natively.
#include "fan/corner_wind.h"
#include "fan/fan_level.h"
#include "fan/graph_plan.h"
#include "fan/history.h"

#include <array>

#include <benchmark/benchmark.h>

namespace {

// A lap's worth of speeds that rise and fall. After the first lap the top speed is known and
// nothing is logged, which is what nearly every tick of a session looks like.
constexpr std::array<float, 8> lapSpeeds{0.0f, 50.0f, 120.0f, 243.6f, 100.0f, 60.0f, 250.0f, 90.0f};

void computeFanLevelOnLiveCombo(benchmark::State& benchmarkState) {
    const SettingsRecord settings;
    TickState tickState;
    const LogLineSink log = [](std::string line) { benchmark::DoNotOptimize(line); };
    updateMaxSpeedMode(settings, tickState, log);
    TelemetrySample sample{"Roadster @ Hillclimb Long", 0.0f};
    std::size_t tick = 0;
    for (auto _ : benchmarkState) {
        sample.speedKmh = lapSpeeds[tick++ % lapSpeeds.size()];
        benchmark::DoNotOptimize(computeFanLevel(sample, settings, tickState, log));
    }
}
BENCHMARK(computeFanLevelOnLiveCombo);

// A corner-heavy lap: right, left, kerbs and no-numbers among them, as the filter meets them.
constexpr std::array<float, 8> lapCornering{0.0f, 0.8f, 1.2f, 3.5f, -0.4f, -1.2f, -0.9f, 0.05f};

void cornerWindOnLiveCombo(benchmark::State& benchmarkState) {
    CornerWind wind;
    TelemetrySample sample{"Roadster @ Hillclimb Long", 150.0f};
    std::size_t tick = 0;
    for (auto _ : benchmarkState) {
        sample.cornerG = lapCornering[tick++ % lapCornering.size()];
        benchmark::DoNotOptimize(updateCornerWind(wind, sample));
    }
}
BENCHMARK(cornerWindOnLiveCombo);

void planGraphWithFullHistory(benchmark::State& benchmarkState) {
    History history;
    for (std::size_t tick = 0; tick < historyCapacity; ++tick)
        appendHistory(history, static_cast<FanLevel>(tick % 80));
    std::int32_t speedMin = -20;
    for (auto _ : benchmarkState) {
        benchmark::DoNotOptimize(speedMin);
        GraphPlan plan = planGraph(speedMin, 99, history);
        benchmark::DoNotOptimize(plan);
    }
}
BENCHMARK(planGraphWithFullHistory);

} // namespace
