// The record Ventora's own game plugins publish for Ventora to read: the one description of its
// bytes, included by the plugins (the writers) and by Ventora (the reader). One layout for every
// family of games, each in a section of its own. Little-endian, as every machine these games run on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace pluginRecord {
// Local\: the section lives in the user's own session, where both the game and Ventora run.
inline constexpr const char* truckSectionName = "Local\\VentoraTrucks";
inline constexpr const char* kartsAndBikesSectionName = "Local\\VentoraKartsAndBikes";
inline constexpr std::uint32_t sectionSize = 4096; // one page: the record fits it many times over
// Bumped whenever a field moves or is added, so that a Ventora and a plugin of different releases
// never misread each other: a reader takes only the versions it knows. Format 2 adds the cornering
// after format 1's fields; a format 1 record (a plugin copy from 1.3.0) reads as one without it.
inline constexpr std::uint32_t firstFormat = 1;
inline constexpr std::uint32_t currentFormat = 2;

inline constexpr std::size_t format = 0;   // u32
inline constexpr std::size_t sequence = 4; // u32: odd while the plugin rewrites the record
inline constexpr std::size_t live = 8;     // u32: 1 while the vehicle is driven
inline constexpr std::size_t speed = 12;   // float: metres per second, negative when reversing
inline constexpr std::size_t gameId = 16;  // NUL-terminated: "eut2", "ats", "krp", "mxbikes", "gpbikes"
inline constexpr std::size_t gameIdRoom = 16;
// Two NUL-terminated names, each family's own: the truck's brand and model for the trucks, the kart
// or bike and the track for the PiBoSo games.
inline constexpr std::size_t firstName = gameId + gameIdRoom;
inline constexpr std::size_t firstNameRoom = 64;
inline constexpr std::size_t secondName = firstName + firstNameRoom;
inline constexpr std::size_t secondNameRoom = 64;
inline constexpr std::size_t firstFormatSize = secondName + secondNameRoom;
// Format 2: floats, in the game's own axes (which way is positive is the reader's to know per
// family): the sideways acceleration in m/s^2 and the yaw rate in rad/s.
inline constexpr std::size_t lateralAcceleration = firstFormatSize;
inline constexpr std::size_t yawRate = lateralAcceleration + 4;
inline constexpr std::size_t size = yawRate + 4;
static_assert(size <= sectionSize);
} // namespace pluginRecord

// What one record holds, as a plugin keeps it and as a reader copies it out.
struct PluginRecord {
    bool live = false;
    float metresPerSecond = 0.0f;
    char gameId[pluginRecord::gameIdRoom] = {};
    char firstName[pluginRecord::firstNameRoom] = {};
    char secondName[pluginRecord::secondNameRoom] = {};
    bool carriesCornering = false; // format 2 and later
    float lateralAcceleration = 0.0f;
    float yawRate = 0.0f;
};

// Rewrites the record in `section`, bracketed by two bumps of `sequence` (odd during the rewrite,
// even after). No allocation and no wait: it runs on the game's main thread once a frame.
void writePluginRecord(std::span<std::uint8_t> section, const PluginRecord& record, std::uint32_t& sequence);

// Copies a whole record out of `section`. False for a torn copy (the sequence odd, or moved during
// the copy), a record of another format, or a section too small or misaligned to hold one.
// `sequence` receives the record's sequence number.
bool copyPluginRecord(std::span<const std::uint8_t> section, PluginRecord& record, std::uint32_t& sequence);

// Copies `text` into `room` bytes, NUL-terminated, cut before a UTF-8 character that would not fit
// whole, the rest of the room cleared.
void copyBoundedText(std::string_view text, char* room, std::size_t roomSize);
