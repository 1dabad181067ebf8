// Where the three games put the few fields Ventora reads: section names, view sizes and byte
// offsets into each page. Shared by the readers and by the page publisher in tools/.
#pragma once
#include <cstddef>
#include <cstdint>

// Every section Ventora creates has this size, whatever its view: games that open the section
// later expect room for their whole page, which can be larger than the part Ventora reads.
inline constexpr std::uint32_t sectionSize = 100000;

// Assetto Corsa publishes three sections; its names are UTF-16LE.
namespace acPhysics {
inline constexpr const char* sectionName = "acpmf_physics";
inline constexpr std::uint32_t viewSize = 568;
inline constexpr std::size_t packetId = 0; // counts up with every physics step
inline constexpr std::size_t speedKmh = 28;
inline constexpr std::size_t lateralG = 44; // accG[0]: positive while the car turns left
} // namespace acPhysics

namespace acGraphics {
inline constexpr const char* sectionName = "acpmf_graphics";
inline constexpr std::uint32_t viewSize = 284;
inline constexpr std::size_t state = 4;
inline constexpr std::int32_t liveState = 2;
inline constexpr std::int32_t offState = 0;
} // namespace acGraphics

namespace acStatic {
inline constexpr const char* sectionName = "acpmf_static";
inline constexpr std::uint32_t viewSize = 596;
// Rooms are in UTF-16 code units, each up to the next field Ventora reads or the view's end.
inline constexpr std::size_t carName = 68;
inline constexpr std::size_t carNameRoom = 33;
inline constexpr std::size_t trackName = 134;
inline constexpr std::size_t trackNameRoom = 195;
inline constexpr std::size_t layoutName = 524;
inline constexpr std::size_t layoutNameRoom = 36;
} // namespace acStatic

// Assetto Corsa Rally writes Assetto Corsa's three pages, with Assetto Corsa's layout; only its
// process tells it apart.
namespace acRally {
inline constexpr const wchar_t* processName = L"acr.exe";
} // namespace acRally

// Project CARS 2 (and Automobilista 2 in its Project CARS 2 mode): 8-bit names, speed in m/s.
namespace pcars2 {
inline constexpr const char* sectionName = "$pcars2$";
inline constexpr std::uint32_t viewSize = 19380;
inline constexpr std::size_t state = 8;
inline constexpr std::int32_t liveState = 2;
inline constexpr std::int32_t frontEndState = 1;
inline constexpr std::size_t carName = 6444;
inline constexpr std::size_t carNameRoom = 132;
inline constexpr std::size_t trackName = 6576;
inline constexpr std::size_t trackNameRoom = 64;
inline constexpr std::size_t layoutName = 6640;
inline constexpr std::size_t layoutNameRoom = 208;
inline constexpr std::size_t speedMetresPerSecond = 6848;
inline constexpr std::size_t localAccelerationX = 6956; // m/s^2, positive toward the car's left
} // namespace pcars2

// RaceRoom: 8-bit names, speed in m/s, and a page whose layout has moved between releases of the
// game. The page opens with the layout's major and minor version, which pick the offsets.
namespace r3e {
inline constexpr const char* sectionName = "$R3E";
inline constexpr std::uint32_t viewSize = 30844;
inline constexpr std::size_t majorVersion = 0;
inline constexpr std::size_t minorVersion = 4;
inline constexpr std::int32_t liveState = 5; // the green-flag session phase
inline constexpr std::int32_t garageState = 1;

struct Layout {
    std::size_t trackName, trackNameRoom;
    std::size_t layoutName, layoutNameRoom;
    std::size_t state;
    std::size_t carName, carNameRoom;
    std::size_t speedMetresPerSecond;
};

// Major version 1 (2017). The rooms run to the next field Ventora reads.
inline constexpr Layout layoutV1{276, 64, 340, 88, 428, 620, 164, 784};
// From 2019 on, every name field is 64 bytes.
inline constexpr Layout layoutV2{576, 64, 640, 64, 772, 1156, 64, 1336};
inline constexpr Layout layoutV3_1{592, 64, 656, 64, 788, 1184, 64, 1368};
inline constexpr Layout layoutV3_2{592, 64, 656, 64, 788, 1184, 64, 1380};
inline constexpr Layout layoutV3_3{596, 64, 660, 64, 792, 1188, 64, 1384};
inline constexpr Layout layoutV3_4{600, 64, 664, 64, 796, 1196, 64, 1392}; // and every later 3.x

// The car's local acceleration (m/s^2, x positive toward its left) lies this far after the speed in
// every layout from 2019 on: the engine's revs, the gears, the centre of gravity and the
// orientation come between. Where it lies in the 2017 layout is not known.
inline constexpr std::size_t localAccelerationXAfterSpeed = 48;

// A section no game has written to reads version 0.0, and any version not known here is read
// with the original offsets.
constexpr const Layout& layoutFor(std::int32_t major, std::int32_t minor) {
    if (major == 2) return layoutV2;
    if (major == 3) {
        if (minor == 1) return layoutV3_1;
        if (minor == 2) return layoutV3_2;
        if (minor == 3) return layoutV3_3;
        if (minor >= 4) return layoutV3_4;
    }
    return layoutV1;
}
} // namespace r3e
