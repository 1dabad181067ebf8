// The event log at the bottom of the main window: one line per event, newest at the end.
#pragma once
#include "event_log.h"
#include "win32.h"

void attachLogPane(HWND logPane);
