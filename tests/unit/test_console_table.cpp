// The consoles on the home network as the table keeps them: who counts as beside the PC, who makes
// room in a full table, and which console's game the fan follows.
#include <gtest/gtest.h>

#include <string>

#include "telemetry/consoles/console_table.h"
#include "telemetry/consoles/home_subnets.h"

namespace {

using namespace std::chrono_literals;
const MonotonicTime t0 = MonotonicTime{} + std::chrono::hours(1);

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(HomeSubnets, OnlyAnotherDeviceOnOneOfThePcsSubnetsIsBesideIt) {
    const HomeAddress homes[] = {homeAddressOf(ip(192, 168, 1, 10), 24), homeAddressOf(ip(10, 0, 0, 5), 8)};
    const std::tuple<const char*, std::uint32_t, bool, bool> cases[] = {
        // what, address, beside the PC, this PC
        {"a console on the Wi-Fi", ip(192, 168, 1, 20), true, false},
        {"a device on the second adapter's subnet", ip(10, 200, 3, 4), true, false},
        {"the next subnet up", ip(192, 168, 2, 20), false, false},
        {"the subnet's broadcast address", ip(192, 168, 1, 255), false, false},
        {"the subnet's network address", ip(192, 168, 1, 0), false, false},
        {"the limited broadcast", ip(255, 255, 255, 255), false, false},
        {"a multicast address", ip(224, 0, 0, 251), false, false},
        {"this PC", ip(192, 168, 1, 10), false, true},
        {"the loopback", ip(127, 0, 0, 1), false, true},
    };
    for (const auto& [what, address, beside, thisPc] : cases) {
        EXPECT_EQ(isOnHomeSubnet(homes, address), beside) << what;
        EXPECT_EQ(isThisPc(homes, address), thisPc) << what;
    }
    EXPECT_FALSE(isOnHomeSubnet({}, ip(192, 168, 1, 20))) << "no network at all";
}

TEST(ConsoleTable, AFullTableStillAdmitsARealConsoleAndKeepsItAgainstAFlood) {
    ConsoleTable table;
    const auto flood = [&](unsigned from, MonotonicTime at) {
        for (unsigned i = 0; i < 2 * consoleLimit; ++i)
            admitConsole(table, ip(192, 168, 1, from + i), "stranger", true, at + 1ms * (i + 1));
        EXPECT_EQ(table.consoles.size(), consoleLimit);
    };
    // A stranger's answers fill the table, none making room for another before it could prove
    // itself; none of them ever streams.
    flood(100, t0);
    // A round later the real console answers, and the stranger floods again behind it.
    const MonotonicTime round = t0 + 10s;
    table.consoles[3].lastHeard = round; // answered again: not the least recently heard
    ASSERT_NE(admitConsole(table, ip(192, 168, 1, 20), "PS5", true, round), nullptr);
    EXPECT_EQ(consoleAt(table, ip(192, 168, 1, 100)), nullptr) << "the least recently heard made room";
    EXPECT_NE(consoleAt(table, ip(192, 168, 1, 103)), nullptr);
    flood(150, round);
    ASSERT_NE(consoleAt(table, ip(192, 168, 1, 20)), nullptr) << "the real console has had no time to stream";
    // Once streaming, it stays whatever comes later.
    consoleAt(table, ip(192, 168, 1, 20))->streamed = true;
    flood(200, round + 30s);
    EXPECT_NE(consoleAt(table, ip(192, 168, 1, 20)), nullptr);
}

// Both consoles driven at once, their packets interleaved, 60 a second each: the fan follows the
// first driven one while it is heard, paused or not, and the other only once it falls silent.
TEST(ConsoleTable, TwoConsolesDrivenAtOnceGiveOneSteadyComboUntilTheFollowedOneFallsSilent) {
    ConsoleTable table;
    admitConsole(table, ip(192, 168, 1, 20), "PS5", true, t0);
    admitConsole(table, ip(192, 168, 1, 21), "PS4", true, t0);
    std::vector<std::string> combos;
    MonotonicTime now = t0;
    for (int tick = 0; tick < 45; ++tick) {
        const bool firstSends = tick < 25, firstDriven = tick < 20;
        for (int packet = 0; packet < 6; ++packet) {
            now += 16ms;
            // Which of the two was heard last changes from tick to tick.
            for (int which : {tick % 2, 1 - tick % 2}) {
                if (which == 0 && !firstSends) continue;
                GranTurismoState& gt = table.consoles[which].granTurismo;
                gt.heard = true, gt.lastHeard = now, gt.driven = which == 1 || firstDriven;
                gt.carCode = which + 1;
            }
        }
        TelemetrySample sample;
        overlayFollowedConsole(table, now, sample);
        if (combos.empty() || combos.back() != sample.combo) combos.push_back(sample.combo);
    }
    EXPECT_EQ(combos, (std::vector<std::string>{"Car 1 @ Gran Turismo 7", "", "Car 2 @ Gran Turismo 7"}));
}

} // namespace
