// Salsa20/20 with a 256-bit key and a 64-bit nonce, the stream cipher Gran Turismo 7 hides its
// telemetry with. Small and public, so it is ours: no library to carry into a static exe.
// Platform-neutral: checked natively against the published test vectors.
#pragma once
#include <array>
#include <cstdint>
#include <span>

using Salsa20Key = std::array<std::uint8_t, 32>;
using Salsa20Nonce = std::array<std::uint8_t, 8>;
using Salsa20Block = std::array<std::uint8_t, 64>;

// The 64 keystream bytes of block `counter`.
Salsa20Block salsa20KeystreamBlock(const Salsa20Key& key, const Salsa20Nonce& nonce, std::uint64_t counter);

// XORs the keystream, from block 0, over `bytes` in place: encryption and decryption alike.
void salsa20Xor(const Salsa20Key& key, const Salsa20Nonce& nonce, std::span<std::uint8_t> bytes);
