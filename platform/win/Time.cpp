#include "platform/win/Time.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include <unistd.h>

namespace win {

std::uint64_t FileTimeToU64(const FILETIME& ft)
{
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME U64ToFileTime(std::uint64_t value)
{
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds)
{
    // A stored time beyond what a FILETIME holds (damaged or hostile input) takes its ends.
    constexpr std::int64_t kLast = (INT64_MAX - kUnixEpochAsFileTime) / kFileTimePerSecond - 1;
    constexpr std::int64_t kFirst = -kUnixEpochAsFileTime / kFileTimePerSecond - 1;
    if (seconds > kLast)
        return U64ToFileTime(std::uint64_t(INT64_MAX));
    if (seconds < kFirst)
        return U64ToFileTime(0);
    const std::int64_t ticks = kUnixEpochAsFileTime + seconds * kFileTimePerSecond + nanoseconds / 100;
    return U64ToFileTime(ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks));
}

std::int64_t FileTimeToUnixTime(const FILETIME& ft)
{
    const auto ticks = static_cast<std::int64_t>(FileTimeToU64(ft) & 0x7FFF'FFFF'FFFF'FFFFull);
    const std::int64_t rel = ticks - kUnixEpochAsFileTime;
    return rel >= 0 ? rel / kFileTimePerSecond : -((-rel + kFileTimePerSecond - 1) / kFileTimePerSecond);
}

FILETIME FileTimeFromTimespec(const timespec& time)
{
    return UnixTimeToFileTime(time.tv_sec, time.tv_nsec);
}

timespec TimespecFromFileTime(const FILETIME& ft)
{
    const std::int64_t seconds = FileTimeToUnixTime(ft);
    const auto ticks = static_cast<std::int64_t>(FileTimeToU64(ft) & 0x7FFF'FFFF'FFFF'FFFFull);
    const std::int64_t rest = ticks - kUnixEpochAsFileTime - seconds * kFileTimePerSecond;
    return timespec{static_cast<time_t>(seconds), static_cast<long>(rest * 100)};
}

std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
}

bool IsLeapYear(std::int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(std::int64_t year, unsigned month)
{
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

namespace {

// getenv("TZ") without a walk of the whole environment for every time converted: where TZ stood
// (or that it was missing) is checked first, by the pointers that setenv, putenv and unsetenv
// change: the environment's array, the entry found, its last entry and the end.
const char* ZoneVariable()
{
    struct Found {
        char** environment = nullptr;
        std::size_t count = 0;
        std::size_t at = 0;           // of TZ's entry, count when there is none
        const char* entry = nullptr;  // "TZ=...", or null
        const char* last = nullptr;   // the last entry
    };
    thread_local Found found;
    char** const env = environ;
    if (env != nullptr && env == found.environment && env[found.count] == nullptr &&
        (found.count == 0 || env[found.count - 1] == found.last) &&
        (found.entry == nullptr || env[found.at] == found.entry))
        return found.entry ? found.entry + 3 : nullptr;
    found = Found{};
    if (env == nullptr)
        return std::getenv("TZ");
    found.environment = env;
    std::size_t i = 0;
    for (; env[i] != nullptr; ++i)
        if (found.entry == nullptr && env[i][0] == 'T' && env[i][1] == 'Z' && env[i][2] == '=') {
            found.entry = env[i];
            found.at = i;
        }
    found.count = i;
    found.last = i > 0 ? env[i - 1] : nullptr;
    if (found.entry == nullptr)
        found.at = i;
    return found.entry ? found.entry + 3 : nullptr;
}

}  // namespace

// Follows changes of TZ made while running at once and of the zone file within a second; tzset
// reads the zone file each time, which cost more than the rest of converting a file's time.
// Answers how many times the zone has been read, which changes whenever it may have changed.
static std::uint64_t RefreshTimeZone()
{
    static std::mutex lock;
    static std::optional<std::string> lastTz;
    static std::int64_t lastRead = 0;  // nanoseconds of the coarse clock; 0 before the first read
    static std::uint64_t reads = 0;
    // What this thread saw last, so that a time converted within the second of the last read,
    // under the same TZ, takes no lock.
    struct Seen {
        std::optional<std::string> tz;
        std::int64_t read = 0;
        std::uint64_t reads = 0;
    };
    thread_local Seen seen;
    const char* tz = ZoneVariable();
    // The coarse clock: asked once per time converted, and a second needs no finer measure.
    timespec clock{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &clock);
    const std::int64_t now = std::int64_t(clock.tv_sec) * 1000000000 + clock.tv_nsec + 1;
    const auto same = [tz](const std::optional<std::string>& known) { return tz ? known && *known == tz : !known; };
    if (seen.read != 0 && now - seen.read < 1000000000 && same(seen.tz))
        return seen.reads;
    std::lock_guard guard(lock);
    if (!(same(lastTz) && lastRead != 0 && now - lastRead < 1000000000)) {
        tzset();
        lastTz = tz ? std::optional<std::string>(tz) : std::nullopt;
        lastRead = now;
        ++reads;
    }
    seen = Seen{lastTz, lastRead, reads};
    return reads;
}

std::int64_t LocalOffsetAt(std::int64_t unixSeconds)
{
    // The files of a tree share few seconds, each converted several times on its way into an
    // archive: the offsets of recent seconds are kept until the zone is read again.
    struct Remembered {
        std::uint64_t zoneRead = 0;
        bool known[16] = {};
        std::int64_t at[16] = {};
        std::int64_t offset[16] = {};
    };
    thread_local Remembered remembered;
    const std::uint64_t zoneRead = RefreshTimeZone();
    if (remembered.zoneRead != zoneRead)
        remembered = Remembered{zoneRead};
    const auto slot = static_cast<std::size_t>(static_cast<std::uint64_t>(unixSeconds) % 16);
    if (remembered.known[slot] && remembered.at[slot] == unixSeconds)
        return remembered.offset[slot];
    const auto t = static_cast<time_t>(unixSeconds);
    tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    remembered.known[slot] = true;
    remembered.at[slot] = unixSeconds;
    remembered.offset[slot] = local.tm_gmtoff;
    return local.tm_gmtoff;
}

}  // namespace win

namespace {

constexpr std::int64_t kDaysFrom1601To1970 = 134774;
constexpr std::int64_t kTicksPerDay = 86400 * win::kFileTimePerSecond;

std::int64_t LocalOffsetTicksAt(std::int64_t utcTicks)
{
    const std::int64_t unix = (utcTicks - win::kUnixEpochAsFileTime) / win::kFileTimePerSecond;
    return win::LocalOffsetAt(unix) * win::kFileTimePerSecond;
}

bool FitsFileTime(std::int64_t ticks)
{
    return ticks >= 0;  // the high bit of a FILETIME is never set
}

void SystemTimeFromUnix(const timespec& now, SYSTEMTIME* st, bool local)
{
    const FILETIME utc = win::UnixTimeToFileTime(now.tv_sec, now.tv_nsec);
    if (!local) {
        FileTimeToSystemTime(&utc, st);
        return;
    }
    FILETIME loc;
    FileTimeToLocalFileTime(&utc, &loc);
    FileTimeToSystemTime(&loc, st);
}

}  // namespace

void GetSystemTime(SYSTEMTIME* st)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SystemTimeFromUnix(now, st, false);
}

void GetLocalTime(SYSTEMTIME* st)
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    SystemTimeFromUnix(now, st, true);
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st)
{
    if (!ft || !st)
        return FALSE;
    const std::uint64_t raw = win::FileTimeToU64(*ft);
    if (raw >> 63)
        return FALSE;
    const auto ticks = static_cast<std::int64_t>(raw);
    const std::int64_t days = ticks / kTicksPerDay;
    const std::int64_t inDay = ticks % kTicksPerDay;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    win::CivilFromDays(days - kDaysFrom1601To1970, year, month, day);
    st->wYear = static_cast<WORD>(year);
    st->wMonth = static_cast<WORD>(month);
    st->wDay = static_cast<WORD>(day);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    const std::int64_t ms = inDay / 10'000;
    st->wHour = static_cast<WORD>(ms / 3'600'000);
    st->wMinute = static_cast<WORD>(ms / 60'000 % 60);
    st->wSecond = static_cast<WORD>(ms / 1000 % 60);
    st->wMilliseconds = static_cast<WORD>(ms % 1000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft)
{
    if (!st || !ft)
        return FALSE;
    if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > win::DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
        st->wMilliseconds > 999) {
        return FALSE;
    }
    const std::int64_t days = win::DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kDaysFrom1601To1970;
    const std::int64_t ms = ((st->wHour * 60 + st->wMinute) * 60 + st->wSecond) * 1000LL + st->wMilliseconds;
    *ft = win::U64ToFileTime(static_cast<std::uint64_t>(days * kTicksPerDay + ms * 10'000));
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local)
{
    if (!utc || !local)
        return FALSE;
    const auto ticks = static_cast<std::int64_t>(win::FileTimeToU64(*utc));
    const std::int64_t result = ticks + LocalOffsetTicksAt(ticks);
    if (ticks < 0 || !FitsFileTime(result))
        return FALSE;
    *local = win::U64ToFileTime(static_cast<std::uint64_t>(result));
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc)
{
    if (!local || !utc)
        return FALSE;
    const auto ticks = static_cast<std::int64_t>(win::FileTimeToU64(*local));
    if (ticks < 0)
        return FALSE;
    // The offset depends on the UTC instant we are looking for: guess, then correct once. In the
    // hour that a spring change skips, the standard-time reading wins.
    const std::int64_t guess = ticks - LocalOffsetTicksAt(ticks);
    const std::int64_t result = ticks - LocalOffsetTicksAt(guess);
    if (!FitsFileTime(result))
        return FALSE;
    *utc = win::U64ToFileTime(static_cast<std::uint64_t>(result));
    return TRUE;
}

BOOL FileTimeToDosDateTime(const FILETIME* ft, WORD* fatDate, WORD* fatTime)
{
    if (!ft || !fatDate || !fatTime)
        return FALSE;
    SYSTEMTIME st;
    bool exact = FileTimeToSystemTime(ft, &st) == TRUE;
    if (!exact || st.wYear < 1980) {
        st = SYSTEMTIME{1980, 1, 0, 1, 0, 0, 0, 0};
        exact = false;
    } else if (st.wYear > 2107) {
        st = SYSTEMTIME{2107, 12, 0, 31, 23, 59, 58, 0};
        exact = false;
    }
    *fatDate = static_cast<WORD>(((st.wYear - 1980) << 9) | (st.wMonth << 5) | st.wDay);
    *fatTime = static_cast<WORD>((st.wHour << 11) | (st.wMinute << 5) | (st.wSecond / 2));
    return exact ? TRUE : FALSE;
}

BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME* ft)
{
    if (!ft)
        return FALSE;
    SYSTEMTIME st;
    st.wYear = static_cast<WORD>(1980 + (fatDate >> 9));
    const WORD month = (fatDate >> 5) & 0x0F;
    const WORD day = fatDate & 0x1F;
    const WORD hour = fatTime >> 11;
    const WORD minute = (fatTime >> 5) & 0x3F;
    const WORD second = static_cast<WORD>((fatTime & 0x1F) * 2);
    st.wMonth = month < 1 ? 1 : month > 12 ? 12 : month;
    const WORD lastDay = static_cast<WORD>(win::DaysInMonth(st.wYear, st.wMonth));
    st.wDay = day < 1 ? 1 : day > lastDay ? lastDay : day;
    st.wHour = hour > 23 ? 23 : hour;
    st.wMinute = minute > 59 ? 59 : minute;
    st.wSecond = second > 58 ? 58 : second;
    SystemTimeToFileTime(&st, ft);
    const bool exact =
        st.wMonth == month && st.wDay == day && st.wHour == hour && st.wMinute == minute && st.wSecond == second;
    return exact ? TRUE : FALSE;
}

namespace {

// A transition of the zone's offset, found by bisection between two instants.
std::int64_t FindTransition(std::int64_t before, std::int64_t after)
{
    const std::int64_t offset = win::LocalOffsetAt(before);
    while (after - before > 1) {
        const std::int64_t mid = before + (after - before) / 2;
        if (win::LocalOffsetAt(mid) == offset)
            before = mid;
        else
            after = mid;
    }
    return after;
}

// "wDayOfWeek of week wDay in wMonth at the given local time" for a transition.
SYSTEMTIME RuleFor(std::int64_t transitionUtc, std::int64_t offsetBefore)
{
    const std::int64_t local = transitionUtc + offsetBefore;
    const std::int64_t days = local >= 0 ? local / 86400 : (local - 86399) / 86400;
    const std::int64_t secs = local - days * 86400;
    std::int64_t year = 0;
    unsigned month = 0;
    unsigned day = 0;
    win::CivilFromDays(days, year, month, day);
    SYSTEMTIME rule;
    rule.wMonth = static_cast<WORD>(month);
    rule.wDayOfWeek = static_cast<WORD>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday
    rule.wDay = static_cast<WORD>(day + 7 > win::DaysInMonth(year, month) ? 5 : (day - 1) / 7 + 1);
    rule.wHour = static_cast<WORD>(secs / 3600);
    rule.wMinute = static_cast<WORD>(secs / 60 % 60);
    rule.wSecond = static_cast<WORD>(secs % 60);
    return rule;
}

}  // namespace

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tz)
{
    if (!tz)
        return TIME_ZONE_ID_INVALID;
    *tz = TIME_ZONE_INFORMATION{};
    tzset();
    const time_t now = time(nullptr);
    tm nowTm{};
    localtime_r(&now, &nowTm);
    const std::int64_t yearStart = win::DaysFromCivil(nowTm.tm_year + 1900, 1, 1) * 86400;

    // Walk the year day by day; each change of offset is one transition.
    bool haveStandard = false;
    bool haveDaylight = false;
    std::int64_t standardOffset = nowTm.tm_isdst > 0 ? 0 : nowTm.tm_gmtoff;
    std::int64_t daylightOffset = 0;
    std::int64_t previous = yearStart;
    std::int64_t previousOffset = win::LocalOffsetAt(previous);
    for (int day = 1; day <= 366; ++day) {
        const std::int64_t at = yearStart + day * 86400LL;
        const std::int64_t offset = win::LocalOffsetAt(at);
        if (offset != previousOffset) {
            const std::int64_t change = FindTransition(previous, at);
            const auto t = static_cast<time_t>(change);
            tm after{};
            localtime_r(&t, &after);
            if (after.tm_isdst > 0) {
                tz->DaylightDate = RuleFor(change, previousOffset);
                daylightOffset = offset;
                standardOffset = previousOffset;
                haveDaylight = true;
            } else {
                tz->StandardDate = RuleFor(change, previousOffset);
                standardOffset = offset;
                daylightOffset = previousOffset;
                haveStandard = true;
            }
        }
        previous = at;
        previousOffset = offset;
    }
    if (!haveStandard && !haveDaylight)
        standardOffset = nowTm.tm_gmtoff;
    tz->Bias = static_cast<LONG>(-standardOffset / 60);
    if (!(haveStandard && haveDaylight)) {
        tz->StandardDate = SYSTEMTIME{};
        tz->DaylightDate = SYSTEMTIME{};
        return TIME_ZONE_ID_UNKNOWN;
    }
    tz->DaylightBias = static_cast<LONG>(-(daylightOffset - standardOffset) / 60);
    return nowTm.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

DWORD GetTickCount()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000);
}

void Sleep(DWORD milliseconds)
{
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
