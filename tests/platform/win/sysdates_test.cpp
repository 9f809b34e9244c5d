#include "platform/win/SysDates.h"

#include <gtest/gtest.h>

using namespace win;

TEST(SysDates, EncodingAndDecodingRoundTrip)
{
    EXPECT_DOUBLE_EQ(0.0, EncodeDate(1899, 12, 30));
    EXPECT_DOUBLE_EQ(29221.0, EncodeDate(1980, 1, 1));
    EXPECT_NEAR(29221.000694, EncodeDate(1980, 1, 1) + EncodeTime(0, 1, 0, 0), 1e-6);
    EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
    EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);

    int y, m, d, h, n, s, ms;
    const TDateTime t = EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999);
    DecodeDate(t, y, m, d);
    DecodeTime(t, h, n, s, ms);
    EXPECT_EQ(2024, y);
    EXPECT_EQ(2, m);
    EXPECT_EQ(29, d);
    EXPECT_EQ(23, h);
    EXPECT_EQ(59, n);
    EXPECT_EQ(59, s);
    EXPECT_EQ(999, ms);
    EXPECT_EQ(5, DayOfWeek(t));  // Thursday

    // A value a hair below midnight rounds into the next day consistently.
    DecodeDate(EncodeDate(2024, 12, 31) + 0.9999999999, y, m, d);
    DecodeTime(EncodeDate(2024, 12, 31) + 0.9999999999, h, n, s, ms);
    EXPECT_EQ(2025, y);
    EXPECT_EQ(1, d);
    EXPECT_EQ(0, h);

    // Before the epoch the fraction is still the time of day.
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(29, d);
    EXPECT_EQ(6, h);
    EXPECT_DOUBLE_EQ(-1.25, ComposeDateTime(EncodeDate(1899, 12, 29), EncodeTime(6, 0, 0, 0)));

    SYSTEMTIME st;
    DateTimeToSystemTime(t, st);
    EXPECT_EQ(4, st.wDayOfWeek);
    EXPECT_DOUBLE_EQ(t, SystemTimeToDateTime(st));
}

TEST(SysDates, DosFileDates)
{
    const std::int32_t stamp = (44 << 25) | (3 << 21) | (15 << 16) | (13 << 11) | (45 << 5) | 15;
    const TDateTime t = FileDateToDateTime(stamp);
    EXPECT_EQ("2024-03-15 13:45:30", FormatDateTime("yyyy-mm-dd hh:nn:ss", t));
    EXPECT_EQ(stamp, DateTimeToFileDate(t));
    EXPECT_THROW(FileDateToDateTime(0), EConvertError);                                   // month 0
    EXPECT_THROW(FileDateToDateTime((1 << 21) | (1 << 16) | (24 << 11)), EConvertError);  // hour 24
    // Outside the DOS range the stamp is clamped, never 0 or a wrapped year.
    EXPECT_EQ((1 << 21) | (1 << 16), DateTimeToFileDate(EncodeDate(1970, 6, 1)));
    EXPECT_EQ("2107-12-31 23:59:58",
              FormatDateTime("yyyy-mm-dd hh:nn:ss", FileDateToDateTime(DateTimeToFileDate(EncodeDate(2200, 1, 1)))));
}

TEST(SysDates, FormatPatterns)
{
    const TDateTime t = EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 45);
    EXPECT_EQ("2024-03-05", FormatDateTime("yyyy-mm-dd", t));
    EXPECT_EQ("09-07", FormatDateTime("hh-mm", t));  // m after an hour is minutes
    EXPECT_EQ("090703", FormatDateTime("hhmmss", t));
    EXPECT_EQ("05.03.24  09:07", FormatDateTime("dd/mm/yy  hh:mm", t));
    EXPECT_EQ("05.03.2024", FormatDateTime("dd.mm.yyyy", t));
    EXPECT_EQ("05.03.2024 9:07:03", FormatDateTime("c", t));
    EXPECT_EQ("05.03.2024", FormatDateTime("c", EncodeDate(2024, 3, 5)));
    EXPECT_EQ("úterý 5. března", FormatDateTime("dddd d. 'března'", t));
    EXPECT_EQ("út, bře, březen", FormatDateTime("ddd, mmm, mmmm", t));
    EXPECT_EQ("9:07:03.045 045 45", FormatDateTime("tt.zzz zzz z", t));
    EXPECT_EQ("9:07 pm / 12 a", FormatDateTime("h:nn am/pm", t + 0.5) + " / " + FormatDateTime("h a/p", 0.0));
    EXPECT_EQ("VyplatniPasky_2024-03-05(09-07)",
              "VyplatniPasky_" + FormatDateTime("yyyy-mm-dd", t) + "(" + FormatDateTime("hh-mm", t) + ")");
}

TEST(SysDates, ParsingDatesAndTimes)
{
    EXPECT_DOUBLE_EQ(EncodeDate(2024, 3, 5), StrToDate("5.3.2024"));
    EXPECT_DOUBLE_EQ(EncodeDate(2024, 3, 5), StrToDate("05.03.24"));
    EXPECT_DOUBLE_EQ(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 0, 0), StrToDateTime("05.03.24  09:07"));
    EXPECT_DOUBLE_EQ(EncodeTime(21, 7, 3, 500), StrToTime("9:07:03.5 PM"));
    EXPECT_THROW(StrToDate("31.2.2024"), EConvertError);
    EXPECT_THROW(StrToTime("25:00"), EConvertError);
    EXPECT_THROW(StrToDateTime("x"), EConvertError);
    // Texts made by FormatDateTime read back (sorting a list by its date column relies on it).
    const TDateTime t = EncodeDate(2031, 12, 1) + EncodeTime(17, 45, 0, 0);
    EXPECT_DOUBLE_EQ(t, StrToDateTime(FormatDateTime("dd/mm/yy  hh:mm", t)));
}
