// Random session texts for iRacing's session-info parser: whatever the text, no read leaves it and
// no name is longer than the text it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "telemetry/opened/session_info.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const SessionNames names = parseSessionInfo(text);
    if (names.car.size() > size || names.track.size() > size || names.layout.size() > size) std::abort();
    return 0;
}
