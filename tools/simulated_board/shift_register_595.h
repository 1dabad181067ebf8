// A 74HC595 on the simulated board's pins, as the L293D motor shield wires it: data D8, clock D4
// (shift on its rising edge), latch D12 (copy on its rising edge), output enable D7 (active low).
#pragma once

#include <cstdint>

struct avr_t;
struct avr_irq_t;

namespace board {

class ShiftRegister595 {
  public:
    explicit ShiftRegister595(avr_t* avr);
    ShiftRegister595(const ShiftRegister595&) = delete;
    ShiftRegister595& operator=(const ShiftRegister595&) = delete;

    // The latched bits, Q0 in bit 0 (the first bit shifted in ends in Q7).
    std::uint8_t latched() const { return outputs; }
    // D7 drives OE low: the outputs drive. Otherwise (D7 high or released, the shield's pull-up)
    // they float.
    bool enabled() const;
    // What drives Q0 to Q7 now: the latched bits while enabled, 0 (none high) otherwise.
    std::uint8_t driven() const { return enabled() ? outputs : 0; }

  private:
    avr_t* avr;
    std::uint8_t shifting = 0;
    std::uint8_t outputs = 0;
    bool clockHigh = false;
    bool latchHigh = false;
    friend void onShiftClock(avr_irq_t*, std::uint32_t, void*);
    friend void onLatch(avr_irq_t*, std::uint32_t, void*);
};

} // namespace board
