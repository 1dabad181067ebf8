// The fan port link. It only writes: one byte per tick at 9600 8N1, no framing, no answer.
// Connections and losses go to the log pane; open and configuration failures go to standard output.
#include "serial/fan_port.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "event_log.h"
#include "win32.h"
#include "settings/settings_file.h"

namespace {

struct FanPort {
    HANDLE handle;
    bool connected;
    COMSTAT status;
    DWORD errors;
};

// Owns the one FanPort there is: filled by every connection attempt, emptied by a port change.
std::unique_ptr<FanPort> activeFanPort;

// Long enough for one byte at 9600 baud many times over, short enough that a stalled driver or a
// flow-control deadlock costs one tick instead of freezing the window for good.
constexpr DWORD writeTimeoutMs = 100;

// The messages are read by whoever watches standard output, often a file; flush so that each one
// is there as it happens.
template <typename... Args> void printConsole(const char* format, Args... args) {
    std::printf(format, args...);
    std::fflush(stdout);
}

void limitWriteTime(HANDLE handle) {
    COMMTIMEOUTS timeouts{};
    GetCommTimeouts(handle, &timeouts);
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
    SetCommTimeouts(handle, &timeouts);
}

std::unique_ptr<FanPort> openFanPort(const char* devicePath) {
    auto port = std::make_unique<FanPort>();
    port->handle = CreateFileA(devicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port->handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            printConsole("ERROR: Handle was not attached. Reason: %s not available.\n", devicePath);
        else
            printConsole("ERROR!!!");
        return port;
    }

    // Only the line settings change; flow control, DTR/RTS and the rest stay as the port has them.
    DCB dcb{};
    if (!GetCommState(port->handle, &dcb)) {
        printConsole("failed to get current serial parameters!");
        return port;
    }
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(port->handle, &dcb)) {
        printConsole("ALERT: Could not set Serial Port parameters");
        return port;
    }
    limitWriteTime(port->handle);

    port->connected = true;
    Sleep(0);
    return port;
}

// Closes the port so it can be opened again; the object goes with the unique_ptr.
void discardFanPort(std::unique_ptr<FanPort> port) {
    if (port->handle != INVALID_HANDLE_VALUE)
        CloseHandle(port->handle);
}

bool writeFanLevel(FanPort& port, FanLevel level) {
    // A write that timed out returns success with nothing written: that is a failed write too.
    DWORD written = 0;
    return WriteFile(port.handle, &level, 1, &written, nullptr) && written == 1;
}

} // namespace

void serviceFanPort(FanLevel level) {
    if (activeFanPort && activeFanPort->connected) {
        if (writeFanLevel(*activeFanPort, level))
            return;
        ClearCommError(activeFanPort->handle, &activeFanPort->errors, &activeFanPort->status);
    }

    // Wider than the index, so that no stored index can overflow the port number.
    const long long portNumber = static_cast<long long>(settings.portIndex) + 1;
    char devicePath[20];
    std::snprintf(devicePath, sizeof(devicePath), "\\\\.\\COM%lld", portNumber);

    if (activeFanPort) {
        if (activeFanPort->connected)
            appendLogLine("Disconnected from COM" + std::to_string(portNumber));
        discardFanPort(std::move(activeFanPort));
    }
    activeFanPort = openFanPort(devicePath);
    if (activeFanPort->connected)
        appendLogLine("Connected to COM" + std::to_string(portNumber));
}

void selectFanPort() {
    if (activeFanPort)
        discardFanPort(std::move(activeFanPort));
}
