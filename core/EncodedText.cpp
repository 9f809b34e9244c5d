#include "core/EncodedText.h"

#include <cctype>

namespace {

constexpr std::string_view kUu = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr std::string_view kXx = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char Lower(char c)
{
    return char(std::tolower(static_cast<unsigned char>(c)));
}

std::string_view TrimRight(std::string_view s)
{
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The value of Key= in a header line (Key matched without case and not as the end of a longer
// word), quoted or up to ";" or a blank.
bool ParameterValue(std::string_view Line, std::string_view Key, std::string& Value)
{
    for (std::size_t at = 0; at + Key.size() <= Line.size(); ++at) {
        if (!StartsWithNoCase(Line.substr(at), Key))
            continue;
        if (at > 0 && std::isalnum(static_cast<unsigned char>(Line[at - 1])))
            continue;
        std::string_view rest = Line.substr(at + Key.size());
        if (!rest.empty() && rest.front() == '"') {
            rest.remove_prefix(1);
            Value = std::string(rest.substr(0, rest.find('"')));
        } else {
            Value = std::string(TrimRight(rest.substr(0, rest.find_first_of("; \t"))));
        }
        return !Value.empty();
    }
    return false;
}

}  // namespace

std::string_view AlphabetOf(TTextCode Code)
{
    switch (Code) {
    case TTextCode::Uu:
        return kUu;
    case TTextCode::Xx:
        return kXx;
    case TTextCode::Base64:
        break;
    }
    return kBase64;
}

TReverseAlphabet::TReverseAlphabet(std::string_view Alphabet, bool BlankIsZero)
{
    Value.fill(-1);
    // The first place of a character counts, as a custom table may repeat one.
    for (std::size_t i = 0; i < Alphabet.size() && i < 64; ++i)
        if (Value[static_cast<unsigned char>(Alphabet[i])] < 0)
            Value[static_cast<unsigned char>(Alphabet[i])] = std::int8_t(i);
    if (BlankIsZero)
        Value[' '] = 0;
}

bool StartsWithNoCase(std::string_view Text, std::string_view Prefix)
{
    if (Text.size() < Prefix.size())
        return false;
    for (std::size_t i = 0; i < Prefix.size(); ++i)
        if (Lower(Text[i]) != Lower(Prefix[i]))
            return false;
    return true;
}

bool ParseBeginLine(std::string_view Line, TBeginLine& Out)
{
    std::string_view rest;
    bool base64 = false;
    if (Line.starts_with("begin-base64 ")) {
        base64 = true;
        rest = Line.substr(13);
    } else if (Line.starts_with("begin ")) {
        rest = Line.substr(6);
    } else {
        return false;
    }
    std::size_t digits = 0;
    while (digits < rest.size() && digits < 6 && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    // Prose that happens to start with "begin" has no mode before the name.
    if (digits == 0 || digits >= rest.size() || rest[digits] != ' ')
        return false;
    std::string_view name = TrimRight(rest.substr(digits + 1));
    if (name.empty())
        return false;
    if (name.find('.') == std::string_view::npos)
        name = name.substr(0, name.find(' '));
    Out.Base64 = base64;
    Out.Mode = std::string(rest.substr(0, digits));
    Out.Name = std::string(name);
    return true;
}

void TMimePartHeader::Take(std::string_view Line)
{
    if (StartsWithNoCase(Line, "Content-Transfer-Encoding:")) {
        std::string_view value = Line.substr(26);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        Base64 = StartsWithNoCase(value, "base64");
        return;
    }
    std::string value;
    if (ParameterValue(Line, "filename=", value)) {
        Name = value;
        FFromDisposition = true;
    } else if (!FFromDisposition && ParameterValue(Line, "name=", value)) {
        Name = value;
    }
}

bool IsEndLine(std::string_view Line)
{
    Line = TrimRight(Line);
    return Line.size() == 3 && StartsWithNoCase(Line, "end");
}

TArcType EncodedTextType(std::string_view Head, std::string* Name)
{
    TMimePartHeader part;
    std::size_t pos = 0;
    while (pos < Head.size()) {
        std::size_t end = Head.find('\n', pos);
        if (end == std::string_view::npos)
            end = Head.size();
        std::string_view line = Head.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        TBeginLine begin;
        if (ParseBeginLine(line, begin)) {
            if (Name)
                *Name = begin.Name;
            return begin.Base64 ? atB64 : atUUE;
        }
        if (TrimRight(line).empty()) {
            if (part.Base64) {
                if (Name)
                    *Name = part.Name;
                return atB64;
            }
            part = TMimePartHeader{};
            continue;
        }
        part.Take(line);
    }
    if (part.Base64 && Name)
        *Name = part.Name;
    return part.Base64 ? atB64 : atNA;
}
