// The board's COM port, set up the way the bootloaders and the firmware need it.
#include "board_setup/serial_line.h"

#include <cstdio>

std::string devicePathOf(int port) {
    char path[24];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", port);
    return path;
}

DWORD SerialLine::open(int port, DWORD baudRate) {
    close();
    handle = CreateFileA(devicePathOf(port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        close();
        return error ? error : ERROR_INVALID_HANDLE;
    }
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // The bootloaders' pages are binary: an XOFF byte in a page must not stop the line, and the
    // boards' USB chips have no handshake wires.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // Held up, not handshaking, so the reset pulse below starts from the level a board expects,
    // whatever the driver or the last program left.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(handle, &dcb)) {
        const DWORD error = GetLastError();
        close();
        return error ? error : ERROR_INVALID_PARAMETER;
    }
    // The time limits too are whatever the last program left until set: a send before the first
    // receive (all of the fan test) must not wait forever on a device that stopped reading.
    if (!setTimeouts(0)) {
        const DWORD error = GetLastError();
        close();
        return error ? error : ERROR_INVALID_PARAMETER;
    }

    // DTR reaches RESET through a capacitor: dropping it and raising it again resets the board,
    // whatever state the driver left it in, so the bootloader is listening now. A port without
    // modem lines (a pty under Wine) refuses, and its board resets on the open itself.
    EscapeCommFunction(handle, CLRDTR);
    EscapeCommFunction(handle, CLRRTS);
    Sleep(50);
    EscapeCommFunction(handle, SETDTR);
    EscapeCommFunction(handle, SETRTS);
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return 0;
}

void SerialLine::close() {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
}

bool SerialLine::send(const std::uint8_t* bytes, std::size_t count) {
    DWORD written = 0;
    return WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr) && written == count;
}

std::vector<std::uint8_t> SerialLine::receive(std::size_t count, unsigned limitMs) {
    if (limitMs != timeoutMs) setTimeouts(limitMs);
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    while (got < count) {
        DWORD read = 0;
        if (!ReadFile(handle, bytes.data() + got, static_cast<DWORD>(count - got), &read, nullptr)) break;
        got += read;
        if (read == 0 && GetTickCount64() >= deadline) break;
    }
    bytes.resize(got);
    return bytes;
}

bool SerialLine::setTimeouts(unsigned readMs) {
    COMMTIMEOUTS timeouts{};
    if (readMs == 0)
        timeouts.ReadIntervalTimeout = MAXDWORD; // a read takes what is there and returns at once
    else
        // A read returns once all its bytes are there or the time is up, whichever comes first.
        timeouts.ReadTotalTimeoutConstant = readMs;
    // A page is 133 bytes, under 25 ms at the slowest bootloader's rate: a write that takes
    // seconds goes to a device that stopped reading.
    timeouts.WriteTotalTimeoutConstant = writeTimeoutMs;
    if (!SetCommTimeouts(handle, &timeouts)) return false;
    timeoutMs = readMs;
    return true;
}

void SerialLine::discardInput() {
    PurgeComm(handle, PURGE_RXCLEAR);
}

stk500::Link SerialLine::link() {
    return {
        [this](std::span<const std::uint8_t> bytes) { return send(bytes.data(), bytes.size()); },
        [this](std::size_t count, unsigned limitMs) { return receive(count, limitMs); },
        [this] { discardInput(); },
    };
}
