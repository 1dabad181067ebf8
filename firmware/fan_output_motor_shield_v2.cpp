// The Adafruit Motor Shield v2, fans on M1 and M2: a PCA9685 at I2C address 0x60 (A4 SDA, A5 SCL)
// drives two TB6612 bridges. M1 takes PCA9685 channel 8 for its PWM, 9 for IN2, 10 for IN1; M2
// takes 13 for its PWM, 12 for IN2, 11 for IN1, as the shield's library has them. Forward is IN2
// full off and IN1 full on, the PWM channel at the duty (12 bits).
//
// Off is every channel full off: both TB6612 inputs low, its outputs let go, the fans coast. The
// PCA9685 keeps driving what it drove while the Uno resets (it is powered from the Uno's 5 V and has
// no reset line), so the very first thing sent to it is every channel full off.
//
// The link never hangs the firmware: every wait on the TWI is bounded, a transfer that fails
// (nothing answers, a bus held low) leaves the bus released, and a shield that does not answer is
// set up again from the start every 100 ms while the failsafe and the LED go on.
//
// When the main loop hangs, the watchdog's interrupt has the chip reset by the I2C general call
// (address 0, byte 6, the PCA9685's software reset): every channel full off and the chip asleep,
// as at power-on, whatever register the loop was writing.
//
// A chip left partway through a byte (the Uno reset while it acknowledged, a glitch from the
// motors) holds SDA low for as long as it is powered, and no START can then reach it: the watchdog's
// stop and every set-up that fails first clear the bus.
#include "fan_duty.h"
#include "fan_output.h"

#include <avr/io.h>
#include <avr/power.h>
#include <util/delay.h>

namespace {

constexpr uint8_t shieldAddress = 0x60;
constexpr uint8_t generalCallAddress = 0x00, softwareReset = 0x06;
constexpr uint8_t sda = _BV(PC4), scl = _BV(PC5);
// A chip halfway through a byte lets SDA go within nine clocks: the rest of its byte and the
// acknowledge.
constexpr uint8_t busClearClocks = 9;
// Half a clock of the bus clear: 100 kHz, the standard mode every chip takes, and more than the
// 4.7 us a STOP needs before the next START.
constexpr double halfClockMicroseconds = 5;
// The PCA9685's registers and bits.
constexpr uint8_t mode1 = 0x00, mode2 = 0x01, firstChannelOn = 0x06, allChannelsOffHigh = 0xFD,
                  preScale = 0xFE;
constexpr uint8_t restart = 0x80, autoIncrement = 0x20, sleep = 0x10, totemPole = 0x04;
constexpr uint8_t fullOnOrOff = 0x10; // in LEDn_ON_H: full on; in LEDn_OFF_H: full off (it wins)
// round(25 MHz / (4096 * rate)) - 1 = 3 for the chip's fastest: 25 MHz / (4096 * 4) = 1526 Hz. The
// chip refuses less than 3.
constexpr uint8_t fastestPreScale = 3;
constexpr uint8_t firstChannel = 8; // M1's PWM; M1 and M2 use 8 to 13
constexpr uint8_t channelCount = 6;
constexpr uint16_t fullDuty = 4096;
constexpr uint16_t retryMilliseconds = 100;

// 400 kHz: 16 MHz / (16 + 2 * 12). A byte and its acknowledge take 23 us.
constexpr uint8_t bitRateRegister = 12;
// A step of the TWI is given about 400 us (some 6 cycles a look): far more than a byte needs, little
// enough that a dead bus costs the main loop under a millisecond a try.
constexpr uint16_t twiLooks = 1000;
constexpr uint8_t startSent = 0x08, addressAcknowledged = 0x18, dataAcknowledged = 0x28;

bool shieldAnswers;
uint16_t millisecondsToRetry;

bool twiStep(uint8_t control, uint8_t expectedStatus) {
    TWCR = control;
    for (uint16_t look = 0; look < twiLooks; ++look)
        if (TWCR & _BV(TWINT)) {
            const uint8_t status = TWSR & 0xF8;
            // The address's acknowledge: simavr (the simulated board of the tests) reports it as a
            // data byte's (0x28), a status the chip never gives after an address.
            return status == expectedStatus ||
                   (expectedStatus == addressAcknowledged && status == dataAcknowledged);
        }
    return false;
}

bool sendByte(uint8_t byte, uint8_t expectedStatus) {
    TWDR = byte;
    return twiStep(_BV(TWINT) | _BV(TWEN), expectedStatus);
}

bool startTransfer(uint8_t address) {
    return twiStep(_BV(TWINT) | _BV(TWSTA) | _BV(TWEN), startSent) &&
           sendByte(address << 1, addressAcknowledged);
}

void endTransfer(bool sent) {
    TWCR = _BV(TWINT) | _BV(TWSTO) | _BV(TWEN);
    for (uint16_t look = 0; look < twiLooks && (TWCR & _BV(TWSTO)); ++look) {
    }
    if (!sent) {
        // Whatever state the TWI was left in (a bus held low never finishes a START), it starts over.
        TWCR = 0;
        TWCR = _BV(TWEN);
    }
}

// One write transfer: the register, then the bytes (the PCA9685 moves on to the next register
// after each once auto-increment is on). False when anything failed.
bool writeRegisters(uint8_t firstRegister, const uint8_t* bytes, uint8_t count) {
    bool sent = startTransfer(shieldAddress) && sendByte(firstRegister, dataAcknowledged);
    for (uint8_t i = 0; sent && i < count; ++i)
        sent = sendByte(bytes[i], dataAcknowledged);
    endTransfer(sent);
    return sent;
}

bool writeRegister(uint8_t reg, uint8_t value) {
    return writeRegisters(reg, &value, 1);
}

void putChannel(uint8_t* at, uint16_t duty) {
    at[0] = 0;
    at[1] = duty >= fullDuty ? fullOnOrOff : 0;
    at[2] = static_cast<uint8_t>(duty);
    at[3] = duty == 0 ? fullOnOrOff : duty >= fullDuty ? 0 : static_cast<uint8_t>(duty >> 8);
}

// Channels 8 to 13 in one transfer, so both motors change at the same STOP.
bool writeChannels() {
    const uint16_t m1 = fanDuty(0), m2 = fanDuty(1);
    const uint16_t in1M1 = m1 == 0 ? 0 : fullDuty, in1M2 = m2 == 0 ? 0 : fullDuty;
    const uint16_t channels[channelCount] = {m1, 0, in1M1, in1M2, 0, m2}; // PWM1 IN2 IN1 IN1 IN2 PWM2
    uint8_t bytes[4 * channelCount];
    for (uint8_t i = 0; i < channelCount; ++i)
        putChannel(bytes + 4 * i, channels[i]);
    return writeRegisters(firstChannelOn + 4 * firstChannel, bytes, sizeof bytes);
}

// The TWI at 400 kHz, in charge of A4 and A5.
void startTwi() {
    TWSR = 0; // prescaler 1
    TWBR = bitRateRegister;
    TWCR = _BV(TWEN);
}

// A4 or A5 pulled low, or let go for the pull-ups to raise, as the bus's open-drain outputs do: the
// port bit stays 0 and only the direction changes, so the Uno never drives a line high against a
// chip pulling it low.
void pullLow(uint8_t line) {
    PORTC &= ~line;
    DDRC |= line;
    _delay_us(halfClockMicroseconds);
}

void letGo(uint8_t line) {
    PORTC &= ~line;
    DDRC &= ~line;
    _delay_us(halfClockMicroseconds);
}

// SCL clocked while SDA stays low, nine times at most, then a STOP (SDA rising while SCL is high):
// a chip that was partway through a byte lets SDA go and forgets the transfer. The TWI is off
// meanwhile, so the pins are the port's; it is left off.
void clearBus() {
    TWCR = 0;
    letGo(sda | scl);
    for (uint8_t clock = 0; clock < busClearClocks && !(PINC & sda); ++clock) {
        pullLow(scl);
        letGo(scl);
    }
    pullLow(scl);
    pullLow(sda);
    letGo(scl);
    letGo(sda);
}

// Every channel off first, then the PWM rate (the prescaler takes a value only while the chip
// sleeps), awake again, and the channels as they should be now.
bool startShield() {
    if (!writeRegister(allChannelsOffHigh, fullOnOrOff)) return false;
    // Outputs totem-pole and not inverted, whatever a program before set.
    if (!writeRegister(mode2, totemPole) || !writeRegister(mode1, sleep | autoIncrement) ||
        !writeRegister(preScale, fastestPreScale) || !writeRegister(mode1, autoIncrement))
        return false;
    // The oscillator needs 500 us after waking before a restart.
    _delay_us(500);
    return writeRegister(mode1, restart | autoIncrement) && writeChannels();
}

// A set-up that fails clears the bus, so that the next, 100 ms on, finds a chip that hears it.
bool setUpShield() {
    if (startShield()) return true;
    clearBus();
    PORTC |= sda | scl;
    startTwi();
    return false;
}

void drive() {
    if (shieldAnswers) shieldAnswers = writeChannels();
}

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(fullDuty);
    power_twi_enable();
    // The Uno's own pull-ups on SDA and SCL as well as the shield's: without a shield the bus still
    // reads idle, and a START gets its answer (none) at once.
    PORTC |= sda | scl;
    startTwi();
    shieldAnswers = setUpShield();
    millisecondsToRetry = retryMilliseconds;
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    drive();
}

void advanceFanOutputs() {
    if (kickStartEnded()) drive();
    if (shieldAnswers || --millisecondsToRetry != 0) return;
    millisecondsToRetry = retryMilliseconds;
    shieldAnswers = setUpShield();
}

bool fanOutputsAnswer() {
    return shieldAnswers;
}

void stopFansAtOnce() {
    // The TWI lets go of the lines wherever it was, and the bus is cleared of a chip holding SDA.
    power_twi_enable();
    clearBus();
    PORTC |= sda | scl;
    startTwi();
    endTransfer(startTransfer(generalCallAddress) && sendByte(softwareReset, dataAcknowledged));
    shieldAnswers = false;
}
