// How long to leave a board alone after closing the Ventora that drove it: its firmware switches
// the fans off only once the line has been silent for its failsafe time, and until then a shield's
// own chip (the Adafruit v2 shield's PCA9685) keeps the last level through a reset and a flash.
// Platform-neutral.
#pragma once
#include <cstdint>

// The wait still due, in ms, when Ventora closed sinceClosedMs ago: the board may be tuned to any
// failsafe, so the longest one a tool accepts, and a margin for the board's clock and the line.
std::uint64_t failsafeWaitMs(std::uint64_t sinceClosedMs);
