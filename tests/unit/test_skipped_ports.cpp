// Which ports list passes by instead of opening, by the hardware id Windows gives their devices.
#include <gtest/gtest.h>

#include <string>

#include "board_setup/com_ports.h"

namespace {

TEST(SkippedPorts, AreBluetoothAndBuiltInPortsOnly) {
    struct Case {
        const char* friendlyName;
        const char* hardwareId;
        const char* reason; // null: probed
    } cases[] = {
        {"Standard Serial over Bluetooth link (COM4)",
         "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002", "a Bluetooth port"},
        {"", "bthenum\\{00001101-0000-1000-8000-00805f9b34fb}_vid&0001004c_pid&0000", "a Bluetooth port"},
        {"Communications Port (COM1)", "ACPI\\PNP0501", "a serial port built into the PC"},
        {"USB-SERIAL CH340 (COM5)", "USB\\VID_1A86&PID_7523&REV_0264", nullptr},
        {"Arduino Uno (COM3)", "USB\\VID_2341&PID_0043&REV_0001", nullptr},
        // Named after Bluetooth or ACPI, but another enumerator made it: a USB device.
        {"Bluetooth USB adapter (COM7)", "USB\\VID_0A12&PID_0001", nullptr},
        {"", "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", nullptr},
        // What Windows gives no description of is probed, as every port is under Wine.
        {"", "", nullptr},
        {"", "ACPI", nullptr},
    };
    for (const Case& c : cases) {
        const char* reason = skipReason({1, c.friendlyName, c.hardwareId});
        EXPECT_EQ(std::string(reason ? reason : "probed"), std::string(c.reason ? c.reason : "probed"))
            << c.friendlyName << " " << c.hardwareId;
    }
}

} // namespace
