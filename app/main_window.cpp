// The main window, its controls, and the window procedure. The interface is built in code only:
// no dialog resources, no control identifiers; controls are addressed by their handles.
#include "app/main_window.h"

#include <commctrl.h>

#include <cstdlib>

#include "app/log_pane.h"
#include "app/tray_icon.h"
#include "fan/graph.h"
#include "serial/fan_port.h"
#include "settings/settings_file.h"

namespace {

constexpr DWORD mainWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX; // fixed size, no maximise
constexpr DWORD labelStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | SS_RIGHT;
constexpr DWORD portComboStyle = WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | CBS_HASSTRINGS;
constexpr DWORD sliderStyle = WS_CHILD | WS_VISIBLE | TBS_TOOLTIPS | TBS_ENABLESELRANGE | TBS_HORZ | TBS_BOTTOM;
constexpr DWORD logPaneStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL |
                               ES_AUTOHSCROLL | ES_READONLY | ES_WANTRETURN;
static_assert(mainWindowStyle == 0x00CA0000 && labelStyle == 0x50010002 && portComboStyle == 0x50000203 &&
              sliderStyle == 0x50000120 && logPaneStyle == 0x50A018C4);

constexpr int iconResource = 107;

struct Label {
    const char* text;
    int y;
};
constexpr Label labels[] = {
    {"Port:", 20}, {"Speed OFF:", 50}, {"Speed MIN:", 80}, {"Speed MAX:", 110}, {"Max car speed:", 140},
};

// The MIN slider reaches below level 0 and the MAX slider above 79, so the mapping can be shaped
// beyond the fan's range; the selection band shows where the real levels lie.
struct Slider {
    int y;
    short minimum;
    short maximum;
    bool showsFanRange;
};
constexpr Slider sliders[] = {
    {45, 0, 79, false},   // speedOff
    {75, -20, 79, true},  // speedMin
    {105, 0, 99, true},   // speedMax
    {135, 0, 400, false}, // maxCarSpeed, km/h
};
constexpr int fanRangeLow = 0;
constexpr int fanRangeHigh = 79;

HWND createChild(HWND parent, const char* className, const char* text, DWORD style, int x, int y, int width,
                 int height) {
    return CreateWindowExA(0, className, text, style, x, y, width, height, parent, nullptr, nullptr, nullptr);
}

void setFont(HWND control, HFONT font) {
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

HWND createSlider(HWND parent, const Slider& slider) {
    HWND control = createChild(parent, TRACKBAR_CLASSA, nullptr, sliderStyle, 120, slider.y, 350, 30);
    SendMessageA(control, TBM_SETRANGE, TRUE,
                 MAKELPARAM(static_cast<WORD>(slider.minimum), static_cast<WORD>(slider.maximum)));
    if (slider.showsFanRange)
        SendMessageA(control, TBM_SETSEL, TRUE, MAKELPARAM(fanRangeLow, fanRangeHigh));
    return control;
}

void registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(iconResource));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = "Ventora";
    RegisterClassA(&windowClass);
}

// The message handlers, one per action of the window procedure.

[[noreturn]] void onDestroy() {
    // Closing the window is the one orderly way out: keep the settings, leave no dead tray icon.
    saveSettings();
    removeTrayIcon();
    std::exit(0);
}

[[noreturn]] void onSessionEnding() {
    // At logoff and shutdown Windows ends a tray program without destroying its window; without
    // this every setting changed since the start would be lost.
    onDestroy();
}

void onPortChosen(HWND portCombo) {
    settings.portIndex = static_cast<std::int32_t>(SendMessageA(portCombo, CB_GETCURSEL, 0, 0));
    selectFanPort();
}

void toggleMainWindow(HWND window) {
    ShowWindow(window, IsWindowVisible(window) ? SW_HIDE : SW_RESTORE);
}

} // namespace

MainWindow createMainWindow(HINSTANCE instance, HFONT messageFont) {
    registerMainWindowClass(instance);

    MainWindow main{};
    main.window = CreateWindowExA(0, "Ventora", "Ventora", mainWindowStyle, CW_USEDEFAULT, 0, 500, 500, nullptr,
                                  nullptr, nullptr, nullptr);

    for (const Label& label : labels)
        setFont(createChild(main.window, "static", label.text, labelStyle, 10, label.y, 100, 20), messageFont);

    main.portCombo = createChild(main.window, "ComboBox", nullptr, portComboStyle, 130, 15, 100, 30);
    setFont(main.portCombo, messageFont);
    // Item index = port number - 1, which is exactly the stored port index.
    for (int port = 1; port <= 9; ++port) {
        char item[8];
        wsprintfA(item, "COM%d", port);
        SendMessageA(main.portCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    }

    main.speedOffSlider = createSlider(main.window, sliders[0]);
    main.speedMinSlider = createSlider(main.window, sliders[1]);
    main.speedMaxSlider = createSlider(main.window, sliders[2]);
    main.maxCarSpeedSlider = createSlider(main.window, sliders[3]);

    main.logPane = createChild(main.window, "EDIT", nullptr, logPaneStyle, 10, 262, 465, 189);
    setFont(main.logPane, messageFont);
    attachLogPane(main.logPane);
    return main;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        onDestroy();
    case WM_ENDSESSION:
        if (wParam)
            onSessionEnding();
        return 0;
    case WM_PAINT:
        paintGraph(window);
        return 0;
    case WM_COMMAND:
        // Only the port combo sends this code: labels do not notify, the log pane's codes are
        // 0x100 and up, and the sliders report through scroll messages.
        if (HIWORD(wParam) == CBN_SELCHANGE)
            onPortChosen(reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_SYSCOMMAND:
        // Minimising hides the window; only the tray icon brings it back.
        if (wParam == SC_MINIMIZE) {
            ShowWindow(window, SW_HIDE);
            return 0;
        }
        break;
    case WM_TRAYICON:
        if (lParam == WM_LBUTTONDOWN)
            toggleMainWindow(window);
        return 0;
    default:
        if (message == taskbarCreatedMessage()) {
            restoreTrayIcon();
            return 0;
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
