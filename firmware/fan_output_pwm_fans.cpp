// Two 4-pin fans, each at its own level: 25 kHz PWM on OC1A (D9) and OC1B (D10), and a power pin (D8) that
// switches the fans' 12 V through a MOSFET. A 4-pin fan whose PWM input floats runs at full speed,
// and many never stop at 0 % duty, so only cutting their supply makes level 0 off.
//
// Off means released: with the supply cut, a fan whose PWM wire is still driven low finds a ground
// through it (its controller half-powers through the input's pull-up, and the pin sinks that
// current). So while the fans are off, D9 and D10 are inputs without pull-up and Timer1 is
// disconnected from them. While one fan runs the supply is on, and the other's PWM is driven low
// (let go, a 4-pin fan's input floats high: full speed): its slowest, or stopped where it can.
#include "fan_duty.h"
#include "fan_output.h"
#include "timer1_pwm.h"

#include <avr/io.h>

namespace {

// 16 MHz / (2 * 320) = 25 kHz, the 4-pin fan standard.
constexpr uint16_t pwmTop = 320;
constexpr uint8_t powerPin = PB0;                // D8
constexpr uint8_t fanPins = _BV(PB1) | _BV(PB2); // D9 (OC1A), D10 (OC1B)

// The pins are let go before the timer leaves them, and the timer takes them before they drive, so
// neither order drives them low for an instant.
void releaseFanPins() {
    DDRB &= ~fanPins;
    PORTB &= ~fanPins;
    setTimer1Duty(0, 0);
}

void driveFanPins() {
    setTimer1Duty(fanDuty(0), fanDuty(1));
    DDRB |= fanPins;
}

void setPower(bool on) {
    if (on)
        PORTB |= _BV(powerPin);
    else
        PORTB &= ~_BV(powerPin);
}

} // namespace

void setUpFanOutputs() {
    setUpFanDuty(pwmTop);

    PORTB &= ~(_BV(powerPin) | fanPins);
    DDRB = (DDRB & ~fanPins) | _BV(powerPin);
    startTimer1Pwm(pwmTop); // released: not connected to the pins
}

void driveFans(uint8_t output1Level, uint8_t output2Level) {
    takeLevels(output1Level, output2Level);
    if (output1Level == 0 && output2Level == 0) {
        releaseFanPins();
        setPower(false);
        return;
    }
    driveFanPins();
    setPower(true);
}

void advanceFanOutputs() {
    if (kickStartEnded()) setTimer1Duty(fanDuty(0), fanDuty(1));
}

bool fanOutputsAnswer() {
    return true;
}

void stopFansAtOnce() {
    setPower(false);
    DDRB |= _BV(powerPin);
    DDRB &= ~fanPins;
    PORTB &= ~fanPins;
    TCCR1A = 0; // the timer lets go of both pins
}
