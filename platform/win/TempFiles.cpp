#include "platform/win/TempFiles.h"

#include "platform/win/Errors.h"
#include "platform/win/Files.h"
#include "platform/win/FolderNames.h"
#include "platform/win/Paths.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <mutex>
#include <pthread.h>
#include <random>
#include <set>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace win {
namespace {

std::atomic<pid_t> gOwnPid{0};

// This process's id without a system call for every file made; a forked child asks again.
pid_t OwnPid()
{
    static const bool forksWatched = [] {
        return ::pthread_atfork(nullptr, nullptr, [] { gOwnPid.store(0, std::memory_order_relaxed); }) == 0;
    }();
    pid_t pid = gOwnPid.load(std::memory_order_relaxed);
    if (pid == 0 || !forksWatched) {
        pid = ::getpid();
        gOwnPid.store(pid, std::memory_order_relaxed);
    }
    return pid;
}

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
    const auto pid = static_cast<unsigned long>(OwnPid());
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

// --- journals of set replacements (SetReplacement) ---

constexpr std::string_view kKeptPrefix = "kept";
constexpr std::string_view kJournalPrefix = "setj";
constexpr std::string_view kJournalHead = "set-replacement-1";

// Paths go into the journal's space-separated fields escaped.
std::string Escaped(const std::string& path)
{
    std::string out;
    for (const char c : path) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == ' ')
            out += "\\s";
        else
            out += c;
    }
    return out;
}

std::string Unescaped(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char c = field[++i];
        out += c == 'n' ? '\n' : c == 's' ? ' ' : c;
    }
    return out;
}

std::vector<std::string> Fields(std::string_view line)
{
    std::vector<std::string> fields;
    for (std::size_t at = 0; at <= line.size();) {
        const std::size_t end = std::min(line.find(' ', at), line.size());
        fields.push_back(Unescaped(line.substr(at, end - at)));
        at = end + 1;
    }
    return fields;
}

void RemoveName(const std::string& path)
{
    if (::unlink(path.c_str()) == 0)
        NoteNameRemoved(path);
}

// Puts a kept file back under its name. A kept second link of the file still there is only removed.
void PutBack(const std::string& copy, const std::string& target)
{
    if (::rename(copy.c_str(), target.c_str()) == 0)
        NoteNameAdded(target);
    RemoveName(copy);
}

// Completes what a dead run's journal tells: a set whose last target was not replaced gets its kept
// files back and loses the new ones; otherwise only the kept copies go. A journal the run did not
// finish writing went before any target was touched.
void ReplayJournal(const std::string& journalHost)
{
    const std::string text = ReadText(journalHost);
    std::vector<std::vector<std::string>> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(Fields(std::string_view(text).substr(at, end - at)));
    const bool whole = lines.size() >= 3 && lines.front().size() == 1 && lines.front()[0] == kJournalHead &&
                       lines.back().size() == 1 && lines.back()[0] == "end" && lines[1].size() == 4 &&
                       lines[1][0] == "last";
    if (whole) {
        unsigned long long device = 0, inode = 0;
        std::from_chars(lines[1][1].data(), lines[1][1].data() + lines[1][1].size(), device);
        std::from_chars(lines[1][2].data(), lines[1][2].data() + lines[1][2].size(), inode);
        struct stat st {};
        const bool present = ::stat(lines[1][3].c_str(), &st) == 0;
        const bool replaced = inode == 0 ? present
                                         : !present || static_cast<unsigned long long>(st.st_dev) != device ||
                                               static_cast<unsigned long long>(st.st_ino) != inode;
        for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
            const auto& line = lines[i];
            if (line.size() == 3 && line[0] == "keep")
                replaced ? RemoveName(line[1]) : PutBack(line[1], line[2]);
            else if (line.size() == 2 && line[0] == "new" && !replaced)
                RemoveName(line[1]);
        }
    }
    RemoveName(journalHost);
}

// Journals go first: the files they name are dead owners' files too.
void ReplayDeadJournals(const std::string& folderHost, const std::vector<std::string>& deadNames)
{
    for (const auto& name : deadNames)
        if (name.compare(0, kJournalPrefix.size(), kJournalPrefix) == 0) {
            const std::string path = folderHost + (folderHost == "/" ? "" : "/") + name;
            struct stat st {};
            if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
                ReplayJournal(path);
        }
}

void RemoveDeadOwnersFiles(const std::string& folderHost, std::string_view prefix)
{
    DIR* dir = opendir(folderHost.c_str());
    if (!dir)
        return;
    std::vector<std::string> dead, journals;
    while (const dirent* entry = readdir(dir)) {
        if (IsDeadOwnersTempName(entry->d_name, prefix))
            dead.emplace_back(entry->d_name);
        if (IsDeadOwnersTempName(entry->d_name, kJournalPrefix))
            journals.emplace_back(entry->d_name);
    }
    closedir(dir);
    ReplayDeadJournals(folderHost, journals);
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
bool FirstUseOf(std::string_view folderHost, std::string_view prefix)
{
    static std::mutex lock;
    static std::set<std::string, std::less<>> swept;
    static std::string key;  // kept: asked for every file extracted, mostly in a folder seen before
    // The folder this thread asked about last, answered without the lock or the set.
    thread_local std::string lastFolder, lastPrefix;
    if (folderHost == lastFolder && prefix == lastPrefix && !lastPrefix.empty())
        return false;
    lastFolder = folderHost;
    lastPrefix = prefix;
    std::lock_guard guard(lock);
    if (swept.size() >= 4096)
        swept.clear();
    key.assign(prefix).append(1, '\n').append(folderHost);
    if (swept.find(key) != swept.end())
        return false;
    swept.insert(key);
    return true;
}

std::uint32_t RandomNumber()
{
    static std::mutex lock;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard guard(lock);
    return static_cast<std::uint32_t>(random());
}

}  // namespace

namespace {

bool IsDead(const Owner& owner)
{
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

}  // namespace

bool IsDeadOwnersTempName(std::string_view name, std::string_view prefix)
{
    Owner owner;
    return ParseOwner(name, prefix, owner) && IsDead(owner);
}

namespace {

enum class TempName { Other, Living, Dead };  // Living: the owner lives, or nothing can be told

TempName StateOfTempName(std::string_view name)
{
    // The prefix may end in hex digits itself, so every split of the digits before the first dash
    // is a possible owner; the file is dead only when every one of them is.
    if (name.size() < 4 || name.substr(name.size() - 4) != ".tmp")
        return TempName::Other;
    const std::size_t n = name.rfind('-', name.size() - 5);
    const std::size_t system = n == std::string_view::npos || n == 0 ? n : name.rfind('-', n - 1);
    const std::size_t start = system == std::string_view::npos || system == 0 ? system : name.rfind('-', system - 1);
    if (start == std::string_view::npos || n - system - 1 != 8)
        return TempName::Other;
    std::size_t digits = 0;
    while (digits < start && digits < 16 && std::isxdigit(static_cast<unsigned char>(name[start - 1 - digits])))
        ++digits;
    bool candidate = false;
    for (std::size_t length = 1; length <= digits && length <= 8; ++length) {
        const std::size_t at = start - length;
        if (name[at] == '0')
            continue;  // numbers are written without leading zeros
        Owner owner;
        if (!ParseOwner(name.substr(at), "", owner))
            continue;
        if (!IsDead(owner))
            return TempName::Living;
        candidate = true;
    }
    return candidate ? TempName::Dead : TempName::Other;
}

}  // namespace

bool IsDeadOwnersTempName(std::string_view name)
{
    return StateOfTempName(name) == TempName::Dead;
}

namespace {

// --- the run's own temporary files, removed when a signal ends the run ---
//
// The signal handler may only make system calls, so the paths live in fixed slots and a folder is
// removed through getdents64 and unlinkat.

constexpr int kLiveSlots = 64;
enum : int { kFree = 0, kFilling = 1, kLive = 2 };

struct LiveSlot {
    std::atomic<int> state{kFree};
    pid_t owner = 0;  // a forked child must not take its parent's files with it
    char path[PATH_MAX];
};

LiveSlot gLive[kLiveSlots];

struct Dirent64 {
    std::uint64_t ino;
    std::int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[1];
};

void RemoveTreeAt(int parent, const char* name, int depth)
{
    if (::unlinkat(parent, name, 0) == 0 || errno != EISDIR || depth > 32)
        return;
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        alignas(8) char buffer[2048];
        for (bool removed = true; removed;) {
            removed = false;
            ::lseek(fd, 0, SEEK_SET);
            for (;;) {
                const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                for (long at = 0; at < n;) {
                    const auto* entry = reinterpret_cast<const Dirent64*>(buffer + at);
                    at += entry->reclen;
                    if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0) {
                        RemoveTreeAt(fd, entry->name, depth + 1);
                        removed = true;
                    }
                }
            }
        }
        ::close(fd);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

void OnTerminatingSignal(int signal)
{
    const int saved = errno;
    const pid_t self = ::getpid();
    for (auto& slot : gLive)
        if (slot.state.load() == kLive && slot.owner == self)
            RemoveTreeAt(AT_FDCWD, slot.path, 0);
    errno = saved;
    // The handler was reset on entry: the signal now ends the process as it would have.
    ::raise(signal);
}

void InstallSignalCleanUp()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old {};
            if (::sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
                continue;  // ignored, or the host's own
            struct sigaction action {};
            action.sa_handler = OnTerminatingSignal;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESETHAND;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

bool Exists(const char* hostPath)
{
    struct stat st {};
    return ::lstat(hostPath, &st) == 0 || errno != ENOENT;
}

void NoteLive(const std::string& hostPath)
{
    if (hostPath.empty() || hostPath.size() >= PATH_MAX)
        return;
    InstallSignalCleanUp();
    for (int pass = 0; pass < 2; ++pass) {
        for (auto& slot : gLive) {
            int expected = kFree;
            if (slot.state.compare_exchange_strong(expected, kFilling)) {
                std::memcpy(slot.path, hostPath.c_str(), hostPath.size() + 1);
                slot.owner = OwnPid();
                slot.state.store(kLive);
                return;
            }
        }
        // Full: slots whose file has been renamed or removed are free again.
        for (auto& slot : gLive) {
            int expected = kLive;
            if (slot.state.load() == kLive && !Exists(slot.path))
                slot.state.compare_exchange_strong(expected, kFree);
        }
    }
}

// --- the list of folders that have held temporary files ---

std::string StateFolder()
{
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/torvo";
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return std::string(home) + "/.local/state/torvo";
    return {};
}

bool MakeFolders(const std::string& path)
{
    for (std::size_t at = 1; at <= path.size(); ++at)
        if (at == path.size() || path[at] == '/')
            if (::mkdir(path.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST)
                return false;
    return true;
}

// The list, open and locked (closing unlocks it); -1 when it cannot be had.
int OpenFolderList()
{
    const std::string path = TempFolderListPath();
    if (path.empty() || !MakeFolders(path.substr(0, path.rfind('/'))))
        return -1;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return -1;
    while (::flock(fd, LOCK_EX) != 0)
        if (errno != EINTR) {
            ::close(fd);
            return -1;
        }
    return fd;
}

std::vector<std::string> ReadFolderList(int fd)
{
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
    std::vector<std::string> folders;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        if (end > at && text[at] == '/')
            folders.push_back(text.substr(at, end - at));
    return folders;
}

bool WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The list as this process last saw it: a folder found there need not be looked up again while
// the list is unchanged.
struct ListStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    timespec mtime{};
    bool operator==(const ListStamp& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec;
    }
};

ListStamp StampOf(const struct stat& st)
{
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

void ListFolder(const std::string& folderHost)
{
    static std::mutex lock;
    static std::set<std::string> listed;
    static ListStamp seen;
    std::lock_guard guard(lock);
    struct stat st {};
    const std::string path = TempFolderListPath();
    if (!path.empty() && ::stat(path.c_str(), &st) == 0 && StampOf(st) == seen && listed.count(folderHost))
        return;
    const int fd = OpenFolderList();
    if (fd < 0)
        return;
    const auto folders = ReadFolderList(fd);
    if (std::find(folders.begin(), folders.end(), folderHost) == folders.end() &&
        folderHost.find('\n') == std::string::npos) {
        ::lseek(fd, 0, SEEK_END);
        WriteAll(fd, folderHost + "\n");
    }
    if (fstat(fd, &st) == 0) {
        if (!(StampOf(st) == seen))
            listed.clear();
        seen = StampOf(st);
        listed.insert(folderHost);
    }
    ::close(fd);
}

// Removes the dead owners' temporary files in the folder; answers whether any temporary file of
// a living (or unknown) owner remains there.
bool SweepFolder(const std::string& folderHost)
{
    DIR* dir = opendir(folderHost.c_str());
    if (!dir)
        return false;
    std::vector<std::string> dead;
    bool others = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        const TempName state = StateOfTempName(name);
        if (state == TempName::Dead)
            dead.emplace_back(name);
        others = others || state == TempName::Living;
    }
    closedir(dir);
    ReplayDeadJournals(folderHost, dead);
    for (const auto& name : dead) {
        const std::string path = folderHost + (folderHost == "/" ? "" : "/") + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || st.st_uid != ::getuid())
            continue;  // another user's
        if (S_ISDIR(st.st_mode))
            nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
        else
            ::unlink(path.c_str());
        NoteNameRemoved(path);
    }
    return others;
}

void SweepOncePerProcess()
{
    static std::mutex lock;
    static std::atomic<unsigned long> sweptBy = 0;  // read without the lock: asked for every file
    const auto pid = static_cast<unsigned long>(OwnPid());
    if (sweptBy.load(std::memory_order_acquire) == pid)
        return;
    std::lock_guard guard(lock);
    if (sweptBy.load(std::memory_order_relaxed) == pid)
        return;
    RemoveDeadOwnersLeftovers();
    sweptBy.store(pid, std::memory_order_release);
}

// The file is made in folderHost, known to be a folder; base is the folder's Windows path with
// its trailing backslash.
std::string MakeOwnedTempFile(const std::string& base, const std::string& folderHost, std::string_view prefix,
                              HANDLE* opened, mode_t mode = 0666)
{
    SweepOncePerProcess();
    if (FirstUseOf(folderHost, prefix))
        RemoveDeadOwnersFiles(folderHost, prefix);
    const int access = opened ? O_RDWR : O_WRONLY;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = OwnedName(prefix, RandomNumber());
        const std::string host = folderHost + (folderHost == "/" ? "" : "/") + name;
        // Noted before it exists, so that no signal finds the file made but not yet known.
        NoteTempFileMade(host);
        // O_EXCL: a name that exists, or that another thread takes first, is never reused.
        const int fd = ::open(host.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, mode);
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

std::string CreateOwnedTempFileOfMode(std::string_view folder, std::string_view prefix, mode_t mode)
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
    return MakeOwnedTempFile(base, folderHost, prefix, nullptr, mode);
}

}  // namespace

std::string CreateOwnedTempFile(std::string_view folder, std::string_view prefix)
{
    return CreateOwnedTempFileOfMode(folder, prefix, 0666);
}

std::string CreatePrivateTempFile(std::string_view folder, std::string_view prefix)
{
    return CreateOwnedTempFileOfMode(folder, prefix, 0600);
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

void SweepDeadOwnersFiles(std::string_view folderHost, std::string_view prefix)
{
    SweepOncePerProcess();
    if (FirstUseOf(folderHost, prefix))
        RemoveDeadOwnersFiles(std::string(folderHost), prefix);
}

void NotePartialFile(const std::string& hostPath)
{
    NoteLive(hostPath);
}

void ForgetPartialFile(const std::string& hostPath)
{
    const pid_t self = OwnPid();
    for (auto& slot : gLive) {
        int expected = kLive;
        if (slot.state.load() == kLive && slot.owner == self && hostPath == slot.path) {
            slot.state.compare_exchange_strong(expected, kFree);
            return;
        }
    }
}

std::string OwnedTempName(std::string_view prefix)
{
    return OwnedName(prefix, RandomNumber());
}

void NoteTempFileMade(const std::string& hostPath)
{
    NoteLive(hostPath);
    const std::size_t slash = hostPath.rfind('/');
    if (slash != std::string::npos)
        ListFolder(slash == 0 ? "/" : hostPath.substr(0, slash));
}

std::string TempFolderListPath()
{
    const std::string folder = StateFolder();
    return folder.empty() ? folder : folder + "/temp-folders";
}

void RemoveDeadOwnersLeftovers()
{
    const int fd = OpenFolderList();
    if (fd < 0)
        return;
    std::vector<std::string> folders = ReadFolderList(fd);
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::string keep;
    for (const auto& folder : folders)
        if (SweepFolder(folder))
            keep += folder + "\n";
    // Rewritten in place under the lock: another run waiting for it must find the same file.
    if (::ftruncate(fd, 0) == 0) {
        ::lseek(fd, 0, SEEK_SET);
        WriteAll(fd, keep);
    }
    ::close(fd);
}

std::string CreateOwnedTempFolderIn(std::string_view folder, std::string_view prefix)
{
    WinPath parsed;
    std::string folderHost;
    if (!ToHostPath(folder.empty() ? std::string_view(".") : folder, folderHost, &parsed))
        return {};
    parsed.trailingSeparator = false;
    std::string base = parsed.ToString();
    if (base.back() != '\\')
        base += '\\';
    SweepOncePerProcess();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = OwnedTempName(prefix);
        const std::string host = folderHost + (folderHost == "/" ? "" : "/") + name;
        NoteTempFileMade(host);
        if (::mkdir(host.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue;
            FailWithErrno();
            return {};
        }
        NoteFolderChanged(host);
        SetLastError(ERROR_SUCCESS);
        return base + name;
    }
    FailWith(ERROR_FILE_EXISTS);
    return {};
}

namespace {

std::string FolderOf(const std::string& hostPath)
{
    const std::size_t slash = hostPath.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : hostPath.substr(0, slash);
}

// A second name for an existing file: a link where the file system has them, else a copy.
bool KeepUnder(const std::string& target, const std::string& copy)
{
    if (::link(target.c_str(), copy.c_str()) == 0)
        return true;
    if (errno != EPERM && errno != EMLINK && errno != ENOTSUP && errno != EOPNOTSUPP)
        return false;
    const int in = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    const int out = ::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = out >= 0;
    char buffer[65536];
    for (ssize_t n; ok && (n = ::read(in, buffer, sizeof buffer)) != 0;)
        ok = n > 0 ? WriteAll(out, std::string(buffer, static_cast<std::size_t>(n))) : errno == EINTR;
    struct stat st {};
    if (ok && ::fstat(in, &st) == 0)
        ::fchmod(out, st.st_mode & 0777);
    ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    if (!ok && out >= 0)
        ::unlink(copy.c_str());
    return ok;
}

}  // namespace

bool SetReplacement::Begin(const std::vector<std::string>& others, const std::string& last)
{
    Undo();
    std::string lastHost;
    if (!ToHostPath(last, lastHost))
        return false;
    std::vector<Kept> kept;
    const auto fail = [&] {
        const DWORD error = GetLastError();
        for (const auto& k : kept)
            if (!k.copy.empty())
                ::unlink(k.copy.c_str());
        SetLastError(error);
        return false;
    };
    for (const auto& other : others) {
        Kept k;
        if (!ToHostPath(other, k.target))
            return fail();
        struct stat st {};
        if (lstat(k.target.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            const std::string folder = FolderOf(k.target);
            ListFolder(folder);
            for (int attempt = 0; attempt < 100 && k.copy.empty(); ++attempt) {
                const std::string copy = folder + (folder == "/" ? "" : "/") + OwnedTempName(kKeptPrefix);
                if (KeepUnder(k.target, copy))
                    k.copy = copy;
                else if (errno != EEXIST)
                    break;
            }
            if (k.copy.empty()) {
                FailWithErrno();
                return fail();
            }
        }
        kept.push_back(std::move(k));
    }
    // Journaled even when nothing is kept: the new files alone must go too should the run die
    // before the last target is in place.
    if (!kept.empty()) {
        struct stat st {};
        std::string text = std::string(kJournalHead) + "\nlast ";
        if (::stat(lastHost.c_str(), &st) == 0)
            text += std::to_string(static_cast<unsigned long long>(st.st_dev)) + " " +
                    std::to_string(static_cast<unsigned long long>(st.st_ino));
        else
            text += "0 0";
        text += " " + Escaped(lastHost) + "\n";
        for (const auto& k : kept)
            text += k.copy.empty() ? "new " + Escaped(k.target) + "\n"
                                   : "keep " + Escaped(k.copy) + " " + Escaped(k.target) + "\n";
        text += "end\n";
        const std::string folder = FolderOf(lastHost);
        ListFolder(folder);
        std::string journal;
        int fd = -1;
        for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            journal = folder + (folder == "/" ? "" : "/") + OwnedTempName(kJournalPrefix);
            fd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            FailWithErrno();
            return fail();
        }
        const bool written = WriteAll(fd, text);
        if (::close(fd) != 0 || !written) {
            FailWithErrno();
            ::unlink(journal.c_str());
            return fail();
        }
        journal_ = journal;
    }
    kept_ = std::move(kept);
    return true;
}

void SetReplacement::Finish()
{
    for (const auto& k : kept_)
        if (!k.copy.empty())
            RemoveName(k.copy);
    if (!journal_.empty())
        RemoveName(journal_);
    kept_.clear();
    journal_.clear();
}

void SetReplacement::Undo()
{
    for (const auto& k : kept_)
        k.copy.empty() ? RemoveName(k.target) : PutBack(k.copy, k.target);
    if (!journal_.empty())
        RemoveName(journal_);
    kept_.clear();
    journal_.clear();
}

}  // namespace win
