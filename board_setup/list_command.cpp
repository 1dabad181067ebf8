// Probing the ports for boards.
#include "board_setup/list_command.h"

#include "board_setup/console.h"
#include "board_setup/ventora_aside.h"

std::vector<PortReport> probeAllPorts() {
    std::vector<PortReport> reports;
    const std::vector<ComPort> ports = listComPorts();
    if (ports.empty()) say("No COM ports on this PC.\n");
    for (const ComPort& port : ports) {
        reports.push_back(probePort(port));
        printReport(reports.back());
    }
    return reports;
}

int runList() {
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;
    probeAllPorts();
    return exitDone;
}
