// The COM ports this PC has, COM1 to COM256, with the names Windows gives their devices, found
// without opening any. Windows, but for looksLikeCaterinaBoard and skipReason.
#pragma once
#include <set>
#include <string>
#include <vector>

struct ComPort {
    int number = 0;
    std::string friendlyName; // "USB-SERIAL CH340 (COM5)", empty where Windows has none
    std::string hardwareId;   // "USB\VID_2341&PID_8036&MI_00", empty where Windows has none
};

inline constexpr int highestComPort = 256;

std::vector<ComPort> listComPorts();

// The numbers of the ports there now, without their names: cheap enough to ask twice a second while
// waiting for a board to be plugged in.
std::vector<int> presentComPorts();

// What Windows says about one port, without opening it (which would reset a board behind it).
ComPort describeComPort(int number);

// Whether the device is a Leonardo, a Micro or a board like them: a USB chip of its own with the
// Caterina bootloader, which speaks AVR109 instead of STK500.
bool looksLikeCaterinaBoard(const ComPort& port);

// Why list passes the port by rather than probe it: opening a Bluetooth port starts a connection
// that stalls for 10 to 20 s, and a built-in serial port is no Uno or Nano. Null for a port to
// probe, which is every port Windows gives no hardware id for.
const char* skipReason(const ComPort& port);

// The clones' USB serial chips (CH340, CP2102) that Windows lists without a driver (problem code
// 28), found among all present devices: such a device is in no Ports class, having no port. Each
// with what to tell the user.
struct DriverlessDevice {
    std::string instanceId;
    std::string note;
};
std::vector<DriverlessDevice> driverlessUsbChips();

// The notes of the devices not seen at an earlier look, so that each is said once.
struct DriverlessChips {
    std::set<std::string> seen;
    std::vector<std::string> newNotes();
};
