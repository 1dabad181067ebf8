// The sampling of a mismatched UART, worked out on the sent byte's waveform.
#include "line_rate.h"

#include <cmath>

namespace board {
namespace {

// The line during one byte, in the sender's bit times from the start bit's edge: idle high before,
// the start bit low, eight data bits least significant first, the stop bit and idle high after.
bool lineHighAt(std::uint8_t sent, double senderBits) {
    const int bit = static_cast<int>(std::floor(senderBits));
    if (bit < 0 || bit > 8) return true;
    if (bit == 0) return false;
    return (sent >> (bit - 1)) & 1;
}

} // namespace

bool ratesAgree(double lineBaud, double uartBaud) {
    return uartBaud > 0 && std::fabs(lineBaud - uartBaud) <= rateTolerance * uartBaud;
}

double uartBaudOf(std::uint16_t ubrr, bool doubleSpeed, std::uint32_t clockHz) {
    return double(clockHz) / ((doubleSpeed ? 8.0 : 16.0) * (ubrr + 1));
}

std::vector<ReceivedByte> receiveAtRate(std::uint8_t sent, double lineBaud, double uartBaud) {
    if (ratesAgree(lineBaud, uartBaud)) return {{sent, false}};
    std::vector<ReceivedByte> received;
    // The receiver's bit time in the sender's bit times. It notices an edge within a sixteenth of
    // its own bit (it samples the line at 16 times its rate).
    const double bitTime = lineBaud / uartBaud;
    const double noticed = bitTime / 16;
    // Falling edges lie on the sender's bit boundaries; after the stop bit the line stays high.
    double searchFrom = 0.0;
    for (int edge = 0; edge <= 9; ++edge) {
        if (edge < searchFrom) continue;
        const bool falls = lineHighAt(sent, edge - 0.5) && !lineHighAt(sent, edge + 0.5);
        if (!falls) continue;
        const double start = edge + noticed;
        const auto sample = [&](double bits) { return lineHighAt(sent, start + bits * bitTime); };
        // A start bit that is high again at its middle was a glitch: look for the next edge.
        if (sample(0.5)) {
            searchFrom = start + 0.5 * bitTime;
            continue;
        }
        ReceivedByte byte;
        for (int bit = 0; bit < 8; ++bit)
            if (sample(1.5 + bit)) byte.value |= static_cast<std::uint8_t>(1 << bit);
        byte.framingError = !sample(9.5);
        received.push_back(byte);
        searchFrom = start + 9.5 * bitTime;
    }
    return received;
}

} // namespace board
