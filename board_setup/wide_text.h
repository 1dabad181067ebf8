// UTF-8 inside the tool, UTF-16 at Windows' wide calls: no text passes through a code page.
#pragma once
#include <string>
#include <string_view>

std::wstring wideFromUtf8(std::string_view text);
std::string utf8FromWide(const wchar_t* text);
