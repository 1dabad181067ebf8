// A test tool that acts as a user on a running Ventora: it finds the main window (hidden or
// shown), clicks the tray icon, moves sliders, picks a port, reads the log and the layout, and
// reports what it sees on stdout. The Wine suites run it once per action.
//
// Exit codes: 0 done (or the probe said yes), 1 no Ventora window, 2 bad usage, 3 the probe said
// no or the action failed, 4 a wait ran out of time.
#include "win32.h"

#include <commctrl.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr UINT trayCallbackMessage = WM_APP + 1;
constexpr UINT trayIconId = 0;

enum ExitCode : int {
    done = 0,
    noWindow = 1,
    badUsage = 2,
    refused = 3,
    timedOut = 4,
};

using Args = std::vector<std::string>;

// Numbers on the command line may be decimal, negative or 0x-prefixed hexadecimal (handles).
bool parseNumber(const std::string& text, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 0);
    return end && *end == '\0';
}

HWND findVentora() { return FindWindowA("Ventora", nullptr); }

std::string classOf(HWND window) {
    char name[256] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// Another process's control answers WM_GETTEXT; GetWindowText would only read its caption cache.
// One message, not a length query first: Ventora answers another process's message only between
// ticks, so each message costs up to a tick. The buffer holds any edit control's default limit.
std::string textOf(HWND window) {
    std::string text(65536, '\0');
    auto copied = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied));
    return text;
}

// What the system keeps as a window's text. For another process's window this asks no message,
// so it reads a control's creation text without waiting for the program's next message drain.
std::string captionOf(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// The main window's own controls in creation order, which is the order EnumChildWindows walks;
// it also walks grandchildren, which are left out.
std::vector<HWND> childrenOf(HWND parent) {
    struct Walk {
        HWND parent;
        std::vector<HWND> children;
    } walk{parent, {}};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) -> BOOL {
            auto* walk = reinterpret_cast<Walk*>(context);
            if (GetAncestor(child, GA_PARENT) == walk->parent) walk->children.push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&walk));
    return walk.children;
}

HWND nthChildOfClass(HWND parent, const char* className, long long index) {
    long long seen = 0;
    for (HWND child : childrenOf(parent))
        if (lstrcmpiA(classOf(child).c_str(), className) == 0 && seen++ == index) return child;
    return nullptr;
}

HWND logPaneOf(HWND main) { return nthChildOfClass(main, "Edit", 0); }
HWND portComboOf(HWND main) { return nthChildOfClass(main, "ComboBox", 0); }

void print(const char* format, auto... values) {
    std::printf(format, values...);
    std::fflush(stdout);
}

struct NamedValue {
    const char* name;
    LPARAM value;
};

// The mouse messages a tray icon reports in lParam when no icon version is set.
constexpr NamedValue trayMouseMessages[] = {
    {"mousemove", WM_MOUSEMOVE},         {"lbuttondown", WM_LBUTTONDOWN},
    {"lbuttonup", WM_LBUTTONUP},         {"lbuttondblclk", WM_LBUTTONDBLCLK},
    {"rbuttondown", WM_RBUTTONDOWN},     {"rbuttonup", WM_RBUTTONUP},
    {"rbuttondblclk", WM_RBUTTONDBLCLK}, {"mbuttondown", WM_MBUTTONDOWN},
    {"mbuttonup", WM_MBUTTONUP},         {"contextmenu", WM_CONTEXTMENU},
};

bool parseTrayMessage(const std::string& text, LPARAM& message) {
    for (const auto& known : trayMouseMessages)
        if (text == known.name) {
            message = known.value;
            return true;
        }
    long long number = 0;
    if (!parseNumber(text, number)) return false;
    message = static_cast<LPARAM>(number);
    return true;
}

// The shell's view of our icon: a modify that changes nothing succeeds only while the shell
// holds an icon for this window and id.
NOTIFYICONDATAA trayIdentity(HWND window) {
    NOTIFYICONDATAA data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = trayIconId;
    return data;
}

bool waitFor(long long timeoutMs, auto condition) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (!condition()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

// --- subcommands -------------------------------------------------------------------------------
// Each takes the main window (null only for the commands marked as not needing one) and the
// arguments after the subcommand's name.

int find(HWND main, const Args&) {
    print("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(main)));
    return done;
}

int waitWindow(HWND, const Args& args) {
    long long timeoutMs = 0;
    if (!parseNumber(args.at(0), timeoutMs)) return badUsage;
    HWND main = nullptr;
    if (!waitFor(timeoutMs, [&] { return (main = findVentora()) != nullptr; })) return timedOut;
    return find(main, {});
}

int waitExit(HWND, const Args& args) {
    long long timeoutMs = 0;
    if (!parseNumber(args.at(0), timeoutMs)) return badUsage;
    return waitFor(timeoutMs, [] { return findVentora() == nullptr; }) ? done : timedOut;
}

int pid(HWND main, const Args&) {
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    print("%lu\n", processId);
    return done;
}

int visible(HWND main, const Args&) {
    print("%d\n", IsWindowVisible(main) ? 1 : 0);
    return done;
}

// Visible, minimised (iconic) and the foreground window, as one line "visible iconic foreground".
int state(HWND main, const Args&) {
    print("%d %d %d\n", IsWindowVisible(main) ? 1 : 0, IsIconic(main) ? 1 : 0,
          GetForegroundWindow() == main ? 1 : 0);
    return done;
}

// Posts the tray icon's callback, as the shell does for mouse activity over the icon. Several
// messages go out back to back, as one click of the mouse sends them.
int tray(HWND main, const Args& args) {
    if (args.empty()) return badUsage;
    std::vector<LPARAM> messages;
    for (const auto& arg : args) {
        LPARAM message = 0;
        if (!parseTrayMessage(arg, message)) return badUsage;
        messages.push_back(message);
    }
    for (LPARAM message : messages)
        if (!PostMessageA(main, trayCallbackMessage, trayIconId, message)) return refused;
    return done;
}

int minimize(HWND main, const Args&) {
    return PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0) ? done : refused;
}

int closeWindow(HWND main, const Args&) { return PostMessageA(main, WM_CLOSE, 0, 0) ? done : refused; }

// Waits until the program has handled every message posted to it before this call. Posted
// messages of one thread are handled in order, so a selection posted to the log pane marks the
// point: once it shows, everything queued ahead of it is done. A new log line moves the caret to
// the end and may wipe the mark before it is seen; the mark is then posted again, which proves
// as much. The caret goes back to the end, where the program keeps it. Needs a non-empty log.
int sync(HWND main, const Args& args) {
    constexpr long long repostAfterMs = 500;
    long long timeoutMs = 10000;
    if (!args.empty() && !parseNumber(args[0], timeoutMs)) return badUsage;
    HWND log = logPaneOf(main);
    if (!log || SendMessageA(log, WM_GETTEXTLENGTH, 0, 0) < 1) return refused;
    auto marked = [&] {
        DWORD start = 0, end = 0;
        SendMessageA(log, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
        return start == 0 && end == 1;
    };
    SendMessageA(log, EM_SETSEL, 0, 0);
    bool seen = false;
    for (long long waited = 0; !seen && waited < timeoutMs; waited += repostAfterMs) {
        if (!PostMessageA(log, EM_SETSEL, 0, 1)) return refused;
        seen = waitFor(repostAfterMs, marked);
    }
    auto length = SendMessageA(log, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(log, EM_SETSEL, length, length);
    return seen ? done : timedOut;
}

// The raw bytes of the log pane, CR LF and all.
int printLog(HWND main, const Args&) {
    HWND pane = logPaneOf(main);
    if (!pane) return refused;
    std::string text = textOf(pane);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return done;
}

int selectLog(HWND main, const Args& args) {
    long long start = 0, end = 0;
    if (args.size() != 2 || !parseNumber(args[0], start) || !parseNumber(args[1], end)) return badUsage;
    HWND pane = logPaneOf(main);
    if (!pane) return refused;
    SendMessageA(pane, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    return done;
}

int logSelection(HWND main, const Args&) {
    HWND pane = logPaneOf(main);
    if (!pane) return refused;
    DWORD start = 0, end = 0;
    SendMessageA(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    print("%lu %lu\n", start, end);
    return done;
}

// Types into the log pane one character at a time, as the keyboard's translated WM_CHARs reach
// the control. Sent rather than posted, so the text can be read back right after.
int typeLog(HWND main, const Args& args) {
    HWND pane = logPaneOf(main);
    if (!pane || args.size() != 1) return pane ? badUsage : refused;
    for (unsigned char c : args[0]) SendMessageA(pane, WM_CHAR, c, 1);
    return done;
}

// Inserts text at the log's caret from outside, standing in for lines written before the test
// looked (EM_REPLACESEL works on read-only edits, unlike typing).
int fillLog(HWND main, const Args& args) {
    long long count = 0;
    if (args.size() != 2 || !parseNumber(args[1], count)) return badUsage;
    HWND pane = logPaneOf(main);
    if (!pane) return refused;
    std::string lines;
    for (long long i = 0; i < count; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%06lld", i);
        lines += args[0] + number + "\r\n";
    }
    auto length = SendMessageA(pane, WM_GETTEXTLENGTH, 0, 0);
    SendMessageA(pane, EM_SETSEL, length, length);
    SendMessageA(pane, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(lines.c_str()));
    return done;
}

// Where the log's view stands: "lineCount firstVisibleLine newestLineTop lineHeight viewHeight",
// in pixels of the pane's client area. The text ends with CR LF, so the newest line is the one
// before the last, empty line. It is in view when its top is at least 0 and its bottom
// (top + lineHeight) at most viewHeight.
int logView(HWND main, const Args&) {
    HWND pane = logPaneOf(main);
    if (!pane) return refused;
    auto topOfLine = [&](LRESULT line) {
        auto position = SendMessageA(pane, EM_POSFROMCHAR, SendMessageA(pane, EM_LINEINDEX, line, 0), 0);
        return static_cast<int>(static_cast<short>(HIWORD(position)));
    };
    auto lineCount = SendMessageA(pane, EM_GETLINECOUNT, 0, 0);
    auto firstVisible = SendMessageA(pane, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (lineCount < 3) return refused;  // two lines of text are needed to measure a line
    int newestTop = topOfLine(lineCount - 2);
    int lineHeight = newestTop - topOfLine(lineCount - 3);
    RECT view = {};
    SendMessageA(pane, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&view));
    print("%ld %ld %d %d %ld\n", static_cast<long>(lineCount), static_cast<long>(firstVisible), newestTop - view.top,
          lineHeight, view.bottom - view.top);
    return done;
}

int slider(HWND main, const Args& args) {
    long long index = 0, value = 0;
    if (args.empty() || args.size() > 2 || !parseNumber(args[0], index)) return badUsage;
    HWND bar = nthChildOfClass(main, TRACKBAR_CLASSA, index);
    if (!bar) return refused;
    if (args.size() == 2) {
        if (!parseNumber(args[1], value)) return badUsage;
        SendMessageA(bar, TBM_SETPOS, TRUE, static_cast<LPARAM>(value));
    }
    print("%ld\n", static_cast<long>(SendMessageA(bar, TBM_GETPOS, 0, 0)));
    return done;
}

// "min max selectionStart selectionEnd" of the index-th slider.
int sliderInfo(HWND main, const Args& args) {
    long long index = 0;
    if (args.size() != 1 || !parseNumber(args[0], index)) return badUsage;
    HWND bar = nthChildOfClass(main, TRACKBAR_CLASSA, index);
    if (!bar) return refused;
    print("%ld %ld %ld %ld\n", static_cast<long>(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0)),
          static_cast<long>(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0)),
          static_cast<long>(SendMessageA(bar, TBM_GETSELSTART, 0, 0)),
          static_cast<long>(SendMessageA(bar, TBM_GETSELEND, 0, 0)));
    return done;
}

// Moves each slider to the given position in turn, waiting after each move until the log has
// grown, as a user dragging a slider back and forth and watching the log would. Prints how many
// moves were answered by a new line.
int sweepSlider(HWND main, const Args& args) {
    long long index = 0, moves = 0, timeoutMs = 0;
    if (args.size() < 4 || !parseNumber(args[0], index) || !parseNumber(args[1], moves) ||
        !parseNumber(args[2], timeoutMs))
        return badUsage;
    std::vector<long long> positions;
    for (size_t i = 3; i < args.size(); ++i) {
        long long position = 0;
        if (!parseNumber(args[i], position)) return badUsage;
        positions.push_back(position);
    }
    HWND bar = nthChildOfClass(main, TRACKBAR_CLASSA, index);
    HWND pane = logPaneOf(main);
    if (!bar || !pane) return refused;
    long long answered = 0;
    // The log may be trimmed at its front, so a change of text, not of length, tells a new line.
    // Only Ventora writes to the log, so the text that answered one move is the next move's start.
    auto before = textOf(pane);
    for (long long move = 0; move < moves; ++move) {
        SendMessageA(bar, TBM_SETPOS, TRUE, static_cast<LPARAM>(positions[move % positions.size()]));
        std::string now;
        if (!waitFor(timeoutMs, [&] { return (now = textOf(pane)) != before; })) break;
        before = std::move(now);
        ++answered;
    }
    print("%lld\n", answered);
    return answered == moves ? done : timedOut;
}

int port(HWND main, const Args& args) {
    HWND combo = portComboOf(main);
    if (!combo || args.size() > 1) return combo ? badUsage : refused;
    if (args.size() == 1) {
        long long index = 0;
        if (!parseNumber(args[0], index)) return badUsage;
        SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        // The combo reports a user's choice to its parent this way; CB_SETCURSEL alone does not.
        SendMessageA(main, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
    }
    print("%ld\n", static_cast<long>(SendMessageA(combo, CB_GETCURSEL, 0, 0)));
    return done;
}

int portItems(HWND main, const Args&) {
    HWND combo = portComboOf(main);
    if (!combo) return refused;
    // Wine does not convert CB_GETLBTEXT's answer back to 8-bit text between processes, so the
    // items are read wide and converted here.
    auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring item(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        item.resize(static_cast<size_t>(
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
        char text[256] = {};
        WideCharToMultiByte(CP_ACP, 0, item.c_str(), -1, text, sizeof text, nullptr, nullptr);
        print("%s\n", text);
    }
    return done;
}

// One line per control in creation order, tab-separated: class, creation text, style word,
// x, y, width, height (client coordinates). A drop-down list's window is only its selection
// field, so its height is the field's, whatever height the list was created with.
int controls(HWND main, const Args&) {
    for (HWND child : childrenOf(main)) {
        RECT rect = {};
        GetWindowRect(child, &rect);
        MapWindowPoints(HWND_DESKTOP, main, reinterpret_cast<POINT*>(&rect), 2);
        print("%s\t%s\t0x%08lX\t%ld\t%ld\t%ld\t%ld\n", classOf(child).c_str(), captionOf(child).c_str(),
              static_cast<unsigned long>(GetWindowLongA(child, GWL_STYLE)), rect.left, rect.top,
              rect.right - rect.left, rect.bottom - rect.top);
    }
    return done;
}

int clientOrigin(HWND main, const Args&) {
    POINT origin = {0, 0};
    ClientToScreen(main, &origin);
    print("%ld %ld\n", origin.x, origin.y);
    return done;
}

// "style exStyle left top right bottom clientWidth clientHeight" of the main window.
int style(HWND main, const Args&) {
    RECT window = {}, client = {};
    GetWindowRect(main, &window);
    GetClientRect(main, &client);
    print("0x%08lX 0x%08lX %ld %ld %ld %ld %ld %ld\n", static_cast<unsigned long>(GetWindowLongA(main, GWL_STYLE)),
          static_cast<unsigned long>(GetWindowLongA(main, GWL_EXSTYLE)), window.left, window.top, window.right,
          window.bottom, client.right, client.bottom);
    return done;
}

int sysColor(HWND, const Args& args) {
    long long index = 0;
    if (args.size() != 1 || !parseNumber(args[0], index)) return badUsage;
    COLORREF colour = GetSysColor(static_cast<int>(index));
    print("%d %d %d\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return done;
}

// Takes an optional window handle, so the probe can still ask about a window that has gone.
HWND windowArgument(const Args& args) {
    long long handle = 0;
    if (!args.empty() && parseNumber(args[0], handle)) return reinterpret_cast<HWND>(static_cast<INT_PTR>(handle));
    return findVentora();
}

int trayPresent(HWND, const Args& args) {
    HWND window = windowArgument(args);
    if (!window) return noWindow;
    NOTIFYICONDATAA data = trayIdentity(window);
    bool present = Shell_NotifyIconA(NIM_MODIFY, &data);
    print("%d\n", present ? 1 : 0);
    return present ? done : refused;
}

int trayRemove(HWND, const Args& args) {
    HWND window = windowArgument(args);
    if (!window) return noWindow;
    NOTIFYICONDATAA data = trayIdentity(window);
    return Shell_NotifyIconA(NIM_DELETE, &data) ? done : refused;
}

// A restarted shell tells every top-level window that the taskbar is back.
int taskbarCreated(HWND, const Args&) {
    UINT message = RegisterWindowMessageA("TaskbarCreated");
    return PostMessageA(HWND_BROADCAST, message, 0, 0) ? done : refused;
}

// The session is ending: the query first, then the end itself. Prints the program's answer.
// With "cancel" the end is called off after the query, as when the user cancels a shutdown.
int endSession(HWND main, const Args& args) {
    const bool cancelled = !args.empty() && args[0] == "cancel";
    if (!args.empty() && !cancelled) return badUsage;
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, 0, SMTO_ABORTIFHUNG, 10000, &answer))
        return refused;
    print("%d\n", answer ? 1 : 0);
    if (answer || cancelled)
        SendMessageTimeoutA(main, WM_ENDSESSION, answer && !cancelled, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    return done;
}

// A message box, found by its caption: "box CLASS VISIBLE", then "child CLASS ID TEXT" for each
// control, tab-separated.
int messageBox(HWND, const Args& args) {
    HWND box = FindWindowA(nullptr, args[0].c_str());
    if (!box) return noWindow;
    print("box\t%s\t%d\n", classOf(box).c_str(), IsWindowVisible(box) ? 1 : 0);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        print("child\t%s\t%d\t%s\n", classOf(child).c_str(), GetDlgCtrlID(child), textOf(child).c_str());
    return done;
}

// Clicks the OK button of the message box with this caption, as the user would.
int pressOk(HWND, const Args& args) {
    HWND box = FindWindowA(nullptr, args[0].c_str());
    if (!box) return noWindow;
    HWND ok = GetDlgItem(box, IDOK);
    if (!ok) return refused;
    return PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok)) ? done
                                                                                                     : refused;
}

// Maps the named section as a game that starts after Ventora does: opened, not created, and
// mapped at the size the game asks for. Prints the size of the mapped region.
int mapSection(HWND, const Args& args) {
    long long bytes = 0;
    if (args.size() != 2 || !parseNumber(args[1], bytes) || bytes < 0) return badUsage;
    HANDLE section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, args[0].c_str());
    if (!section) {
        std::fprintf(stderr, "OpenFileMapping failed, error %lu\n", GetLastError());
        return refused;
    }
    void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, static_cast<SIZE_T>(bytes));
    if (!view) {
        std::fprintf(stderr, "MapViewOfFile failed, error %lu\n", GetLastError());
        CloseHandle(section);
        return refused;
    }
    MEMORY_BASIC_INFORMATION region{};
    VirtualQuery(view, &region, sizeof region);
    print("%llu\n", static_cast<unsigned long long>(region.RegionSize));
    UnmapViewOfFile(view);
    CloseHandle(section);
    return done;
}

// Every view of a section that Ventora's process holds, one "base size" line each (in hex and
// bytes): what Ventora maps, whether or not the section still has a name anyone could look up.
int mappedViews(HWND main, const Args&) {
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (!process) return refused;
    MEMORY_BASIC_INFORMATION region{};
    const char* address = nullptr;
    while (VirtualQueryEx(process, address, &region, sizeof region) == sizeof region) {
        // A view is one allocation; report it at its first region only.
        if (region.Type == MEM_MAPPED && region.BaseAddress == region.AllocationBase) {
            SIZE_T size = 0;
            MEMORY_BASIC_INFORMATION part = region;
            const char* at = static_cast<const char*>(region.BaseAddress);
            do {
                size += part.RegionSize;
                at += part.RegionSize;
            } while (VirtualQueryEx(process, at, &part, sizeof part) == sizeof part &&
                     part.AllocationBase == region.AllocationBase && part.State != MEM_FREE);
            print("%p %llu\n", region.BaseAddress, static_cast<unsigned long long>(size));
        }
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    CloseHandle(process);
    return done;
}

// Another program's window taking the foreground, as a user switching to a game does. Prints its
// handle once it is the foreground window and stays until it is ended.
int cover(HWND, const Args&) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = "VentoraDriverCover";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Cover", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                                  0, 600, 550, nullptr, nullptr, nullptr, nullptr);
    if (!window) return refused;
    SetForegroundWindow(window);
    auto pump = [] {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
    };
    if (!waitFor(10000, [&] {
            pump();
            return GetForegroundWindow() == window;
        }))
        return timedOut;
    print("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    return done;
}

struct Subcommand {
    const char* name;
    const char* usage;
    size_t minArgs;
    bool needsWindow;
    int (*run)(HWND, const Args&);
};

constexpr Subcommand subcommands[] = {
    {"find", "prints the main window's handle", 0, true, find},
    {"wait-window", "TIMEOUT_MS: waits for the main window, prints its handle", 1, false, waitWindow},
    {"wait-exit", "TIMEOUT_MS: waits until no main window is left", 1, false, waitExit},
    {"pid", "prints the Windows process id of the main window", 0, true, pid},
    {"visible", "prints 1 when the main window is visible, else 0", 0, true, visible},
    {"state", "prints 'visible iconic foreground' as 1/0", 0, true, state},
    {"tray", "MSG...: posts the tray callback with each mouse message (name or number)", 1, true, tray},
    {"minimize", "posts WM_SYSCOMMAND SC_MINIMIZE", 0, true, minimize},
    {"close", "posts WM_CLOSE", 0, true, closeWindow},
    {"sync", "[TIMEOUT_MS]: waits until every earlier posted message is handled", 0, true, sync},
    {"log", "prints the log pane's text, raw", 0, true, printLog},
    {"select-log", "START END: selects text in the log pane", 2, true, selectLog},
    {"log-selection", "prints the log pane's selection 'start end'", 0, true, logSelection},
    {"type-log", "TEXT: types TEXT into the log pane", 1, true, typeLog},
    {"fill-log", "PREFIX COUNT: inserts COUNT numbered lines at the log's end", 2, true, fillLog},
    {"log-view", "prints 'lineCount firstVisible newestLineTop lineHeight viewHeight'", 0, true, logView},
    {"slider", "I [VALUE]: prints (after setting) the I-th slider's position", 1, true, slider},
    {"slider-info", "I: prints 'min max selStart selEnd' of the I-th slider", 1, true, sliderInfo},
    {"sweep-slider", "I MOVES TIMEOUT_MS POS...: moves slider I, waiting for a log line each time", 4, true,
     sweepSlider},
    {"port", "[INDEX]: prints (after choosing, as the user does) the port combo's selection", 0, true, port},
    {"port-items", "prints the port combo's items, one a line", 0, true, portItems},
    {"controls", "prints each control: class, text, style, x, y, width, height", 0, true, controls},
    {"client-origin", "prints the screen position of the client area's origin", 0, true, clientOrigin},
    {"style", "prints 'style exStyle left top right bottom clientWidth clientHeight'", 0, true, style},
    {"sys-color", "N: prints 'r g b' of system colour N", 1, false, sysColor},
    {"tray-present", "[HWND]: prints 1 if the shell holds the tray icon, else 0 (exit 3)", 0, false, trayPresent},
    {"tray-remove", "[HWND]: deletes the tray icon, as a crashing shell loses it", 0, false, trayRemove},
    {"taskbar-created", "broadcasts TaskbarCreated, as a restarted shell does", 0, false, taskbarCreated},
    {"message-box", "CAPTION: prints the box with that caption and its controls", 1, false, messageBox},
    {"press-ok", "CAPTION: clicks OK in the box with that caption", 1, false, pressOk},
    {"end-session",
     "[cancel]: sends WM_QUERYENDSESSION, then WM_ENDSESSION (FALSE with cancel); prints the answer", 0, true,
     endSession},
    {"map-section", "NAME BYTES: opens the named section, maps BYTES of it, prints the mapped size", 2, false,
     mapSection},
    {"mapped-views", "prints 'base size' of each section view the main window's process holds", 0, true,
     mappedViews},
    {"cover", "shows a window of its own in the foreground, prints its handle, stays until ended", 0, false,
     cover},
};

int usage() {
    std::fprintf(stderr, "usage: ventora_driver SUBCOMMAND [ARGS]\n");
    for (const auto& command : subcommands) std::fprintf(stderr, "  %-16s %s\n", command.name, command.usage);
    return badUsage;
}

}  // namespace

int main(int argc, char** argv) {
    // The log's CR LF must reach the test as it is, not as CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return usage();
    std::string_view name = argv[1];
    Args args(argv + 2, argv + argc);
    for (const auto& command : subcommands) {
        if (name != command.name) continue;
        if (args.size() < command.minArgs) return usage();
        HWND main = nullptr;
        if (command.needsWindow && !(main = findVentora())) {
            std::fprintf(stderr, "no Ventora window\n");
            return noWindow;
        }
        return command.run(main, args);
    }
    return usage();
}
