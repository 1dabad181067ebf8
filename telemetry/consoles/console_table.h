// The consoles Ventora knows on the home network, each with its own Gran Turismo 7 state, and the
// one the fan follows. Bounded, so strangers cannot grow it, and never so full that a real console
// is kept out. Platform-neutral: the sockets that fill it are in console_sources.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "telemetry/consoles/gran_turismo.h"

// A household has a few consoles; a flood of answers from strangers must not grow the table.
inline constexpr std::size_t consoleLimit = 8;
// A console asked for its stream starts it within milliseconds: one that has had this long and
// never streamed may make room for another.
inline constexpr auto consoleProvingTime = std::chrono::seconds(2);

struct Console {
    std::uint32_t address;   // host byte order
    std::string description; // "PS5 PS5-123 at 192.168.1.20", as the log names it
    MonotonicTime admitted{};
    MonotonicTime lastHeard{}; // its newest answer or packet
    bool awake = false;
    int unansweredRounds = 0;
    bool heartbeatSent = false;
    MonotonicTime lastHeartbeat{};
    bool streamed = false; // its packets have come
    MonotonicTime lastPacket{};
    GranTurismoState granTurismo;
};

struct ConsoleTable {
    std::vector<Console> consoles;
    std::optional<std::uint32_t> followed; // the console whose game the fan follows
};

Console* consoleAt(ConsoleTable& table, std::uint32_t address);

// Adds a console heard at `now` (its address not in the table yet). A full table makes room by
// dropping the one heard from least recently among those that never streamed and are asleep or
// have had their time to prove themselves; nothing when there is none such, the table then as it
// was.
Console* admitConsole(ConsoleTable& table, std::uint32_t address, std::string description, bool awake,
                      MonotonicTime now);

// Drops the consoles for which `gone` holds, the followed one included.
template <typename Predicate> void forgetConsoles(ConsoleTable& table, Predicate gone) {
    std::erase_if(table.consoles, gone);
    if (table.followed && !consoleAt(table, *table.followed)) table.followed.reset();
}

// One console at a time: the followed one while its stream is heard, whatever it shows; when it
// falls silent, the first whose car is driven. Its car over the sample while driven.
void overlayFollowedConsole(ConsoleTable& table, MonotonicTime now, TelemetrySample& sample);
