#include "file_util/text.h"

#include <gtest/gtest.h>

using namespace veltrane;

TEST(Utf8, ValidTextHasNoError) {
    EXPECT_FALSE(utf8_error("").has_value());
    EXPECT_FALSE(utf8_error("plain ASCII").has_value());
    EXPECT_FALSE(utf8_error("벨트레인 \xF0\x9F\x92\x8A").has_value());
}

TEST(Utf8, FirstBadSequenceIsDescribed) {
    EXPECT_EQ(utf8_error("ab\xFF"), "invalid utf-8 sequence of 1 bytes from index 2");
    EXPECT_EQ(utf8_error("\xC0\x80"), "invalid utf-8 sequence of 1 bytes from index 0");   // overlong
    EXPECT_EQ(utf8_error("\xED\xA0\x80"), "invalid utf-8 sequence of 1 bytes from index 0");  // surrogate
    EXPECT_EQ(utf8_error("\xE2\x82("), "invalid utf-8 sequence of 2 bytes from index 0");
    EXPECT_EQ(utf8_error("x\xE2\x82"), "incomplete utf-8 byte sequence from index 1");
    EXPECT_EQ(utf8_error("\xF4\x90\x80\x80"), "invalid utf-8 sequence of 1 bytes from index 0");  // > U+10FFFF
}

TEST(Utf16, RoundTripsAndReplacesLoneSurrogates) {
    const std::string text = "항생제표 \xF0\x9F\x92\x8A ok";
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text);
    const std::u16string lone = {u'a', static_cast<char16_t>(0xD800), u'b'};
    EXPECT_EQ(utf16_to_utf8(lone), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(utf8_to_utf16("a\xFF"), (std::u16string{u'a', static_cast<char16_t>(0xFFFD)}));
}

TEST(AsciiCase, FoldsOnlyAscii) {
    EXPECT_TRUE(equals_ignoring_ascii_case("C:\\Users\\KIM\\AppData", "c:\\users\\kim\\appdata"));
    EXPECT_FALSE(equals_ignoring_ascii_case("C:\\A\\", "C:\\A"));
    EXPECT_FALSE(equals_ignoring_ascii_case("\xC3\x84", "\xC3\xA4"));  // Ä and ä differ
}
