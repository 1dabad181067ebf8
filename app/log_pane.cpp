// The log pane: a read-only edit control that the program appends event lines to.
#include "app/log_pane.h"

#include <cstddef>

namespace {

HWND logPane;

// Ventora may run for days. Below the edit control's default limit of 32767 characters the pane
// keeps the newest lines by dropping the oldest whole ones, so an append never fails and the newest
// event always shows.
constexpr int logPaneCapacity = 30000;

void dropOldestLinesToFit(int incomingLength) {
    const int length = GetWindowTextLengthA(logPane);
    const int excess = length + incomingLength - logPaneCapacity;
    if (excess <= 0)
        return;

    // Cut at the first line that starts at or after the excess, so only whole lines go.
    const LRESULT line = SendMessageA(logPane, EM_LINEFROMCHAR, excess, 0);
    LRESULT cut = SendMessageA(logPane, EM_LINEINDEX, line, 0);
    if (cut < excess)
        cut = SendMessageA(logPane, EM_LINEINDEX, line + 1, 0);
    if (cut < 0 || cut > length)
        cut = length;
    SendMessageA(logPane, EM_SETSEL, 0, cut);
    SendMessageA(logPane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(""));
}

} // namespace

void attachLogPane(HWND pane) {
    logPane = pane;
}

void appendLogLine(std::string text) {
    text += "\r\n";
    dropOldestLinesToFit(static_cast<int>(text.size()));

    // An empty selection at the very end, so the line lands there even if the user had selected
    // something; the control then scrolls the caret, and with it the new line, into view.
    const int length = GetWindowTextLengthA(logPane);
    SendMessageA(logPane, EM_SETSEL, length, length);
    SendMessageA(logPane, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}
