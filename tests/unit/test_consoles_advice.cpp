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

// Under Wine netsh does nothing, so this is the one place its command line is checked: the old rule
// goes first, and the new one lets only ventora.exe hear only UDP from the local subnet.
TEST(ConsolesAdvice, OneConsentDeletesAnOlderRuleThenAddsTheNewOne) {
    EXPECT_EQ(
        replaceFirewallRuleCommand("C:\\Ventora & Co\\ventora.exe", "C:\\Windows\\system32\\netsh.exe"),
        "/d /s /c \"\"C:\\Windows\\system32\\netsh.exe\" advfirewall firewall delete rule "
        "name=\"Ventora: consoles on the home network\" >nul 2>&1 & \"C:\\Windows\\system32\\netsh.exe\" "
        "advfirewall firewall add rule name=\"Ventora: consoles on the home network\" dir=in action=allow "
        "enable=yes program=\"C:\\Ventora & Co\\ventora.exe\" protocol=UDP localport=20777,5607,4444,33740 "
        "remoteip=localsubnet\"");
}

TEST(ConsolesAdvice, APathTheCommandWouldChangeOnTheWayIsRefused) {
    // cmd.exe expands %NAME% inside quotes, and a quote or a line end would end the value early.
    const char* refused[] = {"C:\\Users\\%USERNAME%\\ventora.exe", "C:\\a\"b\\ventora.exe", "C:\\a\r\nb.exe",
                             ""};
    for (const char* path : refused) {
        EXPECT_EQ(addFirewallRuleParameters(path), std::nullopt) << path;
        EXPECT_EQ(replaceFirewallRuleCommand(path, "C:\\Windows\\system32\\netsh.exe"), std::nullopt) << path;
    }
    EXPECT_EQ(replaceFirewallRuleCommand("C:\\Ventora\\ventora.exe", "C:\\%WINDIR%\\netsh.exe"),
              std::nullopt);
}

} // namespace
