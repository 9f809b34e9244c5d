// The run-time library's string, number and exception helpers, over the program's UTF-8 strings.
//
// Positions and lengths (Pos, Copy, Delete, Insert) count bytes, 1-based, as the original 8-bit
// code counts characters. Case mapping is Unicode (platform/win/Utf8.h). Number texts follow the
// Czech conventions of FormatSettings (decimal comma, no-break space between thousands), never the
// process locale.
#pragma once

#include "platform/win/Utf8.h"

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace win {

// The base of every exception the program raises; handlers show Message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

class EConvertError : public Exception {
public:
    using Exception::Exception;
};

struct TFormatSettings {
    std::string DecimalSeparator = ",";
    std::string ThousandSeparator = "\u00A0";
    std::string DateSeparator = ".";
    std::string TimeSeparator = ":";
    std::string ShortDateFormat = "dd.mm.yyyy";
    std::string LongDateFormat = "d. mmmm yyyy";
    std::string ShortTimeFormat = "h:nn";
    std::string LongTimeFormat = "h:nn:ss";
    std::string TimeAMString = "dop.";
    std::string TimePMString = "odp.";
    std::string ShortMonthNames[12] = {"led", "úno", "bře", "dub", "kvě", "čvn",
                                       "čvc", "srp", "zář", "říj", "lis", "pro"};
    std::string LongMonthNames[12] = {"leden",    "únor",  "březen", "duben", "květen",   "červen",
                                      "červenec", "srpen", "září",   "říjen", "listopad", "prosinec"};
    std::string ShortDayNames[7] = {"ne", "po", "út", "st", "čt", "pá", "so"};  // Sunday first
    std::string LongDayNames[7] = {"neděle", "pondělí", "úterý", "středa", "čtvrtek", "pátek", "sobota"};
    int TwoDigitYearCenturyWindow = 50;
};

// The program's settings (Czech); code may change single fields, as edit masks do.
extern TFormatSettings FormatSettings;

std::string IntToStr(std::int64_t value);
std::string IntToHex(std::uint64_t value, int digits);  // upper case, at least `digits` digits

// Decimal with optional blanks in front and a sign, or hexadecimal with "$" or "0x".
// StrToInt raises EConvertError for anything else and for values outside 32 bits.
bool TryStrToInt(std::string_view text, int& value);
bool TryStrToInt64(std::string_view text, std::int64_t& value);
int StrToInt(std::string_view text);
std::int64_t StrToInt64(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);

// Accepts the settings' decimal separator and ".".
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs = FormatSettings);
double StrToFloat(std::string_view text, const TFormatSettings& fs = FormatSettings);
std::string FloatToStr(double value, const TFormatSettings& fs = FormatSettings);  // 15 significant digits

// Patterns of "0", "#", "." and "," (grouping), with literal text before and after; only the first
// ";"-section is used.
std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs = FormatSettings);

// Format with the specifiers %d %u %x %s %f %g %n and %% (flags "-", width, ".precision"). %n groups
// thousands: Format("%.0n", {1234567.0}) is "1 234 567" with no-break spaces. A specifier that does
// not fit its argument raises EConvertError.
struct FormatArg {
    template <typename T>
    requires std::is_integral_v<T> FormatArg(T v) : value(static_cast<std::int64_t>(v)) {}
    FormatArg(double v) : value(v) {}
    FormatArg(const char* v) : value(std::string(v)) {}
    FormatArg(std::string v) : value(std::move(v)) {}
    FormatArg(std::string_view v) : value(std::string(v)) {}
    std::variant<std::int64_t, double, std::string> value;
};
std::string Format(std::string_view format, std::initializer_list<FormatArg> args,
                   const TFormatSettings& fs = FormatSettings);

// Blanks and control characters (bytes up to 0x20) removed.
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

inline std::string AnsiUpperCase(std::string_view text)
{
    return UpperCase(text);
}
inline std::string AnsiLowerCase(std::string_view text)
{
    return LowerCase(text);
}
inline int AnsiCompareText(std::string_view a, std::string_view b)
{
    return CompareText(a, b);
}

int Pos(std::string_view sub, std::string_view text);  // 0 when absent
int PosEx(std::string_view sub, std::string_view text, int offset);
std::string Copy(std::string_view text, int index, int count);
void Delete(std::string& text, int index, int count);
void Insert(std::string_view sub, std::string& text, int index);

}  // namespace win
