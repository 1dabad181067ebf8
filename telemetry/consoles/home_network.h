// This PC's place on the home network: its IPv4 addresses with their subnets' broadcast
// addresses, and the discovery probes sent to every one of them. Shared by Ventora and
// ventora-board, which lists the consoles it finds.
#pragma once
#include "win32.h"

#include <winsock2.h>

#include <cstdint>
#include <vector>

struct HomeAddress {
    std::uint32_t address;   // IPv4, host byte order
    std::uint32_t broadcast; // the subnet's broadcast address, host byte order
};

// Every IPv4 address of an interface that is up and not the loopback; empty when there is none
// (or Windows cannot say).
std::vector<HomeAddress> homeNetworkAddresses();

// Sends both probes (PS5's to 9302, PS4's to 987) to 255.255.255.255 and to every subnet's
// broadcast address: Windows lets 255.255.255.255 out through one interface only. Turns
// SO_BROADCAST on for the socket. Failures are ignored: the next round tries again.
void sendDiscoveryProbes(SOCKET socket);
