// A PCA9685 PWM chip on the simulated board's I2C bus (A4, A5), as the Adafruit Motor Shield v2
// carries it at 0x60: its registers written over the TWI, its channels' duty and its PWM rate read
// back. One that does not answer leaves every transfer unacknowledged, as an unplugged shield. It
// also takes the I2C general call's software reset (address 0, byte 6), back to power-on.
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

  private:
    void write(std::uint8_t value);
    void powerOn();

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
    friend void onTwiMessage(avr_irq_t*, std::uint32_t, void*);
};

} // namespace board
