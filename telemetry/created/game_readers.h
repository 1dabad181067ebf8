// The three game readers: what the live game's pages say about the car, the track and the speed.
// Platform-neutral: they work on byte views, so they are tested, fuzzed and benchmarked natively.
#pragma once
#include "telemetry/byte_loads.h"
#include "telemetry/telemetry_sample.h"

// The five pages in the order of the source table. A view may be shorter than its page (or
// empty): whatever lies beyond its end reads as zero, as in a section no game has written to.
struct GameViews {
    PageView acPhysicsPage;
    PageView acGraphicsPage;
    PageView acStaticPage;
    PageView pcars2Page;
    PageView r3ePage;
};

// Reads Assetto Corsa, then Project CARS 2, then RaceRoom; each live game replaces the combo and
// the speed, so the last live one wins. An empty combo and speed 0 when no game is live.
TelemetrySample readTelemetrySample(const GameViews& views);
