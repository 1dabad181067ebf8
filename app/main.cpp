// Ventora's whole life: start-up in a fixed order, then a tick every 100 ms on the one GUI thread,
// until the main window is destroyed. No timer, no worker thread.
#include "win32.h"

#include <commctrl.h>

#include <chrono>
#include <thread>

#include "app/log_pane.h"
#include "app/main_window.h"
#include "app/tray_icon.h"
#include "fan/corner_wind.h"
#include "fan/fan_level.h"
#include "fan/graph.h"
#include "serial/fan_port.h"
#include "settings/network_listening_file.h"
#include "settings/settings_file.h"
#include "telemetry/consoles/console_sources.h"
#include "telemetry/opened/opened_sections.h"
#include "telemetry/created/shared_memory.h"
#include "telemetry/udp/udp_sources.h"

namespace {

// Measured on the monotonic clock from the end of the tick's work: a wall clock set back (by hand,
// or by a time sync after the computer wakes) must not freeze the fan and the window.
constexpr auto tickPause = std::chrono::milliseconds(100);

// How long a second start waits for the first one's window to appear, in case both start together.
constexpr int handOverAttempts = 50;
constexpr DWORD handOverRetryMs = 100;

// A second Ventora would add a second tray icon and fight the first for the COM port. Instead it
// brings the running window forward, as a tray click would, and leaves.
bool handOverToRunningInstance() {
    CreateMutexA(nullptr, FALSE, "Ventora.Running"); // held until the process ends
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    for (int attempt = 0; attempt < handOverAttempts; ++attempt) {
        if (HWND running = FindWindowA("Ventora", "Ventora")) {
            ShowWindow(running, SW_RESTORE);
            SetForegroundWindow(running);
            break;
        }
        Sleep(handOverRetryMs);
    }
    return true;
}

void initCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}

HFONT createMessageFont() {
    // The size that includes the padded-border width.
    static_assert(sizeof(NONCLIENTMETRICSA) == 344);
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    return CreateFontIndirectA(&metrics.lfMessageFont);
}

void showIfConsole(HWND window) {
    // Started from a console (a developer at work): show the window at once. An ordinary start
    // has none and lives in the tray.
    if (GetConsoleWindow()) {
        ShowWindow(window, SW_RESTORE);
        UpdateWindow(window);
    }
}

void drainMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// The sliders are the settings: read once a tick, no notifications handled.
void readSlidersIntoSettings(const MainWindow& main) {
    auto position = [](HWND slider) { return static_cast<std::int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0)); };
    settings.speedOff = position(main.speedOffSlider);
    settings.speedMin = position(main.speedMinSlider);
    settings.speedMax = position(main.speedMaxSlider);
    settings.maxCarSpeed = position(main.maxCarSpeedSlider);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (handOverToRunningInstance())
        return 0;

    initCommonControls();
    const HFONT messageFont = createMessageFont();
    const MainWindow main = createMainWindow(instance, messageFont);
    addTrayIcon(instance, main.window);
    showIfConsole(main.window);
    openSharedMemorySources();
    // Read once: ventora-board restarts Ventora when it turns listening on or off.
    const bool homeNetwork = loadNetworkListening();
    openUdpSources(appendLogLine, homeNetwork);
    openConsoleSources(appendLogLine, homeNetwork);
    locateSettingsFile();
    loadSettings();
    applySettingsToControls(main.portCombo, main.speedOffSlider, main.speedMinSlider, main.speedMaxSlider,
                            main.maxCarSpeedSlider);

    const LogLineSink logToPane = appendLogLine;
    TickState tickState;
    CornerWind cornerWind;
    for (;;) {
        drainMessages();
        TelemetrySample sample = readTelemetrySample(sharedMemorySources, appendLogLine);
        readOpenedGameSections(sample, appendLogLine);
        readUdpGames(sample);
        readConsoleGames(sample);
        readSlidersIntoSettings(main);
        updateMaxSpeedMode(settings, tickState, logToPane);
        const FanLevel level = computeFanLevel(sample, settings, tickState, logToPane);
        const CornerByte corner = updateCornerWind(cornerWind, sample);
        pushHistory(level, main.window);
        serviceFanPort(level, corner);
        std::this_thread::sleep_until(std::chrono::steady_clock::now() + tickPause);
    }
}
