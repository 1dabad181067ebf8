// The discovery answer as consoles send it (written out here from what a PS5 and a PS4 say), and
// the answers that must not pass for a console's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telemetry/consoles/playstation_discovery.h"

namespace {

std::optional<PlayStationAnswer> parse(const std::string& text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return parseDiscoveryAnswer(bytes);
}

const std::string asleepPs5 = "HTTP/1.1 620 Server Standby\n"
                              "host-id:A1B2C3D4E5F6\n"
                              "host-type:PS5\n"
                              "host-name:PS5-123\n"
                              "host-request-port:997\n"
                              "device-discovery-protocol-version:00030010\n"
                              "system-version:08400005\n";

TEST(PlayStationDiscovery, ProbesAreTheTwoProtocolVersionsWithLineFeeds) {
    EXPECT_EQ(ps5DiscoveryProbe(), "SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00030010\n");
    EXPECT_EQ(ps4DiscoveryProbe(), "SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00020020\n");
}

TEST(PlayStationDiscovery, RestModeAnswerOfAPs5IsReadAsAsleep) {
    ASSERT_EQ(asleepPs5.size(), 170u); // the length a real one has
    const auto answer = parse(asleepPs5);
    ASSERT_TRUE(answer);
    EXPECT_FALSE(answer->awake);
    EXPECT_EQ(answer->hostType, "PS5");
    EXPECT_EQ(answer->hostName, "PS5-123");
    EXPECT_EQ(answer->hostId, "A1B2C3D4E5F6");
    EXPECT_EQ(answer->runningAppName, "");
}

TEST(PlayStationDiscovery, AwakePs4RunningAGameNamesIt) {
    const auto answer = parse("HTTP/1.1 200 Ok\r\nhost-type:PS4\r\nhost-name:Living room\r\n"
                              "running-app-titleid:CUSA24767\r\nrunning-app-name:Gran Turismo 7\r\n");
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->awake);
    EXPECT_EQ(answer->hostType, "PS4");
    EXPECT_EQ(answer->hostName, "Living room");
    EXPECT_EQ(answer->runningAppTitleId, "CUSA24767");
    EXPECT_EQ(answer->runningAppName, "Gran Turismo 7");
}

TEST(PlayStationDiscovery, TrailingNulsAreAllowed) {
    EXPECT_TRUE(parse(asleepPs5 + std::string(3, '\0')));
}

TEST(PlayStationDiscovery, WhatIsNotAConsoleAnswerIsRefused) {
    const struct {
        const char* why;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"the probe itself", std::string(ps5DiscoveryProbe())},
        {"another status", "HTTP/1.1 404 Not Found\nhost-type:PS5\n"},
        {"no host type", "HTTP/1.1 200 Ok\nhost-name:PS5-1\n"},
        {"a host type no console has", "HTTP/1.1 200 Ok\nhost-type:XBOX\n"},
        {"a line without a colon", "HTTP/1.1 200 Ok\nhost-type:PS5\ngarbage\n"},
        {"a key twice", "HTTP/1.1 200 Ok\nhost-type:PS5\nhost-type:PS4\n"},
        {"an unknown key twice", "HTTP/1.1 200 Ok\nhost-type:PS5\nx:1\nx:2\n"},
        {"an upper-case key", "HTTP/1.1 200 Ok\nHost-Type:PS5\n"},
        {"a control character", "HTTP/1.1 200 Ok\nhost-type:PS5\nhost-name:a\tb\n"},
        {"a NUL inside", std::string("HTTP/1.1 200 Ok\nhost-type:PS5\nhost-name:a\0b\n", 43)},
        {"an empty key", "HTTP/1.1 200 Ok\nhost-type:PS5\n:value\n"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(parse(c.text)) << c.why;
}

TEST(PlayStationDiscovery, AnAnswerFarTooLongIsRefusedAndOneJustShortOfTheLimitIsNot) {
    const std::string head = "HTTP/1.1 200 Ok\nhost-type:PS5\nhost-name:";
    const std::string fits = head + std::string(discoveryAnswerLimit - head.size() - 1, 'n') + "\n";
    ASSERT_EQ(fits.size(), discoveryAnswerLimit);
    EXPECT_TRUE(parse(fits));
    EXPECT_FALSE(parse(head + std::string(discoveryAnswerLimit, 'n') + "\n"));
}

} // namespace
