// What `ventora-board consoles` says about the PlayStations that answered and about each game, and
// the firewall command lines it hands to an elevated cmd.exe.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include "board_setup/consoles_advice.h"

namespace {

constexpr std::uint32_t console = 0xC0A8011E; // 192.168.1.30

PlayStationAnswer answer(bool awake, const char* type, const char* name, const char* app = "",
                         const char* titleId = "") {
    PlayStationAnswer a;
    a.awake = awake;
    a.hostType = type;
    a.hostName = name;
    a.runningAppName = app;
    a.runningAppTitleId = titleId;
    return a;
}

TEST(ConsolesAdvice, APlayStationIsListedWithItsNameTypeStateAndGame) {
    struct Case {
        PlayStationAnswer answer;
        const char* line;
    } cases[] = {
        {answer(true, "PS5", "Living room", "Gran Turismo 7", "PPSA01316"),
         "\"Living room\", a PS5 at 192.168.1.30: awake, running Gran Turismo 7"},
        {answer(true, "PS4", "Den", "", "CUSA24767"),
         "\"Den\", a PS4 at 192.168.1.30: awake, running the game CUSA24767"},
        {answer(true, "PS5", "Living room"), "\"Living room\", a PS5 at 192.168.1.30: awake"},
        // A console in rest mode names no game even when its answer does; the notes' example
        // answer from one in rest mode has no name at all.
        {answer(false, "PS5", "", "Gran Turismo 7"),
         "a PS5 at 192.168.1.30: asleep (in rest mode); Ventora finds it once it is on"},
        {answer(false, "PS4", "Den"),
         "\"Den\", a PS4 at 192.168.1.30: asleep (in rest mode); Ventora finds it once it is on"},
        // A type that is neither is not passed off as one of them.
        {answer(true, "PS6\x1b[2J", "Box"), "\"Box\", a PlayStation at 192.168.1.30: awake"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(describePlayStation(c.answer, console), c.line);
}

TEST(ConsolesAdvice, TextsFromTheNetworkReachTheConsoleOnlyAsBoundedPrintableCharacters) {
    struct Case {
        std::string text;
        std::size_t limit;
        std::string shown;
    } cases[] = {
        {"Living room", 64, "Living room"},
        {"\x1b[2JCleared", 64, "?[2JCleared"},
        {std::string("tab\there\nnew\0nul", 16), 64, "tab?here?new?nul"},
        {"K\xc3\xbc"
         "che",
         64, "K??che"},
        {std::string(100, 'x'), 64, std::string(64, 'x')},
        {"", 64, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printable(c.text, c.limit), c.shown);
}

TEST(ConsolesAdvice, ForzaIsToldEachOfThisPcsAddressesAndF1ItsBroadcastMode) {
    struct Case {
        std::vector<std::uint32_t> addresses;
        const char* forzaLine;
    } cases[] = {
        {{0xC0A8010A}, "Data Out On, Data Out IP Address 192.168.1.10, Data Out IP Port 5607.\n"},
        {{0xC0A8010A, 0x0A000005},
         "Data Out On, Data Out IP Address 192.168.1.10 or 10.0.0.5 (this PC's address on the Xbox's "
         "network), "
         "Data Out IP Port 5607.\n"},
        {{0xC0A8010A, 0x0A000005, 0xAC100001},
         "Data Out IP Address 192.168.1.10, 10.0.0.5 or 172.16.0.1 (this PC's address"},
        {{}, "this PC has no address on a home network now."},
    };
    for (const Case& c : cases) {
        const std::string advice = gameSettingsAdvice(c.addresses);
        EXPECT_NE(advice.find(c.forzaLine), std::string::npos) << advice;
        EXPECT_NE(advice.find("UDP Broadcast Mode On, UDP Port 20777."), std::string::npos) << advice;
    }
}

// Under Wine netsh does nothing, so this is the one place its command line is checked: the rule
// lets only ventora.exe hear only UDP from the local subnet, on Ventora's ports.
TEST(ConsolesAdvice, TheFirewallRuleLetsVentoraAloneHearUdpFromTheHomeNetworkOnItsPorts) {
    EXPECT_EQ(addFirewallRuleParameters("C:\\Program Files\\Ventora & 100%\\ventora.exe"),
              "advfirewall firewall add rule name=\"Ventora: consoles on the home network\" dir=in "
              "action=allow enable=yes program=\"C:\\Program Files\\Ventora & 100%\\ventora.exe\" "
              "protocol=UDP localport=20777,5607,4444,33740 remoteip=localsubnet profile=private,domain");
    // A rule of an earlier version held on every profile: set anew, it holds on the home ones.
    EXPECT_EQ(moveFirewallRuleParameters("C:\\Users\\Jos\xC3\xA9\\Ventora\\ventora.exe"),
              "advfirewall firewall set rule name=\"Ventora: consoles on the home network\" new "
              "program=\"C:\\Users\\Jos\xC3\xA9\\Ventora\\ventora.exe\" profile=private,domain");
    // A quote or a line end would end the program's value early.
    for (const char* path : {"C:\\a\"b\\ventora.exe", "C:\\a\r\nb.exe", ""}) {
        EXPECT_EQ(addFirewallRuleParameters(path), std::nullopt) << path;
        EXPECT_EQ(moveFirewallRuleParameters(path), std::nullopt) << path;
    }
}

TEST(ConsolesAdvice, TheRuleIsInPlaceOnlyForThisProgramOnTheHomeProfilesWhateverItsPathsLetters) {
    const std::string jose = "C:\\Users\\Jos\xC3\xA9\\AppData\\Local\\Ventora\\ventora.exe"; // UTF-8 é
    const std::string jurgen = "C:\\Users\\J\xC3\xBCrgen\\Ventora\\ventora.exe";
    const auto rule = [](std::string program, long profiles) {
        return std::optional<SeenFirewallRule>(SeenFirewallRule{true, std::move(program), profiles});
    };
    const std::tuple<const char*, std::optional<SeenFirewallRule>, std::string, ShownRule> cases[] = {
        {"in place", rule("C:\\Ventora\\ventora.exe", homeFirewallProfiles), "C:\\Ventora\\ventora.exe",
         ShownRule::forThisProgram},
        {"another case", rule("c:\\VENTORA\\Ventora.exe", privateFirewallProfile), "C:\\Ventora\\ventora.exe",
         ShownRule::forThisProgram},
        {"a user named Jos\xC3\xA9", rule(jose, homeFirewallProfiles), jose, ShownRule::forThisProgram},
        {"outside the ANSI code page", rule(jurgen, homeFirewallProfiles), jurgen, ShownRule::forThisProgram},
        {"Jos\xC3\xA9 against Jose", rule(jose, homeFirewallProfiles),
         "C:\\Users\\Jose\\AppData\\Local\\Ventora\\ventora.exe", ShownRule::forAnotherProgram},
        {"a longer path", rule("C:\\Ventora\\ventora.exe.old", homeFirewallProfiles),
         "C:\\Ventora\\ventora.exe", ShownRule::forAnotherProgram},
        {"moved", rule("D:\\Games\\ventora.exe", homeFirewallProfiles), "C:\\Ventora\\ventora.exe",
         ShownRule::forAnotherProgram},
        {"every profile, as an earlier version added it", rule(jose, 7), jose, ShownRule::forAnotherProgram},
        {"Public alone", rule(jose, publicFirewallProfile), jose, ShownRule::forAnotherProgram},
        {"no rule", SeenFirewallRule{}, jose, ShownRule::none},
        {"the firewall would not say", std::nullopt, jose, ShownRule::unknown},
    };
    for (const auto& [what, seen, exePath, shown] : cases)
        EXPECT_EQ(judgeFirewallRule(seen, exePath), shown) << what;
}

TEST(ConsolesAdvice, APublicNetworkOrOneWindowsWillNotNameIsToldWithHowToMakeItPrivate) {
    const std::tuple<const char*, std::vector<SeenNetwork>, bool, std::vector<const char*>> cases[] = {
        {"private", {{"Home", NetworkCategory::isPrivate}}, true, {}},
        {"domain", {{"Office", NetworkCategory::isDomain}}, false, {}},
        {"public where the console answered",
         {{"Home", NetworkCategory::isPublic}},
         true,
         {"\"Home\", where the PlayStation answered, Public", "Network profile type: Private network"}},
        {"one of two public, none answered",
         {{"Home", NetworkCategory::isPrivate}, {"Cafe", NetworkCategory::isPublic}},
         false,
         {"the network \"Cafe\" Public", "make it Private"}},
        {"no category",
         {{"Home", NetworkCategory::unknown}},
         false,
         {"would not say whether the network \"Home\""}},
        {"Windows will not say",
         {},
         false,
         {"Windows would not say", "Network profile type: Private network"}},
    };
    for (const auto& [what, networks, answered, said] : cases) {
        const std::string text = networkCategoryAdvice(networks, answered);
        if (said.empty()) {
            EXPECT_EQ(text, "") << what;
        }
        for (const char* part : said)
            EXPECT_NE(text.find(part), std::string::npos) << what << ": " << text;
    }
}

} // namespace
