// The tray icon: added once at start-up, added again whenever the shell restarts, removed at exit.
#include "app/tray_icon.h"

#include <shellapi.h>

#include <cstring>

namespace {

NOTIFYICONDATAA trayIconData;

} // namespace

void addTrayIcon(HINSTANCE instance, HWND mainWindow) {
    // The full structure, up to the balloon icon (508 bytes in a 32-bit build, 528 in ours); no
    // version is set, so every callback carries the plain mouse message in lParam.
    trayIconData = {};
    trayIconData.cbSize = sizeof(trayIconData);
    trayIconData.hWnd = mainWindow;
    trayIconData.uID = 0;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = WM_TRAYICON;
    trayIconData.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(107));
    strcpy_s(trayIconData.szTip, sizeof(trayIconData.szTip), "Ventora");
    Shell_NotifyIconA(NIM_ADD, &trayIconData);
}

void restoreTrayIcon() {
    // A restarted shell has forgotten every icon; without this a hidden Ventora would be unreachable.
    Shell_NotifyIconA(NIM_ADD, &trayIconData);
}

void removeTrayIcon() {
    Shell_NotifyIconA(NIM_DELETE, &trayIconData);
}

UINT taskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}
