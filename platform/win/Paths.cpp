#include "platform/win/Paths.h"

#include "platform/win/Drives.h"
#include "platform/win/Errors.h"
#include "platform/win/FolderNames.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace win {
namespace {

struct CurrentFolder {
    std::mutex lock;
    std::optional<std::string> path;
};

CurrentFolder& Current()
{
    static CurrentFolder current;
    return current;
}

std::vector<std::string> SplitComponents(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || IsPathSeparator(text[i])) {
            if (i > start)
                parts.emplace_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

std::vector<std::string> SplitHostNames(std::string_view hostPath)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= hostPath.size(); ++i) {
        if (i == hostPath.size() || hostPath[i] == '/') {
            if (i > start)
                names.emplace_back(hostPath.substr(start, i - start));
            start = i + 1;
        }
    }
    return names;
}

// Drops the long-path prefixes and turns a POSIX absolute path into a Z: path.
std::string Canonical(std::string_view path)
{
    std::string p(path);
    if (p.size() >= 1 && p[0] == '/' && (p.size() == 1 || p[1] != '/'))
        p = "Z:" + p;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.size() >= 8 && SameText(std::string_view(p).substr(0, 8), "\\\\?\\UNC\\"))
        return "\\\\" + p.substr(8);
    if (p.rfind("\\\\?\\", 0) == 0)
        return p.substr(4);
    return p;
}

bool IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void AppendParts(WinPath& out, std::vector<std::string>&& parts)
{
    for (auto& part : parts) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!out.parts.empty())
                out.parts.pop_back();
            continue;
        }
        out.parts.push_back(std::move(part));
    }
}

bool ValidName(std::string_view name)
{
    for (unsigned char c : name) {
        if (c >= 0x40 && c != '|')
            continue;
        if (c < 0x20 || c == '<' || c == '>' || c == ':' || c == '"' || c == '|' || c == '?' || c == '*')
            return false;
    }
    return true;
}

std::string JoinHost(const std::string& dir, const std::string& name)
{
    return dir == "/" ? "/" + name : dir + "/" + name;
}

thread_local const WinPath* exactBelow = nullptr;

bool SameRoot(const WinPath& a, const WinPath& b)
{
    return a.drive ? a.drive == b.drive : !b.drive && SameText(a.server, b.server) && SameText(a.share, b.share);
}

// How many leading names of path may be found without regard to case: all, unless the path lies
// below the folder of a live ExactNamesBelow, whose own names are the only ones.
std::size_t NamesFoundIgnoringCase(const WinPath& path)
{
    const WinPath* folder = exactBelow;
    if (!folder || !SameRoot(*folder, path) || path.parts.size() <= folder->parts.size())
        return path.parts.size();
    for (std::size_t i = 0; i < folder->parts.size(); ++i)
        if (!SameText(folder->parts[i], path.parts[i]))
            return path.parts.size();
    return folder->parts.size();
}

// Each name found as given, else without case, level by level; below the first name that is not
// found at all, or past the first ignoringCase names, the rest keeps the names as given.
std::string WalkIgnoringCase(const std::string& root, const std::vector<std::string>& parts, std::size_t ignoringCase)
{
    std::string host = root;
    bool lookingUp = true;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        lookingUp = lookingUp && i < ignoringCase;
        std::string next = JoinHost(host, part);
        struct stat st {};
        if (lookingUp && lstat(next.c_str(), &st) != 0) {
            struct stat folder {};
            const std::string other =
                stat(host.c_str(), &folder) == 0 ? FindNameIgnoringCase(host, folder, part) : std::string();
            if (other.empty())
                lookingUp = false;
            else
                next = JoinHost(host, other);
        }
        host = std::move(next);
    }
    return host;
}

std::string HostCurrentFolder()
{
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string("/");
}

// The characters a host name may hold and a Windows name may not.
bool NeedsStandIn(unsigned char c)
{
    return (c > 0 && c < 0x20) || c == '\\' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
           c == '>' || c == '|';
}

constexpr unsigned char kKeptMark = 0x7F;  // U+F07F: the stand-in after it is the host's own

// The code c (below 0x80) that the three bytes at `at` stand in for as U+F000 + c; -1 for none.
int StandInAt(std::string_view text, std::size_t at)
{
    if (at + 2 >= text.size() || static_cast<unsigned char>(text[at]) != 0xEF)
        return -1;
    const auto b1 = static_cast<unsigned char>(text[at + 1]), b2 = static_cast<unsigned char>(text[at + 2]);
    if ((b1 != 0x80 && b1 != 0x81) || (b2 & 0xC0) != 0x80)
        return -1;
    return ((b1 & 1) << 6) | (b2 & 0x3F);
}

// Whether the code is one WindowsNameOf ever stands in for (or the mark).
bool StandsIn(int c)
{
    return c >= 0 && (NeedsStandIn(static_cast<unsigned char>(c)) || c == '.' || c == ' ' || c == kKeptMark);
}

void AppendStandIn(std::string& out, unsigned char c)
{
    out += static_cast<char>(0xEF);
    out += static_cast<char>(0x80 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
}

}  // namespace

std::string WindowsNameOf(std::string_view hostName)
{
    if (hostName == "." || hostName == "..")
        return std::string(hostName);
    std::size_t keep = hostName.size();  // dots and blanks from here on end the name
    while (keep > 0 && (hostName[keep - 1] == '.' || hostName[keep - 1] == ' '))
        --keep;
    std::string out;
    out.reserve(hostName.size());
    for (std::size_t i = 0; i < hostName.size(); ++i) {
        const auto c = static_cast<unsigned char>(hostName[i]);
        if (i >= keep || NeedsStandIn(c)) {
            AppendStandIn(out, c);
        } else if (StandsIn(StandInAt(hostName, i))) {
            AppendStandIn(out, kKeptMark);
            out.append(hostName.substr(i, 3));
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool WindowsNameIsHostName(std::string_view hostName)
{
    if (hostName == "." || hostName == "..")
        return true;
    if (!hostName.empty() && (hostName.back() == '.' || hostName.back() == ' '))
        return false;
    return std::none_of(hostName.begin(), hostName.end(), [](char c) {
        return NeedsStandIn(static_cast<unsigned char>(c)) || static_cast<unsigned char>(c) == 0xEF;
    });
}

bool HostNameOf(std::string_view windowsName, std::string& hostName)
{
    hostName.clear();
    for (std::size_t i = 0; i < windowsName.size(); ++i) {
        const int c = StandInAt(windowsName, i);
        if (c == kKeptMark && StandsIn(StandInAt(windowsName, i + 3))) {
            hostName.append(windowsName.substr(i + 3, 3));
            i += 5;
        } else if (NeedsStandIn(static_cast<unsigned char>(c < 0 ? 0 : c))) {
            hostName += static_cast<char>(c);
            i += 2;
        } else if (c == '.' || c == ' ') {
            // Only at the end, where WindowsNameOf puts them: elsewhere the character is the host's.
            std::size_t j = i;
            while (j < windowsName.size() && (StandInAt(windowsName, j) == '.' || StandInAt(windowsName, j) == ' '))
                j += 3;
            if (j == windowsName.size()) {
                hostName += static_cast<char>(c);
                i += 2;
            } else {
                hostName += windowsName[i];
            }
        } else {
            hostName += windowsName[i];
        }
    }
    return !hostName.empty() && hostName != "." && hostName != ".." &&
           hostName.find('/') == std::string::npos && hostName.find('\0') == std::string::npos;
}

std::string ArchiveNameOf(std::string_view windowsText)
{
    std::string out;
    out.reserve(windowsText.size());
    for (std::size_t i = 0; i < windowsText.size(); ++i) {
        const int c = StandInAt(windowsText, i);
        if (c == kKeptMark && StandsIn(StandInAt(windowsText, i + 3))) {
            out.append(windowsText.substr(i + 3, 3));
            i += 5;
        } else if (StandsIn(c) && c != kKeptMark) {
            out += c == '\\' || c == ':' || c < 0x20 ? '_' : static_cast<char>(c);
            i += 2;
        } else {
            out += windowsText[i];
        }
    }
    return out;
}

bool IsPathSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsValidPathName(std::string_view name)
{
    return ValidName(name);
}

std::string ExecutablePath()
{
    char target[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

std::string ExecutableDir()
{
    const std::string path = ExecutablePath();
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string WinPath::Root() const
{
    return drive ? std::string(1, drive) + ":\\" : "\\\\" + server + "\\" + share;
}

std::string WinPath::ToString() const
{
    std::string text = Root();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0 || !drive)
            text += '\\';
        text += parts[i];
    }
    if (trailingSeparator && !parts.empty())
        text += '\\';
    return text;
}

bool ParseFullPath(std::string_view path, WinPath& out)
{
    out = WinPath{};
    if (path.empty())
        return FailWith(ERROR_INVALID_NAME);
    const std::string p = Canonical(path);
    std::string_view rest = p;

    if (p.size() >= 2 && p[0] == '\\' && p[1] == '\\') {
        const auto parts = SplitComponents(rest.substr(2));
        if (parts.size() < 2 || p[2] == '\\')
            return FailWith(ERROR_INVALID_NAME);
        out.server = parts[0];
        out.share = parts[1];
        AppendParts(out, std::vector<std::string>(parts.begin() + 2, parts.end()));
    } else if (p.size() >= 2 && p[1] == ':' && IsDriveLetter(p[0])) {
        out.drive = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
        rest.remove_prefix(2);
        // "C:name" is relative to the current folder when that is on C:, else to C:'s root.
        if (rest.empty() || rest[0] != '\\') {
            WinPath current;
            if (ParseFullPath(CurrentDirectory(), current) && current.drive == out.drive)
                out.parts = current.parts;
        }
        AppendParts(out, SplitComponents(rest));
    } else {
        if (!ParseFullPath(CurrentDirectory(), out))
            return FALSE;
        if (p[0] == '\\')
            out.parts.clear();
        AppendParts(out, SplitComponents(rest));
    }
    out.trailingSeparator = IsPathSeparator(p.back());
    if (!out.parts.empty() && !out.trailingSeparator) {
        // Windows drops trailing dots and blanks of the last name.
        std::string& last = out.parts.back();
        while (!last.empty() && (last.back() == '.' || last.back() == ' '))
            last.pop_back();
        if (last.empty())
            out.parts.pop_back();
    }
    return TRUE;
}

std::string FullPathOf(std::string_view path)
{
    WinPath parsed;
    return ParseFullPath(path, parsed) ? parsed.ToString() : std::string();
}

bool ToHostPath(std::string_view path, std::string& host, WinPath* parsedOut, HostPathState* state)
{
    HostPathState unused;
    HostPathState& found = state ? *state : unused;
    found.known = HostPathState::Unknown;
    WinPath local;
    WinPath& parsed = parsedOut ? *parsedOut : local;
    if (!ParseFullPath(path, parsed))
        return false;
    const auto drive = parsed.drive ? FindDrive(parsed.drive) : FindShare(parsed.server, parsed.share);
    if (!drive)
        return FailWith(ERROR_PATH_NOT_FOUND);
    for (const auto& part : parsed.parts)
        if (!ValidName(part))
            return FailWith(ERROR_INVALID_NAME);
    // A name holding a stand-in is a host name with characters the Windows form cannot hold.
    std::vector<std::string> decoded;
    const std::vector<std::string>* names = &parsed.parts;
    if (std::any_of(parsed.parts.begin(), parsed.parts.end(),
                    [](const std::string& part) { return part.find('\xEF') != std::string::npos; })) {
        for (const auto& part : parsed.parts)
            if (!HostNameOf(part, decoded.emplace_back()))
                return FailWith(ERROR_INVALID_NAME);
        names = &decoded;
    }

    // Most paths exist as given, or all but their last name does (a file about to be made); one or
    // two lstat calls then give the walk's answer without a call per folder level.
    if (parsed.parts.empty()) {
        host = drive->root;
        return true;
    }
    std::string parent = drive->root;
    for (std::size_t i = 0; i + 1 < names->size(); ++i) {
        if (parent != "/")
            parent += '/';
        parent += (*names)[i];
    }
    const std::string& last = names->back();
    std::string exact = JoinHost(parent, last);
    struct stat st {};
    if (lstat(exact.c_str(), &found.st) == 0) {
        found.known = HostPathState::Present;
        host = std::move(exact);
        return true;
    }
    const bool missing = errno == ENOENT;
    const std::size_t ignoringCase = NamesFoundIgnoringCase(parsed);
    const bool listed = ignoringCase == parsed.parts.size();
    // stat, not lstat, where a remembered listing must follow the folder a link points to;
    // without a listing, lstat answers as well whether the folder is a link, which the target
    // checks would otherwise ask again.
    bool folderNoLink = false;
    bool folder = false;
    if (missing) {
        folderNoLink = !listed && lstat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        folder = folderNoLink || (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    }
    if (folder) {
        const std::string other = listed ? FindNameIgnoringCase(parent, st, last) : std::string();
        if (other.empty()) {
            found.known = HostPathState::Missing;
            found.folderNoLink = folderNoLink;
            host = std::move(exact);
        } else {
            host = JoinHost(parent, other);
        }
        return true;
    }

    host = WalkIgnoringCase(drive->root, *names, ignoringCase);
    return true;
}

ExactNamesBelow::ExactNamesBelow(const WinPath* folder) : previous(std::exchange(exactBelow, folder))
{}

ExactNamesBelow::~ExactNamesBelow()
{
    exactBelow = previous;
}

std::string ToWindowsPath(std::string_view hostPath)
{
    std::string path(hostPath);
    if (path.empty() || path[0] != '/')
        path = JoinHost(HostCurrentFolder(), path);
    // Lexical clean-up: "." and ".." and doubled slashes. Only "/" separates host names.
    std::vector<std::string> parts;
    for (auto& part : SplitHostNames(path)) {
        if (part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    std::string clean;
    for (const auto& part : parts)
        clean += "/" + part;
    if (clean.empty())
        clean = "/";

    const DriveEntry* best = nullptr;
    const auto table = DriveTable();
    for (const auto& entry : table) {
        const std::string& root = entry.root;
        const bool under = root == "/" || (clean.compare(0, root.size(), root) == 0 &&
                                           (clean.size() == root.size() || clean[root.size()] == '/'));
        if (under && (!best || root.size() > best->root.size()))
            best = &entry;
    }
    if (!best)
        return {};
    WinPath out;
    out.drive = best->letter;
    out.server = best->server;
    out.share = best->share;
    const std::string rest = best->root == "/" ? clean : clean.substr(best->root.size());
    for (const auto& name : SplitHostNames(rest))
        out.parts.push_back(WindowsNameOf(name));
    return out.ToString();
}

std::string CurrentDirectory()
{
    CurrentFolder& current = Current();
    {
        std::lock_guard guard(current.lock);
        if (current.path)
            return *current.path;
    }
    std::string path = ToWindowsPath(HostCurrentFolder());
    if (path.empty())
        path = "C:\\";
    std::lock_guard guard(current.lock);
    if (!current.path)
        current.path = path;
    return *current.path;
}

void ResetCurrentDirectory()
{
    CurrentFolder& current = Current();
    std::lock_guard guard(current.lock);
    current.path.reset();
}

DWORD CopyToBuffer(std::string_view text, char* buffer, DWORD size)
{
    if (!buffer || size <= text.size())
        return static_cast<DWORD>(text.size() + 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return static_cast<DWORD>(text.size());
}

}  // namespace win

DWORD GetFullPathNameA(const char* fileName, DWORD bufferLength, char* buffer, char** filePart)
{
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    win::WinPath parsed;
    if (!win::ParseFullPath(fileName, parsed))
        return 0;
    const std::string full = parsed.ToString();
    const DWORD result = win::CopyToBuffer(full, buffer, bufferLength);
    if (filePart && result == full.size()) {
        *filePart = nullptr;
        if (!parsed.parts.empty() && !parsed.trailingSeparator)
            *filePart = buffer + full.size() - parsed.parts.back().size();
    }
    return result;
}

DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer)
{
    return win::CopyToBuffer(win::CurrentDirectory(), buffer, bufferLength);
}

BOOL SetCurrentDirectoryA(const char* pathName)
{
    if (!pathName)
        return win::FailWith(ERROR_INVALID_PARAMETER);
    win::WinPath parsed;
    std::string host;
    if (!win::ParseFullPath(pathName, parsed) || !win::ToHostPath(pathName, host))
        return FALSE;
    struct stat st {};
    if (stat(host.c_str(), &st) != 0)
        return win::FailWithErrno();
    if (!S_ISDIR(st.st_mode))
        return win::FailWith(ERROR_DIRECTORY);
    if (chdir(host.c_str()) != 0)
        return win::FailWithErrno();
    parsed.trailingSeparator = false;
    std::lock_guard guard(win::Current().lock);
    win::Current().path = parsed.ToString();
    return TRUE;
}

DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD bufferLength)
{
    std::string host;
    if (!longPath)
        return win::FailWith(ERROR_INVALID_PARAMETER);
    if (!win::ToHostPath(longPath, host))
        return 0;
    struct stat st {};
    if (stat(host.c_str(), &st) != 0)
        return win::FailWithErrno();
    return win::CopyToBuffer(longPath, shortPath, bufferLength);
}

DWORD GetTempPathA(DWORD bufferLength, char* buffer)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = win::ToWindowsPath(tmp && *tmp == '/' ? tmp : "/tmp");
    if (path.empty())
        return win::FailWith(ERROR_PATH_NOT_FOUND);
    if (path.back() != '\\')
        path += '\\';
    return win::CopyToBuffer(path, buffer, bufferLength);
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size)
{
    if (module)
        return win::FailWith(ERROR_MOD_NOT_FOUND);
    const std::string self = win::ExecutablePath();
    if (self.empty())
        return win::FailWithErrno();
    const std::string path = win::ToWindowsPath(self);
    if (!fileName || size == 0)
        return win::FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (path.size() < size) {
        std::memcpy(fileName, path.c_str(), path.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(path.size());
    }
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}
