// The wizard's steps, asked one by one on the console.
#include "board_setup/wizard.h"

#include <iostream>
#include <string>
#include <vector>

#include "settings/settings_store.h"
#include "board_setup/console.h"
#include "board_setup/fan_test.h"
#include "board_setup/flash_command.h"
#include "board_setup/list_command.h"
#include "board_setup/ventora_aside.h"

namespace {

bool setVentoraPort(int port) {
    // Ventora writes its settings when it ends: were it running now, it would undo this.
    if (!makeWayFromVentora(std::nullopt)) return false;
    const std::string path = settingsFilePath();
    SettingsRecord record = overlaySettingsFile(path, SettingsRecord{});
    record.portIndex = port - 1;
    if (path.empty() || !writeSettingsFile(path, record)) {
        complain("could not write Ventora's settings (%s): choose COM%d in Ventora's window yourself.",
                 path.empty() ? "no application-data folder" : path.c_str(), port);
        return false;
    }
    say("Ventora is set to COM%d.\n", port);
    return true;
}

int runWizardSteps() {
    say("Ventora fan controller set-up\n\n"
        "This finds your Arduino Uno or Nano, puts Ventora's fan firmware on it, runs the fans once from\n"
        "off to full and back, and sets Ventora to the board's port.\n\n");
    const VentoraRestorer restorer;
    if (!makeWayFromVentora(std::nullopt)) return exitFailed;

    std::vector<PortReport> boards;
    for (;;) {
        say("Looking for boards on COM1 to COM%d...\n", highestComPort);
        boards.clear();
        for (PortReport& report : probeAllPorts())
            if (report.board) boards.push_back(report);
        if (!boards.empty()) break;
        say("\nNo Uno or Nano found. Check that the USB cable carries data (some only charge), and that\n"
            "Windows lists the board under \"Ports (COM & LPT)\" in Device Manager: a CH340 clone may need "
            "its\n"
            "driver.\n");
        const auto again = ask("Press Enter to look again, or type q and Enter to stop: ");
        if (!again || *again == "q" || *again == "Q") return exitFailed;
    }

    int chosen = 0;
    if (boards.size() > 1) {
        say("\nBoards found:\n");
        for (std::size_t i = 0; i < boards.size(); ++i)
            say("  %zu  COM%d  %s\n", i + 1, boards[i].port.number, boards[i].lines.front().c_str());
        const std::string prompt =
            "Which board drives the fans? Enter 1 to " + std::to_string(boards.size()) + ": ";
        const auto choice = askChoice(prompt.c_str(), static_cast<int>(boards.size()), 0);
        if (!choice) return exitFailed;
        chosen = *choice - 1;
    }
    const int port = boards[static_cast<std::size_t>(chosen)].port.number;
    say("\nWhat does the board on COM%d drive?\n", port);
    for (std::size_t i = 0; i < outputKinds.size(); ++i)
        say("  %zu  %s\n", i + 1, outputKinds[i].plainName);
    const std::string prompt = "Enter 1 to " + std::to_string(outputKinds.size()) + " [1]: ";
    const auto kind = askChoice(prompt.c_str(), static_cast<int>(outputKinds.size()), 1);
    if (!kind) return exitFailed;

    say("\n");
    FlashRequest request;
    request.port = port;
    request.kind = outputKinds[static_cast<std::size_t>(*kind - 1)];
    request.kindChosen = true;
    if (!flashBoard(request)) return exitFailed;
    say("\n");
    const bool tested = runFanTest(port);
    say("\n");
    if (!setVentoraPort(port)) return exitFailed;
    // Started even when it was not running: the rig is ready, and the fans follow Ventora from now.
    if (*startAsideVentora(true))
        say("Ventora is running in the tray and drives the fans on COM%d.\n", port);
    else
        say("Start Ventora: it drives the fans on COM%d.\n", port);
    say(tested ? "All done: start a game, and the fans follow your speed.\n"
               : "The fan test did not finish; the board is flashed and Ventora is set.\n");
    return tested ? exitDone : exitFailed;
}

} // namespace

int runWizard() {
    const int result = runWizardSteps();
    say("\nPress Enter to close");
    std::string line;
    std::getline(std::cin, line);
    return result;
}
