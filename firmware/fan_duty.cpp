// Level to duty and the kick-start, shared by the kinds that drive a duty.
#include "fan_duty.h"
#include "fan_output.h"
#include "tunables_in_flash.h"

namespace {

uint16_t fullCount;
uint16_t minimumDuty;
uint16_t kickStartBelowDuty;
bool fansRunning;
uint16_t currentLevelDuty;
uint16_t kickMillisecondsLeft;

// whole * numerator / denominator, rounded to the nearest count. Up to 327 counts the products stay
// below 65536, and 16-bit division (the AVR's quicker one) is exact; finer PWMs take 32 bits.
uint16_t roundedShare(uint16_t whole, uint16_t numerator, uint16_t denominator) {
    if (whole <= 327) return static_cast<uint16_t>((2 * whole * numerator + denominator) / (2 * denominator));
    return static_cast<uint16_t>((2UL * whole * numerator + denominator) / (2UL * denominator));
}

uint16_t dutyOfLevel(uint8_t level) {
    return minimumDuty + roundedShare(fullCount - minimumDuty, level - 1, topLevel - 1);
}

} // namespace

void setUpFanDuty(uint16_t fullDuty) {
    fullCount = fullDuty;
    // Both percentages are at most 100: the firmware runs no block that says otherwise.
    minimumDuty = roundedShare(fullDuty, tuned.minimumDutyPercent, 100);
    // Below this count a duty is under the kick-start percentage (rounded up).
    kickStartBelowDuty =
        static_cast<uint16_t>((static_cast<uint32_t>(tuned.kickStartBelowPercent) * fullDuty + 99) / 100);
    fansRunning = false;
    currentLevelDuty = 0;
    kickMillisecondsLeft = 0;
}

uint16_t dutyForLevel(uint8_t level) {
    if (level == 0) {
        fansRunning = false;
        kickMillisecondsLeft = 0;
        currentLevelDuty = 0;
        return 0;
    }
    currentLevelDuty = dutyOfLevel(level);
    if (currentLevelDuty >= kickStartBelowDuty)
        kickMillisecondsLeft = 0; // strong enough to start, or to keep going, on its own
    else if (!fansRunning)
        kickMillisecondsLeft = tuned.kickStartMilliseconds;
    fansRunning = true;
    return kickMillisecondsLeft != 0 ? fullCount : currentLevelDuty;
}

bool kickStartEnded() {
    return kickMillisecondsLeft != 0 && --kickMillisecondsLeft == 0;
}

uint16_t levelDuty() {
    return currentLevelDuty;
}
