// UTF-16 to UTF-8 for Assetto Corsa's names through the system's own converter.
#include "telemetry/utf16.h"

#include <algorithm>
#include <string>

#include "win32.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows' wide characters are UTF-16 code units");

std::size_t convertUtf16ToUtf8(std::u16string_view text, std::span<char, utf8NameCapacity> buffer) {
    const int room = static_cast<int>(buffer.size()) - 1; // the NUL's byte
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int units = static_cast<int>(text.size());
    int written = WideCharToMultiByte(CP_UTF8, 0, wide, units, buffer.data(), room, nullptr, nullptr);
    if (written == 0 && units > 0) {
        // Too long for the buffer: the call then fails and leaves the buffer undefined. Convert
        // into a scratch buffer that always suffices (a UTF-16 unit never needs more than three
        // UTF-8 bytes) and keep the whole characters that fit.
        std::string scratch(3 * text.size(), '\0');
        const int whole = WideCharToMultiByte(CP_UTF8, 0, wide, units, scratch.data(),
                                              static_cast<int>(scratch.size()), nullptr, nullptr);
        written = std::min(whole, room);
        // Step back over continuation bytes to the start of the character that does not fit.
        while (written < whole && written > 0 &&
               (static_cast<unsigned char>(scratch[written]) & 0xC0) == 0x80)
            --written;
        scratch.copy(buffer.data(), static_cast<std::size_t>(written));
    }
    buffer[static_cast<std::size_t>(written)] = '\0';
    return static_cast<std::size_t>(written);
}
