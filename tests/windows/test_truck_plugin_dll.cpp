// ventora-trucks.dll loaded as the games load it, under Wine: its two exports found by their
// undecorated names, the versions it takes, the record in its named section after each step of a
// drive, a registration the game refuses, a second game that finds the section taken, and no section
// left once the game shuts it down.
#include <gtest/gtest.h>

#include <string>

#include "win32.h"
#include "tools/truck_game_host.h"
#include "plugin_record/plugin_record.h"
#include "tests/windows/plugin_section_reading.h"

namespace {

using Reading = SectionReading;

Reading readSection() {
    return readPluginSection(pluginRecord::truckSectionName);
}

class TruckPluginDll : public testing::Test {
  protected:
    void SetUp() override {
        // Beside this exe, as in the build and the release.
        plugin = LoadLibraryA("ventora-trucks.dll");
        ASSERT_NE(plugin, nullptr) << GetLastError();
        init = reinterpret_cast<game::Init>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "scs_telemetry_init")));
        shutdown = reinterpret_cast<game::Shutdown>(
            reinterpret_cast<void*>(GetProcAddress(plugin, "scs_telemetry_shutdown")));
        ASSERT_TRUE(init && shutdown);
    }
    void TearDown() override {
        host.shutdown();
        FreeLibrary(plugin);
    }

    HMODULE plugin = nullptr;
    game::Init init = nullptr;
    game::Shutdown shutdown = nullptr;
    TruckGameHost host;
};

TEST_F(TruckPluginDll, TakesApiOneOneAndOneZeroAndTurnsAnUnknownVersionDown) {
    struct Case {
        std::uint32_t version;
        game::Result result;
    };
    for (const Case c : {Case{game::api101, game::ok}, Case{game::api100, game::ok}, Case{0x00020000, -1}}) {
        SCOPED_TRACE(c.version);
        EXPECT_EQ(host.init(init, shutdown, c.version), c.result);
        EXPECT_EQ(host.registrations(), c.result == game::ok ? 7u : 0u);
        EXPECT_EQ(readSection().found, c.result == game::ok);
        if (c.result == game::ok) {
            ASSERT_FALSE(host.log.empty());
            EXPECT_EQ(host.log[0].second, "Ventora telemetry plugin " VENTORA_VERSION " ready");
        }
        host.shutdown();
        host.log.clear();
    }
}

TEST_F(TruckPluginDll, PublishesTheDriveAndLeavesNoSectionAfterShutdown) {
    host.gameId = "ats";
    ASSERT_EQ(host.initNewestFirst(init, shutdown), game::ok);
    struct Step {
        const char* what;
        void (*act)(TruckGameHost&);
        float speed;
        bool live;
        float expectedSpeed;
    };
    const Step steps[] = {
        {"configured, paused", [](TruckGameHost& h) { h.configure("Peterbilt", "579"); }, 5.0f, false, 0.0f},
        {"started", [](TruckGameHost& h) { h.start(); }, 22.0f, true, 22.0f},
        {"driving on", [](TruckGameHost&) {}, 24.5f, true, 24.5f},
        {"paused", [](TruckGameHost& h) { h.pause(); }, 30.0f, false, 24.5f},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(host);
        host.frame(step.speed);
        const Reading reading = readSection();
        ASSERT_TRUE(reading.found);
        EXPECT_EQ(reading.record.live, step.live);
        EXPECT_EQ(reading.record.metresPerSecond, step.expectedSpeed);
        EXPECT_STREQ(reading.record.gameId, "ats");
        EXPECT_STREQ(reading.record.firstName, "Peterbilt");
        EXPECT_STREQ(reading.record.secondName, "579");
    }
    host.shutdown();
    EXPECT_EQ(host.registrations(), 0u);
    EXPECT_FALSE(readSection().found);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, pluginRecord::truckSectionName), nullptr);
}

TEST_F(TruckPluginDll, ARefusedRegistrationWarnsAndTheRestWorks) {
    host.refusedEvents = {game::pausedEvent};
    ASSERT_EQ(host.initNewestFirst(init, shutdown), game::ok);
    ASSERT_EQ(host.log.size(), 2u);
    EXPECT_EQ(host.log[0].first, game::logWarning);
    EXPECT_NE(host.log[0].second.find("paused"), std::string::npos) << host.log[0].second;
    host.configure("Mercedes-Benz", "Actros");
    host.start();
    host.frame(15.0f);
    const Reading reading = readSection();
    ASSERT_TRUE(reading.found);
    EXPECT_TRUE(reading.record.live);
    EXPECT_EQ(reading.record.metresPerSecond, 15.0f);
    EXPECT_STREQ(reading.record.firstName, "Mercedes-Benz");
}

TEST_F(TruckPluginDll, ASecondGameWarnsAndLeavesTheFirstGamesRecordAlone) {
    ASSERT_EQ(host.initNewestFirst(init, shutdown), game::ok);
    host.configure("Scania", "R 730");
    host.start();
    host.frame(20.0f);

    // The other game's own copy of the plugin: a module of its own, as in another process.
    char folder[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, folder), 0u);
    const std::string copy = std::string(folder) + "ventora-trucks-other-game.dll";
    char original[MAX_PATH];
    ASSERT_NE(GetModuleFileNameA(plugin, original, MAX_PATH), 0u);
    ASSERT_TRUE(CopyFileA(original, copy.c_str(), FALSE)) << GetLastError();
    HMODULE other = LoadLibraryA(copy.c_str());
    ASSERT_NE(other, nullptr) << GetLastError();
    ASSERT_NE(other, plugin);
    const auto otherInit =
        reinterpret_cast<game::Init>(reinterpret_cast<void*>(GetProcAddress(other, "scs_telemetry_init")));
    const auto otherShutdown = reinterpret_cast<game::Shutdown>(
        reinterpret_cast<void*>(GetProcAddress(other, "scs_telemetry_shutdown")));
    ASSERT_TRUE(otherInit && otherShutdown);
    {
        TruckGameHost otherGame;
        otherGame.gameId = "ats";
        EXPECT_EQ(otherGame.initNewestFirst(otherInit, otherShutdown), game::ok);
        ASSERT_EQ(otherGame.log.size(), 1u);
        EXPECT_EQ(otherGame.log[0].first, game::logWarning);
        EXPECT_NE(otherGame.log[0].second.find("another truck game"), std::string::npos)
            << otherGame.log[0].second;
        EXPECT_EQ(otherGame.registrations(), 0u);
        otherGame.configure("Peterbilt", "579");
        otherGame.start();
        otherGame.frame(30.0f);
        otherGame.shutdown();
    }
    FreeLibrary(other);
    DeleteFileA(copy.c_str());

    host.frame(21.0f);
    const Reading reading = readSection();
    ASSERT_TRUE(reading.found);
    EXPECT_STREQ(reading.record.gameId, "eut2");
    EXPECT_STREQ(reading.record.firstName, "Scania");
    EXPECT_TRUE(reading.record.live);
    EXPECT_EQ(reading.record.metresPerSecond, 21.0f);
    // The first game's shutdown still takes the section with it.
    host.shutdown();
    EXPECT_FALSE(readSection().found);
}

} // namespace
