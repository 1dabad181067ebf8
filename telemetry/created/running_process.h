// Whether a program runs, by its executable's file name: for games that write another game's pages.
#pragma once

// Case-insensitive, as Windows compares file names. One snapshot of the process list: a few
// milliseconds, so not a thing to ask every tick.
bool processRunning(const wchar_t* exeName);
