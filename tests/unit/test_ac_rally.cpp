// Assetto Corsa Rally over Assetto Corsa's pages, laid out byte by byte at Assetto Corsa's
// offsets: driven by the status where the game sets it, else by its physics; names only as text.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "telemetry/created/ac_rally_reader.h"

namespace {

using Page = std::vector<std::uint8_t>;

// Little-endian, as the game and these tests' machines are.
template <typename Value> void put(Page& page, std::size_t at, Value value) {
    page.at(at + sizeof value - 1);
    std::memcpy(page.data() + at, &value, sizeof value);
}
void put(Page& page, std::size_t at, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        put(page, at + 2 * i, text[i]);
}

struct Rally {
    Page physics = Page(568), graphics = Page(284), statics = Page(596), pcars2 = Page(19380),
         r3e = Page(30844);
    AcRallyWatch watch;
    std::int32_t packetId = 0;
    std::uint64_t nowMs = 1000;

    // The names in UTF-16 at the static page's 68, 134 and 524; 88.5 km/h and a corner to the right
    // (accG[0], 44) in the physics.
    Rally(std::u16string_view car = u"car", std::u16string_view stage = u"stage",
          std::u16string_view layout = u"") {
        put(statics, 68, car);
        put(statics, 134, stage);
        put(statics, 524, layout);
        put(physics, 28, 88.5f);
        put(physics, 44, -1.0f);
    }
    // One tick, 100 ms after the last: the physics' packet id (0) moved on or not, the status (graphics 4).
    TelemetrySample tick(bool physicsRuns, std::int32_t status = 0) {
        if (physicsRuns) put(physics, 0, packetId += 33);
        put(graphics, 4, status);
        return readTelemetrySampleAsRally({physics, graphics, statics, pcars2, r3e}, watch, nowMs += 100);
    }
};

// Nine ticks of the game as given (the physics running, and the status), then one with the last
// status, and what that gives.
TEST(AcRally, DrivenOnTheStatusWhereSetElseWhileThePhysicsRuns) {
    struct Case {
        const char* name;
        bool physicsRuns;
        std::int32_t status, lastStatus;
        bool driven;
    };
    const Case cases[] = {{"no status, physics running", true, 0, 0, true},
                          {"no status, physics still", false, 0, 0, false},
                          {"status live, physics still", false, 2, 2, true},
                          {"status paused, physics running", true, 3, 3, false},
                          {"status replay", true, 1, 1, false},
                          {"status seen, then 0: the menus", true, 2, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rally game(u"Hyundai i20 N Rally2", u"Monte Carlo");
        for (int tick = 0; tick < 9; ++tick)
            game.tick(c.physicsRuns, c.status);
        const TelemetrySample sample = game.tick(c.physicsRuns, c.lastStatus);
        EXPECT_EQ(sample.combo, c.driven ? "Hyundai i20 N Rally2 @ Monte Carlo" : "");
        EXPECT_EQ(sample.speedKmh, c.driven ? 88.5f : 0.0f);
        EXPECT_EQ(sample.cornerG, 0.0f) << "its sideways sign is not known";
    }
}

// Nothing before two seconds of physics without a status, then one line; a status seen later says
// so once more.
TEST(AcRally, WhatItFindsIsLoggedOnce) {
    Rally game;
    std::vector<std::string> lines;
    const auto linesAfter = [&](int ticks, std::int32_t status) {
        for (int i = 0; i < ticks; ++i) {
            game.tick(true, status);
            if (!game.watch.logLine.empty()) lines.push_back(std::exchange(game.watch.logLine, {}));
        }
        return lines.size();
    };
    EXPECT_EQ(linesAfter(19, 0), 0u) << "under two seconds of physics";
    linesAfter(30, 0);
    linesAfter(15, 3);
    linesAfter(15, 2);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Assetto Corsa Rally: status not set, driven while physics runs",
                                        "Assetto Corsa Rally: status set, driven while it shows live"}));
}

TEST(AcRally, NamesAreTakenOnlyWhenTheyAreText) {
    const std::u16string noTerminator(33, u'A');
    struct Case {
        std::u16string car, stage, layout;
        const char* combo;
    };
    const Case cases[] = {
        {u"Škoda Fabia RS Rally2", u"Rallye Monte-Carlo", u"Stage 1",
         "Škoda Fabia RS Rally2 @ Rallye Monte-Carlo Stage 1"},
        {u"car", u"stage", u"", "car @ stage"},
        {u"car", u"stage", u"\x01\x02", "car @ stage"},
        {u"car", u"st\x7fge", u"", "car @ Assetto Corsa Rally"},
        {u"", u"stage", u"", "Assetto Corsa Rally"},
        {u"c\u0007r", u"stage", u"", "Assetto Corsa Rally"},
        {u"c\xD800r", u"stage", u"", "Assetto Corsa Rally"},
        {u"c\xFFFFr", u"stage", u"", "Assetto Corsa Rally"},
        {noTerminator, u"stage", u"", "Assetto Corsa Rally"},
    };
    for (const Case& c : cases) {
        Rally game(c.car, c.stage, c.layout);
        game.tick(true);
        EXPECT_EQ(game.tick(true).combo, c.combo);
    }
}

// The rally game takes Assetto Corsa's place in the order: Project CARS 2 and RaceRoom, live, win.
TEST(AcRally, AnotherLiveGameLaterInTheOrderWins) {
    Rally game;
    put(game.pcars2, 8, 2u);
    game.pcars2.at(6444) = 'P';
    game.tick(true);
    EXPECT_EQ(game.tick(true).combo, "P @  ");
}

} // namespace
