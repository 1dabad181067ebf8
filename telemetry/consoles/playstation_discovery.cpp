// The discovery answer, read line by line. Anything that does not fit the shape a console sends is
// refused whole: a half-read answer could name a stranger as a console, and a console is the one
// address whose Gran Turismo 7 packets Ventora reads.
#include "telemetry/consoles/playstation_discovery.h"

#include <algorithm>

namespace {

constexpr std::string_view ps5Probe = "SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00030010\n";
constexpr std::string_view ps4Probe = "SRCH * HTTP/1.1\ndevice-discovery-protocol-version:00020020\n";

// The status line's start; what follows the code is the reason, which is not checked.
constexpr std::string_view awakeStatus = "HTTP/1.1 200 ";
constexpr std::string_view asleepStatus = "HTTP/1.1 620 ";

bool isKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Printable text: no control characters but the line ends handled before. Bytes from 0x80 are
// allowed, as a console's name may be UTF-8.
bool isPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte != 0x7F;
    });
}

// The next line of `rest`, taken off it; its LF (and a CR before it) is not part of the line.
std::string_view takeLine(std::string_view& rest) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

struct Field {
    std::string_view key;
    std::string* value;
    bool seen = false;
};

} // namespace

std::string_view ps5DiscoveryProbe() {
    return ps5Probe;
}

std::string_view ps4DiscoveryProbe() {
    return ps4Probe;
}

std::optional<PlayStationAnswer> parseDiscoveryAnswer(std::span<const std::uint8_t> datagram) {
    if (datagram.empty() || datagram.size() > discoveryAnswerLimit) return std::nullopt;
    std::string_view rest(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    while (!rest.empty() && rest.back() == '\0')
        rest.remove_suffix(1);

    PlayStationAnswer answer{};
    const std::string_view status = takeLine(rest);
    if (status.starts_with(awakeStatus))
        answer.awake = true;
    else if (status.starts_with(asleepStatus))
        answer.awake = false;
    else
        return std::nullopt;
    if (!isPrintable(status)) return std::nullopt;

    Field fields[] = {{"host-type", &answer.hostType},
                      {"host-name", &answer.hostName},
                      {"host-id", &answer.hostId},
                      {"running-app-name", &answer.runningAppName},
                      {"running-app-titleid", &answer.runningAppTitleId}};
    std::string_view seenOther[16];
    std::size_t otherCount = 0;
    while (!rest.empty()) {
        const std::string_view line = takeLine(rest);
        if (line.empty()) continue;
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) return std::nullopt;
        const std::string_view key = line.substr(0, colon), value = line.substr(colon + 1);
        if (!std::all_of(key.begin(), key.end(), isKeyCharacter) || !isPrintable(value)) return std::nullopt;
        auto known = std::find_if(std::begin(fields), std::end(fields),
                                  [key](const Field& field) { return field.key == key; });
        if (known != std::end(fields)) {
            if (known->seen) return std::nullopt;
            known->seen = true;
            known->value->assign(value);
            continue;
        }
        // Keys Ventora does not use (the port, the versions) still may come only once each, and
        // an answer is a handful of lines, never dozens.
        if (otherCount == std::size(seenOther) ||
            std::find(seenOther, seenOther + otherCount, key) != seenOther + otherCount)
            return std::nullopt;
        seenOther[otherCount++] = key;
    }
    if (answer.hostType != "PS5" && answer.hostType != "PS4") return std::nullopt;
    return answer;
}
