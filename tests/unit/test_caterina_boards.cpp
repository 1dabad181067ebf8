// Which ports the tool calls a Leonardo or Micro, whose bootloader it does not speak, by the names
// and ids Windows gives them.
#include <gtest/gtest.h>

#include "board_setup/com_ports.h"

namespace {

TEST(CaterinaBoards, AreToldByTheirNameOrUsbId) {
    struct Case {
        const char* friendlyName;
        const char* hardwareId;
        bool caterina;
    } cases[] = {
        {"Arduino Leonardo (COM7)", "", true},
        {"Arduino Micro (COM8)", "", true},
        {"USB Serial Device (COM9)", "USB\\VID_1B4F&PID_9206&MI_00", true}, // a SparkFun Pro Micro
        {"", "USB\\VID_2341&PID_8036&REV_0100&MI_00", true},
        {"Arduino Uno (COM3)", "USB\\VID_2341&PID_0043&REV_0001", false},
        {"USB-SERIAL CH340 (COM5)", "USB\\VID_1A86&PID_7523&REV_0264", false},
        {"Microchip MCP2221 USB-I2C/UART Combo (COM4)", "USB\\VID_04D8&PID_00DD&MI_00", false},
        {"Microsoft USB Serial Device (COM6)", "USB\\VID_045E&PID_0000", false},
        {"", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(looksLikeCaterinaBoard({1, c.friendlyName, c.hardwareId}), c.caterina)
            << c.friendlyName << " " << c.hardwareId;
}

} // namespace
