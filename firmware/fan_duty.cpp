// Level to duty and the kick-start, shared by the kinds that drive a duty.
#include "fan_duty.h"
#include "fan_output.h"
#include "tunables_in_flash.h"

namespace {

uint16_t fullCount;
uint16_t minimumDuty;
uint16_t kickStartBelowDuty;
struct Output {
    uint16_t levelDuty;
    uint16_t kickMillisecondsLeft;
};
Output outputs[fanOutputCount];

// whole * numerator / denominator, rounded to the nearest count. Up to 327 counts the products stay
// below 65536, and 16-bit division (the AVR's quicker one) is exact; finer PWMs take 32 bits.
uint16_t roundedShare(uint16_t whole, uint16_t numerator, uint16_t denominator) {
    if (whole <= 327) return static_cast<uint16_t>((2 * whole * numerator + denominator) / (2 * denominator));
    return static_cast<uint16_t>((2UL * whole * numerator + denominator) / (2UL * denominator));
}

// One copy for both outputs: inlined twice, its two divisions would cost some 200 bytes of flash.
__attribute__((noinline)) uint16_t dutyOfLevel(uint8_t level) {
    if (level == 0) return 0;
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
    outputs[0] = outputs[1] = Output{0, 0};
}

namespace {

void takeLevel(Output& output, uint8_t level) {
    const bool running = output.levelDuty != 0;
    output.levelDuty = dutyOfLevel(level);
    if (output.levelDuty == 0 || output.levelDuty >= kickStartBelowDuty)
        output.kickMillisecondsLeft = 0; // off, or strong enough to start or keep going on its own
    else if (!running)
        output.kickMillisecondsLeft = tuned.kickStartMilliseconds;
}

bool kickEnded(Output& output) {
    return output.kickMillisecondsLeft != 0 && --output.kickMillisecondsLeft == 0;
}

} // namespace

void takeLevels(uint8_t output1Level, uint8_t output2Level) {
    takeLevel(outputs[0], output1Level);
    takeLevel(outputs[1], output2Level);
}

uint16_t fanDuty(uint8_t output) {
    const Output& o = outputs[output];
    return o.kickMillisecondsLeft != 0 ? fullCount : o.levelDuty;
}

bool kickStartEnded() {
    // Both counted down, whatever the first says.
    const bool first = kickEnded(outputs[0]);
    return kickEnded(outputs[1]) || first;
}
