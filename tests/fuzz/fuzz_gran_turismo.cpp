// Random datagrams on Gran Turismo 7's socket: decrypted and read, then laid over a sample as a
// tick does. The first byte chooses the length (one of the four formats', one byte off, or the
// input's own) and whether the rest is taken as a packet's plain bytes and encrypted as a console
// would, with the magic put in first, so that the fuzzer reaches the fields past the magic check.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "telemetry/consoles/gran_turismo.h"
#include "telemetry/consoles/salsa20.h"

namespace {

GranTurismoState state; // kept across inputs, as Ventora keeps it across packets

constexpr std::size_t lengths[] = {296, 316, 344, 368};
constexpr std::uint32_t constants[] = {0xDEADBEAF, 0xDEADBEEF, 0x55FABB4F, 0xDEADBEEF};

void encryptAsAConsole(std::vector<std::uint8_t>& packet, std::uint32_t constant) {
    packet[0] = 0x30, packet[1] = 0x53, packet[2] = 0x37, packet[3] = 0x47;
    const std::uint32_t iv1 =
        packet[0x40] | packet[0x41] << 8 | packet[0x42] << 16 | std::uint32_t{packet[0x43]} << 24;
    Salsa20Nonce nonce;
    for (std::size_t i = 0; i < 4; ++i) {
        nonce[i] = static_cast<std::uint8_t>((iv1 ^ constant) >> (8 * i));
        nonce[4 + i] = static_cast<std::uint8_t>(iv1 >> (8 * i));
    }
    Salsa20Key key;
    const char* text = "Simulator Interface Packet GT7 ver 0.0";
    std::copy_n(text, key.size(), key.begin());
    salsa20Xor(key, nonce, packet);
    for (std::size_t i = 0; i < 4; ++i)
        packet[0x40 + i] = static_cast<std::uint8_t>(iv1 >> (8 * i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    std::vector<std::uint8_t> datagram(data + 1, data + size);
    const std::size_t format = choice & 3;
    if (choice & 4) datagram.resize(lengths[format] + (choice & 8 ? 1 : 0));
    if ((choice & 16) && datagram.size() == lengths[format]) encryptAsAConsole(datagram, constants[format]);

    const MonotonicTime now = MonotonicTime{} + std::chrono::milliseconds(choice);
    const bool taken = takeGranTurismoDatagram(state, datagram, now);
    if (taken && std::find(std::begin(lengths), std::end(lengths), datagram.size()) == std::end(lengths))
        std::abort();
    TelemetrySample sample;
    overlayGranTurismo(state, now, sample);
    if (!sample.combo.empty() &&
        (!sample.combo.starts_with("Car ") || !sample.combo.ends_with(" @ Gran Turismo 7")))
        std::abort();
    return 0;
}
