// The main window: a fixed 500 x 500 frame holding the port and slider controls, the graph and
// the log pane, and the window procedure that maps each message to an action.
#pragma once
#include "win32.h"

struct MainWindow {
    HWND window;
    HWND portCombo;
    HWND speedOffSlider;
    HWND speedMinSlider;
    HWND speedMaxSlider;
    HWND maxCarSpeedSlider;
    HWND logPane;
};

MainWindow createMainWindow(HINSTANCE instance, HFONT messageFont);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
