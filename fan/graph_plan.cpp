// Which pixel of the graph gets which colour. The line uses the fan level's own mapping, with
// the column's share of the width standing in for speed divided by the maximum.
#include "fan/graph_plan.h"

#include <algorithm>

GraphPlan planGraph(std::int32_t speedMin, std::int32_t speedMax, const History& history) {
    GraphPlan plan;
    // The last step is the full width: step / 461 runs from 0 to exactly 1.
    constexpr float lastStep = static_cast<float>(mappingLineSteps - 1);
    for (int step = 0; step < mappingLineSteps; ++step) {
        const float fraction = static_cast<float>(step) / lastStep;
        const FanLevel level = levelFromValue(mapToLevelValue(speedMin, speedMax, fraction));
        plan.pixels[plan.pixelCount++] = {columnOfMappingStep(step), rowOfLevel(level), mappingLineColour};
    }

    // A full History holds two more entries than there are columns; the oldest two are not drawn.
    const int dots = static_cast<int>(std::min<std::size_t>(history.size(), drawnHistoryEntries));
    for (int k = 1; k <= dots; ++k) {
        const FanLevel level = history[history.size() - static_cast<std::size_t>(k)];
        plan.pixels[plan.pixelCount++] = {columnOfNewestEntry(k), rowOfLevel(level), historyDotColour};
    }
    return plan;
}
