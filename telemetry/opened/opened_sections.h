// The sections of iRacing, rFactor 2, Le Mans Ultimate and Assetto Corsa EVO. These games size their own
// sections, and a section created first by another process keeps that process's size, which would break the
// game; so Ventora only opens them, while they exist, and never fails over them.
#pragma once
#include <string>

#include "telemetry/telemetry_sample.h"

using OpenedGameLogLine = void (*)(std::string);

// Once a tick, after the three created sections are read: about once a second opens the sections
// that have appeared and lets go of those whose game has ended, then lets the games read. What a
// game says about itself worth knowing (Assetto Corsa EVO's layout version) goes to `log`.
void readOpenedGameSections(TelemetrySample& sample, OpenedGameLogLine log);
