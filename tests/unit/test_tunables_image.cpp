// The tunables block in a firmware image: found, read, and changed only within its ranges.
#include <gtest/gtest.h>

#include <vector>

#include "board_setup/tunables_image.h"

namespace {

using namespace tunablesBlock;

// An image as the firmware's build lays it out: code before the block and after it, the block's
// values as tunables.h has them.
std::vector<std::uint8_t> imageWithBlock(std::uint8_t variant, std::size_t at = 0x68,
                                         std::uint8_t format = formatVersion) {
    std::vector<std::uint8_t> image(0x400, 0x0C);
    std::copy(std::begin(marker), std::end(marker), image.begin() + static_cast<long>(at));
    const auto put16 = [&](std::size_t offset, std::uint16_t value) {
        image[at + offset] = static_cast<std::uint8_t>(value);
        image[at + offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    image[at + formatVersionOffset] = format;
    image[at + blockSizeOffset] = format == formatVersion ? blockSize : blockSizeWithoutSides;
    image[at + variantOffset] = variant;
    image[at + versionMajorOffset] = 1;
    image[at + versionMinorOffset] = 1;
    image[at + versionPatchOffset] = 0;
    image[at + minimumDutyPercentOffset] = 30;
    image[at + kickStartBelowPercentOffset] = 50;
    put16(kickStartMillisecondsOffset, 500);
    put16(failsafeMillisecondsOffset, 1000);
    put16(escArmingMillisecondsOffset, 2000);
    put16(escOffPulseMicrosecondsOffset, 1000);
    put16(escFullPulseMicrosecondsOffset, 2000);
    put16(pwmFrequencyHzOffset, 20000);
    if (format == formatVersion) {
        image[at + sideWindPercentOffset] = 50;
        image[at + leftFanOutputOffset] = 1;
    }
    return image;
}

std::size_t field(const char* option) {
    return findTunableField(option).value();
}

TEST(TunablesImage, ReadsTheBlockWhereverItLiesInTheSearchWindow) {
    for (std::size_t at : {std::size_t{0}, std::size_t{0x68}, std::size_t{searchWindow - blockSize}}) {
        const TunablesReading reading = readTunables(imageWithBlock(pwmFans, at));
        ASSERT_TRUE(reading.tunables) << at << ": " << reading.problem;
        EXPECT_EQ(reading.offset, at);
        EXPECT_EQ(reading.tunables->variant, pwmFans);
        EXPECT_EQ(reading.tunables->version, (std::array<std::uint8_t, 3>{1, 1, 0}));
        EXPECT_EQ(
            describeTunables(*reading.tunables),
            "--min-duty 30 --kick-below 50 --kick-ms 500 --failsafe-ms 1000 --side-wind 50 --left-fan 1");
    }
    const TunablesReading esc = readTunables(imageWithBlock(escs));
    ASSERT_TRUE(esc.tunables);
    EXPECT_EQ(describeTunables(*esc.tunables), "--failsafe-ms 1000 --arming-ms 2000 --esc-off-us 1000 "
                                               "--esc-full-us 2000 --side-wind 50 --left-fan 1");
}

TEST(TunablesImage, SaysWhyAnImageHasNoBlockToRead) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
        const char* problem;
    } cases[] = {
        {"another program", std::vector<std::uint8_t>(0x400, 0x0C), "not Ventora's firmware"},
        {"past the search window", imageWithBlock(pwmFans, searchWindow - blockSize + 1),
         "past the first 256 bytes"},
        {"an image cut inside the block",
         [] {
             auto i = imageWithBlock(pwmFans);
             i.resize(0x70);
             return i;
         }(),
         "cut short"},
        {"a newer format",
         [] {
             auto i = imageWithBlock(pwmFans);
             i[0x68 + formatVersionOffset] = 4;
             return i;
         }(),
         "format 4"},
        {"the older format a 1.1.0 board holds",
         [] {
             auto i = imageWithBlock(pwmFans);
             i[0x68 + formatVersionOffset] = 1;
             return i;
         }(),
         "older tunables block (format 1)"},
        {"a longer block",
         [] {
             auto i = imageWithBlock(pwmFans);
             i[0x68 + blockSizeOffset] = 32;
             return i;
         }(),
         "size 32"},
    };
    for (const Case& c : cases) {
        const TunablesReading reading = readTunables(c.image);
        EXPECT_FALSE(reading.tunables) << c.what;
        EXPECT_NE(reading.problem.find(c.problem), std::string::npos) << c.what << ": " << reading.problem;
    }
}

// A board flashed by 1.2.0 or 1.3.0 holds format 2, the block without the side's two values: read,
// checked and kept as the board's tuning, never written with a value it has no room for.
TEST(TunablesImage, ReadsAndKeepsAnOlderBlockWithoutTheSides) {
    auto older = imageWithBlock(pwmFans, 0x68, formatWithoutSides);
    older[0x68 + minimumDutyPercentOffset] = 40;
    const TunablesReading reading = readTunables(older);
    ASSERT_TRUE(reading.tunables) << reading.problem;
    EXPECT_FALSE(takesSides(*reading.tunables));
    EXPECT_EQ(describeTunables(*reading.tunables),
              "--min-duty 40 --kick-below 50 --kick-ms 500 --failsafe-ms 1000");
    EXPECT_EQ(blockProblem(older, pwmFans), "");
    EXPECT_NE(
        applyTunables(older, {{field("left-fan"), 2}}).find("--left-fan needs Ventora's firmware 1.4.0"),
        std::string::npos);

    // Kept into a new image of another kind: the values that kind uses, the side's at their defaults.
    auto image = imageWithBlock(driver);
    ASSERT_EQ(applyTunables(image, keptTunables(*reading.tunables, driver)), "");
    const TunablesReading kept = readTunables(image);
    ASSERT_TRUE(kept.tunables);
    EXPECT_TRUE(takesSides(*kept.tunables));
    EXPECT_EQ(describeTunables(*kept.tunables),
              "--min-duty 40 --kick-below 50 --kick-ms 500 --failsafe-ms 1000 --pwm-hz 20000 --side-wind 50 "
              "--left-fan 1");
}

TEST(TunablesImage, WritesEachValueLittleEndianAndLeavesTheRestAlone) {
    const auto original = imageWithBlock(pwmFans);
    auto image = original;
    ASSERT_EQ(applyTunables(image, {{field("min-duty"), 40}, {field("failsafe-ms"), 0x1234}}), "");
    EXPECT_EQ(image[0x68 + minimumDutyPercentOffset], 40);
    EXPECT_EQ(image[0x68 + failsafeMillisecondsOffset], 0x34);
    EXPECT_EQ(image[0x68 + failsafeMillisecondsOffset + 1], 0x12);
    std::size_t changed = 0;
    for (std::size_t i = 0; i < image.size(); ++i)
        changed += image[i] != original[i];
    EXPECT_EQ(changed, 3u);
    EXPECT_EQ(readTunables(image).tunables->values[field("min-duty")], 40);
}

TEST(TunablesImage, RefusesAValueOutsideItsRangeOrVariantAndChangesNothing) {
    struct Case {
        const char* what;
        std::uint8_t variant;
        std::vector<TunableChange> changes;
        const char* message;
    } cases[] = {
        {"duty 0",
         pwmFans,
         {{field("min-duty"), 0}},
         "--min-duty must be from 1 to 100 %; 0 is out of range"},
        {"duty 101", pwmFans, {{field("min-duty"), 101}}, "--min-duty must be from 1 to 100 %; 101"},
        {"a long kick", pwmFans, {{field("kick-ms"), 5001}}, "--kick-ms must be from 0 to 5000 ms"},
        {"a failsafe near a tick",
         pwmFans,
         {{field("failsafe-ms"), 299}},
         "--failsafe-ms must be from 300 to 5000"},
        {"a valid value before a bad one",
         pwmFans,
         {{field("min-duty"), 40}, {field("kick-below"), 200}},
         "--kick-below must be from 0 to 100"},
        {"an ESC value for fans",
         pwmFans,
         {{field("arming-ms"), 1000}},
         "--arming-ms is for ESCs, and this image drives PWM fans"},
        {"a fan value for ESCs",
         escs,
         {{field("min-duty"), 40}},
         "--min-duty is for every kind but ESCs, and this image drives ESCs"},
        {"a pulse too short", escs, {{field("esc-off-us"), 499}}, "--esc-off-us must be from 500 to 1100 us"},
        {"an off pulse where many ESCs turn",
         escs,
         {{field("esc-off-us"), 1101}},
         "--esc-off-us must be from 500 to 1100 us; 1101 is out of range: the off pulse must be your ESCs' "
         "own "
         "stop, 1000 us for most"},
        {"an off pulse of 20 % throttle",
         escs,
         {{field("esc-off-us"), 1200}},
         "--esc-off-us must be from 500 to 1100 us"},
        {"full too close above off",
         escs,
         {{field("esc-off-us"), 1100}, {field("esc-full-us"), 1399}},
         "--esc-full-us (1399) must be at least 300 above --esc-off-us (1100)"},
    };
    for (const Case& c : cases) {
        const auto original = imageWithBlock(c.variant);
        auto image = original;
        const std::string message = applyTunables(image, c.changes);
        EXPECT_NE(message.find(c.message), std::string::npos) << c.what << ": " << message;
        EXPECT_EQ(image, original) << c.what;
    }
    std::vector<std::uint8_t> other(0x400, 0x0C);
    EXPECT_NE(applyTunables(other, {{field("min-duty"), 40}}).find("not Ventora's firmware"),
              std::string::npos);
}

TEST(TunablesImage, TakesEachFieldsLowestAndHighestAndRefusesOnePast) {
    // The ranges written out here, not taken from the block's header: a bound mistyped there is
    // caught too.
    struct Case {
        const char* option;
        std::uint8_t variant;
        std::uint32_t lowest, highest;
        std::vector<TunableChange> with; // what the lowest needs beside it
    } cases[] = {
        {"min-duty", pwmFans, 1, 100, {}},
        {"kick-below", pwmFans, 0, 100, {}},
        {"kick-ms", pwmFans, 0, 5000, {}},
        {"failsafe-ms", pwmFans, 300, 5000, {}},
        {"arming-ms", escs, 0, 10000, {}},
        {"esc-off-us", escs, 500, 1100, {}},
        {"esc-full-us", escs, 800, 2500, {{field("esc-off-us"), 500}}},
        {"pwm-hz", driver, 1000, 25000, {}},
    };
    for (const Case& c : cases) {
        for (const std::uint32_t value : {c.lowest, c.highest}) {
            auto image = imageWithBlock(c.variant);
            auto changes = c.with;
            changes.push_back({field(c.option), value});
            EXPECT_EQ(applyTunables(image, changes), "") << c.option << ' ' << value;
            EXPECT_EQ(readTunables(image).tunables->values[field(c.option)], value) << c.option;
        }
        std::vector<std::uint32_t> onePast{c.highest + 1};
        if (c.lowest > 0) onePast.push_back(c.lowest - 1);
        for (const std::uint32_t value : onePast) {
            const auto original = imageWithBlock(c.variant);
            auto image = original;
            auto changes = c.with;
            changes.push_back({field(c.option), value});
            const std::string message = applyTunables(image, changes);
            EXPECT_NE(message.find("--" + std::string(c.option) + " must be from " +
                                   std::to_string(c.lowest) + " to " + std::to_string(c.highest)),
                      std::string::npos)
                << c.option << ' ' << value << ": " << message;
            EXPECT_EQ(image, original) << c.option << ' ' << value;
        }
    }
}

TEST(TunablesImage, NamesWhatMakesAnImagesBlockNotWhole) {
    const auto with16 = [](std::uint8_t variant, std::uint8_t offset, std::uint16_t value) {
        auto image = imageWithBlock(variant);
        image[0x68 + offset] = static_cast<std::uint8_t>(value);
        image[0x68 + offset + 1] = static_cast<std::uint8_t>(value >> 8);
        return image;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
        std::uint8_t expectedVariant;
        const char* problem; // empty: flashed as it is
    } cases[] = {
        {"a whole block", imageWithBlock(pwmFans), pwmFans, ""},
        {"a whole block of any kind", imageWithBlock(driver), 0, ""},
        {"another program, without a block", std::vector<std::uint8_t>(0x400, 0x0C), pwmFans, ""},
        {"a failsafe of a minute", with16(pwmFans, failsafeMillisecondsOffset, 60000), 0,
         "--failsafe-ms is 60000, outside 300 to 5000 ms"},
        {"an off pulse that turns a motor", with16(escs, escOffPulseMicrosecondsOffset, 2499), escs,
         "--esc-off-us is 2499, outside 500 to 1100 us"},
        {"an erased PWM rate", with16(driver, pwmFrequencyHzOffset, 0xFFFF), 0,
         "--pwm-hz is 65535, outside 1000 to 25000 Hz"},
        {"pulses too close", with16(escs, escFullPulseMicrosecondsOffset, 1100), escs,
         "--esc-full-us (1100) is not at least 300 above --esc-off-us (1000)"},
        {"another kind than asked for", imageWithBlock(pwmFans), escs, "output kind 1, not the ESCs"},
        {"a kind that does not exist", imageWithBlock(9), 0, "output kind 9"},
        {"an erased block after the marker",
         [] {
             auto i = imageWithBlock(pwmFans);
             std::fill(i.begin() + 0x68 + sizeof marker, i.begin() + 0x68 + blockSize, 0xFF);
             return i;
         }(),
         0, "cannot be checked: a tunables block of format 255"},
    };
    for (const Case& c : cases) {
        const std::string problem = blockProblem(c.image, c.expectedVariant);
        if (*c.problem == 0)
            EXPECT_EQ(problem, "") << c.what;
        else
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    }
}

TEST(TunablesImage, KnowsEveryOptionByItsName) {
    for (const TunableField& f : tunableFields)
        EXPECT_EQ(tunableFields[findTunableField(f.option).value()].offset, f.offset);
    EXPECT_FALSE(findTunableField("min_duty"));
    EXPECT_FALSE(findTunableField("--min-duty"));
}

} // namespace
