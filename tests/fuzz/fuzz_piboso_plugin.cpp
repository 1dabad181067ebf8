// Random calls from a PiBoSo game: the first byte picks the game and the call, the rest is its
// block, copied into a buffer of exactly its length so that AddressSanitizer catches a read past
// `size`. Each call's record must be whole, and driven only while the speed is finite.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "piboso_plugin/piboso_plugin.h"
#include "plugin_record/plugin_record.h"

namespace {

alignas(4096) std::uint8_t section[pluginRecord::sectionSize];

OpenedSection openSection() {
    return {section};
}
void closeSection() {}

const piboso::GameIdentity* const games[] = {&piboso::kartRacingPro, &piboso::mxBikes, &piboso::gpBikes};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t choice = data[0];
    std::vector<std::uint8_t> block(data + 1, data + size);
    const int blockSize = static_cast<int>(block.size());
    void* blockData = block.empty() ? nullptr : block.data();
    startPiBoSoPlugin(*games[(choice >> 4) % 3], {openSection, closeSection});
    switch (choice % 10) {
    case 0: takeEventInit(blockData, blockSize); break;
    case 1: takeEventDeinit(); break;
    case 2: takeRunInit(); break;
    case 3: takeRunDeinit(); break;
    case 4: takeRunStart(); break;
    case 5: takeRunStop(); break;
    case 6: takeRaceEvent(blockData, blockSize); break;
    case 7: shutdownPiBoSoPlugin(); break;
    default: takeRunTelemetry(blockData, blockSize); break;
    }
    PluginRecord record;
    std::uint32_t sequence = 0;
    if (!copyPluginRecord(section, record, sequence) || sequence % 2 != 0) std::abort();
    if (!std::isfinite(record.metresPerSecond) || (!record.live && record.metresPerSecond != 0.0f))
        std::abort();
    return 0;
}
