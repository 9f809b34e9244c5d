#include "platform/win/SysDates.h"

#include "platform/win/Time.h"

#include <cmath>
#include <cstdint>

namespace win {
namespace {

const std::int64_t kDelphiEpochDays = DaysFromCivil(1899, 12, 30);  // relative to 1970-01-01

// The day number and the milliseconds of the day that a value stands for.
struct Stamp {
    std::int64_t days;
    std::int64_t msec;
};

Stamp ToStamp(TDateTime value)
{
    if (!std::isfinite(value) || std::fabs(value) > 3'000'000.0)
        value = 0;  // beyond 9999 is noise
    Stamp s{static_cast<std::int64_t>(std::trunc(value)), 0};
    s.msec = std::llround(std::fabs(value - std::trunc(value)) * MSecsPerDay);
    if (s.msec >= MSecsPerDay) {
        s.msec -= MSecsPerDay;
        ++s.days;
    }
    return s;
}

TDateTime FromStamp(std::int64_t days, std::int64_t msec)
{
    const double time = static_cast<double>(msec) / MSecsPerDay;
    return days >= 0 ? static_cast<double>(days) + time : static_cast<double>(days) - time;
}

[[noreturn]] void ThrowConvert(const std::string& text)
{
    throw EConvertError(text);
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& date)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > static_cast<int>(DaysInMonth(year, static_cast<unsigned>(month)))) {
        return false;
    }
    date = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                               kDelphiEpochDays);
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& time)
{
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
        return false;
    time = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime date = 0;
    if (!TryEncodeDate(year, month, day, date))
        ThrowConvert("Invalid argument to date encode");
    return date;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec)
{
    TDateTime time = 0;
    if (!TryEncodeTime(hour, min, sec, msec, time))
        ThrowConvert("Invalid argument to time encode");
    return time;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time)
{
    return FromStamp(ToStamp(date).days, ToStamp(time).msec);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day)
{
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(ToStamp(value).days + kDelphiEpochDays, y, m, d);
    year = static_cast<int>(y);
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec)
{
    const std::int64_t ms = ToStamp(value).msec;
    hour = static_cast<int>(ms / 3'600'000);
    min = static_cast<int>(ms / 60'000 % 60);
    sec = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value)
{
    // 1899-12-30 was a Saturday.
    const std::int64_t days = ToStamp(value).days;
    return static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME& st)
{
    return ComposeDateTime(EncodeDate(st.wYear, st.wMonth, st.wDay),
                           EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds));
}

void DateTimeToSystemTime(TDateTime value, SYSTEMTIME& st)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, s, ms);
    st = SYSTEMTIME{static_cast<WORD>(y), static_cast<WORD>(mo), static_cast<WORD>(DayOfWeek(value) - 1),
                    static_cast<WORD>(d), static_cast<WORD>(h),  static_cast<WORD>(mi),
                    static_cast<WORD>(s), static_cast<WORD>(ms)};
}

TDateTime Now()
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st);
}

TDateTime Date()
{
    return std::trunc(Now());
}

TDateTime Time()
{
    const TDateTime now = Now();
    return now - std::trunc(now);
}

TDateTime FileDateToDateTime(std::int32_t fileDate)
{
    const auto raw = static_cast<std::uint32_t>(fileDate);
    const int date = static_cast<int>(raw >> 16);
    const int time = static_cast<int>(raw & 0xFFFF);
    return ComposeDateTime(EncodeDate(1980 + (date >> 9), (date >> 5) & 0x0F, date & 0x1F),
                           EncodeTime(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2, 0));
}

std::int32_t DateTimeToFileDate(TDateTime value)
{
    int y, mo, d, h, mi, s, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, s, ms);
    if (y < 1980)
        y = 1980, mo = 1, d = 1, h = 0, mi = 0, s = 0;
    if (y > 2107)
        y = 2107, mo = 12, d = 31, h = 23, mi = 59, s = 58;
    const std::uint32_t date = static_cast<std::uint32_t>(((y - 1980) << 9) | (mo << 5) | d);
    const std::uint32_t time = static_cast<std::uint32_t>((h << 11) | (mi << 5) | (s / 2));
    return static_cast<std::int32_t>((date << 16) | time);
}

namespace {

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool StartsWithNoCase(std::string_view text, std::size_t at, std::string_view prefix)
{
    if (text.size() - at < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (Lower(text[at + i]) != prefix[i])
            return false;
    }
    return true;
}

std::string TwoDigits(int v)
{
    return (v < 10 ? "0" : "") + std::to_string(v);
}

struct DateParts {
    int year, month, day, hour, min, sec, msec, dayOfWeek;
    bool hasTime;
};

void AppendFormatted(std::string& out, std::string_view format, const DateParts& p, const TFormatSettings& fs,
                     int depth)
{
    if (depth > 2)
        return;
    char lastToken = 0;
    bool twelveHour = false;
    for (std::size_t i = 0; i < format.size();) {
        const char c = format[i];
        const char token = Lower(c);
        std::size_t count = 1;
        while (i + count < format.size() && Lower(format[i + count]) == token)
            ++count;
        if (c == '"' || c == '\'') {
            const std::size_t close = format.find(c, i + 1);
            const std::size_t end = close == std::string_view::npos ? format.size() : close;
            out += format.substr(i + 1, end - i - 1);
            i = end == format.size() ? end : end + 1;
            continue;
        }
        const bool isLetter = token >= 'a' && token <= 'z';
        const char previous = lastToken;
        if (isLetter)
            lastToken = token;
        switch (token) {
        case 'y':
            out += count <= 2 ? TwoDigits(p.year % 100) : std::to_string(p.year);
            break;
        case 'm':
            if (previous == 'h' && count <= 2) {
                out += count == 1 ? std::to_string(p.min) : TwoDigits(p.min);
                lastToken = 'n';
            } else if (count == 1)
                out += std::to_string(p.month);
            else if (count == 2)
                out += TwoDigits(p.month);
            else if (count == 3)
                out += fs.ShortMonthNames[p.month - 1];
            else
                out += fs.LongMonthNames[p.month - 1];
            break;
        case 'd':
            if (count == 1)
                out += std::to_string(p.day);
            else if (count == 2)
                out += TwoDigits(p.day);
            else if (count == 3)
                out += fs.ShortDayNames[p.dayOfWeek - 1];
            else if (count == 4)
                out += fs.LongDayNames[p.dayOfWeek - 1];
            else if (count == 5)
                AppendFormatted(out, fs.ShortDateFormat, p, fs, depth + 1);
            else
                AppendFormatted(out, fs.LongDateFormat, p, fs, depth + 1);
            break;
        case 'h': {
            const std::string_view rest = format.substr(i);
            twelveHour = false;
            for (std::size_t k = 0; k < rest.size(); ++k) {
                if (StartsWithNoCase(rest, k, "am/pm") || StartsWithNoCase(rest, k, "a/p") ||
                    StartsWithNoCase(rest, k, "ampm")) {
                    twelveHour = true;
                }
            }
            int hour = p.hour;
            if (twelveHour)
                hour = hour % 12 == 0 ? 12 : hour % 12;
            out += count == 1 ? std::to_string(hour) : TwoDigits(hour);
            break;
        }
        case 'n':
            out += count == 1 ? std::to_string(p.min) : TwoDigits(p.min);
            break;
        case 's':
            out += count == 1 ? std::to_string(p.sec) : TwoDigits(p.sec);
            break;
        case 'z': {
            std::string ms = std::to_string(p.msec);
            if (count > 1)
                ms.insert(0, 3 - ms.size(), '0');
            out += ms;
            break;
        }
        case 't':
            AppendFormatted(out, count == 1 ? fs.ShortTimeFormat : fs.LongTimeFormat, p, fs, depth + 1);
            break;
        case 'c':
            AppendFormatted(out, fs.ShortDateFormat, p, fs, depth + 1);
            if (p.hasTime) {
                out += ' ';
                AppendFormatted(out, fs.LongTimeFormat, p, fs, depth + 1);
            }
            break;
        case 'a':
            if (StartsWithNoCase(format, i, "am/pm")) {
                out += p.hour < 12 ? format.substr(i, 2) : format.substr(i + 3, 2);
                count = 5;
            } else if (StartsWithNoCase(format, i, "a/p")) {
                out += p.hour < 12 ? format.substr(i, 1) : format.substr(i + 2, 1);
                count = 3;
            } else if (StartsWithNoCase(format, i, "ampm")) {
                out += p.hour < 12 ? fs.TimeAMString : fs.TimePMString;
                count = 4;
            } else {
                out += c;
                count = 1;
            }
            break;
        case '/':
            out += fs.DateSeparator;
            count = 1;
            break;
        case ':':
            out += fs.TimeSeparator;
            count = 1;
            break;
        default:
            out += c;
            count = 1;
            break;
        }
        i += count;
    }
}

}  // namespace

std::string FormatDateTime(std::string_view format, TDateTime value, const TFormatSettings& fs)
{
    DateParts p{};
    DecodeDate(value, p.year, p.month, p.day);
    DecodeTime(value, p.hour, p.min, p.sec, p.msec);
    p.dayOfWeek = DayOfWeek(value);
    p.hasTime = ToStamp(value).msec != 0;
    std::string out;
    AppendFormatted(out, format.empty() ? std::string_view("c") : format, p, fs, 0);
    return out;
}

std::string DateToStr(TDateTime value, const TFormatSettings& fs)
{
    return FormatDateTime(fs.ShortDateFormat, value, fs);
}

std::string TimeToStr(TDateTime value, const TFormatSettings& fs)
{
    return FormatDateTime(fs.LongTimeFormat, value, fs);
}

std::string DateTimeToStr(TDateTime value, const TFormatSettings& fs)
{
    return FormatDateTime("c", value, fs);
}

namespace {

// Reads an unsigned number at pos; false when there is none.
bool ReadNumber(std::string_view text, std::size_t& pos, int& value, int& digits)
{
    value = 0;
    digits = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9) {
        value = value * 10 + (text[pos++] - '0');
        ++digits;
    }
    return digits > 0;
}

void SkipBlanks(std::string_view text, std::size_t& pos)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
}

bool ReadSeparator(std::string_view text, std::size_t& pos, std::string_view separator)
{
    SkipBlanks(text, pos);
    if (separator.empty() || text.substr(pos, separator.size()) != separator)
        return false;
    pos += separator.size();
    SkipBlanks(text, pos);
    return true;
}

bool ScanDate(std::string_view text, std::size_t& pos, TDateTime& value, const TFormatSettings& fs)
{
    int numbers[3] = {};
    int digits[3] = {};
    int count = 0;
    SkipBlanks(text, pos);
    while (count < 3) {
        if (count > 0) {
            std::size_t probe = pos;
            if (!ReadSeparator(text, probe, fs.DateSeparator))
                break;
            if (probe >= text.size() || text[probe] < '0' || text[probe] > '9') {
                pos = probe;  // a trailing separator ("1.2.") ends the date
                break;
            }
            pos = probe;
        }
        if (!ReadNumber(text, pos, numbers[count], digits[count]))
            return false;
        ++count;
    }
    if (count < 2)
        return false;
    // Order of the fields from the short date format.
    std::string order;
    for (const char c : fs.ShortDateFormat) {
        const char l = Lower(c);
        if ((l == 'd' || l == 'm' || l == 'y') && order.find(l) == std::string::npos)
            order += l;
    }
    if (order.size() != 3)
        order = "dmy";
    int day = 0, month = 0, year = 0;
    bool haveYear = count == 3;
    int yearDigits = 4;
    int k = 0;
    for (const char field : order) {
        if (field == 'y' && !haveYear)
            continue;
        if (k >= count)
            break;
        if (field == 'd')
            day = numbers[k];
        else if (field == 'm')
            month = numbers[k];
        else
            year = numbers[k], yearDigits = digits[k];
        ++k;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    if (!haveYear)
        year = now.wYear;
    else if (yearDigits <= 2) {
        const int base = now.wYear - fs.TwoDigitYearCenturyWindow;
        year += base / 100 * 100;
        if (fs.TwoDigitYearCenturyWindow > 0 && year < base)
            year += 100;
    }
    return TryEncodeDate(year, month, day, value);
}

bool ScanTime(std::string_view text, std::size_t& pos, TDateTime& value, const TFormatSettings& fs)
{
    int hour = 0, min = 0, sec = 0, msec = 0, digits = 0;
    SkipBlanks(text, pos);
    if (!ReadNumber(text, pos, hour, digits))
        return false;
    if (!ReadSeparator(text, pos, fs.TimeSeparator) || !ReadNumber(text, pos, min, digits))
        return false;
    std::size_t probe = pos;
    if (ReadSeparator(text, probe, fs.TimeSeparator)) {
        pos = probe;
        if (!ReadNumber(text, pos, sec, digits))
            return false;
        if (pos < text.size() &&
            (text[pos] == '.' || text.substr(pos, fs.DecimalSeparator.size()) == fs.DecimalSeparator)) {
            ++pos;
            if (!ReadNumber(text, pos, msec, digits) || digits > 3)
                return false;
            for (; digits < 3; ++digits)
                msec *= 10;
        }
    }
    SkipBlanks(text, pos);
    const std::string rest = LowerCase(text.substr(pos));
    const auto mark = [&](std::string_view am, std::string_view pm) {
        const std::string a = LowerCase(am);
        const std::string p = LowerCase(pm);
        if (!a.empty() && rest.rfind(a, 0) == 0)
            return pos += a.size(), 1;
        if (!p.empty() && rest.rfind(p, 0) == 0)
            return pos += p.size(), 2;
        return 0;
    };
    int ampm = mark("am", "pm");
    if (ampm == 0)
        ampm = mark(fs.TimeAMString, fs.TimePMString);
    if (ampm != 0) {
        if (hour < 1 || hour > 12)
            return false;
        hour = hour % 12 + (ampm == 2 ? 12 : 0);
    }
    return TryEncodeTime(hour, min, sec, msec, value);
}

bool AtEnd(std::string_view text, std::size_t pos)
{
    SkipBlanks(text, pos);
    return pos == text.size();
}

}  // namespace

bool TryStrToDate(std::string_view text, TDateTime& value, const TFormatSettings& fs)
{
    std::size_t pos = 0;
    TDateTime date = 0;
    if (!ScanDate(text, pos, date, fs) || !AtEnd(text, pos))
        return false;
    value = date;
    return true;
}

bool TryStrToTime(std::string_view text, TDateTime& value, const TFormatSettings& fs)
{
    std::size_t pos = 0;
    TDateTime time = 0;
    if (!ScanTime(text, pos, time, fs) || !AtEnd(text, pos))
        return false;
    value = time;
    return true;
}

bool TryStrToDateTime(std::string_view text, TDateTime& value, const TFormatSettings& fs)
{
    std::size_t pos = 0;
    TDateTime date = 0;
    if (!ScanDate(text, pos, date, fs))
        return TryStrToTime(text, value, fs);
    TDateTime time = 0;
    if (!AtEnd(text, pos) && (!ScanTime(text, pos, time, fs) || !AtEnd(text, pos)))
        return false;
    value = ComposeDateTime(date, time);
    return true;
}

TDateTime StrToDate(std::string_view text, const TFormatSettings& fs)
{
    TDateTime value = 0;
    if (!TryStrToDate(text, value, fs))
        ThrowConvert("'" + std::string(text) + "' is not a valid date");
    return value;
}

TDateTime StrToTime(std::string_view text, const TFormatSettings& fs)
{
    TDateTime value = 0;
    if (!TryStrToTime(text, value, fs))
        ThrowConvert("'" + std::string(text) + "' is not a valid time");
    return value;
}

TDateTime StrToDateTime(std::string_view text, const TFormatSettings& fs)
{
    TDateTime value = 0;
    if (!TryStrToDateTime(text, value, fs)) {
        ThrowConvert("'" + std::string(text) + "' is not a valid date and time");
    }
    return value;
}

}  // namespace win
