// The fan controller: receives Ventora's one-byte fan levels on the serial line, each with the
// corner byte that may come just before it, drives the left and right fans through the output
// kind's two outputs, switches them off when the line falls silent, and shows the link on the LED.
// It says on its transmit line that it takes corner bytes. Between interrupts the chip sleeps; the
// watchdog's interrupt switches the outputs off if the main loop ever hangs.
#include "fan_output.h"
#include "fan_wire.h"
#include "side_wind.h"
#include "tunables.h"
#include "tunables_in_flash.h"

#include <avr/interrupt.h>
#include <avr/io.h>
#include <avr/pgmspace.h>
#include <avr/power.h>
#include <avr/sleep.h>
#include <avr/wdt.h>
#include <util/atomic.h>

// First thing after the jump from a bootloader, before the C runtime sets up memory: Optiboot starts
// the firmware through a watchdog reset, and while WDRF is set the watchdog cannot be switched off,
// so it would reset the board every few milliseconds. Interrupts stay off until main has set up
// every source a bootloader may have enabled.
extern "C" void stopWatchdog() __attribute__((naked, used, section(".init3")));
extern "C" void stopWatchdog() {
    cli();
    MCUSR = 0;
    wdt_disable();
}

namespace {

// 9600 baud from 16 MHz: 16e6 / (16 * 9600) - 1 = 103.2, so 103 (0.2 % fast).
constexpr uint16_t baudRateRegister = 103;
// The clock's timer (Timer2, or Timer0 where the outputs take Timer2) ticks each millisecond:
// 16 MHz / 64 = 250 kHz, 250 counts. Both timers divide by 64 with the same clock-select bits.
constexpr uint8_t millisecondTop = 249;
// While a shield does not answer the LED blinks at 10 Hz, apart from the 2 Hz of a silent line.
constexpr uint16_t unansweredBlinkHalfPeriodMilliseconds = 50;
constexpr uint8_t ledPin = PB5; // D13

volatile uint8_t receivedLevel;
volatile uint8_t receivedPrefix; // the fresh corner or output byte before it, or 0
volatile bool levelArrived;
volatile uint8_t pendingMilliseconds;
// The last corner or output byte, until a level byte takes it, and its age in milliseconds.
volatile uint8_t pendingPrefix;
volatile uint8_t prefixAge;
uint8_t previousByte; // the receive interrupt's alone
// How much of the announcement is on its way; it is sent while UDRIE0 is set.
volatile uint8_t announcedBytes;

// The announcement, from flash: a copy in RAM would cost its 26 bytes there.
struct AnnouncementImage {
    char bytes[fanWire::announcementLength];
    constexpr AnnouncementImage() : bytes() {
        for (uint8_t i = 0; i < fanWire::announcementLength; ++i)
            bytes[i] = fanWire::announcement[i];
    }
};
const AnnouncementImage announcementInFlash PROGMEM;

// Main-loop state.
uint16_t millisecondsSinceByte;
bool linkAlive;
uint16_t blinkMilliseconds;

void setUpSerial() {
    // The old Nano bootloader leaves the USART at 57600, transmitting; U2X0 would double the rate.
    UCSR0B = 0;
    UCSR0A = 0;
    UBRR0 = baudRateRegister;
    UCSR0C = _BV(UCSZ01) | _BV(UCSZ00); // 8N1
    // The transmitter only for the announcement: it goes out from its interrupt, a byte at a time,
    // and never holds up receiving.
    UCSR0B = _BV(RXEN0) | _BV(RXCIE0) | _BV(TXEN0);
}

// Starts the announcement unless it is on its way already (then it goes out whole anyway).
void announce() {
    ATOMIC_BLOCK(ATOMIC_RESTORESTATE) {
        if (UCSR0B & _BV(UDRIE0)) return;
        announcedBytes = 0;
        UCSR0B |= _BV(UDRIE0);
    }
}

// The watchdog guards the main loop in its interrupt mode only: a loop that has not come round for
// half a second (it comes round every millisecond) has hung, and the interrupt switches every
// output off. Never the reset mode: a watchdog reset leaves WDRF set, which holds the watchdog on
// at 16 ms, and the old Nano bootloader clears neither, so such a board would restart in its
// bootloader every 16 ms for as long as it has power.
void startWatchdogInterrupt() {
    const uint8_t change = _BV(WDCE) | _BV(WDE);
    const uint8_t interruptOnly = _BV(WDIE) | _BV(WDP2) | _BV(WDP0); // 0.5 s, WDE clear
    wdt_reset();
    // The second write must come within four cycles of the first.
    asm volatile("sts %0, %1\n\t"
                 "sts %0, %2"
                 :
                 : "n"(_SFR_MEM_ADDR(WDTCSR)), "r"(change), "r"(interruptOnly));
}

void setUpMillisecondClock() {
    if (millisecondClockOnTimer0) {
        power_timer0_enable();
        TCCR0B = 0;
        TCNT0 = 0;
        TCCR0A = _BV(WGM01); // CTC
        OCR0A = millisecondTop;
        TIMSK0 = _BV(OCIE0A);
        TCCR0B = _BV(CS01) | _BV(CS00); // clk / 64
        return;
    }
    TCCR2B = 0;
    TCNT2 = 0;
    TCCR2A = _BV(WGM21); // CTC
    OCR2A = millisecondTop;
    TIMSK2 = _BV(OCIE2A);
    TCCR2B = _BV(CS22); // clk / 64
}

void setLed(bool lit) {
    if (!linkLedOnD13) return;
    if (lit)
        PORTB |= _BV(ledPin);
    else
        PORTB &= ~_BV(ledPin);
}

void blinkLed(uint16_t halfPeriodMilliseconds) {
    if (++blinkMilliseconds < halfPeriodMilliseconds) return;
    blinkMilliseconds = 0;
    if (linkLedOnD13) PORTB ^= _BV(ledPin);
}

void onLevel(uint8_t level, uint8_t prefix) {
    millisecondsSinceByte = 0;
    // Alive again after a silence: the sender may be a Ventora that opened the port without
    // resetting the board, and has not heard it yet.
    if (!linkAlive) announce();
    linkAlive = true;
    const OutputLevels levels = levelsForOutputs(level > topLevel ? topLevel : level, prefix,
                                                 tuned.sideWindPercent, tuned.leftFanOutput);
    driveFans(levels.output1, levels.output2);
    if (fanOutputsAnswer()) setLed(true);
}

void onMillisecond() {
    advanceFanOutputs();
    // Counted only while alive, so the count cannot wrap during a long silence.
    if (linkAlive && ++millisecondsSinceByte >= tuned.failsafeMilliseconds) {
        linkAlive = false;
        blinkMilliseconds = 0;
        setLed(false);
        driveFans(0, 0);
    }
    if (!fanOutputsAnswer())
        blinkLed(unansweredBlinkHalfPeriodMilliseconds);
    else if (linkAlive)
        setLed(true);
    else
        blinkLed(tunables::failsafeBlinkHalfPeriodMilliseconds);
}

// Sleeps until an interrupt, unless one has already left work: interrupts stay off from the check
// to the sleep instruction (the instruction after sei always runs first), so a byte arriving in
// between still wakes the loop.
void sleepUntilWork() {
    cli();
    if (!levelArrived && pendingMilliseconds == 0) {
        sleep_enable();
        sei();
        sleep_cpu();
        sleep_disable();
    }
    sei();
}

// A bootloader starts the firmware without a reset (the old Nano one) or after one it may have
// changed registers before (Optiboot): nothing may count on a register's reset value. Every
// interrupt source the firmware has no handler for is switched off, and every pin starts as an
// input without pull-up until its owner claims it.
void quietThePeripherals() {
    TIMSK0 = 0;
    TCCR0A = 0;
    TCCR0B = 0;
    TIMSK1 = 0;
    TIMSK2 = 0;
    EIMSK = 0;
    PCICR = 0;
    SPCR = 0;
    TWCR = 0;
    ADCSRA = 0;
    ACSR = _BV(ACD);
    SPMCSR = 0;
    EECR = 0;
    DDRB = 0;
    PORTB = 0;
    DDRC = 0;
    PORTC = 0;
    DDRD = 0;
    PORTD = 0;
    // Nothing here uses the ADC or SPI; TWI and Timer0 only where an output kind starts them again.
    PRR = 0;
    power_adc_disable();
    power_spi_disable();
    power_twi_disable();
    power_timer0_disable();
}

} // namespace

ISR(USART_RX_vect) {
    const bool framingError = UCSR0A & _BV(FE0);
    const uint8_t byte = UDR0;
    // A garbled byte (a cable being plugged in, a USB chip resetting) is no level and no sign of
    // a live link.
    if (framingError) return;
    // A corner or output byte waits for its level byte; it is no sign of a live link either, so a
    // line of them alone still ends in the failsafe.
    if (byte >= fanWire::firstPrefixByte) {
        // The set-up tool's output bytes count only twice in a row: a saturated corner's byte
        // (0xFE, 0xFF) that lost its top bit on the line reads as one, and must not switch a fan
        // off for a tick and then kick it.
        const bool toolByte = byte < fanWire::cornerByte;
        pendingPrefix = !toolByte || byte == previousByte ? byte : 0;
        prefixAge = 0;
        previousByte = byte;
        return;
    }
    previousByte = byte;
    receivedLevel = byte;
    // Used once, and only fresh: a level whose own corner byte was lost runs both fans at the level
    // rather than take an older corner's split.
    receivedPrefix = prefixAge < fanWire::prefixFreshMilliseconds ? pendingPrefix : 0;
    pendingPrefix = 0;
    levelArrived = true;
}

ISR(USART_UDRE_vect) {
    UDR0 = pgm_read_byte(&announcementInFlash.bytes[announcedBytes]);
    if (++announcedBytes == fanWire::announcementLength) UCSR0B &= ~_BV(UDRIE0);
}

// The clock's tick, from whichever timer keeps it (the other's interrupt stays off).
ISR(TIMER2_COMPA_vect) {
    // Saturates: a main loop that fell this far behind has nothing useful to catch up on.
    if (pendingMilliseconds != 0xFF) ++pendingMilliseconds;
    if (prefixAge != 0xFF) ++prefixAge;
}

ISR(TIMER0_COMPA_vect, ISR_ALIASOF(TIMER2_COMPA_vect));

// The main loop has not come round for half a second: it hung. Every output goes to its off state,
// and the chip stays here with interrupts off until a reset (the port opened again, the cable
// plugged in again) starts the firmware afresh: returning would hand the outputs back to the loop
// that hung, and a reset of our own is what the old Nano bootloader cannot take.
ISR(WDT_vect) {
    stopFansAtOnce();
    setLed(false);
    for (;;)
        wdt_reset();
}

int main() {
    quietThePeripherals();
    readTunables();

    // The outputs first: a shield's own chip (the PCA9685) keeps what it drove while the Uno reset.
    setUpFanOutputs();
    if (linkLedOnD13) DDRB |= _BV(ledPin);
    setUpSerial();
    announce(); // goes out once interrupts are on
    setUpMillisecondClock();
    set_sleep_mode(SLEEP_MODE_IDLE);
    startWatchdogInterrupt();
    sei();

    // From power-on until the first byte the line counts as silent: fans off, LED blinking.
    for (;;) {
        wdt_reset();
        sleepUntilWork();
        uint8_t milliseconds;
        uint8_t level = 0;
        uint8_t prefix = 0;
        bool arrived;
        ATOMIC_BLOCK(ATOMIC_RESTORESTATE) {
            milliseconds = pendingMilliseconds;
            pendingMilliseconds = 0;
            arrived = levelArrived;
            levelArrived = false;
            if (arrived) {
                level = receivedLevel;
                prefix = receivedPrefix;
            }
        }
        while (milliseconds-- != 0)
            onMillisecond();
        if (arrived) onLevel(level, prefix);
    }
}
