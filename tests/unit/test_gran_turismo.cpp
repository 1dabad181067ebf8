// Gran Turismo 7's decryption and packet: Salsa20/20 against the eSTREAM vectors, the packet a real
// PS5 sent (its speed, flags and car code), the four formats told apart by length, and when the car
// counts as driven. Offsets and constants are written out here, not taken from the code.
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <string>
#include <vector>

#include "telemetry/consoles/gran_turismo.h"
#include "telemetry/consoles/salsa20.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

template <std::size_t size> std::array<std::uint8_t, size> arrayFromHex(std::string_view hex) {
    const Bytes bytes = fromHex(hex);
    std::array<std::uint8_t, size> array{}; // zeros after the bytes given, as the vectors write keys
    std::copy_n(bytes.begin(), std::min(size, bytes.size()), array.begin());
    return array;
}

Bytes keystream(const Salsa20Key& key, const Salsa20Nonce& nonce, std::size_t length) {
    Bytes bytes(length);
    salsa20Xor(key, nonce, bytes);
    return bytes;
}

TEST(Salsa20, KeystreamMatchesTheEstreamVectors) {
    const struct {
        const char* name;
        std::string_view key, nonce;
        std::size_t from;
        std::string_view expected;
    } vectors[] = {
        {"set 1 vector 0, bytes 0-63", "80", "0000000000000000", 0,
         "E3BE8FDD8BECA2E3EA8EF9475B29A6E7003951E1097A5C38D23B7A5FAD9F6844B22C97559E2723C7CBBD3FE4FC8D9A07"
         "44652A83E72A9C461876AF4D7EF1A117"},
        {"set 1 vector 0, bytes 192-255", "80", "0000000000000000", 192,
         "57BE81F47B17D9AE7C4FF15429A73E10ACF250ED3A90A93C711308A74C6216A9ED84CD126DA7F28E8ABF8BB63517E1CA"
         "98E712F4FB2E1A6AED9FDC73291FAA17"},
        {"set 6 vector 0, bytes 0-63", "0053A6F94C9FF24598EB3E91E4378ADD3083D6297CCF2275C81B6EC11467BA0D",
         "0D74DB42A91077DE", 0,
         "F5FAD53F79F9DF58C4AEA0D0ED9A9601F278112CA7180D565B420A48019670EAF24CE493A86263F677B46ACE1924773D"
         "2BB25571E1AA8593758FC382B1280B71"},
    };
    for (const auto& v : vectors) {
        const Bytes stream = keystream(arrayFromHex<32>(v.key), arrayFromHex<8>(v.nonce), 256);
        EXPECT_EQ(Bytes(stream.begin() + v.from, stream.begin() + v.from + 64), fromHex(v.expected))
            << v.name;
    }
}

const Bytes capturedPacket = fromHex("f6374a12433223cf4e531feb646dffaec8f0c8b96edcaf5291b440f2ab4801f1"
                                     "fc5a342c25757409f497e138754658495ec3bcdd6bc548cdc31a8fbc41631f1b"
                                     "fb599f0c0b8dd658700655ddc6eca74cc991ba7a1c14ab1a399075adce555a9d"
                                     "2030412e8ae30433a120bc776134eeb3188adc80394bb8be75aaef6f67039501"
                                     "745f851335a2bc9ce1c655b50709236727f56fd8894dff6610655c1b1232cd5c"
                                     "ad28efad037303de47d720f2411ae20d54d64204fdaf198123215b6089623ec2"
                                     "3dcbac965bf6d22a293259b27eddfe4ca6068cbec62eeb6a58ef982df96a1300"
                                     "4fd1c2c88d58dacbea2804571b48ebf9579539bfb89d49f0271c11eb6f273b0e"
                                     "6a81869c884448311688526e31f0f64aa820a9f8a255d64936989a9eb45e8e1d"
                                     "2bd74602fd30418a");

// Its car code lies in the last, partial keystream block: a fault in the tail shows there.
TEST(GranTurismoPacket, CapturedPacketGivesItsSpeedFlagsAndCar) {
    ASSERT_EQ(capturedPacket.size(), 296u);
    const auto packet = readGranTurismoPacket(capturedPacket);
    ASSERT_TRUE(packet);
    EXPECT_NEAR(packet->speedMetresPerSecond, 55.6265f, 0.0001f);
    EXPECT_EQ(packet->flags, 0x0008);
    EXPECT_EQ(packet->carCode, 3311);
}

TEST(GranTurismoPacket, DamagedOrCutPacketsAreRefused) {
    Bytes flipped = capturedPacket;
    flipped[1] ^= 0x01; // inside the magic
    Bytes otherIv = capturedPacket;
    otherIv[0x40] ^= 0x01; // a different nonce: the whole packet turns to garbage
    const struct {
        const char* why;
        Bytes bytes;
    } cases[] = {
        {"a byte of the magic changed", flipped},
        {"the IV changed", otherIv},
        {"one byte short", Bytes(capturedPacket.begin(), capturedPacket.end() - 1)},
        {"one byte long",
         [] {
             Bytes b = capturedPacket;
             b.push_back(0);
             return b;
         }()},
        {"format B's length, format A's constant",
         [] {
             Bytes b = capturedPacket;
             b.resize(316);
             return b;
         }()},
        {"empty", Bytes{}},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(readGranTurismoPacket(c.bytes)) << c.why;
}

// A packet as a console would send it: plain fields, encrypted with the format's nonce constant
// (which the test names itself, beside each format's length).
Bytes encryptedPacket(std::size_t size, std::uint32_t nonceConstant, float speed, std::uint16_t flags,
                      std::int32_t car) {
    Bytes plain(size);
    auto put = [&](std::size_t offset, std::uint32_t value, std::size_t width) {
        for (std::size_t i = 0; i < width; ++i)
            plain[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    put(0x00, 0x47375330, 4);
    put(0x4C, std::bit_cast<std::uint32_t>(speed), 4);
    put(0x8E, flags, 2);
    put(0x124, static_cast<std::uint32_t>(car), 4);
    const std::uint32_t iv1 = 0x12345678;
    Salsa20Nonce nonce;
    for (std::size_t i = 0; i < 4; ++i) {
        nonce[i] = static_cast<std::uint8_t>((iv1 ^ nonceConstant) >> (8 * i));
        nonce[4 + i] = static_cast<std::uint8_t>(iv1 >> (8 * i));
    }
    Salsa20Key key{};
    const std::string_view keyText = "Simulator Interface Packet GT7 ver 0.0";
    std::copy_n(keyText.begin(), 32, key.begin());
    salsa20Xor(key, nonce, plain);
    put(0x40, iv1, 4); // the IV travels in the clear
    return plain;
}

TEST(GranTurismoPacket, EachFormatIsReadByItsLengthAndOnlyWithItsOwnConstant) {
    const struct {
        std::size_t size;
        std::uint32_t constant, wrongConstant;
    } formats[] = {{296, 0xDEADBEAF, 0xDEADBEEF},
                   {316, 0xDEADBEEF, 0xDEADBEAF},
                   {344, 0x55FABB4F, 0xDEADBEEF},
                   {368, 0xDEADBEEF, 0x55FABB4F}};
    for (const auto& f : formats) {
        const auto packet = readGranTurismoPacket(encryptedPacket(f.size, f.constant, 41.5f, 0x0009, 1234));
        ASSERT_TRUE(packet) << f.size;
        EXPECT_EQ(packet->speedMetresPerSecond, 41.5f) << f.size;
        EXPECT_EQ(packet->flags, 0x0009) << f.size;
        EXPECT_EQ(packet->carCode, 1234) << f.size;
        EXPECT_FALSE(readGranTurismoPacket(encryptedPacket(f.size, f.wrongConstant, 41.5f, 9, 1234)))
            << f.size;
    }
}

TEST(GranTurismoState, OnlyOnTrackNotPausedNotLoadingIsDriven) {
    const struct {
        std::uint16_t flags;
        bool driven;
    } cases[] = {{0x0001, true},  {0x0009, true},  {0x0003, false}, {0x0005, false},
                 {0x0008, false}, {0x0000, false}, {0x0007, false}, {0xFFF9, true}};
    for (const auto& c : cases) {
        GranTurismoState state;
        ASSERT_TRUE(
            takeGranTurismoDatagram(state, encryptedPacket(296, 0xDEADBEAF, 50.0f, c.flags, 3311), t0));
        TelemetrySample sample;
        overlayGranTurismo(state, t0, sample);
        EXPECT_EQ(sample.combo, c.driven ? "Car 3311 @ Gran Turismo 7" : "") << c.flags;
        EXPECT_EQ(sample.speedKmh, c.driven ? 180.0f : 0.0f) << c.flags;
    }
}

TEST(GranTurismoState, ASecondWithoutPacketsEndsTheDrive) {
    GranTurismoState state;
    ASSERT_TRUE(takeGranTurismoDatagram(state, encryptedPacket(368, 0xDEADBEEF, 10.0f, 1, 42), t0));
    TelemetrySample stillLive, silent;
    overlayGranTurismo(state, t0 + std::chrono::milliseconds(999), stillLive);
    overlayGranTurismo(state, t0 + std::chrono::seconds(1), silent);
    EXPECT_EQ(stillLive.combo, "Car 42 @ Gran Turismo 7");
    EXPECT_EQ(silent.combo, "");
}

TEST(GranTurismoState, ARefusedDatagramLeavesTheStateAsItWas) {
    GranTurismoState state;
    ASSERT_TRUE(takeGranTurismoDatagram(state, encryptedPacket(316, 0xDEADBEEF, 20.0f, 1, 7), t0));
    EXPECT_FALSE(takeGranTurismoDatagram(state, encryptedPacket(316, 0xDEADBEAF, 90.0f, 0, 8), t0));
    EXPECT_EQ(state.speedKmh, 72.0f);
    EXPECT_EQ(state.carCode, 7);
    EXPECT_TRUE(state.driven);
}

TEST(GranTurismoState, ASpeedBeyondReasonCountsAsStandingStill) {
    // The key is public: a stranger's packet can say anything, finite or not.
    const std::pair<float, float> cases[] = {{std::numeric_limits<float>::infinity(), 0.0f},
                                             {std::numeric_limits<float>::quiet_NaN(), 0.0f},
                                             {1e6f, 0.0f},
                                             {9.4e37f, 0.0f},
                                             {-10.0f, 0.0f},
                                             {-0.1f, 0.0f},
                                             {50.0f, 180.0f}};
    for (const auto& [speed, kmh] : cases) {
        GranTurismoState state;
        ASSERT_TRUE(takeGranTurismoDatagram(state, encryptedPacket(296, 0xDEADBEAF, speed, 1, 3311), t0));
        TelemetrySample sample;
        overlayGranTurismo(state, t0, sample);
        EXPECT_FLOAT_EQ(sample.speedKmh, kmh) << speed;
    }
}

} // namespace
