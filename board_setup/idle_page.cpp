// The idle page 0, as words of AVR code: a board reset into it switches off any PCA9685 on its I2C
// bus (the Adafruit Motor Shield v2's chip keeps driving through a reset) with the general call's
// software reset (bit-banged, after clearing the bus of a chip that holds SDA low), then loops with
// every pin an input and the TWI, USART and watchdog off. The
// bootloader, started first by every reset, still answers, so the next write can go in.
//
// The words are written out here rather than assembled by the firmware build, so the tool's core
// builds and is tested without the AVR toolchain and the page cannot change with the assembler's
// version. firmware/idle_page.S is the same code with its reasons; the firmware tests check these
// words against it as assembled there, and run them on the simulated chip.
#include "board_setup/idle_page.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::size_t pageSize = 128;

constexpr std::uint16_t code[] = {
    0x94F8,         // 00 cli
    0x2411,         // 02 clr r1
    0xE008,         // 04 ldi r16, 0x08
    0xBF0E,         // 06 out SPH, r16
    0xEF0F,         // 08 ldi r16, 0xFF
    0xBF0D,         // 0a out SPL, r16          stack at RAMEND
    0xBE14,         // 0c out MCUSR, r1         WDRF cleared
    0xE108,         // 0e ldi r16, WDCE|WDE
    0x9300, 0x0060, // 10 sts WDTCSR, r16
    0x9210, 0x0060, // 14 sts WDTCSR, r1        watchdog off
    0x9210, 0x00C1, // 18 sts UCSR0B, r1        USART off
    0xBC1C,         // 1c out SPCR, r1          SPI off
    0xB814,         // 1e out DDRB, r1
    0xB815,         // 20 out PORTB, r1
    0xB81A,         // 22 out DDRD, r1
    0xB81B,         // 24 out PORTD, r1
    0xB817,         // 26 out DDRC, r1          every pin an input
    0xB818,         // 28 out PORTC, r1         no pull-ups: SDA, SCL let go
    0xE029,         // 2a ldi r18, 9
    0x9934,         // 2c busClear: sbic PINC, PC4
    0xC006,         // 2e rjmp busFree          SDA let go
    0x9A3D,         // 30 sbi DDRC, PC5         SCL low
    0xD021,         // 32 rcall halfClock
    0x983D,         // 34 cbi DDRC, PC5         SCL let go
    0xD01F,         // 36 rcall halfClock
    0x952A,         // 38 dec r18
    0xF7C1,         // 3a brne busClear
    0xD015,         // 3c busFree: rcall stop
    0x9A3C,         // 3e sbi DDRC, PC4         START
    0xD01A,         // 40 rcall halfClock
    0x2D01,         // 42 mov r16, r1
    0xD004,         // 44 rcall sendByte       general call address, write
    0xE006,         // 46 ldi r16, 0x06
    0xD002,         // 48 rcall sendByte       software reset
    0xD00E,         // 4a rcall stop
    0xCFFF,         // 4c idle: rjmp idle
    0x9408,         // 4e sendByte: sec
    0xE019,         // 50 ldi r17, 9
    0x9A3D,         // 52 sendBit: sbi DDRC, PC5  SCL low
    0x9A3C,         // 54 sbi DDRC, PC4         SDA low
    0x1F00,         // 56 rol r16
    0xF408,         // 58 brcc bitSet
    0x983C,         // 5a cbi DDRC, PC4         SDA let go: a 1
    0xD00C,         // 5c bitSet: rcall halfClock
    0x983D,         // 5e cbi DDRC, PC5         SCL let go
    0xD00A,         // 60 rcall halfClock
    0x951A,         // 62 dec r17
    0xF7B1,         // 64 brne sendBit
    0x9508,         // 66 ret
    0x9A3D,         // 68 stop: sbi DDRC, PC5
    0xD005,         // 6a rcall halfClock
    0x9A3C,         // 6c sbi DDRC, PC4
    0xD003,         // 6e rcall halfClock
    0x983D,         // 70 cbi DDRC, PC5
    0xD001,         // 72 rcall halfClock
    0x983C,         // 74 cbi DDRC, PC4         STOP
    0xE189,         // 76 halfClock: ldi r24, 25
    0x958A,         // 78 halfClockLoop: dec r24
    0xF7F1,         // 7a brne halfClockLoop
    0x9508,         // 7c ret
};
static_assert(sizeof code <= pageSize, "the idle page's code fits page 0");

// 1.3.0's idle page, which sent the general call through the TWI and had no bus clear: a board whose
// write that version's tool cut short holds it.
constexpr std::uint16_t earlierCode[] = {
    0x94F8,         // 00 cli
    0x2411,         // 02 clr r1
    0xE008,         // 04 ldi r16, 0x08
    0xBF0E,         // 06 out SPH, r16
    0xEF0F,         // 08 ldi r16, 0xFF
    0xBF0D,         // 0a out SPL, r16          stack at RAMEND
    0xBE14,         // 0c out MCUSR, r1         WDRF cleared
    0xE108,         // 0e ldi r16, WDCE|WDE
    0x9300, 0x0060, // 10 sts WDTCSR, r16
    0x9210, 0x0060, // 14 sts WDTCSR, r1        watchdog off
    0x9210, 0x00C1, // 18 sts UCSR0B, r1        USART off
    0xBC1C,         // 1c out SPCR, r1          SPI off
    0xB814,         // 1e out DDRB, r1
    0xB815,         // 20 out PORTB, r1
    0xB81A,         // 22 out DDRD, r1
    0xB81B,         // 24 out PORTD, r1
    0xB817,         // 26 out DDRC, r1          every pin an input
    0xE300,         // 28 ldi r16, PC4|PC5
    0xB908,         // 2a out PORTC, r16        SDA, SCL pulled up
    0x9210, 0x0064, // 2c sts PRR, r1           TWI powered
    0x9210, 0x00B9, // 30 sts TWSR, r1
    0xE408,         // 34 ldi r16, 72
    0x9300, 0x00B8, // 36 sts TWBR, r16         100 kHz
    0xEA04,         // 3a ldi r16, TWINT|TWSTA|TWEN
    0xD00E,         // 3c rcall twiStep         START
    0x9210, 0x00BB, // 3e sts TWDR, r1
    0xE804,         // 42 ldi r16, TWINT|TWEN
    0xD00A,         // 44 rcall twiStep         general call address, write
    0xE016,         // 46 ldi r17, 0x06
    0x9310, 0x00BB, // 48 sts TWDR, r17
    0xD006,         // 4c rcall twiStep         software reset
    0xE904,         // 4e ldi r16, TWINT|TWSTO|TWEN
    0xD004,         // 50 rcall twiStep         STOP, the whole bound
    0x9210, 0x00BC, // 52 sts TWCR, r1          TWI off
    0xB818,         // 56 out PORTC, r1         pull-ups off
    0xCFFF,         // 58 idle: rjmp idle
    0x9300, 0x00BC, // 5a twiStep: sts TWCR, r16
    0xED80,         // 5e ldi r24, lo8(2000)
    0xE097,         // 60 ldi r25, hi8(2000)
    0x9110, 0x00BC, // 62 twiLook: lds r17, TWCR
    0xFD17,         // 66 sbrc r17, TWINT
    0x9508,         // 68 ret
    0x9701,         // 6a sbiw r24, 1
    0xF7D1,         // 6c brne twiLook
    0x9508,         // 6e ret
};

// Little-endian, as the AVR fetches its words; the rest of the page erased.
template <std::size_t count>
constexpr std::array<std::uint8_t, pageSize> pageOf(const std::uint16_t (&words)[count]) {
    std::array<std::uint8_t, pageSize> bytes{};
    bytes.fill(0xFF);
    std::size_t at = 0;
    for (const std::uint16_t word : words) {
        bytes[at++] = static_cast<std::uint8_t>(word);
        bytes[at++] = static_cast<std::uint8_t>(word >> 8);
    }
    return bytes;
}

constexpr std::array<std::uint8_t, pageSize> page = pageOf(code);
constexpr std::array<std::uint8_t, pageSize> earlierPage = pageOf(earlierCode);

} // namespace

std::span<const std::uint8_t> idlePage() {
    return page;
}

bool isIdlePage(std::span<const std::uint8_t> page0) {
    return std::ranges::equal(page0, page);
}

std::span<const std::uint8_t> earlierIdlePage() {
    return earlierPage;
}
