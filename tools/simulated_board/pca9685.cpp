// The PCA9685 on simavr's TWI: addressed by a START, the first byte written sets the register
// pointer, each further byte writes a register and (with MODE1's auto-increment) moves the pointer
// on. The ALL_LED registers write every channel; PRE_SCALE takes a value only while the chip sleeps.
// The general call (address 0) followed by 0x06 and a STOP resets it to its power-on state.
#include "pca9685.h"

extern "C" {
#include <avr_twi.h>
#include <sim_avr.h>
}

namespace board {
namespace {

constexpr std::uint8_t mode1 = 0x00, mode2 = 0x01, firstChannel = 0x06, lastChannelRegister = 0x45,
                       allLedOnLow = 0xFA, allLedOffHigh = 0xFD, preScale = 0xFE;
constexpr std::uint8_t generalCallAddress = 0x00, softwareResetByte = 0x06;
constexpr std::uint8_t restart = 0x80, autoIncrement = 0x20, sleepBit = 0x10, invert = 0x10, full = 0x10;

} // namespace

void onTwiMessage(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<Pca9685*>(param);
    avr_twi_msg_irq_t message;
    message.u.v = value;
    const std::uint8_t condition = message.u.twi.msg;
    if (condition & TWI_COND_STOP) {
        if (self->resetArmed) {
            self->powerOn();
            ++self->softwareResets;
        }
        self->selected = self->generalCall = self->resetArmed = false;
    }
    if (condition & TWI_COND_START) {
        self->resetArmed = false;
        // The general call is a write to address 0: a read from it is no call.
        self->generalCall = message.u.twi.addr == generalCallAddress << 1;
        self->selected = self->generalCall || (message.u.twi.addr >> 1) == self->address;
        if (!self->selected) return;
        ++self->started;
        if (!self->answers) {
            self->selected = false;
            return;
        }
        self->pointerSet = false;
        avr_raise_irq(self->irq + TWI_IRQ_INPUT, avr_twi_irq_msg(TWI_COND_ACK, self->address << 1, 1));
    }
    if (!self->selected) return;
    if (condition & TWI_COND_WRITE) {
        avr_raise_irq(self->irq + TWI_IRQ_INPUT, avr_twi_irq_msg(TWI_COND_ACK, self->address << 1, 1));
        if (self->generalCall) {
            // The reset is the call's one byte: any other, or any more, is not a reset.
            self->resetArmed = !self->pointerSet && message.u.twi.data == softwareResetByte;
            self->pointerSet = true;
        } else {
            self->write(message.u.twi.data);
        }
    }
    if (condition & TWI_COND_READ) {
        avr_raise_irq(self->irq + TWI_IRQ_INPUT,
                      avr_twi_irq_msg(TWI_COND_READ, self->address << 1, self->registers[self->pointer]));
        if (self->registers[mode1] & autoIncrement) ++self->pointer;
    }
}

Pca9685::Pca9685(avr_t* chip, std::uint8_t chipAddress, bool answer)
    : avr(chip), address(chipAddress), answers(answer) {
    powerOn();

    static const char* names[] = {"pca9685.in", "pca9685.out"};
    irq = avr_alloc_irq(&avr->irq_pool, 0, 2, names);
    avr_irq_register_notify(irq + TWI_IRQ_OUTPUT, onTwiMessage, this);
    avr_connect_irq(avr_io_getirq(avr, AVR_IOCTL_TWI_GETIRQ(0), TWI_IRQ_OUTPUT), irq + TWI_IRQ_OUTPUT);
    avr_connect_irq(irq + TWI_IRQ_INPUT, avr_io_getirq(avr, AVR_IOCTL_TWI_GETIRQ(0), TWI_IRQ_INPUT));
}

void Pca9685::powerOn() {
    // Asleep, every channel full off, 200 Hz.
    registers.fill(0);
    registers[mode1] = sleepBit | 0x01;
    registers[mode2] = 0x04;
    for (int channel = 0; channel < 16; ++channel)
        registers[firstChannel + 4 * channel + 3] = full;
    registers[preScale] = 0x1E;
}

void Pca9685::write(std::uint8_t value) {
    if (!pointerSet) {
        pointer = value;
        pointerSet = true;
        return;
    }
    written.emplace_back(pointer, value);
    if (pointer == mode1) {
        // RESTART is cleared by writing it 1; SLEEP and the rest are as written.
        registers[mode1] =
            static_cast<std::uint8_t>((value & ~restart) | (registers[mode1] & restart & ~value));
    } else if (pointer == preScale) {
        if (registers[mode1] & sleepBit) registers[preScale] = value < 3 ? 3 : value;
    } else if (pointer >= allLedOnLow && pointer <= allLedOffHigh) {
        for (int channel = 0; channel < 16; ++channel)
            registers[firstChannel + 4 * channel + (pointer - allLedOnLow)] = value;
    } else {
        registers[pointer] = value;
    }
    if (!(registers[mode1] & autoIncrement)) return;
    // The channels roll over from the last back to MODE1; the ALL_LED registers count on up.
    pointer = pointer == lastChannelRegister ? mode1 : static_cast<std::uint8_t>(pointer + 1);
}

double Pca9685::duty(int channel) const {
    const std::uint8_t* led = &registers[firstChannel + 4 * channel];
    double share;
    if (led[3] & full)
        share = 0.0; // full off wins over full on
    else if (led[1] & full)
        share = 1.0;
    else if (asleep())
        share = 0.0; // no oscillator, no PWM
    else {
        const int on = (led[1] & 0x0F) << 8 | led[0];
        const int off = (led[3] & 0x0F) << 8 | led[2];
        share = ((off - on + 4096) % 4096) / 4096.0;
    }
    return (registers[mode2] & invert) ? 1.0 - share : share;
}

double Pca9685::frequencyHz() const {
    return 25e6 / (4096.0 * (registers[preScale] + 1));
}

bool Pca9685::asleep() const {
    return registers[mode1] & sleepBit;
}

} // namespace board
