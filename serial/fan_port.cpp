// The fan port link: one level byte per tick at 9600 8N1, no framing, no answer expected. It reads
// only to hear a board say that it takes wind from the side; from then on, on that connection, each
// tick's corner byte goes just before the level byte. Connections and losses go to the log pane;
// open and configuration failures go to standard output.
#include "serial/fan_port.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "event_log.h"
#include "win32.h"
#include "settings/settings_file.h"

namespace {

// What a board that takes sides says on its TX after each reset (followed by CR LF, not looked for).
constexpr std::string_view sidesAnnouncement = "Ventora fan board: sides";

struct FanPort {
    HANDLE handle;
    bool connected;
    COMSTAT status;
    DWORD errors;
    bool mayListen; // reads on it return at once
    bool takesSides;
    // The end of what the board has sent, kept across reads so that an announcement split between
    // two reads is still found.
    char heard[2 * sidesAnnouncement.size()];
    std::size_t heardLength;
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

// Reads return at once with whatever has arrived, so that listening for the board never holds up
// the tick.
bool limitWriteTimeAndReadAtOnce(HANDLE handle) {
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(handle, &timeouts)) return false;
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
    return SetCommTimeouts(handle, &timeouts);
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
    // A port whose driver will not take the time-outs would block a read for good: it is not
    // listened to, and its board gets the level bytes alone.
    port->mayListen = limitWriteTimeAndReadAtOnce(port->handle);

    port->connected = true;
    Sleep(0);
    return port;
}

// Closes the port so it can be opened again; the object goes with the unique_ptr.
void discardFanPort(std::unique_ptr<FanPort> port) {
    if (port->handle != INVALID_HANDLE_VALUE) CloseHandle(port->handle);
}

// Takes in what the board has sent since the last tick; true once the announcement has been heard.
// A read that fails says nothing about the link: the write decides that, as before.
bool listenForSides(FanPort& port) {
    // A board sends a line or two after a reset; more than this in one tick is not an announcement's
    // doing, and the rest waits for the next tick.
    constexpr int readsPerTick = 8;
    for (int read = 0; read < readsPerTick; ++read) {
        char chunk[64];
        DWORD got = 0;
        if (!ReadFile(port.handle, chunk, sizeof chunk, &got, nullptr) || got == 0) return false;
        for (DWORD i = 0; i < got; ++i) {
            if (port.heardLength == sizeof port.heard) {
                // Keep the newest bytes that could still begin the announcement.
                const std::size_t keep = sidesAnnouncement.size() - 1;
                std::copy(port.heard + sizeof port.heard - keep, port.heard + sizeof port.heard, port.heard);
                port.heardLength = keep;
            }
            port.heard[port.heardLength++] = chunk[i];
            if (std::string_view(port.heard, port.heardLength).ends_with(sidesAnnouncement)) return true;
        }
    }
    return false;
}

bool writeFanLevel(FanPort& port, FanLevel level, CornerByte corner) {
    // One write for the pair, so that the corner byte reaches the board right before its level.
    const std::uint8_t pair[2] = {corner, level};
    const DWORD length = port.takesSides ? 2 : 1;
    const std::uint8_t* bytes = port.takesSides ? pair : &level;
    // A write that timed out returns success with nothing written: that is a failed write too.
    DWORD written = 0;
    return WriteFile(port.handle, bytes, length, &written, nullptr) && written == length;
}

} // namespace

void serviceFanPort(FanLevel level, CornerByte corner) {
    if (activeFanPort && activeFanPort->connected) {
        if (activeFanPort->mayListen && !activeFanPort->takesSides && listenForSides(*activeFanPort)) {
            activeFanPort->takesSides = true;
            appendLogLine("Fan board: wind from the side");
        }
        if (writeFanLevel(*activeFanPort, level, corner)) return;
        ClearCommError(activeFanPort->handle, &activeFanPort->errors, &activeFanPort->status);
    }

    // Wider than the index, so that no stored index can overflow the port number.
    const long long portNumber = static_cast<long long>(settings.portIndex) + 1;
    char devicePath[20];
    std::snprintf(devicePath, sizeof(devicePath), "\\\\.\\COM%lld", portNumber);

    if (activeFanPort) {
        if (activeFanPort->connected) appendLogLine("Disconnected from COM" + std::to_string(portNumber));
        discardFanPort(std::move(activeFanPort));
    }
    activeFanPort = openFanPort(devicePath);
    if (activeFanPort->connected) appendLogLine("Connected to COM" + std::to_string(portNumber));
}

void selectFanPort() {
    if (activeFanPort) discardFanPort(std::move(activeFanPort));
}
