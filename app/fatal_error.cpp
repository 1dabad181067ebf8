// The one way start-up gives up: a box the user must acknowledge, then exit code 1.
#include "fatal_error.h"

#include <cstdlib>

#include "win32.h"

void fatalError(const char* text) {
    MessageBoxA(GetActiveWindow(), text, "Error", MB_OK);
    std::exit(1);
}
