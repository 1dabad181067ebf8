// The few names Ventora wants from iRacing's session-info text, a YAML document of tens of
// kilobytes that the game rewrites now and then. A small line parser of our own for three keys,
// bounded by the text it is given: it reads nothing past the view and keeps no copy of the text.
#pragma once
#include <string>
#include <string_view>

struct SessionNames {
    std::string car;    // CarScreenName of the Drivers entry whose CarIdx is DriverInfo:DriverCarIdx
    std::string track;  // WeekendInfo:TrackDisplayName
    std::string layout; // WeekendInfo:TrackConfigName
};

// Missing keys give empty names; the text ends at its first NUL or at its end, whichever is first.
SessionNames parseSessionInfo(std::string_view text);
