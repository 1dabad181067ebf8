// A tick of Gran Turismo 7 at its highest rate (60 packets a second: 6 a tick), each decrypted,
// checked and read, then laid over the sample; beside it, in the same run, Forza's tick at the same
// rate, the UDP game whose datagrams are closest in size and need no decryption.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "telemetry/consoles/gran_turismo.h"
#include "telemetry/consoles/salsa20.h"
#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int packetsPerTick = 6;

// A driven car's packet of `size` bytes, encrypted with the format's constant as a console would.
Bytes consolePacket(std::size_t size, std::uint32_t nonceConstant, std::uint32_t iv1) {
    Bytes packet(size);
    packet[0] = 0x30, packet[1] = 0x53, packet[2] = 0x37, packet[3] = 0x47;
    packet[0x8E] = 1;
    const std::uint32_t speed = std::bit_cast<std::uint32_t>(50.0f);
    for (std::size_t i = 0; i < 4; ++i)
        packet[0x4C + i] = static_cast<std::uint8_t>(speed >> (8 * i));
    Salsa20Nonce nonce;
    for (std::size_t i = 0; i < 4; ++i) {
        nonce[i] = static_cast<std::uint8_t>((iv1 ^ nonceConstant) >> (8 * i));
        nonce[4 + i] = static_cast<std::uint8_t>(iv1 >> (8 * i));
    }
    Salsa20Key key;
    const char* text = "Simulator Interface Packet GT7 ver 0.0";
    std::copy_n(text, key.size(), key.begin());
    salsa20Xor(key, nonce, packet);
    for (std::size_t i = 0; i < 4; ++i)
        packet[0x40 + i] = static_cast<std::uint8_t>(iv1 >> (8 * i));
    return packet;
}

void granTurismoTick(benchmark::State& state, std::size_t size, std::uint32_t nonceConstant) {
    std::vector<Bytes> tick;
    for (int i = 0; i < packetsPerTick; ++i)
        tick.push_back(consolePacket(size, nonceConstant, 0x1000 + i));
    GranTurismoState granTurismo;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (const Bytes& packet : tick)
            if (!takeGranTurismoDatagram(granTurismo, packet, now))
                state.SkipWithError("a packet was refused");
        TelemetrySample sample;
        overlayGranTurismo(granTurismo, now, sample);
        benchmark::DoNotOptimize(sample);
    }
}

void granTurismoTickFormatA(benchmark::State& state) {
    granTurismoTick(state, 296, 0xDEADBEAF);
}
BENCHMARK(granTurismoTickFormatA);

void granTurismoTickFormatC(benchmark::State& state) {
    granTurismoTick(state, 368, 0xDEADBEEF);
}
BENCHMARK(granTurismoTickFormatC);

// A stranger's datagram of a format's length: decrypted in full before the magic refuses it.
void granTurismoStrangerOfFormatALength(benchmark::State& state) {
    const Bytes stranger(296);
    GranTurismoState granTurismo;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (auto _ : state)
        benchmark::DoNotOptimize(takeGranTurismoDatagram(granTurismo, stranger, now));
}
BENCHMARK(granTurismoStrangerOfFormatALength);

void forzaTickAtTheSameRate(benchmark::State& state) {
    Bytes dash(331);
    dash[0] = 1;
    UdpGameStates states;
    const MonotonicTime now = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < packetsPerTick; ++i)
            takeForzaDatagram(states.forza, dash, now);
        TelemetrySample sample;
        overlayUdpGames(states, now, sample);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(forzaTickAtTheSameRate);

} // namespace
