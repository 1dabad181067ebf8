// The graph in the main window: the History of fan levels it shows and its painting.
#pragma once
#include "win32.h"
#include "fan/fan_level.h"

// Records the tick's level and asks for the graph area to be repainted, without erasing it first
// so that the window never shows it blank between two paints.
void pushHistory(FanLevel level, HWND mainWindow);

// The WM_PAINT work of the main window: draws the graph off screen and copies it in one block.
void paintGraph(HWND mainWindow);
