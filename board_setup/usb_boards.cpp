// The USB ids of the boards the fan firmware cannot run on, and of the clones' USB serial chips.
#include "board_setup/usb_boards.h"

#include <cctype>
#include <cstdio>
#include <string>

namespace {

struct NamedBoard {
    UsbId id;
    const char* name;
};

// Arduino's ids (2341, and 2A03 of its boards made as arduino.org), each board as its sketch and
// as its bootloader shows it.
constexpr NamedBoard boardsWeCannotFlash[] = {
    {{0x2341, 0x0069}, "an Arduino UNO R4 Minima (a Renesas RA4M1)"},
    {{0x2341, 0x0369}, "an Arduino UNO R4 Minima (a Renesas RA4M1)"},
    {{0x2341, 0x1002}, "an Arduino UNO R4 WiFi (a Renesas RA4M1)"},
    {{0x2341, 0x006D}, "an Arduino UNO R4 WiFi (a Renesas RA4M1)"},
    {{0x2341, 0x0058}, "an Arduino Nano Every (an ATmega4809)"},
    {{0x2341, 0x0070}, "an Arduino Nano ESP32 (an ESP32-S3)"},
    {{0x2341, 0x0010}, "an Arduino Mega 2560 (an ATmega2560)"},
    {{0x2341, 0x0042}, "an Arduino Mega 2560 (an ATmega2560)"},
    {{0x2341, 0x0210}, "an Arduino Mega 2560 (an ATmega2560)"},
    {{0x2341, 0x0242}, "an Arduino Mega 2560 (an ATmega2560)"},
    {{0x2A03, 0x0010}, "an Arduino Mega 2560 (an ATmega2560)"},
    {{0x2A03, 0x0042}, "an Arduino Mega 2560 (an ATmega2560)"},
};

struct UsbChip {
    UsbId id;
    const char* name;
    const char* driver; // where its driver comes from
};

constexpr UsbChip clonesUsbChips[] = {
    {{0x1A86, 0x7523}, "CH340", "WCH's CH340/CH341 driver (CH341SER)"},
    {{0x1A86, 0x5523}, "CH341", "WCH's CH340/CH341 driver (CH341SER)"},
    {{0x10C4, 0xEA60}, "CP2102", "Silicon Labs' CP210x USB to UART driver"},
};

// The four hex digits after the tag ("VID_", "PID_"), any case.
std::optional<std::uint16_t> hexAfter(const std::string& text, const char* tag) {
    const auto at = text.find(tag);
    if (at == std::string::npos || at + 8 > text.size()) return std::nullopt;
    std::uint16_t value = 0;
    for (std::size_t i = at + 4; i < at + 8; ++i) {
        const char c = text[i];
        const int digit = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                          : c >= 'A' && c <= 'F'                      ? c - 'A' + 10
                                                                      : -1;
        if (digit < 0) return std::nullopt;
        value = static_cast<std::uint16_t>(value << 4 | digit);
    }
    return value;
}

bool operator==(UsbId a, UsbId b) {
    return a.vendor == b.vendor && a.product == b.product;
}

} // namespace

std::optional<UsbId> usbIdOf(std::string_view hardwareId) {
    std::string text(hardwareId);
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const auto vendor = hexAfter(text, "VID_");
    const auto product = hexAfter(text, "PID_");
    if (!vendor || !product) return std::nullopt;
    return UsbId{*vendor, *product};
}

const char* boardWeCannotFlash(const ComPort& port) {
    const auto id = usbIdOf(port.hardwareId);
    if (!id) return nullptr;
    for (const NamedBoard& board : boardsWeCannotFlash)
        if (board.id == *id) return board.name;
    return nullptr;
}

std::string cannotFlashNote(const ComPort& port) {
    const char* board = boardWeCannotFlash(port);
    if (!board) return {};
    const UsbId id = *usbIdOf(port.hardwareId);
    char text[300];
    std::snprintf(
        text, sizeof text,
        "COM%d is %s (USB id %04X:%04X), not an ATmega328P: Ventora's fan firmware needs an Arduino "
        "Uno or Nano (ATmega328P).",
        port.number, board, id.vendor, id.product);
    return text;
}

std::string driverlessChipNote(std::string_view hardwareId, unsigned problemCode) {
    if (problemCode != problemDriverNotInstalled) return {};
    const auto id = usbIdOf(hardwareId);
    if (!id) return {};
    for (const UsbChip& chip : clonesUsbChips) {
        if (!(chip.id == *id)) continue;
        char text[400];
        std::snprintf(
            text, sizeof text,
            "A %s USB serial chip (USB id %04X:%04X), as on many Uno and Nano clones, has no COM port: "
            "Windows has no driver for this board's USB chip. Install %s (or, in Device Manager, "
            "right-click the device under \"Other devices\" and choose Update driver), then unplug "
            "the board and plug it back in.",
            chip.name, id->vendor, id->product, chip.driver);
        return text;
    }
    return {};
}
