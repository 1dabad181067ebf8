// The PiBoSo plugin's calls, driven natively through the stand-in game, with the record read back
// by Ventora's own reader: the blocks the game may hand it at their edges (null, empty, cut short,
// names without their NUL, NaN) and a game frozen mid-run.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "piboso_plugin/piboso_plugin.h"
#include "plugin_record/plugin_record.h"
#include "telemetry/opened/plugin_readers.h"
#include "tools/piboso_game_host.h"

namespace {

alignas(4096) std::uint8_t sectionBytes[4096];
int sectionsOpen = 0;

OpenedSection openTestSection() {
    ++sectionsOpen;
    return {sectionBytes};
}
void closeTestSection() {
    --sectionsOpen;
}

// The plugin's calls as a DLL would export them, for the host.
PiBoSoPluginCalls pluginCalls() {
    PiBoSoPluginCalls calls;
    static char modId[] = "krp";
    calls.getModId = [] { return modId; };
    calls.getModDataVersion = [] { return 6; };
    calls.getInterfaceVersion = [] { return 9; };
    calls.startup = [](char*) {
        return startPiBoSoPlugin(piboso::kartRacingPro, {openTestSection, closeTestSection});
    };
    calls.shutdown = shutdownPiBoSoPlugin;
    calls.eventInit = [](void* data, int size) { takeEventInit(data, size); };
    calls.eventDeinit = takeEventDeinit;
    calls.runInit = [](void*, int) { takeRunInit(); };
    calls.runDeinit = takeRunDeinit;
    calls.runStart = takeRunStart;
    calls.runStop = takeRunStop;
    calls.runTelemetry = [](void* data, int size, float, float) { takeRunTelemetry(data, size); };
    calls.raceEvent = [](void* data, int size) { takeRaceEvent(data, size); };
    return calls;
}

PluginRecord record() {
    PluginRecord copy;
    std::uint32_t sequence = 0;
    EXPECT_TRUE(copyPluginRecord(sectionBytes, copy, sequence));
    return copy;
}

class PiBoSoPlugin : public testing::Test {
  protected:
    void SetUp() override {
        std::memset(sectionBytes, 0, sizeof sectionBytes);
        sectionsOpen = 0;
        host.plugin = pluginCalls();
    }
    void TearDown() override {
        host.shutdown();
        EXPECT_EQ(sectionsOpen, 0);
    }
    void onTrackRunning() {
        host.runInit();
        host.runStart();
    }
    PiBoSoGameHost host;
};

TEST_F(PiBoSoPlugin, EventInitBlocksAtTheirEdgesGiveBoundedNames) {
    const std::string longName(150, 'N'); // no NUL within the game's 100 bytes
    struct Case {
        const char* what;
        const void* data;
        int size;
        std::string vehicle, track;
    };
    std::uint8_t block[748] = {};
    std::memcpy(block + 200, "KZ2", 4);
    std::memcpy(block + 640, "Genk", 5);
    std::uint8_t unterminated[748];
    std::memset(unterminated, 'N', sizeof unterminated);
    const Case cases[] = {
        {"no block", nullptr, 748, "", ""},
        {"an empty block", block, 0, "", ""},
        {"a negative size", block, -748, "", ""},
        {"cut before the vehicle's name", block, 200, "", ""},
        {"cut two bytes into the vehicle's name", block, 202, "KZ", ""},
        {"cut before the track's name", block, 640, "KZ2", ""},
        {"whole", block, 748, "KZ2", "Genk"},
        // A hundred bytes without a NUL: taken as far as the record's room holds.
        {"names without their NUL", unterminated, 748, std::string(63, 'N'), std::string(63, 'N')},
    };
    ASSERT_TRUE(host.load());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        takeEventInit(c.data, c.size);
        const PluginRecord copy = record();
        EXPECT_EQ(copy.firstName, c.vehicle);
        EXPECT_EQ(copy.secondName, c.track);
        EXPECT_FALSE(copy.live);
    }
}

TEST_F(PiBoSoPlugin, TelemetryBlocksWithoutAWholeFiniteSpeedDoNotMakeItDriven) {
    struct Case {
        const char* what;
        int size;
        float speed;
        bool live;
        float recorded;
    };
    const Case cases[] = {
        {"three bytes short of the speed's end", 21, 20.0f, false, 0.0f},
        {"one byte short", 23, 20.0f, false, 0.0f},
        {"ending with the speed", 24, 20.0f, true, 20.0f},
        {"not a number", 196, std::numeric_limits<float>::quiet_NaN(), true, 0.0f},
        {"infinite", 196, std::numeric_limits<float>::infinity(), true, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(host.load());
        host.eventInit("kart", "track");
        onTrackRunning();
        std::uint8_t block[196] = {};
        std::memcpy(block + 20, &c.speed, sizeof c.speed);
        takeRunTelemetry(block, c.size);
        const PluginRecord copy = record();
        EXPECT_EQ(copy.live, c.live);
        EXPECT_EQ(copy.metresPerSecond, c.recorded);
        host.shutdown();
    }
}

TEST_F(PiBoSoPlugin, VentoraSeesTheComboWhileTelemetryComesAndNotASecondAfterTheGameFreezes) {
    ASSERT_TRUE(host.load());
    host.eventInit("Honda RC213V", "Mugello Circuit");
    onTrackRunning();
    PluginWatch watch;
    auto read = [&](std::uint64_t nowMs) {
        TelemetrySample sample;
        readKartsAndBikes({sectionBytes, &watch, nowMs}, sample);
        return sample;
    };
    host.telemetry(50.0f);
    EXPECT_EQ(read(0).combo, ""); // the first sight only marks where the record stood
    host.telemetry(50.0f);
    const TelemetrySample driven = read(100);
    EXPECT_EQ(driven.combo, "Honda RC213V @ Mugello Circuit");
    EXPECT_EQ(driven.speedKmh, 180.0f);
    // No call from the game since: still driven within the second, not after it.
    EXPECT_EQ(read(1100).combo, "Honda RC213V @ Mugello Circuit");
    EXPECT_EQ(read(1101).combo, "");
}

// The games may announce a replay before or after its EventInit, and a host may start the next
// event without ending the one before.
TEST_F(PiBoSoPlugin, AReplayIsNotDrivenWhicheverSideOfItsEventItIsAnnounced) {
    struct Case {
        const char* what;
        void (*play)(PiBoSoGameHost&);
        bool driven;
    };
    const Case cases[] = {
        {"announced before its event", [](PiBoSoGameHost& h) { h.raceEvent(-1), h.eventInit("k", "t"); },
         false},
        {"announced after its event", [](PiBoSoGameHost& h) { h.eventInit("k", "t"), h.raceEvent(-1); },
         false},
        {"a race, announced after its event",
         [](PiBoSoGameHost& h) { h.eventInit("k", "t"), h.raceEvent(2); }, true},
        {"the next event, after a replay's runs and no EventDeinit",
         [](PiBoSoGameHost& h) {
             h.eventInit("k", "t"), h.raceEvent(-1), h.runInit(), h.runDeinit();
             h.eventInit("k", "t");
         },
         true},
        {"the next replay, announced before its event and no EventDeinit",
         [](PiBoSoGameHost& h) {
             h.raceEvent(-1), h.eventInit("k", "t"), h.runInit(), h.runDeinit();
             h.raceEvent(-1), h.eventInit("k", "t");
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(host.load());
        c.play(host);
        onTrackRunning();
        host.telemetry(10.0f);
        EXPECT_EQ(record().live, c.driven);
        host.shutdown();
    }
}

} // namespace
