// Path and name rules, and the thin path wrappers over the platform.
#include "core/plxGbls.h"
#include "core/plxHooks.h"

#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

#include <cstring>

namespace {

bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

std::vector<std::string> SplitComponents(std::string_view path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

int CompareNames(std::string_view A, std::string_view B)
{
    return win::CompareText(A, B);
}
int CompareStrWrap(std::string_view A, std::string_view B)
{
    return A.compare(B) < 0 ? -1 : A.compare(B) > 0;
}
std::string ChangeExt(const std::string& Name, const std::string& Ext)
{
    return win::ChangeFileExt(Name, Ext);
}
std::string ExpandName(std::string_view Name)
{
    return win::ExpandFileName(Name);
}
std::string ExtractDir(std::string_view Name)
{
    return win::ExtractFileDir(Name);
}
std::string ExtractExt(std::string_view Name)
{
    return win::ExtractFileExt(Name);
}
std::string ExtractName(std::string_view Name)
{
    return win::ExtractFileName(Name);
}
std::string ExtractPath(std::string_view Name)
{
    return win::ExtractFilePath(Name);
}
std::string ExtractDrive(std::string_view Name)
{
    return win::ExtractFileDrive(Name);
}
std::string GetFullPath(std::string_view Name)
{
    return win::FullPathOf(Name);
}
std::string GetCurDir()
{
    return win::CurrentDirectory();
}

bool ChangeDirOfFile(const std::string& FileName)
{
    return SetCurrentDirectoryA(win::ExtractFileDir(FileName).c_str()) != FALSE;
}

bool InputQueryText(const std::string& Caption, const std::string& Prompt, std::string& Value)
{
    return ShowInputQuery(Caption, Prompt, Value);
}

bool BrowseForDir(const std::string& Caption, std::string& Dir)
{
    std::string chosen = Dir;
    if (!ShowBrowseForDir(Caption, chosen) || chosen.empty() || !SetCurrentDirectoryA(chosen.c_str()))
        return false;
    Dir = chosen;
    return true;
}

char LastChar(std::string_view Text)
{
    return Text.empty() ? '\0' : Text.back();
}

std::string UpCaseAscii(std::string_view Text)
{
    std::string out(Text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

// "\" is ASCII, so it can never be the tail of a UTF-8 sequence: the last byte decides.
std::string AppendBackslash(std::string_view Path)
{
    if (Path.empty() || Path.back() == '\\')
        return std::string(Path);
    return std::string(Path) + '\\';
}

std::string RemoveBackslash(std::string_view Path)
{
    if (!Path.empty() && Path.back() == '\\')
        Path.remove_suffix(1);
    return std::string(Path);
}

std::string JoinPath(std::string_view Dir, std::string_view Name)
{
    std::string path;
    JoinPathInto(path, Dir, Name);
    return path;
}

void JoinPathInto(std::string& Out, std::string_view Dir, std::string_view Name)
{
    if (Dir.empty()) {
        Out.assign(Name);
        return;
    }
    while (!Name.empty() && Name.front() == '\\')
        Name.remove_prefix(1);
    // One allocation at most: every scanned file's path is joined here.
    const bool separate = Dir.back() != '\\';
    Out.clear();
    Out.reserve(Dir.size() + (separate ? 1 : 0) + Name.size());
    Out.append(Dir);
    if (separate)
        Out.push_back('\\');
    Out.append(Name);
}

bool IsUncPath(std::string_view Path)
{
    return Path.size() >= 3 && Path.substr(0, 2) == "\\\\";
}

std::string ToUnixSeparators(std::string_view Path)
{
    std::string out(Path);
    for (char& c : out)
        if (c == '\\')
            c = '/';
    return out;
}

std::string ToDosSeparators(std::string_view Path)
{
    std::string out(Path);
    for (char& c : out)
        if (c == '/')
            c = '\\';
    return out;
}

std::string NormalizeEntryPath(std::string_view Name)
{
    std::string out(Name);
    for (char& c : out)
        if (c == '/' || static_cast<unsigned char>(c) == 0xFF)
            c = '\\';
    std::size_t begin = 0, end = out.size();
    while (begin < end && IsBlankOrControl(out[begin]))
        ++begin;
    while (end > begin && IsBlankOrControl(out[end - 1]))
        --end;
    return out.substr(begin, end - begin);
}

std::string QuoteIfSpaced(std::string_view Path)
{
    std::string out = win::Trim(Path);
    if (out.find(' ') == std::string::npos)
        return out;
    if (out.front() != '"')
        out.insert(out.begin(), '"');
    if (out.size() < 2 || out.back() != '"')
        out.push_back('"');
    return out;
}

std::string TrimPathComponents(std::string_view Path)
{
    std::string out;
    for (std::string part : SplitComponents(Path)) {
        while (!part.empty() && (part.back() == ' ' || part.back() == '.'))
            part.pop_back();
        out += part + '\\';
    }
    return out;
}

void SplitAtSeparator(std::string& Text, std::string_view Separator, std::string& Head)
{
    const std::size_t at = Separator.empty() ? std::string::npos : Text.find(Separator);
    if (at == std::string::npos) {
        Head = Text;
        Text.clear();
        return;
    }
    Head = Text.substr(0, at);
    Text.erase(0, at + Separator.size());
}

void SplitDelimited(std::string_view Text, std::vector<std::string>& List)
{
    std::size_t start = 0;
    while (start < Text.size()) {
        std::size_t end = Text.find_first_of(",;", start);
        if (end == std::string_view::npos)
            end = Text.size();
        std::string item = win::Trim(Text.substr(start, end - start));
        if (!item.empty())
            List.push_back(std::move(item));
        start = end + 1;
    }
}

void SplitQuotedList(std::string_view Text, std::vector<std::string>& List)
{
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = Text.find('"', pos);
        if (open == std::string_view::npos)
            return;
        const std::size_t close = Text.find('"', open + 1);
        if (close == std::string_view::npos)
            return;
        List.emplace_back(Text.substr(open + 1, close - open - 1));
        pos = close + 1;
    }
}

void ReadTokenFromBuffer(const char* Buffer, std::size_t End, std::size_t& Pos, std::string& Token)
{
    constexpr std::size_t Limit = 255;
    Token.clear();
    std::size_t p = Pos;
    while (p < End && Token.size() < Limit) {
        const char c = Buffer[p];
        if (c == '\r' || c == '\n' || c == '\0' || c == '"')
            break;
        Token.push_back(c);
        ++p;
    }
    if (Token.size() == Limit && p < End) {
        Pos = p;
        return;
    }
    Pos = End;
}

bool FolderMatchesSpec(std::string_view Path, std::string_view MaskPath, std::string& Matched, bool KeepPartial)
{
    if (!Path.empty() && Path.front() == '\\')
        Path.remove_prefix(1);
    if (!MaskPath.empty() && MaskPath.front() == '\\')
        MaskPath.remove_prefix(1);
    if (!Path.empty() && Path.back() == '\\')
        Path.remove_suffix(1);
    if (!MaskPath.empty() && MaskPath.back() == '\\')
        MaskPath.remove_suffix(1);
    const std::vector<std::string> parts = SplitComponents(Path);
    const std::vector<std::string> masks = SplitComponents(MaskPath);
    Matched.clear();
    bool lastMatched = false, untriedLeft = false;
    for (const std::string& part : parts) {
        lastMatched = false;
        untriedLeft = false;
        for (std::size_t m = 0; m < masks.size(); ++m) {
            if (MatchesMask(part, masks[m])) {
                Matched += part + '\\';
                lastMatched = true;
                untriedLeft = m + 1 < masks.size();
                break;
            }
        }
    }
    if (untriedLeft || (!KeepPartial && !lastMatched))
        Matched.clear();
    return !Matched.empty() && Matched.size() <= Path.size() + 1;
}
