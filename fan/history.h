// The History: the fan levels of the most recent ticks, oldest at the front, newest at the back.
// Platform-neutral; the graph draws the newest of them.
#pragma once
#include <cstddef>
#include <deque>

#include "fan/fan_level.h"

using History = std::deque<FanLevel>;

// Two more than the graph shows; at ten ticks a second this is about 46 seconds of output.
inline constexpr std::size_t historyCapacity = 464;

// Appends the level at the back and drops the oldest entry once the History holds more than
// historyCapacity levels.
void appendHistory(History& history, FanLevel level);
