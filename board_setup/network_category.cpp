// The network list names each network's adapters by GUID; GetAdaptersAddresses names the same
// adapters by that GUID as text and gives their subnets, which say where a PlayStation answered.
#include "board_setup/network_category.h"

#include "win32.h"

#include <winsock2.h>

#include <iphlpapi.h>
#include <netlistmgr.h>
#include <objbase.h>

#include <algorithm>
#include <string>

#include "board_setup/com_holder.h"
#include "board_setup/wide_text.h"
#include "telemetry/consoles/home_subnets.h"

namespace {

constexpr CLSID networkListManagerClass = {
    0xdcb00c01, 0x570f, 0x4a9b, {0x8d, 0x69, 0x19, 0x9f, 0xdb, 0xa5, 0x72, 0x3b}};
constexpr ULONG adapterBufferSize = 64 * 1024;

// The adapters' GUIDs ("{...}", upper case) on whose subnets one of the addresses lies.
std::vector<std::string> adaptersReaching(const std::vector<std::uint32_t>& addresses) {
    std::vector<std::string> found;
    std::vector<unsigned char> buffer(adapterBufferSize);
    ULONG size = adapterBufferSize;
    if (GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size) != NO_ERROR)
        return found;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next)
        for (auto* unicast = adapter->FirstUnicastAddress; unicast; unicast = unicast->Next) {
            const sockaddr* socketAddress = unicast->Address.lpSockaddr;
            if (!socketAddress || socketAddress->sa_family != AF_INET) continue;
            const HomeAddress home =
                homeAddressOf(ntohl(reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr.s_addr),
                              unicast->OnLinkPrefixLength);
            if (std::any_of(addresses.begin(), addresses.end(), [&](std::uint32_t a) {
                    return isOnHomeSubnet({&home, 1}, a);
                }))
                found.emplace_back(adapter->AdapterName);
        }
    return found;
}

std::string guidText(const GUID& guid) {
    wchar_t text[64];
    if (StringFromGUID2(guid, text, 64) == 0) return {};
    std::string utf8 = utf8FromWide(text);
    std::transform(utf8.begin(), utf8.end(), utf8.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
    return utf8;
}

bool reaches(INetwork* network, const std::vector<std::string>& adapters) {
    ComHolder<IEnumNetworkConnections> connections;
    if (FAILED(network->GetNetworkConnections(&connections.pointer))) return false;
    for (;;) {
        ComHolder<INetworkConnection> connection;
        ULONG fetched = 0;
        if (connections.pointer->Next(1, &connection.pointer, &fetched) != S_OK || fetched == 0) return false;
        GUID adapter{};
        if (SUCCEEDED(connection.pointer->GetAdapterId(&adapter))) {
            std::string text = guidText(adapter);
            const auto same = [&](std::string name) {
                std::transform(name.begin(), name.end(), name.begin(),
                               [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
                return name == text;
            };
            if (std::any_of(adapters.begin(), adapters.end(), same)) return true;
        }
    }
}

NetworkCategory categoryOf(NLM_NETWORK_CATEGORY category) {
    switch (category) {
    case NLM_NETWORK_CATEGORY_PUBLIC: return NetworkCategory::isPublic;
    case NLM_NETWORK_CATEGORY_PRIVATE: return NetworkCategory::isPrivate;
    case NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED: return NetworkCategory::isDomain;
    }
    return NetworkCategory::unknown;
}

} // namespace

std::vector<SeenNetwork> seenNetworks(const std::vector<std::uint32_t>& playStations) {
    std::vector<SeenNetwork> all, answeredOn;
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(initialised) && initialised != RPC_E_CHANGED_MODE) return all;
    ComHolder<INetworkListManager> manager;
    ComHolder<IEnumNetworks> networks;
    if (FAILED(CoCreateInstance(networkListManagerClass, nullptr, CLSCTX_ALL, __uuidof(INetworkListManager),
                                reinterpret_cast<void**>(&manager.pointer))) ||
        FAILED(manager.pointer->GetNetworks(NLM_ENUM_NETWORK_CONNECTED, &networks.pointer)))
        return all;
    const std::vector<std::string> adapters = adaptersReaching(playStations);
    for (;;) {
        ComHolder<INetwork> network;
        ULONG fetched = 0;
        if (networks.pointer->Next(1, &network.pointer, &fetched) != S_OK || fetched == 0) break;
        NLM_NETWORK_CATEGORY category{};
        BSTR name = nullptr;
        SeenNetwork seen{"", NetworkCategory::unknown};
        if (SUCCEEDED(network.pointer->GetName(&name)) && name) seen.name = utf8FromWide(name);
        SysFreeString(name);
        if (SUCCEEDED(network.pointer->GetCategory(&category))) seen.category = categoryOf(category);
        if (!adapters.empty() && reaches(network.pointer, adapters)) answeredOn.push_back(seen);
        all.push_back(std::move(seen));
    }
    return answeredOn.empty() ? all : answeredOn;
}
