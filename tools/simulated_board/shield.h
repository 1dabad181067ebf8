// What the fans on a kind of output get, read from the simulated board's pins and from the chips a
// shield adds (its 74HC595, its PCA9685): fan 1 and fan 2's duty and state, the way each kind's
// wiring or shield turns its lines into a motor's drive.
#pragma once

#include "pca9685.h"
#include "shift_register_595.h"

#include <memory>
#include <string>

namespace board {

class SimulatedBoard;

// The firmware's output kinds, by the names the firmware's images and the set-up tool use.
enum class OutputKind { pwmFans, escs, driver, l293dShield, motorShieldV2, arduinoMotorShield, monsterMoto };

// pwm-fans, escs, driver, l293d-shield, motor-shield-v2, arduino-motor-shield, monster-moto.
bool outputKindNamed(const std::string& name, OutputKind& kind);
const char* nameOf(OutputKind kind);

struct FanDrive {
    double duty = 0.0; // the share of full power the fan's bridge is switched on
    double hz = 0.0;   // the PWM's rate, 0 when the duty is 0 or 1 throughout
    // forward, reverse, coast (the bridge's outputs let go), brake (both ends tied), on or off
    // (4-pin fans: their 12 V switched), or a pulse width for an ESC ("1506 us").
    std::string state;
};

class Shield {
  public:
    // Attaches the chips the kind adds to the board (before it runs: the PCA9685 then sees the
    // firmware's first transfer). A PCA9685 that does not answer is an unplugged shield.
    Shield(SimulatedBoard& board, OutputKind kind, bool pcaAnswers = true);

    OutputKind kind() const { return outputKind; }
    // Fan 1 or 2.
    FanDrive fan(int which) const;
    // Both fans on one line, for rig mode's report:
    //   fan1 65.0 % forward  fan2 65.0 % forward  at 7.81 kHz
    std::string describe() const;

    ShiftRegister595* shiftRegister() { return shifter.get(); }
    Pca9685* pca() { return pwmChip.get(); }

  private:
    SimulatedBoard& board;
    OutputKind outputKind;
    std::unique_ptr<ShiftRegister595> shifter;
    std::unique_ptr<Pca9685> pwmChip;
};

} // namespace board
