// Finding PlayStations on the home network: the probes a PC sends to ask "who is there?", and the
// answer a console gives, read strictly so that nothing else on the network passes for one.
// Platform-neutral: the answer is a datagram from outside, tested and fuzzed natively.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// A PS5 listens for the probe on 9302, a PS4 on 987. Whether a PS4 answers on 9302 is not known,
// so both probes go out together.
inline constexpr std::uint16_t ps5DiscoveryPort = 9302, ps4DiscoveryPort = 987;

// The probes' texts, LF line endings, with the final LF the consoles accept.
std::string_view ps5DiscoveryProbe();
std::string_view ps4DiscoveryProbe();

// Real answers are some 170 to 300 bytes; one past this is not a console's.
inline constexpr std::size_t discoveryAnswerLimit = 1024;

struct PlayStationAnswer {
    bool awake;                    // "200 Ok"; false for "620 Server Standby", rest mode
    std::string hostType;          // "PS5" or "PS4"
    std::string hostName;          // as the user named the console; may be empty
    std::string hostId;            // may be empty
    std::string runningAppName;    // empty when it runs no game or does not say
    std::string runningAppTitleId; // likewise
};

// The answer in a datagram, or nothing when the datagram is not a discovery answer: its status
// line, its `key:value` lines (each key once), a host type of PS5 or PS4, printable text, and at
// most discoveryAnswerLimit bytes. Trailing NULs are allowed, as the consoles pad some answers.
std::optional<PlayStationAnswer> parseDiscoveryAnswer(std::span<const std::uint8_t> datagram);
