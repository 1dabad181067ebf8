// Random datagrams on the discovery socket, as any device on the home network could send. The
// reader must refuse what is too long, and what it accepts must be a PS5 or PS4 whose fields hold
// no line end or control character (they go into the log).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "telemetry/consoles/playstation_discovery.h"

namespace {

bool clean(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Copied into a buffer of exactly its length, so that AddressSanitizer catches a read past it.
    const std::vector<std::uint8_t> datagram(data, data + size);
    const auto answer = parseDiscoveryAnswer(datagram);
    if (!answer) return 0;
    if (size > discoveryAnswerLimit) std::abort();
    if (answer->hostType != "PS5" && answer->hostType != "PS4") std::abort();
    for (const std::string* field :
         {&answer->hostName, &answer->hostId, &answer->runningAppName, &answer->runningAppTitleId})
        if (!clean(*field)) std::abort();
    return 0;
}
