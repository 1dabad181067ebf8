// Printing and asking on the set-up tool's console.
#include "board_setup/console.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "win32.h"

namespace {

// Standard input is read by a thread of its own, so that the wizard can watch for a new port and
// for Enter at once, whether the input is a console, a pipe or a file. It reads with ReadFile: the
// C runtime would hold its stdin lock while it waits, and its exit would wait for that lock.
struct TypedLines {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<std::string> lines;
    bool ended = false;
};

void readLines(TypedLines* typed) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    std::string pending;
    char chunk[256];
    DWORD count = 0;
    while (input && input != INVALID_HANDLE_VALUE && ReadFile(input, chunk, sizeof chunk, &count, nullptr) &&
           count > 0) {
        pending.append(chunk, count);
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
            const std::lock_guard<std::mutex> hold(typed->lock);
            typed->lines.push_back(pending.substr(0, end));
            typed->arrived.notify_all();
        }
    }
    const std::lock_guard<std::mutex> hold(typed->lock);
    if (!pending.empty()) typed->lines.push_back(pending);
    typed->ended = true;
    typed->arrived.notify_all();
}

TypedLines& typedLines() {
    // Never freed: the thread may still wait in ReadFile when the process ends.
    static TypedLines* const typed = [] {
        auto* made = new TypedLines;
        std::thread(readLines, made).detach();
        return made;
    }();
    return *typed;
}

std::string trimmed(std::string answer) {
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    answer.erase(0, answer.find_first_not_of(' '));
    return answer;
}

} // namespace

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fflush(stdout);
}

void complain(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::fputs("ventora-board: ", stderr);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool onConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

std::string bar(std::size_t done, std::size_t all, std::size_t width) {
    const std::size_t filled = all ? done * width / all : width;
    return std::string(filled, '#') + std::string(width - filled, '.');
}

// One answer typed (or piped in); nothing at the end of input.
std::optional<std::string> ask(const char* prompt) {
    TypedLines& typed = typedLines();
    std::unique_lock<std::mutex> hold(typed.lock);
    // On a console, an Enter pressed while the tool was busy (probing, flashing) answers nothing it
    // has not asked yet; piped answers, a script's, are taken in order.
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) typed.lines.clear();
    say("%s", prompt);
    typed.arrived.wait(hold, [&] { return !typed.lines.empty() || typed.ended; });
    if (typed.lines.empty()) return std::nullopt;
    std::string answer = std::move(typed.lines.front());
    typed.lines.pop_front();
    return trimmed(std::move(answer));
}

Awaited awaitLine(unsigned timeoutMs) {
    TypedLines& typed = typedLines();
    std::unique_lock<std::mutex> hold(typed.lock);
    typed.arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                           [&] { return !typed.lines.empty() || typed.ended; });
    if (!typed.lines.empty()) {
        std::string answer = std::move(typed.lines.front());
        typed.lines.pop_front();
        return {Awaited::line, trimmed(std::move(answer))};
    }
    if (!typed.ended) return {Awaited::nothing, {}};
    hold.unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return {Awaited::endOfInput, {}};
}

// A number from 1 to count, with a default for an empty answer; nothing at the end of input.
std::optional<int> askChoice(const char* prompt, int count, int fallback) {
    for (;;) {
        const auto answer = ask(prompt);
        if (!answer) return std::nullopt;
        if (answer->empty() && fallback) return fallback;
        if (answer->size() <= 3 && !answer->empty() &&
            std::all_of(answer->begin(), answer->end(), [](unsigned char c) { return std::isdigit(c); })) {
            const int choice = std::stoi(*answer);
            if (choice >= 1 && choice <= count) return choice;
        }
        say("Please enter a number from 1 to %d.\n", count);
    }
}
