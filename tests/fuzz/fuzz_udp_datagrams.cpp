// Random datagrams for the UDP games' parsers: what F1's port takes (F1 in its three formats, DiRT,
// WRC, Test Drive Unlimited Solar Crown), Forza, OutGauge and Richard Burns Rally. The first byte chooses the
// socket, whether an F1 header passes the format check, and the length: one of the games' own lengths (or one
// byte off), so the fuzzer starts inside the packets, or the input's own length. The rest is the datagram's
// bytes, copied into a buffer of exactly its length so that AddressSanitizer catches a read past its end.
// Then the states are laid over a sample, as a tick does.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telemetry/udp/udp_games.h"

namespace {

UdpGameStates states; // kept across inputs, as Ventora keeps them across datagrams

constexpr std::size_t lengths[] = {1352, 753, 1350, 1284, 1448, 926, 1470, 264,
                                   237,  232, 311,  324,  331,  92,  96,   29};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    std::vector<std::uint8_t> datagram(data + 1, data + size);
    // Every length one of the games sends, one byte longer, or the input's own.
    const std::size_t pick = (choice >> 4) % 16;
    const bool rbr = choice % 4 == 3;
    if (data[size - 1] & 1) datagram.resize((rbr ? rbrDatagramSize : lengths[pick]) + (choice & 8 ? 1 : 0));
    if ((choice & 4) && datagram.size() >= 2) {
        const std::uint16_t format = 2024 + (choice & 8 ? 1 : 0) + (data[size - 1] & 2 ? 1 : 0);
        datagram[0] = static_cast<std::uint8_t>(format), datagram[1] = format >> 8;
    }
    const MonotonicTime now = MonotonicTime{} + std::chrono::milliseconds(choice);
    switch (choice % 4) {
    case 0: takeF1PortDatagram(states, datagram, now); break;
    case 1: takeForzaDatagram(states.forza, datagram, now); break;
    case 2: takeOutGaugeDatagram(states.outGauge, datagram, now); break;
    default: takeRbrDatagram(states.rbr, datagram, now); break;
    }
    TelemetrySample sample;
    overlayUdpGames(states, now, sample);
    // A live game's combo always holds " @ "; no car code runs past its four characters; F1's
    // speed is a 16-bit whole number of km/h; a stage's length is a whole number of metres.
    // Test Drive Unlimited Solar Crown names nothing: its combo is the game's name alone, and its speed
    // one a car can have.
    const bool tdu = sample.combo == "Test Drive Unlimited Solar Crown";
    if (!sample.combo.empty() && !tdu && sample.combo.find(" @ ") == std::string::npos) std::abort();
    if (tdu && !(sample.speedKmh >= -1.0f && sample.speedKmh <= 1000.0f)) std::abort();
    if (sample.combo.ends_with(" @ OutGauge") && sample.combo.size() > 4 + 11) std::abort();
    if (states.f1.speedKmh < 0 || states.f1.speedKmh > 65535 ||
        states.f1.speedKmh != std::floor(states.f1.speedKmh))
        std::abort();
    // Richard Burns Rally's speed is a finite number whatever the datagram holds.
    if (sample.combo.ends_with(" @ Richard Burns Rally") && !std::isfinite(sample.speedKmh)) std::abort();
    if (sample.combo.starts_with("Stage ") &&
        sample.combo.find(' ', 6) != sample.combo.find_first_not_of("-0123456789", 6))
        std::abort();
    return 0;
}
