// Telling a Leonardo or Micro from an Uno or Nano by what Windows says of its port. Platform-neutral.
#include "board_setup/com_ports.h"

#include <algorithm>
#include <cctype>

bool looksLikeCaterinaBoard(const ComPort& port) {
    std::string name = port.friendlyName;
    std::string id = port.hardwareId;
    for (std::string* text : {&name, &id})
        std::transform(text->begin(), text->end(), text->begin(),
                       [](unsigned char c) { return std::toupper(c); });
    // "Micro" alone would take in Microchip's and Microsoft's devices too.
    if (name.find("LEONARDO") != std::string::npos || name.find("ARDUINO MICRO") != std::string::npos)
        return true;
    // Arduino's and its clones' ids for the Leonardo and Micro, as sketch and as bootloader.
    for (const char* usbId :
         {"VID_2341&PID_8036", "VID_2341&PID_8037", "VID_2341&PID_0036", "VID_2341&PID_0037",
          "VID_2A03&PID_8036", "VID_2A03&PID_8037", "VID_1B4F&PID_9205", "VID_1B4F&PID_9206"})
        if (id.find(usbId) != std::string::npos) return true;
    return false;
}
