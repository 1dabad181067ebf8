// Any config.bin, of any length, loads as the defaults overlaid by its first min(n, 20) bytes, and
// saving that record gives those bytes back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "settings/settings_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 64)
        return 0;
    const SettingsRecord loaded = overlaySettings(SettingsRecord{}, {data, size});
    const auto saved = encodeSettings(loaded);

    const auto defaults = encodeSettings(SettingsRecord{});
    const std::size_t overlaid = size < settingsFileSize ? size : settingsFileSize;
    if (std::memcmp(saved.data(), data, overlaid) != 0 ||
        std::memcmp(saved.data() + overlaid, defaults.data() + overlaid, settingsFileSize - overlaid) != 0)
        std::abort();
    return 0;
}
