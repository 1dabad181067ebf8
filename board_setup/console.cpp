// Printing and asking on the set-up tool's console.
#include "board_setup/console.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <iostream>

#include "win32.h"

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
    say("%s", prompt);
    std::string answer;
    if (!std::getline(std::cin, answer)) return std::nullopt;
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    answer.erase(0, answer.find_first_not_of(' '));
    return answer;
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
