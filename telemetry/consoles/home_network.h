// This PC's place on the home network: its IPv4 addresses with their subnets' broadcast
// addresses, and the discovery probes sent to every one of them. Shared by Ventora and
// ventora-board, which lists the consoles it finds.
#pragma once
#include "win32.h"

#include <winsock2.h>

#include <cstdint>
#include <vector>

#include "telemetry/consoles/home_subnets.h"

// Every IPv4 address of an interface that is up and not the loopback; empty when there is none
// (or Windows cannot say).
std::vector<HomeAddress> homeNetworkAddresses();

// 255.255.255.255 and every subnet's broadcast address, each once: Windows lets 255.255.255.255 out
// through one interface only.
std::vector<std::uint32_t> broadcastTargets(const std::vector<HomeAddress>& homes);
// The same for the interfaces as they are now, which Windows can take milliseconds to say: not a
// thing to ask every tick.
std::vector<std::uint32_t> broadcastTargets();

// Sends both probes (PS5's to 9302, PS4's to 987) to each of `targets` (host byte order), as
// broadcastTargets gives them. Turns SO_BROADCAST on for the socket. Failures are ignored: the
// next round tries again.
void sendDiscoveryProbes(SOCKET socket, const std::vector<std::uint32_t>& targets);
