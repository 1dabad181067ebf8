// A right-hand corner of 1 g in every game, written in each game's own convention (its offsets,
// units and sign as the game documents them, not taken from the code's constants): the games whose
// sign is known give the left fan more, the others stay straight.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fan/corner_wind.h"
#include "plugin_record/plugin_record.h"
#include "telemetry/created/game_readers.h"
#include "telemetry/opened/opened_games.h"
#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Vec = std::array<float, 3>;
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using i16x3 = std::array<std::int16_t, 3>;
constexpr float g = 9.80665f;

// One field of a page or datagram, little-endian as every machine these games run on is.
struct Field {
    template <typename Value> Field(std::size_t at, Value value) : at(at), bytes(sizeof value) {
        std::memcpy(bytes.data(), &value, sizeof value);
    }
    Field(std::size_t at, const char* text) : at(at), bytes(text, text + std::strlen(text)) {}
    std::size_t at;
    Bytes bytes;
};
Bytes with(Bytes b, std::initializer_list<Field> fields) {
    for (const Field& f : fields) {
        b.at(f.at + f.bytes.size() - 1); // within the page
        std::copy(f.bytes.begin(), f.bytes.end(), b.begin() + static_cast<std::ptrdiff_t>(f.at));
    }
    return b;
}
Bytes bytes(std::size_t size, std::initializer_list<Field> fields) {
    return with(Bytes(size), fields);
}

// ---- The shared-memory games Ventora creates: Assetto Corsa, Project CARS 2, RaceRoom.

TelemetrySample created(Bytes acPhysics, Bytes acGraphics, Bytes pcars2, Bytes r3e) {
    return readTelemetrySample({acPhysics, acGraphics, Bytes(596), pcars2, r3e});
}

// ---- The games Ventora opens: rFactor 2, Le Mans Ultimate, Assetto Corsa EVO, the plugins.

TelemetrySample readOpened(OpenedGameViews views) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames(views, cache, sample);
    return sample;
}

// Vehicle 7's telemetry at `vehicle`: moving along -z (forward), mLocalAccel.x (+x to the left) 1 g
// toward the right.
Bytes withRf2Vehicle(Bytes page, std::size_t vehicle) {
    return with(
        std::move(page),
        {{vehicle, 7}, {vehicle + 32, "Oreca 07"}, {vehicle + 200, -30.0}, {vehicle + 208, double{-g}}});
}

TelemetrySample rFactor2() {
    const Bytes scoring =
        bytes(1144, {{116, 1u}, {120, u8{5}}, {127, u8{1}}, {560, 7}, {596, "Oreca 07"}, {756, u8{1}}});
    return readOpened({{}, scoring, withRf2Vehicle(bytes(1904, {{12, 1u}}), 16), {}, {}});
}

TelemetrySample leMansUltimate() {
    const Bytes page =
        withRf2Vehicle(bytes(128468 + 1888, {{1740, u8{5}}, {1747, u8{1}}, {128466, u8{1}}}), 128468);
    return readOpened({{}, {}, {}, page, {}});
}

// A plugin's record seen once, then again after one more frame: from then on it is driven.
TelemetrySample plugin(bool trucks, std::uint8_t format) {
    alignas(4) static std::uint8_t section[pluginRecord::sectionSize];
    PluginRecord record;
    record.live = true;
    copyBoundedText(trucks ? "eut2" : "krp", record.gameId, sizeof record.gameId);
    record.lateralAcceleration = g; // truck.local.acceleration.linear.x, +x to the right
    std::uint32_t sequence = 0;
    PluginWatch watch;
    OpenedGameViews views{};
    TelemetrySample sample;
    for (std::uint64_t nowMs : {1000, 1100}) {
        writePluginRecord(section, record, sequence);
        section[0] = format; // an older plugin copy writes format 1
        (trucks ? views.trucks : views.kartsAndBikes) = {section, &watch, nowMs};
        sample = readOpened(views);
    }
    return sample;
}

// ---- The UDP games, each datagram as it arrives.

const MonotonicTime t0 = std::chrono::steady_clock::now();

template <typename State>
TelemetrySample udp(State UdpGameStates::*game, bool (*take)(State&, Datagram, MonotonicTime),
                    std::initializer_list<Bytes> datagrams) {
    UdpGameStates states;
    for (const Bytes& d : datagrams)
        take(states.*game, d, t0);
    TelemetrySample sample;
    overlayUdpGames(states, t0, sample);
    return sample;
}

// The car's right direction in the world and a velocity that turns toward it at 1 g.
constexpr Vec right{0.6f, 0.0f, -0.8f}, before{16.0f, 0.0f, 12.0f};
Vec after(float seconds) {
    return {before[0] + right[0] * g * seconds, before[1], before[2] + right[2] * g * seconds};
}

// An F1 packet with the player's car at index 1; its entries start after a 29-byte header. The
// 2026 format has room for 24 cars, in 54-byte Motion and 59-byte Car Telemetry entries; 2024 and
// 2025 for 22, in 60-byte entries of both.
Bytes f1Packet(u16 format, std::size_t size, std::uint8_t id, float sessionTime,
               std::initializer_list<Field> fields) {
    return with(bytes(size, {{0, format}, {6, id}, {15, sessionTime}, {27, u8{1}}}), fields);
}
Bytes f1Telemetry(u16 format) {
    const std::size_t car = 29 + (format == 2026 ? 59 : 60);
    return f1Packet(format, format == 2026 ? 1448 : 1352, 6, 0.0f, {{car, u16{150}}});
}
// Motion: world velocity at +12, world right direction at +30 in int16 of 1/32767.
Bytes f1Motion(u16 format, float sessionTime, Vec velocity) {
    const std::size_t entry = format == 2026 ? 54 : 60, car = 29 + entry;
    const auto unit = [](float x) { return static_cast<std::int16_t>(x * 32767); };
    return f1Packet(
        format, 29 + (format == 2026 ? 24 : 22) * entry, 0, sessionTime,
        {{car + 12, velocity}, {car + 30, i16x3{unit(right[0]), unit(right[1]), unit(right[2])}}});
}
TelemetrySample f1(u16 format) {
    return udp(&UdpGameStates::f1, takeF1Datagram,
               {f1Telemetry(format), f1Motion(format, 10.0f, before), f1Motion(format, 10.1f, after(0.1f))});
}

// DiRT: run time 0, speed 28, world velocity 32, the car's right direction 44. Test Drive
// Unlimited Solar Crown sends the same fields in datagrams of 280 bytes and more.
Bytes dirtDatagram(float runTime, Vec velocity, std::size_t size = 264) {
    return bytes(size, {{0, runTime}, {28, 20.0f}, {32, velocity}, {44, right}});
}

// EA SPORTS WRC: stage time 217, world acceleration 73 (to the right), vehicle_left_direction 85.
Bytes wrcDatagram(float stageTime) {
    return bytes(237, {{217, stageTime},
                       {73, Vec{right[0] * g, 0.0f, right[2] * g}},
                       {85, Vec{-right[0], 0.0f, -right[2]}}});
}

TEST(Cornering, ARightHandCornerGivesTheLeftFanMoreWhereTheGamesSignIsKnown) {
    struct Case {
        const char* game;
        TelemetrySample rightHandCorner;
        bool splits;
    };
    const Case cases[] = {
        // accG[0] (physics 44) in g, positive in a left turn; status 2 (graphics 4) is live.
        {"Assetto Corsa, ACC", created(bytes(568, {{44, -1.0f}}), bytes(284, {{4, 2u}}), {}, {}), true},
        // mLocalAcceleration[0] (6956), +x to the left; game state 2 (8) is playing.
        {"Project CARS 2, AMS2, Project CARS 3", created({}, {}, bytes(19380, {{8, 2u}, {6956, -g}}), {}),
         true},
        // local_acceleration.x (1440), +X to the left; layout 3.4 (0, 4), session phase 5 (796) green.
        {"RaceRoom", created({}, {}, {}, bytes(30844, {{0, 3u}, {4, 4u}, {796, 5u}, {1440, -g}})), true},
        {"rFactor 2", rFactor2(), true},
        {"Le Mans Ultimate", leMansUltimate(), true},
        {"Euro Truck Simulator 2 through its plugin", plugin(true, 2), true},
        {"F1 24 and F1 25 (format 2024)", f1(2024), true},
        {"F1 25 (format 2026)", f1(2026), true},
        {"DiRT",
         udp(&UdpGameStates::dirt, takeDirtDatagram,
             {dirtDatagram(30.0f, before), dirtDatagram(30.1f, after(0.1f))}),
         true},
        {"Test Drive Unlimited Solar Crown",
         udp(&UdpGameStates::tdu, takeTduDatagram,
             {dirtDatagram(30.0f, before, 280), dirtDatagram(30.1f, after(0.1f), 280)}),
         true},
        {"EA SPORTS WRC", udp(&UdpGameStates::wrc, takeWrcDatagram, {wrcDatagram(60.0f), wrcDatagram(60.1f)}),
         true},
        // AccelerationX (20), +X to the right; IsRaceOn (0).
        {"Forza", udp(&UdpGameStates::forza, takeForzaDatagram, {bytes(232, {{0, 1u}, {20, g}})}), true},
        // accG[0] (44): which way it points in this game is not known.
        {"Assetto Corsa EVO",
         readOpened({{}, {}, {}, {}, {}, bytes(800, {{44, -1.0f}}), bytes(4900, {{4, 2u}}), Bytes(208)}),
         false},
        {"Kart Racing Pro through its plugin", plugin(false, 2), false},
        {"a truck game through a 1.3.0 plugin copy", plugin(true, 1), false},
        {"Live for Speed, BeamNG over OutGauge",
         udp(&UdpGameStates::outGauge, takeOutGaugeDatagram, {bytes(92, {{4, "XRT"}, {12, 30.0f}})}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.game);
        const TelemetrySample& sample = c.rightHandCorner;
        ASSERT_FALSE(sample.combo.empty()) << "the game was not live";
        CornerWind wind;
        CornerByte corner = 0;
        for (int tick = 0; tick < 4; ++tick)
            corner = updateCornerWind(wind, sample);
        if (c.splits) {
            EXPECT_NEAR(sample.cornerG, 1.0f, 0.01f);
            EXPECT_EQ(corner & 0xC0, 0xC0) << "not a right-hand corner: " << int(corner);
        } else {
            EXPECT_EQ(sample.cornerG, 0.0f);
            EXPECT_EQ(corner, 0x80);
        }
    }
}

} // namespace
