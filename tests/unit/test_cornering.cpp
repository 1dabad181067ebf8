// A right-hand corner of 1 g in every game, written in each game's own convention (its offsets,
// units and sign as the game documents them, not taken from the code's constants): the games whose
// sign is known give the left fan more, the others stay straight.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fan/corner_wind.h"
#include "plugin_record/plugin_record.h"
#include "telemetry/created/game_readers.h"
#include "telemetry/opened/opened_games.h"
#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr float g = 9.80665f;

// Little-endian, as every machine these games run on (and these tests) is.
template <typename Value> void put(Bytes& b, std::size_t at, Value v) {
    std::memcpy(&b.at(at + sizeof v - 1) - (sizeof v - 1), &v, sizeof v);
}
void putFloats(Bytes& b, std::size_t at, std::array<float, 3> v) {
    for (std::size_t i = 0; i < 3; ++i)
        put(b, at + 4 * i, v[i]);
}
void putText(Bytes& b, std::size_t at, const char* text) {
    std::memcpy(b.data() + at, text, std::strlen(text));
}

// ---- The shared-memory games Ventora creates: Assetto Corsa, Project CARS 2, RaceRoom.

struct CreatedPages {
    Bytes acPhysics = Bytes(568), acGraphics = Bytes(284), acStatic = Bytes(596), pcars2 = Bytes(19380),
          r3e = Bytes(30844);
    TelemetrySample read() const {
        return readTelemetrySample({acPhysics, acGraphics, acStatic, pcars2, r3e});
    }
};

TelemetrySample assettoCorsa(float leftTurnG) {
    CreatedPages p;
    put<std::uint32_t>(p.acGraphics, 4, 2);
    put<float>(p.acPhysics, 44, leftTurnG); // accG[0]
    return p.read();
}

TelemetrySample projectCars2() {
    CreatedPages p;
    put<std::uint32_t>(p.pcars2, 8, 2);
    put<float>(p.pcars2, 6956, -g); // mLocalAcceleration[0], +x to the left
    return p.read();
}

TelemetrySample raceRoom() {
    CreatedPages p;
    put<std::uint32_t>(p.r3e, 0, 3);
    put<std::uint32_t>(p.r3e, 4, 4);
    put<std::uint32_t>(p.r3e, 796, 5);
    put<float>(p.r3e, 1440, -g); // local_acceleration.x, +X to the left
    return p.read();
}

// ---- The games Ventora opens: rFactor 2, Le Mans Ultimate, Assetto Corsa EVO, the plugins.

TelemetrySample readOpened(OpenedGameViews views) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames(views, cache, sample);
    return sample;
}

// One vehicle's telemetry: its id, a speed along -z (forward) and mLocalAccel.x, +x to the left.
void putRf2Telemetry(Bytes& page, std::size_t vehicle, std::int32_t id, double leftwardAcceleration) {
    put(page, vehicle, id);
    putText(page, vehicle + 32, "Oreca 07");
    put<double>(page, vehicle + 200, -30.0);
    put<double>(page, vehicle + 208, leftwardAcceleration);
}

TelemetrySample rFactor2() {
    Bytes scoring(560 + 584), telemetry(16 + 1888);
    scoring.at(120) = 5;
    scoring.at(127) = 1;
    put<std::uint32_t>(scoring, 116, 1);
    put<std::uint32_t>(scoring, 560, 7);
    putText(scoring, 560 + 36, "Oreca 07");
    scoring.at(560 + 196) = 1;
    put<std::uint32_t>(telemetry, 12, 1);
    putRf2Telemetry(telemetry, 16, 7, -g);
    return readOpened({{}, scoring, telemetry, {}, {}});
}

TelemetrySample leMansUltimate() {
    Bytes page(128468 + 1888);
    page.at(1740) = 5;
    page.at(1747) = 1;
    page.at(128465) = 0;
    page.at(128466) = 1;
    putRf2Telemetry(page, 128468, 7, -g);
    return readOpened({{}, {}, {}, page, {}});
}

TelemetrySample assettoCorsaEvo() {
    Bytes physics(800), graphics(4900), statics(208);
    put<std::uint32_t>(graphics, 4, 2);
    put<float>(physics, 44, -1.0f); // accG[0], whichever way it points in this game
    return readOpened({{}, {}, {}, {}, {}, physics, graphics, statics});
}

// A plugin's record seen once, then again after one more frame: from then on it is driven.
TelemetrySample plugin(bool trucks, std::uint8_t format, float lateral) {
    alignas(4) static std::uint8_t section[pluginRecord::sectionSize];
    PluginRecord record;
    record.live = true;
    copyBoundedText(trucks ? "eut2" : "krp", record.gameId, sizeof record.gameId);
    record.lateralAcceleration = lateral;
    std::uint32_t sequence = 0;
    PluginWatch watch;
    OpenedGameViews views{};
    PluginView& view = trucks ? views.trucks : views.kartsAndBikes;
    TelemetrySample sample;
    for (std::uint64_t nowMs : {1000, 1100}) {
        writePluginRecord(section, record, sequence);
        section[0] = format; // an older plugin copy writes format 1
        view = {section, &watch, nowMs};
        sample = readOpened(views);
    }
    return sample;
}

// ---- The UDP games, each datagram as it arrives.

using Clock = std::chrono::steady_clock;
const Clock::time_point t0 = Clock::now();

TelemetrySample overlay(const UdpGameStates& states, Clock::time_point now) {
    TelemetrySample sample;
    overlayUdpGames(states, now, sample);
    return sample;
}

// The car's right direction in the world and a velocity that turns toward it at 1 g.
constexpr std::array<float, 3> right{0.6f, 0.0f, -0.8f}, before{16.0f, 0.0f, 12.0f};
std::array<float, 3> after(float seconds) {
    return {before[0] + right[0] * g * seconds, before[1], before[2] + right[2] * g * seconds};
}

Bytes f1Packet(std::size_t size, std::uint8_t id, float sessionTime) {
    Bytes d(size);
    put<std::uint16_t>(d, 0, 2024);
    d[6] = id;
    put<float>(d, 15, sessionTime);
    d[27] = 1; // the player's car
    return d;
}

Bytes f1Motion(float sessionTime, std::array<float, 3> velocity) {
    Bytes d = f1Packet(1349, 0, sessionTime);
    const std::size_t car = 29 + 60;
    putFloats(d, car + 12, velocity);
    for (std::size_t axis = 0; axis < 3; ++axis)
        put<std::uint16_t>(d, car + 30 + 2 * axis,
                           static_cast<std::uint16_t>(static_cast<std::int16_t>(right[axis] * 32767)));
    return d;
}

TelemetrySample f1() {
    UdpGameStates states;
    Bytes telemetry = f1Packet(1352, 6, 0.0f);
    put<std::uint16_t>(telemetry, 29 + 60, 150);
    takeF1Datagram(states.f1, telemetry, t0);
    takeF1Datagram(states.f1, f1Motion(10.0f, before), t0);
    takeF1Datagram(states.f1, f1Motion(10.1f, after(0.1f)), t0);
    return overlay(states, t0);
}

Bytes dirtDatagram(float runTime, std::array<float, 3> velocity) {
    Bytes d(264);
    put<float>(d, 0, runTime);
    putFloats(d, 32, velocity);
    putFloats(d, 44, right);
    put<float>(d, 28, 20.0f);
    return d;
}

TelemetrySample dirt() {
    UdpGameStates states;
    takeDirtDatagram(states.dirt, dirtDatagram(30.0f, before), t0);
    takeDirtDatagram(states.dirt, dirtDatagram(30.1f, after(0.1f)), t0);
    return overlay(states, t0);
}

TelemetrySample eaWrc() {
    UdpGameStates states;
    for (float stageTime : {60.0f, 60.1f}) {
        Bytes d(237);
        put<float>(d, 217, stageTime);
        putFloats(d, 73, {right[0] * g, right[1] * g, right[2] * g}); // world acceleration, to the right
        putFloats(d, 85, {-right[0], -right[1], -right[2]});          // vehicle_left_direction
        takeWrcDatagram(states.wrc, d, t0);
    }
    return overlay(states, t0);
}

TelemetrySample forza() {
    UdpGameStates states;
    Bytes d(232);
    put<std::uint32_t>(d, 0, 1);
    put<float>(d, 20, g); // AccelerationX, +X to the right
    takeForzaDatagram(states.forza, d, t0);
    return overlay(states, t0);
}

TelemetrySample outGauge() {
    UdpGameStates states;
    Bytes d(92);
    putText(d, 4, "XRT");
    put<float>(d, 12, 30.0f);
    takeOutGaugeDatagram(states.outGauge, d, t0);
    return overlay(states, t0);
}

TEST(Cornering, ARightHandCornerGivesTheLeftFanMoreWhereTheGamesSignIsKnown) {
    struct Case {
        const char* game;
        std::function<TelemetrySample()> rightHandCorner;
        bool splits;
    };
    const Case cases[] = {
        {"Assetto Corsa, ACC", [] { return assettoCorsa(-1.0f); }, true},
        {"Project CARS 2, AMS2, Project CARS 3", projectCars2, true},
        {"RaceRoom", raceRoom, true},
        {"rFactor 2", rFactor2, true},
        {"Le Mans Ultimate", leMansUltimate, true},
        {"Euro Truck Simulator 2 through its plugin", [] { return plugin(true, 2, g); }, true},
        {"F1 24 and F1 25", f1, true},
        {"DiRT", dirt, true},
        {"EA SPORTS WRC", eaWrc, true},
        {"Forza", forza, true},
        {"Assetto Corsa EVO", assettoCorsaEvo, false},
        {"Kart Racing Pro through its plugin", [] { return plugin(false, 2, g); }, false},
        {"a truck game through a 1.3.0 plugin copy", [] { return plugin(true, 1, g); }, false},
        {"Live for Speed, BeamNG over OutGauge", outGauge, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.game);
        const TelemetrySample sample = c.rightHandCorner();
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
