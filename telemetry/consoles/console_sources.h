// The consoles on the home network: PlayStations found by the discovery probe, Gran Turismo 7's
// stream asked for with a heartbeat and read from the console that was found. Nothing of it exists
// while listening on the home network is off: no socket, not one datagram sent.
#pragma once
#include "telemetry/telemetry_sample.h"
#include "telemetry/udp/udp_sources.h"

// Opens the consoles' two sockets when `homeNetwork` is on (after openUdpSources, which starts
// Winsock); does nothing otherwise. Failures are logged and retried from the ticks.
void openConsoleSources(UdpLogLine log, bool homeNetwork);

// Drains the sockets (a bounded amount a tick); while no PC game is live in `sample`, probes for
// consoles every 10 s, keeps each awake one's stream going with heartbeats, and lays Gran Turismo 7
// over the sample while its car is driven.
void readConsoleGames(TelemetrySample& sample);
