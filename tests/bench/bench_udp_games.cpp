// One tick's datagrams from each UDP game at its highest send rate, taken and laid over the
// sample: the parsing a tick's drain does besides its system calls.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes f1Packet(std::size_t size, std::uint8_t id) {
    Bytes d(size);
    d[0] = 2025 & 0xFF, d[1] = 2025 >> 8, d[6] = id;
    return d;
}

// F1 at 60 Hz: Motion, Lap Data, Car Telemetry, Car Status and Motion Ex every frame, a few slower
// ones between (about 36 a tick); Forza's Data Out at 60 Hz (6); OutGauge at its fastest, 100 Hz (10).
struct TickDatagrams {
    std::vector<Bytes> f1, forza, outGauge;
    TickDatagrams() {
        for (int frame = 0; frame < 6; ++frame)
            for (auto [size, id] :
                 {std::pair<std::size_t, std::uint8_t>{1349, 0}, {1285, 2}, {1352, 6}, {1239, 7}, {273, 13}})
                f1.push_back(f1Packet(size, id));
        for (auto [size, id] : {std::pair<std::size_t, std::uint8_t>{753, 1},
                                {1284, 4},
                                {953, 10},
                                {1460, 11},
                                {231, 12},
                                {1460, 11}})
            f1.push_back(f1Packet(size, id));
        Bytes dash(331);
        dash[0] = 1;
        forza.assign(6, dash);
        outGauge.assign(10, Bytes(96));
    }
};

void udpTickAtHighestRates(benchmark::State& state) {
    const TickDatagrams tick;
    UdpGameStates states;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const Bytes& d : tick.f1)
            takeF1Datagram(states.f1, d, now);
        for (const Bytes& d : tick.forza)
            takeForzaDatagram(states.forza, d, now);
        for (const Bytes& d : tick.outGauge)
            takeOutGaugeDatagram(states.outGauge, d, now);
        TelemetrySample sample;
        overlayUdpGames(states, now, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(udpTickAtHighestRates);

// The rally games on F1's port at 60 Hz, a tick's worth of each (6), every datagram differing from
// the one before so that the comparison with it runs to its end.
void rallyTickAtHighestRate(benchmark::State& state) {
    std::vector<Bytes> tick;
    for (std::uint8_t frame = 0; frame < 6; ++frame) {
        Bytes dirt(264), wrc(237);
        dirt[263] = frame, wrc[220] = static_cast<std::uint8_t>(0x40 + frame);
        tick.push_back(dirt), tick.push_back(wrc);
    }
    UdpGameStates states;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const Bytes& d : tick)
            takeF1PortDatagram(states, d, now);
        TelemetrySample sample;
        overlayUdpGames(states, now, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(rallyTickAtHighestRate);

} // namespace
