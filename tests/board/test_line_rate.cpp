// What a UART at one rate reads from bytes sent at another: the simulated board's model of a real
// receiver's sampling.
#include "line_rate.h"

#include <gtest/gtest.h>

namespace {

using board::ReceivedByte;

TEST(LineRate, AByteIsReadWholeOnlyWhenTheRatesAgree) {
    const struct {
        const char* name;
        std::uint8_t sent;
        double line;
        double uart;
        std::vector<ReceivedByte> read;
    } cases[] = {
        {"9600 to 9615 (UBRR0 103)", 40, 9600, 9615, {{40, false}}},
        {"115200 to 117647 (Optiboot, 2.1 % fast)", 0x30, 115200, 117647, {{0x30, false}}},
        {"57600 to 58824 (old Nano)", 0x55, 57600, 58824, {{0x55, false}}},
        // Twelve of the receiver's bits fit in one of the sender's: each low stretch reads as 0
        // with the stop bit low. 40 is 0 0 0 1 0 1 0 0 after the start bit: lows start at bits 0,
        // 4 and 6.
        {"9600 to 115200, level 40", 40, 9600, 117647, {{0, true}, {0, true}, {0, true}}},
        // All ones: only the start bit is low, shorter than the receiver's stop-bit sample.
        {"9600 to 115200, level 255", 255, 9600, 117647, {{0, true}}},
        // A receiver bit is two of the sender's: it reads every other one, then the stop bit and
        // the idle line as ones. 0x30 is 0 0 0 0 1 1 0 0: bits 2, 4 and 6 give 0 1 0.
        {"115200 to 57600, 0x30", 0x30, 115200, 57600, {{0xFA, false}}},
        // Not every garbled byte has a framing error: 79 starts with four ones, which fill the top
        // of a byte read at six times the rate, and its stop bit is sampled high.
        {"9600 to 57600, level 79", 79, 9600, 58824, {{0xE0, false}, {0x00, true}, {0xE0, false}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(board::receiveAtRate(c.sent, c.line, c.uart), c.read) << c.name;
}

TEST(LineRate, TheUsartsRateComesFromItsDividerAndDoubleSpeedBit) {
    const struct {
        std::uint16_t ubrr;
        bool doubleSpeed;
        double baud;
    } cases[] = {{103, false, 9615.38}, {16, true, 117647.06}, {16, false, 58823.53}, {34, true, 57142.86}};
    for (const auto& c : cases)
        EXPECT_NEAR(board::uartBaudOf(c.ubrr, c.doubleSpeed, 16'000'000), c.baud, 0.01) << c.ubrr;
}

} // namespace
