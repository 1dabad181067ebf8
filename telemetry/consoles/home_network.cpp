// The interfaces come from GetAdaptersAddresses, which says whether each is up and which is the
// loopback, and gives each address its prefix length.
#include "telemetry/consoles/home_network.h"

#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <set>

#include "telemetry/consoles/playstation_discovery.h"

namespace {

// Windows' own advice for the first try; grown to what it asks for when a machine has more.
constexpr ULONG firstAdapterBufferSize = 15000;
constexpr int adapterAttempts = 3;

void sendTo(SOCKET socket, std::string_view text, std::uint32_t address, std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    sendto(socket, text.data(), static_cast<int>(text.size()), 0, reinterpret_cast<const sockaddr*>(&to),
           sizeof to);
}

} // namespace

std::vector<HomeAddress> homeNetworkAddresses() {
    std::vector<HomeAddress> addresses;
    std::vector<unsigned char> buffer(firstAdapterBufferSize);
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < adapterAttempts && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        ULONG size = static_cast<ULONG>(buffer.size());
        result = GetAdaptersAddresses(AF_INET, flags, nullptr,
                                      reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
        if (result == ERROR_BUFFER_OVERFLOW) buffer.resize(size);
    }
    if (result != NO_ERROR) return addresses;

    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp || adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast;
             unicast = unicast->Next) {
            const sockaddr* socketAddress = unicast->Address.lpSockaddr;
            if (!socketAddress || socketAddress->sa_family != AF_INET) continue;
            const std::uint32_t address =
                ntohl(reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr);
            // 127.x.x.x can sit on an interface that is not typed as the loopback.
            if (address >> 24 == 127 || address == 0) continue;
            addresses.push_back(homeAddressOf(address, unicast->OnLinkPrefixLength));
        }
    }
    return addresses;
}

std::vector<std::uint32_t> broadcastTargets(const std::vector<HomeAddress>& homes) {
    std::set<std::uint32_t> targets = {INADDR_BROADCAST};
    for (const HomeAddress& home : homes)
        targets.insert(home.broadcast);
    return {targets.begin(), targets.end()};
}

std::vector<std::uint32_t> broadcastTargets() {
    return broadcastTargets(homeNetworkAddresses());
}

void sendDiscoveryProbes(SOCKET socket, const std::vector<std::uint32_t>& targets) {
    const BOOL on = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    for (std::uint32_t target : targets) {
        sendTo(socket, ps5DiscoveryProbe(), target, ps5DiscoveryPort);
        sendTo(socket, ps4DiscoveryProbe(), target, ps4DiscoveryPort);
    }
}
