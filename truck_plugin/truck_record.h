// The record Ventora's truck plugin publishes for Ventora to read: the one description of its bytes,
// included by the plugin (the writer) and by Ventora (the reader). Little-endian, as every machine
// these games run on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace truckRecord {
// Local\: the section lives in the user's own session, where both the game and Ventora run.
inline constexpr const char* sectionName = "Local\\VentoraTrucks";
inline constexpr std::uint32_t sectionSize = 4096; // one page: the record fits it many times over
// Bumped whenever a field moves, so that a Ventora and a plugin of different releases never
// misread each other: a reader takes only the version it knows.
inline constexpr std::uint32_t currentFormat = 1;

inline constexpr std::size_t format = 0;   // u32
inline constexpr std::size_t sequence = 4; // u32: odd while the plugin rewrites the record
inline constexpr std::size_t live = 8;     // u32: 1 while the truck is driven (started, not paused)
inline constexpr std::size_t speed = 12;   // float: metres per second, negative when reversing
inline constexpr std::size_t gameId = 16;  // NUL-terminated: "eut2" or "ats"
inline constexpr std::size_t gameIdRoom = 16;
inline constexpr std::size_t brand = gameId + gameIdRoom; // NUL-terminated UTF-8
inline constexpr std::size_t brandRoom = 64;
inline constexpr std::size_t name = brand + brandRoom; // NUL-terminated UTF-8
inline constexpr std::size_t nameRoom = 64;
inline constexpr std::size_t size = name + nameRoom;
static_assert(size <= sectionSize);
} // namespace truckRecord

// What one record holds, as the plugin keeps it and as a reader copies it out.
struct TruckRecord {
    bool live = false;
    float metresPerSecond = 0.0f;
    char gameId[truckRecord::gameIdRoom] = {};
    char brand[truckRecord::brandRoom] = {};
    char name[truckRecord::nameRoom] = {};
};

// Rewrites the record in `section`, bracketed by two bumps of `sequence` (odd during the rewrite,
// even after). No allocation and no wait: it runs on the game's main thread once a frame.
void writeTruckRecord(std::span<std::uint8_t> section, const TruckRecord& record, std::uint32_t& sequence);

// Copies a whole record out of `section`. False for a torn copy (the sequence odd, or moved during
// the copy), a record of another format, or a section too small or misaligned to hold one.
// `sequence` receives the record's sequence number.
bool copyTruckRecord(std::span<const std::uint8_t> section, TruckRecord& record, std::uint32_t& sequence);

// Copies `text` into `room` bytes, NUL-terminated, cut before a UTF-8 character that would not fit
// whole, the rest of the room cleared.
void copyBoundedText(std::string_view text, char* room, std::size_t roomSize);
