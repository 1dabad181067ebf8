// Boards and USB chips told apart by the USB id Windows gives their devices: the Arduino boards
// that are no Uno or Nano (so the fan firmware cannot run on them), and the clones' USB serial chips
// whose driver Windows may not have. Platform-neutral, so the table is tested natively.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "board_setup/com_ports.h"

struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
};

// The vendor and product of a hardware id such as "USB\VID_2341&PID_0043&REV_0001" (any case, and
// FTDI's "FTDIBUS\VID_0403+PID_6001+..."), or nothing.
std::optional<UsbId> usbIdOf(std::string_view hardwareId);

// What the board behind the port is, when its USB id says it is an Arduino board the fan firmware
// cannot run on ("an Arduino UNO R4 WiFi"); null for every other port.
const char* boardWeCannotFlash(const ComPort& port);
// The sentence list and the wizard say of such a port.
std::string cannotFlashNote(const ComPort& port);

// A device Windows lists without a driver (problem code 28) whose USB id is a clone's USB serial
// chip: what to tell the user, "Windows has no driver for this board's USB chip" and what to do;
// empty for any other device or problem.
inline constexpr unsigned problemDriverNotInstalled = 28;
std::string driverlessChipNote(std::string_view hardwareId, unsigned problemCode);
