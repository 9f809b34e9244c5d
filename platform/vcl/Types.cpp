#include "platform/vcl/Types.h"

#include "platform/win/Utf8.h"

#include <algorithm>
#include <cctype>

namespace vcl {

TColor ColorToRGB(TColor color)
{
    if ((unsigned(color) & 0xFF000000u) != 0xFF000000u)
        return color & 0xFFFFFF;
    // A classic light-grey scheme: what the forms were laid out against.
    static const TColor system[] = {0xC8C8C8, 0xA56E3A, 0x6A240A, 0x808080, 0xFFFFFF, 0xFFFFFF, 0x000000,
                                    0x000000, 0x000000, 0xFFFFFF, 0xC0C0C0, 0xC0C0C0, 0x808080, 0x6A240A,
                                    0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC0C0C0, 0xFFFFFF,
                                    0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF};
    unsigned index = unsigned(color) & 0xFF;
    return index < std::size(system) ? system[index] : 0;
}

TRect IntersectRect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    if (r.Empty())
        return TRect{};
    return r;
}

namespace {
const char* const resultNames[] = {"",    "OK", "Cancel", "Abort",   "Retry",   "Ignore",
                                   "Yes", "No", "All",    "NoToAll", "YesToAll"};
}

std::string ModalResultName(TModalResult r)
{
    if (r >= 0 && r < int(std::size(resultNames)))
        return resultNames[r];
    return std::to_string(r);
}

TModalResult ModalResultFromName(const std::string& name)
{
    for (int i = 1; i < int(std::size(resultNames)); ++i)
        if (win::SameText(name, resultNames[i]))
            return i;
    return mrNone;
}

std::u32string ToU32(const std::string& s)
{
    return win::DecodeUtf8(s);
}
std::string ToUtf8(const std::u32string& s)
{
    return win::EncodeUtf8(s);
}
std::string ToUtf8(char32_t c)
{
    std::string out;
    win::AppendUtf8(out, c);
    return out;
}

std::string StripHotkey(const std::string& caption)
{
    std::string out;
    for (size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&')
                out += '&', ++i;
            continue;
        }
        out += caption[i];
    }
    return out;
}

char HotkeyOf(const std::string& caption)
{
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        unsigned char c = static_cast<unsigned char>(caption[i + 1]);
        return std::isalnum(c) ? char(std::toupper(c)) : 0;
    }
    return 0;
}

std::string WithFreeHotkey(const std::string& caption, const std::string& taken)
{
    const char own = HotkeyOf(caption);
    if (own && taken.find(own) == std::string::npos)
        return caption;
    std::string plain = StripHotkey(caption), out;
    bool placed = false;
    for (char c : plain) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (!placed && u < 0x80 && std::isalnum(u) && taken.find(char(std::toupper(u))) == std::string::npos) {
            out += '&';
            placed = true;
        }
        out += c;
        if (c == '&')
            out += '&';
    }
    return out;
}

}  // namespace vcl
