// Random datagrams for Project Motor Racing's parser. The first byte picks what comes before: the
// player's participant packet (so the fuzzer's telemetry can be the player's) or nothing. The rest is
// the datagram, copied into a buffer of exactly its length so that AddressSanitizer catches a read
// past its end; its first byte is steered to the four known types so that the fuzzer starts inside
// them. Then the state is laid over a sample, as a tick does.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "telemetry/udp/pmr_datagrams.h"

namespace {

PmrState state; // kept across inputs, as Ventora keeps it across datagrams

// A participant packet v1 naming vehicle 5 the player's, "Car".
const std::vector<std::uint8_t> playerParticipant = {1, 1, 0, 5, 0, 0, 0, 1, 3, 'C', 'a', 'r', 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   0,   0,   0, 0};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::uint8_t choice = data[0];
    const MonotonicTime now = MonotonicTime{} + std::chrono::milliseconds(choice);
    if (choice & 1) takePmrDatagram(state, playerParticipant, now);
    std::vector<std::uint8_t> datagram(data + 1, data + size);
    if (choice & 2) datagram[0] %= 4;
    takePmrDatagram(state, datagram, now);
    state.logLine.clear();
    TelemetrySample sample;
    overlayPmr(state, now, sample);
    // A driven car's combo always holds " @ "; its speed is a speed a car can have.
    if (!sample.combo.empty() && sample.combo.find(" @ ") == std::string::npos) std::abort();
    if (!std::isfinite(sample.speedKmh) || sample.speedKmh < -1.0f || sample.speedKmh > 1000.0f) std::abort();
    return 0;
}
