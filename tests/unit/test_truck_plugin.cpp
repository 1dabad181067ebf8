// The truck plugin's callbacks, driven natively through the stand-in game host: the record after
// each step of a drive, what it does when the game refuses a registration or hands it bad pointers.
// Offsets are written out here, not taken from the record's header, so that a moved field shows.
#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tools/truck_game_host.h"
#include "truck_plugin/truck_plugin.h"
#include "plugin_record/plugin_record.h"

namespace {

// The section the plugin would make, as a buffer, with how often it was opened and closed.
alignas(4096) std::uint8_t sectionBytes[4096];
int sectionsOpen = 0;
enum class SectionMode { made, refused, another } sectionMode = SectionMode::made;

OpenedSection openTestSection() {
    if (sectionMode == SectionMode::refused) return {};
    if (sectionMode == SectionMode::another) return {{}, true};
    ++sectionsOpen;
    return {sectionBytes};
}
void closeTestSection() {
    --sectionsOpen;
}

game::Result initForTest(std::uint32_t version, const void* params) {
    return initTruckPlugin(version, params, {openTestSection, closeTestSection});
}

std::uint32_t u32At(std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{sectionBytes[offset + i]} << (8 * i);
    return value;
}

std::string textAt(std::size_t offset) {
    return reinterpret_cast<const char*>(sectionBytes + offset);
}

struct Published {
    bool live;
    float speed;
    std::string gameId, brand, name;
    bool operator==(const Published&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Published& p) {
    return out << "{live " << p.live << ", speed " << p.speed << ", " << p.gameId << ", '" << p.brand
               << "', '" << p.name << "'}";
}

Published published() {
    EXPECT_EQ(u32At(0), 2u) << "format";
    EXPECT_EQ(u32At(4) % 2, 0u) << "a rewrite left unfinished";
    return {u32At(8) == 1, std::bit_cast<float>(u32At(12)), textAt(16), textAt(32), textAt(96)};
}

class TruckPlugin : public testing::Test {
  protected:
    void SetUp() override {
        std::memset(sectionBytes, 0, sizeof sectionBytes);
        sectionsOpen = 0;
        sectionMode = SectionMode::made;
    }
    void TearDown() override {
        host.shutdown();
        EXPECT_EQ(sectionsOpen, 0);
    }
    std::vector<std::string> warnings() const {
        std::vector<std::string> lines;
        for (const auto& [type, text] : host.log)
            if (type == game::logWarning) lines.push_back(text);
        return lines;
    }
    TruckGameHost host;
};

TEST_F(TruckPlugin, RecordFollowsTheDriveFrameByFrame) {
    ASSERT_EQ(host.initNewestFirst(initForTest, shutdownTruckPlugin), game::ok);
    EXPECT_EQ(published(), (Published{false, 0.0f, "eut2", "", ""}));
    // Each step, then one frame, then the record as Ventora would find it.
    struct Step {
        const char* what;
        void (*act)(TruckGameHost&);
        float speed;
        Published expected;
    };
    const Step steps[] = {
        {"configuration",
         [](TruckGameHost& h) { h.configure("Scania", "R 730"); },
         0.0f,
         {false, 0.0f, "eut2", "Scania", "R 730"}},
        {"paused frames send no speed",
         [](TruckGameHost&) {},
         9.0f,
         {false, 0.0f, "eut2", "Scania", "R 730"}},
        {"started", [](TruckGameHost& h) { h.start(); }, 12.5f, {true, 12.5f, "eut2", "Scania", "R 730"}},
        {"reversing", [](TruckGameHost&) {}, -3.0f, {true, -3.0f, "eut2", "Scania", "R 730"}},
        {"another truck",
         [](TruckGameHost& h) { h.configure("Volvo", "FH16"); },
         20.0f,
         {true, 20.0f, "eut2", "Volvo", "FH16"}},
        {"paused keeps the last speed",
         [](TruckGameHost& h) { h.pause(); },
         30.0f,
         {false, 20.0f, "eut2", "Volvo", "FH16"}},
        {"started again", [](TruckGameHost& h) { h.start(); }, 30.0f, {true, 30.0f, "eut2", "Volvo", "FH16"}},
    };
    std::uint32_t sequence = u32At(4);
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(host);
        host.frame(step.speed);
        EXPECT_EQ(published(), step.expected);
        EXPECT_GT(u32At(4), sequence) << "the sequence did not move";
        sequence = u32At(4);
    }
    host.shutdown();
    EXPECT_FALSE(published().live) << "a reader still holding the section must see the game gone";
}

TEST_F(TruckPlugin, TheTrucksSidewaysAccelerationAndYawRateRideAlongWithEachFrame) {
    ASSERT_EQ(host.initNewestFirst(initForTest, shutdownTruckPlugin), game::ok);
    host.start();
    struct Case {
        float sideways, yawRotations; // as the game sends them: m/s^2 to the right, rotations a second
        float lateral, yawRadians;    // as the record carries them
    };
    const Case cases[] = {{9.80665f, 0.25f, 9.80665f, 1.5707964f},
                          {-4.0f, -0.5f, -4.0f, -3.1415927f},
                          {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        host.frame(20.0f, c.sideways, c.yawRotations);
        EXPECT_EQ(std::bit_cast<float>(u32At(160)), c.lateral);
        EXPECT_FLOAT_EQ(std::bit_cast<float>(u32At(164)), c.yawRadians);
    }
}

TEST_F(TruckPlugin, RefusedRegistrationWarnsAndThePluginStillWorks) {
    struct Case {
        const char* what;
        std::uint32_t refusedEvent; // 0: none
        const char* refusedChannel; // null: none
        const char* warning;
        // After configure, start and a frame at 10 m/s; then pause and a frame at 10 m/s.
        Published driving, paused;
    };
    const Case cases[] = {
        {"no speed",
         0,
         "truck.speed",
         "Ventora telemetry plugin: the game refused the truck.speed channel (-4); going on without it",
         {true, 0.0f, "eut2", "MAN", "TGX"},
         {false, 0.0f, "eut2", "MAN", "TGX"}},
        {"no frame end: every callback publishes",
         game::frameEndEvent,
         nullptr,
         "Ventora telemetry plugin: the game refused the frame end event (-4); going on without it",
         {true, 10.0f, "eut2", "MAN", "TGX"},
         {false, 10.0f, "eut2", "MAN", "TGX"}},
        {"no started: driven while speeds arrive",
         game::startedEvent,
         nullptr,
         "Ventora telemetry plugin: the game refused the started event (-4); going on without it",
         {true, 10.0f, "eut2", "MAN", "TGX"},
         {false, 10.0f, "eut2", "MAN", "TGX"}},
        {"no configuration: no names",
         game::configurationEvent,
         nullptr,
         "Ventora telemetry plugin: the game refused the configuration event (-4); going on without it",
         {true, 10.0f, "eut2", "", ""},
         {false, 10.0f, "eut2", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.refusedEvents.clear();
        host.refusedChannels.clear();
        host.log.clear();
        if (c.refusedEvent) host.refusedEvents.insert(c.refusedEvent);
        if (c.refusedChannel) host.refusedChannels.insert(c.refusedChannel);
        ASSERT_EQ(host.initNewestFirst(initForTest, shutdownTruckPlugin), game::ok);
        EXPECT_EQ(warnings(), std::vector<std::string>{c.warning});
        host.configure("MAN", "TGX");
        host.start();
        host.frame(10.0f);
        EXPECT_EQ(published(), c.driving);
        host.pause();
        host.frame(10.0f);
        EXPECT_EQ(published(), c.paused);
        host.shutdown();
    }
}

TEST_F(TruckPlugin, NamesAreCutWholeCharactersAndBadAttributesIgnored) {
    ASSERT_EQ(host.initNewestFirst(initForTest, shutdownTruckPlugin), game::ok);
    // 62 ASCII bytes then "é" (two bytes): the 63 bytes of room would split it, so it goes whole.
    const std::string longBrand = std::string(62, 'b') + "\xC3\xA9" + "tail";
    host.configure(longBrand, std::string(100, 'n'));
    host.frame(0.0f);
    EXPECT_EQ(published().brand, std::string(62, 'b'));
    EXPECT_EQ(published().name, std::string(63, 'n'));
}

// Configurations the game might hand over, sent straight to the plugin's registered callback.
TEST_F(TruckPlugin, ConfigurationsItCannotUseLeaveTheNamesAlone) {
    ASSERT_EQ(host.initNewestFirst(initForTest, shutdownTruckPlugin), game::ok);
    host.configure("Renault", "T");
    host.frame(0.0f);
    game::NamedValue wrongType[] = {{"brand", game::noIndex, 0, {}}, {}};
    wrongType[0].value.type = game::floatType;
    game::NamedValue nullText[] = {{"name", game::noIndex, 0, {}}, {}};
    nullText[0].value.type = game::stringType;
    game::NamedValue trailer[] = {{"brand", game::noIndex, 0, {}}, {}};
    trailer[0].value.type = game::stringType;
    trailer[0].value.stringValue = "Krone";
    struct Case {
        const char* what;
        game::ConfigurationInfo info;
        bool passNull;
        Published expected;
    };
    const Case cases[] = {
        {"no info at all", {}, true, {false, 0.0f, "eut2", "Renault", "T"}},
        {"no id", {nullptr, trailer}, false, {false, 0.0f, "eut2", "Renault", "T"}},
        {"the trailer's configuration", {"trailer", trailer}, false, {false, 0.0f, "eut2", "Renault", "T"}},
        {"no attributes: the truck has no names", {"truck", nullptr}, false, {false, 0.0f, "eut2", "", ""}},
        {"a brand that is no text", {"truck", wrongType}, false, {false, 0.0f, "eut2", "", ""}},
        {"a name with no text", {"truck", nullText}, false, {false, 0.0f, "eut2", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        host.configure("Renault", "T");
        host.sendConfiguration(c.passNull ? nullptr : &c.info);
        host.frame(0.0f);
        EXPECT_EQ(published(), c.expected);
    }
}

TEST_F(TruckPlugin, BadParametersAndAMissingSectionRegisterNothing) {
    EXPECT_EQ(initForTest(game::api101, nullptr), game::invalidParameter);
    game::InitParams noRegistration{};
    EXPECT_EQ(initForTest(game::api101, &noRegistration), game::invalidParameter);
    // Another game publishing is no fault of this game's: it runs on, told why Ventora ignores it.
    struct Case {
        SectionMode mode;
        game::Result result;
        std::int32_t logType;
        const char* logged;
    };
    for (const Case c : {Case{SectionMode::refused, game::genericError, game::logError, "shared memory"},
                         Case{SectionMode::another, game::ok, game::logWarning, "another truck game"}}) {
        SCOPED_TRACE(c.logged);
        host.log.clear();
        sectionMode = c.mode;
        EXPECT_EQ(host.init(initForTest, shutdownTruckPlugin, game::api101), c.result);
        EXPECT_EQ(host.registrations(), 0u);
        ASSERT_EQ(host.log.size(), 1u);
        EXPECT_EQ(host.log[0].first, c.logType);
        EXPECT_NE(host.log[0].second.find(c.logged), std::string::npos) << host.log[0].second;
        host.frame(20.0f);
        host.shutdown();
        EXPECT_EQ(sectionsOpen, 0);
        EXPECT_EQ(u32At(4), 0u) << "nothing written";
    }
    // The game that gave way can load the plugin again once the other has gone.
    sectionMode = SectionMode::made;
    EXPECT_EQ(host.init(initForTest, shutdownTruckPlugin, game::api101), game::ok);
    EXPECT_EQ(host.registrations(), 7u);
}

} // namespace
