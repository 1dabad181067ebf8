// The console table's rules: who makes room, and whom the fan follows.
#include "telemetry/consoles/console_table.h"

#include <algorithm>

namespace {

bool mayMakeRoom(const Console& console, MonotonicTime now) {
    return !console.streamed && (!console.awake || now - console.admitted >= consoleProvingTime);
}

} // namespace

Console* consoleAt(ConsoleTable& table, std::uint32_t address) {
    const auto found = std::find_if(table.consoles.begin(), table.consoles.end(),
                                    [address](const Console& c) { return c.address == address; });
    return found == table.consoles.end() ? nullptr : &*found;
}

Console* admitConsole(ConsoleTable& table, std::uint32_t address, std::string description, bool awake,
                      MonotonicTime now) {
    if (table.consoles.size() >= consoleLimit) {
        auto leastRecent = table.consoles.end();
        for (auto c = table.consoles.begin(); c != table.consoles.end(); ++c)
            if (mayMakeRoom(*c, now) &&
                (leastRecent == table.consoles.end() || c->lastHeard < leastRecent->lastHeard))
                leastRecent = c;
        if (leastRecent == table.consoles.end()) return nullptr;
        table.consoles.erase(leastRecent);
    }
    Console& console = table.consoles.emplace_back();
    console.address = address;
    console.description = std::move(description);
    console.admitted = now;
    console.lastHeard = now;
    console.awake = awake;
    return &console;
}

void overlayFollowedConsole(ConsoleTable& table, MonotonicTime now, TelemetrySample& sample) {
    const auto heard = [now](const Console& c) {
        return heardRecently(c.granTurismo.heard, c.granTurismo.lastHeard, now);
    };
    Console* followed = table.followed ? consoleAt(table, *table.followed) : nullptr;
    if (!followed || !heard(*followed)) {
        const auto driven = std::find_if(table.consoles.begin(), table.consoles.end(),
                                         [&](const Console& c) { return heard(c) && c.granTurismo.driven; });
        followed = driven == table.consoles.end() ? nullptr : &*driven;
        table.followed.reset();
        if (followed) table.followed = followed->address;
    }
    if (followed) overlayGranTurismo(followed->granTurismo, now, sample);
}
