#include "platform/win/CodePage.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

using win::CodePage;

namespace {

// The C library's converter as an independent oracle; empty when it leaves the byte undefined.
std::string OracleToUtf8(unsigned char byte, const char* charset)
{
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no converter>";
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    size_t inLeft = 1;
    size_t outLeft = sizeof out;
    const size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return {};
    return std::string(out, outp);
}

void ExpectTableMatchesOracle(CodePage cp, const char* charset)
{
    for (unsigned b = 0; b < 256; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = win::CodePageToUtf8(byte, cp);
        const std::string oracle = OracleToUtf8(static_cast<unsigned char>(b), charset);
        if (!oracle.empty()) {
            EXPECT_EQ(oracle, utf8) << charset << " byte " << b;
        }
        bool lossy = true;
        EXPECT_EQ(byte, win::Utf8ToCodePage(utf8, cp, &lossy)) << charset << " byte " << b;
        EXPECT_FALSE(lossy) << charset << " byte " << b;
    }
}

}  // namespace

TEST(CodePage, EveryByteMatchesOracleAndRoundTrips)
{
    ExpectTableMatchesOracle(CodePage::Cp1250, "CP1250");
    ExpectTableMatchesOracle(CodePage::Cp852, "CP852");
}

TEST(CodePage, CzechAndSlovakLettersHaveTheirBytes)
{
    const std::string letters = "áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽľĺŕôäĽĹŔÔÄ";
    const std::string ansi = "\xE1\xE8\xEF\xE9\xEC\xED\xF2\xF3\xF8\x9A\x9D\xFA\xF9\xFD\x9E"
                             "\xC1\xC8\xCF\xC9\xCC\xCD\xD2\xD3\xD8\x8A\x8D\xDA\xD9\xDD\x8E"
                             "\xBE\xE5\xE0\xF4\xE4\xBC\xC5\xC0\xD4\xC4";
    const std::string oem = "\xA0\x9F\xD4\x82\xD8\xA1\xE5\xA2\xFD\xE7\x9C\xA3\x85\xEC\xA7"
                            "\xB5\xAC\xD2\x90\xB7\xD6\xD5\xE0\xFC\xE6\x9B\xE9\xDE\xED\xA6"
                            "\x96\x92\xEA\x93\x84\x95\x91\xE8\xE2\x8E";
    EXPECT_EQ(ansi, win::Utf8ToAnsi(letters));
    EXPECT_EQ(oem, win::Utf8ToOem(letters));
    EXPECT_EQ(letters, win::AnsiToUtf8(ansi));
    EXPECT_EQ(letters, win::OemToUtf8(oem));
    EXPECT_EQ(letters, win::AnsiToUtf8(win::Utf8ToAnsi(win::OemToUtf8(oem))));
}

TEST(CodePage, UnmappableTextIsReportedAsLossy)
{
    bool lossy = false;
    EXPECT_EQ("a?b", win::Utf8ToOem("a€b", &lossy));  // the euro sign exists in CP1250 only
    EXPECT_TRUE(lossy);
    EXPECT_EQ("a\x80"
              "b",
              win::Utf8ToAnsi("a€b", &lossy));
    EXPECT_FALSE(lossy);
    EXPECT_EQ("??", win::Utf8ToAnsi("日本", &lossy));
    EXPECT_TRUE(lossy);
    EXPECT_EQ("x?", win::Utf8ToAnsi("x\xC3", &lossy));  // truncated UTF-8 is no silent success
    EXPECT_TRUE(lossy);
    EXPECT_TRUE(win::FitsCodePage("Žluťoučký kůň.txt", CodePage::Cp852));
    EXPECT_FALSE(win::FitsCodePage("Ελλάδα.txt", CodePage::Cp852));
}
