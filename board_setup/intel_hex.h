// Intel HEX files, as avr-objcopy writes a firmware and avrdude reads one, turned into the flash
// image a bootloader is given page by page. Platform-neutral.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The flash from address 0 up to the last byte any record holds. Bytes no record holds read as
// erased flash (0xFF) and are not written: a page only goes to the board when a record holds a
// byte of it, as avrdude does, so two tools given one file leave the same flash.
struct FlashImage {
    std::vector<std::uint8_t> bytes;
    std::vector<bool> held;

    std::size_t end() const { return bytes.size(); }
    bool pageHeld(std::size_t start, std::size_t pageSize) const;
};

struct HexReading {
    FlashImage image;
    std::string error; // empty when the file was read whole
};

// An ATmega328P has 32 KB of flash: no record of a file for it may reach past that.
inline constexpr std::size_t flashCapacity = 0x8000;

// Reads data, end-of-file, extended segment and extended linear address records; the start
// address records mean nothing to a bootloader and are skipped. A bad checksum, a record that
// writes a byte an earlier one wrote, an address past flashCapacity or a file without its
// end-of-file record is an error naming the line; a file whose records hold no byte is an error
// too. Data records of no bytes are skipped.
HexReading readIntelHex(std::string_view text);
