// config.bin on disk: where it lives, reading it over a record, and replacing it whole. Shared by
// Ventora and ventora-board, which sets the port for it.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "settings/settings_record.h"

// %APPDATA%\Ventora\config.bin, the folder made when it is missing; empty when Windows has no
// application-data folder for the user.
std::string settingsFilePath();

// The record with the file's bytes laid over it; the record as it was when there is no file.
SettingsRecord overlaySettingsFile(const std::string& path, const SettingsRecord& record);

// Writes the new bytes beside the old file and swaps them in, so that a crash or a power cut in
// the middle leaves the old contents or the new ones, never a torn file. Any failure leaves the
// old file as it was and returns false.
bool replaceFileWhole(const std::string& path, std::span<const std::uint8_t> bytes);

// The record's 20 bytes, replaced whole as above.
bool writeSettingsFile(const std::string& path, const SettingsRecord& record);
