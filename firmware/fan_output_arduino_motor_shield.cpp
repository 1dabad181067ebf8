// The Arduino Motor Shield Rev3 (an L298P), fans on A and B. A: PWM on D3 (OC2B), direction D12,
// brake D9; B: PWM on D11 (OC2A), direction D13, brake D8. D13 being B's direction, this kind shows
// no link on the LED.
//
// Off is PWM low with the brakes off: the L298P's enables low, its outputs let go, the fans coast.
// The directions go low too, so that every line the shield reads is driven and none is high.
#include "fan_duty.h"
#include "fan_output.h"

#include <avr/io.h>

namespace {

constexpr uint8_t pwmA = PD3;                        // D3, OC2B
constexpr uint8_t portBPins = _BV(PB3)               // D11, OC2A: PWM B
                              | _BV(PB4) | _BV(PB5)  // D12, D13: direction A, B
                              | _BV(PB1) | _BV(PB0); // D9, D8: brake A, B
constexpr uint8_t directions = _BV(PB4) | _BV(PB5);
constexpr uint8_t fanCompareOutputs = _BV(COM2A1) | _BV(COM2B1); // non-inverting
// Fast PWM (mode 3, TOP 255) at clk / 8: 7.8 kHz, well within the L298P's switching (its datasheet
// allows 40 kHz) and below 25 kHz where its losses grow. Both channels share Timer2's TOP, so the
// other rates are clk / 1 (62.5 kHz, too fast) or phase-correct halves of these. Duty is
// (OCR + 1) / 256: full is 256 counts, and 0 needs the pins let go of by the timer.
constexpr uint16_t fullDuty = 256;
constexpr uint8_t fastPwm = _BV(WGM21) | _BV(WGM20);

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

    PORTB &= ~portBPins;
    PORTD &= ~_BV(pwmA);
    DDRB |= portBPins;
    DDRD |= _BV(pwmA);

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
        PORTB &= ~directions;
        return;
    }
    PORTB |= directions; // the brakes stay low
    setDuty(duty);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuty(levelDuty());
}

bool fanOutputsAnswer() {
    return true;
}
