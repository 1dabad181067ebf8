// list: the COM ports and the board on each, or on one port alone. Windows.
#pragma once
#include <optional>
#include <vector>

#include "board_setup/board_link.h"

// Probes every port but those skipReason passes by, printing each report as it comes, after saying
// what a probe does to the device on a port.
std::vector<PortReport> probeAllPorts();
// Every port, or only the one given.
int runList(std::optional<int> port);
