// Which ports list passes by, by the hardware id Windows gives their devices. Platform-neutral.
#include "board_setup/com_ports.h"

#include <cctype>
#include <string_view>

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

} // namespace

const char* skipReason(const ComPort& port) {
    // The enumerator that made the device: Bluetooth's serial profile, or the PC's own board.
    if (startsWith(port.hardwareId, "BTHENUM\\")) return "a Bluetooth port";
    if (startsWith(port.hardwareId, "ACPI\\")) return "a serial port built into the PC";
    return nullptr;
}
