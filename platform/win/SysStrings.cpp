#include "platform/win/SysStrings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace win {

TFormatSettings FormatSettings;

std::string IntToStr(std::int64_t value)
{
    return std::to_string(value);
}

std::string IntToHex(std::uint64_t value, int digits)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    do {
        out.insert(out.begin(), kHex[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(out.size()) < digits)
        out.insert(0, static_cast<std::size_t>(digits) - out.size(), '0');
    return out;
}

bool TryStrToInt64(std::string_view text, std::int64_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return false;
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return false;
        if (magnitude > (kLimit - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base))
            return false;
        magnitude = magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    if (!negative && magnitude == kLimit)
        return false;
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool TryStrToInt(std::string_view text, int& value)
{
    std::int64_t wide = 0;
    if (!TryStrToInt64(text, wide) || wide < std::numeric_limits<int>::min() ||
        wide > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(wide);
    return true;
}

namespace {

[[noreturn]] void ThrowNotInteger(std::string_view text)
{
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

}  // namespace

int StrToInt(std::string_view text)
{
    int value = 0;
    if (!TryStrToInt(text, value))
        ThrowNotInteger(text);
    return value;
}

std::int64_t StrToInt64(std::string_view text)
{
    std::int64_t value = 0;
    if (!TryStrToInt64(text, value))
        ThrowNotInteger(text);
    return value;
}

int StrToIntDef(std::string_view text, int fallback)
{
    int value = 0;
    return TryStrToInt(text, value) ? value : fallback;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& fs)
{
    std::string plain = Trim(text);
    if (!fs.DecimalSeparator.empty() && fs.DecimalSeparator != ".") {
        const std::size_t at = plain.find(fs.DecimalSeparator);
        if (at != std::string::npos)
            plain.replace(at, fs.DecimalSeparator.size(), ".");
    }
    if (plain.empty() || plain.find_first_not_of("0123456789+-.eE") != std::string::npos)
        return false;
    char* end = nullptr;
    const double parsed = std::strtod(plain.c_str(), &end);
    if (end != plain.c_str() + plain.size())
        return false;
    value = parsed;
    return true;
}

double StrToFloat(std::string_view text, const TFormatSettings& fs)
{
    double value = 0;
    if (!TryStrToFloat(text, value, fs)) {
        throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
    }
    return value;
}

namespace {

// |value| rounded half away from zero to `decimals` places, from its first 15 significant digits
// (what a double holds reliably): the integer digits and the fraction digits.
void FixedDigits(double value, int decimals, std::string& whole, std::string& fraction)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(value));
    std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 14);
    int exp10 = std::atoi(std::strchr(buf, 'e') + 1) + 1;  // value = 0.digits x 10^exp10
    if (exp10 < 1) {
        digits.insert(0, static_cast<std::size_t>(1 - exp10), '0');
        exp10 = 1;
    }
    const std::size_t keep = static_cast<std::size_t>(exp10 + decimals);
    if (digits.size() <= keep)
        digits.append(keep + 1 - digits.size(), '0');
    const bool roundUp = digits[keep] >= '5';
    digits.resize(keep);
    if (roundUp) {
        std::size_t i = keep;
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            ++exp10;
        } else {
            ++digits[i - 1];
        }
    }
    whole = digits.substr(0, static_cast<std::size_t>(exp10));
    fraction = digits.substr(static_cast<std::size_t>(exp10));
    const std::size_t firstNonZero = whole.find_first_not_of('0');
    whole = firstNonZero == std::string::npos ? "0" : whole.substr(firstNonZero);
}

std::string Grouped(const std::string& whole, const std::string& separator)
{
    std::string out;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i > 0 && (whole.size() - i) % 3 == 0)
            out += separator;
        out += whole[i];
    }
    return out;
}

bool AllZero(const std::string& a, const std::string& b)
{
    return a.find_first_not_of('0') == std::string::npos && b.find_first_not_of('0') == std::string::npos;
}

std::string NonFinite(double value)
{
    return std::isnan(value) ? "NAN" : value > 0 ? "INF" : "-INF";
}

std::string FixedText(double value, int decimals, bool group, const TFormatSettings& fs)
{
    if (!std::isfinite(value))
        return NonFinite(value);
    std::string whole;
    std::string fraction;
    FixedDigits(value, decimals, whole, fraction);
    std::string out = value < 0 && !AllZero(whole, fraction) ? "-" : "";
    out += group ? Grouped(whole, fs.ThousandSeparator) : whole;
    if (decimals > 0)
        out += fs.DecimalSeparator + fraction;
    return out;
}

std::string GeneralText(double value, int precision, const TFormatSettings& fs)
{
    if (!std::isfinite(value))
        return NonFinite(value);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*G", std::clamp(precision, 1, 18), value);
    std::string out = buf;
    const std::size_t dot = out.find('.');
    if (dot != std::string::npos)
        out.replace(dot, 1, fs.DecimalSeparator);
    // "1E+20" -> "1E20", "1E-07" -> "1E-7", as the original library writes exponents.
    const std::size_t e = out.find('E');
    if (e != std::string::npos) {
        std::string mantissa = out.substr(0, e);
        const int exponent = std::atoi(out.c_str() + e + 1);
        out = mantissa + "E" + std::to_string(exponent);
    }
    return out;
}

}  // namespace

std::string FloatToStr(double value, const TFormatSettings& fs)
{
    return GeneralText(value, 15, fs);
}

std::string FormatFloat(std::string_view pattern, double value, const TFormatSettings& fs)
{
    const std::string_view section = pattern.substr(0, pattern.find(';'));
    const std::size_t first = section.find_first_of("0#");
    if (first == std::string_view::npos)
        return std::string(section);
    const std::size_t last = section.find_last_of("0#");
    const std::string_view body = section.substr(first, last - first + 1);
    const std::size_t point = body.find('.');
    const std::string_view intPart = body.substr(0, point);
    const std::string_view fracPart = point == std::string_view::npos ? std::string_view{} : body.substr(point + 1);
    const int minInt = static_cast<int>(std::count(intPart.begin(), intPart.end(), '0'));
    const int minFrac = static_cast<int>(std::count(fracPart.begin(), fracPart.end(), '0'));
    const int maxFrac = minFrac + static_cast<int>(std::count(fracPart.begin(), fracPart.end(), '#'));
    const bool group = intPart.find(',') != std::string_view::npos;

    if (!std::isfinite(value))
        return NonFinite(value);
    std::string whole;
    std::string fraction;
    FixedDigits(value, maxFrac, whole, fraction);
    while (static_cast<int>(fraction.size()) > minFrac && fraction.back() == '0')
        fraction.pop_back();
    if (whole == "0" && minInt == 0)
        whole.clear();
    if (static_cast<int>(whole.size()) < minInt)
        whole.insert(0, static_cast<std::size_t>(minInt) - whole.size(), '0');

    std::string out(section.substr(0, first));
    if (value < 0 && !AllZero(whole, fraction))
        out += '-';
    out += group ? Grouped(whole, fs.ThousandSeparator) : whole;
    if (!fraction.empty())
        out += fs.DecimalSeparator + fraction;
    out += section.substr(last + 1);
    return out;
}

namespace {

[[noreturn]] void ThrowBadFormat(std::string_view format)
{
    throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

std::string Padded(std::string text, int width, bool leftAlign)
{
    if (width > 0 && static_cast<int>(text.size()) < width) {
        const std::size_t fill = static_cast<std::size_t>(width) - text.size();
        if (leftAlign)
            text.append(fill, ' ');
        else
            text.insert(0, fill, ' ');
    }
    return text;
}

double AsFloat(const FormatArg& arg, std::string_view format)
{
    if (const auto* d = std::get_if<double>(&arg.value))
        return *d;
    ThrowBadFormat(format);
}

std::int64_t AsInteger(const FormatArg& arg, std::string_view format)
{
    if (const auto* i = std::get_if<std::int64_t>(&arg.value))
        return *i;
    ThrowBadFormat(format);
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<FormatArg> args, const TFormatSettings& fs)
{
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (++i >= format.size())
            ThrowBadFormat(format);
        if (format[i] == '%') {
            out += '%';
            continue;
        }
        const bool leftAlign = format[i] == '-';
        if (leftAlign)
            ++i;
        int width = 0;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9')
            width = width * 10 + (format[i++] - '0');
        int precision = -1;
        if (i < format.size() && format[i] == '.') {
            precision = 0;
            ++i;
            while (i < format.size() && format[i] >= '0' && format[i] <= '9') {
                precision = std::min(precision * 10 + (format[i++] - '0'), 64);
            }
        }
        if (i >= format.size() || next == args.end())
            ThrowBadFormat(format);
        const FormatArg& arg = *next++;
        std::string text;
        switch (format[i] | 0x20) {
        case 'd':
        case 'u': {
            const std::int64_t v = AsInteger(arg, format);
            text = std::to_string(v < 0 ? -static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v));
            if (precision > static_cast<int>(text.size()))
                text.insert(0, precision - text.size(), '0');
            if (v < 0)
                text.insert(0, 1, '-');
            break;
        }
        case 'x':
            text = IntToHex(static_cast<std::uint64_t>(AsInteger(arg, format)), precision);
            break;
        case 's': {
            const auto* s = std::get_if<std::string>(&arg.value);
            if (!s)
                ThrowBadFormat(format);
            text = precision >= 0 ? s->substr(0, static_cast<std::size_t>(precision)) : *s;
            break;
        }
        case 'f':
            text = FixedText(AsFloat(arg, format), precision < 0 ? 2 : precision, false, fs);
            break;
        case 'n':
            text = FixedText(AsFloat(arg, format), precision < 0 ? 2 : precision, true, fs);
            break;
        case 'g':
            text = GeneralText(AsFloat(arg, format), precision < 0 ? 15 : precision, fs);
            break;
        default:
            ThrowBadFormat(format);
        }
        out += Padded(std::move(text), width, leftAlign);
    }
    return out;
}

std::string TrimLeft(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ')
        ++i;
    return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && static_cast<unsigned char>(text[n - 1]) <= ' ')
        --n;
    return std::string(text.substr(0, n));
}

std::string Trim(std::string_view text)
{
    return TrimRight(TrimLeft(text));
}

int Pos(std::string_view sub, std::string_view text)
{
    return PosEx(sub, text, 1);
}

int PosEx(std::string_view sub, std::string_view text, int offset)
{
    if (sub.empty() || offset < 1 || static_cast<std::size_t>(offset) > text.size())
        return 0;
    const std::size_t at = text.find(sub, static_cast<std::size_t>(offset - 1));
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string Copy(std::string_view text, int index, int count)
{
    if (index < 1)
        index = 1;
    if (count <= 0 || static_cast<std::size_t>(index) > text.size())
        return {};
    return std::string(text.substr(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count)));
}

void Delete(std::string& text, int index, int count)
{
    if (index < 1 || count <= 0 || static_cast<std::size_t>(index) > text.size())
        return;
    text.erase(static_cast<std::size_t>(index - 1), static_cast<std::size_t>(count));
}

void Insert(std::string_view sub, std::string& text, int index)
{
    if (index < 1)
        index = 1;
    const std::size_t at = std::min(static_cast<std::size_t>(index - 1), text.size());
    text.insert(at, sub);
}

}  // namespace win
