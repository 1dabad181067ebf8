// The link to the fan controller: one FanLevel byte per tick over a COM port, reconnecting by
// itself whenever the port is missing or a write fails. A board that says it takes wind from the
// side gets the tick's corner byte before each level byte.
#pragma once
#include "fan/corner_wind.h"
#include "fan/fan_level.h"

void serviceFanPort(FanLevel level, CornerByte corner);

// The user chose another port: drop the current one, so this tick's service connects the new one.
void selectFanPort();
