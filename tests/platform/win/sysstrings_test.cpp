#include "platform/win/SysStrings.h"

#include <gtest/gtest.h>

using namespace win;

namespace {
const std::string kNbsp = "\u00A0";
}

TEST(SysStrings, IntegerTextsAndTheirErrors)
{
    EXPECT_EQ("-42", IntToStr(-42));
    EXPECT_EQ("00FF", IntToHex(255, 4));
    EXPECT_EQ("1234ABCD", IntToHex(0x1234ABCD, 2));
    EXPECT_EQ(42, StrToInt("  42"));
    EXPECT_EQ(-255, StrToInt("-$FF"));
    EXPECT_EQ(26, StrToInt("0x1a"));
    EXPECT_EQ(-2147483647 - 1, StrToInt("-2147483648"));
    for (const char* bad : {"", " ", "12 ", "1a", "2147483648", "-", "$", "9223372036854775808"}) {
        EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
        EXPECT_EQ(7, StrToIntDef(bad, 7)) << bad;
    }
    try {
        StrToInt("x1");
        FAIL();
    } catch (const Exception& e) {  // callers catch the common base
        EXPECT_EQ("'x1' is not a valid integer value", e.Message);
    }
    EXPECT_EQ(INT64_MIN, StrToInt64("-9223372036854775808"));
}

TEST(SysStrings, CzechNumberFormats)
{
    EXPECT_EQ("1" + kNbsp + "234" + kNbsp + "567", Format("%.0n", {1234567.0}));
    EXPECT_EQ("999", Format("%.0n", {999.4}));
    EXPECT_EQ("-1" + kNbsp + "000", Format("%.0n", {-999.5}));
    EXPECT_EQ("1" + kNbsp + "234,50", Format("%n", {1234.5}));
    EXPECT_EQ("0", Format("%.0n", {-0.4}));  // no "-0"
    EXPECT_EQ("Seconds: 1,5\rBytesPerSec: 2" + kNbsp + "048", Format("Seconds: %g\rBytesPerSec: %.n", {1.5, 2048.0}));
    EXPECT_EQ("[  7|ab  |00FF|003|50 %]", Format("[%3d|%-4s|%.4x|%.3d|%d %%]", {7, "ab", 255, 3, 50}));
    EXPECT_EQ("0,13", Format("%.2f", {0.125}));  // half away from zero, as the original library rounds
    EXPECT_THROW(Format("%d", {1.5}), EConvertError);
    EXPECT_THROW(Format("%s %s", {"one"}), EConvertError);

    EXPECT_EQ("1" + kNbsp + "234,5", FormatFloat("#,##0.0", 1234.46));
    EXPECT_EQ("0,00", FormatFloat("#,##0.00", 0.0));
    EXPECT_EQ("12,30", FormatFloat("###0.00", 12.3));
    EXPECT_EQ("1" + kNbsp + "000" + kNbsp + "000", FormatFloat("#,##0", 999999.5));
    EXPECT_EQ("3,1416 kg", FormatFloat("0.0000 kg", 3.14159265));
    EXPECT_EQ("1,5", FloatToStr(1.5));
    EXPECT_DOUBLE_EQ(1234.5, StrToFloat(" 1234,5 "));
    EXPECT_DOUBLE_EQ(0.25, StrToFloat("0.25"));
    EXPECT_THROW(StrToFloat("1,2,3"), EConvertError);
}

TEST(SysStrings, OneBasedSubstringsAndTrimming)
{
    EXPECT_EQ(3, Pos("c", "abcabc"));
    EXPECT_EQ(0, Pos("", "abc"));
    EXPECT_EQ(6, PosEx("c", "abcabc", 4));
    EXPECT_EQ(0, PosEx("c", "abc", 9));
    EXPECT_EQ("bc", Copy("abcd", 2, 2));
    EXPECT_EQ("cd", Copy("abcd", 3, 100));
    EXPECT_EQ("ab", Copy("abcd", 0, 2));  // an index below 1 counts as 1
    EXPECT_EQ("", Copy("abcd", 5, 1));
    std::string s = "abcdef";
    Delete(s, 2, 3);
    EXPECT_EQ("aef", s);
    Insert("XY", s, 2);
    EXPECT_EQ("aXYef", s);
    Insert("!", s, 99);
    EXPECT_EQ("aXYef!", s);
    EXPECT_EQ("a b", Trim("\t a b \r\n"));
    EXPECT_EQ("a ", TrimLeft("  a "));
    EXPECT_EQ(" a", TrimRight(" a\n"));
    EXPECT_EQ("ŽLUŤOUČKÝ", AnsiUpperCase("žluťoučký"));
    EXPECT_EQ(0, AnsiCompareText("Kůň", "KŮŇ"));
}
