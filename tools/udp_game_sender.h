// publish_game's UDP games: F1 24 and F1 25, DiRT, EA SPORTS WRC, Forza, OutGauge and Richard Burns Rally,
// sent as datagrams to the port Ventora listens on, as the games send them.
#pragma once
#include <string>
#include <vector>

extern const char* const udpGameUsage;

bool isUdpGame(const std::string& game);

// Sends until "quit" or the end of standard input; returns the exit code.
int sendUdpGame(const std::vector<std::string>& args);
