#include "platform/win/Time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <future>
#include <string>
#include <thread>

namespace {

// Runs a test body in a named zone and restores the previous one.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            saved_ = old, hadOld_ = true;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (hadOld_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadOld_ = false;
};

FILETIME MakeFileTime(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0)
{
    SYSTEMTIME st{y, mo, 0, d, h, mi, s, ms};
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

}  // namespace

TEST(Time, FileTimeAndSystemTimeAgree)
{
    // 1601-01-01 is FILETIME 0 and a Monday; 1970-01-01 is the Unix epoch.
    SYSTEMTIME st;
    FILETIME zero{};
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &st));
    EXPECT_EQ(1601, st.wYear);
    EXPECT_EQ(1, st.wDayOfWeek);
    EXPECT_EQ(win::kUnixEpochAsFileTime,
              static_cast<std::int64_t>(win::FileTimeToU64(MakeFileTime(1970, 1, 1, 0, 0, 0))));

    const FILETIME leap = MakeFileTime(2024, 2, 29, 23, 59, 59, 999);
    ASSERT_TRUE(FileTimeToSystemTime(&leap, &st));
    EXPECT_EQ(2024, st.wYear);
    EXPECT_EQ(2, st.wMonth);
    EXPECT_EQ(29, st.wDay);
    EXPECT_EQ(4, st.wDayOfWeek);  // Thursday
    EXPECT_EQ(23, st.wHour);
    EXPECT_EQ(999, st.wMilliseconds);

    SYSTEMTIME bad{2023, 2, 0, 29, 0, 0, 0, 0};
    FILETIME ft;
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    bad = SYSTEMTIME{2023, 1, 0, 1, 24, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft));
    FILETIME negative{0, 0x80000000};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &st));
}

TEST(Time, DosStampsAtTheEdgesAndClamped)
{
    WORD date = 0;
    WORD time = 0;
    FILETIME ft = MakeFileTime(1980, 1, 1, 0, 0, 0);
    EXPECT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(0x0021, date);
    EXPECT_EQ(0, time);

    ft = MakeFileTime(2107, 12, 31, 23, 59, 59);  // odd second rounds down
    EXPECT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ((127 << 9) | (12 << 5) | 31, date);
    EXPECT_EQ((23 << 11) | (59 << 5) | 29, time);

    ft = MakeFileTime(1979, 12, 31, 23, 59, 59);
    EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(0x0021, date);
    ft = MakeFileTime(2108, 1, 1, 0, 0, 0);
    EXPECT_FALSE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ((127 << 9) | (12 << 5) | 31, date);

    // Back: exact values convert, invalid fields are clamped and reported.
    EXPECT_TRUE(DosDateTimeToFileTime(0x0021, 0, &ft));
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(1980, 1, 1, 0, 0, 0)), win::FileTimeToU64(ft));
    EXPECT_FALSE(DosDateTimeToFileTime(0, 0, &ft));  // month 0, day 0
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(1980, 1, 1, 0, 0, 0)), win::FileTimeToU64(ft));
    const WORD feb31 = static_cast<WORD>((43 << 9) | (2 << 5) | 31);   // 2023-02-31
    const WORD late = static_cast<WORD>((31 << 11) | (63 << 5) | 31);  // 31:63:62
    EXPECT_FALSE(DosDateTimeToFileTime(feb31, late, &ft));
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(2023, 2, 28, 23, 59, 58)), win::FileTimeToU64(ft));
    const WORD month13 = static_cast<WORD>((1 << 9) | (13 << 5) | 5);
    EXPECT_FALSE(DosDateTimeToFileTime(month13, 0, &ft));
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(1981, 12, 5, 0, 0, 0)), win::FileTimeToU64(ft));
}

TEST(Time, UnixTimesPastAFileTimeTakeItsEnds)
{
    // A TAR's base-256 time field holds up to 2^62 seconds; the product in ticks must not wrap.
    constexpr std::uint64_t kEnd = std::uint64_t(INT64_MAX);
    for (const std::int64_t t : {std::int64_t(1) << 40, std::int64_t(1) << 62, INT64_MAX})
        EXPECT_EQ(win::FileTimeToU64(win::UnixTimeToFileTime(t, 999999999)), kEnd) << t;
    for (const std::int64_t t : {-(std::int64_t(1) << 40), INT64_MIN})
        EXPECT_EQ(win::FileTimeToU64(win::UnixTimeToFileTime(t)), 0u) << t;
    // Inside the range, near its ends, times still convert exactly.
    const std::int64_t late = std::int64_t(900'000'000'000);
    EXPECT_EQ(win::FileTimeToUnixTime(win::UnixTimeToFileTime(late)), late);
    EXPECT_LT(win::FileTimeToU64(win::UnixTimeToFileTime(late)), kEnd);
    EXPECT_EQ(win::FileTimeToUnixTime(win::UnixTimeToFileTime(-11'644'473'600)), -11'644'473'600);
}

TEST(Time, LocalTimeFollowsDaylightSavingOfTheInstant)
{
    ZoneGuard zone("Europe/Prague");
    const FILETIME winter = MakeFileTime(2023, 1, 15, 12, 0, 0);
    const FILETIME summer = MakeFileTime(2023, 7, 15, 12, 0, 0);
    FILETIME local;
    FILETIME back;
    ASSERT_TRUE(FileTimeToLocalFileTime(&winter, &local));
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(2023, 1, 15, 13, 0, 0)), win::FileTimeToU64(local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(win::FileTimeToU64(winter), win::FileTimeToU64(back));
    ASSERT_TRUE(FileTimeToLocalFileTime(&summer, &local));
    EXPECT_EQ(win::FileTimeToU64(MakeFileTime(2023, 7, 15, 14, 0, 0)), win::FileTimeToU64(local));
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &back));
    EXPECT_EQ(win::FileTimeToU64(summer), win::FileTimeToU64(back));

    TIME_ZONE_INFORMATION tz;
    const DWORD state = GetTimeZoneInformation(&tz);
    EXPECT_TRUE(state == TIME_ZONE_ID_STANDARD || state == TIME_ZONE_ID_DAYLIGHT);
    EXPECT_EQ(-60, tz.Bias);
    EXPECT_EQ(-60, tz.DaylightBias);
    // Last Sunday of March at 2:00, last Sunday of October at 3:00.
    EXPECT_EQ(3, tz.DaylightDate.wMonth);
    EXPECT_EQ(5, tz.DaylightDate.wDay);
    EXPECT_EQ(0, tz.DaylightDate.wDayOfWeek);
    EXPECT_EQ(2, tz.DaylightDate.wHour);
    EXPECT_EQ(10, tz.StandardDate.wMonth);
    EXPECT_EQ(5, tz.StandardDate.wDay);
    EXPECT_EQ(3, tz.StandardDate.wHour);
}

TEST(Time, ZoneSetWhileRunningTakesEffectAtOnceInEveryThread)
{
    // TZ set without tzset, within the second of the last conversion: this thread and a worker that
    // converted just before both answer in the new zone at their next conversion, and back.
    const FILETIME noon = MakeFileTime(2023, 1, 15, 12, 0, 0);
    const auto localHour = [&noon] {
        FILETIME local{};
        SYSTEMTIME st{};
        EXPECT_TRUE(FileTimeToLocalFileTime(&noon, &local));
        EXPECT_TRUE(FileTimeToSystemTime(&local, &st));
        return int(st.wHour);
    };
    ZoneGuard zone("Europe/Prague");
    std::promise<int> before, after;
    std::promise<void> changed;
    std::thread worker([&] {
        before.set_value(localHour());
        changed.get_future().wait();
        after.set_value(localHour());
    });
    EXPECT_EQ(before.get_future().get(), 13);
    EXPECT_EQ(localHour(), 13);
    setenv("TZ", "Asia/Tokyo", 1);
    changed.set_value();
    EXPECT_EQ(after.get_future().get(), 21);
    worker.join();
    EXPECT_EQ(localHour(), 21);
    setenv("TZ", "Europe/Prague", 1);
    EXPECT_EQ(localHour(), 13);
    unsetenv("TZ");
    setenv("TZ", "UTC", 1);
    EXPECT_EQ(localHour(), 12);
}

TEST(Time, ZoneWithoutDaylightSaving)
{
    ZoneGuard zone("UTC");
    TIME_ZONE_INFORMATION tz;
    EXPECT_EQ(TIME_ZONE_ID_UNKNOWN, GetTimeZoneInformation(&tz));
    EXPECT_EQ(0, tz.Bias);
    EXPECT_EQ(0, tz.DaylightDate.wMonth);
}

TEST(Time, TickCountIsMonotonicAcrossSleep)
{
    const DWORD start = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 30u);
    SYSTEMTIME utc;
    SYSTEMTIME local;
    GetSystemTime(&utc);
    GetLocalTime(&local);
    EXPECT_GE(utc.wYear, 2023);
    EXPECT_GE(local.wYear, 2023);
}
