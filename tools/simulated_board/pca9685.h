// A PCA9685 PWM chip on the simulated board's I2C bus (A4, A5), as the Adafruit Motor Shield v2
// carries it at 0x60: its registers written over the TWI, its channels' duty and its PWM rate read
// back. One that does not answer leaves every transfer unacknowledged, as an unplugged shield. It
// also takes the I2C general call's software reset (address 0, byte 6), back to power-on.
//
// It is on the pins as well: the shield's pull-ups hold A4 (SDA) and A5 (SCL) high where nothing
// pulls them low, a transfer bit-banged on the pins reaches it as one over the TWI does, and, left
// partway through a byte (the Uno reset while the chip acknowledged, a glitch from the motors), it
// holds SDA low until it has had the rest of its clocks, as the real chip does, with no timeout.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

struct avr_t;
struct avr_irq_t;

namespace board {

class Pca9685 {
  public:
    Pca9685(avr_t* avr, std::uint8_t address, bool answers = true);
    Pca9685(const Pca9685&) = delete;
    Pca9685& operator=(const Pca9685&) = delete;

    // The share of each period channel 0 to 15 is high: 0 full off (or asleep), 1 full on.
    double duty(int channel) const;
    bool fullOn(int channel) const { return duty(channel) == 1.0; }
    bool fullOff(int channel) const { return duty(channel) == 0.0; }
    // 25 MHz / (4096 * (PRE_SCALE + 1)).
    double frequencyHz() const;
    bool asleep() const;
    std::uint8_t reg(std::uint8_t address) const { return registers[address]; }
    // As a test sets the chip up, or a program before left it: a register written directly.
    void setRegister(std::uint8_t address, std::uint8_t value) { registers[address] = value; }
    // Whether it acknowledges its address: an unplugged shield, or plugged in again.
    void setAnswers(bool answer) { answers = answer; }
    // Transfers to this address, acknowledged or not.
    unsigned transfers() const { return started; }
    // Every register write it took, in order: the register and the value.
    const std::vector<std::pair<std::uint8_t, std::uint8_t>>& writes() const { return written; }
    // Software resets by general call it took.
    unsigned resets() const { return softwareResets; }

    // Partway through a byte: SDA held low from now until that many falling edges of SCL. Until
    // then it hears nothing on the bus.
    void holdSdaLow(unsigned clocks);
    bool holdsSda() const { return sdaClocksLeft > 0; }
    // SCL driven high by the Uno (an output, its port bit set), which on a real bus fights
    // whatever pulls it low: never right on an I2C line.
    bool sclDrivenHigh() const { return sclDrivenHighSeen; }
    // STOP conditions seen on the pins: SDA rising while SCL is high.
    unsigned stopsOnPins() const { return pinStops; }

  private:
    // A transfer's steps, over the TWI or on the pins: true where the chip acknowledges.
    bool start(std::uint8_t addressByte);
    bool receive(std::uint8_t byte);
    void stop();
    void write(std::uint8_t value);
    void powerOn();
    // The pins as simavr reports them, and the chip's own pull on SDA.
    void onScl(bool high);
    void onSda(bool high);
    void pullSda(bool low);

    avr_t* avr;
    avr_irq_t* irq = nullptr;
    std::uint8_t address;
    bool answers;
    bool selected = false;
    bool generalCall = false; // addressed by the general call rather than its own address
    bool resetArmed = false;  // the general call's reset byte came: the reset happens at the STOP
    unsigned softwareResets = 0;
    bool pointerSet = false;
    std::uint8_t pointer = 0;
    unsigned started = 0;
    std::array<std::uint8_t, 256> registers{};
    std::vector<std::pair<std::uint8_t, std::uint8_t>> written;
    // On the pins.
    avr_irq_t* sclPin = nullptr;
    avr_irq_t* sdaPin = nullptr;
    bool sclHigh = true, sdaHigh = true;
    bool sdaOwnChange = false; // the chip's own pull changing: no START or STOP
    unsigned sdaClocksLeft = 0;
    bool sclDrivenHighSeen = false;
    unsigned pinStops = 0;
    bool pinTransfer = false;  // between a START and a STOP seen on the pins
    bool pinAddressed = false; // the address byte has come
    unsigned pinBits = 0;      // SCL's rising edges in this byte, its acknowledge the ninth
    std::uint8_t pinByte = 0;
    friend void onTwiMessage(avr_irq_t*, std::uint32_t, void*);
    friend void onSclPin(avr_irq_t*, std::uint32_t, void*);
    friend void onSdaPin(avr_irq_t*, std::uint32_t, void*);
    friend void onPortCDirections(avr_irq_t*, std::uint32_t, void*);
};

} // namespace board
