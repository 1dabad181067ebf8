// Writing and copying a plugin record: a sequence lock, so that the game never waits for Ventora
// and Ventora never takes half of one frame and half of the next.
#include "plugin_record/plugin_record.h"

#include <atomic>
#include <bit>
#include <cstring>

namespace {

// The sequence is one aligned 32-bit word, written and read whole, so a reader never sees half of
// an increment. The sections are page-aligned; anything else is refused before it gets here.
volatile std::uint32_t& sequenceWord(std::uint8_t* section) {
    return *reinterpret_cast<volatile std::uint32_t*>(section + pluginRecord::sequence);
}

bool holdsRecord(const std::uint8_t* section, std::size_t size, std::size_t recordSize = pluginRecord::size) {
    return size >= recordSize && reinterpret_cast<std::uintptr_t>(section) % alignof(std::uint32_t) == 0;
}

void storeU32(std::uint8_t* at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t loadU32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{at[i]} << (8 * i);
    return value;
}

// A text field copied out whole, then terminated: whatever the section holds, the copy ends inside
// its room.
template <std::size_t room>
void loadText(const std::uint8_t* section, std::size_t offset, char (&text)[room]) {
    std::memcpy(text, section + offset, room);
    text[room - 1] = '\0';
}

} // namespace

void copyBoundedText(std::string_view text, char* room, std::size_t roomSize) {
    if (roomSize == 0) return;
    std::size_t length = text.size() < roomSize - 1 ? text.size() : roomSize - 1;
    // Cut before the lead byte of a character that would lose its continuation bytes.
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    if (length > 0) std::memcpy(room, text.data(), length);
    std::memset(room + length, 0, roomSize - length);
}

void writePluginRecord(std::span<std::uint8_t> section, const PluginRecord& record, std::uint32_t& sequence) {
    if (!holdsRecord(section.data(), section.size())) return;
    std::uint8_t* page = section.data();
    sequence |= 1; // odd: a rewrite has begun
    sequenceWord(page) = sequence;
    std::atomic_thread_fence(std::memory_order_release);
    storeU32(page + pluginRecord::format, pluginRecord::currentFormat);
    storeU32(page + pluginRecord::live, record.live ? 1 : 0);
    storeU32(page + pluginRecord::speed, std::bit_cast<std::uint32_t>(record.metresPerSecond));
    std::memcpy(page + pluginRecord::gameId, record.gameId, pluginRecord::gameIdRoom);
    std::memcpy(page + pluginRecord::firstName, record.firstName, pluginRecord::firstNameRoom);
    std::memcpy(page + pluginRecord::secondName, record.secondName, pluginRecord::secondNameRoom);
    storeU32(page + pluginRecord::lateralAcceleration,
             std::bit_cast<std::uint32_t>(record.lateralAcceleration));
    storeU32(page + pluginRecord::yawRate, std::bit_cast<std::uint32_t>(record.yawRate));
    std::atomic_thread_fence(std::memory_order_release);
    ++sequence; // even: the record is whole again
    sequenceWord(page) = sequence;
}

bool copyPluginRecord(std::span<const std::uint8_t> section, PluginRecord& record, std::uint32_t& sequence) {
    if (!holdsRecord(section.data(), section.size(), pluginRecord::firstFormatSize)) return false;
    auto* page = const_cast<std::uint8_t*>(section.data());
    const std::uint32_t before = sequenceWord(page);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (before & 1) return false;
    const std::uint32_t format = loadU32(page + pluginRecord::format);
    if (format != pluginRecord::firstFormat && format != pluginRecord::currentFormat) return false;
    record.carriesCornering = format == pluginRecord::currentFormat;
    if (record.carriesCornering && section.size() < pluginRecord::size) return false;
    if (record.carriesCornering) {
        record.lateralAcceleration = std::bit_cast<float>(loadU32(page + pluginRecord::lateralAcceleration));
        record.yawRate = std::bit_cast<float>(loadU32(page + pluginRecord::yawRate));
    }
    record.live = loadU32(page + pluginRecord::live) == 1;
    record.metresPerSecond = std::bit_cast<float>(loadU32(page + pluginRecord::speed));
    loadText(page, pluginRecord::gameId, record.gameId);
    loadText(page, pluginRecord::firstName, record.firstName);
    loadText(page, pluginRecord::secondName, record.secondName);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (sequenceWord(page) != before) return false;
    sequence = before;
    return true;
}
