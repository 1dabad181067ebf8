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
// (a Private or Domain network, the local subnet) on Ventora's ports; nothing for a path that
// cannot be passed on as it is (a quote would end the program's value early). UTF-8, as the path.
std::optional<std::string> addFirewallRuleParameters(std::string_view exePath);
// The same rule pointed at ventora.exe at exePath and limited to the home profiles (one that has
// moved since the rule was added, or a rule of an earlier version, which held on every profile).
std::optional<std::string> moveFirewallRuleParameters(std::string_view exePath);
std::string deleteFirewallRuleParameters();

// The firewall's own profiles (NET_FW_PROFILE2_*): the rule holds on Private and Domain networks,
// never on Public ones (a café's or a hotel's Wi-Fi).
inline constexpr long domainFirewallProfile = 1, privateFirewallProfile = 2, publicFirewallProfile = 4;
inline constexpr long homeFirewallProfiles = domainFirewallProfile | privateFirewallProfile;

// The rule under our name as the firewall's own interface gives it, its program's path as UTF-8;
// nothing when the firewall would not say (Wine's firewall, a policy that refuses).
struct SeenFirewallRule {
    bool found = false;
    std::string program;
    long profiles = 0;
};

enum class ShownRule {
    none,              // no rule of that name
    forThisProgram,    // the rule, naming exePath, on the home profiles alone
    forAnotherProgram, // the rule, for another program or on other profiles too: to be set anew
    unknown,           // the firewall did not say
};
// What the rule seen means for ventora.exe at exePath (UTF-8): Windows' paths are the same in any
// case; bytes beyond ASCII (a user named José) are compared as they are.
ShownRule judgeFirewallRule(const std::optional<SeenFirewallRule>& seen, std::string_view exePath);

// Windows' category of a network the PC is on.
enum class NetworkCategory { isPublic, isPrivate, isDomain, unknown };
struct SeenNetwork {
    std::string name; // UTF-8, as Windows names it
    NetworkCategory category;
};
// What to tell about the networks that matter (the ones a PlayStation answered on, or every one):
// for a Public one, that the rule leaves it closed and how to make it Private; when Windows did
// not say (`networks` empty), that too. Empty when every one is Private or Domain.
std::string networkCategoryAdvice(const std::vector<SeenNetwork>& networks, bool playStationAnswered);
