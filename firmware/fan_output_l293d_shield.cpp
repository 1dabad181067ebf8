// The L293D motor shield (the Adafruit v1 design and its clones), fans on M1 and M2. Each motor's
// enable takes Timer2's PWM (M1 on OC2A, D11; M2 on OC2B, D3); its direction comes from the
// shield's 74HC595, shifted in on D8 (data) and D4 (clock), latched on D12, outputs enabled by D7
// held low. The bits are the shield's library's: M1 forward is bit 2 high and bit 3 low, M2 forward
// bit 1 high and bit 4 low; M3 and M4 (bits 0, 5, 6, 7, enables on D5 and D6) stay off.
//
// Off is every 595 bit low and both enables low: the L293D's outputs let go and the fans coast.
#include "fan_duty.h"
#include "fan_output.h"
#include "timer2_pwm.h"

#include <avr/io.h>

namespace {

constexpr uint8_t latchData = PB0;    // D8
constexpr uint8_t latchClock = PD4;   // D4
constexpr uint8_t outputEnable = PD7; // D7, active low
constexpr uint8_t latchStrobe = PB4;  // D12
constexpr uint8_t m1Enable = PB3;     // D11, OC2A
constexpr uint8_t m2Enable = PD3;     // D3, OC2B
constexpr uint8_t m3m4Enables = _BV(PD5) | _BV(PD6);
constexpr uint8_t forwardBits[2] = {_BV(2), _BV(1)}; // M1_A, M2_A
// Timer2's 7.8 kHz is the rate the shield's own library runs M1 and M2 at.

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

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(timer2FullDuty);

    PORTB &= ~(_BV(latchData) | _BV(latchStrobe) | _BV(m1Enable));
    PORTD &= ~(_BV(latchClock) | _BV(m2Enable) | m3m4Enables);
    DDRB |= _BV(latchData) | _BV(latchStrobe) | _BV(m1Enable);
    DDRD |= _BV(latchClock) | _BV(m2Enable) | m3m4Enables;
    // Every bit low latched first, then the 595's outputs enabled (its OE is pulled up on the
    // shield until D7 drives it).
    shiftOut(0);
    PORTD &= ~_BV(outputEnable);
    DDRD |= _BV(outputEnable);

    startTimer2Pwm();
}

// M1's enable is OC2A, M2's OC2B.
void setDuties() {
    setTimer2Duty(fanDuty(0), fanDuty(1));
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    // A motor starting has its direction latched before its enable rises; one stopping has its
    // enable low before its direction drops, so it coasts with both inputs low.
    const uint8_t running =
        (output1Level != 0 ? forwardBits[0] : 0) | (output2Level != 0 ? forwardBits[1] : 0);
    shiftOut(latched | running);
    setDuties();
    shiftOut(running);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuties();
}

bool fanOutputsAnswer() {
    return true;
}

// The enables low stop both bridges whatever the 595 holds; every bit low is latched as well, even
// if the loop hung halfway through shifting in another.
void stopFansAtOnce() {
    setTimer2Duty(0, 0);
    PORTB &= ~_BV(m1Enable);
    PORTD &= ~_BV(m2Enable);
    latched = 0xFF;
    shiftOut(0);
}
