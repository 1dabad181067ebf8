// The VNH2SP30 "Monster Moto" shield and its clones, fans on motors 1 and 2. Motor 1: INA D7, INB
// D8, PWM D5 (OC0B); motor 2: INA D4, INB D9, PWM D6 (OC0A), both on Timer0. Forward is INA high
// and INB low. The shield's enable/diagnostic lines (A0, A1) keep their own pull-ups and are left
// as inputs.
//
// Off is INA, INB and PWM low: every switch of the bridge off, so the fans coast, and nothing it
// reads floats.
#include "fan_duty.h"
#include "fan_output.h"

#include <avr/io.h>
#include <avr/power.h>

namespace {

constexpr uint8_t portDPins = _BV(PD7) | _BV(PD4)    // INA 1, INA 2
                              | _BV(PD5) | _BV(PD6); // PWM 1 (OC0B), PWM 2 (OC0A)
constexpr uint8_t inputsA = _BV(PD7) | _BV(PD4);
constexpr uint8_t inputsB = _BV(PB0) | _BV(PB1);                 // INB 1 (D8), INB 2 (D9)
constexpr uint8_t fanCompareOutputs = _BV(COM0A1) | _BV(COM0B1); // non-inverting
// Fast PWM (mode 3, TOP 255) at clk / 8: 7.8 kHz, under the VNH2SP30's 20 kHz. Its PWM input
// switches the low side and its high side runs from a charge pump, so full is the input held high
// (OCR 255), as the shield's own example drives it. Duty is (OCR + 1) / 256: full is 256 counts,
// and 0 needs the pins let go of by the timer.
constexpr uint16_t fullDuty = 256;
constexpr uint8_t fastPwm = _BV(WGM01) | _BV(WGM00);

void setDuty(uint16_t duty) {
    if (duty == 0) {
        TCCR0A = fastPwm; // the pins' own low
        return;
    }
    OCR0A = static_cast<uint8_t>(duty - 1);
    OCR0B = static_cast<uint8_t>(duty - 1);
    TCCR0A = fastPwm | fanCompareOutputs;
}

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(fullDuty);

    PORTD &= ~portDPins;
    PORTB &= ~inputsB;
    DDRD |= portDPins;
    DDRB |= inputsB;

    power_timer0_enable();
    TCCR0B = 0;
    TIMSK0 = 0;
    TCCR0A = fastPwm;
    TCNT0 = 0;
    OCR0A = 0;
    OCR0B = 0;
    TCCR0B = _BV(CS01); // clk / 8
}

void driveFans(uint8_t level) {
    const uint16_t duty = dutyForLevel(level);
    if (level == 0) {
        setDuty(0);
        PORTD &= ~inputsA;
        return;
    }
    PORTD |= inputsA; // INB stays low
    setDuty(duty);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuty(levelDuty());
}

bool fanOutputsAnswer() {
    return true;
}

void stopFansAtOnce() {
    setDuty(0);
    PORTD &= ~portDPins;
    PORTB &= ~inputsB;
}
