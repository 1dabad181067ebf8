// The iRacing, rFactor 2, Le Mans Ultimate and Assetto Corsa EVO readers on pages laid out byte by
// byte. Offsets are
// written out here as the games use them, not taken from the code's constants, so that a wrong
// constant shows up as a failure.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/created/game_readers.h"
#include "telemetry/opened/acevo_reader.h"
#include "telemetry/opened/opened_games.h"

namespace {

using Page = std::vector<std::uint8_t>;

void putU8(std::span<std::uint8_t> page, std::size_t offset, std::uint8_t value) {
    page[offset] = value;
}

void putU32(std::span<std::uint8_t> page, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        page[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putDouble(std::span<std::uint8_t> page, std::size_t offset, double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i)
        page[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

void putText(std::span<std::uint8_t> page, std::size_t offset, std::string_view text) {
    std::memcpy(page.data() + offset, text.data(), text.size());
}

Page cut(const Page& page, std::size_t size) {
    return Page(page.begin(), page.begin() + static_cast<std::ptrdiff_t>(size));
}

// ---- iRacing: header at 0, variable headers at 200, session text at 1000, buffers from 3000.

constexpr std::size_t irVars = 200, irText = 1000, irBuffers = 3000, irBufferLength = 32;

void putIRacingVariable(std::span<std::uint8_t> page, std::size_t index, std::string_view name,
                        std::uint32_t type, std::uint32_t offset) {
    const std::size_t header = irVars + index * 144;
    putU32(page, header + 0, type);
    putU32(page, header + 4, offset);
    putU32(page, header + 8, 1);
    putText(page, header + 16, name);
}

void putIRacingText(std::span<std::uint8_t> page, std::int32_t update, std::string_view text) {
    putU32(page, 12, static_cast<std::uint32_t>(update));
    putU32(page, 16, 2000);
    putU32(page, 20, irText);
    std::memset(page.data() + irText, 0, 2000);
    putText(page, irText, text);
}

// One buffer's values: speed at 4, on track at 9, replay at 12 (the headers' order differs).
void putIRacingBuffer(std::span<std::uint8_t> page, std::size_t index, std::int32_t tick, float speed,
                      bool onTrack, bool replay) {
    const std::size_t buffer = irBuffers + index * irBufferLength;
    putU32(page, 48 + 16 * index, static_cast<std::uint32_t>(tick));
    putU32(page, 52 + 16 * index, buffer);
    putU32(page, buffer + 4, std::bit_cast<std::uint32_t>(speed));
    putU8(page, buffer + 9, onTrack);
    putU8(page, buffer + 12, replay);
}

constexpr std::string_view irSession =
    "WeekendInfo:\n TrackDisplayName: Road America\n TrackConfigName: Full Course\n"
    "DriverInfo:\n DriverCarIdx: 4\n Drivers:\n - CarIdx: 1\n   CarScreenName: "
    "Other\n - CarIdx: 4\n   CarScreenName: Mazda MX-5 Cup\n";
constexpr std::string_view irCombo = "Mazda MX-5 Cup @ Road America Full Course";

Page iracingPage(std::size_t size = 4096) {
    Page page(size);
    putU32(page, 4, 1);
    putU32(page, 8, 60);
    putU32(page, 24, 5);
    putU32(page, 28, irVars);
    putU32(page, 32, 3);
    putU32(page, 36, irBufferLength);
    putIRacingVariable(page, 0, "SessionTime", 5, 16);
    putIRacingVariable(page, 1, "IsReplayPlaying", 1, 12);
    putIRacingVariable(page, 2, "Speeds", 4, 24);
    putIRacingVariable(page, 3, "IsOnTrack", 1, 9);
    putIRacingVariable(page, 4, "Speed", 4, 4);
    putIRacingText(page, 1, irSession);
    for (std::size_t i = 0; i < 3; ++i)
        putIRacingBuffer(page, i, static_cast<std::int32_t>(10 + i), 10.0f, true, false);
    return page;
}

TelemetrySample readIRacingPage(std::span<const std::uint8_t> page) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames({page, {}, {}, {}, {}}, cache, sample);
    return sample;
}

// ---- rFactor 2: scoring and telemetry pages, the player second in scoring (id 7), third in telemetry.

constexpr std::size_t rf2ScoringSize = 560 + 4 * 584, rf2TelemetrySize = 16 + 4 * 1888;

struct Rf2Pages {
    Page scoring = Page(rf2ScoringSize), telemetry = Page(rf2TelemetrySize);
};

void putScoringVehicle(std::span<std::uint8_t> page, std::size_t vehicle, std::int32_t id,
                       std::string_view name, bool player) {
    putU32(page, vehicle + 0, static_cast<std::uint32_t>(id));
    putText(page, vehicle + 36, name);
    putU8(page, vehicle + 196, player);
}

void putTelemetryVehicle(std::span<std::uint8_t> page, std::size_t vehicle, std::int32_t id,
                         std::string_view name, double x, double y, double z) {
    putU32(page, vehicle + 0, static_cast<std::uint32_t>(id));
    putText(page, vehicle + 32, name);
    putText(page, vehicle + 96, "telemetry track");
    putDouble(page, vehicle + 184, x);
    putDouble(page, vehicle + 192, y);
    putDouble(page, vehicle + 200, z);
}

Rf2Pages rf2Pages(double x = 0.0, double y = 0.0, double z = -20.0) {
    Rf2Pages pages;
    for (Page* page : {&pages.scoring, &pages.telemetry}) {
        putU32(*page, 0, 41);
        putU32(*page, 4, 41);
    }
    putText(pages.scoring, 12, "Sebring");
    putU32(pages.scoring, 116, 3);
    putU8(pages.scoring, 120, 5);
    putU8(pages.scoring, 127, 1);
    putScoringVehicle(pages.scoring, 560, 11, "Rival One", false);
    putScoringVehicle(pages.scoring, 560 + 584, 7, "Oreca 07", true);
    putScoringVehicle(pages.scoring, 560 + 2 * 584, 3, "Rival Two", false);
    putU32(pages.telemetry, 12, 3);
    putTelemetryVehicle(pages.telemetry, 16, 3, "Rival Two", 1.0, 0.0, 0.0);
    putTelemetryVehicle(pages.telemetry, 16 + 1888, 11, "Rival One", 2.0, 0.0, 0.0);
    putTelemetryVehicle(pages.telemetry, 16 + 2 * 1888, 7, "Oreca 07", x, y, z);
    return pages;
}

TelemetrySample readRf2Pages(std::span<const std::uint8_t> scoring, std::span<const std::uint8_t> telemetry) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames({{}, scoring, telemetry, {}, {}}, cache, sample);
    return sample;
}

// ---- Le Mans Ultimate: one page with the player third in telemetry, and its lock.

constexpr std::size_t lmuSize = 128468 + 4 * 1888;

Page lmuPage(double x = 30.0, double y = 0.0, double z = -40.0) {
    Page page(lmuSize);
    putText(page, 1632, "Le Mans");
    putU8(page, 1740, 5);
    putU8(page, 1747, 1);
    putScoringVehicle(page, 2192, 11, "Rival One", false);
    putScoringVehicle(page, 2192 + 584, 7, "Ferrari 499P", true);
    putU8(page, 128465, 2);
    putU8(page, 128466, 1);
    putTelemetryVehicle(page, 128468, 3, "Rival Two", 1.0, 0.0, 0.0);
    putTelemetryVehicle(page, 128468 + 1888, 11, "Rival One", 2.0, 0.0, 0.0);
    putTelemetryVehicle(page, 128468 + 2 * 1888, 7, "Ferrari 499P", x, y, z);
    return page;
}

struct LmuLock {
    alignas(4) std::uint8_t bytes[8] = {};
    std::int32_t waiters() const { return static_cast<std::int32_t>(bytes[0] | bytes[1] << 8); }
    std::int32_t busy() const { return static_cast<std::int32_t>(bytes[4] | bytes[5] << 8); }
};

TelemetrySample readLmuPage(std::span<const std::uint8_t> page, LmuLock& lock, bool* wake = nullptr) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    const bool woken = readOpenedGames({{}, {}, {}, page, lock.bytes}, cache, sample);
    if (wake) *wake = woken;
    return sample;
}

// ---- A page that the game rewrites at the moment the reader first touches its second half: the
// second memory page is unreadable until then, and the fault runs the rewrite before the read
// goes on. This makes "the game wrote while Ventora read" happen at a chosen place, every time.

struct TouchedPage {
    std::uint8_t* memory = nullptr;
    std::size_t pageBytes = 0;
    void (*rewrite)(std::uint8_t* memory) = nullptr;
};
TouchedPage* touched = nullptr;

void onTouch(int, siginfo_t* info, void*) {
    auto* address = static_cast<std::uint8_t*>(info->si_addr);
    if (!touched || address < touched->memory + touched->pageBytes ||
        address >= touched->memory + 2 * touched->pageBytes)
        std::abort();
    mprotect(touched->memory + touched->pageBytes, touched->pageBytes, PROT_READ | PROT_WRITE);
    touched->rewrite(touched->memory);
    touched = nullptr;
}

// Runs `read` over `content` laid into two memory pages, `rewrite` happening at the first touch of
// the second; returns whether the rewrite happened at all (the read reached the second page).
template <typename Read>
bool readWhileRewritten(const Page& content, void (*rewrite)(std::uint8_t*), Read read) {
    const auto pageBytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    EXPECT_GT(content.size(), pageBytes);
    EXPECT_LE(content.size(), 2 * pageBytes);
    void* mapped = mmap(nullptr, 2 * pageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    auto* memory = static_cast<std::uint8_t*>(mapped);
    std::memcpy(memory, content.data(), content.size());
    TouchedPage page{memory, pageBytes, rewrite};
    struct sigaction action {
    }, previous{};
    action.sa_sigaction = onTouch;
    action.sa_flags = SA_SIGINFO;
    sigaction(SIGSEGV, &action, &previous);
    touched = &page;
    mprotect(memory + pageBytes, pageBytes, PROT_NONE);
    read(std::span<const std::uint8_t>(memory, content.size()));
    const bool rewritten = touched == nullptr;
    touched = nullptr;
    sigaction(SIGSEGV, &previous, nullptr);
    munmap(mapped, 2 * pageBytes);
    return rewritten;
}

// ---- Assetto Corsa EVO: three pages at their 0.6 sizes.

void putFloat(std::span<std::uint8_t> page, std::size_t offset, float value) {
    putU32(page, offset, std::bit_cast<std::uint32_t>(value));
}

struct AcEvoPages {
    Page physics = Page(800), graphics = Page(4900), statics = Page(208);
    AcEvoPages() {
        putFloat(physics, 28, 187.5f);
        putU32(graphics, 4, 2);
        putText(graphics, 3086, "ks_porsche_911_gt3_rs");
        putText(statics, 0, "0.6");
        putText(statics, 136, "monza");
        putText(statics, 169, "gp");
    }
};

TelemetrySample readAcEvoPages(const AcEvoPages& pages, std::span<const std::uint8_t> lmu = {}) {
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames({{}, {}, {}, lmu, {}, pages.physics, pages.graphics, pages.statics}, cache, sample);
    return sample;
}

TEST(AssettoCorsaEvoReader, OnlyTheLiveStatusGivesTheCarTrackConfigurationAndSpeed) {
    const std::pair<std::int32_t, const char*> statuses[] = {
        {2, "ks_porsche_911_gt3_rs @ monza gp"}, {0, ""}, {1, ""}, {3, ""}, {4, ""}, {0x102, ""}};
    for (auto [status, combo] : statuses) {
        AcEvoPages pages;
        putU32(pages.graphics, 4, static_cast<std::uint32_t>(status));
        const TelemetrySample sample = readAcEvoPages(pages);
        EXPECT_EQ(sample.combo, combo) << status;
        EXPECT_EQ(sample.speedKmh, *combo ? 187.5f : 0.0f) << status;
    }
}

TEST(AssettoCorsaEvoReader, NamesStopAtTheirNulOrTheirThirtyThreeBytes) {
    AcEvoPages pages;
    std::memset(pages.graphics.data() + 3086, 'c', 40); // no NUL before the status' room ends
    putText(pages.statics, 136, std::string(33, 't'));  // runs into the configuration
    putText(pages.statics, 169, std::string(39, 'g'));  // to the end of the page
    EXPECT_EQ(readAcEvoPages(pages).combo,
              std::string(33, 'c') + " @ " + std::string(33, 't') + " " + std::string(33, 'g'));
}

// A view smaller than its page's layout is an older or a newer layout, or a section someone else
// made: nothing is read from it. A game that has ended leaves no view at all.
TEST(AssettoCorsaEvoReader, ViewsSmallerThanTheLayoutOrGoneGiveNoSample) {
    struct Case {
        const char* name;
        std::size_t physics, graphics, statics;
        bool read;
    } cases[] = {{"whole", 800, 4900, 208, true},          {"larger", 4096, 8192, 4096, true},
                 {"physics short", 799, 4900, 208, false}, {"graphics short", 800, 4899, 208, false},
                 {"static short", 800, 4900, 207, false},  {"ended", 0, 0, 0, false}};
    for (const Case& c : cases) {
        AcEvoPages pages;
        pages.physics.resize(c.physics), pages.graphics.resize(c.graphics), pages.statics.resize(c.statics);
        EXPECT_EQ(readAcEvoPages(pages).combo.empty(), !c.read) << c.name;
    }
}

TEST(AssettoCorsaEvoReader, ComesAfterLeMansUltimateAndWinsOverIt) {
    const Page lmu = lmuPage();
    EXPECT_EQ(readAcEvoPages(AcEvoPages(), lmu).combo, "ks_porsche_911_gt3_rs @ monza gp");
    AcEvoPages paused;
    putU32(paused.graphics, 4, 3);
    EXPECT_EQ(readAcEvoPages(paused, lmu).combo, "Ferrari 499P @ Le Mans");
}

TEST(AssettoCorsaEvoReader, EachLayoutVersionSeenIsLoggedOnce) {
    struct Step {
        std::size_t size;
        const char* version;
        const char* line;          // "" for none
    } steps[] = {{208, "", ""},    // the game has not written its page yet
                 {207, "0.6", ""}, // too small to be this layout
                 {208, "0.6", "Assetto Corsa EVO shared memory version: 0.6"},
                 {208, "0.6", ""},
                 {0, "", ""}, // the game ends and starts again
                 {208, "0.6", ""},
                 {208, "0.7 beta 12345678", "Assetto Corsa EVO shared memory version: 0.7 beta 123456"}};
    std::string logged;
    for (const Step& step : steps) {
        Page statics(208);
        putText(statics, 0, step.version);
        statics.resize(step.size);
        const auto line = acEvoVersionLine(statics, logged);
        EXPECT_EQ(line.value_or(""), step.line) << step.size << " " << step.version;
    }
}

} // namespace

TEST(IRacingReader, LiveCarGivesTheSessionsNamesAndItsSpeed) {
    const Page page = iracingPage();
    const TelemetrySample sample = readIRacingPage(page);
    EXPECT_EQ(sample.combo, irCombo);
    EXPECT_EQ(sample.speedKmh, 36.0f);
}

TEST(IRacingReader, OnlyAConnectedCarOnTrackOutsideAReplayIsLive) {
    struct Case {
        std::uint32_t status;
        bool onTrack, replay, live;
    };
    const Case cases[] = {
        {1, true, false, true},  {3, true, false, true},   {0, true, false, false},
        {2, true, false, false}, {1, false, false, false}, {1, true, true, false},
    };
    for (const Case& c : cases) {
        Page page = iracingPage();
        putU32(page, 4, c.status);
        putIRacingBuffer(page, 2, 12, 10.0f, c.onTrack, c.replay);
        const TelemetrySample sample = readIRacingPage(page);
        EXPECT_EQ(sample.combo.empty(), !c.live) << c.status << c.onTrack << c.replay;
    }
}

TEST(IRacingReader, TheBufferWithTheLargestTickIsRead) {
    Page page = iracingPage();
    putIRacingBuffer(page, 0, 500, 20.0f, true, false);
    putIRacingBuffer(page, 1, 498, 30.0f, true, false);
    putIRacingBuffer(page, 2, 499, 40.0f, false, false);
    putU32(page, 96, 999); // a fourth slot, beyond the three buffers the page has
    EXPECT_EQ(readIRacingPage(page).speedKmh, 72.0f);
}

TEST(IRacingReader, VariableMissingOrOfAnotherTypeGivesNoSample) {
    struct Case {
        std::size_t header;
        std::string_view name;
        std::uint32_t type;
    };
    const Case cases[] = {
        {4, "Velocity", 4},  {4, "Speed", 5},    {3, "IsOnTrackCar", 1},
        {3, "IsOnTrack", 2}, {1, "IsReplay", 1}, {1, "IsReplayPlaying", 0},
    };
    for (const Case& c : cases) {
        Page page = iracingPage();
        std::memset(page.data() + irVars + c.header * 144, 0, 144);
        putIRacingVariable(page, c.header, c.name, c.type, 4);
        EXPECT_EQ(readIRacingPage(page).combo, "") << c.name << " " << c.type;
    }
}

TEST(IRacingReader, TickThatMovesWhileReadGivesNoSample) {
    // The buffer lies in the second memory page; the rewrite stamps it anew.
    Page page = iracingPage(8192);
    putU32(page, 32, 1);
    putU32(page, 48, 10);
    putU32(page, 52, 5000);
    putU32(page, 5000 + 4, std::bit_cast<std::uint32_t>(10.0f));
    putU8(page, 5000 + 9, 1);
    TelemetrySample sample;
    auto read = [&](std::span<const std::uint8_t> view) { sample = readIRacingPage(view); };
    ASSERT_TRUE(readWhileRewritten(
        page, [](std::uint8_t* memory) { memory[48] = 11; }, read));
    EXPECT_EQ(sample.combo, "");
    // The same page, left alone, reads whole.
    ASSERT_TRUE(readWhileRewritten(
        page, [](std::uint8_t*) {}, read));
    EXPECT_EQ(sample.combo, irCombo);
}

TEST(IRacingReader, SessionTextRewrittenWhileParsedGivesNoSample) {
    // The text lies in the second memory page; the rewrite counts a new update.
    Page page = iracingPage(8192);
    putU32(page, 20, 6000);
    putText(page, 6000, irSession);
    TelemetrySample sample;
    ASSERT_TRUE(readWhileRewritten(
        page, [](std::uint8_t* memory) { memory[12] = 2; },
        [&](std::span<const std::uint8_t> view) { sample = readIRacingPage(view); }));
    EXPECT_EQ(sample.combo, "");
}

TEST(IRacingReader, SessionTextIsParsedAgainOnlyWhenItsUpdateChanges) {
    Page page = iracingPage();
    IRacingSessionCache cache;
    auto read = [&] {
        TelemetrySample sample;
        readOpenedGames({page, {}, {}, {}, {}}, cache, sample);
        return sample.combo;
    };
    EXPECT_EQ(read(), irCombo);
    putIRacingText(page, 1, "WeekendInfo:\n TrackDisplayName: Sebring\n");
    EXPECT_EQ(read(), irCombo);
    putU32(page, 12, 2);
    EXPECT_EQ(read(), " @ Sebring ");
}

TEST(RFactor2Reader, PlayerIsFoundByIdAndSpeedIsTheLengthOfItsVelocity) {
    struct Case {
        double x, y, z;
        float speedKmh;
    };
    const Case cases[] = {
        {0.0, 0.0, -20.0, 72.0f},
        {3.0, 4.0, 0.0, 18.0f},
        {0.0, -6.0, 8.0, 36.0f},
        {0.0, 0.0, 0.0, 0.0f},
    };
    for (const Case& c : cases) {
        const Rf2Pages pages = rf2Pages(c.x, c.y, c.z);
        const TelemetrySample sample = readRf2Pages(pages.scoring, pages.telemetry);
        EXPECT_EQ(sample.combo, "Oreca 07 @ Sebring");
        EXPECT_EQ(sample.speedKmh, c.speedKmh) << c.x << " " << c.y << " " << c.z;
    }
}

TEST(RFactor2Reader, PagesNotLiveOrNotWholeOrWithoutThePlayerGiveNoSample) {
    struct Case {
        const char* name;
        void (*change)(Rf2Pages&);
    };
    const Case cases[] = {
        {"not in realtime", [](Rf2Pages& p) { putU8(p.scoring, 127, 0); }},
        {"paused", [](Rf2Pages& p) { putU8(p.scoring, 120, 9); }},
        {"scoring being rewritten", [](Rf2Pages& p) { putU32(p.scoring, 0, 42); }},
        {"telemetry being rewritten", [](Rf2Pages& p) { putU32(p.telemetry, 0, 42); }},
        {"no player", [](Rf2Pages& p) { putU8(p.scoring, 560 + 584 + 196, 0); }},
        {"player past the vehicle count", [](Rf2Pages& p) { putU32(p.scoring, 116, 1); }},
        {"player's id not in telemetry", [](Rf2Pages& p) { putU32(p.telemetry, 16 + 2 * 1888, 8); }},
        {"player past the telemetry count", [](Rf2Pages& p) { putU32(p.telemetry, 12, 2); }},
        {"negative count", [](Rf2Pages& p) { putU32(p.scoring, 116, 0xFFFFFFFF); }},
    };
    for (const Case& c : cases) {
        Rf2Pages pages = rf2Pages();
        c.change(pages);
        const TelemetrySample sample = readRf2Pages(pages.scoring, pages.telemetry);
        EXPECT_EQ(sample.combo, "") << c.name;
        EXPECT_EQ(sample.speedKmh, 0.0f) << c.name;
    }
}

TEST(RFactor2Reader, RewriteBegunOrEndedWhileReadGivesNoSample) {
    // The scoring page's player (fourth vehicle, at 2312) lies in the second memory page.
    Rf2Pages pages = rf2Pages();
    pages.scoring.resize(8192);
    putU8(pages.scoring, 560 + 584 + 196, 0);
    putU32(pages.scoring, 116, 8);
    putScoringVehicle(pages.scoring, 560 + 7 * 584, 7, "Oreca 07", true);
    struct Case {
        const char* name;
        void (*rewrite)(std::uint8_t*);
        bool whole;
    };
    const Case cases[] = {
        {"left alone", [](std::uint8_t*) {}, true},
        {"begun", [](std::uint8_t* m) { m[0] = 42; }, false},
        {"begun and ended", [](std::uint8_t* m) { m[0] = m[4] = 42; }, false},
    };
    for (const Case& c : cases) {
        TelemetrySample sample;
        ASSERT_TRUE(readWhileRewritten(pages.scoring, c.rewrite, [&](std::span<const std::uint8_t> scoring) {
            sample = readRf2Pages(scoring, pages.telemetry);
        })) << c.name;
        EXPECT_EQ(sample.combo.empty(), !c.whole) << c.name;
    }
}

TEST(LeMansUltimateReader, LiveCarGivesItsNameTrackAndSpeedAndFreesTheLock) {
    const Page page = lmuPage();
    LmuLock lock;
    bool wake = true;
    const TelemetrySample sample = readLmuPage(page, lock, &wake);
    EXPECT_EQ(sample.combo, "Ferrari 499P @ Le Mans");
    EXPECT_EQ(sample.speedKmh, 180.0f);
    EXPECT_EQ(lock.busy(), 0);
    EXPECT_FALSE(wake);

    // Without a name in its telemetry entry, the car is named by the scoring entry of the player.
    Page unnamed = lmuPage();
    std::memset(unnamed.data() + 128468 + 2 * 1888 + 32, 0, 64);
    EXPECT_EQ(readLmuPage(unnamed, lock).combo, "Ferrari 499P @ Le Mans");
}

TEST(LeMansUltimateReader, BusyLockGivesNoSampleAndStaysTheGames) {
    const Page page = lmuPage();
    LmuLock lock;
    putU32(lock.bytes, 4, 1);
    EXPECT_EQ(readLmuPage(page, lock).combo, "");
    EXPECT_EQ(lock.busy(), 1);

    // A game waiting for the lock is to be woken once Ventora lets go.
    LmuLock waited;
    putU32(waited.bytes, 0, 1);
    bool wake = false;
    EXPECT_EQ(readLmuPage(page, waited, &wake).combo, "Ferrari 499P @ Le Mans");
    EXPECT_TRUE(wake);
    EXPECT_EQ(waited.busy(), 0);
    EXPECT_EQ(waited.waiters(), 1);

    // A lock cut short cannot be taken: no sample. No lock section at all: read without one.
    IRacingSessionCache cache;
    TelemetrySample sample;
    readOpenedGames({{}, {}, {}, page, std::span(lock.bytes, 7)}, cache, sample);
    EXPECT_EQ(sample.combo, "");
    readOpenedGames({{}, {}, {}, page, {}}, cache, sample);
    EXPECT_EQ(sample.combo, "Ferrari 499P @ Le Mans");
}

TEST(LeMansUltimateReader, NotLiveOrWithoutAVehicleGivesNoSample) {
    struct Case {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"not in realtime", 1747, 0},
        {"paused", 1740, 9},
        {"no player vehicle", 128466, 0},
        {"player index past the array", 128465, 104},
    };
    for (const Case& c : cases) {
        Page page = lmuPage();
        page.resize(128468 + 105 * 1888);
        putU8(page, c.offset, c.value);
        LmuLock lock;
        EXPECT_EQ(readLmuPage(page, lock).combo, "") << c.name;
        EXPECT_EQ(lock.busy(), 0) << c.name;
    }
}

TEST(OpenedGames, LastLiveGameInOrderWinsOverEveryEarlierGame) {
    Page iracing = iracingPage();
    Rf2Pages rf2 = rf2Pages();
    Page lmu = lmuPage();
    Page raceRoom(30844);
    putU32(raceRoom, 428, 5);
    putText(raceRoom, 620, "r3e car");
    struct Case {
        bool iracing, rf2, lmu;
        std::string_view combo;
    };
    const Case cases[] = {
        {false, false, false, "r3e car @  "},          {true, false, false, irCombo},
        {true, true, false, "Oreca 07 @ Sebring"},     {false, true, true, "Ferrari 499P @ Le Mans"},
        {true, false, true, "Ferrari 499P @ Le Mans"}, {true, true, true, "Ferrari 499P @ Le Mans"},
    };
    for (const Case& c : cases) {
        LmuLock lock;
        IRacingSessionCache cache;
        TelemetrySample sample = readTelemetrySample({{}, {}, {}, {}, raceRoom});
        const OpenedGameViews views{c.iracing ? PageView(iracing) : PageView(),
                                    c.rf2 ? PageView(rf2.scoring) : PageView(), PageView(rf2.telemetry),
                                    c.lmu ? PageView(lmu) : PageView(), lock.bytes};
        readOpenedGames(views, cache, sample);
        EXPECT_EQ(sample.combo, c.combo);
    }
}

TEST(OpenedGames, ShortViewsAreReadOnlyUpToTheirEnd) {
    struct Case {
        const char* game;
        std::size_t size;
        std::string_view combo;
    };
    const Case cases[] = {
        {"iracing", 3000 + 2 * 32 + 13, irCombo},     // up to the newest buffer's last value read
        {"iracing", 3000 + 2 * 32 + 12, ""},          // that value cut short
        {"rf2", 560 + 2 * 584, "Oreca 07 @ Sebring"}, // up to the end of the player's entry
        {"rf2", 560 + 2 * 584 - 1, ""},
        {"lmu", 128468 + 2 * 1888 + 208, "Ferrari 499P @ Le Mans"},
        {"lmu", 128468 + 2 * 1888 + 207, ""},
    };
    const Page iracing = iracingPage();
    const Rf2Pages rf2 = rf2Pages();
    const Page lmu = lmuPage();
    for (const Case& c : cases) {
        LmuLock lock;
        TelemetrySample sample;
        const std::string game = c.game;
        if (game == "iracing") sample = readIRacingPage(cut(iracing, c.size));
        if (game == "rf2") sample = readRf2Pages(cut(rf2.scoring, c.size), rf2.telemetry);
        if (game == "lmu") sample = readLmuPage(cut(lmu, c.size), lock);
        EXPECT_EQ(sample.combo, c.combo) << c.game << " " << c.size;
    }
    // Every length, for AddressSanitizer to watch.
    for (std::size_t size = 0; size <= iracing.size(); ++size)
        readIRacingPage(cut(iracing, size));
    for (std::size_t size = 0; size <= rf2.telemetry.size(); ++size)
        readRf2Pages(cut(rf2.scoring, std::min(size, rf2.scoring.size())), cut(rf2.telemetry, size));
    for (std::size_t size = 0; size <= lmu.size(); size += size < 2300 || size > 132000 ? 1 : 97) {
        LmuLock lock;
        readLmuPage(cut(lmu, size), lock);
    }
}
