// The Arduino Motor Shield Rev3 (an L298P), fans on A and B. A: PWM on D3 (OC2B), direction D12,
// brake D9; B: PWM on D11 (OC2A), direction D13, brake D8. D13 being B's direction, this kind shows
// no link on the LED.
//
// Off is PWM low with the brakes off: the L298P's enables low, its outputs let go, the fans coast.
// The directions go low too, so that every line the shield reads is driven and none is high.
#include "fan_duty.h"
#include "fan_output.h"
#include "timer2_pwm.h"

#include <avr/io.h>

namespace {

constexpr uint8_t pwmA = PD3;                           // D3, OC2B
constexpr uint8_t portBPins = _BV(PB3)                  // D11, OC2A: PWM B
                              | _BV(PB4) | _BV(PB5)     // D12, D13: direction A, B
                              | _BV(PB1) | _BV(PB0);    // D9, D8: brake A, B
constexpr uint8_t directions[2] = {_BV(PB4), _BV(PB5)}; // A, B
// Timer2's 7.8 kHz is well within the L298P's switching (its datasheet allows 40 kHz) and below
// 25 kHz, where its losses grow.

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(timer2FullDuty);

    PORTB &= ~portBPins;
    PORTD &= ~_BV(pwmA);
    DDRB |= portBPins;
    DDRD |= _BV(pwmA);

    startTimer2Pwm();
}

// A's PWM is OC2B (D3), B's OC2A (D11).
void setDuties() {
    setTimer2Duty(fanDuty(1), fanDuty(0));
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    // A motor starting has its direction high before its PWM; one stopping has its PWM low before
    // its direction. The brakes stay low.
    const uint8_t running = (output1Level != 0 ? directions[0] : 0) | (output2Level != 0 ? directions[1] : 0);
    PORTB |= running;
    setDuties();
    PORTB &= ~((directions[0] | directions[1]) & ~running);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuties();
}

bool fanOutputsAnswer() {
    return true;
}

void stopFansAtOnce() {
    setTimer2Duty(0, 0);
    PORTB &= ~portBPins;
    PORTD &= ~_BV(pwmA);
}
