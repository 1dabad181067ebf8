// ventora-trucks.dll: what Euro Truck Simulator 2 and American Truck Simulator load from their
// plugins folder. Two undecorated C exports, and the named section Ventora opens.
#include <cstdint>
#include <span>

#include "win32.h"
#include "truck_plugin/truck_plugin.h"
#include "truck_plugin/truck_record.h"

namespace {

HANDLE section = nullptr;
void* view = nullptr;

OpenedSection openSection() {
    section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, truckRecord::sectionSize,
                                 truckRecord::sectionName);
    if (!section) return {};
    // Another game made it first and publishes in it: this handle is let go at once, so the section
    // goes with that game as before.
    const bool anotherGamePublishes = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!anotherGamePublishes) view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, truckRecord::sectionSize);
    if (!view) {
        CloseHandle(section);
        section = nullptr;
        return {{}, anotherGamePublishes};
    }
    return {{static_cast<std::uint8_t*>(view), truckRecord::sectionSize}};
}

// The last handle and view gone, the name goes too: Ventora then knows the game has ended.
void closeSection() {
    if (view) UnmapViewOfFile(view);
    if (section) CloseHandle(section);
    view = nullptr;
    section = nullptr;
}

} // namespace

extern "C" __declspec(dllexport) std::int32_t scs_telemetry_init(std::uint32_t version, const void* params) {
    return initTruckPlugin(version, params, {openSection, closeSection});
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() {
    shutdownTruckPlugin();
}
