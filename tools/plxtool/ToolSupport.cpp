#include "tools/plxtool/ToolSupport.h"

#include "core/plxConsts.h"
#include "platform/win/AsciiRuns.h"
#include "platform/win/ShownPath.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

namespace plxtool {

void PrintError(int Code, const std::string& File, const std::string& Extended)
{
    std::fprintf(stderr, "plxtool: %d %s: %s%s%s\n", Code, std::string(LoadMessage(Code)).c_str(),
                 Shown(ShownPath(File)).c_str(),
                 Extended.empty() ? "" : " ", Shown(Extended).c_str());
}

namespace {

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

// A C1 control in UTF-8: C2 80 to C2 9F.
bool IsC1At(std::string_view Name, std::size_t i)
{
    return static_cast<unsigned char>(Name[i]) == 0xC2 && i + 1 < Name.size() &&
           static_cast<unsigned char>(Name[i + 1]) >= 0x80 && static_cast<unsigned char>(Name[i + 1]) <= 0x9F;
}

// The length of the part of Name that is shown as it is.
std::size_t PlainPrefix(std::string_view Name)
{
    for (std::size_t i = win::PrintableAsciiPrefix(Name); i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (IsControl(c) || (c == 0xC2 && IsC1At(Name, i)))
            return i;
    }
    return Name.size();
}

}  // namespace

void AppendShown(std::string& Out, std::string_view Name)
{
    // Nearly every name is printable ASCII throughout, told by a scan of its own words.
    if (win::PrintableAsciiPrefix(Name) == Name.size() || PlainPrefix(Name) == Name.size())
        Out.append(Name);
    else
        Out += Shown(Name);
}

std::string Shown(std::string_view Name)
{
    const auto control = [](unsigned char c) { return IsControl(c); };
    const auto c1 = [&Name](std::size_t i) { return IsC1At(Name, i); };
    std::size_t i = PlainPrefix(Name);
    if (i == Name.size())
        return std::string(Name);
    std::string out(Name.substr(0, i));
    for (; i < Name.size(); ++i) {
        const auto c = static_cast<unsigned char>(Name[i]);
        if (control(c)) {
            out += '^';
            out += char(c ^ 0x40);
        } else if (c1(i)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(Name[++i]));
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

bool Confirm(const std::string& Question)
{
    std::cerr << Question << " [Enter: go on, q: cancel] " << std::endl;
    std::string line;
    return std::getline(std::cin, line) && line != "q";
}

std::string EnginePath(const std::string& HostPath)
{
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::absolute(HostPath, ec).lexically_normal();
    std::string s = ec ? HostPath : p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    // The engine keeps paths in Windows form; "/" is drive Z:.
    std::replace(s.begin(), s.end(), '/', '\\');
    return s.starts_with('\\') ? "Z:" + s : s;
}

}  // namespace plxtool
