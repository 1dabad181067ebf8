// Whether Windows calls the PC's networks Private, Domain or Public, through the network list's own
// interface (INetworkListManager). Windows.
#pragma once
#include <cstdint>
#include <vector>

#include "board_setup/consoles_advice.h"

// The connected networks on whose adapters one of `playStations` (host byte order) lies, or every
// connected network when none does; empty when Windows will not say.
std::vector<SeenNetwork> seenNetworks(const std::vector<std::uint32_t>& playStations);
