// The set-up tool's side of its console: what it says, what it asks, and its exit codes.
// Windows.
#pragma once
#include <cstddef>
#include <optional>
#include <string>

inline constexpr int exitDone = 0;
inline constexpr int exitFailed = 1;
inline constexpr int exitBadUsage = 2;

// printf to standard output, flushed at once so piped output keeps its order with stderr's.
void say(const char* format, ...);
// "ventora-board: " and the message on standard error.
void complain(const char* format, ...);
// Whether standard output is a console (progress bars redraw in place) rather than a file or pipe.
bool onConsole();
// A bar of width characters, done of all filled.
std::string bar(std::size_t done, std::size_t all, std::size_t width);

// One answer typed (or piped in); nothing at the end of input.
std::optional<std::string> ask(const char* prompt);

// What came in while the tool waited for something else: a line (its text, as ask returns it),
// nothing within the time, or the end of input (after the whole time, so a loop around it idles).
struct Awaited {
    enum What { line, nothing, endOfInput } what = nothing;
    std::string text;
};
Awaited awaitLine(unsigned timeoutMs);
// A number from 1 to count, with a default for an empty answer; nothing at the end of input.
std::optional<int> askChoice(const char* prompt, int count, int fallback);
