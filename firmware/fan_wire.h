// The bytes on the serial line between Ventora (or the set-up tool) and the fan controller, beyond
// the level bytes 0 to 79. Shared by the firmware (avr-g++, C++14) and the host tools: plain
// constants only.
#ifndef VENTORA_FIRMWARE_FAN_WIRE_H
#define VENTORA_FIRMWARE_FAN_WIRE_H

#include <stdint.h>

namespace fanWire {

// Sent by the board after each reset and each time the link comes alive after a silence: a sender
// adds corner bytes only for a board that said it. Older firmware takes any byte above 79 as full
// power, so nothing but level bytes may go to a board that has not said it.
constexpr char announcement[] = "Ventora fan board: sides\r\n";
constexpr uint8_t announcementLength = sizeof announcement - 1; // 26 bytes, no NUL on the line

// A corner byte: cornerByte | (cornerRight if the car corners to its right) | magnitude, the
// sideways acceleration in steps of 0.05 g, 0 to 63. It applies to the next level byte only.
constexpr uint8_t cornerByte = 0x80;
constexpr uint8_t cornerRight = 0x40;
constexpr uint8_t cornerMagnitudeMask = 0x3F;
// 1 g (magnitude 20) and more is a full corner.
constexpr uint8_t fullCornerMagnitude = 20;

// The set-up tool's fan test, to a board it knows runs firmware that takes them: sent twice in a
// row, the next level byte drives only output 1 (or only output 2), the other off; once alone it
// is ignored (it may be a corner byte with its top bit lost). Bytes 80 to 125 stay level 79.
constexpr uint8_t onlyOutput1 = 0x7E;
constexpr uint8_t onlyOutput2 = 0x7F;

// Bytes from here up go with the next level byte rather than being one.
constexpr uint8_t firstPrefixByte = onlyOutput1;

// A corner or output byte applies only to a level byte that comes within this many milliseconds:
// Ventora writes both in one go, a byte apart (about 1 ms at 9600 baud), while its ticks are 100 ms
// apart, so a byte whose level was lost never reaches the next tick's level.
constexpr uint8_t prefixFreshMilliseconds = 20;

} // namespace fanWire

#endif
