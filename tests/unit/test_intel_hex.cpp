// The Intel HEX reader: the files avr-objcopy writes, and the damaged ones a user may hand over.
#include <gtest/gtest.h>

#include <string>

#include "board_setup/intel_hex.h"

namespace {

// A record with its checksum worked out here, so a case states only what it means.
std::string record(int type, unsigned address, std::initializer_list<int> data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) + type;
    char text[16];
    std::string line = ":";
    std::snprintf(text, sizeof text, "%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    line += text;
    for (int byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        line += text;
        sum += static_cast<unsigned>(byte);
    }
    std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + text;
}

const std::string endOfFile = ":00000001FF\n";

TEST(IntelHex, ReadsTheRecordsOfAFirmware) {
    struct Case {
        const char* what;
        std::string text;
        std::size_t end;
        std::size_t at;
        int byte;
    } cases[] = {
        {"one data record", record(0, 0, {0x0C, 0x94, 0x34}) + endOfFile, 3, 2, 0x34},
        {"a gap reads as erased flash", record(0, 0, {1}) + record(0, 0x10, {2}) + endOfFile, 0x11, 5, 0xFF},
        {"records in any order", record(0, 0x10, {2}) + record(0, 0, {1}) + endOfFile, 0x11, 0, 1},
        {"CR LF lines and lower case", ":0300000001ab024F\r\n:00000001ff\r\n", 3, 1, 0xAB},
        {"an extended linear address of 0", record(4, 0, {0, 0}) + record(0, 0x100, {7}) + endOfFile, 0x101,
         0x100, 7},
        {"an extended segment address", record(2, 0, {0x01, 0x00}) + record(0, 4, {9}) + endOfFile, 0x1005,
         0x1004, 9},
        {"the start address record is skipped", record(0, 0, {5}) + record(3, 0, {0, 0, 0, 0}) + endOfFile, 1,
         0, 5},
        {"lines after the end are ignored", record(0, 0, {5}) + endOfFile + "junk\n", 1, 0, 5},
        {"the last byte of flash", record(0, 0x7FFF, {0x42}) + endOfFile, 0x8000, 0x7FFF, 0x42},
        {"a record of no bytes adds nothing", record(0, 0, {5}) + record(0, 0x7FFF, {}) + endOfFile, 1, 0, 5},
    };
    for (const Case& c : cases) {
        const HexReading reading = readIntelHex(c.text);
        EXPECT_EQ(reading.error, "") << c.what;
        ASSERT_EQ(reading.image.end(), c.end) << c.what;
        EXPECT_EQ(reading.image.bytes[c.at], c.byte) << c.what;
    }
}

TEST(IntelHex, RefusesADamagedFileNamingTheLine) {
    struct Case {
        const char* what;
        std::string text;
        const char* error; // a part of the message
    } cases[] = {
        {"a bad checksum", record(0, 0, {1, 2}) + ":0200100001030A\n" + endOfFile,
         "line 2: bad checksum 0x0A (the record's bytes need 0xEA)"},
        {"overlapping records", record(0, 0, {1, 2, 3, 4}) + record(0, 2, {9}) + endOfFile,
         "line 2: overlapping records: 0x0002"},
        {"past the 32 KB flash", record(0, 0x7FFF, {1, 2}) + endOfFile,
         "line 1: data at 0x07FFF reaches past"},
        {"a high linear address", record(4, 0, {0, 1}) + record(0, 0, {1}) + endOfFile,
         "line 2: data at 0x10000"},
        {"no end record", record(0, 0, {1}), "no end-of-file record"},
        {"no colon", "0300000001AB024F\n" + endOfFile, "line 1: not an Intel HEX record"},
        {"a bad digit", ":03000000G1AB024F\n" + endOfFile,
         "line 1: not an Intel HEX record (bad hex digits)"},
        {"a length that does not match", ":0400000001AB024E\n" + endOfFile, "line 1: the record's length"},
        {"an unknown record type", record(7, 0, {}) + endOfFile, "line 1: unknown record type 07"},
        {"an empty file", "", "no end-of-file record"},
        {"only an end record", endOfFile, "no data record"},
        {"only records of no bytes", ":00010000FF\n" + endOfFile, "no data record"},
        {"a record of no bytes past the flash", record(4, 0, {0, 1}) + record(0, 0, {}) + endOfFile,
         "no data record"},
    };
    for (const Case& c : cases) {
        const HexReading reading = readIntelHex(c.text);
        EXPECT_NE(reading.error.find(c.error), std::string::npos) << c.what << ": " << reading.error;
    }
}

TEST(IntelHex, APageIsWrittenOnlyWhenARecordHoldsAByteOfIt) {
    const HexReading reading = readIntelHex(record(0, 0, {1}) + record(0, 0x17F, {2}) + endOfFile);
    ASSERT_EQ(reading.error, "");
    EXPECT_TRUE(reading.image.pageHeld(0, 128));
    EXPECT_FALSE(reading.image.pageHeld(128, 128));
    EXPECT_TRUE(reading.image.pageHeld(256, 128));
}

} // namespace
