// The PC's own subnets on the home network, and what an address is to them: this PC, a device
// beside it on one of them, or a stranger (off them, or a broadcast or multicast address, which no
// single device sends from). Platform-neutral, so the arithmetic is tested natively.
#pragma once
#include <cstdint>
#include <span>

struct HomeAddress {
    std::uint32_t address;   // IPv4, host byte order
    std::uint32_t mask;      // the subnet's mask, host byte order
    std::uint32_t broadcast; // the subnet's broadcast address, host byte order
};

// An address and its prefix length as Windows gives them; a length out of 1 to 32 gives the
// whole address space's mask and 255.255.255.255.
HomeAddress homeAddressOf(std::uint32_t address, unsigned prefixLength);

// 127.x.x.x or one of the PC's own addresses.
bool isThisPc(std::span<const HomeAddress> homes, std::uint32_t address);

// Another device on one of the PC's subnets: inside one of them, neither its network nor its
// broadcast address, not the PC's own, not a multicast or the limited broadcast address.
bool isOnHomeSubnet(std::span<const HomeAddress> homes, std::uint32_t address);
