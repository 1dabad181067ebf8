// The set-up wizard: ventora-board started with no arguments, from a bare board to fans that
// follow Ventora. Windows.
#pragma once

int runWizard();
