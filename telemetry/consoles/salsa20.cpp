// Salsa20/20: ten double rounds (a column round and a row round each) over a 4x4 state of words,
// the input words added back at the end.
#include "telemetry/consoles/salsa20.h"

#include <algorithm>
#include <bit>

namespace {

constexpr int doubleRounds = 10;

// "expand 32-byte k", the constant of the 256-bit key, as four little-endian words.
constexpr std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

std::uint32_t wordAt(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::uint32_t{bytes[offset]} | std::uint32_t{bytes[offset + 1]} << 8 |
           std::uint32_t{bytes[offset + 2]} << 16 | std::uint32_t{bytes[offset + 3]} << 24;
}

void quarterRound(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    b ^= std::rotl(a + d, 7);
    c ^= std::rotl(b + a, 9);
    d ^= std::rotl(c + b, 13);
    a ^= std::rotl(d + c, 18);
}

} // namespace

Salsa20Block salsa20KeystreamBlock(const Salsa20Key& key, const Salsa20Nonce& nonce, std::uint64_t counter) {
    const std::uint32_t input[16] = {sigma[0],
                                     wordAt(key, 0),
                                     wordAt(key, 4),
                                     wordAt(key, 8),
                                     wordAt(key, 12),
                                     sigma[1],
                                     wordAt(nonce, 0),
                                     wordAt(nonce, 4),
                                     static_cast<std::uint32_t>(counter),
                                     static_cast<std::uint32_t>(counter >> 32),
                                     sigma[2],
                                     wordAt(key, 16),
                                     wordAt(key, 20),
                                     wordAt(key, 24),
                                     wordAt(key, 28),
                                     sigma[3]};
    std::uint32_t x[16];
    std::copy(std::begin(input), std::end(input), x);
    for (int round = 0; round < doubleRounds; ++round) {
        quarterRound(x[0], x[4], x[8], x[12]); // columns
        quarterRound(x[5], x[9], x[13], x[1]);
        quarterRound(x[10], x[14], x[2], x[6]);
        quarterRound(x[15], x[3], x[7], x[11]);
        quarterRound(x[0], x[1], x[2], x[3]); // rows
        quarterRound(x[5], x[6], x[7], x[4]);
        quarterRound(x[10], x[11], x[8], x[9]);
        quarterRound(x[15], x[12], x[13], x[14]);
    }
    Salsa20Block block;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint32_t word = x[i] + input[i];
        for (std::size_t b = 0; b < 4; ++b)
            block[4 * i + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
    return block;
}

void salsa20Xor(const Salsa20Key& key, const Salsa20Nonce& nonce, std::span<std::uint8_t> bytes) {
    std::uint64_t counter = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += 64, ++counter) {
        const Salsa20Block block = salsa20KeystreamBlock(key, nonce, counter);
        const std::size_t count = std::min<std::size_t>(64, bytes.size() - offset);
        for (std::size_t i = 0; i < count; ++i)
            bytes[offset + i] ^= block[i];
    }
}
