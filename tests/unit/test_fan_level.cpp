// The fan level computation, tick by tick: levels, the learned top speed and the event lines.
#include "fan/fan_level.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

const std::string roadster = "Roadster @ Hillclimb Long";
constexpr float notANumber = std::numeric_limits<float>::quiet_NaN();
constexpr float infinity = std::numeric_limits<float>::infinity();

// One run of the program's loop as far as the fan level is concerned: the mode step, then the
// level step, with the lines of each tick collected.
struct Loop {
    SettingsRecord settings;
    TickState state;
    Lines lines;

    FanLevel tick(const std::string& combo, float speedKmh) {
        lines.clear();
        const LogLineSink log = [this](std::string line) { lines.push_back(std::move(line)); };
        updateMaxSpeedMode(settings, state, log);
        return computeFanLevel(TelemetrySample{combo, speedKmh}, settings, state, log);
    }
};

Lines maxSpeedLine(const char* value) {
    return {std::string("New max speed: ") + value};
}

TEST(FanLevel, WorkedExampleWithDefaultSettings) {
    struct Tick {
        std::string combo;
        float speedKmh;
        Lines lines;
        float learnedAfter;
        bool risingAfter;
        int level;
    };
    const Tick ticks[] = {
        {"", 0.0f, {"Automatic maximum car speed detection"}, 0.0f, false, 26},
        {roadster, 0.0f, {"New combo: " + roadster}, 0.0f, false, 0},
        {roadster, 50.0f, {}, 50.0f, true, 79},
        {roadster, 120.0f, {}, 120.0f, true, 79},
        {roadster, 100.0f, maxSpeedLine("120.000000"), 120.0f, false, 66}, // 65.8333
        {roadster, 60.0f, {}, 120.0f, false, 40},                          // 39.5
        {"", 0.0f, {}, 120.0f, false, 26},
        {roadster, 90.0f, {}, 120.0f, false, 59}, // 59.25
    };
    Loop run;
    int number = 0;
    for (const Tick& expected : ticks) {
        SCOPED_TRACE("tick " + std::to_string(++number));
        EXPECT_EQ(run.tick(expected.combo, expected.speedKmh), expected.level);
        EXPECT_EQ(run.lines, expected.lines);
        EXPECT_EQ(run.state.learnedMaxSpeed, expected.learnedAfter);
        EXPECT_EQ(run.state.maxSpeedRising, expected.risingAfter);
    }
    EXPECT_EQ(run.state.lastCombo, roadster);
}

TEST(FanLevel, ManualModeExamples) {
    struct Row {
        int speedMin, speedMax, maxCarSpeed;
        float speedKmh;
        int level;
    };
    const Row rows[] = {
        {10, 70, 250, 0.0f, 10},   // 10.0
        {10, 70, 250, 125.0f, 40}, // 40.0
        {10, 70, 250, 300.0f, 79}, // 82.0
        {-20, 79, 200, 0.0f, 0},   // -20.0
        {-20, 79, 200, 50.0f, 5},  // 4.75
        {79, 0, 200, 100.0f, 40},  // 39.5
        {20, 60, 1, 150.0f, 20},   // 20.0
        // Values no slider gives, straight from a settings file: the difference wraps as 32-bit
        // arithmetic (to -1 and to 1), with no overflow for the sanitizers to find.
        {INT32_MIN, INT32_MAX, 200, 100.0f, 0},
        {INT32_MAX, INT32_MIN, 200, 100.0f, 79},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.speedMin << ".." << row.speedMax << " over " << row.maxCarSpeed
                                        << " at " << row.speedKmh);
        Loop run;
        run.settings.speedMin = row.speedMin;
        run.settings.speedMax = row.speedMax;
        run.settings.maxCarSpeed = row.maxCarSpeed;
        EXPECT_EQ(run.tick(roadster, row.speedKmh), row.level);
    }
}

TEST(FanLevel, ModeIsLoggedOnFirstTickAndOnEachChangeBetweenZeroAndNonZero) {
    struct Step {
        int maxCarSpeed;
        Lines lines;
    };
    const Step steps[] = {
        {0, {"Automatic maximum car speed detection"}},
        {0, {}},
        {150, {"Manual maximum car speed"}},
        {200, {}},
        {0, {"Automatic maximum car speed detection"}},
    };
    Loop run;
    for (const Step& step : steps) {
        run.settings.maxCarSpeed = step.maxCarSpeed;
        EXPECT_EQ(run.tick("", 0.0f), 26); // also with no game live
        EXPECT_EQ(run.lines, step.lines) << "max car speed " << step.maxCarSpeed;
    }

    Loop manualFromStart;
    manualFromStart.settings.maxCarSpeed = 150;
    manualFromStart.tick("", 0.0f);
    EXPECT_EQ(manualFromStart.lines, Lines{"Manual maximum car speed"});
}

TEST(FanLevel, NoGameGivesLowByteOfSpeedOffAndLeavesLearnedStateAlone) {
    Loop run;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f); // a rise under way
    const struct {
        int speedOff;
        int level;
    } rows[] = {{26, 26}, {0, 0}, {79, 79}, {300, 44}, {-1, 255}}; // taken as is, never clamped
    for (const auto& row : rows) {
        run.settings.speedOff = row.speedOff;
        for (float speed : {0.0f, 300.0f, notANumber}) {
            EXPECT_EQ(run.tick("", speed), row.level) << "speedOff " << row.speedOff << " speed " << speed;
            EXPECT_TRUE(run.lines.empty());
        }
    }
    EXPECT_EQ(run.state.lastCombo, roadster);
    EXPECT_EQ(run.state.learnedMaxSpeed, 120.0f);
    EXPECT_TRUE(run.state.maxSpeedRising);
}

TEST(FanLevel, NewComboAtStandstillGivesSpeedMinClampedToZero) {
    for (const auto& [speedMin, level] : {std::pair{10, 10}, std::pair{-20, 0}}) {
        Loop run;
        run.settings.speedMin = speedMin;
        EXPECT_EQ(run.tick(roadster, 0.0f), level) << "speedMin " << speedMin;
    }
}

TEST(FanLevel, SpeedBelowOneKmhIsLearnedButNeitherScalesNorIsAnnounced) {
    Loop run;
    run.settings.speedMin = 10;
    EXPECT_EQ(run.tick(roadster, 0.8f), 10);
    EXPECT_EQ(run.state.learnedMaxSpeed, 0.8f);
    EXPECT_TRUE(run.state.maxSpeedRising);

    EXPECT_EQ(run.tick(roadster, 0.5f), 10);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_FALSE(run.state.maxSpeedRising);
}

TEST(FanLevel, TopSpeedIsAnnouncedOnlyAboveOneKmh) {
    const struct {
        float topSpeed;
        Lines lines;
    } rows[] = {
        {0.8f, {}},
        {1.0f, {}}, // compared strictly
        {std::nextafter(1.0f, 2.0f), maxSpeedLine("1.000000")},
        {2.0f, maxSpeedLine("2.000000")},
    };
    for (const auto& row : rows) {
        Loop run;
        run.tick(roadster, row.topSpeed);
        run.tick(roadster, 0.5f); // the rise ends here
        EXPECT_EQ(run.lines, row.lines) << "top speed " << row.topSpeed;
    }
}

TEST(FanLevel, RiseIsAnnouncedOnceOnFirstTickNotAboveTheMaximum) {
    Loop run;
    run.tick(roadster, 0.0f);
    run.tick(roadster, 50.0f);
    EXPECT_TRUE(run.lines.empty());
    run.tick(roadster, 120.0f);
    EXPECT_TRUE(run.lines.empty());
    run.tick(roadster, 120.0f); // equal ends the rise
    EXPECT_EQ(run.lines, maxSpeedLine("120.000000"));
    run.tick(roadster, 100.0f);
    EXPECT_TRUE(run.lines.empty());
}

TEST(FanLevel, AnnouncedTopSpeedShowsTheFloatWidenedToDouble) {
    Loop run;
    run.tick(roadster, 243.6f);
    run.tick(roadster, 200.0f);
    EXPECT_EQ(run.lines, maxSpeedLine("243.600006"));
}

TEST(FanLevel, ManualModeLearnsSilentlyAndAutomaticModeThenUsesWhatWasLearned) {
    Loop run;
    run.settings.maxCarSpeed = 250;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f);
    EXPECT_EQ(run.tick(roadster, 100.0f), 32); // 100 / 250 * 79 = 31.6
    EXPECT_EQ(run.lines, Lines{});
    EXPECT_EQ(run.state.learnedMaxSpeed, 120.0f);

    run.settings.maxCarSpeed = 0;
    EXPECT_EQ(run.tick(roadster, 60.0f), 40); // 60 / 120 * 79 = 39.5
    EXPECT_EQ(run.lines, Lines{"Automatic maximum car speed detection"});
}

TEST(FanLevel, SwitchToAutomaticDuringRiseAnnouncesWhenTheRiseEnds) {
    Loop run;
    run.settings.maxCarSpeed = 250;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f);
    run.settings.maxCarSpeed = 0;
    EXPECT_EQ(run.tick(roadster, 130.0f), 79);
    EXPECT_EQ(run.lines, Lines{"Automatic maximum car speed detection"});
    run.tick(roadster, 100.0f);
    EXPECT_EQ(run.lines, maxSpeedLine("130.000000"));
}

TEST(FanLevel, SwitchToManualDuringRiseEndsItWithoutAnnouncement) {
    Loop run;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f);
    run.settings.maxCarSpeed = 200;
    EXPECT_EQ(run.tick(roadster, 100.0f), 40); // 100 / 200 * 79 = 39.5
    EXPECT_EQ(run.lines, Lines{"Manual maximum car speed"});
    EXPECT_FALSE(run.state.maxSpeedRising);

    run.settings.maxCarSpeed = 0;
    run.tick(roadster, 90.0f);
    EXPECT_EQ(run.lines, Lines{"Automatic maximum car speed detection"}); // the rise is over
}

TEST(FanLevel, ManualMaximumOfOneKeepsSpeedMinAtEverySpeed) {
    Loop run;
    run.settings.speedMin = 20;
    run.settings.speedMax = 60;
    run.settings.maxCarSpeed = 1;
    for (float speed : {0.0f, 0.5f, 1.0f, 1.5f, 150.0f, 400.0f})
        EXPECT_EQ(run.tick(roadster, speed), 20) << "speed " << speed;
}

TEST(FanLevel, ValuesAreClampedAndRoundedHalvesAwayFromZero) {
    // 0.49999997 is the float just below a half: adding a half in float would round it up to 1.
    // 40.5 rounds away from zero, not to even.
    const struct {
        float value;
        int level;
    } rows[] = {
        {39.5f, 40}, {78.5f, 79},  {78.49f, 78}, {0.5f, 1},      {0.49999997f, 0}, {40.5f, 41},
        {79.0f, 79}, {79.01f, 79}, {1e9f, 79},   {infinity, 79}, {0.0f, 0},        {-0.0f, 0},
        {-0.4f, 0},  {-0.6f, 0},   {-20.0f, 0},  {-infinity, 0}, {notANumber, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(levelFromValue(row.value), row.level) << "value " << row.value;
}

TEST(FanLevel, MappingRoundsEachStepToSinglePrecision) {
    // 41 / 40 rounds to a float a little below 1.025; times 20 that rounds to 20.5 exactly, so the
    // value is 0.5. Carried in double, or fused into one multiply-add, it stays below 0.5.
    Loop run;
    run.settings.speedMin = -20;
    run.settings.speedMax = 0;
    run.settings.maxCarSpeed = 40;
    EXPECT_EQ(run.tick(roadster, 41.0f), 1);
    EXPECT_EQ(run.tick(roadster, 47.0f), 4); // 3.5, likewise
}

TEST(FanLevel, ReturningAfterEmptyTicksKeepsTheComboAndItsMaximum) {
    Loop run;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f); // rising when the game stops
    for (int i = 0; i < 3; ++i)
        run.tick("", 0.0f);

    EXPECT_EQ(run.tick(roadster, 60.0f), 40);         // 39.5 against the kept 120
    EXPECT_EQ(run.lines, maxSpeedLine("120.000000")); // the interrupted rise ends here
    EXPECT_EQ(run.state.learnedMaxSpeed, 120.0f);
}

TEST(FanLevel, ReturningAfterAnotherComboCountsAsNew) {
    Loop run;
    run.tick(roadster, 120.0f);
    run.tick(roadster, 100.0f);

    run.tick("Coupe @ Ring GP", 0.0f);
    EXPECT_EQ(run.lines, Lines{"New combo: Coupe @ Ring GP"});
    EXPECT_EQ(run.state.learnedMaxSpeed, 0.0f);

    EXPECT_EQ(run.tick(roadster, 60.0f), 79); // the new maximum is this very speed
    EXPECT_EQ(run.lines, Lines{"New combo: " + roadster});
    EXPECT_EQ(run.state.learnedMaxSpeed, 60.0f);

    run.tick("roadster @ hillclimb long", 0.0f); // compared case by case
    EXPECT_EQ(run.lines, Lines{"New combo: roadster @ hillclimb long"});
}

TEST(FanLevel, SpeedThatIsNotANumberGivesZeroAndEndsTheRise) {
    Loop run;
    run.settings.speedMin = 10;
    run.tick(roadster, 50.0f);
    run.tick(roadster, 120.0f);
    EXPECT_EQ(run.tick(roadster, notANumber), 0);
    EXPECT_EQ(run.lines, maxSpeedLine("120.000000"));
    EXPECT_EQ(run.state.learnedMaxSpeed, 120.0f);

    run.settings.maxCarSpeed = 200;
    EXPECT_EQ(run.tick(roadster, notANumber), 0);
}

TEST(FanLevel, InfiniteSpeeds) {
    // Automatic: an infinite maximum makes speed / maximum NaN at that speed and 0 below it.
    Loop automatic;
    automatic.settings.speedMin = 10;
    EXPECT_EQ(automatic.tick(roadster, infinity), 0);
    EXPECT_EQ(automatic.state.learnedMaxSpeed, infinity);
    EXPECT_EQ(automatic.tick(roadster, 100.0f), 10);
    ASSERT_EQ(automatic.lines.size(), 1u);
    EXPECT_EQ(automatic.lines[0].rfind("New max speed: ", 0), 0u);

    const struct {
        int speedMin, speedMax;
        float speedKmh;
        int level;
    } manualRows[] = {
        {10, 70, infinity, 79},
        {10, 70, -infinity, 0},
        {70, 10, infinity, 0},
        {40, 40, infinity, 0}, // infinity times a zero span is not a number
    };
    for (const auto& row : manualRows) {
        Loop manual;
        manual.settings.speedMin = row.speedMin;
        manual.settings.speedMax = row.speedMax;
        manual.settings.maxCarSpeed = 250;
        EXPECT_EQ(manual.tick(roadster, row.speedKmh), row.level)
            << row.speedMin << ".." << row.speedMax << " at " << row.speedKmh;
    }
}

} // namespace
