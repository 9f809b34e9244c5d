// The run-time library's date type: TDateTime counts days since 1899-12-30 00:00 local time, the
// fraction being the time of day. For values below zero the fraction is still the time of that day
// (-1.25 is 1899-12-29 06:00). Invalid dates and times raise EConvertError.
#pragma once

#include "platform/win/SysStrings.h"
#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

namespace win {

using TDateTime = double;

constexpr int HoursPerDay = 24;
constexpr int MinsPerDay = 24 * 60;
constexpr int SecsPerDay = MinsPerDay * 60;
constexpr int MSecsPerDay = SecsPerDay * 1000;

bool TryEncodeDate(int year, int month, int day, TDateTime& date);  // years 1 to 9999
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
// A date plus a time of day, right also before 1899-12-30 where plain addition is not.
TDateTime ComposeDateTime(TDateTime date, TDateTime time);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);
int DayOfWeek(TDateTime value);  // 1 = Sunday ... 7 = Saturday

TDateTime Now();
TDateTime Date();
TDateTime Time();

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st);
void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st);

// Packed DOS date-time, date in the high word. FileDateToDateTime raises EConvertError for invalid
// fields; DateTimeToFileDate clamps to 1980-01-01 .. 2107-12-31 23:59:58 rather than return a stamp
// that reads back as garbage.
TDateTime FileDateToDateTime(std::int32_t fileDate);
std::int32_t DateTimeToFileDate(TDateTime value);

// Specifiers: c d dd ddd dddd ddddd dddddd m mm mmm mmmm yy yyyy h hh n nn s ss z zzz t tt
// am/pm a/p ampm / : and quoted literals; "m" right after an hour means minutes.
std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs = FormatSettings);
std::string DateToStr(TDateTime value, const TFormatSettings& fs = FormatSettings);
std::string TimeToStr(TDateTime value, const TFormatSettings& fs = FormatSettings);
std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs = FormatSettings);

// Dates in the order of ShortDateFormat, separated by DateSeparator (a missing year is this year,
// two-digit years fall in the century window); times as h:n[:s[.z]] with an optional AM/PM mark.
bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs = FormatSettings);
bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs = FormatSettings);
bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs = FormatSettings);
TDateTime StrToDate(std::string_view text, const TFormatSettings& fs = FormatSettings);
TDateTime StrToTime(std::string_view text, const TFormatSettings& fs = FormatSettings);
TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs = FormatSettings);

}  // namespace win
