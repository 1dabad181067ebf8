// Random datagrams for the three UDP games' parsers. The first byte chooses the game (and, for F1,
// a packet header that passes the format check, so the fuzzer starts inside the packets); the rest
// is the datagram, copied into a buffer of exactly its size so that AddressSanitizer catches a read
// past its end. Then the states are laid over a sample, as a tick does.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telemetry/udp_games.h"

namespace {
UdpGameStates states; // kept across inputs, as Ventora keeps them across datagrams
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::vector<std::uint8_t> datagram(data + 1, data + size);
    if ((data[0] & 4) && datagram.size() >= 29) {
        const std::uint16_t format = data[0] & 8 ? 2025 : 2024;
        datagram[0] = static_cast<std::uint8_t>(format), datagram[1] = format >> 8;
    }
    const MonotonicTime now = MonotonicTime{} + std::chrono::milliseconds(data[0] >> 4);
    switch (data[0] % 3) {
    case 0: takeF1Datagram(states.f1, datagram, now); break;
    case 1: takeForzaDatagram(states.forza, datagram, now); break;
    default: takeOutGaugeDatagram(states.outGauge, datagram, now); break;
    }
    TelemetrySample sample;
    overlayUdpGames(states, now, sample);
    // A live game's combo always holds " @ "; no car code runs past its four characters.
    if (!sample.combo.empty() && sample.combo.find(" @ ") == std::string::npos) std::abort();
    if (states.outGauge.heard && sample.combo.ends_with(" @ OutGauge") && sample.combo.size() > 4 + 11)
        std::abort();
    if (std::isfinite(states.f1.speedKmh) && (states.f1.speedKmh < 0 || states.f1.speedKmh > 65535))
        std::abort();
    return 0;
}
