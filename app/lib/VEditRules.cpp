#include "app/lib/VEditRules.h"

#include "platform/win/Time.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vedit {

TClock Now()
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsSeparator(char c, char separator)
{
    return c == ',' || c == '.' || c == separator;
}

std::string GroupDigits(const std::string& digits, int groupCount)
{
    if (groupCount <= 0)
        return digits;
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % size_t(groupCount) == 0)
            out += ' ';
        out += digits[i];
    }
    return out;
}

std::string TwoDigits(int v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return buf;
}

// A limit or value as the messages show it: up to 4 places, trailing zeros dropped.
std::string ShortNumber(double value, char separator)
{
    std::string text = NumberText(value, 4, 3, separator);
    size_t sep = text.find(separator);
    if (sep == std::string::npos)
        return text;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == separator)
        text.pop_back();
    return text;
}

}  // namespace

std::optional<double> ReadNumber(const std::string& text, char separator)
{
    std::string plain;
    bool seenSeparator = false, seenDigit = false;
    for (char c : text) {
        if (IsDigit(c)) {
            plain += c;
            seenDigit = true;
        } else if (IsSeparator(c, separator) && !seenSeparator) {
            plain += '.';
            seenSeparator = true;
        } else if (c == '-' && plain.empty()) {
            plain += '-';
        }
    }
    if (!seenDigit)
        return std::nullopt;
    return std::strtod(plain.c_str(), nullptr);
}

std::string NumberText(double value, int decimals, int groupCount, char separator)
{
    value = std::round(value * 10000.0) / 10000.0;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals < 0 ? 0 : decimals, std::fabs(value));
    std::string fixed = buf;
    size_t dot = fixed.find('.');
    std::string out = GroupDigits(fixed.substr(0, dot), groupCount);
    if (dot != std::string::npos)
        out += separator + fixed.substr(dot + 1);
    bool zero = fixed.find_first_not_of("0.") == std::string::npos;
    return (value < 0 && !zero) ? "-" + out : out;
}

std::string DisplayNumberText(const std::string& text, int decimals, int groupCount, char separator)
{
    std::string integer, fraction;
    bool negative = false, inFraction = false;
    for (char c : text) {
        if (c == '-' && integer.empty() && !inFraction)
            negative = true;
        else if (IsSeparator(c, separator) && !inFraction)
            inFraction = true;
        else if (IsDigit(c))
            (inFraction ? fraction : integer) += c;
    }
    if (integer.empty() && fraction.empty())
        return text;
    // The minus counts as a character of the integer part it is grouped with.
    std::string out = GroupDigits((negative ? "-" : "") + integer, groupCount);
    if (decimals > 0 && inFraction)
        out += separator + fraction.substr(0, size_t(decimals));
    return out;
}

std::optional<std::string> CheckNumber(const std::string& entered, std::optional<double> value,
                                       const TNumberLimits& limits, char separator)
{
    // Entered texts are joined to the message, never used as a format.
    if (!value)
        return "Zadaná číselná hodnota \"" + entered + "\" není číslo !";
    double v = *value;
    const char* area = nullptr;
    switch (limits.Area) {
    case naOnlyPositive:
        area = v <= 0 ? "Zadání je pouze pro kladná čísla." : nullptr;
        break;
    case naOnlyNegative:
        area = v >= 0 ? "Zadání je pouze pro záporná čísla." : nullptr;
        break;
    case naPositive:
        area = v < 0 ? "Zadání platí pro kladná čísla." : nullptr;
        break;
    case naNegative:
        area = v > 0 ? "Zadání platí pro záporná čísla." : nullptr;
        break;
    case naUnspecified:
        break;
    }
    if (area)
        return std::string(area) + "\n" + NumberText(v, 2, 3, separator) + " nevyhovuje.";
    bool testMax = !(limits.ValueMax == 0 && limits.ValueMin >= 0);
    bool testMin = !(limits.ValueMin == 0 && limits.ValueMax <= 0);
    if (testMax && v > limits.ValueMax)
        return "Maximální číselná hodnota je \"" + ShortNumber(limits.ValueMax, separator) + "\"";
    if (testMin && v < limits.ValueMin)
        return "Minimální číselná hodnota je \"" + ShortNumber(limits.ValueMin, separator) + "\"";
    return std::nullopt;
}

std::string TMaskLayout::EmptyText() const
{
    std::string out = Shown;
    for (char& c : out)
        if (c == '#')
            c = '_';
    return out;
}

TMaskLayout LayoutOf(const std::string& mask)
{
    TMaskLayout layout;
    layout.Mask = mask;
    layout.DateTime = !mask.empty() && (mask[0] == '!' || mask[0] == '?');
    for (size_t i = layout.DateTime ? 1 : 0; i < mask.size(); ++i) {
        char c = mask[i];
        bool digit = layout.DateTime ? IsDigit(c) : (c == '0' || c == '9');
        layout.Shown += digit ? '#' : c;
    }
    return layout;
}

std::string CompleteToMask(const TMaskLayout& layout, const std::string& text)
{
    std::string out = layout.EmptyText();
    for (size_t i = 0; i < out.size(); ++i) {
        if (!layout.IsDigit(i))
            continue;
        if (i < text.size())
            out[i] = text[i];
    }
    return out;
}

namespace {

enum TMaskKind { mkUnknown, mkDate4, mkDate2, mkDayMonth, mkTimeSec, mkTimeMs, mkTimeMin, mkTimeFree, mkQuarter };

TMaskKind KindOf(const std::string& mask)
{
    static const struct {
        const char* mask;
        TMaskKind kind;
    } known[] = {{"!99.99.9999", mkDate4},    {"!99.99.99", mkDate2}, {"!99.99", mkDayMonth}, {"!99:99:99", mkTimeSec},
                 {"!99:99:99.999", mkTimeMs}, {"!99:99", mkTimeMin},  {"?99:99", mkTimeFree}, {"!99:15", mkQuarter}};
    for (const auto& k : known)
        if (mask == k.mask)
            return k.kind;
    return mkUnknown;
}

bool IsDateKind(TMaskKind k)
{
    return k == mkDate4 || k == mkDate2 || k == mkDayMonth;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// A two-digit year up to this year's two digits is of this century, a later one of the last:
// the window moves with the current year.
int WindowedYear(int yy, int currentYear)
{
    const int century = currentYear - currentYear % 100;
    if (yy < 10 || yy <= currentYear % 100)
        return century + yy;
    return century - 100 + yy;
}

struct TPart {
    bool valid = true;  // false when the part holds a character that is not a digit
    bool empty = false;
    int value = 0;
};

TPart ReadPart(const std::string& text, size_t from, size_t length, bool fill, int emptyFill = 99)
{
    TPart part;
    std::string digits;
    for (size_t i = from; i < from + length && i < text.size(); ++i) {
        if (text[i] == '_')
            continue;
        if (!IsDigit(text[i]))
            return {false, false, 0};
        digits += text[i];
    }
    part.empty = digits.empty();
    part.value = part.empty ? (fill ? emptyFill : 0) : std::atoi(digits.c_str());
    return part;
}

// Day, month, hours, minutes and seconds share one rule: small values take two digits, values
// within the range stay, larger ones become now's value or lose their first digit.
std::string ReviseTwoDigitPart(int value, int low, int high, int nowValue, bool fill, const std::string& typed)
{
    if (value < 10)
        return TwoDigits(value < low ? low : value);
    if (value <= high)
        return TwoDigits(value);
    if (fill)
        return TwoDigits(nowValue);
    return "0" + typed.substr(typed.size() - 1);
}

std::string Typed(const std::string& text, size_t from, size_t length)
{
    std::string t;
    for (size_t i = from; i < from + length && i < text.size(); ++i)
        if (text[i] != '_')
            t += text[i];
    return t.empty() ? "0" : t;
}

std::string ReviseDate(TMaskKind kind, std::string text, bool fill, bool keepEmpty, const TClock& now)
{
    TPart day = ReadPart(text, 0, 2, fill), month = ReadPart(text, 3, 2, fill);
    size_t yearLength = kind == mkDate4 ? 4 : kind == mkDate2 ? 2 : 0;
    TPart year = yearLength ? ReadPart(text, 6, yearLength, fill) : TPart{};
    if (!day.valid || !month.valid || !year.valid)
        return text;
    bool untouched = text == "__.__.__" || text == "__.__.____";
    // Without filling from now a missing day means no date: 01.01. would be a date nobody typed.
    if (day.empty && !fill)
        return "";
    if (!(keepEmpty && untouched)) {
        std::string d = ReviseTwoDigitPart(day.value, 1, 31, now.Day, fill, Typed(text, 0, 2));
        std::string m = ReviseTwoDigitPart(month.value, 1, 12, now.Month, fill, Typed(text, 3, 2));
        std::string y;
        if (kind == mkDate4) {
            if (year.empty || (year.value >= 100 && year.value <= 999))
                y = std::to_string(now.Year);
            else if (year.value < 100)
                y = std::to_string(WindowedYear(year.value, now.Year));
            else
                y = Typed(text, 6, 4);
        } else if (kind == mkDate2) {
            y = year.empty ? TwoDigits(now.Year) : TwoDigits(year.value);
        }
        text = d + "." + m + (yearLength ? "." + y : "");
    }
    // Completed against today: the day decides whether there is a date at all.
    TPart dd = ReadPart(text, 0, 2, false), mm = ReadPart(text, 3, 2, false);
    TPart yy = yearLength ? ReadPart(text, 6, yearLength, false) : TPart{};
    if (dd.empty || dd.value == 0)
        return "";
    int m = (mm.empty || mm.value < 1 || mm.value > 12) ? now.Month : mm.value;
    int y = now.Year;
    std::string yearText;
    if (kind == mkDate4) {
        y = yy.empty ? now.Year : yy.value;
        yearText = std::to_string(y);
    } else if (kind == mkDate2) {
        int two = yy.empty ? now.Year % 100 : yy.value;
        y = WindowedYear(two, now.Year);
        yearText = TwoDigits(two);
    }
    int d = std::min(dd.value, DaysInMonth(y, m));
    return TwoDigits(d) + "." + TwoDigits(m) + (yearLength ? "." + yearText : "");
}

std::string ReviseTime(TMaskKind kind, const std::string& text, bool fill, const TClock& now)
{
    TPart h = ReadPart(text, 0, 2, fill), mi = ReadPart(text, 3, 2, fill);
    bool seconds = kind == mkTimeSec || kind == mkTimeMs;
    TPart s = seconds ? ReadPart(text, 6, 2, fill) : TPart{};
    TPart ms = kind == mkTimeMs ? ReadPart(text, 9, 3, fill, 999) : TPart{};
    if (!h.valid || !mi.valid || !s.valid || !ms.valid)
        return text;
    std::string out =
        kind == mkTimeFree ? TwoDigits(h.value) : ReviseTwoDigitPart(h.value, 0, 24, now.Hour, fill, Typed(text, 0, 2));
    // 24:00 ends a day: hour 24 and minute 60 are kept as typed.
    std::string minutes = ReviseTwoDigitPart(mi.value, 0, 60, now.Minute, fill, Typed(text, 3, 2));
    if (kind == mkQuarter) {
        // The quarter is judged by what was typed, not by its revision.
        if (mi.value % 15 != 0 || mi.value > 45)
            minutes = "__";
    }
    out += ":" + minutes;
    if (seconds)
        out += ":" + ReviseTwoDigitPart(s.value, 0, 60, now.Second, fill, Typed(text, 6, 2));
    if (kind == mkTimeMs) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", ms.value % 1000);
        out += std::string(".") + buf;
    }
    return out;
}

std::string CurrentText(TMaskKind kind, const TClock& now)
{
    switch (kind) {
    case mkDate4:
        return TwoDigits(now.Day) + "." + TwoDigits(now.Month) + "." + std::to_string(now.Year);
    case mkDate2:
        return TwoDigits(now.Day) + "." + TwoDigits(now.Month) + "." + TwoDigits(now.Year);
    case mkDayMonth:
        return TwoDigits(now.Day) + "." + TwoDigits(now.Month);
    case mkTimeSec:
        return TwoDigits(now.Hour) + ":" + TwoDigits(now.Minute) + ":" + TwoDigits(now.Second);
    case mkTimeMs: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%03d", now.Millisecond);
        return CurrentText(mkTimeSec, now) + "." + buf;
    }
    default:
        return TwoDigits(now.Hour) + ":" + TwoDigits(now.Minute);
    }
}

}  // namespace

std::string ReviseMaskText(const std::string& mask, const std::string& text, TMaskOn onEnter, TMaskOn onExit,
                           const TClock& now)
{
    TMaskKind kind = KindOf(mask);
    TMaskOn mode = onEnter != moNone ? onEnter : onExit;
    if (kind == mkUnknown || mode == moNone)
        return text;
    std::string complete = CompleteToMask(LayoutOf(mask), text);
    bool fill = onEnter == moRevisionSys || onExit == moRevisionSpec || onExit == moRevisionSys;
    if (mode == moSystem) {
        if (complete.find_first_not_of("_.:") == std::string::npos)
            return CurrentText(kind, now);
        fill = true;
    }
    return IsDateKind(kind) ? ReviseDate(kind, complete, fill, onExit == moRevisionSpec, now)
                            : ReviseTime(kind, complete, fill, now);
}

namespace {

// The caret after a character written at `pos`: one on, and over a literal that follows.
int CaretAfter(const TMaskLayout& layout, size_t pos)
{
    size_t caret = pos + 1;
    if (caret < layout.Shown.size() && !layout.IsDigit(caret))
        ++caret;
    return int(caret);
}

// The first digit position at or after `pos`, or the text's length.
size_t DigitAtOrAfter(const TMaskLayout& layout, size_t pos)
{
    while (pos < layout.Shown.size() && !layout.IsDigit(pos))
        ++pos;
    return pos;
}

TMaskEdit EditDateTime(const TMaskLayout& layout, std::string text, size_t selStart, size_t selLength, TMaskKey key,
                       char ch)
{
    size_t size = text.size();
    if (selLength >= 2) {
        for (size_t i = selStart; i < selStart + selLength && i < size; ++i)
            if (layout.IsDigit(i))
                text[i] = '_';
        if (key != mkChar)
            return {text, int(selStart)};
    }
    size_t caret = selStart;
    switch (key) {
    case mkBackspace:
        // A literal left of the caret is stepped over: the digit before it is the one meant.
        while (caret > 0 && !layout.IsDigit(caret - 1))
            --caret;
        if (caret == 0)
            return {text, int(selStart)};
        text[caret - 1] = '_';
        return {text, int(caret - 1)};
    case mkDelete: {
        size_t end = caret;
        while (end < size && layout.IsDigit(end))
            ++end;
        if (end > caret) {
            text.erase(caret, 1);
            text.insert(end - 1, 1, '_');
        }
        return {text, int(caret)};
    }
    case mkChar: {
        size_t pos = DigitAtOrAfter(layout, caret);
        if (pos >= size)
            return {text, int(caret)};
        text[pos] = ch;
        return {text, CaretAfter(layout, pos)};
    }
    }
    return {text, int(caret)};
}

TMaskEdit EditGeneral(const TMaskLayout& layout, const std::string& text, size_t selStart, size_t selLength,
                      TMaskKey key, char ch)
{
    // The digit positions as one row: removing closes it up, inserting pushes it on.
    std::vector<size_t> positions;
    std::string slots;
    for (size_t i = 0; i < layout.Shown.size(); ++i)
        if (layout.IsDigit(i)) {
            positions.push_back(i);
            slots += i < text.size() ? text[i] : '_';
        }
    auto slotAt = [&](size_t pos) {
        size_t k = 0;
        while (k < positions.size() && positions[k] < pos)
            ++k;
        return k;
    };
    size_t caret = selStart;
    size_t from = slotAt(selStart), to = slotAt(selStart + selLength);
    if (selLength > 0) {
        slots.erase(from, to - from);
    } else if (key == mkBackspace) {
        if (from == 0)
            return {text, int(caret)};
        slots.erase(from - 1, 1);
        caret = positions[from - 1];
        from -= 1;
    } else if (key == mkDelete && from < slots.size()) {
        slots.erase(from, 1);
    }
    int newCaret = int(caret);
    if (key == mkChar) {
        if (from >= positions.size() && slots.size() >= positions.size())
            return {CompleteToMask(layout, text), int(caret)};
        if (from < slots.size() && slots[from] == '_')
            slots[from] = ch;
        else
            slots.insert(from, 1, ch);
        newCaret = from < positions.size() ? CaretAfter(layout, positions[from]) : int(caret);
    }
    slots.resize(positions.size(), '_');
    std::string out = layout.EmptyText();
    for (size_t k = 0; k < positions.size(); ++k)
        out[positions[k]] = slots[k];
    return {out, newCaret};
}

}  // namespace

TMaskEdit EditMasked(const TMaskLayout& layout, const std::string& text, int selStart, int selLength, TMaskKey key,
                     char ch)
{
    std::string complete = layout.DateTime ? CompleteToMask(layout, text) : text;
    if (!layout.DateTime) {
        // Literals go back to their places; the shown row never outgrows the mask.
        complete.resize(layout.Shown.size(), '_');
        for (size_t i = 0; i < layout.Shown.size(); ++i)
            if (!layout.IsDigit(i))
                complete[i] = layout.Shown[i];
    }
    size_t start = size_t(std::max(0, std::min(selStart, int(complete.size()))));
    size_t length = size_t(std::max(0, std::min(selLength, int(complete.size() - start))));
    return layout.DateTime ? EditDateTime(layout, complete, start, length, key, ch)
                           : EditGeneral(layout, complete, start, length, key, ch);
}

}  // namespace vedit
