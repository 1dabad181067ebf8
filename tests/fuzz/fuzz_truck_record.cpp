// Random bytes as the trucks' section, in a buffer of exactly the input's size so that
// AddressSanitizer catches a read past it, read on two ticks with the sequence moved between them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "telemetry/opened/plugin_readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The allocator's alignment stands in for the section's.
    std::vector<std::uint8_t> exact(size);
    if (size) std::memcpy(exact.data(), data, size);
    PluginWatch watch;
    for (int tick = 0; tick < 2; ++tick) {
        TelemetrySample sample;
        readTrucks({exact, &watch, 1000u + 100u * static_cast<unsigned>(tick)}, sample);
        if (size >= 8) exact[4] = static_cast<std::uint8_t>(exact[4] + 2); // the next frame
        // A driven truck's combo always holds " @ ", and its speed is never negative.
        if (!sample.combo.empty() &&
            (sample.combo.find(" @ ") == std::string::npos || sample.speedKmh < 0.0f))
            std::abort();
    }
    return 0;
}
