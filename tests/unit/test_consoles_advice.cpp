// What `ventora-board consoles` says about the PlayStations that answered and about each game, and
// the firewall command lines it hands to an elevated cmd.exe.
#include <gtest/gtest.h>

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
              "protocol=UDP localport=20777,5607,4444,33740 remoteip=localsubnet");
    // A quote or a line end would end the program's value early.
    for (const char* path : {"C:\\a\"b\\ventora.exe", "C:\\a\r\nb.exe", ""}) {
        EXPECT_EQ(addFirewallRuleParameters(path), std::nullopt) << path;
        EXPECT_EQ(moveFirewallRuleParameters(path), std::nullopt) << path;
    }
}

// netsh's "show rule ... verbose" as an English Windows prints it, trimmed to the lines that matter.
constexpr const char* shownOurs =
    "\r\nRule Name:                            Ventora: consoles on the home network\r\n"
    "----------------------------------------------------------------------\r\n"
    "Enabled:                              Yes\r\n"
    "RemoteIP:                             LocalSubnet\r\n"
    "Program:                              C:\\Ventora\\ventora.exe\r\n"
    "Action:                               Allow\r\nOk.\r\n\r\n";

TEST(ConsolesAdvice, TheRuleNetshShowsIsReadByItsNameAndProgramWhateverTheLanguage) {
    struct Case {
        unsigned long exitCode;
        const char* output;
        const char* exePath;
        ShownRule read;
    } cases[] = {
        {0, shownOurs, "C:\\Ventora\\ventora.exe", ShownRule::forThisProgram},
        {0, shownOurs, "c:\\VENTORA\\Ventora.exe", ShownRule::forThisProgram},
        {0, shownOurs, "D:\\Games\\Ventora\\ventora.exe", ShownRule::forAnotherProgram},
        {1, "\r\nNo rules match the specified criteria.\r\n", "C:\\Ventora\\ventora.exe", ShownRule::none},
        {1, "\r\nKeine Regeln entsprechen den angegebenen Kriterien.\r\n", "C:\\x.exe", ShownRule::none},
        // Success that names no rule tells nothing: Wine's netsh prints nothing for any command.
        {0, "", "C:\\Ventora\\ventora.exe", ShownRule::unknown},
        {0, "Ok.\r\n", "C:\\Ventora\\ventora.exe", ShownRule::unknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readShownRule(c.exitCode, c.output, c.exePath), c.read) << c.output << " " << c.exePath;
}

} // namespace
