// The kinds of fan output Ventora's firmware comes in, one built-in image each: what the user
// calls them, what the command line calls them, and the block's variant number. Platform-neutral.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "firmware/tunables_block.h"

struct OutputKind {
    tunablesBlock::Variant variant;
    const char* option;    // --output's word for it
    const char* imageFile; // the firmware build's .hex, embedded in the tool
    const char* plainName; // what the wizard offers
    const char* shortName; // what list and flash say a board runs
};

// In the order the wizard offers them: the most common builds first, the ESCs last.
inline constexpr std::array<OutputKind, 7> outputKinds{{
    {tunablesBlock::pwmFans, "pwm-fans", "ventora-fan.hex", "4-pin PC fans", "PWM fans"},
    {tunablesBlock::driver, "driver", "ventora-fan-driver.hex",
     "fans on a driver module (L298N, BTS7960, MOSFET board)", "fans on a driver module"},
    {tunablesBlock::l293dShield, "l293d-shield", "ventora-fan-l293d-shield.hex", "L293D motor shield",
     "the L293D motor shield"},
    {tunablesBlock::motorShieldV2, "motor-shield-v2", "ventora-fan-motor-shield-v2.hex",
     "Adafruit Motor Shield v2", "the Adafruit Motor Shield v2"},
    {tunablesBlock::arduinoMotorShield, "arduino-motor-shield", "ventora-fan-arduino-motor-shield.hex",
     "Arduino Motor Shield Rev3", "the Arduino Motor Shield Rev3"},
    {tunablesBlock::monsterMoto, "monster-moto", "ventora-fan-monster-moto.hex", "Monster Moto shield",
     "the Monster Moto shield"},
    {tunablesBlock::escs, "escs", "ventora-fan-esc.hex", "brushless fans on ESCs", "ESCs"},
}};

// The kind --output names, or nothing.
std::optional<OutputKind> findOutputKind(std::string_view option);
// The kind a block's variant byte records, or nothing for a number no kind has.
std::optional<OutputKind> outputKindOf(std::uint8_t variant);
// "pwm-fans, driver, ...", for messages.
const char* outputKindOptions();
