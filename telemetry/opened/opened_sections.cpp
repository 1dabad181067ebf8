// Ventora's views of the sections the games own. The section handle is closed as soon as the view
// is made: the view keeps the memory, but the name then lasts only as long as the game holds it,
// so a name that no longer opens means the game has ended and its page is stale.
#include "telemetry/opened/opened_sections.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "win32.h"
#include "telemetry/opened/acevo_reader.h"
#include "telemetry/opened/opened_game_pages.h"
#include "telemetry/opened/opened_games.h"
#include "plugin_record/plugin_record.h"

namespace {

// Looking every tick would be a kernel call per section per tick for a game that starts once an
// evening; a second's delay in noticing it is not felt.
constexpr ULONGLONG lookInterval = 1000; // ms

struct OpenedSection {
    const char* name;
    bool writable;         // the lock section: taking the lock writes to it
    std::size_t viewBytes; // 0 maps the whole section, whatever size the game gave it
    std::uint8_t* view = nullptr;
    std::size_t size = 0;
};

enum SectionIndex {
    iracingData,
    rf2Scoring,
    rf2Telemetry,
    lmuData,
    lmuLock,
    acEvoPhysics,
    acEvoGraphics,
    acEvoStatic,
    truckSection,
    kartsAndBikesSection,
    sectionCount
};

OpenedSection sections[sectionCount] = {
    {iracing::sectionName, false, 0},
    {rf2::scoring::sectionName, false, 0},
    {rf2::telemetry::sectionName, false, 0},
    {lmu::sectionName, false, 0},
    {lmu::lockSectionName, true, lmu::lockSize},
    {acEvo::physics::sectionName, false, 0},
    {acEvo::graphics::sectionName, false, 0},
    {acEvo::statics::sectionName, false, 0},
    {pluginRecord::truckSectionName, false, pluginRecord::sectionSize},
    {pluginRecord::kartsAndBikesSectionName, false, pluginRecord::sectionSize},
};
IRacingSessionCache iracingCache;
std::string acEvoLoggedVersion; // kept across the game's restarts: a version is logged once
PluginWatch truckWatch;
PluginWatch kartsAndBikesWatch;
HANDLE lmuLockEvent = nullptr; // woken when Le Mans Ultimate waits on a lock Ventora held
ULONGLONG lastLook = 0;
bool lookedOnce = false;

void openSection(OpenedSection& section) {
    const DWORD access = section.writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ;
    HANDLE handle = OpenFileMappingA(access, FALSE, section.name);
    if (!handle) return;
    void* view =
        MapViewOfFile(handle, section.writable ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, section.viewBytes);
    CloseHandle(handle);
    if (!view) return;
    MEMORY_BASIC_INFORMATION region{};
    if (!VirtualQuery(view, &region, sizeof region)) {
        UnmapViewOfFile(view);
        return;
    }
    section.view = static_cast<std::uint8_t*>(view);
    // Windows tells a view's size only in whole pages, so the readers' size checks catch a layout
    // that is a page or more smaller than theirs, not one a few bytes short.
    section.size = section.viewBytes ? section.viewBytes : region.RegionSize;
}

void closeSection(OpenedSection& section) {
    UnmapViewOfFile(section.view);
    section.view = nullptr;
    section.size = 0;
    if (&section == &sections[iracingData]) iracingCache = {};
    if (&section == &sections[truckSection]) truckWatch = {};
    if (&section == &sections[kartsAndBikesSection]) kartsAndBikesWatch = {};
    if (&section == &sections[lmuLock] && lmuLockEvent) {
        CloseHandle(lmuLockEvent);
        lmuLockEvent = nullptr;
    }
}

bool nameExists(const char* name) {
    HANDLE handle = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    if (!handle) return false;
    CloseHandle(handle);
    return true;
}

void lookForSections() {
    const ULONGLONG now = GetTickCount64();
    if (lookedOnce && now - lastLook < lookInterval) return;
    lookedOnce = true;
    lastLook = now;
    // A game that quits and a game that starts within the second leave the name in place, but the
    // view is of the old, dead section: a record that stopped moving is let go and opened afresh.
    if (sections[truckSection].view && pluginRecordStale(truckWatch, now))
        closeSection(sections[truckSection]);
    if (sections[kartsAndBikesSection].view && pluginRecordStale(kartsAndBikesWatch, now))
        closeSection(sections[kartsAndBikesSection]);
    for (OpenedSection& section : sections) {
        if (!section.view)
            openSection(section);
        else if (!nameExists(section.name))
            closeSection(section);
    }
    // The game may make its event after its lock section.
    if (sections[lmuLock].view && !lmuLockEvent)
        lmuLockEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, lmu::lockEventName);
}

std::span<const std::uint8_t> pageOf(SectionIndex index) {
    return {sections[index].view, sections[index].size};
}

} // namespace

void readOpenedGameSections(TelemetrySample& sample, OpenedGameLogLine log) {
    lookForSections();
    const OpenedGameViews views{pageOf(iracingData),
                                pageOf(rf2Scoring),
                                pageOf(rf2Telemetry),
                                pageOf(lmuData),
                                {sections[lmuLock].view, sections[lmuLock].size},
                                pageOf(acEvoPhysics),
                                pageOf(acEvoGraphics),
                                pageOf(acEvoStatic),
                                {pageOf(truckSection), &truckWatch, GetTickCount64()},
                                {pageOf(kartsAndBikesSection), &kartsAndBikesWatch, GetTickCount64()}};
    if (readOpenedGames(views, iracingCache, sample) && lmuLockEvent) SetEvent(lmuLockEvent);
    if (auto line = acEvoVersionLine(views.acEvoStatic, acEvoLoggedVersion)) log(std::move(*line));
}
