// Project Motor Racing's packets: the constructed examples of its published layout, byte for byte,
// then cut and changed ones; the player's car, the session's state and a frozen stream.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "telemetry/udp/pmr_datagrams.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

Bytes fromHex(std::string hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A: RaceInfo v1, Monza GP, State 1 (Active) at byte 63.
const Bytes raceInfoExample = fromHex("000100054d6f6e7a610247500005436c6561720850726163746963650d53696e"
                                      "676c6520506c617965720008b5450000e144000000000000b0410000f0410001"
                                      "02");

// B: ParticipantRaceState v1, VehicleId 5, IsPlayer 1, "Ginetta G55 GT4".
const Bytes participantExample = fromHex("01010005000000010f47696e6574746120473535204754340644726976657200"
                                         "03475434010000000200000000004841000000000000803e0000000003000000"
                                         "0000000000000000000000000000000000");

// C: ParticipantVehicleTelemetry v2, 964 bytes, VehicleId 5, OverallSpeed 50 m/s at 604.
Bytes telemetryExample() {
    const std::pair<std::size_t, const char*> runs[] = {
        {0, "0202000500000004"},
        {506, "c84200000040000096c3"},
        {530, "803f"},
        {536, "cdcccc3d"},
        {548, "cdcc4c3e"},
        {558, "803f"},
        {567, "4000004040000080400000a0400000c0400000e0400000004100001041000020410000304100004842000046420ad7"
              "233c"},
        {729, "01"},
        {735, "06"},
        {784, "03"},
        {800, "3f"},
        {807, "803f"},
        {821, "03000000295c0f3f"},
        {851, "9a99993e"},
        {864, "808944"},
        {960, "040601"}};
    Bytes d(964);
    for (const auto& [offset, hex] : runs) {
        const Bytes run = fromHex(hex);
        std::copy(run.begin(), run.end(), d.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    return d;
}

void putU32(Bytes& d, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        d.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}
void putFloat(Bytes& d, std::size_t offset, float value) {
    putU32(d, offset, std::bit_cast<std::uint32_t>(value));
}

// The example's telemetry with its position moved along by `x` metres and another overall speed.
Bytes telemetryAt(float x, float metresPerSecond = 50.0f) {
    Bytes d = telemetryExample();
    putFloat(d, 504, 100.0f + x);
    putFloat(d, 604, metresPerSecond);
    return d;
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

Bytes withVersion(Bytes d, std::uint16_t version) {
    d[1] = static_cast<std::uint8_t>(version), d[2] = static_cast<std::uint8_t>(version >> 8);
    return d;
}

Bytes cut(Bytes d, std::size_t size) {
    d.resize(size);
    return d;
}

// The example race info with its state byte changed.
Bytes raceInfoInState(std::uint8_t state) {
    Bytes d = raceInfoExample;
    d[63] = state;
    return d;
}

// Race info and the player's participant taken, then the player's telemetry twice, moving.
PmrState drivenState() {
    PmrState state;
    takePmrDatagram(state, raceInfoExample, t0);
    takePmrDatagram(state, participantExample, t0);
    takePmrDatagram(state, telemetryAt(0.0f), t0);
    takePmrDatagram(state, telemetryAt(1.0f), t0 + milliseconds(50));
    return state;
}

TelemetrySample overlay(const PmrState& state, MonotonicTime now) {
    TelemetrySample sample{"shared @ memory game", 5.0f};
    overlayPmr(state, now, sample);
    return sample;
}

TEST(PmrDatagrams, TheExamplesGiveThePlayersCarOnTheTrackAtItsSpeed) {
    const PmrState state = drivenState();
    EXPECT_EQ(state.track, "Monza");
    EXPECT_EQ(state.layout, "GP");
    EXPECT_TRUE(state.raceActive);
    EXPECT_EQ(state.playerId, 5);
    const TelemetrySample sample = overlay(state, t0 + milliseconds(100));
    EXPECT_EQ(sample.combo, "Ginetta G55 GT4 @ Monza GP");
    EXPECT_EQ(sample.speedKmh, 180.0f);
}

// Each datagram, taken after the race info, the player's participant and one telemetry packet at
// 50 m/s: whether it is the game's, the speed the state then holds, and whether a line was logged.
TEST(PmrDatagrams, CutAndChangedPacketsLeaveThePlayersTelemetryAsItWas) {
    Bytes longName = participantExample;
    longName[8] = 0x50; // the vehicle's name would run past the end
    Bytes raceInfoPastEnd = raceInfoExample;
    raceInfoPastEnd[3] = 0x40;
    Bytes otherCar = telemetryAt(3.0f, 10.0f);
    otherCar[3] = 6;
    Bytes notANumber = telemetryAt(3.0f);
    putU32(notANumber, 580, 0x7FC00000);
    struct Case {
        const char* name;
        Bytes datagram;
        bool gameSendsIt;
        float speedKmh;
        bool logged;
    };
    const Case cases[] = {
        {"fewer than 616 bytes", cut(telemetryAt(3.0f, 10.0f), 615), false, 180.0f, false},
        {"one byte short", cut(telemetryAt(3.0f, 10.0f), 963), false, 180.0f, false},
        {"one byte over", cut(telemetryAt(3.0f, 10.0f), 965), false, 180.0f, false},
        {"two wheels said, four sent",
         [] {
             Bytes d = telemetryAt(3.0f, 10.0f);
             d[7] = 2;
             return d;
         }(),
         false, 180.0f, false},
        {"no wheels",
         [] {
             Bytes d = telemetryAt(3.0f, 10.0f);
             d[7] = 0;
             return d;
         }(),
         false, 180.0f, false},
        {"nine wheels", withWheels(telemetryAt(3.0f, 10.0f), 9), false, 180.0f, false},
        {"a float that is no number", notANumber, false, 180.0f, false},
        {"another car's telemetry", otherCar, true, 180.0f, false},
        {"version 3", withVersion(telemetryAt(3.0f, 10.0f), 3), true, 180.0f, true},
        {"a name running past the end", longName, false, 180.0f, false},
        {"a track name running past the end", raceInfoPastEnd, false, 180.0f, false},
        {"three bytes of header only", cut(participantExample, 2), false, 180.0f, false},
        {"an unknown type", Bytes{9, 1, 0, 1, 2, 3}, true, 180.0f, false},
        {"two wheels, laid out for two", withWheels(telemetryAt(3.0f, 10.0f), 2), true, 36.0f, false},
        {"eight wheels, laid out for eight", withWheels(telemetryAt(3.0f, 10.0f), 8), true, 36.0f, false},
        {"version 1, its first 616 bytes", withVersion(cut(telemetryAt(3.0f, 10.0f), 616), 1), true, 36.0f,
         false},
        {"the example again, at 10 m/s", telemetryAt(3.0f, 10.0f), true, 36.0f, false},
    };
    for (const Case& c : cases) {
        PmrState state;
        takePmrDatagram(state, raceInfoExample, t0);
        takePmrDatagram(state, participantExample, t0);
        ASSERT_TRUE(takePmrDatagram(state, telemetryExample(), t0));
        EXPECT_EQ(takePmrDatagram(state, c.datagram, t0 + milliseconds(50)), c.gameSendsIt) << c.name;
        EXPECT_EQ(state.speedKmh, c.speedKmh) << c.name;
        EXPECT_EQ(state.track, "Monza") << c.name;
        EXPECT_EQ(state.vehicleName, "Ginetta G55 GT4") << c.name;
        EXPECT_EQ(!state.logLine.empty(), c.logged) << c.name << ": " << state.logLine;
    }
}

TEST(PmrDatagrams, AnUnknownVersionIsLoggedOncePerTypeAndVersion) {
    PmrState state;
    takePmrDatagram(state, withVersion(telemetryExample(), 3), t0);
    EXPECT_EQ(state.logLine,
              "Project Motor Racing: telemetry packets of version 3 are not known and are ignored");
    state.logLine.clear();
    takePmrDatagram(state, withVersion(telemetryExample(), 3), t0);
    EXPECT_EQ(state.logLine, "");
    takePmrDatagram(state, withVersion(raceInfoExample, 3), t0);
    EXPECT_EQ(state.logLine,
              "Project Motor Racing: race info packets of version 3 are not known and are ignored");
}

// What follows a driven moment, and whether the car is then still driven.
TEST(PmrDatagrams, DrivenOnlyWhileActiveAndThePlayersTelemetryFreshAndMoving) {
    const MonotonicTime later = t0 + milliseconds(100);
    struct Case {
        const char* name;
        std::vector<Bytes> datagrams; // taken at `later`, one after another
        milliseconds lookAfter;       // from `later`
        bool driven;
    };
    const Case cases[] = {
        {"moving on", {telemetryAt(2.0f)}, milliseconds(0), true},
        {"moving, 0.4 s later", {telemetryAt(2.0f)}, milliseconds(400), true},
        {"silent for half a second", {}, milliseconds(500), false},
        {"the same telemetry again: paused",
         {telemetryAt(1.0f), telemetryAt(1.0f)},
         milliseconds(450),
         false},
        {"only other cars moving",
         {[] {
             Bytes d = telemetryAt(5.0f);
             d[3] = 7;
             return d;
         }()},
         milliseconds(450),
         false},
        {"State Inactive", {raceInfoInState(0)}, milliseconds(0), false},
        {"State Complete", {raceInfoInState(2)}, milliseconds(0), false},
        {"Active again", {raceInfoInState(2), raceInfoInState(1), telemetryAt(2.0f)}, milliseconds(0), true},
        {"SessionStopped", {Bytes{3, 1, 0}}, milliseconds(0), false},
        {"SessionStopped, then telemetry",
         {Bytes{3, 1, 0}, telemetryAt(2.0f), telemetryAt(3.0f)},
         milliseconds(0),
         false},
        {"another player",
         {[] {
              Bytes d = participantExample;
              d[3] = 6;
              return d;
          }(),
          telemetryAt(2.0f)},
         milliseconds(0),
         false},
    };
    for (const Case& c : cases) {
        PmrState state = drivenState();
        ASSERT_TRUE(pmrDriven(state, later)) << c.name;
        for (const Bytes& d : c.datagrams)
            takePmrDatagram(state, d, later);
        EXPECT_EQ(pmrDriven(state, later + c.lookAfter), c.driven) << c.name;
        EXPECT_EQ(overlay(state, later + c.lookAfter).combo,
                  c.driven ? "Ginetta G55 GT4 @ Monza GP" : "shared @ memory game")
            << c.name;
    }
}

TEST(PmrDatagrams, TelemetryBeforeThePlayerIsKnownIsNotTheFans) {
    PmrState state;
    takePmrDatagram(state, raceInfoExample, t0);
    takePmrDatagram(state, telemetryAt(0.0f), t0);
    takePmrDatagram(state, telemetryAt(1.0f), t0);
    EXPECT_FALSE(pmrDriven(state, t0));
    takePmrDatagram(state, participantExample, t0);
    takePmrDatagram(state, telemetryAt(2.0f), t0);
    EXPECT_FALSE(pmrDriven(state, t0)) << "the first of the player's packets has nothing to differ from";
    takePmrDatagram(state, telemetryAt(3.0f), t0);
    EXPECT_TRUE(pmrDriven(state, t0));
}

// The race info in version 2 has two floats and a bool more; its state is found behind them.
TEST(PmrDatagrams, RaceInfoVersionTwoIsReadByItsOwnLayout) {
    Bytes v2 = withVersion(raceInfoExample, 2);
    v2.insert(v2.begin() + 62, 8, 0); // SessionTimeElapsed, TrackGrip after TrackTemperature
    v2.insert(v2.begin() + 71, 1, 0); // SessionIsLaps after IsLaps
    PmrState state;
    ASSERT_TRUE(takePmrDatagram(state, v2, t0));
    EXPECT_TRUE(state.raceActive);
    EXPECT_FALSE(takePmrDatagram(state, withVersion(raceInfoExample, 2), t0)) << "a v1 body said to be v2";
}

TEST(PmrDatagrams, ASpeedNoCarHasCountsAsStandingStill) {
    for (float metresPerSecond : {300.0f, -5.0f}) {
        PmrState state = drivenState();
        takePmrDatagram(state, telemetryAt(2.0f, metresPerSecond), t0 + milliseconds(60));
        EXPECT_EQ(state.speedKmh, 0.0f) << metresPerSecond;
    }
}

} // namespace
