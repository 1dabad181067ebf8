// The UTF-16 to UTF-8 conversion of Assetto Corsa's names. The same cases run natively against
// the portable conversion and under Wine against WideCharToMultiByte, so the two must agree.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "telemetry/utf16.h"

namespace {

std::string convert(std::u16string_view text) {
    std::array<char, utf8NameCapacity> buffer;
    buffer.fill('#');
    const std::size_t length = convertUtf16ToUtf8(text, buffer);
    EXPECT_EQ(buffer[length], '\0');
    return std::string(buffer.data(), length);
}

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

struct ConversionCase {
    std::u16string text;
    std::string utf8;
};

} // namespace

TEST(Utf16ToUtf8, ConvertsEachEncodedLength) {
    const ConversionCase cases[] = {
        {u"", ""},
        {u"Monza", "Monza"},
        {u"N\u00fcrburgring", "N\xc3\xbcrburgring"},
        {u"\u9234\u9e7f", "\xe9\x88\xb4\xe9\xb9\xbf"},
        {u"\U0001F3CE", "\xf0\x9f\x8f\x8e"},
        {{0x7F, 0x80, 0x7FF, 0x800, 0xFFFF}, "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
    };
    for (const auto& [text, utf8] : cases)
        EXPECT_EQ(convert(text), utf8);
}

TEST(Utf16ToUtf8, LoneSurrogatesBecomeReplacementCharacters) {
    const std::string replacement = "\xef\xbf\xbd";
    std::u16string high(1, char16_t{0xD83C}), low(1, char16_t{0xDFCE});
    EXPECT_EQ(convert(u"a" + high), "a" + replacement);
    EXPECT_EQ(convert(low + u"a"), replacement + "a");
    EXPECT_EQ(convert(low + high), replacement + replacement);
    EXPECT_EQ(convert(high + u"x" + low), replacement + "x" + replacement);
}

TEST(Utf16ToUtf8, TextThatFitsExactlyIsKeptWhole) {
    // 98 bytes; the NUL takes the 99th.
    EXPECT_EQ(convert(std::u16string(98, u'a')), std::string(98, 'a'));
    EXPECT_EQ(convert(std::u16string(49, u'\u00e9')), repeated("\xc3\xa9", 49));
}

TEST(Utf16ToUtf8, TextTooLongIsCutAfterTheLastWholeCharacter) {
    EXPECT_EQ(convert(std::u16string(99, u'a')), std::string(98, 'a'));
    EXPECT_EQ(convert(std::u16string(50, u'\u00e9')), repeated("\xc3\xa9", 49));
    EXPECT_EQ(convert(std::u16string(40, u'\u20ac')), repeated("\xe2\x82\xac", 32));
    // A surrogate pair is one character and is never split.
    std::u16string cars;
    for (int i = 0; i < 25; ++i)
        cars += u"\U0001F3CE";
    EXPECT_EQ(convert(cars), repeated("\xf0\x9f\x8f\x8e", 24));
    EXPECT_EQ(convert(u"ab" + cars), "ab" + repeated("\xf0\x9f\x8f\x8e", 24));
    EXPECT_EQ(convert(u"abc" + cars), "abc" + repeated("\xf0\x9f\x8f\x8e", 23));
}
