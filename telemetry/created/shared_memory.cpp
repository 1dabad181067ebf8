// The shared-memory source table: Ventora's read-only views of the games' sections.
#include "telemetry/created/shared_memory.h"

#include <string>
#include <utility>

#include "fatal_error.h"
#include "win32.h"
#include "telemetry/created/game_pages.h"
#include "telemetry/created/game_readers.h"
#include "telemetry/created/ac_rally_reader.h"
#include "telemetry/created/running_process.h"

SharedMemorySource sharedMemorySources[sharedMemorySourceCount] = {
    {acPhysics::sectionName, acPhysics::viewSize, nullptr},
    {acGraphics::sectionName, acGraphics::viewSize, nullptr},
    {acStatic::sectionName, acStatic::viewSize, nullptr},
    {pcars2::sectionName, pcars2::viewSize, nullptr},
    {r3e::sectionName, r3e::viewSize, nullptr},
};

void openSharedMemorySources() {
    for (SharedMemorySource& source : sharedMemorySources) {
        // Creating the section when no game has yet lets Ventora start first: a game started later
        // opens this same section and writes into it. Neither the handle nor the view is ever
        // released; the section lives as long as Ventora does.
        HANDLE section =
            CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sectionSize, source.name);
        if (section == nullptr) fatalError(("CreateFileMapping failed: " + std::string(source.name)).c_str());
        source.view =
            static_cast<const std::uint8_t*>(MapViewOfFile(section, FILE_MAP_READ, 0, 0, source.viewSize));
        if (source.view == nullptr) fatalError(("MapViewOfFile failed: " + std::string(source.name)).c_str());
    }
}

TelemetrySample readTelemetrySample(const SharedMemorySource (&sources)[sharedMemorySourceCount]) {
    auto pageOf = [](const SharedMemorySource& source) {
        return source.view ? PageView(source.view, source.viewSize) : PageView();
    };
    return readTelemetrySample(GameViews{pageOf(sources[0]), pageOf(sources[1]), pageOf(sources[2]),
                                         pageOf(sources[3]), pageOf(sources[4])});
}

namespace {

// The rally game starts once an evening: a second's delay in noticing it is not felt, and a
// snapshot of the process list every tick would cost more than the tick's other work.
constexpr ULONGLONG processLookInterval = 1000; // ms

AcRallyWatch acRallyWatch;
bool acRallyRunning = false;
ULONGLONG lastProcessLook = 0;
bool processLookedOnce = false;

} // namespace

TelemetrySample readTelemetrySample(const SharedMemorySource (&sources)[sharedMemorySourceCount],
                                    SharedMemoryLogLine log) {
    const ULONGLONG now = GetTickCount64();
    if (!processLookedOnce || now - lastProcessLook >= processLookInterval) {
        processLookedOnce = true;
        lastProcessLook = now;
        const bool running = processRunning(acRally::processName);
        if (running && !acRallyRunning) restartAcRallyWatch(acRallyWatch);
        acRallyRunning = running;
    }
    if (!acRallyRunning) return readTelemetrySample(sources);
    auto pageOf = [](const SharedMemorySource& source) {
        return source.view ? PageView(source.view, source.viewSize) : PageView();
    };
    TelemetrySample sample =
        readTelemetrySampleAsRally(GameViews{pageOf(sources[0]), pageOf(sources[1]), pageOf(sources[2]),
                                             pageOf(sources[3]), pageOf(sources[4])},
                                   acRallyWatch, now);
    if (!acRallyWatch.logLine.empty()) log(std::exchange(acRallyWatch.logLine, {}));
    return sample;
}
