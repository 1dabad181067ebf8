// How much of a tick a UDP socket may take: shared by the games' sockets and the consoles'.
#pragma once
#include <chrono>

// A socket's share of a tick: far more than any game sends at its highest rate (F1, the busiest,
// some 36 datagrams a tick at 60 Hz). Each datagram costs a system call (some 50 to 100 us under
// Wine, a few us on Windows), and a tick held up by a flood would miss its 100 ms beat, so a flood
// is cut short: after 4 datagrams a tick that no game sends (wrong length or format), or after
// 10 ms, which keeps up with every game at its highest rate under Wine (about 4 ms a tick) with room
// to spare. The rest waits in the socket for the next tick.
inline constexpr int datagramsPerTick = 256;
inline constexpr int strangersPerTick = 4;
inline constexpr auto drainTimePerTick = std::chrono::milliseconds(10);
