// Assetto Corsa EVO's reader: the live test, the names and the speed from its three pages, and the
// version of the layout the game says it writes.
#pragma once
#include <optional>
#include <string>

#include "telemetry/byte_loads.h"
#include "telemetry/telemetry_sample.h"

// Replaces the sample's combo ("car @ track configuration") and speed when the game is live (its
// status 2: not off, in a replay or paused) and every page's view holds the whole layout.
void readAssettoCorsaEvo(PageView physics, PageView graphics, PageView statics, TelemetrySample& sample);

// The log line naming the layout version the static page gives, once for each version seen:
// nothing while the page is too small or holds no version, or when `loggedVersion` (which this
// keeps) already names it.
std::optional<std::string> acEvoVersionLine(PageView statics, std::string& loggedVersion);
