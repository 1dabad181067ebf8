// The boards and USB chips the tool names by the USB id Windows gives their devices.
#include <gtest/gtest.h>

#include <string>

#include "board_setup/port_watch.h"
#include "board_setup/usb_boards.h"

namespace {

TEST(UsbBoards, TheBoardsTheFirmwareCannotRunOnAreNamed) {
    struct Case {
        const char* hardwareId;
        const char* named; // null: not one of them
    } cases[] = {
        {"USB\\VID_2341&PID_0069&REV_0100&MI_00", "UNO R4 Minima"},
        {"USB\\VID_2341&PID_0369", "UNO R4 Minima"},
        {"USB\\VID_2341&PID_1002&MI_00", "UNO R4 WiFi"},
        {"USB\\VID_2341&PID_006D", "UNO R4 WiFi"},
        {"USB\\VID_2341&PID_0058&REV_0103", "Nano Every"},
        {"USB\\VID_2341&PID_0070&MI_00", "Nano ESP32"},
        {"USB\\VID_2341&PID_0010", "Mega 2560"},
        {"USB\\VID_2341&PID_0042&REV_0001", "Mega 2560"},
        {"USB\\VID_2341&PID_0210", "Mega 2560"},
        {"USB\\VID_2341&PID_0242", "Mega 2560"},
        {"USB\\VID_2A03&PID_0010", "Mega 2560"},
        {"usb\\vid_2a03&pid_0042&rev_0001", "Mega 2560"},
        // An Uno, a clone's CH340, FTDI's chip: boards the tool flashes.
        {"USB\\VID_2341&PID_0043&REV_0001", nullptr},
        {"USB\\VID_1A86&PID_7523&REV_0264", nullptr},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", nullptr},
        // No id, or a cut one.
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const ComPort port{7, "", c.hardwareId};
        const char* board = boardWeCannotFlash(port);
        if (!c.named) {
            EXPECT_EQ(board, nullptr) << c.hardwareId;
            EXPECT_EQ(cannotFlashNote(port), "") << c.hardwareId;
            continue;
        }
        ASSERT_NE(board, nullptr) << c.hardwareId;
        EXPECT_NE(std::string(board).find(c.named), std::string::npos) << c.hardwareId << ": " << board;
        EXPECT_NE(cannotFlashNote(port).find("needs an Arduino Uno or Nano (ATmega328P)"), std::string::npos)
            << cannotFlashNote(port);
    }
}

TEST(UsbBoards, AClonesUsbChipWithoutItsDriverIsNamed) {
    struct Case {
        const char* hardwareId;
        unsigned problem;
        const char* chip; // null: nothing said
    } cases[] = {
        {"USB\\VID_1A86&PID_7523&REV_0264", 28, "CH340"},
        {"USB\\VID_1A86&PID_5523&REV_0304", 28, "CH341"},
        {"USB\\VID_10C4&PID_EA60&REV_0100", 28, "CP2102"},
        // A driver that failed another way, or none missing.
        {"USB\\VID_1A86&PID_7523&REV_0264", 10, nullptr},
        {"USB\\VID_1A86&PID_7523&REV_0264", 0, nullptr},
        // Another device without its driver.
        {"USB\\VID_046D&PID_C52B", 28, nullptr},
        {"", 28, nullptr},
    };
    for (const Case& c : cases) {
        const std::string note = driverlessChipNote(c.hardwareId, c.problem);
        if (!c.chip) {
            EXPECT_EQ(note, "") << c.hardwareId << " problem " << c.problem;
            continue;
        }
        EXPECT_NE(note.find(std::string("A ") + c.chip + " USB serial chip"), std::string::npos) << note;
        EXPECT_NE(note.find("Windows has no driver for this board's USB chip"), std::string::npos) << note;
    }
}

// The wizard's wait, look after look: what it says and which port it probes.
TEST(PortWatch, TakesOnlyAPortThatAppearsAndIsNoBluetoothBuiltInOrOtherBoard) {
    const auto describe = [](int number) {
        switch (number) {
        case 4:
            return ComPort{4, "Standard Serial over Bluetooth link (COM4)",
                           "BTHENUM\\{00001101}_LOCALMFG&0002"};
        case 1: return ComPort{1, "Communications Port (COM1)", "ACPI\\PNP0501"};
        case 8: return ComPort{8, "Arduino Mega 2560 (COM8)", "USB\\VID_2341&PID_0042"};
        default: return ComPort{number, "", ""};
        }
    };
    struct Case {
        const char* what;
        std::vector<int> before;
        std::vector<std::vector<int>> looks;
        std::vector<std::string> said; // "gone N", "passed N", "appeared N", look by look
    } cases[] = {
        {"a port there from the start is not the board", {3}, {{3}, {3}}, {}},
        {"a port that appears is the board", {3}, {{3}, {3, 5}}, {"appeared 5"}},
        {"the board unplugged and plugged back in", {5}, {{5}, {}, {5}}, {"gone 5", "appeared 5"}},
        {"a Bluetooth port that appears is passed by, and the wait goes on",
         {3},
         {{3, 4}, {3, 4}, {3, 4, 6}},
         {"passed 4", "appeared 6"}},
        {"the PC's own port", {}, {{1}, {1, 6}}, {"passed 1", "appeared 6"}},
        {"a Mega that appears is named and passed by", {}, {{8}, {8, 6}}, {"passed 8", "appeared 6"}},
    };
    for (const Case& c : cases) {
        PortWatch watch = startPortWatch(c.before);
        std::vector<std::string> said;
        for (const std::vector<int>& present : c.looks) {
            const PortLook look = lookAtPorts(watch, present, describe);
            for (const int port : look.gone)
                said.push_back("gone " + std::to_string(port));
            for (const auto& [port, note] : look.passedBy)
                said.push_back("passed " + std::to_string(port.number));
            if (look.appeared) said.push_back("appeared " + std::to_string(look.appeared->number));
        }
        EXPECT_EQ(said, c.said) << c.what;
    }
}

} // namespace
