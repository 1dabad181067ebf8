// Ventora's icon in the notification area, the way in to a window that starts hidden.
#pragma once
#include "win32.h"

// The callback message the icon sends to the main window; lParam carries the mouse message.
inline constexpr UINT WM_TRAYICON = WM_APP + 1;

void addTrayIcon(HINSTANCE instance, HWND mainWindow);
void restoreTrayIcon();
void removeTrayIcon();

// The message a restarted shell broadcasts when the notification area is empty again.
UINT taskbarCreatedMessage();
