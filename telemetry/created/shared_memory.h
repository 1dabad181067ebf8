// The five named sections the games publish their telemetry in, mapped read-only once at start-up
// and read every tick.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "telemetry/telemetry_sample.h"

struct SharedMemorySource {
    const char* name;         // the section's name, exactly as the game uses it
    std::uint32_t viewSize;   // bytes mapped from the start of the section
    const std::uint8_t* view; // null until openSharedMemorySources maps it
};

inline constexpr std::size_t sharedMemorySourceCount = 5;

// Assetto Corsa's physics, graphics and static pages, then Project CARS 2's, then RaceRoom's.
extern SharedMemorySource sharedMemorySources[sharedMemorySourceCount];

// Creates (or opens, when a game was first) each section and maps its view, in table order.
// The first failure stops the program through fatalError; later rows are not tried.
void openSharedMemorySources();

// The tick's sample from the mapped views; a row not yet mapped counts as an empty page.
TelemetrySample readTelemetrySample(const SharedMemorySource (&sources)[sharedMemorySourceCount]);

// The same, with Assetto Corsa Rally told apart from Assetto Corsa by its process (looked for once a
// second): while it runs, Assetto Corsa's pages are read as its, and what it is found to set is
// said once through `log`.
using SharedMemoryLogLine = void (*)(std::string);
TelemetrySample readTelemetrySample(const SharedMemorySource (&sources)[sharedMemorySourceCount],
                                    SharedMemoryLogLine log);
