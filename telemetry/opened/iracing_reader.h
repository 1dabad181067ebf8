// iRacing's reader: the live test and the speed from the newest variable buffer, the names from
// the session-info text, which is parsed again only when the game says it has changed.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "telemetry/telemetry_sample.h"

// Carried from tick to tick by whoever holds iRacing's view: the combo from the last session-info
// text parsed, and which update of the text that was.
struct IRacingSessionCache {
    std::optional<std::int32_t> sessionInfoUpdate; // none until a text has been parsed whole
    std::string combo;
};

// Replaces the sample's combo and speed when iRacing is live (connected, on track, no replay) and
// the reading is whole: the buffer read must still carry the same tick afterwards.
void readIRacing(std::span<const std::uint8_t> page, IRacingSessionCache& cache, TelemetrySample& sample);
