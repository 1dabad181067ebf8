// The session-info parser on text shaped as iRacing writes it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "telemetry/opened/session_info.h"

namespace {

// Trimmed from a real session: the keys around the three read, nested maps that reuse their
// names, and the player listed third.
constexpr std::string_view realShaped = R"(---
WeekendInfo:
 TrackName: spa 2022 up
 TrackID: 163
 TrackDisplayName: Circuit de Spa-Francorchamps
 TrackDisplayShortName: Spa
 TrackConfigName: Grand Prix Pits
 TrackCity: Stavelot
 WeekendOptions:
  NumStarters: 24
  TrackDisplayName: nested, not the track
 TelemetryOptions:
  TelemetryDiskFile: ""

SessionInfo:
 Sessions:
 - SessionNum: 0
   SessionType: Practice
   CarScreenName: not a driver

DriverInfo:
 DriverCarIdx: 12
 DriverUserID: 123456
 PaceCarIdx: 0
 Drivers:
 - CarIdx: 0
   UserName: Pace Car
   CarScreenName: safety pcporsche911cup
 - CarIdx: 7
   UserName: Someone Else
   CarScreenName: Audi R8 LMS EVO II GT3
 - CarIdx: 12
   UserName: The Player
   CarPath: porsche992rgt3
   CarScreenName: Porsche 911 GT3 R (992)
   CarScreenNameShort: 911 GT3 R
   CarCfg: -1
 - CarIdx: 13
   CarScreenName: BMW M4 GT3

SplitTimeInfo:
 Sectors:
 - SectorNum: 0
...
)";

std::string withPlayer(std::string_view player) {
    std::string text(realShaped);
    text.replace(text.find("Porsche 911 GT3 R (992)"), 23, player);
    return text;
}

} // namespace

TEST(SessionInfo, NamesComeFromTheirKeysAndThePlayersEntry) {
    struct Case {
        std::string name, text;
        std::string_view car, track, layout;
    };
    const std::string realTrack = "Circuit de Spa-Francorchamps", realLayout = "Grand Prix Pits";
    const Case cases[] = {
        {"real shaped", std::string(realShaped), "Porsche 911 GT3 R (992)", realTrack, realLayout},
        {"single quoted", withPlayer("'Porsche ''911'': GT3'"), "Porsche '911': GT3", realTrack, realLayout},
        {"double quoted", withPlayer(R"("Porsche \"911\" #1")"), "Porsche \"911\" #1", realTrack, realLayout},
        {"8-bit bytes as written", withPlayer("Caf\xe9 \xff"), "Caf\xe9 \xff", realTrack, realLayout},
        {"trailing blanks and CR LF",
         "WeekendInfo:\r\n TrackDisplayName: Monza  \r\n TrackConfigName: \r\nDriverInfo:\r\n DriverCarIdx: "
         "1\r\n"
         " Drivers:\r\n - CarIdx: 1\r\n   CarScreenName: Ferrari 296 GT3 \r\n",
         "Ferrari 296 GT3", "Monza", ""},
        {"player before the others, DriverCarIdx after the list",
         "DriverInfo:\n Drivers:\n - CarIdx: 3\n   CarScreenName: mine\n - CarIdx: 4\n   CarScreenName: "
         "other\n"
         " DriverCarIdx: 3\n",
         "mine", "", ""},
        {"list items at the key's own indent",
         "DriverInfo:\n  DriverCarIdx: 2\n  Drivers:\n  -   CarIdx: 2\n      CarScreenName: deep dash\n",
         "deep dash", "", ""},
        {"an entry's nested map is not the entry",
         "DriverInfo:\n DriverCarIdx: 5\n Drivers:\n - CarIdx: 5\n   Livery:\n    CarScreenName: paint\n"
         "   CarScreenName: car\n",
         "car", "", ""},
    };
    for (const Case& c : cases) {
        const SessionNames names = parseSessionInfo(c.text);
        EXPECT_EQ(names.car, c.car) << c.name;
        EXPECT_EQ(names.track, c.track) << c.name;
        EXPECT_EQ(names.layout, c.layout) << c.name;
    }
}

TEST(SessionInfo, MissingKeysGiveEmptyNames) {
    struct Case {
        std::string name, text;
        std::string_view car, track;
    };
    auto without = [](std::string_view line) {
        std::string text(realShaped);
        text.erase(text.find(line), line.size());
        return text;
    };
    const Case cases[] = {
        {"no DriverCarIdx", without(" DriverCarIdx: 12\n"), "", "Circuit de Spa-Francorchamps"},
        {"no entry with the player's CarIdx", without(" 12\n   UserName: The Player"), "",
         "Circuit de Spa-Francorchamps"},
        {"player's entry without a name", without("   CarScreenName: Porsche 911 GT3 R (992)\n"), "",
         "Circuit de Spa-Francorchamps"},
        {"no WeekendInfo", without("WeekendInfo:\n"), "Porsche 911 GT3 R (992)", ""},
        {"DriverCarIdx not a number",
         "DriverInfo:\n DriverCarIdx: twelve\n Drivers:\n - CarIdx: 0\n   CarScreenName: x\n", "", ""},
        {"empty text", "", "", ""},
    };
    for (const Case& c : cases) {
        const SessionNames names = parseSessionInfo(c.text);
        EXPECT_EQ(names.car, c.car) << c.name;
        EXPECT_EQ(names.track, c.track) << c.name;
    }
}

TEST(SessionInfo, TextCutShortGivesWhatItHolds) {
    const std::string full(realShaped);
    struct Case {
        std::string_view endsWith;
        std::string_view car, track;
    };
    const Case cases[] = {
        {"TrackDisplayName: Circuit de Sp", "", "Circuit de Sp"},
        {"   CarScreenName: Porsche 91", "Porsche 91", "Circuit de Spa-Francorchamps"},
        {"   UserName: The Player\n", "", "Circuit de Spa-Francorchamps"},
    };
    for (const Case& c : cases) {
        const std::string text = full.substr(0, full.find(c.endsWith) + c.endsWith.size());
        const SessionNames names = parseSessionInfo(text);
        EXPECT_EQ(names.car, c.car) << c.endsWith;
        EXPECT_EQ(names.track, c.track) << c.endsWith;
    }
    // A quoted value whose closing quote was cut off keeps what there is; a NUL ends the text.
    EXPECT_EQ(parseSessionInfo(withPlayer("'Porsche 9")).car, "Porsche 9");
    EXPECT_EQ(parseSessionInfo(full.substr(0, full.find("DriverInfo")) + '\0' +
                               full.substr(full.find("DriverInfo")))
                  .car,
              "");
}
