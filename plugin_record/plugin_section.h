// Where a plugin's record goes, apart from the Windows section, so that each plugin's calls build
// natively for tests and benchmarks: the DLLs make a named section, a test hands a buffer.
#pragma once
#include <cstdint>
#include <span>

// What opening the section gave: its page, or none when it cannot be made or when another game
// (another game of the family, or a second copy of this one) already publishes in it.
struct OpenedSection {
    std::span<std::uint8_t> page;
    bool anotherGamePublishes = false;
};

struct RecordSection {
    OpenedSection (*open)();
    void (*close)(); // called only after an open that gave a page
};

// The plugin DLLs' own named section (plugin_section_windows.cpp): made afresh under `name`, or
// left alone when another game made it first.
OpenedSection openPluginSection(const char* name);
// The last handle and view gone, the name goes too: Ventora then knows the game has ended.
void closePluginSection();
