// Resource ids of the firmware images built into ventora-board.exe (RCDATA, Intel HEX text): this
// base plus the output kind's variant number (tunables_block.h), one image a kind.
#pragma once
#define FIRMWARE_HEX_BASE 200
