// The link to the fan controller: one FanLevel byte per tick over a COM port, reconnecting by
// itself whenever the port is missing or a write fails.
#pragma once
#include "fan/fan_level.h"

void serviceFanPort(FanLevel level);

// The user chose another port: drop the current one, so this tick's service connects the new one.
void selectFanPort();
