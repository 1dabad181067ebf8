// The named section a plugin DLL publishes its record in: one per DLL, made when the game starts
// the plugin and gone when it shuts it down.
#include "win32.h"
#include "plugin_record/plugin_record.h"
#include "plugin_record/plugin_section.h"

namespace {
HANDLE section = nullptr;
void* view = nullptr;
} // namespace

OpenedSection openPluginSection(const char* name) {
    section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, pluginRecord::sectionSize, name);
    if (!section) return {};
    // Another game made it first and publishes in it: this handle is let go at once, so the section
    // goes with that game as before.
    const bool anotherGamePublishes = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!anotherGamePublishes) view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, pluginRecord::sectionSize);
    if (!view) {
        CloseHandle(section);
        section = nullptr;
        return {{}, anotherGamePublishes};
    }
    return {{static_cast<std::uint8_t*>(view), pluginRecord::sectionSize}};
}

void closePluginSection() {
    if (view) UnmapViewOfFile(view);
    if (section) CloseHandle(section);
    view = nullptr;
    section = nullptr;
}
