// A plugin's named section as Ventora sees it, for the tests that load the plugins as the games do:
// opened read-only, the record copied out whole.
#pragma once
#include <cstdint>

#include "win32.h"
#include "plugin_record/plugin_record.h"

struct SectionReading {
    bool found = false;
    PluginRecord record;
};

inline SectionReading readPluginSection(const char* sectionName) {
    SectionReading reading;
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, sectionName);
    if (!section) return reading;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, pluginRecord::sectionSize);
    CloseHandle(section);
    if (!view) return reading;
    std::uint32_t sequence = 0;
    reading.found = copyPluginRecord({static_cast<const std::uint8_t*>(view), pluginRecord::sectionSize},
                                     reading.record, sequence);
    UnmapViewOfFile(view);
    return reading;
}
