// The session-info parser. iRacing writes block-style YAML: top-level maps at indent 0, their keys
// one level in, and the drivers as a list of maps ("- CarIdx: 0" then the entry's other keys lined
// up under "CarIdx"). Lines are taken one at a time, so the work is one pass over the text.
#include "telemetry/opened/session_info.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <vector>

namespace {

struct Line {
    std::size_t indent = 0;    // spaces before the content
    bool listItem = false;     // the content starts with "- "
    std::size_t keyIndent = 0; // the column of the key, after a "- " when there is one
    std::string_view key, value;
};

std::string_view trimRight(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::size_t leadingSpaces(std::string_view text) {
    const std::size_t count = text.find_first_not_of(' ');
    return count == std::string_view::npos ? text.size() : count;
}

// A "key: value" line (or "key:" opening a nested block); nullopt for anything else.
std::optional<Line> splitLine(std::string_view text) {
    Line line;
    line.indent = leadingSpaces(text);
    std::string_view content = text.substr(line.indent);
    line.keyIndent = line.indent;
    if (content.starts_with("- ")) {
        line.listItem = true;
        const std::size_t skip = 2 + leadingSpaces(content.substr(2));
        content.remove_prefix(skip);
        line.keyIndent += skip;
    }
    const std::size_t colon = content.find(':');
    // A key is followed by ": " or ends its line at the colon; a colon elsewhere (a time, a URL)
    // belongs to a value.
    if (colon == std::string_view::npos || colon == 0) return std::nullopt;
    if (colon + 1 < content.size() && content[colon + 1] != ' ' && content[colon + 1] != '\r')
        return std::nullopt;
    line.key = trimRight(content.substr(0, colon));
    const std::string_view rest = content.substr(colon + 1);
    line.value = trimRight(rest.substr(leadingSpaces(rest)));
    return line;
}

// A scalar as it stands: quotes removed and their escapes undone. A quoted value with no closing
// quote (a text cut short) keeps what there is.
std::string decodeScalar(std::string_view value) {
    std::string text;
    if (value.starts_with('\'')) {
        for (std::size_t i = 1; i < value.size(); ++i) {
            if (value[i] == '\'') {
                if (i + 1 < value.size() && value[i + 1] == '\'') {
                    text += '\'';
                    ++i;
                    continue;
                }
                break;
            }
            text += value[i];
        }
    } else if (value.starts_with('"')) {
        for (std::size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            text += value[i];
        }
    } else {
        text = value;
    }
    return text;
}

std::optional<long long> parseInteger(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    long long number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
    return number;
}

struct Driver {
    std::optional<long long> carIndex;
    std::optional<std::string_view> carName;
};

} // namespace

SessionNames parseSessionInfo(std::string_view text) {
    text = text.substr(0, text.find('\0'));

    enum class Section { other, weekendInfo, driverInfo } section = Section::other;
    constexpr std::size_t unknown = SIZE_MAX;
    std::size_t childIndent = unknown; // the indent of the current section's own keys
    std::optional<std::string_view> track, layout;
    std::optional<long long> playerCarIndex;

    bool inDrivers = false;
    std::size_t driversIndent = 0, entryKeyIndent = 0;
    std::vector<Driver> drivers;

    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

        const std::optional<Line> line = splitLine(raw);
        if (!line) continue;

        if (line->indent == 0 && !line->listItem) {
            section = line->key == "WeekendInfo"  ? Section::weekendInfo
                      : line->key == "DriverInfo" ? Section::driverInfo
                                                  : Section::other;
            childIndent = unknown;
            inDrivers = false;
            continue;
        }
        if (section == Section::other) continue;

        if (inDrivers) {
            if (line->listItem && line->indent >= driversIndent) {
                drivers.emplace_back();
                entryKeyIndent = line->keyIndent;
            } else if (line->indent <= driversIndent) {
                inDrivers = false; // the list is over; the line is the section's own key
            }
            if (inDrivers) {
                // Keys of nested maps within an entry lie further in and are not the entry's own.
                if (!drivers.empty() && line->keyIndent == entryKeyIndent) {
                    Driver& driver = drivers.back();
                    if (line->key == "CarIdx" && !driver.carIndex)
                        driver.carIndex = parseInteger(line->value);
                    if (line->key == "CarScreenName" && !driver.carName) driver.carName = line->value;
                }
                continue;
            }
        }

        if (childIndent == unknown) childIndent = line->indent;
        if (line->indent != childIndent || line->listItem) continue;
        if (section == Section::weekendInfo) {
            if (line->key == "TrackDisplayName" && !track) track = line->value;
            if (line->key == "TrackConfigName" && !layout) layout = line->value;
        } else {
            if (line->key == "DriverCarIdx" && !playerCarIndex) playerCarIndex = parseInteger(line->value);
            if (line->key == "Drivers" && line->value.empty()) {
                inDrivers = true;
                driversIndent = line->indent;
            }
        }
    }

    SessionNames names;
    if (track) names.track = decodeScalar(*track);
    if (layout) names.layout = decodeScalar(*layout);
    if (playerCarIndex)
        for (const Driver& driver : drivers)
            if (driver.carIndex == playerCarIndex && driver.carName) {
                names.car = decodeScalar(*driver.carName);
                break;
            }
    return names;
}
