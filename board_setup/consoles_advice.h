// What `ventora-board consoles` tells the user and what it asks Windows to run: the PlayStations
// that answered, what to set in Forza and F1, and the firewall rule's command lines.
// Platform-neutral.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "telemetry/consoles/playstation_discovery.h"

// One rule under this name, added and removed as a whole.
inline constexpr const char* firewallRuleName = "Ventora: consoles on the home network";

// The ports Ventora listens on while listening on the home network: F1 and the rally games,
// Forza, OutGauge, and Gran Turismo 7's telemetry. The rule opens these alone.
inline constexpr std::array<std::uint16_t, 4> listeningPorts = {20777, 5607, 4444, 33740};

// a.b.c.d of an address in host byte order.
std::string dottedAddress(std::uint32_t address);

// A text from the network made fit for the console: printable ASCII only, at most maxLength
// characters, so a name cannot move the cursor, clear the screen or flood the listing.
std::string printable(std::string_view text, std::size_t maxLength = 64);

// One line about a PlayStation that answered from address: its name, PS5 or PS4, awake or asleep,
// and the game it runs when it says so.
std::string describePlayStation(const PlayStationAnswer& answer, std::uint32_t address);

// What to set in Gran Turismo 7, Forza and F1, with this PC's addresses on the home network
// filled in (host byte order).
std::string gameSettingsAdvice(const std::vector<std::uint32_t>& addresses);

// netsh's parameters for the rule that lets ventora.exe at exePath hear UDP from the home network
// on Ventora's ports; nothing for a path that cannot be passed on as it is (a quote would end the
// program's value early).
std::optional<std::string> addFirewallRuleParameters(std::string_view exePath);
// The same rule pointed at another ventora.exe (one that has moved since the rule was added).
std::optional<std::string> moveFirewallRuleParameters(std::string_view exePath);
std::string deleteFirewallRuleParameters();
// Shows the rule with its program.
std::string showFirewallRuleParameters();

// What `netsh ... show rule` said about the rule. netsh's texts are in the system's language, but
// the rule's name and the program's path are ours.
enum class ShownRule {
    none,              // netsh failed: no rule matches
    forThisProgram,    // the rule, naming exePath
    forAnotherProgram, // the rule, naming no such program
    unknown,           // netsh succeeded without naming the rule (Wine's netsh does that for every command)
};
ShownRule readShownRule(unsigned long exitCode, std::string_view output, std::string_view exePath);
