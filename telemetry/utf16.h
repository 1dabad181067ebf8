// UTF-16 to UTF-8 for Assetto Corsa's names. Two implementations: WideCharToMultiByte in the
// program (utf16_windows.cpp), plain code for the native tests, fuzzing and benchmarks
// (utf16_portable.cpp).
#pragma once
#include <cstddef>
#include <span>
#include <string_view>

// Bytes of UTF-8 a converted name may take, its terminating NUL included.
inline constexpr std::size_t utf8NameCapacity = 99;

// Converts `text` (which holds no NUL) into `buffer` and terminates it with a NUL. A text whose
// UTF-8 form does not fit is cut after the last whole character that does; a surrogate pair is
// one character, and a lone surrogate becomes U+FFFD, as Windows converts it. Returns the number
// of bytes before the NUL.
std::size_t convertUtf16ToUtf8(std::u16string_view text, std::span<char, utf8NameCapacity> buffer);
