// The names F1 24 and F1 25 give their team and track ids, for the combo.
#pragma once
#include <string>

// The team's name, with its season where the game has the same team in several seasons
// ("Art GP '23", "Mercedes '24"); "Team N" for an id the games do not list.
std::string f1TeamName(int teamId);

// The track's name; "Track N" for an id the games do not list. Both years share one table: an id
// never names two tracks.
std::string f1TrackName(int trackId);
