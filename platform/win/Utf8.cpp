#include "platform/win/Utf8.h"

#include "platform/win/AsciiRuns.h"

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <locale.h>

namespace win {
namespace {

// A private C.UTF-8 locale: folding must not change with the program's global locale.
locale_t Utf8Locale()
{
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
    }();
    return loc;
}

}  // namespace

namespace {

// The length of the well-formed multi-byte sequence at p[i] with its code point in Cp; 0 when it
// is not one (bad lead or trail byte, cut short, overlong, surrogate, beyond U+10FFFF).
inline int MultiByteAt(const unsigned char* p, std::size_t n, std::size_t i, char32_t& Cp)
{
    const unsigned char b = p[i];
    int len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) {
        len = 2;
        cp = b & 0x1F;
        min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3;
        cp = b & 0x0F;
        min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4;
        cp = b & 0x07;
        min = 0x10000;
    }
    if (len == 0 || i + len > n)
        return 0;
    for (int k = 1; k < len; ++k) {
        if ((p[i + k] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    Cp = cp;
    return len;
}

}  // namespace

// Names are decoded per archive entry and per lookup: written in place, not pushed one by one.
std::u32string DecodeUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::u32string out(n, U'\0');
    char32_t* o = out.data();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            *o++ = p[i++];
            continue;
        }
        char32_t cp = 0;
        const int len = MultiByteAt(p, n, i, cp);
        *o++ = len ? cp : U'\uFFFD';
        i += len ? len : 1;
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

bool IsValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            i += AsciiPrefix(text.substr(i));
            continue;
        }
        char32_t cp = 0;
        const int len = MultiByteAt(p, n, i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        cp = U'\uFFFD';
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string EncodeUtf8(std::u32string_view text)
{
    std::string out(text.size(), '\0');
    std::size_t i = 0;
    for (; i < text.size() && text[i] < 0x80; ++i)
        out[i] = static_cast<char>(text[i]);
    if (i == text.size())
        return out;
    out.resize(i);
    for (; i < text.size(); ++i)
        AppendUtf8(out, text[i]);
    return out;
}

char32_t FoldCase(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), Utf8Locale()));
}

char32_t ToUpper(char32_t cp)
{
    if (cp < 0x80)
        return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), Utf8Locale()));
}

namespace {

bool IsAscii(std::string_view text)
{
    unsigned char any = 0;
    for (unsigned char c : text)
        any |= c;
    return any < 0x80;
}

template <class Map>
std::string MapText(std::string_view text, Map map)
{
    if (IsAscii(text)) {
        std::string out(text);
        for (char& c : out)
            c = static_cast<char>(map(static_cast<unsigned char>(c)));
        return out;
    }
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : DecodeUtf8(text))
        AppendUtf8(out, map(cp));
    return out;
}

}  // namespace

std::string FoldCase(std::string_view text)
{
    return MapText(text, [](char32_t c) { return FoldCase(c); });
}
std::string LowerCase(std::string_view text)
{
    return FoldCase(text);
}
std::string UpperCase(std::string_view text)
{
    return MapText(text, [](char32_t c) { return ToUpper(c); });
}

int CompareText(std::string_view a, std::string_view b)
{
    // Plain ASCII, the common case, needs no decoding.
    if (IsAscii(a) && IsAscii(b)) {
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t p = FoldCase(static_cast<unsigned char>(a[i]));
            const char32_t q = FoldCase(static_cast<unsigned char>(b[i]));
            if (p != q)
                return p < q ? -1 : 1;
        }
        return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
    }
    const std::u32string x = DecodeUtf8(a);
    const std::u32string y = DecodeUtf8(b);
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t p = FoldCase(x[i]);
        const char32_t q = FoldCase(y[i]);
        if (p != q)
            return p < q ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
}

bool SameText(std::string_view a, std::string_view b)
{
    // Asked for every file written (is it the archive?): the ASCII start is compared in place, and
    // an ASCII letter that differs, or one text ending first, settles it without decoding.
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto p = static_cast<unsigned char>(a[i]), q = static_cast<unsigned char>(b[i]);
        if (p >= 0x80 || q >= 0x80)
            return CompareText(a.substr(i), b.substr(i)) == 0;
        if (p != q && FoldCase(p) != FoldCase(q))
            return false;
    }
    return a.size() == b.size();
}

}  // namespace win
