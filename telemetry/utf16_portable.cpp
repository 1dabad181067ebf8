// UTF-16 to UTF-8 in plain code, converting exactly as WideCharToMultiByte(CP_UTF8, 0, ...) does,
// so that the native tests, fuzzing and benchmarks see what the program sees on Windows.
#include "telemetry/utf16.h"

#include <cstdint>

namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

std::size_t encodedLength(char32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

void encode(char32_t codePoint, char* out) {
    std::size_t length = encodedLength(codePoint);
    if (length == 1) {
        out[0] = static_cast<char>(codePoint);
        return;
    }
    static constexpr std::uint8_t leadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (std::size_t i = length - 1; i > 0; --i) {
        out[i] = static_cast<char>(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    out[0] = static_cast<char>(leadMarks[length] | codePoint);
}

} // namespace

std::size_t convertUtf16ToUtf8(std::u16string_view text, std::span<char, utf8NameCapacity> buffer) {
    const std::size_t room = buffer.size() - 1; // the NUL's byte
    std::size_t written = 0;
    for (std::size_t at = 0; at < text.size();) {
        char32_t codePoint = text[at];
        std::size_t units = 1;
        if (isHighSurrogate(text[at]) && at + 1 < text.size() && isLowSurrogate(text[at + 1])) {
            codePoint = 0x10000 + ((char32_t{text[at]} - 0xD800) << 10) + (char32_t{text[at + 1]} - 0xDC00);
            units = 2;
        } else if (isHighSurrogate(text[at]) || isLowSurrogate(text[at])) {
            codePoint = replacementCharacter;
        }
        if (written + encodedLength(codePoint) > room) break;
        encode(codePoint, buffer.data() + written);
        written += encodedLength(codePoint);
        at += units;
    }
    buffer[written] = '\0';
    return written;
}
