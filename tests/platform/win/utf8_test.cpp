#include "platform/win/Utf8.h"

#include "platform/win/AsciiRuns.h"

#include <algorithm>

#include <gtest/gtest.h>

TEST(Utf8, RoundTripAndInvalidBytes)
{
    const std::string czech = "Příliš žluťoučký kůň úpěl ďábelské ódy";
    EXPECT_EQ(czech, win::EncodeUtf8(win::DecodeUtf8(czech)));
    EXPECT_EQ(U"a\uFFFDb", win::DecodeUtf8("a\xC3"
                                           "b"));                       // truncated sequence
    EXPECT_EQ(U"\uFFFD\uFFFD", win::DecodeUtf8("\xC0\x80"));            // overlong NUL
    EXPECT_EQ(U"\uFFFD\uFFFD\uFFFD", win::DecodeUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ("\xF0\x9F\x98\x80", win::EncodeUtf8(U"\U0001F600"));

    // The check without decoding agrees with a round trip, bad sequence or not.
    for (const std::string& text :
         {std::string("plain.txt"), czech, std::string("\xEF\xBF\xBD"), std::string("\xF4\x8F\xBF\xBF"),
          std::string("\xF4\x90\x80\x80"), std::string("a\xC3"), std::string("\xC0\x80"), std::string("\xE0\x80\xAF"),
          std::string("\xED\xA0\x80"), std::string("\x80x"), std::string("\xF8\x88\x80\x80\x80"),
          std::string("ok\0nul", 6), std::string("\xE2\x82")})
        EXPECT_EQ(win::IsValidUtf8(text), win::EncodeUtf8(win::DecodeUtf8(text)) == text) << text;
}

TEST(Utf8, CaseFoldingCoversCzechAndOtherScripts)
{
    EXPECT_EQ("příliš žluťoučký kůň", win::FoldCase("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ"));
    EXPECT_EQ("ĎÁBELSKÉ ÓDY", win::UpperCase("ďábelské ódy"));
    EXPECT_TRUE(win::SameText("ARCHIVACE.DTA", "archivace.dta"));
    EXPECT_TRUE(win::SameText("Привет", "ПРИВЕТ"));
    EXPECT_FALSE(win::SameText("abc", "abd"));
    EXPECT_LT(win::CompareText("abc", "ABD"), 0);
    EXPECT_LT(win::CompareText("ab", "ABC"), 0);
    // Plain ASCII against accented text orders by code point as the general path does.
    EXPECT_LT(win::CompareText("zeta", "Žluť"), 0);
    EXPECT_GT(win::CompareText("Z~", "z}"), 0);
    EXPECT_EQ(win::CompareText("", ""), 0);
}

// The word-at-a-time scans answer what a byte-by-byte walk answers, for every byte value at every
// place in and around a word, next to a neighbour that could carry or borrow into it.
TEST(AsciiRuns, AgreeWithByteWalk)
{
    const auto ascii = [](std::string_view s) {
        std::size_t i = 0;
        while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80)
            ++i;
        return i;
    };
    const auto printable = [](std::string_view s) {
        std::size_t i = 0;
        while (i < s.size() && static_cast<unsigned char>(s[i]) >= 0x20 && static_cast<unsigned char>(s[i]) <= 0x7E)
            ++i;
        return i;
    };
    for (std::size_t length = 1; length <= 19; ++length)
        for (std::size_t at = 0; at < length; ++at)
            for (int value = 0; value < 256; ++value)
                for (const char neighbour : {'a', '\0', '/', '\x7F', '\xFF'}) {
                    std::string s(length, 'a');
                    s[at] = char(value);
                    if (at + 1 < length)
                        s[at + 1] = neighbour;
                    ASSERT_EQ(win::AsciiPrefix(s), ascii(s)) << length << ' ' << at << ' ' << value;
                    ASSERT_EQ(win::PrintableAsciiPrefix(s), printable(s)) << length << ' ' << at << ' ' << value;
                    std::string replaced = s, expected = s;
                    win::ReplaceByte(replaced.data(), replaced.size(), '/', '\\');
                    std::replace(expected.begin(), expected.end(), '/', '\\');
                    ASSERT_EQ(replaced, expected) << length << ' ' << at << ' ' << value;
                    // The copy stops where the plain run does; what it copied is replaced.
                    std::string copy(length, '#');
                    const std::size_t copied = win::CopyAsciiReplacing(s.data(), s.size(), copy.data(), '/', '\\');
                    ASSERT_EQ(copied, ascii(s)) << length << ' ' << at << ' ' << value;
                    ASSERT_EQ(copy.substr(0, copied), expected.substr(0, copied))
                        << length << ' ' << at << ' ' << value;
                    ASSERT_EQ(copy.substr(copied), std::string(length - copied, '#'));
                }
    EXPECT_EQ(win::AsciiPrefix(""), 0u);
    EXPECT_EQ(win::PrintableAsciiPrefix(""), 0u);
}
