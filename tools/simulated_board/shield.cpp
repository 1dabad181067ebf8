// Each kind's fans from its lines: which pin is the PWM, which lines set the direction, and what the
// bridge does with them (an L293D, a TB6612, an L298P, a VNH2SP30, or a module wired by hand).
#include "shield.h"
#include "board.h"
#include "pin_drive.h"

#include <cstdio>

namespace board {
namespace {

constexpr struct {
    OutputKind kind;
    const char* name;
} kindNames[] = {
    {OutputKind::pwmFans, "pwm-fans"},
    {OutputKind::escs, "escs"},
    {OutputKind::driver, "driver"},
    {OutputKind::l293dShield, "l293d-shield"},
    {OutputKind::motorShieldV2, "motor-shield-v2"},
    {OutputKind::arduinoMotorShield, "arduino-motor-shield"},
    {OutputKind::monsterMoto, "monster-moto"},
};

constexpr std::uint8_t pcaAddress = 0x60;

FanDrive fromPwm(const PinDrive& pwm, const char* state) {
    const bool switching = pwm.kind == PinDrive::pwm && pwm.duty > 0.0 && pwm.duty < 1.0;
    return {pwm.kind == PinDrive::pwm || pwm.kind == PinDrive::high ? pwm.duty : 0.0,
            switching ? pwm.hz : 0.0, state};
}

// An H-bridge from its two inputs and its enable: the L293D's and the L298P's way.
const char* bridgeState(bool inputA, bool inputB, double enable) {
    if (enable == 0.0) return "coast";
    if (inputA == inputB) return "brake";
    return inputA ? "forward" : "reverse";
}

bool isHigh(const PinDrive& drive) {
    return drive.kind == PinDrive::high;
}

} // namespace

bool outputKindNamed(const std::string& name, OutputKind& kind) {
    for (const auto& known : kindNames)
        if (name == known.name) {
            kind = known.kind;
            return true;
        }
    return false;
}

const char* nameOf(OutputKind kind) {
    for (const auto& known : kindNames)
        if (kind == known.kind) return known.name;
    return "?";
}

Shield::Shield(SimulatedBoard& simulated, OutputKind kind, bool pcaAnswers)
    : board(simulated), outputKind(kind) {
    if (kind == OutputKind::l293dShield) shifter = std::make_unique<ShiftRegister595>(board.chip());
    if (kind == OutputKind::motorShieldV2)
        pwmChip = std::make_unique<Pca9685>(board.chip(), pcaAddress, pcaAnswers);
}

FanDrive Shield::fan(int which) const {
    const avr_t* avr = board.chip();
    const bool first = which == 1;
    switch (outputKind) {
    case OutputKind::pwmFans: {
        // The PWM input of a 4-pin fan; its 12 V through the MOSFET on D8.
        const PinDrive pwm = pinDrive(avr, first ? 9 : 10);
        const bool power = isHigh(pinDrive(avr, 8));
        return fromPwm(power ? pwm : PinDrive{}, power ? "on" : "off");
    }
    case OutputKind::escs: {
        const PinDrive pulse = pinDrive(avr, first ? 9 : 10);
        char text[32];
        std::snprintf(text, sizeof text, "%.0f us", pulse.hz > 0 ? pulse.duty / pulse.hz * 1e6 : 0.0);
        return {0.0, pulse.hz, text};
    }
    case OutputKind::driver: {
        // An L298N's IN1/IN3 (or a BTS7960's enables) on D8, the other input grounded.
        const PinDrive pwm = pinDrive(avr, first ? 9 : 10);
        const PinDrive enable = pinDrive(avr, 8);
        if (pwm.kind == PinDrive::released || enable.kind == PinDrive::released)
            return {0.0, 0.0, "floating"};
        return fromPwm(pwm, bridgeState(isHigh(enable), false, pwm.duty));
    }
    case OutputKind::l293dShield: {
        // M1: enable D11, inputs Q2 (A) and Q3 (B); M2: enable D3, inputs Q1 (A) and Q4 (B).
        const PinDrive enable = pinDrive(avr, first ? 11 : 3);
        const std::uint8_t bits = shifter->driven();
        const bool a = bits & (first ? 1 << 2 : 1 << 1), b = bits & (first ? 1 << 3 : 1 << 4);
        const double on = enable.kind == PinDrive::pwm || isHigh(enable) ? enable.duty : 0.0;
        // With both inputs low the L293D's outputs are low: the fan stops as if braked, but an
        // enable at 0 lets the outputs go whatever the inputs.
        return fromPwm(enable, bridgeState(a, b, on));
    }
    case OutputKind::motorShieldV2: {
        // M1: PWM channel 8, IN2 9, IN1 10; M2: PWM 13, IN2 12, IN1 11. TB6612: IN1 = IN2 = low
        // is stop (outputs let go), both high is a short brake.
        const int pwmChannel = first ? 8 : 13, in2 = first ? 9 : 12, in1 = first ? 10 : 11;
        const bool high1 = pwmChip->fullOn(in1), high2 = pwmChip->fullOn(in2);
        const double duty = pwmChip->duty(pwmChannel);
        const char* state = !high1 && !high2 ? "coast"
                            : high1 && high2 ? "brake"
                            : high1          ? "forward"
                                             : "reverse";
        const bool switching = duty > 0.0 && duty < 1.0;
        return {state[0] == 'f' || state[0] == 'r' ? duty : 0.0, switching ? pwmChip->frequencyHz() : 0.0,
                state};
    }
    case OutputKind::arduinoMotorShield: {
        // A: PWM D3, DIR D12, BRAKE D9; B: PWM D11, DIR D13, BRAKE D8.
        const PinDrive pwm = pinDrive(avr, first ? 3 : 11);
        const bool direction = isHigh(pinDrive(avr, first ? 12 : 13));
        const bool brake = isHigh(pinDrive(avr, first ? 9 : 8));
        const double on = pwm.kind == PinDrive::pwm || isHigh(pwm) ? pwm.duty : 0.0;
        if (brake) return fromPwm(PinDrive{}, on > 0.0 ? "brake" : "coast");
        return fromPwm(pwm, on == 0.0 ? "coast" : direction ? "forward" : "reverse");
    }
    case OutputKind::monsterMoto: {
        // 1: INA D7, INB D8, PWM D5; 2: INA D4, INB D9, PWM D6. The VNH2SP30's inputs pick the high
        // sides and PWM switches the low ones: INA and INB high brake to VCC; both low brake to
        // ground while PWM is high, and with PWM low every switch is off and the fan coasts.
        const bool a = isHigh(pinDrive(avr, first ? 7 : 4)), b = isHigh(pinDrive(avr, first ? 8 : 9));
        const PinDrive pwm = pinDrive(avr, first ? 5 : 6);
        const bool lowSidesOn = pwm.kind == PinDrive::pwm || isHigh(pwm);
        if (a && b) return fromPwm(PinDrive{}, "brake");
        if (!a && !b) return fromPwm(PinDrive{}, lowSidesOn ? "brake" : "coast");
        return fromPwm(pwm, a ? "forward" : "reverse");
    }
    }
    return {};
}

std::string Shield::describe() const {
    const FanDrive one = fan(1), two = fan(2);
    char text[160];
    if (outputKind == OutputKind::escs) {
        std::snprintf(text, sizeof text, "fan1 %s  fan2 %s  at %.2f Hz", one.state.c_str(), two.state.c_str(),
                      one.hz);
        return text;
    }
    const double hz = one.hz > 0 ? one.hz : two.hz;
    std::snprintf(text, sizeof text, "fan1 %5.1f %% %-7s  fan2 %5.1f %% %-7s  at %.2f kHz", 100.0 * one.duty,
                  one.state.c_str(), 100.0 * two.duty, two.state.c_str(), hz / 1000.0);
    return text;
}

} // namespace board
