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
constexpr uint8_t inputsA[2] = {_BV(PD7), _BV(PD4)}; // INA 1, INA 2
constexpr uint8_t inputsB = _BV(PB0) | _BV(PB1);     // INB 1 (D8), INB 2 (D9)
// Fast PWM (mode 3, TOP 255) at clk / 8: 7.8 kHz, under the VNH2SP30's 20 kHz. Its PWM input
// switches the low side and its high side runs from a charge pump, so full is the input held high
// (OCR 255), as the shield's own example drives it. Duty is (OCR + 1) / 256: full is 256 counts,
// and 0 needs the pins let go of by the timer.
constexpr uint16_t fullDuty = 256;
constexpr uint8_t fastPwm = _BV(WGM01) | _BV(WGM00);

// Motor 1's PWM is OC0B (D5), motor 2's OC0A (D6); a pin at 0 keeps its own low.
void setDuties(uint16_t motor1Duty, uint16_t motor2Duty) {
    if (motor1Duty != 0) OCR0B = static_cast<uint8_t>(motor1Duty - 1);
    if (motor2Duty != 0) OCR0A = static_cast<uint8_t>(motor2Duty - 1);
    TCCR0A = fastPwm | (motor1Duty != 0 ? _BV(COM0B1) : 0) | (motor2Duty != 0 ? _BV(COM0A1) : 0);
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

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    // A motor starting has INA high before its PWM; one stopping has its PWM low before INA, so it
    // coasts with every switch off. INB stays low.
    const uint8_t running = (output1Level != 0 ? inputsA[0] : 0) | (output2Level != 0 ? inputsA[1] : 0);
    PORTD |= running;
    setDuties(fanDuty(0), fanDuty(1));
    PORTD &= ~((inputsA[0] | inputsA[1]) & ~running);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setDuties(fanDuty(0), fanDuty(1));
}

bool fanOutputsAnswer() {
    return true;
}

void stopFansAtOnce() {
    setDuties(0, 0);
    PORTD &= ~portDPins;
    PORTB &= ~inputsB;
}
