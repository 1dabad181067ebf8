// test: the fans from off to full and back over 10 s, at Ventora's pace, to see and hear them follow.
// Windows.
#pragma once

bool runFanTest(int port);
