// Closing a running Ventora for the tool's work and starting it again afterwards.
#include "board_setup/ventora_aside.h"

#include <mutex>
#include <string>

#include "board_setup/console.h"
#include "board_setup/failsafe_wait.h"
#include "board_setup/running_ventora.h"

namespace {

// The exe of the Ventora this tool closed, until it is started again. Ctrl+C, Ctrl+Break and
// closing the console window end the tool from another thread, so it is held under a lock.
std::mutex asideLock;
std::optional<std::string> asideExe;

// The port the closed Ventora drove, and when it closed: its board ran its last level until then.
std::optional<int> closedPort;
ULONGLONG closedAt = 0;

} // namespace

// Closes a running Ventora when it drives the port (any port, when port is empty), telling the
// user; it starts again with restoreVentora. False when it would not close.
bool makeWayFromVentora(std::optional<int> port) {
    std::optional<RunningVentora> ventora = findRunningVentora();
    if (!ventora || (port && ventora->port != port)) return true;
    if (ventora->port)
        say("Ventora is running and holds COM%d: closing it (it saves its settings first); it starts again "
            "when this is done.\n",
            *ventora->port);
    else
        say("Ventora is running: closing it (it saves its settings first); it starts again when this is "
            "done.\n");
    {
        // Set aside before it is asked to close, so a Ctrl+C during the wait still brings it back.
        const std::lock_guard<std::mutex> hold(asideLock);
        asideExe = ventora->exePath;
    }
    if (closeVentora()) {
        closedPort = ventora->port;
        closedAt = GetTickCount64();
        return true;
    }
    {
        const std::lock_guard<std::mutex> hold(asideLock);
        asideExe.reset();
    }
    complain("Ventora did not close. Close it from its tray icon and run this again.");
    return false;
}

// Starts the Ventora set aside, once, or with always the one beside this tool when none was.
// Nothing when there was none to start, else whether it came up. The lock stays held while it
// starts, so the tool cannot end between taking it and starting it.
std::optional<bool> startAsideVentora(bool always) {
    const std::lock_guard<std::mutex> hold(asideLock);
    if (!asideExe && !always) return std::nullopt;
    const std::string exe = asideExe.value_or(std::string());
    asideExe.reset();
    return startVentora(exe);
}

void restoreVentora() {
    const std::optional<bool> started = startAsideVentora(false);
    if (!started) return;
    if (*started)
        say("Ventora is running again.\n");
    else
        complain("Ventora could not be started again: start it yourself.");
}

void waitForFailsafe(int port) {
    if (closedPort != port) return;
    const std::uint64_t wait = failsafeWaitMs(GetTickCount64() - closedAt);
    if (wait == 0) return;
    say("Waiting %.0f s for the board on COM%d to switch its fans off by itself, as it does once Ventora "
        "falls silent, before it restarts.\n",
        static_cast<double>(wait) / 1000.0, port);
    Sleep(static_cast<DWORD>(wait));
}

BOOL WINAPI onConsoleControl(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) restoreVentora();
    return FALSE; // and the tool ends as it would have
}
