// A running Ventora set aside while the tool holds the board's port: closed as a user would close
// it, and started again however the tool ends. Windows.
#pragma once
#include <optional>

#include "win32.h"

// Closes a running Ventora when it drives the port (any port, when port is empty), telling the
// user; it starts again with restoreVentora. False when it would not close.
bool makeWayFromVentora(std::optional<int> port);

// Waits, when the Ventora this tool closed drove the port, until the board's failsafe has switched
// its fans off. Opening the port restarts the board, and what a shield's own chip drives (the
// Adafruit v2 shield's PCA9685) outlives the restart: run through a flash, or past one cut short,
// it would hold Ventora's last level with no firmware to stop it.
void waitForFailsafe(int port);

// Starts the Ventora set aside, once, or with always the one beside this tool when none was.
// Nothing when there was none to start, else whether it came up.
std::optional<bool> startAsideVentora(bool always);

// Starts the Ventora set aside again, if any, and says so.
void restoreVentora();

// Starts the Ventora set aside again however the tool ends: on return, and on the console's
// Ctrl+C, Ctrl+Break or close, after which Windows ends the process without unwinding.
struct VentoraRestorer {
    VentoraRestorer() = default;
    VentoraRestorer(const VentoraRestorer&) = delete;
    VentoraRestorer& operator=(const VentoraRestorer&) = delete;
    ~VentoraRestorer() { restoreVentora(); }
};

// The console control handler that does the same for Ctrl+C, Ctrl+Break and closing the console.
BOOL WINAPI onConsoleControl(DWORD event);
