// Locating, loading and saving config.bin. The file is trusted as it is: the sliders bound what a
// user can set, and the first tick's read-back clamps whatever the file held.
#include "settings/settings_file.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <string>

#include "app/fatal_error.h"

SettingsRecord settings;

namespace {

std::string settingsPath;

} // namespace

void locateSettingsFile() {
    char folder[MAX_PATH];
    const HRESULT result =
        SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(result))
        fatalError("SHGetFolderPath failed: %APPDATA%");

    // Forward slashes appended as they are; Windows accepts the mixed separators.
    const std::string productFolder = std::string(folder) + "/Ventora";
    // Fails harmlessly on every run after the first, when the folder exists.
    CreateDirectoryA(productFolder.c_str(), nullptr);
    settingsPath = productFolder + "/config.bin";
}

void loadSettings() {
    FILE* file = nullptr;
    if (fopen_s(&file, settingsPath.c_str(), "rb") != 0 || file == nullptr)
        return;
    std::uint8_t bytes[settingsFileSize];
    const std::size_t count = std::fread(bytes, 1, sizeof(bytes), file);
    std::fclose(file);
    settings = overlaySettings(settings, {bytes, count});
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
    // Write the new bytes beside the old file and swap them in, so that a crash or a power cut in
    // the middle leaves the old settings or the new ones, never a torn file. Any failure leaves
    // the old file as it was, silently.
    const std::string temporaryPath = settingsPath + ".new";
    const auto bytes = encodeSettings(settings);

    HANDLE file = CreateFileA(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    const bool complete = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);

    if (!complete || !MoveFileExA(temporaryPath.c_str(), settingsPath.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        DeleteFileA(temporaryPath.c_str());
}
