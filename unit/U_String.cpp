#include "unit/U_String.h"

#include "platform/win/CodePage.h"
#include "platform/win/SysStrings.h"
#include "unit/U_FileUtils.h"

#include <array>

namespace {

const std::string Nbsp = "\u00A0";

}  // namespace

void ReplaceChar(std::string& text, std::string_view what, std::string_view replacement)
{
    ReplaceAll(text, what, replacement);
}

void ReplaceAll(std::string& text, std::string_view oldText, std::string_view newText)
{
    if (oldText.empty() || oldText == newText)
        return;
    for (std::size_t pos = text.find(oldText); pos != std::string::npos; pos = text.find(oldText, pos)) {
        text.replace(pos, oldText.size(), newText);
        pos += newText.size();
    }
}

std::string PadLeft(std::string_view text, int length, char fill)
{
    const int limit = std::min(length, 255);
    std::string result(text);
    if (static_cast<int>(result.size()) < limit)
        result.insert(0, static_cast<std::size_t>(limit) - result.size(), fill);
    return result;
}

std::string FormatNumber(double value, int flags)
{
    static const std::array<const char*, 6> Patterns{"#,##0.00", "#,##0.0",   "#,##0",
                                                     "###0.00",  "#,##0.000", "#,##0.0000"};
    const std::size_t index = flags >= 0 && flags < static_cast<int>(Patterns.size()) ? flags : 0;
    return win::FormatFloat(Patterns[index], value);
}

int StrToIntSafe(std::string_view text)
{
    const std::string digits = DeleteSpaces(text);
    std::int64_t wide = 0;
    if (!win::TryStrToInt64(digits, wide)) {
        // Too many digits for 64 bits is still a number, only too large.
        const std::string_view body =
            std::string_view(digits).substr(!digits.empty() && (digits[0] == '-' || digits[0] == '+') ? 1 : 0);
        const bool allDigits = !body.empty() && body.find_first_not_of("0123456789") == std::string_view::npos;
        if (!allDigits)
            return 0;
        throw win::EConvertError("'" + std::string(text) + "' is out of the integer range");
    }
    if (wide < INT32_MIN || wide > INT32_MAX)
        throw win::EConvertError("'" + std::string(text) + "' is out of the integer range");
    return static_cast<int>(wide);
}

std::string CopyBetween(std::string_view text, std::string_view startMark, std::string_view endMark)
{
    const std::size_t start = startMark.empty() ? 0 : text.find(startMark);
    if (start == std::string_view::npos)
        return {};
    if (endMark.empty())
        return std::string(text.substr(start));
    const std::size_t end = text.find(endMark, start + startMark.size());
    if (end == std::string_view::npos)
        return std::string(text.substr(start));
    return std::string(text.substr(start, end + endMark.size() - start));
}

bool ExtractBetween(std::string& text, std::string_view open, std::string_view close, std::string& part, int keepMode,
                    int cutMode)
{
    part.clear();
    const std::size_t start = text.find(open);
    if (open.empty() || close.empty() || start == std::string::npos)
        return false;
    const std::size_t end = text.find(close, start + open.size());
    if (end == std::string::npos)
        return false;
    part = keepMode == 0 ? text.substr(start + open.size(), end - start - open.size())
                         : text.substr(start, end + close.size() - start);
    if (cutMode == 0)
        text.erase(start, end + close.size() - start);
    return true;
}

void CutToken(std::string& text, std::string_view separator, std::string& head)
{
    const std::size_t pos = separator.empty() ? std::string::npos : text.find(separator);
    if (pos == std::string::npos) {
        head = text;
        return;
    }
    head = text.substr(0, pos);
    text.erase(0, pos + separator.size());
}

bool IsTrueFlag(std::string_view text)
{
    return !text.empty() && (text[0] == '-' || text[0] == '1' || text[0] == 'T' || text[0] == 't');
}

std::vector<std::string> IniSectionLines(const std::vector<std::string>& lines, std::string_view section)
{
    std::vector<std::string> body;
    bool inside = false;
    for (const std::string& line : lines) {
        const std::string trimmed = win::Trim(line);
        if (trimmed.starts_with('[')) {
            if (inside)
                break;
            const std::size_t close = trimmed.find(']');
            inside = close != std::string::npos && win::SameText(trimmed.substr(1, close - 1), section);
            continue;
        }
        if (inside)
            body.push_back(line);
    }
    return body;
}

bool ReadIniSection(const std::string& fileName, std::string_view section, std::vector<std::string>& list)
{
    std::string bytes;
    if (!ReadWholeFile(fileName, bytes))
        return false;
    std::vector<std::string> lines;
    std::string text = win::AnsiToUtf8(bytes);
    ReplaceAll(text, "\r\n", "\n");
    std::string head;
    while (!text.empty()) {
        const std::size_t before = text.size();
        CutToken(text, "\n", head);
        lines.push_back(head);
        if (text.size() == before)
            break;
    }
    const std::vector<std::string> body = IniSectionLines(lines, section);
    list.insert(list.end(), body.begin(), body.end());
    return true;
}

std::string NbspToSpace(std::string_view text)
{
    std::string result(text);
    ReplaceAll(result, Nbsp, " ");
    return result;
}

std::string DeleteSpaces(std::string_view text)
{
    std::string result(text);
    ReplaceAll(result, Nbsp, "");
    std::erase(result, ' ');
    return result;
}

std::string RemoveLineBreaks(std::string_view text)
{
    std::string result(text);
    ReplaceAll(result, "\r\n", "");
    return result;
}

std::string CutAtTab(std::string_view text)
{
    return std::string(text.substr(0, text.find('\t')));
}
