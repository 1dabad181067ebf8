// Subnet arithmetic in host byte order.
#include "telemetry/consoles/home_subnets.h"

#include <algorithm>

namespace {

constexpr std::uint32_t limitedBroadcast = 0xFFFFFFFFu;

bool isMulticast(std::uint32_t address) {
    return address >> 28 == 0xE;
}

} // namespace

HomeAddress homeAddressOf(std::uint32_t address, unsigned prefixLength) {
    if (prefixLength == 0 || prefixLength > 32) return {address, 0, limitedBroadcast};
    const std::uint32_t mask = prefixLength == 32 ? limitedBroadcast : ~(limitedBroadcast >> prefixLength);
    return {address, mask, address | ~mask};
}

bool isThisPc(std::span<const HomeAddress> homes, std::uint32_t address) {
    return address >> 24 == 127 || std::any_of(homes.begin(), homes.end(), [address](const HomeAddress& h) {
               return h.address == address;
           });
}

bool isOnHomeSubnet(std::span<const HomeAddress> homes, std::uint32_t address) {
    if (address == limitedBroadcast || isMulticast(address) || isThisPc(homes, address)) return false;
    return std::any_of(homes.begin(), homes.end(), [address](const HomeAddress& h) {
        // A mask of 0 says Windows gave no prefix: nothing is taken as beside the PC then.
        return h.mask != 0 && (address & h.mask) == (h.address & h.mask) && address != h.broadcast &&
               address != (h.address & h.mask);
    });
}
