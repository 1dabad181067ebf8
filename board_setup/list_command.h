// list: the COM ports and the board on each, or on one port alone. Windows.
#pragma once
#include <optional>
#include <vector>

#include "board_setup/board_link.h"

// Probes every port but those skipReason passes by and those whose USB id names a board the firmware
// cannot run on, printing each report as it comes, after saying
// what a probe does to the device on a port.
std::vector<PortReport> probeAllPorts();
// What list says of each clone's USB chip that Windows has no driver for.
void sayDriverlessChips();
// Every port, or only the one given.
int runList(std::optional<int> port);
