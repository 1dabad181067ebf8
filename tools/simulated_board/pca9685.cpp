// The PCA9685 on simavr's TWI: addressed by a START, the first byte written sets the register
// pointer, each further byte writes a register and (with MODE1's auto-increment) moves the pointer
// on. The ALL_LED registers write every channel; PRE_SCALE takes a value only while the chip sleeps.
// The general call (address 0) followed by 0x06 and a STOP resets it to its power-on state. On the
// pins, a START or STOP is SDA falling or rising while SCL is high, a bit is read as SCL rises, and
// the chip acknowledges by pulling SDA low from the eighth bit's falling edge to the ninth's.
#include "pca9685.h"

extern "C" {
#include <avr_ioport.h>
#include <avr_twi.h>
#include <sim_avr.h>
}

namespace board {
namespace {

constexpr std::uint8_t mode1 = 0x00, mode2 = 0x01, firstChannel = 0x06, lastChannelRegister = 0x45,
                       allLedOnLow = 0xFA, allLedOffHigh = 0xFD, preScale = 0xFE;
constexpr std::uint8_t generalCallAddress = 0x00, softwareResetByte = 0x06;
// A4 and A5 are PC4 and PC5; DDRC's and PORTC's data-space addresses.
constexpr int sdaBit = 4, sclBit = 5;
constexpr unsigned ddrc = 0x27, portc = 0x28;
constexpr std::uint8_t restart = 0x80, autoIncrement = 0x20, sleepBit = 0x10, invert = 0x10, full = 0x10;

} // namespace

void onTwiMessage(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<Pca9685*>(param);
    // Partway through a byte of its own, the chip hears no transfer until it is let go.
    if (self->holdsSda()) return;
    avr_twi_msg_irq_t message;
    message.u.v = value;
    const std::uint8_t condition = message.u.twi.msg;
    const auto acknowledge = [self] {
        avr_raise_irq(self->irq + TWI_IRQ_INPUT, avr_twi_irq_msg(TWI_COND_ACK, self->address << 1, 1));
    };
    if (condition & TWI_COND_STOP) self->stop();
    if (condition & TWI_COND_START) {
        if (!self->start(message.u.twi.addr)) return;
        acknowledge();
    }
    if (!self->selected) return;
    if (condition & TWI_COND_WRITE) {
        acknowledge();
        self->receive(message.u.twi.data);
    }
    if (condition & TWI_COND_READ) {
        avr_raise_irq(self->irq + TWI_IRQ_INPUT,
                      avr_twi_irq_msg(TWI_COND_READ, self->address << 1, self->registers[self->pointer]));
        if (self->registers[mode1] & autoIncrement) ++self->pointer;
    }
}

void onSclPin(avr_irq_t*, std::uint32_t value, void* param) {
    static_cast<Pca9685*>(param)->onScl(value != 0);
}

void onSdaPin(avr_irq_t*, std::uint32_t value, void* param) {
    static_cast<Pca9685*>(param)->onSda(value != 0);
}

// Port C's directions: SCL made an output while its port bit is set drives it high, though the
// pin's level (already high) does not change.
void onPortCDirections(avr_irq_t*, std::uint32_t, void* param) {
    auto* self = static_cast<Pca9685*>(param);
    if (self->avr->data[ddrc] & self->avr->data[portc] & (1 << sclBit)) self->sclDrivenHighSeen = true;
}

Pca9685::Pca9685(avr_t* chip, std::uint8_t chipAddress, bool answer)
    : avr(chip), address(chipAddress), answers(answer) {
    powerOn();

    static const char* names[] = {"pca9685.in", "pca9685.out"};
    irq = avr_alloc_irq(&avr->irq_pool, 0, 2, names);
    avr_irq_register_notify(irq + TWI_IRQ_OUTPUT, onTwiMessage, this);
    avr_connect_irq(avr_io_getirq(avr, AVR_IOCTL_TWI_GETIRQ(0), TWI_IRQ_OUTPUT), irq + TWI_IRQ_OUTPUT);
    avr_connect_irq(irq + TWI_IRQ_INPUT, avr_io_getirq(avr, AVR_IOCTL_TWI_GETIRQ(0), TWI_IRQ_INPUT));

    // The shield's pull-ups: an input on A4 or A5 reads high unless something pulls it low.
    sclPin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('C'), sclBit);
    sdaPin = avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('C'), sdaBit);
    pullSda(false);
    avr_irq_register_notify(sclPin, onSclPin, this);
    avr_irq_register_notify(sdaPin, onSdaPin, this);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('C'), IOPORT_IRQ_DIRECTION_ALL),
                            onPortCDirections, this);
}

bool Pca9685::start(std::uint8_t addressByte) {
    resetArmed = false;
    // The general call is a write to address 0: a read from it is no call.
    generalCall = addressByte == generalCallAddress << 1;
    selected = generalCall || (addressByte >> 1) == address;
    if (!selected) return false;
    ++started;
    if (!answers) {
        selected = false;
        return false;
    }
    pointerSet = false;
    return true;
}

bool Pca9685::receive(std::uint8_t byte) {
    if (!selected) return false;
    if (generalCall) {
        // The reset is the call's one byte: any other, or any more, is not a reset.
        resetArmed = !pointerSet && byte == softwareResetByte;
        pointerSet = true;
    } else {
        write(byte);
    }
    return true;
}

void Pca9685::stop() {
    if (resetArmed) {
        powerOn();
        ++softwareResets;
    }
    selected = generalCall = resetArmed = false;
}

void Pca9685::holdSdaLow(unsigned clocks) {
    pinTransfer = false; // whatever byte it was in, it has lost track of the bus
    sdaClocksLeft = clocks;
    pullSda(clocks > 0);
}

void Pca9685::pullSda(bool low) {
    avr_ioport_external_t pullUps{};
    pullUps.name = 'C';
    pullUps.mask = 1 << sdaBit | 1 << sclBit;
    pullUps.value = (low ? 0 : 1 << sdaBit) | 1 << sclBit;
    avr_ioctl(avr, AVR_IOCTL_IOPORT_SET_EXTERNAL('C'), &pullUps);
    // The line now: what the Uno drives, if it drives it; else the chip's pull or the pull-up.
    const bool driven = avr->data[ddrc] & (1 << sdaBit);
    const bool level = driven ? (avr->data[portc] & (1 << sdaBit)) != 0 : !low;
    sdaOwnChange = true;
    avr_raise_irq(sdaPin, level);
    sdaOwnChange = false;
}

void Pca9685::onScl(bool high) {
    if (high && (avr->data[ddrc] & (1 << sclBit))) sclDrivenHighSeen = true;
    const bool rose = high && !sclHigh, fell = !high && sclHigh;
    sclHigh = high;
    if (rose && pinTransfer && pinBits < 9) {
        if (pinBits < 8) pinByte = static_cast<std::uint8_t>(pinByte << 1 | (sdaHigh ? 1 : 0));
        ++pinBits;
    }
    if (!fell) return;
    // The chip lets go of SDA after the falling edge that ends its bit.
    if (sdaClocksLeft > 0 && --sdaClocksLeft == 0) pullSda(false);
    if (!pinTransfer) return;
    if (pinBits == 8) {
        const bool acknowledged = pinAddressed ? receive(pinByte) : start(pinByte);
        pinAddressed = true;
        // Its acknowledge: SDA low through the ninth clock.
        if (acknowledged) {
            sdaClocksLeft = 1;
            pullSda(true);
        }
    } else if (pinBits == 9) {
        pinBits = 0;
        pinByte = 0;
    }
}

void Pca9685::onSda(bool high) {
    const bool changed = high != sdaHigh;
    sdaHigh = high;
    if (!changed || sdaOwnChange || !sclHigh || holdsSda()) return;
    if (!high) {
        // START: a new transfer, whatever came before.
        pinTransfer = true;
        pinAddressed = false;
        pinBits = 0;
        pinByte = 0;
    } else {
        ++pinStops;
        pinTransfer = false;
        stop();
    }
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
