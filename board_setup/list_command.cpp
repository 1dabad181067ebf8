// Probing the ports for boards.
#include "board_setup/list_command.h"

#include "board_setup/console.h"
#include "board_setup/usb_boards.h"
#include "board_setup/ventora_aside.h"

namespace {

// Opening a port is what resets an Uno or Nano into its bootloader, and it does the same to
// anything else that restarts on DTR: the user hears it before it happens.
constexpr const char* probingRestarts = "opens it, which restarts the device behind it: an Arduino resets,\n"
                                        "and a 3D printer or a motion controller stops what it was doing.";

} // namespace

// A board plugged in whose USB chip Windows has no driver for has no port to probe: said apart.
void sayDriverlessChips() {
    for (const DriverlessDevice& device : driverlessUsbChips())
        say("\n%s\n", device.note.c_str());
}

std::vector<PortReport> probeAllPorts() {
    std::vector<PortReport> reports;
    const std::vector<ComPort> ports = listComPorts();
    if (ports.empty()) {
        say("No COM ports on this PC.\n");
        return reports;
    }
    say("Probing each port %s\n"
        "Bluetooth ports and the PC's own serial ports are passed by; \"ventora-board list COMn\"\n"
        "probes one port alone.\n\n",
        probingRestarts);
    for (const ComPort& port : ports) {
        if (const char* reason = skipReason(port)) {
            PortReport skipped{port, false, {}, std::nullopt};
            skipped.lines.push_back(std::string("not probed: ") + reason + "; \"ventora-board list COM" +
                                    std::to_string(port.number) + "\" probes it alone");
            printReport(skipped);
            continue;
        }
        // Not opened: a Mega's or an R4's bootloader is not the Uno's, and the fan firmware is not
        // for its chip anyway.
        if (const std::string note = cannotFlashNote(port); !note.empty()) {
            PortReport named{port, false, {note}, std::nullopt};
            printReport(named);
            continue;
        }
        reports.push_back(probePort(port));
        printReport(reports.back());
    }
    return reports;
}

int runList(std::optional<int> port) {
    const VentoraRestorer restorer;
    // A Ventora on another port keeps its fans going while one port is probed.
    if (!makeWayFromVentora(port)) return exitFailed;
    if (!port) {
        probeAllPorts();
        sayDriverlessChips();
        return exitDone;
    }
    say("Probing COM%d %s\n\n", *port, probingRestarts);
    const PortReport report = probePort(describeComPort(*port));
    printReport(report);
    return report.board ? exitDone : exitFailed;
}
