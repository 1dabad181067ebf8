// The event log at the bottom of the main window: one line per event, newest at the end.
#pragma once
#include <string>

#include "win32.h"

void attachLogPane(HWND logPane);
void appendLogLine(std::string text);
