// test: the fans from off to full and back over 10 s, at Ventora's pace, to see and hear them follow.
// Windows.
#pragma once

// checkFirst: first reaches the bootloader and reads what the board holds, and runs the test only
// on Ventora's firmware, saying which kind (a level byte means nothing to another program, and a
// fan test on one shows nothing).
bool runFanTest(int port, bool checkFirst);
