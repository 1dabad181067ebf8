// The wait for a board's failsafe after Ventora closed.
#include "board_setup/failsafe_wait.h"

#include "firmware/tunables_block.h"

namespace {

constexpr std::uint64_t marginMs = 500;
constexpr std::uint64_t longestFailsafeMs = tunablesBlock::failsafeMillisecondsRange.highest + marginMs;

} // namespace

std::uint64_t failsafeWaitMs(std::uint64_t sinceClosedMs) {
    return sinceClosedMs >= longestFailsafeMs ? 0 : longestFailsafeMs - sinceClosedMs;
}
