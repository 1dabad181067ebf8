// Resource ids of the two firmware images built into ventora-board.exe (RCDATA, Intel HEX text).
#pragma once
#define FIRMWARE_PWM_FANS_HEX 201
#define FIRMWARE_ESCS_HEX 202
