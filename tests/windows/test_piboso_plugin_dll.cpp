// ventora-krp.dlo, ventora-mxbikes.dlo and ventora-gpbikes.dlo loaded as their games load them,
// under Wine: each export found by its undecorated name, the identity each game checks, the rate,
// the record in the named section through a whole event, a replay, an EventInit longer than
// today's, a second game that finds the section taken, and no section left after Shutdown.
#include <gtest/gtest.h>

#include <string>

#include "win32.h"
#include "plugin_record/plugin_record.h"
#include "tests/windows/plugin_section_reading.h"
#include "tools/piboso_game_host.h"

namespace {

using Reading = SectionReading;

Reading readSection() {
    return readPluginSection(pluginRecord::kartsAndBikesSectionName);
}

template <typename Function> Function exported(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

PiBoSoPluginCalls callsOf(HMODULE module) {
    PiBoSoPluginCalls calls;
    calls.getModId = exported<piboso::GetModId>(module, "GetModID");
    calls.getModDataVersion = exported<piboso::GetModDataVersion>(module, "GetModDataVersion");
    calls.getInterfaceVersion = exported<piboso::GetInterfaceVersion>(module, "GetInterfaceVersion");
    calls.startup = exported<piboso::Startup>(module, "Startup");
    calls.shutdown = exported<piboso::Shutdown>(module, "Shutdown");
    calls.eventInit = exported<piboso::EventInit>(module, "EventInit");
    calls.eventDeinit = exported<piboso::EventDeinit>(module, "EventDeinit");
    calls.runInit = exported<piboso::RunInit>(module, "RunInit");
    calls.runDeinit = exported<piboso::RunDeinit>(module, "RunDeinit");
    calls.runStart = exported<piboso::RunStart>(module, "RunStart");
    calls.runStop = exported<piboso::RunStop>(module, "RunStop");
    calls.runTelemetry = exported<piboso::RunTelemetry>(module, "RunTelemetry");
    calls.raceEvent = exported<piboso::RaceEvent>(module, "RaceEvent");
    return calls;
}

struct Game {
    const char* file;
    piboso::GameIdentity identity;
    // What the game itself asks for, written out rather than taken from the header the plugin is
    // built from, where a typo would pass the stand-in game's check as well.
    const char* modId;
    int dataVersion;
    int interfaceVersion;
    const char* vehicle;
    const char* track;
};

const Game games[] = {
    {"ventora-krp.dlo", piboso::kartRacingPro, "krp", 6, 9, "KZ2 Tony Kart", "South Garda Karting"},
    {"ventora-mxbikes.dlo", piboso::mxBikes, "mxbikes", 8, 9, "2024 Kawasaki KX450", "Club MX"},
    {"ventora-gpbikes.dlo", piboso::gpBikes, "gpbikes", 12, 9, "Honda RC213V", "Mugello Circuit"},
};

// One game's plugin, loaded from beside this exe as the game loads it from its plugins folder.
struct LoadedGame {
    HMODULE module;
    PiBoSoGameHost host;
    explicit LoadedGame(const Game& game) : module(LoadLibraryA(game.file)) {
        host.game = game.identity;
        if (module) host.plugin = callsOf(module);
    }
    ~LoadedGame() {
        host.shutdown();
        if (module) FreeLibrary(module);
    }
};

struct Expected {
    bool live;
    float speed;
};

void expectRecord(const Game& game, Expected expected) {
    const Reading reading = readSection();
    ASSERT_TRUE(reading.found);
    EXPECT_EQ(reading.record.live, expected.live);
    EXPECT_EQ(reading.record.metresPerSecond, expected.speed);
    EXPECT_STREQ(reading.record.gameId, game.identity.modId);
    EXPECT_STREQ(reading.record.firstName, game.vehicle);
    EXPECT_STREQ(reading.record.secondName, game.track);
}

TEST(PiBoSoPluginDll, EachPluginHasItsGamesIdentityAndAsksForTwentyCallsASecond) {
    for (const Game& game : games) {
        SCOPED_TRACE(game.file);
        LoadedGame loaded(game);
        ASSERT_NE(loaded.module, nullptr) << GetLastError();
        const PiBoSoPluginCalls& calls = loaded.host.plugin;
        for (const void* call :
             {(const void*)calls.eventInit, (const void*)calls.eventDeinit, (const void*)calls.runInit,
              (const void*)calls.runDeinit, (const void*)calls.runStart, (const void*)calls.runStop,
              (const void*)calls.runTelemetry, (const void*)calls.raceEvent})
            EXPECT_NE(call, nullptr);
        ASSERT_TRUE(calls.getModId && calls.getModDataVersion && calls.getInterfaceVersion);
        EXPECT_STREQ(calls.getModId(), game.modId);
        EXPECT_EQ(calls.getModDataVersion(), game.dataVersion);
        EXPECT_EQ(calls.getInterfaceVersion(), game.interfaceVersion);
        EXPECT_TRUE(loaded.host.identityMatches());
        // Another game's identity is not this plugin's.
        loaded.host.game = &game == &games[0] ? piboso::mxBikes : piboso::kartRacingPro;
        EXPECT_FALSE(loaded.host.identityMatches());
        loaded.host.game = game.identity;
        ASSERT_TRUE(loaded.host.load());
        EXPECT_EQ(loaded.host.telemetryPerSecond(), 20);
        const Reading reading = readSection();
        ASSERT_TRUE(reading.found);
        EXPECT_FALSE(reading.record.live);
        EXPECT_STREQ(reading.record.gameId, game.identity.modId);
        loaded.host.shutdown();
        EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, pluginRecord::kartsAndBikesSectionName), nullptr);
    }
}

TEST(PiBoSoPluginDll, AWholeEventIsDrivenOnlyOnTrackRunningAndWithTelemetry) {
    struct Step {
        const char* what;
        void (*act)(PiBoSoGameHost&, const Game&);
        Expected expected;
    };
    const Step steps[] = {
        {"the event, in the pits' menu",
         [](PiBoSoGameHost& h, const Game& g) { h.eventInit(g.vehicle, g.track); },
         {false, 0.0f}},
        {"on track, not yet running", [](PiBoSoGameHost& h, const Game&) { h.runInit(); }, {false, 0.0f}},
        {"running, no telemetry yet", [](PiBoSoGameHost& h, const Game&) { h.runStart(); }, {false, 0.0f}},
        {"telemetry", [](PiBoSoGameHost& h, const Game&) { h.telemetry(21.5f); }, {true, 21.5f}},
        {"faster", [](PiBoSoGameHost& h, const Game&) { h.telemetry(30.25f); }, {true, 30.25f}},
        {"paused", [](PiBoSoGameHost& h, const Game&) { h.runStop(); }, {false, 0.0f}},
        {"running again",
         [](PiBoSoGameHost& h, const Game&) { h.runStart(), h.telemetry(12.0f); },
         {true, 12.0f}},
        {"back to the pits",
         [](PiBoSoGameHost& h, const Game&) { h.runStop(), h.runDeinit(); },
         {false, 0.0f}},
        {"the event over", [](PiBoSoGameHost& h, const Game&) { h.eventDeinit(); }, {false, 0.0f}},
    };
    for (const Game& game : games) {
        SCOPED_TRACE(game.file);
        LoadedGame loaded(game);
        ASSERT_TRUE(loaded.host.load());
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            step.act(loaded.host, game);
            expectRecord(game, step.expected);
        }
        loaded.host.shutdown();
        EXPECT_FALSE(readSection().found);
    }
}

TEST(PiBoSoPluginDll, AReplayIsNotDrivenAndTheNextEventIs) {
    for (const Game& game : games) {
        SCOPED_TRACE(game.file);
        LoadedGame loaded(game);
        ASSERT_TRUE(loaded.host.load());
        PiBoSoGameHost& host = loaded.host;
        host.raceEvent(piboso::replayRaceEvent);
        host.eventInit(game.vehicle, game.track);
        host.runInit();
        host.runStart();
        host.telemetry(25.0f);
        expectRecord(game, {false, 0.0f});
        host.runStop();
        host.runDeinit();
        host.eventDeinit();
        host.eventInit(game.vehicle, game.track);
        host.runInit();
        host.runStart();
        host.telemetry(25.0f);
        expectRecord(game, {true, 25.0f});
    }
}

TEST(PiBoSoPluginDll, AnEventInitLongerOrShorterThanTodaysTakesOnlyWhatLiesInsideBoth) {
    struct Case {
        const char* what;
        std::ptrdiff_t sizeBeyondToday;
        bool trackWhole;
    };
    const Case cases[] = {
        {"a newer build's longer block", 400, true},
        {"today's block", 0, true},
        // Cut 1 byte into the track's name (MX Bikes' server name lies past it, so cut there).
        {"a block that ends inside the track's name", -1, false},
    };
    for (const Game& game : games) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(game.file) + ", " + c.what);
            LoadedGame loaded(game);
            ASSERT_TRUE(loaded.host.load());
            const std::size_t size =
                c.trackWhole ? game.identity.eventInitSize + c.sizeBeyondToday : game.identity.trackName + 1;
            loaded.host.eventInit(game.vehicle, game.track, size);
            const Reading reading = readSection();
            ASSERT_TRUE(reading.found);
            EXPECT_STREQ(reading.record.firstName, game.vehicle);
            EXPECT_STREQ(reading.record.secondName,
                         c.trackWhole ? game.track : std::string(1, game.track[0]).c_str());
        }
    }
}

TEST(PiBoSoPluginDll, ASecondGameIsUnloadedAndLeavesTheFirstGamesRecordAlone) {
    LoadedGame kart(games[0]);
    ASSERT_TRUE(kart.host.load());
    kart.host.eventInit(games[0].vehicle, games[0].track);
    kart.host.runInit();
    kart.host.runStart();
    kart.host.telemetry(18.0f);
    {
        LoadedGame bike(games[1]);
        ASSERT_NE(bike.module, nullptr);
        EXPECT_FALSE(bike.host.load());
        EXPECT_EQ(bike.host.rate, piboso::unloadPlugin);
    }
    kart.host.telemetry(19.0f);
    expectRecord(games[0], {true, 19.0f});
    kart.host.shutdown();
    EXPECT_FALSE(readSection().found);
}

} // namespace
