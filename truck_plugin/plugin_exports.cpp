// ventora-trucks.dll: what Euro Truck Simulator 2 and American Truck Simulator load from their
// plugins folder. Two undecorated C exports, and the named section Ventora opens.
#include <cstdint>

#include "plugin_record/plugin_record.h"
#include "plugin_record/plugin_section.h"
#include "truck_plugin/truck_plugin.h"

namespace {

OpenedSection openSection() {
    return openPluginSection(pluginRecord::truckSectionName);
}

} // namespace

extern "C" __declspec(dllexport) std::int32_t scs_telemetry_init(std::uint32_t version, const void* params) {
    return initTruckPlugin(version, params, {openSection, closePluginSection});
}

extern "C" __declspec(dllexport) void scs_telemetry_shutdown() {
    shutdownTruckPlugin();
}
