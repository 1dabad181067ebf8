// Waiting for the fan board's COM port to appear, without opening any: the ports there when the
// wait began are not it; a port that goes away is forgotten, so that it counts as new when it comes
// back (the board unplugged and plugged in again, as the wizard asks); a port that appears but that
// list passes by (Bluetooth, built into the PC) or whose USB id names a board the firmware cannot
// run on is said and the wait goes on. Platform-neutral.
#pragma once
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "board_setup/com_ports.h"

struct PortWatch {
    std::set<int> known;
};

struct PortLook {
    std::vector<int> gone; // went away since the last look
    // Appeared, but no board to probe: the port and why, as the user is told.
    std::vector<std::pair<ComPort, std::string>> passedBy;
    std::optional<ComPort> appeared; // the first new port to probe
};

PortWatch startPortWatch(const std::vector<int>& present);
// One look at the ports present now; describe tells what Windows says of a port that is new.
PortLook lookAtPorts(PortWatch& watch, const std::vector<int>& present,
                     const std::function<ComPort(int)>& describe);
