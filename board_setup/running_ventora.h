// A running Ventora keeps its fan port open: the board tool closes it as a user would (it saves
// its settings), does its work and starts it again. Windows.
#pragma once
#include <optional>
#include <string>

struct RunningVentora {
    std::string exePath;      // where the closed one was started from
    std::wstring exePathWide; // the same, whatever the code page cannot hold
    std::optional<int> port;  // the COM port number it drives
};

// The running Ventora and its port, or nothing when none runs.
std::optional<RunningVentora> findRunningVentora();

// Posts WM_CLOSE to its window and waits for its process to end. Returns false when it does not.
bool closeVentora();

// Starts it again, in the tray as it starts from the desktop, and waits for its window; the
// fallback exe is the one beside this tool. Returns false when it did not come up.
bool startVentora(const std::string& exePath);

// ventora.exe beside this tool's own exe.
std::string ventoraBesideThisTool();
std::wstring ventoraBesideThisToolWide();
