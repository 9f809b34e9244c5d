// DOS and Unix time stamps, and local time by the zone's daylight-saving rules.
#include "core/plxGbls.h"

#include "platform/win/SysDates.h"
#include "platform/win/Time.h"

#include <cmath>

namespace {

constexpr TDateTime FallbackDate = 29221.0 + 1.0 / win::MinsPerDay;  // 1980-01-01 00:01

struct TZoneRecord {
    TIME_ZONE_INFORMATION Info;
    DWORD Id = TIME_ZONE_ID_UNKNOWN;
};

TZoneRecord& Zone()
{
    static TZoneRecord zone = [] {
        TZoneRecord z;
        z.Id = GetTimeZoneInformation(&z.Info);
        return z;
    }();
    return zone;
}

// The instant a zone rule names in Year: absolute when the rule has a year, else "wDay-th
// wDayOfWeek of wMonth" (wDay 5 = the last one).
TDateTime RuleInstant(const SYSTEMTIME& rule, int Year)
{
    TDateTime time = 0;
    if (!win::TryEncodeTime(rule.wHour % 24, rule.wMinute % 60, 0, 0, time))
        time = 0;
    TDateTime day = 0;
    if (rule.wYear != 0) {
        if (!win::TryEncodeDate(rule.wYear, rule.wMonth, rule.wDay, day))
            return 0;
        return day + time;
    }
    if (!win::TryEncodeDate(Year, rule.wMonth, 1, day))
        return 0;
    if (rule.wDay >= 1 && rule.wDay <= 4) {
        while (win::DayOfWeek(day) - 1 != rule.wDayOfWeek)
            day += 1;
        day += 7 * (rule.wDay - 1);
    } else if (rule.wDay == 5) {
        day = IncMonthEx(day, 1) - 1;
        while (win::DayOfWeek(day) - 1 != rule.wDayOfWeek)
            day -= 1;
    } else {
        return day;
    }
    return day + time;
}

TDateTime BiasDays(TDateTime Date)
{
    const TIME_ZONE_INFORMATION& tz = Zone().Info;
    const LONG minutes = tz.Bias + (IsDaylightTime(Date) ? tz.DaylightBias : tz.StandardBias);
    return TDateTime(minutes) / win::MinsPerDay;
}

}  // namespace

void ReloadTimeZoneInformation()
{
    TZoneRecord& zone = Zone();
    zone.Info = {};
    zone.Id = GetTimeZoneInformation(&zone.Info);
}

std::uint32_t FileTimeToDosTime(const FILETIME& FileTime)
{
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&FileTime, &local))
        local = FileTime;
    FileTimeToDosDateTime(&local, &date, &time);  // clamps what a DOS stamp cannot hold
    return (std::uint32_t(date) << 16) | time;
}

std::uint32_t SwapWords(std::uint32_t Value)
{
    return (Value << 16) | (Value >> 16);
}

bool CheckedEncodeDate(int Year, int Month, int Day, TDateTime& Date)
{
    return win::TryEncodeDate(Year, Month, Day, Date);
}

TDateTime SafeEncodeDate(int Year, int Month, int Day)
{
    TDateTime date = 0;
    return CheckedEncodeDate(Year, Month, Day, date) ? date : FallbackDate;
}

TDateTime DosDateTimeToDateTime(std::uint32_t Dos)
{
    if (Dos == 0)
        Dos = 0x00210020;
    const int year = 1980 + int(Dos >> 25), month = int((Dos >> 21) & 0x0F), day = int((Dos >> 16) & 0x1F);
    const int hour = std::min(int((Dos >> 11) & 0x1F), 23);
    const int minute = std::min(int((Dos >> 5) & 0x3F), 59);
    const int second = std::min(int(Dos & 0x1F) * 2, 58);
    return SafeEncodeDate(year, month, day) + win::EncodeTime(hour, minute, second, 0);
}

bool IsLeapYearW(int Year)
{
    return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0;
}

TDateTime IncMonthEx(TDateTime Date, int Months)
{
    int year = 0, month = 0, day = 0;
    win::DecodeDate(Date, year, month, day);
    const TDateTime timeOfDay = std::fabs(Date - std::trunc(Date));
    const int total = year * 12 + (month - 1) + Months;
    year = total / 12;
    month = total % 12 + 1;
    day = std::min(day, int(win::DaysInMonth(year, unsigned(month))));
    TDateTime date = 0;
    if (!win::TryEncodeDate(year, month, day, date))
        return Date;
    return win::ComposeDateTime(date, timeOfDay);
}

bool IsDaylightTime(TDateTime Date)
{
    const TIME_ZONE_INFORMATION& tz = Zone().Info;
    if (tz.DaylightDate.wMonth == 0)
        return false;
    int year = 0, month = 0, day = 0;
    win::DecodeDate(Date, year, month, day);
    const TDateTime daylightStart = RuleInstant(tz.DaylightDate, year);
    const TDateTime standardStart = RuleInstant(tz.StandardDate, year);
    if (tz.DaylightDate.wMonth < tz.StandardDate.wMonth)
        return daylightStart <= Date && Date < standardStart;
    return Date < standardStart || Date >= daylightStart;
}

TDateTime LocalToUtc(TDateTime Date)
{
    return Date + BiasDays(Date);
}
TDateTime UtcToLocal(TDateTime Date)
{
    return Date - BiasDays(Date);
}

std::int64_t DateTimeToUnix(TDateTime Date)
{
    const TDateTime utc = LocalToUtc(Date);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    win::DecodeDate(utc, year, month, day);
    win::DecodeTime(utc, hour, minute, second, msec);
    const std::int64_t days = win::DaysFromCivil(year, unsigned(month), unsigned(day));
    return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

TDateTime UnixToDateTime(std::int64_t Seconds)
{
    if (Seconds == 0)
        return FallbackDate;
    std::int64_t days = Seconds / 86400, rest = Seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // The days and seconds make the value directly (a time of day counts away from the epoch on
    // both sides of it), for the years a TDateTime encodes: 0001-01-01 to 9999-12-31.
    constexpr std::int64_t kFirstDay = -719162, kLastDay = 2932896, kDelphiEpoch = -25569;
    if (days < kFirstDay || days > kLastDay)
        return FallbackDate;
    const std::int64_t date = days - kDelphiEpoch;
    const TDateTime time = double(rest * 1000) / win::MSecsPerDay;
    return UtcToLocal(date >= 0 ? double(date) + time : double(date) - time);
}
