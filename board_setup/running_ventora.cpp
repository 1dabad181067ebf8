// Finding, closing and starting Ventora through its window class, as its installer does.
#include "board_setup/running_ventora.h"

#include "win32.h"

#include "settings/settings_store.h"

namespace {

// How long a closing Ventora may take to save its settings and end: about one tick (100 ms)
// normally, with room for a busy machine.
constexpr DWORD closeWaitMs = 15000;
constexpr DWORD startWaitMs = 15000;
// A Ventora whose window answers nothing for this long is hung: its settings file says its port.
constexpr UINT askWaitMs = 1000;

HWND ventoraWindow() {
    return FindWindowA("Ventora", nullptr);
}

BOOL CALLBACK findCombo(HWND child, LPARAM found) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "ComboBox") != 0) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The port its combo box shows (COM1 to COM9), else the one in its settings file: a port past
// COM9 is only ever set there, and the box then shows none; a hung Ventora shows nothing.
std::optional<int> portOf(HWND window) {
    HWND combo = nullptr;
    EnumChildWindows(window, findCombo, reinterpret_cast<LPARAM>(&combo));
    DWORD_PTR selected = static_cast<DWORD_PTR>(CB_ERR);
    if (combo &&
        SendMessageTimeoutA(combo, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, askWaitMs, &selected) != 0 &&
        static_cast<LRESULT>(selected) != CB_ERR)
        return static_cast<int>(selected) + 1;
    const std::string path = settingsFilePath();
    if (path.empty()) return std::nullopt;
    const SettingsRecord record = overlaySettingsFile(path, SettingsRecord{});
    if (record.portIndex < 0 || record.portIndex >= 256) return std::nullopt;
    return record.portIndex + 1;
}

} // namespace

std::optional<RunningVentora> findRunningVentora() {
    HWND window = ventoraWindow();
    if (!window) return std::nullopt;
    RunningVentora ventora;
    ventora.port = portOf(window);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)) {
        char path[MAX_PATH];
        DWORD size = sizeof path;
        if (QueryFullProcessImageNameA(process, 0, path, &size)) ventora.exePath = path;
        wchar_t widePath[32768];
        DWORD wideSize = 32768;
        if (QueryFullProcessImageNameW(process, 0, widePath, &wideSize))
            ventora.exePathWide.assign(widePath, wideSize);
        CloseHandle(process);
    }
    return ventora;
}

bool closeVentora() {
    // Ventora lets a second copy bring the first forward, so there is one; a second look after the
    // wait makes sure of it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        HWND window = ventoraWindow();
        if (!window) return true;
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (process) {
            WaitForSingleObject(process, closeWaitMs);
            CloseHandle(process);
        } else {
            Sleep(1000);
        }
    }
    return ventoraWindow() == nullptr;
}

std::string ventoraBesideThisTool() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string own(path, length);
    const auto slash = own.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : own.substr(0, slash + 1)) + "ventora.exe";
}

std::wstring ventoraBesideThisToolWide() {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(nullptr, path, 32768);
    std::wstring own(path, length < 32768 ? length : 0);
    const auto slash = own.find_last_of(L"\\/");
    return (slash == std::wstring::npos ? std::wstring() : own.substr(0, slash + 1)) + L"ventora.exe";
}

bool startVentora(const std::string& exePath) {
    const std::string exe = exePath.empty() ? ventoraBesideThisTool() : exePath;
    std::string folder = exe.substr(0, exe.find_last_of("\\/") + 1);
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // Detached: without a console Ventora starts in the tray, as it does from the desktop.
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &started))
        return false;
    CloseHandle(started.hThread);
    const ULONGLONG deadline = GetTickCount64() + startWaitMs;
    bool up = false;
    while (!up && GetTickCount64() < deadline) {
        up = ventoraWindow() != nullptr;
        if (!up && WaitForSingleObject(started.hProcess, 100) == WAIT_OBJECT_0) break;
    }
    CloseHandle(started.hProcess);
    return up || ventoraWindow() != nullptr;
}
