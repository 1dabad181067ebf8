// The L293D motor shield (the Adafruit v1 design and its clones), fans on M1 and M2. Each motor's
// enable takes Timer2's PWM (M1 on OC2A, D11; M2 on OC2B, D3); its direction comes from the
// shield's 74HC595, shifted in on D8 (data) and D4 (clock), latched on D12, outputs enabled by D7
// held low. The bits are the shield's library's: M1 forward is bit 2 high and bit 3 low, M2 forward
// bit 1 high and bit 4 low; M3 and M4 (bits 0, 5, 6, 7, enables on D5 and D6) stay off.
//
// Off is every 595 bit low and both enables low: the L293D's outputs let go and the fans coast.
#include "fan_duty.h"
#include "fan_output.h"

#include <avr/io.h>

namespace {

constexpr uint8_t latchData = PB0;    // D8
constexpr uint8_t latchClock = PD4;   // D4
constexpr uint8_t outputEnable = PD7; // D7, active low
constexpr uint8_t latchStrobe = PB4;  // D12
constexpr uint8_t m1Enable = PB3;     // D11, OC2A
constexpr uint8_t m2Enable = PD3;     // D3, OC2B
constexpr uint8_t m3m4Enables = _BV(PD5) | _BV(PD6);
constexpr uint8_t forwardBits = _BV(2) | _BV(1);                 // M1_A and M2_A
constexpr uint8_t fanCompareOutputs = _BV(COM2A1) | _BV(COM2B1); // non-inverting
// Fast PWM (mode 3, TOP 255) at clk / 8: 16 MHz / (8 * 256) = 7.8 kHz, as the shield's library
// runs M1 and M2. Duty is (OCR + 1) / 256, so full is 256 counts and 0 needs the pins let go of
// by the timer (OCR 0 would still be a one-count spike).
constexpr uint16_t fullDuty = 256;
constexpr uint8_t fastPwm = _BV(WGM21) | _BV(WGM20);

uint8_t latched = 0xFF; // none yet

void shiftOut(uint8_t bits) {
    if (bits == latched) return;
    latched = bits;
    PORTB &= ~_BV(latchStrobe);
    for (uint8_t bit = 0x80; bit != 0; bit >>= 1) {
        PORTD &= ~_BV(latchClock);
        if (bits & bit)
            PORTB |= _BV(latchData);
        else
            PORTB &= ~_BV(latchData);
        PORTD |= _BV(latchClock);
    }
    PORTB |= _BV(latchStrobe);
}

void setDuty(uint16_t duty) {
    if (duty == 0) {
        TCCR2A = fastPwm; // the pins' own low
        return;
    }
    OCR2A = static_cast<uint8_t>(duty - 1);
    OCR2B = static_cast<uint8_t>(duty - 1);
    TCCR2A = fastPwm | fanCompareOutputs;
}

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(fullDuty);

    PORTB &= ~(_BV(latchData) | _BV(latchStrobe) | _BV(m1Enable));
    PORTD &= ~(_BV(latchClock) | _BV(m2Enable) | m3m4Enables);
    DDRB |= _BV(latchData) | _BV(latchStrobe) | _BV(m1Enable);
    DDRD |= _BV(latchClock) | _BV(m2Enable) | m3m4Enables;
    // Every bit low latched first, then the 595's outputs enabled (its OE is pulled up on the
    // shield until D7 drives it).
    shiftOut(0);
    PORTD &= ~_BV(outputEnable);
    DDRD |= _BV(outputEnable);

    TCCR2B = 0;
    TIMSK2 = 0;
    TCCR2A = fastPwm;
    TCNT2 = 0;
    OCR2A = 0;
    OCR2B = 0;
    TCCR2B = _BV(CS21); // clk / 8
}

void driveFans(uint8_t level) {
    const uint16_t duty = dutyForLevel(level);
    if (level == 0) {
        setDuty(0);
        shiftOut(0);
        return;
    }
    shiftOut(forwardBits);
    setDuty(duty);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuty(levelDuty());
}

bool fanOutputsAnswer() {
    return true;
}
