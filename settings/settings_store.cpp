// Locating, reading and replacing config.bin through the ANSI file API.
#include "settings/settings_store.h"

#include "win32.h"

#include <shlobj.h>

#include <cstdio>

std::string settingsFilePath() {
    char folder[MAX_PATH];
    const HRESULT result =
        SHGetFolderPathA(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, folder);
    if (FAILED(result)) return {};

    // Forward slashes appended as they are; Windows accepts the mixed separators.
    const std::string productFolder = std::string(folder) + "/Ventora";
    // Fails harmlessly on every run after the first, when the folder exists.
    CreateDirectoryA(productFolder.c_str(), nullptr);
    return productFolder + "/config.bin";
}

SettingsRecord overlaySettingsFile(const std::string& path, const SettingsRecord& record) {
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), "rb") != 0 || file == nullptr) return record;
    std::uint8_t bytes[settingsFileSize];
    const std::size_t count = std::fread(bytes, 1, sizeof(bytes), file);
    std::fclose(file);
    return overlaySettings(record, {bytes, count});
}

bool replaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes) {
    const std::string temporaryPath = path + ".new";
    HANDLE file = CreateFileA(temporaryPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool complete =
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && FlushFileBuffers(file);
    CloseHandle(file);

    if (!complete || !MoveFileExA(temporaryPath.c_str(), path.c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporaryPath.c_str());
        return false;
    }
    return true;
}

bool writeSettingsFile(const std::string& path, const SettingsRecord& record) {
    const auto bytes = encodeSettings(record);
    return replaceFileWhole(path, bytes);
}
