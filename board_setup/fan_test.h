// test: the fans from off to full and back over 10 s, at Ventora's pace, to see and hear them follow.
// Windows.
#pragma once
#include <optional>

// checkFirst: first reaches the bootloader and reads what the board holds, and runs the test only
// on Ventora's firmware, saying which kind (a level byte means nothing to another program, and a
// fan test on one shows nothing).
bool runFanTest(int port, bool checkFirst);

// The side test, for a board that runs firmware 1.4.0 or newer (it takes the output bytes): output
// 1's fan alone for a few seconds, then output 2's, then the question which fan blew first. The
// output the left fan is on, or nothing when the test did not finish or the answer was no side.
// The fans stop within a second of its end, by the board's failsafe, however it ends.
std::optional<int> runSideTest(int port);
