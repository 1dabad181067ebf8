// Locating, loading and saving config.bin. The file is trusted as it is: the sliders bound what a
// user can set, and the first tick's read-back clamps whatever the file held.
#include "settings/settings_file.h"

#include <commctrl.h>

#include <string>

#include "fatal_error.h"
#include "settings/settings_store.h"

SettingsRecord settings;

namespace {

std::string settingsPath;

} // namespace

void locateSettingsFile() {
    settingsPath = settingsFilePath();
    if (settingsPath.empty()) fatalError("SHGetFolderPath failed: %APPDATA%");
}

void loadSettings() {
    settings = overlaySettingsFile(settingsPath, settings);
}

void applySettingsToControls(HWND portCombo, HWND speedOffSlider, HWND speedMinSlider, HWND speedMaxSlider,
                             HWND maxCarSpeedSlider) {
    // An index past COM9 leaves the box without a selection; the port link still uses it.
    SendMessageA(portCombo, CB_SETCURSEL, static_cast<WPARAM>(settings.portIndex), 0);
    SendMessageA(speedOffSlider, TBM_SETPOS, TRUE, settings.speedOff);
    SendMessageA(speedMinSlider, TBM_SETPOS, TRUE, settings.speedMin);
    SendMessageA(speedMaxSlider, TBM_SETPOS, TRUE, settings.speedMax);
    SendMessageA(maxCarSpeedSlider, TBM_SETPOS, TRUE, settings.maxCarSpeed);
}

void saveSettings() {
    // A failure leaves the old file as it was, silently.
    writeSettingsFile(settingsPath, settings);
}
