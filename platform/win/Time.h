// System time, file times, DOS time stamps and the host time zone in the Windows API's terms.
//
// FILETIME counts 100-ns intervals since 1601-01-01 UTC. Local times come from the host time zone
// (TZ, /etc/localtime), each instant with its own daylight-saving state.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <ctime>

struct TIME_ZONE_INFORMATION {
    LONG Bias = 0;  // minutes, UTC = local + Bias
    char16_t StandardName[32] = {};
    SYSTEMTIME StandardDate;  // wMonth 0: the zone has no daylight saving
    LONG StandardBias = 0;
    char16_t DaylightName[32] = {};
    SYSTEMTIME DaylightDate;
    LONG DaylightBias = 0;
};

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;
constexpr DWORD TIME_ZONE_ID_INVALID = 0xFFFFFFFF;

void GetSystemTime(SYSTEMTIME* st);
void GetLocalTime(SYSTEMTIME* st);
BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft);
BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);

// DOS stamps hold 1980-01-01 to 2107-12-31 in 2-second steps. Unlike the original API these never
// leave garbage: out-of-range years and invalid fields are clamped to the nearest valid stamp, the
// result is written, and FALSE tells that clamping happened.
BOOL FileTimeToDosDateTime(const FILETIME* ft, WORD* fatDate, WORD* fatTime);
BOOL DosDateTimeToFileTime(WORD fatDate, WORD fatTime, FILETIME* ft);

// The rules of the zone for the current year, derived from the host's transitions: DaylightDate and
// StandardDate are "day-of-week in month" rules (wDay 1-4, or 5 for the last), with the local time
// at which each change happens. Returns the current state (standard, daylight or unknown).
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tz);

DWORD GetTickCount();  // milliseconds of a monotonic clock, wrapping at 2^32
void Sleep(DWORD milliseconds);

namespace win {

constexpr std::int64_t kFileTimePerSecond = 10'000'000;
constexpr std::int64_t kUnixEpochAsFileTime = 116'444'736'000'000'000;  // 1970-01-01 in FILETIME

std::uint64_t FileTimeToU64(const FILETIME& ft);
FILETIME U64ToFileTime(std::uint64_t value);
FILETIME UnixTimeToFileTime(std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t FileTimeToUnixTime(const FILETIME& ft);  // whole seconds, rounded down
FILETIME FileTimeFromTimespec(const timespec& time);
timespec TimespecFromFileTime(const FILETIME& time);

// Proleptic Gregorian calendar: days since 1970-01-01 and back.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day);
void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day);
bool IsLeapYear(std::int64_t year);
unsigned DaysInMonth(std::int64_t year, unsigned month);

// Offset of local time from UTC in seconds at that UTC instant (east positive).
std::int64_t LocalOffsetAt(std::int64_t unixSeconds);

}  // namespace win
