// Assetto Corsa Rally over Assetto Corsa's pages, laid out byte by byte at Assetto Corsa's
// offsets: driven by the status where the game sets it, else by its physics; names only as text.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/created/ac_rally_reader.h"

namespace {

using Page = std::vector<std::uint8_t>;

void putU32(Page& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        page.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

void putUtf16(Page& page, std::size_t offset, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        page.at(offset + 2 * i) = static_cast<std::uint8_t>(text[i]);
        page.at(offset + 2 * i + 1) = static_cast<std::uint8_t>(text[i] >> 8);
    }
}

struct Rally {
    Page physics = Page(568), graphics = Page(284), statics = Page(596), pcars2 = Page(19380),
         r3e = Page(30844);
    AcRallyWatch watch;
    std::uint32_t packetId = 0;
    std::uint64_t nowMs = 1000;

    Rally(std::u16string_view car, std::u16string_view stage, std::u16string_view layout = u"") {
        putUtf16(statics, 68, car);
        putUtf16(statics, 134, stage);
        putUtf16(statics, 524, layout);
        putU32(physics, 28, std::bit_cast<std::uint32_t>(88.5f));
    }
    // One tick, 100 ms after the last: the physics moved on or not, the status as given.
    TelemetrySample tick(bool physicsRuns, std::int32_t status = 0) {
        if (physicsRuns) putU32(physics, 0, packetId += 33);
        putU32(graphics, 4, static_cast<std::uint32_t>(status));
        nowMs += 100;
        return readTelemetrySampleAsRally({physics, graphics, statics, pcars2, r3e}, watch, nowMs);
    }
};

// Ten ticks of the game as given (the physics running, and the status), and what the last gives.
TEST(AcRally, DrivenOnTheStatusWhereSetElseWhileThePhysicsRuns) {
    struct Case {
        const char* name;
        bool physicsRuns;
        std::int32_t status;
        bool driven;
    };
    const Case cases[] = {{"no status, physics running", true, 0, true},
                          {"no status, physics still", false, 0, false},
                          {"status live", true, 2, true},
                          {"status live, physics still", false, 2, true},
                          {"status paused, physics running", true, 3, false},
                          {"status replay", true, 1, false}};
    for (const Case& c : cases) {
        Rally game(u"Hyundai i20 N Rally2", u"Monte Carlo");
        TelemetrySample sample;
        for (int tick = 0; tick < 10; ++tick)
            sample = game.tick(c.physicsRuns, c.status);
        EXPECT_EQ(sample.combo, c.driven ? "Hyundai i20 N Rally2 @ Monte Carlo" : "") << c.name;
        EXPECT_EQ(sample.speedKmh, c.driven ? 88.5f : 0.0f) << c.name;
    }
}

TEST(AcRally, OnceTheStatusIsSeenItDecidesEvenWhenItFallsBackToZero) {
    Rally game(u"car", u"stage");
    game.tick(true, 2);
    EXPECT_EQ(game.tick(true, 0).combo, "") << "status 0 is the menus once the game is known to set it";
}

// What the log says, tick by tick: nothing before two seconds of physics without a status, then
// one line; a status seen later says so once more.
TEST(AcRally, WhatItFindsIsLoggedOnce) {
    Rally game(u"car", u"stage");
    std::vector<std::string> lines;
    auto tick = [&](bool physicsRuns, std::int32_t status) {
        game.tick(physicsRuns, status);
        if (!game.watch.logLine.empty()) lines.push_back(std::exchange(game.watch.logLine, {}));
    };
    for (int i = 0; i < 19; ++i)
        tick(true, 0);
    EXPECT_TRUE(lines.empty());
    for (int i = 0; i < 30; ++i)
        tick(true, 0);
    EXPECT_EQ(lines,
              std::vector<std::string>{"Assetto Corsa Rally: status not set, driven while physics runs"});
    for (int i = 0; i < 30; ++i)
        tick(true, i % 2 ? 2 : 3);
    EXPECT_EQ(lines.back(), "Assetto Corsa Rally: status set, driven while it shows live");
    EXPECT_EQ(lines.size(), 2u);
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
        {u"car", u"", u"", "car @ Assetto Corsa Rally"},
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
    Rally game(u"car", u"stage");
    putU32(game.pcars2, 8, 2);
    game.pcars2.at(6444) = 'P';
    game.tick(true);
    EXPECT_EQ(game.tick(true).combo, "P @  ");
}

} // namespace
