// The game readers on pages laid out byte by byte. Offsets are written out here as the games use
// them, not taken from the code's constants, so that a wrong constant shows up as a failure.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/created/game_readers.h"

namespace {

using Page = std::vector<std::uint8_t>;

void putU32(Page& page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        page.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

void putFloat(Page& page, std::size_t offset, float value) {
    putU32(page, offset, std::bit_cast<std::uint32_t>(value));
}

// Writes the bytes only: a NUL follows where the page is still zero.
void putText(Page& page, std::size_t offset, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        page.at(offset + i) = static_cast<std::uint8_t>(text[i]);
}

void putUtf16(Page& page, std::size_t offset, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        page.at(offset + 2 * i) = static_cast<std::uint8_t>(text[i]);
        page.at(offset + 2 * i + 1) = static_cast<std::uint8_t>(text[i] >> 8);
    }
}

std::u16string widen(std::string_view ascii) {
    return {ascii.begin(), ascii.end()};
}

// Five zeroed pages of the games' view sizes, as Ventora sees them before any game has run.
struct Pages {
    Page acPhysics = Page(568);
    Page acGraphics = Page(284);
    Page acStatic = Page(596);
    Page pcars2 = Page(19380);
    Page r3e = Page(30844);
};

TelemetrySample read(const Pages& pages) {
    return readTelemetrySample({pages.acPhysics, pages.acGraphics, pages.acStatic, pages.pcars2, pages.r3e});
}

// Copies a page into a buffer of exactly `size` bytes, so that AddressSanitizer catches any read
// past it.
Page cut(const Page& page, std::size_t size) {
    return Page(page.begin(), page.begin() + size);
}

enum class Game { assettoCorsa, projectCars2, raceRoom };

void setAssettoCorsa(Pages& pages, std::u16string_view car, std::u16string_view track,
                     std::u16string_view layout, float speedKmh) {
    putU32(pages.acGraphics, 4, 2);
    putUtf16(pages.acStatic, 68, car);
    putUtf16(pages.acStatic, 134, track);
    putUtf16(pages.acStatic, 524, layout);
    putFloat(pages.acPhysics, 28, speedKmh);
}

void setProjectCars2(Pages& pages, std::string_view car, std::string_view track, std::string_view layout,
                     float speedMs) {
    putU32(pages.pcars2, 8, 2);
    putText(pages.pcars2, 6444, car);
    putText(pages.pcars2, 6576, track);
    putText(pages.pcars2, 6640, layout);
    putFloat(pages.pcars2, 6848, speedMs);
}

// The original RaceRoom layout, which a page announcing version 0.0 or 1.x uses.
void setRaceRoom(Pages& pages, std::string_view car, std::string_view track, std::string_view layout,
                 float speedMs) {
    putU32(pages.r3e, 428, 5);
    putText(pages.r3e, 620, car);
    putText(pages.r3e, 276, track);
    putText(pages.r3e, 340, layout);
    putFloat(pages.r3e, 784, speedMs);
}

void setLive(Pages& pages, Game game, std::string_view car, std::string_view track, std::string_view layout,
             float speed) {
    switch (game) {
    case Game::assettoCorsa: setAssettoCorsa(pages, widen(car), widen(track), widen(layout), speed); break;
    case Game::projectCars2: setProjectCars2(pages, car, track, layout, speed); break;
    case Game::raceRoom: setRaceRoom(pages, car, track, layout, speed); break;
    }
}

constexpr Game allGames[] = {Game::assettoCorsa, Game::projectCars2, Game::raceRoom};

} // namespace

TEST(GameReaders, NoGameWrittenGivesEmptyComboAndZeroSpeed) {
    const TelemetrySample zeroed = read(Pages{});
    EXPECT_EQ(zeroed.combo, "");
    EXPECT_EQ(zeroed.speedKmh, 0.0f);

    const TelemetrySample unmapped = readTelemetrySample({});
    EXPECT_EQ(unmapped.combo, "");
    EXPECT_EQ(unmapped.speedKmh, 0.0f);
}

TEST(GameReaders, EachLiveGameNamesCarTrackAndLayout) {
    struct Case {
        std::string_view car, track, layout, combo;
    };
    const Case cases[] = {
        {"Ferrari 458 GT2", "Spa", "gp", "Ferrari 458 GT2 @ Spa gp"},
        {"BMW M4", "Monza", "", "BMW M4 @ Monza "},
        {"", "", "", " @  "},
        {"", "Imola", "", " @ Imola "},
    };
    for (Game game : allGames)
        for (const Case& c : cases) {
            Pages pages;
            setLive(pages, game, c.car, c.track, c.layout, 1.0f);
            EXPECT_EQ(read(pages).combo, c.combo) << "game " << static_cast<int>(game);
        }
}

TEST(GameReaders, SpeedsComeOutInKmh) {
    struct Case {
        Game game;
        float pageSpeed, speedKmh;
    };
    const Case cases[] = {
        {Game::assettoCorsa, 10.0f, 10.0f},
        {Game::projectCars2, 10.0f, 36.0f},
        {Game::raceRoom, 10.0f, 36.0f},
        // Single-precision 3.6 gives 0.179999992; double precision would round to 0.180000007.
        {Game::projectCars2, 0.05f, 0.17999999225139618f},
        {Game::raceRoom, 0.05f, 0.17999999225139618f},
        // Passed through as read: no clamping or absolute value.
        {Game::assettoCorsa, -5.0f, -5.0f},
        {Game::projectCars2, -5.0f, -18.0f},
        {Game::raceRoom, -5.0f, -18.0f},
        {Game::assettoCorsa, 0.0f, 0.0f},
        {Game::projectCars2, 0.0f, 0.0f},
        {Game::raceRoom, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        Pages pages;
        setLive(pages, c.game, "car", "track", "layout", c.pageSpeed);
        EXPECT_EQ(read(pages).speedKmh, c.speedKmh)
            << "game " << static_cast<int>(c.game) << " at " << c.pageSpeed;
    }
}

TEST(GameReaders, GameOutsideItsLiveStateContributesNothing) {
    struct Case {
        Game game;
        std::uint32_t state;
    };
    const Case cases[] = {
        {Game::assettoCorsa, 0},      {Game::assettoCorsa, 1}, {Game::assettoCorsa, 3},
        {Game::assettoCorsa, 5},      {Game::projectCars2, 0}, {Game::projectCars2, 1},
        {Game::projectCars2, 3},      {Game::projectCars2, 5}, {Game::raceRoom, 0},
        {Game::raceRoom, 2},          {Game::raceRoom, 4},     {Game::raceRoom, 6},
        {Game::raceRoom, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        Pages pages;
        setLive(pages, c.game, "car", "track", "layout", 50.0f);
        switch (c.game) {
        case Game::assettoCorsa: putU32(pages.acGraphics, 4, c.state); break;
        case Game::projectCars2: putU32(pages.pcars2, 8, c.state); break;
        case Game::raceRoom: putU32(pages.r3e, 428, c.state); break;
        }
        const TelemetrySample sample = read(pages);
        EXPECT_EQ(sample.combo, "") << "game " << static_cast<int>(c.game) << " in state " << c.state;
        EXPECT_EQ(sample.speedKmh, 0.0f) << "game " << static_cast<int>(c.game) << " in state " << c.state;
    }
}

TEST(GameReaders, LastLiveGameInOrderWins) {
    struct Case {
        bool ac, pc2, r3e;
        std::string_view combo;
        float speedKmh;
    };
    const Case cases[] = {
        {true, false, true, "r3e car @ r3e track r3e layout", 108.0f},
        {false, true, true, "r3e car @ r3e track r3e layout", 108.0f},
        {true, true, false, "pc2 car @ pc2 track pc2 layout", 72.0f},
        {true, true, true, "r3e car @ r3e track r3e layout", 108.0f},
    };
    for (const Case& c : cases) {
        Pages pages;
        if (c.ac) setLive(pages, Game::assettoCorsa, "ac car", "ac track", "ac layout", 10.0f);
        if (c.pc2) setLive(pages, Game::projectCars2, "pc2 car", "pc2 track", "pc2 layout", 20.0f);
        if (c.r3e) setLive(pages, Game::raceRoom, "r3e car", "r3e track", "r3e layout", 30.0f);
        const TelemetrySample sample = read(pages);
        EXPECT_EQ(sample.combo, c.combo);
        EXPECT_EQ(sample.speedKmh, c.speedKmh);
    }
}

TEST(AssettoCorsaReader, NonAsciiNamesEnterTheComboAsUtf8) {
    Pages pages;
    setAssettoCorsa(pages, u"\u0160koda Octavia", u"N\u00fcrburgring", u"\u9234\u9e7f \U0001F3C1", 1.0f);
    EXPECT_EQ(read(pages).combo,
              "\xc5\xa0koda Octavia @ N\xc3\xbcrburgring \xe9\x88\xb4\xe9\xb9\xbf \xf0\x9f\x8f\x81");
}

TEST(AssettoCorsaReader, NameWithoutNulIsCutAtItsRoom) {
    Pages pages;
    // The car name's 33 units run right up to the track name; the layout's 36 to the view's end.
    setAssettoCorsa(pages, std::u16string(33, u'C'), u"Spa", std::u16string(36, u'L'), 1.0f);
    EXPECT_EQ(read(pages).combo, std::string(33, 'C') + " @ Spa " + std::string(36, 'L'));
}

TEST(AssettoCorsaReader, NameTooLongForItsBufferIsCutAtTheLastWholeCharacter) {
    Pages pages;
    // 97 units of 'e' with acute accent need 194 bytes: 49 of them fill the 98 bytes before the NUL.
    setAssettoCorsa(pages, u"car", std::u16string(97, u'\u00e9'), std::u16string(35, u'\u20ac'), 1.0f);
    std::string track, layout;
    for (int i = 0; i < 49; ++i)
        track += "\xc3\xa9";
    for (int i = 0; i < 32; ++i)
        layout += "\xe2\x82\xac";
    EXPECT_EQ(read(pages).combo, "car @ " + track + " " + layout);
}

TEST(ProjectCars2Reader, NamesAreCopiedAsBytesAndCutAtTheirRoom) {
    Pages pages;
    // No NUL in any room: the layout would run into the speed's bytes (1.1 has no zero byte).
    setProjectCars2(pages, std::string(132, 'C'), std::string(64, 'T'), std::string(208, 'L'), 1.1f);
    EXPECT_EQ(read(pages).combo,
              std::string(132, 'C') + " @ " + std::string(64, 'T') + " " + std::string(208, 'L'));

    Pages bytes;
    setProjectCars2(bytes, "Caf\xe9\xff", std::string("\x01\x7f\x80\0rest", 8), "\xc3\xa9", 10.0f);
    EXPECT_EQ(read(bytes).combo, "Caf\xe9\xff @ \x01\x7f\x80 \xc3\xa9");
}

// Project CARS 3 writes Project CARS 2's page under a version number of its own, unknown here.
TEST(ProjectCars2Reader, ThePagesVersionNumberIsNotLookedAt) {
    for (const std::uint32_t version : {0u, 9u, 12u, 14u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(version);
        Pages pages;
        setProjectCars2(pages, "Porsche 911 GT3 R", "Laguna Seca", "", 10.0f);
        putU32(pages.pcars2, 0, version);
        const TelemetrySample sample = read(pages);
        EXPECT_EQ(sample.combo, "Porsche 911 GT3 R @ Laguna Seca ");
        EXPECT_EQ(sample.speedKmh, 36.0f);
    }
}

TEST(RaceRoomReader, LayoutVersionChoosesTheOffsets) {
    struct Case {
        std::int32_t major, minor;
        std::size_t track, layout, state, car, speed;
    };
    const Case cases[] = {
        {0, 0, 276, 340, 428, 620, 784},    {1, 0, 276, 340, 428, 620, 784},
        {1, 7, 276, 340, 428, 620, 784},    {2, 0, 576, 640, 772, 1156, 1336},
        {2, 11, 576, 640, 772, 1156, 1336}, {3, 0, 276, 340, 428, 620, 784},
        {3, 1, 592, 656, 788, 1184, 1368},  {3, 2, 592, 656, 788, 1184, 1380},
        {3, 3, 596, 660, 792, 1188, 1384},  {3, 4, 600, 664, 796, 1196, 1392},
        {3, 9, 600, 664, 796, 1196, 1392},  {3, -1, 276, 340, 428, 620, 784},
        {4, 0, 276, 340, 428, 620, 784},    {-1, 4, 276, 340, 428, 620, 784},
    };
    for (const Case& c : cases) {
        Pages pages;
        putU32(pages.r3e, 0, static_cast<std::uint32_t>(c.major));
        putU32(pages.r3e, 4, static_cast<std::uint32_t>(c.minor));
        putU32(pages.r3e, c.state, 5);
        putText(pages.r3e, c.car, "car");
        putText(pages.r3e, c.track, "track");
        putText(pages.r3e, c.layout, "layout");
        putFloat(pages.r3e, c.speed, 10.0f);
        const TelemetrySample sample = read(pages);
        EXPECT_EQ(sample.combo, "car @ track layout") << "version " << c.major << "." << c.minor;
        EXPECT_EQ(sample.speedKmh, 36.0f) << "version " << c.major << "." << c.minor;
    }
}

TEST(RaceRoomReader, NamesWithoutNulAreCutAtTheirRoom) {
    // The original layout's rooms run to the next field read; later layouts' names are 64 bytes.
    Pages original;
    setRaceRoom(original, std::string(164, 'C'), std::string(64, 'T'), std::string(88, 'L'), 1.1f);
    EXPECT_EQ(read(original).combo,
              std::string(164, 'C') + " @ " + std::string(64, 'T') + " " + std::string(88, 'L'));

    Pages later;
    putU32(later.r3e, 0, 3);
    putU32(later.r3e, 4, 4);
    putU32(later.r3e, 796, 5);
    putText(later.r3e, 1196, std::string(80, 'C'));
    putText(later.r3e, 600, std::string(64, 'T'));
    putText(later.r3e, 664, std::string(64, 'L'));
    EXPECT_EQ(read(later).combo,
              std::string(64, 'C') + " @ " + std::string(64, 'T') + " " + std::string(64, 'L'));
}

TEST(GameReaders, ShortViewsAreReadOnlyUpToTheirEnd) {
    Pages full;
    setAssettoCorsa(full, u"car", u"track", u"layout", 10.0f);
    setProjectCars2(full, "car", "track", "layout", 10.0f);
    setRaceRoom(full, "car", "track", "layout", 10.0f);

    struct Case {
        Game game;
        std::size_t viewSize;
        std::string_view combo;
        float speedKmh;
    };
    const Case cases[] = {
        {Game::projectCars2, 11, "", 0.0f},                     // state cut short: not live
        {Game::projectCars2, 6643, "car @ track lay", 0.0f},    // layout cut at the view's end
        {Game::projectCars2, 6851, "car @ track layout", 0.0f}, // speed cut short: zero
        {Game::projectCars2, 6852, "car @ track layout", 36.0f},
        {Game::raceRoom, 431, "", 0.0f},
        {Game::raceRoom, 622, "ca @ track layout", 0.0f},
        {Game::raceRoom, 788, "car @ track layout", 36.0f},
        {Game::assettoCorsa, 531, "car @ track lay", 10.0f}, // a half code unit is dropped
        {Game::assettoCorsa, 70, "c @  ", 10.0f},
    };
    for (const Case& c : cases) {
        Pages pages = full;
        switch (c.game) {
        case Game::assettoCorsa: pages.acStatic = cut(full.acStatic, c.viewSize); break;
        case Game::projectCars2: pages.pcars2 = cut(full.pcars2, c.viewSize); break;
        case Game::raceRoom: pages.r3e = cut(full.r3e, c.viewSize); break;
        }
        // Only the shortened game is left live, so the sample is its own.
        if (c.game != Game::assettoCorsa) pages.acGraphics.clear();
        if (c.game != Game::projectCars2) pages.pcars2.clear();
        if (c.game != Game::raceRoom) pages.r3e.clear();
        const TelemetrySample sample = read(pages);
        EXPECT_EQ(sample.combo, c.combo) << "game " << static_cast<int>(c.game) << " view " << c.viewSize;
        EXPECT_EQ(sample.speedKmh, c.speedKmh)
            << "game " << static_cast<int>(c.game) << " view " << c.viewSize;
    }

    // Every length across the fields read, for AddressSanitizer to watch.
    for (std::size_t size = 0; size <= full.acStatic.size(); ++size) {
        Pages pages;
        pages.acPhysics = cut(full.acPhysics, std::min(size, full.acPhysics.size()));
        pages.acGraphics = cut(full.acGraphics, std::min(size, full.acGraphics.size()));
        pages.acStatic = cut(full.acStatic, size);
        read(pages);
    }
    for (std::size_t size = 6400; size <= 6860; ++size) {
        Pages pages;
        pages.pcars2 = cut(full.pcars2, size);
        read(pages);
    }
    // Live in every layout, so that each version's names and speed are read too.
    Page raceRoom = full.r3e;
    for (std::size_t state : {428, 772, 788, 792, 796})
        putU32(raceRoom, state, 5);
    for (std::int32_t minor : {0, 1, 2, 3, 4})
        for (std::int32_t major : {1, 2, 3}) {
            putU32(raceRoom, 0, static_cast<std::uint32_t>(major));
            putU32(raceRoom, 4, static_cast<std::uint32_t>(minor));
            for (std::size_t size = 0; size <= 1400; ++size) {
                Pages pages;
                pages.r3e = cut(raceRoom, size);
                read(pages);
            }
        }
}
