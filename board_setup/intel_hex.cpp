// The Intel HEX reader: each line ":LLAAAATT<data>CC" checked, then laid into the image.
#include "board_setup/intel_hex.h"

#include <cstdio>
#include <optional>

bool FlashImage::pageHeld(std::size_t start, std::size_t pageSize) const {
    for (std::size_t at = start; at < start + pageSize && at < held.size(); ++at)
        if (held[at]) return true;
    return false;
}

namespace {

std::optional<std::uint8_t> hexByte(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return std::nullopt;
    int value = 0;
    for (std::size_t i = at; i < at + 2; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = value * 16 + digit;
    }
    return static_cast<std::uint8_t>(value);
}

template <typename... Args> std::string describe(const char* format, Args... args) {
    char text[200];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

} // namespace

HexReading readIntelHex(std::string_view text) {
    HexReading reading;
    FlashImage& image = reading.image;
    std::uint32_t base = 0;
    std::size_t lineNumber = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t lineEnd = text.find('\n', position);
        if (lineEnd == std::string_view::npos) lineEnd = text.size();
        std::string_view line = text.substr(position, lineEnd - position);
        position = lineEnd + 1;
        ++lineNumber;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        if (line.empty()) continue;
        if (line[0] != ':') {
            reading.error =
                describe("line %zu: not an Intel HEX record (it does not start with ':')", lineNumber);
            return reading;
        }

        // Every byte of the record, from the length to the checksum.
        std::vector<std::uint8_t> record;
        for (std::size_t at = 1; at < line.size(); at += 2) {
            const auto byte = hexByte(line, at);
            if (!byte) {
                reading.error = describe("line %zu: not an Intel HEX record (bad hex digits)", lineNumber);
                return reading;
            }
            record.push_back(*byte);
        }
        if (record.size() < 5 || record.size() != std::size_t{record[0]} + 5) {
            reading.error =
                describe("line %zu: the record's length does not match its byte count", lineNumber);
            return reading;
        }
        std::uint8_t sum = 0;
        for (std::uint8_t byte : record)
            sum = static_cast<std::uint8_t>(sum + byte);
        if (sum != 0) {
            const std::uint8_t expected = static_cast<std::uint8_t>(record.back() - sum);
            reading.error =
                describe("line %zu: bad checksum 0x%02X (the record's bytes need 0x%02X): the file is "
                         "damaged",
                         lineNumber, record.back(), expected);
            return reading;
        }

        const std::size_t count = record[0];
        const std::uint32_t offset = std::uint32_t{record[1]} << 8 | record[2];
        const std::uint8_t type = record[3];
        const std::uint8_t* data = record.data() + 4;
        switch (type) {
        case 0x00: {
            // A record of no bytes holds nothing: it neither grows the image nor reaches anywhere.
            if (count == 0) break;
            const std::uint64_t start = std::uint64_t{base} + offset;
            if (start + count > flashCapacity) {
                reading.error =
                    describe("line %zu: data at 0x%05X reaches past the 32 KB flash of an ATmega328P",
                             lineNumber, static_cast<unsigned>(start));
                return reading;
            }
            if (image.bytes.size() < start + count) {
                image.bytes.resize(static_cast<std::size_t>(start + count), 0xFF);
                image.held.resize(static_cast<std::size_t>(start + count), false);
            }
            for (std::size_t i = 0; i < count; ++i) {
                if (image.held[start + i]) {
                    reading.error = describe("line %zu: overlapping records: 0x%04X is already written by an "
                                             "earlier line",
                                             lineNumber, static_cast<unsigned>(start + i));
                    return reading;
                }
                image.held[start + i] = true;
                image.bytes[start + i] = data[i];
            }
            break;
        }
        case 0x01:
            if (image.end() == 0) reading.error = "no data record: the file holds nothing to write";
            return reading;
        case 0x02:
        case 0x04:
            if (count != 2) {
                reading.error = describe("line %zu: an address record holds two bytes", lineNumber);
                return reading;
            }
            base = (std::uint32_t{data[0]} << 8 | data[1]) << (type == 0x02 ? 4 : 16);
            break;
        case 0x03:
        case 0x05: break;
        default:
            reading.error = describe("line %zu: unknown record type %02X", lineNumber, type);
            return reading;
        }
    }
    reading.error = "no end-of-file record: the file is cut short";
    return reading;
}
