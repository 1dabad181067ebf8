// What a UART set to one rate reads from a byte sent at another. A real receiver finds the start
// bit's falling edge, then samples the line in the middle of each of its own bit times, so a byte
// sent at the wrong rate becomes other bytes, mostly with a framing error (the stop bit sampled
// low). Within a few percent the rates agree and the byte arrives whole.
#pragma once

#include <cstdint>
#include <vector>

namespace board {

struct ReceivedByte {
    std::uint8_t value = 0;
    bool framingError = false;
    bool operator==(const ReceivedByte&) const = default;
};

// The largest difference between the line's rate and the USART's that still reads clean bytes:
// 8N1 sampled at the middle of each bit tolerates about 4.5 % between the two ends.
constexpr double rateTolerance = 0.04;

bool ratesAgree(double lineBaud, double uartBaud);

// The bytes a UART at uartBaud reads from one 8N1 byte sent at lineBaud on an idle line.
std::vector<ReceivedByte> receiveAtRate(std::uint8_t sent, double lineBaud, double uartBaud);

// The rate the USART's registers give at the board's clock: UBRR0 and U2X0.
double uartBaudOf(std::uint16_t ubrr, bool doubleSpeed, std::uint32_t clockHz);

} // namespace board
