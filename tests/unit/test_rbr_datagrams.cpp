// Richard Burns Rally's NGP datagrams laid out at the game's own offsets (written out here), played
// as stages are driven: the length check, paused and restarted stages, and the units told apart
// from the speed against the car's velocity, through slides and whatever the car's path along the
// stage's line.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "telemetry/udp/udp_games.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

void put(Bytes& d, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        d.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// A stage as the game plays it, 50 datagrams a second of its own clock.
struct Stage {
    std::int32_t stage = 41, car = 3;
    bool mph = false;
    float pathPerProgress = 1.0f; // metres the car drives for each metre along the stage's line
    float slipDegrees = 0.0f;     // the velocity's angle to the car's axis, the speed shown along it
    std::uint32_t steps = 0;
    float raceTime = 0.0f, distance = 0.0f, speedKmh = 0.0f;
    MonotonicTime now = t0;

    Bytes datagram() const {
        Bytes d(664);
        put(d, 0, steps);
        put(d, 4, static_cast<std::uint32_t>(stage));
        put(d, 12, std::bit_cast<std::uint32_t>(raceTime));
        put(d, 16, std::bit_cast<std::uint32_t>(distance));
        put(d, 56, static_cast<std::uint32_t>(car));
        put(d, 60, std::bit_cast<std::uint32_t>(mph ? speedKmh / 1.609344f : speedKmh));
        // Surge, sway and heave velocities, m/s.
        const float surge = speedKmh / 3.6f, sway = surge * std::tan(slipDegrees * 3.14159265f / 180.0f);
        put(d, 88, std::bit_cast<std::uint32_t>(surge));
        put(d, 92, std::bit_cast<std::uint32_t>(sway));
        put(d, 96, std::bit_cast<std::uint32_t>(0.1f));
        return d;
    }
    // Driven for `seconds`: the physics steps, the clock and the distance move on.
    void drive(RbrState& state, float seconds) {
        for (int i = 0; i < static_cast<int>(seconds * 50); ++i) {
            steps += 8;
            raceTime += 0.02f;
            distance += speedKmh / 3.6f * 0.02f / pathPerProgress;
            now += std::chrono::milliseconds(20);
            ASSERT_TRUE(takeRbrDatagram(state, datagram(), now));
        }
    }
    // Paused: the same datagram again and again, as the game goes on sending.
    void pause(RbrState& state, float seconds) {
        for (int i = 0; i < static_cast<int>(seconds * 50); ++i) {
            now += std::chrono::milliseconds(20);
            ASSERT_TRUE(takeRbrDatagram(state, datagram(), now));
        }
    }
    void restart() { steps = 0, raceTime = 0.0f, distance = 0.0f; }
};

TelemetrySample overlay(const RbrState& state, MonotonicTime now) {
    UdpGameStates states;
    states.rbr = state;
    TelemetrySample sample;
    overlayUdpGames(states, now, sample);
    return sample;
}

TEST(RbrDatagrams, OnlyExactly664BytesAreTaken) {
    for (const std::size_t length : {0, 1, 663, 665, 1024}) {
        SCOPED_TRACE(length);
        RbrState state;
        EXPECT_FALSE(takeRbrDatagram(state, Bytes(length, 1), t0));
        EXPECT_FALSE(state.heard);
    }
    RbrState state;
    EXPECT_TRUE(takeRbrDatagram(state, Stage{}.datagram(), t0));
    EXPECT_TRUE(state.heard);
}

TEST(RbrDatagrams, DrivenWhileStepsAndRaceTimeMoveOnAndNotASecondAfter) {
    struct Case {
        const char* what;
        void (*play)(Stage&, RbrState&);
        bool driven;
    };
    const Case cases[] = {
        {"driving", [](Stage& s, RbrState& r) { s.drive(r, 2.0f); }, true},
        {"paused half a second", [](Stage& s, RbrState& r) { s.drive(r, 2.0f), s.pause(r, 0.5f); }, true},
        {"paused over a second", [](Stage& s, RbrState& r) { s.drive(r, 2.0f), s.pause(r, 1.5f); }, false},
        {"driving on after a pause",
         [](Stage& s, RbrState& r) { s.drive(r, 2), s.pause(r, 3), s.drive(r, 0.2f); }, true},
        {"the start line, clock not yet running", [](Stage& s, RbrState& r) { s.pause(r, 3.0f); }, false},
        {"a restarted stage, driven again",
         [](Stage& s, RbrState& r) { s.drive(r, 5.0f), s.restart(), s.drive(r, 0.5f); }, true},
        {"a restarted stage, waiting at the start",
         [](Stage& s, RbrState& r) { s.drive(r, 5.0f), s.restart(), s.pause(r, 2.0f); }, false},
        // The steps move on but the race time does not: the stage is over, the car rolls on.
        {"the finish passed",
         [](Stage& s, RbrState& r) {
             s.drive(r, 2.0f);
             for (int i = 0; i < 75; ++i) {
                 s.steps += 8;
                 s.now += std::chrono::milliseconds(20);
                 takeRbrDatagram(r, s.datagram(), s.now);
             }
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stage stage;
        stage.speedKmh = 90.0f;
        RbrState state;
        c.play(stage, state);
        const TelemetrySample sample = overlay(state, stage.now);
        EXPECT_EQ(sample.combo, c.driven ? "Car 3 @ Stage 41 @ Richard Burns Rally" : "");
    }
}

TEST(RbrDatagrams, TheUnitsAreToldFromTheSpeedAgainstTheVelocityAtOnce) {
    struct Case {
        const char* what;
        bool mph;
        float speedKmh, pathPerProgress, slipDegrees, seconds;
        float expectedKmh;
    };
    const Case cases[] = {
        {"km/h, straight", false, 120.0f, 1.0f, 0.0f, 5.0f, 120.0f},
        {"km/h, sliding", false, 80.0f, 1.25f, 30.0f, 5.0f, 80.0f},
        {"km/h, a hairpin on the inside line", false, 60.0f, 0.6f, 10.0f, 3.0f, 60.0f},
        {"mph, straight", true, 120.0f, 1.0f, 0.0f, 5.0f, 120.0f},
        {"mph, sliding", true, 80.0f, 1.2f, 30.0f, 5.0f, 80.0f},
        {"mph, a hairpin on the outside line", true, 60.0f, 1.6f, 10.0f, 3.0f, 60.0f},
        {"mph, at once: the first two datagrams", true, 120.0f, 1.0f, 0.0f, 0.04f, 120.0f},
        // Crawling, the velocity is too small to tell: mph is taken for km/h.
        {"mph, crawling", true, 15.0f, 1.0f, 0.0f, 10.0f, 15.0f / 1.609344f},
        // 1e6 m/s in km/h, or about 9.4e37 m/s, which overflows once in km/h and again in mph.
        {"km/h, a speed beyond reason", false, 3.6e6f, 1.0f, 0.0f, 0.1f, 0.0f},
        {"mph, a speed that overflows", true, 1.5e38f, 1.0f, 0.0f, 0.1f, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stage stage;
        stage.mph = c.mph;
        stage.speedKmh = c.speedKmh;
        stage.pathPerProgress = c.pathPerProgress;
        stage.slipDegrees = c.slipDegrees;
        RbrState state;
        stage.drive(state, c.seconds);
        EXPECT_NEAR(overlay(state, stage.now).speedKmh, c.expectedKmh, 0.01f);
    }
}

TEST(RbrDatagrams, UnitsOnceKnownOutlastASpinAndARestart) {
    Stage stage;
    stage.mph = true;
    stage.speedKmh = 100.0f;
    RbrState state;
    stage.drive(state, 1.0f);
    ASSERT_TRUE(state.mph);
    // Restarted, standing at the start: too slow to tell.
    stage.restart();
    stage.speedKmh = 0.0f;
    stage.drive(state, 0.5f);
    // Spinning, the velocity points nearly across the car: it says nothing of the units.
    stage.speedKmh = 100.0f;
    stage.slipDegrees = 80.0f;
    stage.drive(state, 1.0f);
    EXPECT_TRUE(state.mph);
    EXPECT_NEAR(overlay(state, stage.now).speedKmh, 100.0f, 0.01f);
}

} // namespace
