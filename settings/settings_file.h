// The process-wide settings and their file, config.bin in the user's application-data folder:
// read once at start-up, written when the program ends.
#pragma once
#include "win32.h"
#include "settings/settings_record.h"

// Every other part reads the fields directly, whenever it needs a value.
extern SettingsRecord settings;

void locateSettingsFile();
void loadSettings();
void applySettingsToControls(HWND portCombo, HWND speedOffSlider, HWND speedMinSlider, HWND speedMaxSlider,
                             HWND maxCarSpeedSlider);
void saveSettings();
