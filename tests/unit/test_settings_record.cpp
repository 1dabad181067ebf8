// The settings file's byte layout: what a stored config.bin means, whatever its length.
#include <gtest/gtest.h>

#include <vector>

#include "settings/settings_record.h"

namespace {

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<std::uint8_t> bytes;
    for (int value : values)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

void expectRecord(const SettingsRecord& record, std::int32_t port, std::int32_t off, std::int32_t min,
                  std::int32_t max, std::int32_t carSpeed) {
    EXPECT_EQ(record.portIndex, port);
    EXPECT_EQ(record.speedOff, off);
    EXPECT_EQ(record.speedMin, min);
    EXPECT_EQ(record.speedMax, max);
    EXPECT_EQ(record.maxCarSpeed, carSpeed);
}

TEST(SettingsFile, DefaultsEncodeAsTheTwentyKnownBytes) {
    const auto bytes = encodeSettings(SettingsRecord{});
    const auto expected = bytesOf({0, 0, 0, 0, 0x1A, 0, 0, 0, 0, 0, 0, 0, 0x4F, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(SettingsFile, FieldsAreLittleEndianTwosComplementInOrder) {
    const SettingsRecord record{12, 200, -20, 99, 0x01020304};
    const auto bytes = encodeSettings(record);
    const auto expected = bytesOf({12, 0, 0, 0, 200, 0, 0, 0, 0xEC, 0xFF, 0xFF, 0xFF, 99, 0, 0, 0, 4, 3, 2, 1});
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), expected);
    const auto decoded = overlaySettings(SettingsRecord{}, bytes);
    expectRecord(decoded, 12, 200, -20, 99, 0x01020304);
}

TEST(SettingsFile, EmptyFileLeavesTheDefaults) {
    expectRecord(overlaySettings(SettingsRecord{}, {}), 0, 26, 0, 79, 0);
}

TEST(SettingsFile, SixByteFileReplacesPortAndTheLowBytesOfSpeedOff) {
    // speedOff's low two bytes come from the file (0x0102), its high two stay those of 26 (zero).
    const auto bytes = bytesOf({3, 0, 0, 0, 0x02, 0x01});
    expectRecord(overlaySettings(SettingsRecord{}, bytes), 3, 0x0102, 0, 79, 0);
}

TEST(SettingsFile, BytesPastTheTwentiethAreIgnored) {
    auto bytes = bytesOf({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0});
    bytes.resize(30, 0xFF);
    expectRecord(overlaySettings(SettingsRecord{}, bytes), 1, 2, 3, 4, 5);
}

TEST(SettingsFile, ValuesOutsideTheSliderRangesAreKeptAsStored) {
    const auto bytes = bytesOf({0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0x80});
    const auto record = overlaySettings(SettingsRecord{}, bytes);
    EXPECT_EQ(record.portIndex, 0x7FFFFFFF);
    EXPECT_EQ(record.speedOff, static_cast<std::int32_t>(0x80000000u));
}

} // namespace
