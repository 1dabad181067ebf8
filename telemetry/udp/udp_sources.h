// The sockets the UDP games send their datagrams to: one per game family, on the loopback address
// (or every address, while listening on the home network is on), never blocking the tick.
#pragma once
#include <string>

#include "telemetry/telemetry_sample.h"

using UdpLogLine = void (*)(std::string);

// Starts Winsock and opens the three sockets. A port another program holds is not fatal: it is
// logged through `log` and tried again every few seconds from the ticks.
//
// Bound to every address when `homeNetwork` is on, so that consoles' datagrams reach them; to
// 127.0.0.1 otherwise.
void openUdpSources(UdpLogLine log, bool homeNetwork);

// Drains what has arrived on each socket (a bounded number of datagrams a tick) and lays the live
// UDP games over the sample, after the shared-memory games.
void readUdpGames(TelemetrySample& sample);
