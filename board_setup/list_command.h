// list: every COM port, and the board on each. Windows.
#pragma once
#include <vector>

#include "board_setup/board_link.h"

// Probes every port, printing each report as it comes.
std::vector<PortReport> probeAllPorts();
int runList();
