// Project Motor Racing's packets: the constructed examples of its published layout, byte for byte,
// then cut and changed ones; the player's car, the session's state and a frozen stream.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "telemetry/udp/pmr_datagrams.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using u8 = std::uint8_t;
using u16 = std::uint16_t;
using i32 = std::int32_t;
using std::chrono::milliseconds;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

Bytes fromHex(std::string hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// `d` with `value` written at `at`, little-endian as the game and these tests' machines are.
template <typename Value> Bytes with(Bytes d, std::size_t at, Value value) {
    d.at(at + sizeof value - 1);
    std::memcpy(d.data() + at, &value, sizeof value);
    return d;
}
Bytes cut(Bytes d, std::size_t size) {
    d.resize(size);
    return d;
}

// A: RaceInfo v1, Monza GP, State 1 (Active) at byte 63.
const Bytes raceInfo = fromHex("000100054d6f6e7a610247500005436c6561720850726163746963650d53696e"
                               "676c6520506c617965720008b5450000e144000000000000b0410000f0410001"
                               "02");
// B: ParticipantRaceState v1, VehicleId 5, IsPlayer 1, "Ginetta G55 GT4".
const Bytes participant = fromHex("01010005000000010f47696e6574746120473535204754340644726976657200"
                                  "03475434010000000200000000004841000000000000803e0000000003000000"
                                  "0000000000000000000000000000000000");

// C: ParticipantVehicleTelemetry v2, 964 bytes, VehicleId 5, moved along by `x` metres from
// PosWS (100, 2, -300), at an OverallSpeed (604) of 50 m/s unless given. Zero but for these runs.
Bytes telemetryAt(float x, float metresPerSecond = 50.0f) {
    std::istringstream runs(
        "0:0202000500000004 506:c84200000040000096c3 530:803f 536:cdcccc3d 548:cdcc4c3e "
        "558:803f 567:4000004040000080400000a0400000c0400000e04000000041000010410000204100"
        "00304100004842000046420ad7233c 729:01 735:06 784:03 800:3f 807:803f "
        "821:03000000295c0f3f 851:9a99993e 864:808944 960:040601");
    Bytes d(964);
    std::size_t offset;
    char colon;
    std::string hex;
    while (runs >> offset >> colon >> hex)
        for (std::uint8_t byte : fromHex(hex))
            d.at(offset++) = byte;
    return with(with(d, 504, 100.0f + x), 604, metresPerSecond);
}

// The same car with `wheels` wheels: the 124-byte records removed or added after the first.
Bytes withWheels(Bytes d, std::size_t wheels) {
    d[7] = static_cast<std::uint8_t>(wheels);
    if (wheels < 4)
        d.erase(d.begin() + 8, d.begin() + 8 + static_cast<std::ptrdiff_t>(124 * (4 - wheels)));
    else
        d.insert(d.begin() + 8, 124 * (wheels - 4), 0);
    return d;
}

// Race info and the player's participant taken, then the player's telemetry twice, moving.
PmrState drivenState() {
    PmrState state;
    for (const Bytes& d : {raceInfo, participant, telemetryAt(0.0f)})
        takePmrDatagram(state, d, t0);
    takePmrDatagram(state, telemetryAt(1.0f), t0 + milliseconds(50));
    return state;
}

TelemetrySample overlay(const PmrState& state, MonotonicTime now) {
    TelemetrySample sample{"shared @ memory game", 5.0f, 0.5f};
    overlayPmr(state, now, sample);
    return sample;
}

TEST(PmrDatagrams, TheExamplesGiveThePlayersCarOnTheTrackAtItsSpeed) {
    const TelemetrySample sample = overlay(drivenState(), t0 + milliseconds(100));
    EXPECT_EQ(sample.combo, "Ginetta G55 GT4 @ Monza GP");
    EXPECT_EQ(sample.speedKmh, 180.0f);
    EXPECT_EQ(sample.cornerG, 0.0f) << "which way is left in its car frame is not known";
}

// Each datagram, taken after the race info, the player's participant and the example telemetry at
// 50 m/s: whether it is the game's, and the speed then held. None changes the track, the car or the
// race's state.
TEST(PmrDatagrams, CutAndChangedPacketsLeaveThePlayersTelemetryAsItWas) {
    const Bytes slow = telemetryAt(3.0f, 10.0f);
    Bytes raceInfoV2 = with<u16>(raceInfo, 1, 2);
    raceInfoV2.insert(raceInfoV2.begin() + 62, 8, 0); // SessionTimeElapsed, TrackGrip after TrackTemperature
    raceInfoV2.insert(raceInfoV2.begin() + 71, 1, 0); // SessionIsLaps after IsLaps
    struct Case {
        const char* name;
        Bytes datagram;
        bool gameSendsIt;
        float speedKmh;
    };
    const Case cases[] = {
        {"fewer than 616 bytes", cut(slow, 615), false, 180.0f},
        {"one byte over", cut(slow, 965), false, 180.0f},
        {"two wheels said, four sent", with<u8>(slow, 7, 2), false, 180.0f},
        {"no wheels, laid out for none", withWheels(slow, 0), false, 180.0f},
        {"nine wheels, laid out for nine", withWheels(slow, 9), false, 180.0f},
        {"a float that is no number", with<std::uint32_t>(slow, 580, 0x7FC00000), false, 180.0f},
        {"a vehicle name running past the end", with<u8>(participant, 8, 0x50), false, 180.0f},
        {"a track name running past the end", with<u8>(raceInfo, 3, 0x40), false, 180.0f},
        {"a header cut short", cut(participant, 2), false, 180.0f},
        {"race info version 1 said to be 2", with<u16>(raceInfo, 1, 2), false, 180.0f},
        {"race info version 2", raceInfoV2, true, 180.0f},
        {"another car's telemetry", with<i32>(slow, 3, 6), true, 180.0f},
        {"version 3", with<u16>(slow, 1, 3), true, 180.0f},
        {"an unknown type", Bytes{9, 1, 0, 1, 2, 3}, true, 180.0f},
        {"eight wheels, laid out for eight", withWheels(slow, 8), true, 36.0f},
        {"version 1, its first 616 bytes", with<u16>(cut(slow, 616), 1, 1), true, 36.0f},
        {"the example again, at 10 m/s", slow, true, 36.0f},
        {"a speed no car has", telemetryAt(3.0f, 300.0f), true, 0.0f},
        {"a speed backwards", telemetryAt(3.0f, -5.0f), true, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PmrState state;
        for (const Bytes& d : {raceInfo, participant, telemetryAt(0.0f)})
            ASSERT_TRUE(takePmrDatagram(state, d, t0));
        EXPECT_EQ(takePmrDatagram(state, c.datagram, t0 + milliseconds(50)), c.gameSendsIt);
        EXPECT_EQ(state.speedKmh, c.speedKmh);
        EXPECT_TRUE(state.raceActive);
        EXPECT_EQ(state.track, "Monza");
        EXPECT_EQ(state.vehicleName, "Ginetta G55 GT4");
    }
}

TEST(PmrDatagrams, AnUnknownVersionIsLoggedOncePerType) {
    PmrState state;
    std::vector<std::string> lines;
    for (const Bytes& d : {telemetryAt(0.0f), raceInfo, raceInfo}) {
        takePmrDatagram(state, with<u16>(d, 1, 3), t0);
        if (!state.logLine.empty()) lines.push_back(std::exchange(state.logLine, {}));
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "Project Motor Racing: telemetry packets of version 3 are not known and are ignored",
                  "Project Motor Racing: race info packets of version 3 are not known and are ignored"}));
}

// What follows a driven moment, and whether the car is then still driven.
TEST(PmrDatagrams, DrivenOnlyWhileActiveAndThePlayersTelemetryFreshAndMoving) {
    const MonotonicTime later = t0 + milliseconds(100);
    const Bytes stopped{3, 1, 0}, moving = telemetryAt(2.0f);
    struct Case {
        const char* name;
        std::vector<Bytes> datagrams; // taken at `later`, one after another
        int lookAfterMs;              // from `later`
        bool driven;
    };
    const Case cases[] = {
        {"moving, 0.4 s later", {moving}, 400, true},
        {"silent for half a second", {}, 500, false},
        {"the same telemetry again: paused", {telemetryAt(1.0f), telemetryAt(1.0f)}, 450, false},
        {"only other cars moving", {with<i32>(telemetryAt(5.0f), 3, 7)}, 450, false},
        {"State Inactive", {with<u8>(raceInfo, 63, 0)}, 0, false},
        {"State Complete", {with<u8>(raceInfo, 63, 2)}, 0, false},
        {"Active again", {with<u8>(raceInfo, 63, 2), raceInfo, moving}, 0, true},
        {"SessionStopped", {stopped}, 0, false},
        {"SessionStopped, then telemetry", {stopped, moving, telemetryAt(3.0f)}, 0, false},
        {"another player", {with<i32>(participant, 3, 6), moving}, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PmrState state = drivenState();
        ASSERT_TRUE(pmrDriven(state, later));
        for (const Bytes& d : c.datagrams)
            takePmrDatagram(state, d, later);
        EXPECT_EQ(overlay(state, later + milliseconds(c.lookAfterMs)).combo,
                  c.driven ? "Ginetta G55 GT4 @ Monza GP" : "shared @ memory game");
    }
}

TEST(PmrDatagrams, TelemetryBeforeThePlayerIsKnownIsNotTheFans) {
    PmrState state;
    for (const Bytes& d : {raceInfo, telemetryAt(0.0f), telemetryAt(1.0f)})
        takePmrDatagram(state, d, t0);
    EXPECT_FALSE(pmrDriven(state, t0));
    takePmrDatagram(state, participant, t0);
    takePmrDatagram(state, telemetryAt(2.0f), t0);
    EXPECT_FALSE(pmrDriven(state, t0)) << "the first of the player's packets has nothing to differ from";
    takePmrDatagram(state, telemetryAt(3.0f), t0);
    EXPECT_TRUE(pmrDriven(state, t0));
}

} // namespace
