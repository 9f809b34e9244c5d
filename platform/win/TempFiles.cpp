#include "platform/win/TempFiles.h"

#include "platform/win/Errors.h"
#include "platform/win/Files.h"
#include "platform/win/FolderNames.h"
#include "platform/win/Paths.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace win {
namespace {

struct Owner {
    unsigned long pid = 0;
    unsigned long long start = 0;  // clock ticks after boot
    std::uint32_t system = 0;
};

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The start time of a process, from field 22 of its stat record; nullopt-like false when the
// process does not exist. `known` is false when it cannot be told (no /proc, no permission).
bool StartOf(unsigned long pid, unsigned long long& start, bool& known)
{
    known = true;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* file = std::fopen(path.c_str(), "re");
    if (!file) {
        known = errno == ENOENT || errno == ESRCH;
        return false;
    }
    char buffer[1024];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    const std::string text(buffer, n);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos) {
        known = false;
        return false;
    }
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            return std::from_chars(field.data(), field.data() + field.size(), start).ec == std::errc{};
    known = false;
    return false;
}

// One boot of one kernel in one process-number space: process numbers mean the same there.
std::uint32_t SystemTag()
{
    std::string identity = ReadText("/proc/sys/kernel/random/boot_id");
    char ns[128] = {};
    const ssize_t n = readlink("/proc/self/ns/pid", ns, sizeof ns - 1);
    if (n > 0)
        identity.append(ns, static_cast<std::size_t>(n));
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : identity)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

// Taken again in a forked child, which must not sign its files with its parent's name.
Owner Self()
{
    static std::mutex lock;
    static Owner self;
    const auto pid = static_cast<unsigned long>(getpid());
    std::lock_guard guard(lock);
    if (self.pid != pid) {
        self.pid = pid;
        bool known = false;
        StartOf(pid, self.start, known);
        self.system = SystemTag();
    }
    return self;
}

bool ParseHex(std::string_view text, unsigned long long& value)
{
    return !text.empty() && text.size() <= 16 &&
           std::from_chars(text.data(), text.data() + text.size(), value, 16).ptr == text.data() + text.size();
}

// "<pid>-<start>-<system>-<n>.tmp" after the prefix.
bool ParseOwner(std::string_view name, std::string_view prefix, Owner& owner)
{
    if (name.size() <= prefix.size() + 4 || name.substr(0, prefix.size()) != prefix ||
        name.substr(name.size() - 4) != ".tmp")
        return false;
    std::string_view rest = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    unsigned long long fields[4];
    for (int i = 0; i < 4; ++i) {
        const std::size_t dash = i < 3 ? rest.find('-') : rest.size();
        if (dash == std::string_view::npos || !ParseHex(rest.substr(0, dash), fields[i]))
            return false;
        rest.remove_prefix(i < 3 ? dash + 1 : dash);
    }
    owner.pid = static_cast<unsigned long>(fields[0]);
    owner.start = fields[1];
    owner.system = static_cast<std::uint32_t>(fields[2]);
    return fields[2] <= 0xFFFFFFFFull;
}

void AppendHex(std::string& out, unsigned long long value)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value, 16).ptr;
    out.append(digits, end);
}

std::string OwnedName(std::string_view prefix, std::uint32_t number)
{
    const Owner self = Self();
    std::string name(prefix);
    AppendHex(name, self.pid);
    name += '-';
    AppendHex(name, self.start);
    name += '-';
    for (int shift = 28; shift >= 0; shift -= 4)
        name += "0123456789abcdef"[(self.system >> shift) & 0xF];
    name += '-';
    AppendHex(name, number);
    name += ".tmp";
    return name;
}

int RemoveOne(const char* path, const struct stat*, int kind, struct FTW*)
{
    if (kind == FTW_DP)
        ::rmdir(path);
    else
        ::unlink(path);
    return 0;
}

void RemoveDeadOwnersFiles(const std::string& folderHost, std::string_view prefix)
{
    DIR* dir = opendir(folderHost.c_str());
    if (!dir)
        return;
    std::vector<std::string> dead;
    while (const dirent* entry = readdir(dir))
        if (IsDeadOwnersTempName(entry->d_name, prefix))
            dead.emplace_back(entry->d_name);
    closedir(dir);
    for (const auto& name : dead) {
        const std::string path = folderHost + (folderHost == "/" ? "" : "/") + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);  // links are not followed
        else
            ::unlink(path.c_str());
        NoteNameRemoved(path);
    }
}

// Once per folder and prefix in a process: the sweep reads the whole folder.
bool FirstUseOf(const std::string& folderHost, std::string_view prefix)
{
    static std::mutex lock;
    static std::set<std::string> swept;
    std::lock_guard guard(lock);
    if (swept.size() >= 4096)
        swept.clear();
    return swept.insert(std::string(prefix) + '\n' + folderHost).second;
}

std::uint32_t RandomNumber()
{
    static std::mutex lock;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard guard(lock);
    return static_cast<std::uint32_t>(random());
}

}  // namespace

void SweepDeadOwnersFiles(const std::string& folderHost, std::string_view prefix)
{
    if (FirstUseOf(folderHost, prefix))
        RemoveDeadOwnersFiles(folderHost, prefix);
}

bool IsDeadOwnersTempName(std::string_view name, std::string_view prefix)
{
    Owner owner;
    if (!ParseOwner(name, prefix, owner))
        return false;
    const Owner self = Self();
    if (owner.system != self.system)
        return false;  // another boot, machine or process-number space: nothing can be told
    if (owner.pid == self.pid)
        return owner.start != self.start;
    unsigned long long start = 0;
    bool known = false;
    if (StartOf(owner.pid, start, known))
        return start != owner.start;  // the number went to a later process
    return known;
}

namespace {

// The file is made in folderHost, known to be a folder; base is the folder's Windows path with
// its trailing backslash.
std::string MakeOwnedTempFile(const std::string& base, const std::string& folderHost, std::string_view prefix,
                              HANDLE* opened)
{
    SweepDeadOwnersFiles(folderHost, prefix);
    const int access = opened ? O_RDWR : O_WRONLY;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = OwnedName(prefix, RandomNumber());
        const std::string host = folderHost + (folderHost == "/" ? "" : "/") + name;
        // O_EXCL: a name that exists, or that another thread takes first, is never reused.
        const int fd = ::open(host.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            FailWithErrno();
            return {};
        }
        if (opened)
            *opened = AdoptHostFile(fd, host, true, true);
        else
            ::close(fd);
        NoteFolderChanged(host);
        SetLastError(ERROR_SUCCESS);
        return base + name;
    }
    FailWith(ERROR_FILE_EXISTS);
    return {};
}

}  // namespace

std::string CreateOwnedTempFile(std::string_view folder, std::string_view prefix)
{
    WinPath parsed;
    std::string folderHost;
    HostPathState state;
    if (!ToHostPath(folder.empty() ? std::string_view(".") : folder, folderHost, &parsed, &state))
        return {};
    struct stat st = state.st;
    const bool known = state.known == HostPathState::Present && !S_ISLNK(st.st_mode);
    if ((!known && stat(folderHost.c_str(), &st) != 0) || !S_ISDIR(st.st_mode)) {
        FailWith(ERROR_DIRECTORY);
        return {};
    }
    parsed.trailingSeparator = false;
    std::string base = parsed.ToString();
    if (base.back() != '\\')
        base += '\\';
    return MakeOwnedTempFile(base, folderHost, prefix, nullptr);
}

std::string CreateOwnedTempFileIn(std::string_view folder, const std::string& folderHost, std::string_view prefix,
                                  HANDLE& handle)
{
    handle = INVALID_HANDLE_VALUE;
    std::string base(folder);
    if (base.empty() || base.back() != '\\')
        base += '\\';
    return MakeOwnedTempFile(base, folderHost, prefix, &handle);
}

}  // namespace win
