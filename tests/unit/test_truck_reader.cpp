// Ventora's reader of the trucks' record, tick by tick: when a truck counts as driven, its combo by
// game, its speed in km/h, and a torn or stale record giving no sample.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "telemetry/opened/opened_games.h"
#include "telemetry/opened/plugin_readers.h"
#include "plugin_record/plugin_record.h"

namespace {

struct TruckSection {
    alignas(4) std::uint8_t bytes[pluginRecord::sectionSize] = {};
    std::uint32_t sequence = 0;
    PluginRecord record;

    TruckSection(const char* gameId, const char* brand, const char* name, bool live, float metresPerSecond) {
        copyBoundedText(gameId, record.gameId, sizeof record.gameId);
        copyBoundedText(brand, record.firstName, sizeof record.firstName);
        copyBoundedText(name, record.secondName, sizeof record.secondName);
        record.live = live;
        record.metresPerSecond = metresPerSecond;
        frame();
    }
    void frame() { writePluginRecord(bytes, record, sequence); }
};

// Reads the section at `nowMs` into a sample that an earlier game already filled.
TelemetrySample readAt(const TruckSection& section, PluginWatch& watch, std::uint64_t nowMs) {
    TelemetrySample sample{"earlier game", 1.0f};
    IRacingSessionCache cache;
    OpenedGameViews views{};
    views.trucks = {section.bytes, &watch, nowMs};
    readOpenedGames(views, cache, sample);
    return sample;
}

// The ticks at 1000 ms (the first sight, which only marks the sequence) and at 1100 ms, after one
// frame: from then on the truck counts as driven. Returns the second tick's sample.
TelemetrySample seeItMove(TruckSection& section, PluginWatch& watch) {
    EXPECT_EQ(readAt(section, watch, 1000).combo, "earlier game");
    section.frame();
    return readAt(section, watch, 1100);
}

TEST(TruckReader, ADrivenTruckGivesItsComboAndSpeedByGame) {
    struct Case {
        const char* gameId;
        float metresPerSecond;
        std::string combo;
        float kmh;
    };
    const Case cases[] = {
        {"eut2", 25.0f, "Scania R 730 @ Euro Truck Simulator 2", 90.0f},
        {"ats", 10.0f, "Scania R 730 @ American Truck Simulator", 36.0f},
        {"eut2", -10.0f, "Scania R 730 @ Euro Truck Simulator 2", 36.0f}, // reversing blows too
        {"eut3", 0.0f, "Scania R 730 @ eut3", 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gameId);
        TruckSection section(c.gameId, "Scania", "R 730", true, c.metresPerSecond);
        PluginWatch watch;
        const TelemetrySample sample = seeItMove(section, watch);
        EXPECT_EQ(sample.combo, c.combo);
        EXPECT_EQ(sample.speedKmh, c.kmh);
    }
}

TEST(TruckReader, OnlyALiveRecordWhoseSequenceMovedWithinASecondCounts) {
    struct Case {
        const char* what;
        bool live;
        bool framed;          // a frame between the reads at 1000 and 1100 ms
        bool moveAgain;       // another frame before the last read
        std::uint64_t lastMs; // the last read; the sequence moved at 1100
        bool driven;
    };
    const Case cases[] = {
        {"moving", true, true, true, 1200, true},
        {"paused", false, true, true, 1200, false},
        {"frames stopped a second ago", true, true, false, 2100, true},
        {"frames stopped longer ago", true, true, false, 2101, false},
        // A game hung with its section still there: live, but its sequence never moved.
        {"read again and again with no frame between", true, false, false, 1200, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TruckSection section("eut2", "DAF", "XF", true, 20.0f);
        PluginWatch watch;
        readAt(section, watch, 1000);
        if (c.framed) section.frame();
        readAt(section, watch, 1100);
        section.record.live = c.live;
        if (c.moveAgain) section.frame();
        EXPECT_EQ(readAt(section, watch, c.lastMs).combo != "earlier game", c.driven);
        // Stale, so that Ventora opens the name afresh, only when the frames stopped.
        EXPECT_EQ(pluginRecordStale(watch, c.lastMs), c.lastMs > 2100);
    }
}

TEST(TruckReader, ARecordNotWholeOrOfAnotherFormatGivesNoSampleThatTick) {
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
        std::size_t size;
    };
    const Case cases[] = {
        {"mid-rewrite: the sequence is odd", 4, 5, pluginRecord::size},
        {"another format", 0, 3, pluginRecord::size},
        {"a section too small for a format 1 record", 0, 1, pluginRecord::firstFormatSize - 1},
        {"a section too small for a format 2 record", 0, 2, pluginRecord::size - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TruckSection section("eut2", "Iveco", "S-Way", true, 20.0f);
        PluginWatch watch;
        ASSERT_EQ(seeItMove(section, watch).combo, "Iveco S-Way @ Euro Truck Simulator 2");
        section.frame();
        section.bytes[c.offset] = c.value;
        TelemetrySample sample{"earlier game", 1.0f};
        readTrucks({std::span(section.bytes, c.size), &watch, 1200}, sample);
        EXPECT_EQ(sample.combo, "earlier game");
        section.frame(); // the plugin's next whole frame counts again
        EXPECT_EQ(readAt(section, watch, 1300).combo, "Iveco S-Way @ Euro Truck Simulator 2");
    }
}

TEST(TruckReader, ANameWithoutItsNulIsCutAtItsRoom) {
    TruckSection section("eut2", "", "FH", true, 20.0f);
    PluginWatch watch;
    seeItMove(section, watch);
    section.frame();
    std::memset(section.bytes + 32, 'x', 64); // the brand's whole room, NUL included
    EXPECT_EQ(readAt(section, watch, 1200).combo, std::string(63, 'x') + " FH @ Euro Truck Simulator 2");
}

// The plugin rewrites the record once a frame while Ventora copies it from another thread (another
// process, in the game): a copy the writer overtook must never be taken for a truck.
TEST(TruckReader, ACopyOvertakenByTheGamesNextFrameIsNeverTaken) {
    TruckSection first("eut2", "Scania", "R 730", true, 25.0f);
    TruckSection second("ats", "Peterbilt", "579", true, 10.0f);
    const std::string firstCombo = "Scania R 730 @ Euro Truck Simulator 2";
    const std::string secondCombo = "Peterbilt 579 @ American Truck Simulator";
    alignas(4) std::uint8_t shared[pluginRecord::sectionSize] = {};
    std::uint32_t sequence = 0;
    writePluginRecord(shared, first.record, sequence);

    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (std::uint64_t frame = 0; !stop.load(std::memory_order_relaxed); ++frame)
            writePluginRecord(shared, frame % 2 ? first.record : second.record, sequence);
    });
    // A reader that took torn copies met one well within this many reads, even with both threads
    // pinned to one busy core; the deadline only keeps a starved run from hanging.
    constexpr int reads = 4'000'000;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    PluginWatch watch;
    int taken[2] = {};
    std::string torn;
    for (int read = 0; read < reads && torn.empty(); ++read) {
        if (read % 4096 == 0 && std::chrono::steady_clock::now() > deadline) break;
        TelemetrySample sample{"", 0.0f};
        readTrucks({std::span<const std::uint8_t>(shared), &watch, 1000}, sample);
        if (sample.combo.empty()) continue;
        if (sample.combo == firstCombo && sample.speedKmh == 90.0f)
            ++taken[0];
        else if (sample.combo == secondCombo && sample.speedKmh == 36.0f)
            ++taken[1];
        else
            torn = sample.combo + " at " + std::to_string(sample.speedKmh) + " km/h after " +
                   std::to_string(read) + " reads";
    }
    stop = true;
    writer.join();
    EXPECT_EQ(torn, "");
    // Both frames were read whole many times: the race was really run.
    EXPECT_GT(taken[0], 0);
    EXPECT_GT(taken[1], 0);
}

TEST(TruckReader, NoSectionNoSample) {
    PluginWatch watch;
    TelemetrySample sample{"earlier game", 1.0f};
    readTrucks({{}, &watch, 1000}, sample);
    readTrucks({{}, &watch, 2000}, sample);
    EXPECT_EQ(sample.combo, "earlier game");
    EXPECT_FALSE(watch.seen);
}

} // namespace
