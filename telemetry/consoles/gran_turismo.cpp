// The four packet formats share their first 296 bytes' layout and one key; they differ in length
// and in the constant that makes the nonce. The length tells the format, the magic after
// decryption confirms it.
#include "telemetry/consoles/gran_turismo.h"

#include <algorithm>
#include <array>
#include <string>

#include "telemetry/byte_loads.h"
#include "telemetry/consoles/salsa20.h"
#include "telemetry/speed_within_reason.h"

namespace {

// The first 32 bytes of "Simulator Interface Packet GT7 ver 0.0".
constexpr std::string_view keyText = "Simulator Interface Packet GT7 ver 0.0";

constexpr std::uint32_t magic = 0x47375330; // "0S7G" as it lies in memory
constexpr std::size_t ivOffset = 0x40;
constexpr std::size_t speedOffset = 0x4C;
constexpr std::size_t flagsOffset = 0x8E;
constexpr std::size_t carCodeOffset = 0x124;

struct Format {
    std::size_t size;
    std::uint32_t nonceConstant;
};

constexpr Format formats[] = {{296, 0xDEADBEAF}, {316, 0xDEADBEEF}, {344, 0x55FABB4F}, {368, 0xDEADBEEF}};

constexpr float kmhPerMetrePerSecond = 3.6f;

const Salsa20Key key = [] {
    Salsa20Key bytes{};
    std::copy_n(keyText.begin(), bytes.size(), bytes.begin());
    return bytes;
}();

void storeU32(Salsa20Nonce& nonce, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        nonce[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

std::optional<GranTurismoPacket> readGranTurismoPacket(std::span<const std::uint8_t> datagram) {
    const auto format = std::find_if(std::begin(formats), std::end(formats),
                                     [&](const Format& f) { return f.size == datagram.size(); });
    if (format == std::end(formats)) return std::nullopt;

    std::array<std::uint8_t, granTurismoLongestPacket> buffer;
    const std::span<std::uint8_t> packet(buffer.data(), datagram.size());
    std::copy(datagram.begin(), datagram.end(), packet.begin());
    // The IV lies in the packet as it arrives, and is not itself decrypted first.
    const std::uint32_t iv1 = loadU32(datagram, ivOffset);
    Salsa20Nonce nonce;
    storeU32(nonce, 0, iv1 ^ format->nonceConstant);
    storeU32(nonce, 4, iv1);
    salsa20Xor(key, nonce, packet);

    if (loadU32(packet, 0) != magic) return std::nullopt;
    return GranTurismoPacket{loadFloat(packet, speedOffset), loadU16(packet, flagsOffset),
                             loadI32(packet, carCodeOffset)};
}

bool takeGranTurismoDatagram(GranTurismoState& state, std::span<const std::uint8_t> datagram,
                             MonotonicTime now) {
    const std::optional<GranTurismoPacket> packet = readGranTurismoPacket(datagram);
    if (!packet) return false;
    state.heard = true;
    state.lastHeard = now;
    state.driven = (packet->flags & carOnTrackFlag) && !(packet->flags & (pausedFlag | loadingFlag));
    // The key is public, so a packet can say anything.
    state.speedKmh = speedWithinReason(packet->speedMetresPerSecond * kmhPerMetrePerSecond);
    state.carCode = packet->carCode;
    return true;
}

void overlayGranTurismo(const GranTurismoState& state, MonotonicTime now, TelemetrySample& sample) {
    if (!heardRecently(state.heard, state.lastHeard, now) || !state.driven) return;
    sample.combo = "Car " + std::to_string(state.carCode) + " @ Gran Turismo 7";
    sample.speedKmh = state.speedKmh;
    sample.cornerG = 0.0f; // its sway's sign is not known
}
