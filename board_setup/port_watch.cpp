// Telling the fan board's port, plugged in, from the ports that were there, went away or are no board.
#include "board_setup/port_watch.h"

#include <algorithm>

#include "board_setup/usb_boards.h"

PortWatch startPortWatch(const std::vector<int>& present) {
    return {std::set<int>(present.begin(), present.end())};
}

PortLook lookAtPorts(PortWatch& watch, const std::vector<int>& present,
                     const std::function<ComPort(int)>& describe) {
    PortLook look;
    for (auto port = watch.known.begin(); port != watch.known.end();) {
        if (std::find(present.begin(), present.end(), *port) != present.end()) {
            ++port;
            continue;
        }
        look.gone.push_back(*port);
        port = watch.known.erase(port);
    }
    for (const int number : present) {
        if (watch.known.count(number)) continue;
        const ComPort port = describe(number);
        if (const char* reason = skipReason(port)) {
            // Known from now on: said once, and never opened.
            watch.known.insert(number);
            look.passedBy.push_back(
                {port, "COM" + std::to_string(number) + " appeared: " + reason + ", passed by."});
            continue;
        }
        if (boardWeCannotFlash(port)) {
            watch.known.insert(number);
            look.passedBy.push_back({port, cannotFlashNote(port)});
            continue;
        }
        // Probed once: should it turn out not to be the fan board, the wait does not come back to it.
        watch.known.insert(number);
        look.appeared = port;
        return look;
    }
    return look;
}
