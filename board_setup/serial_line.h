// A COM port opened for a board: raw 8N1 bytes at one rate, reads with a time limit, and the
// STK500 session's link over it. Windows.
#pragma once
#include <cstdint>
#include <string>

#include "win32.h"
#include "board_setup/stk500.h"

class SerialLine {
  public:
    SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    SerialLine(SerialLine&& other) noexcept : handle(other.handle), timeoutMs(other.timeoutMs) {
        other.handle = INVALID_HANDLE_VALUE;
    }
    ~SerialLine() { close(); }

    // Opens COM<port> at the rate, which resets an Uno or Nano. Returns the error of CreateFileA
    // (ERROR_FILE_NOT_FOUND: no such port, ERROR_ACCESS_DENIED: another program holds it) or of
    // the line's set-up, 0 when the line is ready.
    DWORD open(int port, DWORD baudRate);
    void close();
    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    bool send(const std::uint8_t* bytes, std::size_t count);
    std::vector<std::uint8_t> receive(std::size_t count, unsigned timeoutMs);
    void discardInput();
    // The link the STK500 session runs over; valid while this line lives.
    stk500::Link link();

  private:
    static constexpr DWORD writeTimeoutMs = 2000;
    // Sets the read limit of receive (0: take what is there) and the write limit of send.
    bool setTimeouts(unsigned readMs);

    HANDLE handle = INVALID_HANDLE_VALUE;
    unsigned timeoutMs = 0;
};

// "\\.\COM12": the only spelling that opens ports above COM9.
std::string devicePathOf(int port);
