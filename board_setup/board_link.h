// Reaching the bootloader of the board behind a COM port, and what a probe of a port finds.
// Windows.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_setup/com_ports.h"
#include "board_setup/flash_contents.h"
#include "board_setup/serial_line.h"
#include "board_setup/stk500.h"

// The bootloaders in the order a board is tried: Unos and newer Nanos first, then the older Nanos.
struct Bootloader {
    DWORD baudRate;
    const char* name;
    std::uint32_t start; // the first byte of flash it occupies: the image must end below it
};
constexpr Bootloader bootloaders[] = {{115200, "Optiboot", 0x7E00}, {57600, "the old bootloader", 0x7800}};

struct Board {
    int port = 0;
    SerialLine line;
    stk500::Link link;
    const Bootloader* bootloader = nullptr;
    stk500::Signature signature{};
};

std::string hexBytes(const stk500::Signature& signature);
// Why a port does not open, in words for the user.
std::string openProblem(int port, DWORD error);

// Opens the port at each bootloader's rate in turn (each open resets the board) until one answers,
// and reads the chip's signature. Returns why not, empty when the board is ready for commands.
// stopped, looked at before each open, gives up early (a stop asked during a reconnect).
std::string reachBootloader(const ComPort& port, Board& board, const std::function<bool()>& stopped = {});

// The flash that tells what a board holds: its first two pages, which hold the tunables block.
// Nothing when a page does not come.
std::optional<std::vector<std::uint8_t>> readFirstPages(stk500::Link& link);

// What a probe of a port found, as list prints it.
struct PortReport {
    ComPort port;
    bool board = false; // an ATmega328P answered
    std::vector<std::string> lines;
    std::optional<FlashContents> contents; // when its flash could be read
};

// What a board's first flash bytes hold: empty, Ventora's firmware (and its tunables), another program.
std::string describeFirmware(std::span<const std::uint8_t> flash);
PortReport probePort(const ComPort& port);
void printReport(const PortReport& report);
