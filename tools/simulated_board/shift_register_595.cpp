// The 74HC595: notified when the firmware writes the clock's and the latch's ports, it reads the
// data pin's port bit at the clock's rising edge, as the chip samples it.
#include "shift_register_595.h"

extern "C" {
#include <avr_ioport.h>
#include <sim_avr.h>
}

namespace board {
namespace {

constexpr unsigned portbAddress = 0x25, ddrdAddress = 0x2A, portdAddress = 0x2B;
constexpr std::uint8_t dataBit = 1 << 0;         // PB0, D8
constexpr std::uint8_t outputEnableBit = 1 << 7; // PD7, D7

} // namespace

void onShiftClock(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<ShiftRegister595*>(param);
    const bool high = value != 0;
    if (high && !self->clockHigh)
        self->shifting = static_cast<std::uint8_t>(self->shifting << 1 |
                                                   ((self->avr->data[portbAddress] & dataBit) ? 1 : 0));
    self->clockHigh = high;
}

void onLatch(avr_irq_t*, std::uint32_t value, void* param) {
    auto* self = static_cast<ShiftRegister595*>(param);
    const bool high = value != 0;
    if (high && !self->latchHigh) self->outputs = self->shifting;
    self->latchHigh = high;
}

ShiftRegister595::ShiftRegister595(avr_t* chip) : avr(chip) {
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('D'), 4), onShiftClock, this);
    avr_irq_register_notify(avr_io_getirq(avr, AVR_IOCTL_IOPORT_GETIRQ('B'), 4), onLatch, this);
}

bool ShiftRegister595::enabled() const {
    return (avr->data[ddrdAddress] & outputEnableBit) && !(avr->data[portdAddress] & outputEnableBit);
}

} // namespace board
