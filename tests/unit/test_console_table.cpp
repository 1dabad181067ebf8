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
        {"an address on the internet", ip(8, 8, 8, 8), false, false},
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
    // A stranger's answers fill the table; none of them ever streams.
    for (unsigned i = 0; i < consoleLimit; ++i)
        ASSERT_NE(admitConsole(table, ip(192, 168, 1, 100 + i), "stranger", true, t0 + i * 10ms), nullptr);
    ASSERT_EQ(admitConsole(table, ip(192, 168, 1, 99), "stranger", true, t0 + 1s), nullptr)
        << "room made for a stranger before any other could prove itself";
    // A round later the real console answers, and the stranger floods again behind it.
    const MonotonicTime round = t0 + 10s;
    table.consoles[3].lastHeard = round; // answered again: not the least recently heard
    ASSERT_NE(admitConsole(table, ip(192, 168, 1, 20), "PS5", true, round), nullptr);
    EXPECT_EQ(consoleAt(table, ip(192, 168, 1, 100)), nullptr) << "the least recently heard made room";
    EXPECT_NE(consoleAt(table, ip(192, 168, 1, 103)), nullptr);
    for (unsigned i = 0; i < 2 * consoleLimit; ++i)
        admitConsole(table, ip(192, 168, 1, 150 + i), "stranger", true, round + 1ms * (i + 1));
    EXPECT_EQ(table.consoles.size(), consoleLimit);
    ASSERT_NE(consoleAt(table, ip(192, 168, 1, 20)), nullptr) << "the real console has had no time to stream";
    // Once streaming, it stays whatever comes later.
    consoleAt(table, ip(192, 168, 1, 20))->streamed = true;
    for (unsigned i = 0; i < 2 * consoleLimit; ++i)
        admitConsole(table, ip(192, 168, 1, 200 + i), "stranger", true, round + 30s + 1ms * i);
    EXPECT_NE(consoleAt(table, ip(192, 168, 1, 20)), nullptr);
}

// Both consoles' packets as they come, interleaved, 60 a second each.
void hear(Console& console, std::int32_t car, bool driven, MonotonicTime now) {
    console.granTurismo.heard = true;
    console.granTurismo.lastHeard = now;
    console.granTurismo.driven = driven;
    console.granTurismo.carCode = car;
    console.granTurismo.speedKmh = static_cast<float>(car);
}

TEST(ConsoleTable, TwoConsolesDrivenAtOnceGiveOneSteadyComboUntilTheFollowedOneFallsSilent) {
    ConsoleTable table;
    admitConsole(table, ip(192, 168, 1, 20), "PS5", true, t0);
    admitConsole(table, ip(192, 168, 1, 21), "PS4", true, t0);
    std::vector<std::string> combos;
    MonotonicTime now = t0;
    int ticks = 0;
    const auto tick = [&](bool firstSends, bool firstDriven) {
        // Which of the two was heard last changes from tick to tick.
        const bool secondLast = ++ticks % 2 == 0;
        for (int packet = 0; packet < 6; ++packet) {
            now += 16ms;
            if (secondLast && firstSends) hear(table.consoles[0], 1, firstDriven, now);
            hear(table.consoles[1], 2, true, now);
            if (!secondLast && firstSends) hear(table.consoles[0], 1, firstDriven, now);
        }
        TelemetrySample sample;
        overlayFollowedConsole(table, now, sample);
        if (combos.empty() || combos.back() != sample.combo) combos.push_back(sample.combo);
    };
    for (int i = 0; i < 20; ++i)
        tick(true, true);
    // Paused on the followed console: still heard, so the fan does not jump to the other one.
    for (int i = 0; i < 5; ++i)
        tick(true, false);
    for (int i = 0; i < 20; ++i)
        tick(false, false);
    EXPECT_EQ(combos, (std::vector<std::string>{"Car 1 @ Gran Turismo 7", "", "Car 2 @ Gran Turismo 7"}));
}

} // namespace
