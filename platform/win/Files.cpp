#include "platform/win/Files.h"

#include "platform/win/Drives.h"
#include "platform/win/FolderNames.h"
#include "platform/win/Paths.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Time.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace win {
namespace {

// A file-size limit (ulimit -f) is met as Windows meets a full disk: the write fails (EFBIG, read
// as ERROR_DISK_FULL) and the run reports it, where the signal's default would end the process
// without a word and leave the cut file. Set once for every program that writes through this
// layer; a handler rather than ignoring, so that programs started from here get the default
// back, and a host's own disposition is left alone.
void OnFileSizeLimit(int) {}

[[maybe_unused]] const bool gFileSizeLimitFailsWrites = [] {
    struct sigaction old {};
    if (::sigaction(SIGXFSZ, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) || old.sa_handler != SIG_DFL)
        return false;
    struct sigaction action {};
    action.sa_handler = OnFileSizeLimit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGXFSZ, &action, nullptr) == 0;
}();

class FileObject : public KernelObject {
public:
    // The host path only finds the drive of a file opened for writing; nothing keeps it, so a file
    // opened to be read needs no path built at all (nullptr).
    FileObject(int handle, const std::string* writtenPath, bool readable, bool writable, bool regularFile = false)
        : fd(handle),
          canRead(readable),
          canWrite(writable),
          regular(regularFile),
          limited(writable && writtenPath ? LimitedDriveOfOpenFile(handle, *writtenPath) : std::nullopt)
    {}
    ~FileObject() override { ::close(fd); }

    const int fd;
    const bool canRead;
    const bool canWrite;
    // A plain file, where a short read can only mean its end: no second read to find it.
    const bool regular;
    // On a capacity-limited drive, writes are checked against its capacity; looked up once here
    // rather than for every write.
    const std::optional<DriveEntry> limited;
};

class FindObject : public KernelObject {
public:
    ~FindObject() override
    {
        if (dir)
            closedir(dir);
    }

    std::vector<WIN32_FIND_DATAA> entries;  // an exact name's one entry
    std::size_t next = 0;
    // A listing: sorted names, each looked up when its turn comes, so that a folder of thousands
    // of files is never held as thousands of find records.
    DIR* dir = nullptr;
    std::string folder;
    std::vector<std::string> names;
    // Where the caller's folder text maps to this folder name by name, the text ("C:\x\"), set
    // under the listings' lock before the listing is handed out; and the name handed out last if
    // it was a plain file or folder, not a link (kNoFile otherwise): its index in names times two,
    // plus one for a folder. That is what OpenListedFile and OpenListedFolder may open from here.
    // Names never change once listed, so the index is all an opener needs, and storing it takes no
    // lock for every listed file.
    static constexpr std::size_t kNoFile = std::size_t(-1);
    std::string givenFolder;
    std::atomic<std::size_t> lastListed{kNoFile};
};

// Live listings whose files may be opened relative to their folder, most recent last.
struct OpenListings {
    std::mutex lock;
    std::vector<std::weak_ptr<FindObject>> live;
};

OpenListings& Listings()
{
    static OpenListings listings;
    return listings;
}

std::shared_ptr<FileObject> FileOf(HANDLE handle)
{
    auto file = FindHandleOf<FileObject>(handle);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

std::string ParentOf(const std::string& hostPath)
{
    const auto slash = hostPath.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : hostPath.substr(0, slash);
}

std::string BaseOf(const std::string& hostPath)
{
    const auto slash = hostPath.find_last_of('/');
    return slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
}

std::string JoinHostName(const std::string& folder, std::string_view name)
{
    // One allocation: every file a walk opens gets its host path here.
    const bool root = folder == "/";
    std::string path;
    path.reserve((root ? 0 : folder.size()) + 1 + name.size());
    if (!root)
        path.append(folder);
    path.push_back('/');
    path.append(name);
    return path;
}

bool IsFolder(const std::string& hostPath)
{
    struct stat st {};
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Windows tells a missing file (2) from a missing folder on the way to it (3).
BOOL FailMissing(const std::string& hostPath)
{
    return FailWith(IsFolder(ParentOf(hostPath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
}

BOOL FailFromErrno(const std::string& hostPath, DWORD existsCode = ERROR_ALREADY_EXISTS)
{
    if (errno == ENOENT)
        return FailMissing(hostPath);
    return FailWithErrno(existsCode);
}

// The host path and status of an existing name (not followed through a link); false with the last
// error set when there is no such name.
bool StatExisting(const char* name, std::string& host, struct stat& st, WinPath* path = nullptr)
{
    if (!name)
        return FailWith(ERROR_INVALID_PARAMETER);
    HostPathState state;
    if (!ToHostPath(name, host, path, &state))
        return false;
    if (state.known == HostPathState::Present) {
        st = state.st;
        return true;
    }
    if (state.known == HostPathState::Missing)
        return FailWith(ERROR_FILE_NOT_FOUND);  // its folder was found
    if (lstat(host.c_str(), &st) != 0)
        return FailFromErrno(host);
    return true;
}

bool IsReadOnly(const struct stat& st)
{
    return !S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0;
}

DWORD SynthesizeAttributes(const std::string& hostPath, const struct stat& st, bool hidden)
{
    DWORD attributes = 0;
    if (S_ISLNK(st.st_mode)) {
        attributes = FILE_ATTRIBUTE_REPARSE_POINT;
        attributes |= IsFolder(hostPath) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    } else if (S_ISDIR(st.st_mode)) {
        attributes = FILE_ATTRIBUTE_DIRECTORY;
    } else if (S_ISREG(st.st_mode)) {
        attributes = FILE_ATTRIBUTE_ARCHIVE;
    } else {
        attributes = FILE_ATTRIBUTE_SYSTEM;
    }
    if (IsReadOnly(st))
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (hidden)
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    return attributes;
}

bool IsHiddenName(const std::string& name)
{
    return name.size() > 0 && name[0] == '.' && name != "." && name != "..";
}

// Creation time where the file system keeps one, else the last write.
timespec CreationTimeOf(int dirFd, const char* path, int flags, const struct stat& st)
{
    struct statx stx {};
    if (statx(dirFd, path, flags, STATX_BTIME, &stx) == 0 && (stx.stx_mask & STATX_BTIME))
        return timespec{static_cast<time_t>(stx.stx_btime.tv_sec), static_cast<long>(stx.stx_btime.tv_nsec)};
    return st.st_mtim;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Rename that refuses an existing target when `replace` is false, atomically where the file
// system allows.
int RenameHost(const std::string& from, const std::string& to, bool replace)
{
    if (replace)
        return ::rename(from.c_str(), to.c_str());
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

// Copies a regular file to a new hidden sibling of the target, with its permissions (never
// set-ID bits) and times, flushed to disk. Answers 0 and the sibling's name, or a Windows error.
DWORD CopyToSibling(const std::string& source, const std::string& target, std::string& sibling)
{
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno);
    struct stat st {};
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(in);
        return ERROR_ACCESS_DENIED;
    }
    if (!HasRoomFor(target, static_cast<std::uint64_t>(st.st_size))) {
        ::close(in);
        return ERROR_DISK_FULL;
    }
    // The sibling's name carries its owner, so that the copy of a killed run is found and
    // removed; a long target name is shortened to keep the name within 255 bytes.
    std::string name;
    int out = -1;
    for (int attempt = 0; attempt < 100 && out < 0; ++attempt) {
        name = ParentOf(target) + "/" + OwnedTempName("." + BaseOf(target).substr(0, 160) + ".");
        NoteTempFileMade(name);  // before it exists: no signal finds it unknown
        out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0 && errno != EEXIST)
            break;
    }
    if (out < 0) {
        const DWORD error = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
        ::close(in);
        return error;
    }
    DWORD error = ERROR_SUCCESS;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = ERROR_READ_FAULT;
            break;
        }
        if (n == 0)
            break;
        if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
            error = ErrorFromErrno(errno);
            break;
        }
    }
    if (error == ERROR_SUCCESS) {
        const timespec times[2] = {st.st_atim, st.st_mtim};
        fchmod(out, st.st_mode & 0777);
        futimens(out, times);
        if (fsync(out) != 0)
            error = ErrorFromErrno(errno);
    }
    if (::close(out) != 0 && error == ERROR_SUCCESS)
        error = ErrorFromErrno(errno);
    ::close(in);
    if (error != ERROR_SUCCESS) {
        ::unlink(name.c_str());
        return error;
    }
    sibling = std::move(name);
    return ERROR_SUCCESS;
}

// Gives a new file the mode, owner and group of the file it is to replace. Set-ID bits are never
// carried; when the group cannot be kept its permissions go, so nobody gains access.
void TakeOwnerAndMode(const std::string& fileHost, const struct stat& model)
{
    mode_t mode = model.st_mode & 01777;
    if (::chown(fileHost.c_str(), model.st_uid, model.st_gid) != 0 &&
        ::chown(fileHost.c_str(), static_cast<uid_t>(-1), model.st_gid) != 0)
        mode &= ~mode_t(S_IRWXG);
    ::chmod(fileHost.c_str(), mode);
}

// Puts a finished sibling in the target's place; removes it when that fails.
DWORD CommitSibling(const std::string& sibling, const std::string& target, bool replace)
{
    if (TestHooks().beforeRename)
        TestHooks().beforeRename(sibling, target);
    if (RenameHost(sibling, target, replace) == 0)
        return ERROR_SUCCESS;
    const DWORD error = ErrorFromErrno(errno, ERROR_FILE_EXISTS);
    ::unlink(sibling.c_str());
    return error;
}

// Why a file may not take the place of an existing target (0 when it may).
DWORD TargetRefusal(const std::string& target, bool replace, DWORD existsCode)
{
    struct stat st {};
    if (lstat(target.c_str(), &st) != 0)
        return ERROR_SUCCESS;
    if (!replace)
        return existsCode;
    if (S_ISDIR(st.st_mode) || IsReadOnly(st))
        return ERROR_ACCESS_DENIED;
    return ERROR_SUCCESS;
}

// A case-only rename ("a.txt" to "A.TXT") finds the source itself as the target; the new name is
// then the one given.
std::string TargetName(const std::string& sourceHost, const std::string& targetHost, const WinPath& target)
{
    struct stat a {
    }, b{};
    if (target.parts.empty() || lstat(sourceHost.c_str(), &a) != 0 || lstat(targetHost.c_str(), &b) != 0 ||
        a.st_dev != b.st_dev || a.st_ino != b.st_ino)
        return targetHost;
    std::string last;
    return HostNameOf(target.parts.back(), last) ? ParentOf(targetHost) + "/" + last : targetHost;
}

// A wildcard match over code points without case: "*" any run, "?" one code point.
bool MatchesPattern(const std::u32string& pattern, const std::u32string& name)
{
    std::size_t p = 0, n = 0, starP = std::u32string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u32string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

std::u32string Folded(const std::string& text)
{
    return DecodeUtf8(FoldCase(text));
}

// hostOf() gives the entry's host path, which only a link or an unknown creation time needs: a
// listing builds none for its plain files.
template <class HostOf>
void FillFindData(WIN32_FIND_DATAA& data, const HostOf& hostOf, const std::string& name, const struct stat& st,
                  const timespec* created = nullptr)
{
    const std::string hostPath = S_ISLNK(st.st_mode) || !created ? hostOf() : std::string();
    // Every field set here, the name's unused bytes cleared: clearing the whole record first cost
    // more than filling it, once per listed file.
    static_assert(sizeof(WIN32_FIND_DATAA) == 5 * sizeof(DWORD) + 3 * sizeof(FILETIME) + MAX_PATH + 14 + 2,
                  "a field of the find record that is not set below");
    data.dwFileAttributes = SynthesizeAttributes(hostPath, st, IsHiddenName(name));
    data.ftCreationTime =
        FileTimeFromTimespec(created ? *created : CreationTimeOf(AT_FDCWD, hostPath.c_str(), AT_SYMLINK_NOFOLLOW, st));
    data.ftLastAccessTime = FileTimeFromTimespec(st.st_atim);
    data.ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
    const auto size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    data.dwReserved0 = 0;
    data.dwReserved1 = 0;
    // The name as the Windows form holds it: a host name with a "\\" or a "*" is no path or mask.
    const std::string standIns = WindowsNameIsHostName(name) ? std::string() : WindowsNameOf(name);
    const std::string& shown = standIns.empty() ? name : standIns;
    std::size_t length = std::min(shown.size(), sizeof data.cFileName - 1);
    std::memcpy(data.cFileName, shown.data(), length);
    // Too long with its stand-ins: cut, and marked by a character no name may hold, so that
    // opening it fails instead of finding a file the cut name happens to name.
    if (length < shown.size())
        data.cFileName[length - 1] = '\x01';
    std::memset(data.cFileName + length, 0, sizeof data.cFileName - length);
    std::memset(data.cAlternateFileName, 0, sizeof data.cAlternateFileName);
}

// A listed name's status and creation time in one call, looked up from its open folder: listing a
// folder of thousands of files costs one call per file, not two walks of the full path.
bool StatListedName(int dirFd, const char* name, struct stat& st, timespec& created)
{
    struct statx stx;  // filled by the call: no clearing for every listed name
    if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &stx) != 0)
        return false;
    const auto time = [](const statx_timestamp& t) {
        return timespec{static_cast<time_t>(t.tv_sec), static_cast<long>(t.tv_nsec)};
    };
    // Each field assigned, not the record cleared first: once per listed file.
    st.st_dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    st.st_rdev = makedev(stx.stx_rdev_major, stx.stx_rdev_minor);
    st.st_blksize = static_cast<blksize_t>(stx.stx_blksize);
    st.st_blocks = static_cast<blkcnt_t>(stx.stx_blocks);
    st.st_ino = stx.stx_ino;
    st.st_mode = stx.stx_mode;
    st.st_nlink = stx.stx_nlink;
    st.st_uid = stx.stx_uid;
    st.st_gid = stx.stx_gid;
    st.st_size = static_cast<off_t>(stx.stx_size);
    st.st_atim = time(stx.stx_atime);
    st.st_mtim = time(stx.stx_mtime);
    st.st_ctim = time(stx.stx_ctime);
    created = (stx.stx_mask & STATX_BTIME) ? time(stx.stx_btime) : st.st_mtim;
    return true;
}

// The next listed name that is still there.
bool NextListedName(FindObject& search, WIN32_FIND_DATAA& data)
{
    while (search.next < search.names.size()) {
        const std::string& name = search.names[search.next++];
        struct stat st;  // filled by StatListedName
        timespec created{};
        if (!StatListedName(dirfd(search.dir), name.c_str(), st, created))
            continue;  // gone since the listing
        FillFindData(data, [&] { return JoinHostName(search.folder, name); }, name, st, &created);
        if (!search.givenFolder.empty())
            search.lastListed.store(S_ISREG(st.st_mode)   ? (search.next - 1) * 2
                                    : S_ISDIR(st.st_mode) ? (search.next - 1) * 2 + 1
                                                          : FindObject::kNoFile,
                                    std::memory_order_release);
        return true;
    }
    return false;
}

// Whether a name in a folder text maps to the host name as it stands: not ".", "..", invalid,
// ending in a dot or blank (which the mapping drops) or holding a stand-in for a host character.
bool PlainFolderName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.back() != '.' && name.back() != ' ' &&
           name.find('/') == std::string_view::npos && IsValidPathName(name) && WindowsNameIsHostName(name);
}

// Whether a folder's text ends in a separator and maps name by name to its host folder: an
// absolute drive path, "\" alone between names, each a plain folder name.
bool PlainFolderText(std::string_view folder)
{
    if (folder.size() < 3 || !std::isalpha(static_cast<unsigned char>(folder[0])) || folder[1] != ':' ||
        folder[2] != '\\' || folder.back() != '\\')
        return false;
    std::size_t start = 3;
    while (start < folder.size()) {
        const std::size_t end = folder.find('\\', start);
        if (!PlainFolderName(folder.substr(start, end - start)))
            return false;
        start = end + 1;
    }
    return true;
}

void OfferListing(const std::shared_ptr<FindObject>& search, std::string_view folderText);

// Lets the files of a listing be opened relative to its folder where the caller's text for the
// folder is the host folder, name for name.
void OfferListedFiles(const std::shared_ptr<FindObject>& search, std::string_view given, const WinPath& path)
{
    const std::string_view folderText = given.substr(0, given.find_last_of("\\/") + 1);
    if (!PlainFolderText(folderText))
        return;
    const auto drive = FindDrive(path.drive);
    if (!drive)
        return;
    std::string expected = drive->root;
    for (const auto& part : path.parts)
        expected = JoinHostName(expected, part);
    if (expected != search->folder)
        return;  // found without regard to case somewhere: the full path's lookup decides
    OfferListing(search, folderText);
}

void OfferListing(const std::shared_ptr<FindObject>& search, std::string_view folderText)
{
    auto& listings = Listings();
    std::lock_guard guard(listings.lock);
    std::erase_if(listings.live, [](const std::weak_ptr<FindObject>& l) { return l.expired(); });
    search->givenFolder = folderText;
    listings.live.push_back(search);
}

// The live listing of the caller's folder text that handed out Name last, a plain file or (Folder)
// a plain folder; null for none.
std::shared_ptr<FindObject> ListingHandingOut(std::string_view folderText, std::string_view name, bool folder)
{
    auto& listings = Listings();
    std::lock_guard guard(listings.lock);
    for (auto it = listings.live.rbegin(); it != listings.live.rend(); ++it) {
        auto live = it->lock();
        if (!live || live->givenFolder != folderText)
            continue;
        const std::size_t last = live->lastListed.load(std::memory_order_acquire);
        if (last != FindObject::kNoFile && (last & 1) == (folder ? 1 : 0) && last / 2 < live->names.size() &&
            live->names[last / 2] == name)
            return live;
    }
    return nullptr;
}

// The file a live listing just handed out, opened from the listing's open folder, so that a walk
// does not make the kernel look up every folder of the path again for each file. -1 for anything
// else (the caller then takes the full path): another name, a link, a folder, a name gone meanwhile.
int OpenListedFile(const char* fileName)
{
    const std::string_view given(fileName);
    const std::size_t slash = given.find_last_of('\\');
    if (slash == std::string_view::npos)
        return -1;
    const std::string_view folderText = given.substr(0, slash + 1);
    std::string_view name = given.substr(slash + 1);
    if (name.empty() || name.find('/') != std::string_view::npos)
        return -1;
    // The listing holds host names; a name with stand-ins is compared and opened as the host's.
    std::string hostName;
    if (name.find('\xEF') != std::string_view::npos) {
        if (!HostNameOf(name, hostName))
            return -1;
        name = hostName;
    }
    const std::shared_ptr<FindObject> listing = ListingHandingOut(folderText, name, false);
    if (!listing)
        return -1;
    // No following: the name was a plain file when listed, and a link put there since is the full path's.
    // No waiting either: a pipe put there since would hold the open until a writer came.
    return ::openat(dirfd(listing->dir), name.data(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

// The folder a live listing just handed out, given as its text and "\*", opened from the
// listing's open folder: a walk going down a tree makes the kernel look up no full path per folder.
// The folder's host name and its text (which maps to it name by name, as its parent's did) on
// success; null for anything else, and the caller takes the full path.
DIR* OpenListedFolder(std::string_view given, std::string& host, std::string_view& folderText)
{
    if (given.size() < 2 || given.substr(given.size() - 2) != "\\*")
        return nullptr;
    const std::string_view text = given.substr(0, given.size() - 1);
    const std::size_t slash = text.find_last_of('\\', text.size() - 2);
    if (slash == std::string_view::npos)
        return nullptr;
    const std::string_view name = text.substr(slash + 1, text.size() - slash - 2);
    if (!PlainFolderName(name))
        return nullptr;
    const std::shared_ptr<FindObject> listing = ListingHandingOut(text.substr(0, slash + 1), name, true);
    if (!listing)
        return nullptr;
    const std::string nameZ(name);
    // No following: the name was a folder when listed, and a link put there since is the full path's.
    const int fd = ::openat(dirfd(listing->dir), nameZ.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return nullptr;
    }
    host = JoinHostName(listing->folder, name);
    folderText = text;
    return dir;
}

// A name without wildcards is one lookup, not a listing of its folder: callers ask for one file's
// data per file they handle.
HANDLE FindExactName(const WinPath& path, WIN32_FIND_DATAA* findData)
{
    std::string host;
    if (!ToHostPath(path.ToString(), host))
        return INVALID_HANDLE_VALUE;
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0) {
        SetLastError(IsFolder(ParentOf(host)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto search = std::make_shared<FindObject>();
    search->entries.emplace_back();
    FillFindData(search->entries.back(), [&] { return host; }, BaseOf(host), st);
    *findData = search->entries[0];
    search->next = 1;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::move(search));
}

}  // namespace

FileTestHooks& TestHooks()
{
    static FileTestHooks hooks;
    return hooks;
}

BOOL CreateDirectoryTree(const char* pathName)
{
    WinPath path;
    std::string host;
    HostPathState state;
    if (!pathName || !ToHostPath(pathName, host, &path, &state))
        return pathName ? FALSE : FailWith(ERROR_INVALID_PARAMETER);
    // The common case when extracting: each file asks for its folder again.
    if ((state.known == HostPathState::Present && S_ISDIR(state.st.st_mode)) || IsFolder(host))
        return TRUE;
    WinPath level = path;
    level.parts.clear();
    level.trailingSeparator = false;
    for (const auto& part : path.parts) {
        level.parts.push_back(part);
        std::string levelHost;
        if (!ToHostPath(level.ToString(), levelHost))
            return FALSE;
        if (IsFolder(levelHost))
            continue;
        if (::mkdir(levelHost.c_str(), 0777) == 0)
            NoteNameAdded(levelHost);
        else if (!(errno == EEXIST && IsFolder(levelHost)))
            return FailFromErrno(levelHost);
    }
    return IsFolder(host) ? TRUE : FailWith(ERROR_PATH_NOT_FOUND);
}

HANDLE AdoptHostFile(int fd, const std::string& hostPath, bool canRead, bool canWrite)
{
    return AddHandle(std::make_shared<FileObject>(fd, &hostPath, canRead, canWrite));
}

BOOL PutTempFileInPlace(const std::string& tempHost, const std::string& targetHost)
{
    if (RenameHost(tempHost, targetHost, false) != 0)
        return FailFromErrno(errno == ENOENT ? tempHost : targetHost, ERROR_ALREADY_EXISTS);
    NoteNameAdded(targetHost);  // temporary names are not kept in listings
    return TRUE;
}

namespace {

HANDLE AdoptNewFile(int fd, const std::string& hostPath)
{
    if (fd < 0) {
        FailFromErrno(hostPath, ERROR_FILE_EXISTS);
        return INVALID_HANDLE_VALUE;
    }
    NoteNameAdded(hostPath);
    SetLastError(ERROR_SUCCESS);
    return AdoptHostFile(fd, hostPath, true, true);
}

}  // namespace

HANDLE CreateNewHostFile(const std::string& hostPath)
{
    return AdoptNewFile(::open(hostPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666), hostPath);
}

HANDLE CreateNewHostFileIn(int folderFd, const char* name, const std::string& hostPath)
{
    return AdoptNewFile(::openat(folderFd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666), hostPath);
}

HANDLE ShareFileHandle(HANDLE file)
{
    auto object = FindHandleOf<FileObject>(file);
    return object ? AddHandle(std::move(object)) : INVALID_HANDLE_VALUE;
}

BOOL RemoveHostFileIfHeld(const std::string& hostPath, HANDLE held)
{
    const auto file = FindHandleOf<FileObject>(held);
    struct stat mine {
    }, named{};
    if (!file || fstat(file->fd, &mine) != 0)
        return FailWith(ERROR_INVALID_HANDLE);
    if (lstat(hostPath.c_str(), &named) != 0)
        return FailFromErrno(hostPath);
    if (mine.st_dev != named.st_dev || mine.st_ino != named.st_ino)
        return FailWith(ERROR_FILE_EXISTS);
    if (::unlink(hostPath.c_str()) != 0)
        return FailFromErrno(hostPath);
    NoteNameRemoved(hostPath);
    return TRUE;
}

bool LookUpIn(int folderFd, const char* name, HostPathState& state)
{
    state = {};
    if (fstatat(folderFd, name, &state.st, AT_SYMLINK_NOFOLLOW) == 0) {
        state.known = HostPathState::Present;
        return true;
    }
    if (errno != ENOENT)
        return false;
    state.known = HostPathState::Missing;
    state.folderNoLink = true;
    return true;
}

HostFolderBelow::~HostFolderBelow()
{
    Close();
}

void HostFolderBelow::Close()
{
    if (fFd >= 0)
        ::close(fFd);
    if (fBaseFd >= 0)
        ::close(fBaseFd);
    fFd = fBaseFd = -1;
    fBase.clear();
    fRelative.clear();
}

int HostFolderBelow::Open(const std::string& base, std::string_view relative)
{
    if (fBaseFd < 0 || base != fBase) {
        Close();
        // The base itself may be reached through a link: it is the caller's choice.
        fBaseFd = ::open(base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fBaseFd < 0)
            return -1;
        fBase = base;
    }
    if (relative.empty())
        return fBaseFd;
    if (fFd >= 0 && relative == fRelative)
        return fFd;
    if (fFd >= 0)
        ::close(fFd);
    fFd = -1;
    fRelative.clear();
    int at = fBaseFd;
    std::string name;
    for (std::size_t start = 0; start <= relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos)
            end = relative.size();
        name.assign(relative.substr(start, end - start));
        // O_NOFOLLOW with O_PATH and O_DIRECTORY: a link fails as no folder.
        const int next = ::openat(at, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (at != fBaseFd)
            ::close(at);
        if (next < 0)
            return -1;
        at = next;
        start = end + 1;
    }
    fFd = at;
    fRelative = relative;
    return fFd;
}

BOOL TakeOwnerAndModeOf(const std::string& model, const std::string& file)
{
    std::string modelHost, fileHost;
    struct stat st {};
    if (!ToHostPath(model, modelHost) || !ToHostPath(file, fileHost))
        return FALSE;
    if (::stat(modelHost.c_str(), &st) != 0)
        return FailFromErrno(modelHost);
    TakeOwnerAndMode(fileHost, st);
    return TRUE;
}

BOOL NarrowModeTo(const std::string& model, const std::string& file)
{
    std::string modelHost, fileHost;
    struct stat m {
    }, f{};
    if (!ToHostPath(model, modelHost) || !ToHostPath(file, fileHost))
        return FALSE;
    if (::stat(modelHost.c_str(), &m) != 0 || ::stat(fileHost.c_str(), &f) != 0)
        return FailWithErrno();
    mode_t mode = f.st_mode & m.st_mode & 0777;
    if (f.st_gid != m.st_gid)
        mode &= ~mode_t(S_IRWXG);
    return ::chmod(fileHost.c_str(), mode | S_IRUSR | S_IWUSR) == 0 ? TRUE : FailWithErrno();
}

namespace {

// The process's umask, read without setting it (umask() would change it for other threads).
mode_t FileCreationMask()
{
    static const mode_t mask = [] {
        mode_t value = 022;
        if (FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, status))
                if (std::strncmp(line, "Umask:", 6) == 0) {
                    value = mode_t(std::strtoul(line + 6, nullptr, 8)) & 0777;
                    break;
                }
            std::fclose(status);
        }
        return value;
    }();
    return mask;
}

}  // namespace

BOOL GiveNewFileMode(const std::string& file)
{
    std::string host;
    if (!ToHostPath(file, host))
        return FALSE;
    return ::chmod(host.c_str(), 0666 & ~FileCreationMask()) == 0 ? TRUE : FailWithErrno();
}

BOOL PutFileInPlace(const std::string& finished, const std::string& target)
{
    std::string host;
    struct stat st {};
    if (ToHostPath(target, host) && ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return ReplaceFileA(target.c_str(), finished.c_str(), nullptr, 0, nullptr, nullptr);
    return MoveFileExA(finished.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
}

}  // namespace win

using namespace win;

namespace {

// What OpenHostFile opened: the descriptor and what the handle over it may do.
struct OpenedFile {
    int fd = -1;
    bool canRead = false;
    bool canWrite = false;
    bool regular = false;         // a plain file: a short read is its end
    bool reportExisting = false;  // ERROR_ALREADY_EXISTS is the open's last error
    std::string host;             // the host path; empty for a listed file opened from its folder
};

// CreateFileA's open, without a handle: false with the last error set.
bool OpenHostFile(const char* fileName, DWORD desiredAccess, DWORD creationDisposition, DWORD flagsAndAttributes,
                  OpenedFile& opened)
{
    if (!fileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    const bool wantRead = desiredAccess & GENERIC_READ;
    const bool wantWrite = desiredAccess & GENERIC_WRITE;
    if (wantRead && !wantWrite && creationDisposition == OPEN_EXISTING) {
        const int fd = OpenListedFile(fileName);
        if (fd >= 0) {
            opened = {fd, true, false, true, false, {}};
            return true;
        }
    }
    std::string& host = opened.host;
    HostPathState state;
    if (!ToHostPath(fileName, host, nullptr, &state))
        return false;
    int flags = O_CLOEXEC | (wantWrite ? (wantRead ? O_RDWR : O_WRONLY) : O_RDONLY);
    switch (creationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!wantWrite)
            return FailWith(ERROR_INVALID_PARAMETER);
        flags |= O_TRUNC;
        break;
    default:
        return FailWith(ERROR_INVALID_PARAMETER);
    }

    struct stat before = state.st;
    const bool knownTarget =
        state.known == HostPathState::Missing || (state.known == HostPathState::Present && !S_ISLNK(state.st.st_mode));
    const bool existed = knownTarget ? state.known == HostPathState::Present : stat(host.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode) && (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) &&
        creationDisposition == OPEN_EXISTING) {
        const int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return FailFromErrno(host, ERROR_ACCESS_DENIED);
        opened.fd = fd;
        return true;
    }
    if (existed && S_ISDIR(before.st_mode))
        return FailWith(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    // A pipe would block the open until a peer comes; a backup must not hang on one.
    if (existed && (S_ISFIFO(before.st_mode) || S_ISSOCK(before.st_mode)))
        return FailWith(creationDisposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    if (existed && creationDisposition != CREATE_NEW && (wantWrite || (flags & O_TRUNC)) && IsReadOnly(before))
        return FailWith(ERROR_ACCESS_DENIED);
    const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    const int fd = ::open(host.c_str(), flags, mode);
    if (fd < 0)
        return FailFromErrno(host, ERROR_FILE_EXISTS);
    if (!existed)
        NoteNameAdded(host);
    opened.fd = fd;
    opened.canRead = wantRead;
    opened.canWrite = wantWrite;
    opened.regular = existed && S_ISREG(before.st_mode);
    opened.reportExisting = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    return true;
}

// Reads until Count bytes, the end, or an error (false, errno set); a short read of a plain file is
// its end.
bool ReadFully(int fd, bool regular, void* buffer, DWORD count, DWORD& total)
{
    auto* out = static_cast<char*>(buffer);
    total = 0;
    while (total < count) {
        const ssize_t n = ::read(fd, out + total, count - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
        if (regular && total < count)
            break;  // the end of a plain file
    }
    return true;
}

}  // namespace

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD /*shareMode*/, void* /*securityAttributes*/,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE /*templateFile*/)
{
    OpenedFile opened;
    if (!OpenHostFile(fileName, desiredAccess, creationDisposition, flagsAndAttributes, opened))
        return INVALID_HANDLE_VALUE;
    HANDLE handle = AddHandle(std::make_shared<FileObject>(opened.fd, opened.host.empty() ? nullptr : &opened.host,
                                                           opened.canRead, opened.canWrite, opened.regular));
    SetLastError(opened.reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

win::ReadOnceFile::~ReadOnceFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool win::ReadOnceFile::Open(const char* fileName)
{
    OpenedFile opened;
    if (!OpenHostFile(fileName, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, opened))
        return false;
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = opened.fd;
    regular_ = opened.regular;
    SetLastError(ERROR_SUCCESS);
    return true;
}

bool win::ReadOnceFile::Read(void* buffer, DWORD count, DWORD& got)
{
    got = 0;
    if (fd_ < 0)
        return FailWith(ERROR_INVALID_HANDLE);
    return ReadFully(fd_, regular_, buffer, count, got) || FailWithErrno();
}

bool win::ReadOnceFile::LastWriteTime(FILETIME& time) const
{
    struct stat st {};
    if (fd_ < 0)
        return FailWith(ERROR_INVALID_HANDLE);
    if (fstat(fd_, &st) != 0)
        return FailWithErrno();
    time = FileTimeFromTimespec(st.st_mtim);
    return true;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* /*overlapped*/)
{
    if (bytesRead)
        *bytesRead = 0;
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    if (!object->canRead)
        return FailWith(ERROR_ACCESS_DENIED);
    DWORD total = 0;
    if (!ReadFully(object->fd, object->regular, buffer, bytesToRead, total))
        return FailWithErrno();
    if (bytesRead)
        *bytesRead = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* /*overlapped*/)
{
    if (bytesWritten)
        *bytesWritten = 0;
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    if (!object->canWrite)
        return FailWith(ERROR_ACCESS_DENIED);
    if (object->limited) {
        struct stat st {};
        const off_t position = ::lseek(object->fd, 0, SEEK_CUR);
        if (position < 0 || fstat(object->fd, &st) != 0)
            return FailWithErrno();
        const std::uint64_t end = static_cast<std::uint64_t>(position) + bytesToWrite;
        const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
        if (end > size && !HasRoomOn(*object->limited, end - size))
            return FailWith(ERROR_DISK_FULL);
    }
    if (!WriteAll(object->fd, static_cast<const char*>(buffer), bytesToWrite))
        return FailWithErrno();
    if (bytesWritten)
        *bytesWritten = bytesToWrite;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    int whence = SEEK_SET;
    switch (moveMethod) {
    case FILE_BEGIN:
        whence = SEEK_SET;
        break;
    case FILE_CURRENT:
        whence = SEEK_CUR;
        break;
    case FILE_END:
        whence = SEEK_END;
        break;
    default:
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    const off_t position = ::lseek(object->fd, static_cast<off_t>(distance.QuadPart), whence);
    if (position < 0)
        return FailWith(errno == EINVAL ? ERROR_NEGATIVE_SEEK : ErrorFromErrno(errno));
    if (newPosition)
        newPosition->QuadPart = position;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod)
{
    LARGE_INTEGER move;
    move.QuadPart =
        distanceHigh ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                                                 static_cast<DWORD>(distance))
                     : distance;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(file, move, &position, moveMethod))
        return INVALID_SET_FILE_POINTER;
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position.QuadPart) >> 32);
    else if (position.QuadPart > 0x7FFFFFFF)
        return FailWith(ERROR_INVALID_PARAMETER), INVALID_SET_FILE_POINTER;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(position.QuadPart);
}

BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    struct stat st {};
    if (fstat(object->fd, &st) != 0)
        return FailWithErrno();
    if (size)
        size->QuadPart = st.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size))
        return INVALID_FILE_SIZE;
    if (sizeHigh)
        *sizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(size.QuadPart) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size.QuadPart);
}

BOOL SetEndOfFile(HANDLE file)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    if (!object->canWrite)
        return FailWith(ERROR_ACCESS_DENIED);
    struct stat st {};
    const off_t position = ::lseek(object->fd, 0, SEEK_CUR);
    if (position < 0 || fstat(object->fd, &st) != 0)
        return FailWithErrno();
    if (object->limited && position > st.st_size &&
        !HasRoomOn(*object->limited, static_cast<std::uint64_t>(position - st.st_size)))
        return FailWith(ERROR_DISK_FULL);
    return ::ftruncate(object->fd, position) == 0 ? TRUE : FailWithErrno();
}

BOOL FlushFileBuffers(HANDLE file)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    return ::fsync(object->fd) == 0 ? TRUE : FailWithErrno();
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    struct stat st {};
    if (fstat(object->fd, &st) != 0)
        return FailWithErrno();
    if (creation)
        *creation = FileTimeFromTimespec(CreationTimeOf(object->fd, "", AT_EMPTY_PATH, st));
    if (lastAccess)
        *lastAccess = FileTimeFromTimespec(st.st_atim);
    if (lastWrite)
        *lastWrite = FileTimeFromTimespec(st.st_mtim);
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* /*creation*/, const FILETIME* lastAccess, const FILETIME* lastWrite)
{
    const auto object = FileOf(file);
    if (!object)
        return FALSE;
    auto timeOf = [](const FILETIME* ft) {
        if (!ft || (ft->dwLowDateTime == 0 && ft->dwHighDateTime == 0))
            return timespec{0, UTIME_OMIT};
        return TimespecFromFileTime(*ft);
    };
    const timespec times[2] = {timeOf(lastAccess), timeOf(lastWrite)};
    return ::futimens(object->fd, times) == 0 ? TRUE : FailWithErrno();
}

BOOL CreateHardLinkA(const char* fileName, const char* existingFileName, void* /*securityAttributes*/)
{
    if (!fileName || !existingFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::string link, existing;
    if (!ToHostPath(fileName, link) || !ToHostPath(existingFileName, existing))
        return FALSE;
    struct stat st {};
    if (lstat(existing.c_str(), &st) != 0)
        return FailFromErrno(existing);
    if (!S_ISREG(st.st_mode))
        return FailWith(ERROR_ACCESS_DENIED);
    if (::link(existing.c_str(), link.c_str()) != 0)
        return FailFromErrno(link);
    NoteNameAdded(link);
    return TRUE;
}

BOOL DeleteFileA(const char* fileName)
{
    std::string host;
    struct stat st {};
    if (!StatExisting(fileName, host, st))
        return FALSE;
    if (S_ISDIR(st.st_mode) || IsReadOnly(st))
        return FailWith(ERROR_ACCESS_DENIED);
    if (::unlink(host.c_str()) != 0)
        return FailFromErrno(host);
    NoteNameRemoved(host);
    return TRUE;
}

BOOL MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags)
{
    if (!existingFileName || !newFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::string source, target;
    WinPath targetPath;
    HostPathState sourceState, targetState;
    if (!ToHostPath(existingFileName, source, nullptr, &sourceState) ||
        !ToHostPath(newFileName, target, &targetPath, &targetState))
        return FALSE;
    struct stat st = sourceState.st;
    if (sourceState.known != HostPathState::Present && lstat(source.c_str(), &st) != 0)
        return FailFromErrno(source);
    if (targetState.known != HostPathState::Missing)
        target = TargetName(source, target, targetPath);
    const bool replace = flags & MOVEFILE_REPLACE_EXISTING;
    if (target != source && targetState.known != HostPathState::Missing) {
        if (const DWORD refusal = TargetRefusal(target, replace, ERROR_ALREADY_EXISTS))
            return FailWith(refusal);
        if (S_ISDIR(st.st_mode) && replace && lstat(target.c_str(), &st) == 0)
            return FailWith(ERROR_ACCESS_DENIED);
    }

    // A rename into a capacity-limited drive from outside it goes through a copy, which checks
    // the space.
    const auto limited = LimitedDriveOf(target);
    const bool mustCopy = TestHooks().forceCrossDevice || (limited && !IsUnderFolder(source, limited->root));
    if (!mustCopy) {
        if (TestHooks().beforeRename)
            TestHooks().beforeRename(source, target);
        if (RenameHost(source, target, replace) == 0) {
            NoteNameRemoved(source);
            NoteNameAdded(target);
            return TRUE;
        }
        if (errno != EXDEV)
            return FailFromErrno(errno == ENOENT ? target : source, ERROR_ALREADY_EXISTS);
    }
    lstat(source.c_str(), &st);
    if (!(flags & MOVEFILE_COPY_ALLOWED) || !S_ISREG(st.st_mode))
        return FailWith(ERROR_NOT_SAME_DEVICE);

    std::string sibling;
    if (const DWORD error = CopyToSibling(source, target, sibling))
        return FailWith(error);
    if (TestHooks().afterCrossDeviceCopy)
        TestHooks().afterCrossDeviceCopy(sibling);
    if (const DWORD error = CommitSibling(sibling, target, replace))
        return FailWith(error == ERROR_FILE_EXISTS ? ERROR_ALREADY_EXISTS : error);
    NoteNameAdded(target);
    if (::unlink(source.c_str()) != 0)
        return FailWithErrno();
    NoteNameRemoved(source);
    return TRUE;
}

BOOL MoveFileA(const char* existingFileName, const char* newFileName)
{
    return MoveFileExA(existingFileName, newFileName, MOVEFILE_COPY_ALLOWED);
}

BOOL ReplaceFileA(const char* replacedFileName, const char* replacementFileName, const char* backupFileName,
                  DWORD /*replaceFlags*/, void* /*exclude*/, void* /*reserved*/)
{
    if (!replacedFileName || !replacementFileName || backupFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::string replaced, replacement;
    if (!ToHostPath(replacedFileName, replaced) || !ToHostPath(replacementFileName, replacement))
        return FALSE;
    // The update goes to the file a link names; the link keeps standing.
    char* real = ::realpath(replaced.c_str(), nullptr);
    if (!real)
        return FailFromErrno(replaced);
    const std::string target(real);
    std::free(real);
    struct stat model {
    }, st{};
    if (::stat(target.c_str(), &model) != 0)
        return FailFromErrno(target);
    if (!S_ISREG(model.st_mode) || IsReadOnly(model))
        return FailWith(ERROR_ACCESS_DENIED);
    if (lstat(replacement.c_str(), &st) != 0)
        return FailFromErrno(replacement);
    if (!S_ISREG(st.st_mode))
        return FailWith(ERROR_ACCESS_DENIED);
    if (st.st_dev == model.st_dev && st.st_ino == model.st_ino)
        return FailWith(ERROR_SHARING_VIOLATION);

    const auto limited = LimitedDriveOf(target);
    const bool mustCopy = TestHooks().forceCrossDevice || st.st_dev != model.st_dev ||
                          (limited && !IsUnderFolder(replacement, limited->root));
    if (!mustCopy) {
        TakeOwnerAndMode(replacement, model);
        if (TestHooks().beforeRename)
            TestHooks().beforeRename(replacement, target);
        if (::rename(replacement.c_str(), target.c_str()) == 0) {
            NoteNameRemoved(replacement);
            NoteNameAdded(target);
            return TRUE;
        }
        if (errno != EXDEV)
            return FailFromErrno(replacement);
    }
    std::string sibling;
    if (const DWORD error = CopyToSibling(replacement, target, sibling))
        return FailWith(error);
    TakeOwnerAndMode(sibling, model);
    if (TestHooks().afterCrossDeviceCopy)
        TestHooks().afterCrossDeviceCopy(sibling);
    if (const DWORD error = CommitSibling(sibling, target, true))
        return FailWith(error);
    NoteNameAdded(target);
    if (::unlink(replacement.c_str()) != 0)
        return FailWithErrno();
    NoteNameRemoved(replacement);
    return TRUE;
}

BOOL CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists)
{
    if (!existingFileName || !newFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    std::string source, target;
    if (!ToHostPath(existingFileName, source) || !ToHostPath(newFileName, target))
        return FALSE;
    struct stat from {
    }, to{};
    if (stat(source.c_str(), &from) != 0)
        return FailFromErrno(source);
    if (S_ISDIR(from.st_mode))
        return FailWith(ERROR_ACCESS_DENIED);
    if (stat(target.c_str(), &to) == 0 && to.st_dev == from.st_dev && to.st_ino == from.st_ino)
        return FailWith(ERROR_SHARING_VIOLATION);
    if (const DWORD refusal = TargetRefusal(target, !failIfExists, ERROR_FILE_EXISTS))
        return FailWith(refusal);
    std::string sibling;
    if (const DWORD error = CopyToSibling(source, target, sibling))
        return FailWith(error);
    if (const DWORD error = CommitSibling(sibling, target, !failIfExists))
        return FailWith(error);
    NoteNameAdded(target);
    return TRUE;
}

BOOL CreateDirectoryA(const char* pathName, void* /*securityAttributes*/)
{
    std::string host;
    if (!pathName)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!ToHostPath(pathName, host))
        return FALSE;
    if (::mkdir(host.c_str(), 0777) == 0) {
        NoteNameAdded(host);
        return TRUE;
    }
    return FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno, ERROR_ALREADY_EXISTS));
}

BOOL RemoveDirectoryA(const char* pathName)
{
    std::string host;
    struct stat st {};
    if (!StatExisting(pathName, host, st))
        return FALSE;
    if (S_ISLNK(st.st_mode) && IsFolder(host))  // a link to a folder goes as the link
        return ::unlink(host.c_str()) == 0 ? TRUE : FailWithErrno();
    if (!S_ISDIR(st.st_mode))
        return FailWith(ERROR_DIRECTORY);
    if (::rmdir(host.c_str()) == 0) {
        NoteNameRemoved(host);
        return TRUE;
    }
    return FailWith(errno == EEXIST || errno == ENOTEMPTY ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno));
}

HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData)
{
    if (!fileName || !findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string_view given(fileName);
    WinPath path;
    std::string pattern = "*";
    std::string folder;
    std::string_view listedText;
    DIR* dir = OpenListedFolder(given, folder, listedText);
    if (!dir) {
        if (given.empty() || IsPathSeparator(given.back())) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        if (!ParseFullPath(given, path))
            return INVALID_HANDLE_VALUE;
        if (path.parts.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        pattern = path.parts.back();
        if (pattern.find_first_of("*?") == std::string::npos)
            return FindExactName(path, findData);
        if (pattern == "*.*")
            pattern = "*";
        path.parts.pop_back();
        if (!ToHostPath(path.ToString(), folder))
            return INVALID_HANDLE_VALUE;
        dir = opendir(folder.c_str());
        if (!dir) {
            SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
            return INVALID_HANDLE_VALUE;
        }
    }
    const std::u32string foldedPattern = Folded(pattern);
    const bool everything = pattern == "*";
    const bool isRoot = listedText.empty() && path.parts.empty();
    // Folded once per name: a sort that folds in every comparison cost more than the listing. The
    // folded UTF-8 sorts as its code points do, by plain byte comparison. Most names are their own
    // folded form (lower-case ASCII) and keep no second copy; the sort moves views, not strings.
    std::vector<std::string> names;
    std::deque<std::string> foldings;  // of the other names; a deque keeps them in place
    struct Found {
        int rank;
        std::uint32_t index;
        std::string_view folded;
        std::string_view name;
    };
    std::vector<Found> found;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (isRoot && (name == "." || name == ".."))
            continue;
        const bool ownFolded = std::all_of(name.begin(), name.end(), [](char c) {
            return static_cast<unsigned char>(c) < 0x80 && !(c >= 'A' && c <= 'Z');
        });
        std::string folded = ownFolded ? std::string() : FoldCase(std::string(name));
        // A pattern meets names as the Windows form holds them.
        const auto matches = [&] {
            if (!WindowsNameIsHostName(name))
                return MatchesPattern(foldedPattern, DecodeUtf8(FoldCase(WindowsNameOf(name))));
            return MatchesPattern(foldedPattern, DecodeUtf8(ownFolded ? name : std::string_view(folded)));
        };
        if (everything || matches()) {
            const int rank = name == "." ? 0 : name == ".." ? 1 : 2;
            found.push_back({rank, std::uint32_t(names.size()), {}, {}});
            names.emplace_back(name);
            if (!ownFolded)
                foldings.push_back(std::move(folded));
            found.back().folded = ownFolded ? std::string_view() : std::string_view(foldings.back());
        }
    }
    for (auto& f : found) {
        f.name = names[f.index];
        if (f.folded.data() == nullptr)
            f.folded = f.name;
    }
    // Merging, not quicksort: a folder's own order (newest first on tmpfs) drove the quicksort into
    // its slow fallback. The names are unique, so the order is the same either way.
    const auto before = [](const Found& a, const Found& b) {
        if (a.rank != b.rank)
            return a.rank < b.rank;
        if (const int c = a.folded.compare(b.folded); c != 0)
            return c < 0;
        return a.name < b.name;
    };
    // A folder of files made in name order comes from tmpfs in exactly the reverse order, after
    // "." and "..": turned round instead of sorted.
    const auto names0 = std::find_if(found.begin(), found.end(), [](const Found& f) { return f.rank == 2; });
    if (std::is_sorted(found.begin(), names0, before) && std::none_of(names0, found.end(), [](const Found& f) {
            return f.rank != 2;
        }) && std::is_sorted(found.rbegin(), std::make_reverse_iterator(names0), before))
        std::reverse(names0, found.end());
    else
        std::stable_sort(found.begin(), found.end(), before);
    // The names put in sorted order where they are, cycle by cycle: no second list of them.
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (found[i].index == i)
            continue;
        std::string first = std::move(names[i]);
        std::size_t at = i;
        for (;;) {
            const std::size_t from = found[at].index;
            found[at].index = std::uint32_t(at);
            if (from == i) {
                names[at] = std::move(first);
                break;
            }
            names[at] = std::move(names[from]);
            at = from;
        }
    }
    auto search = std::make_shared<FindObject>();
    search->dir = dir;
    search->folder = folder;
    search->names = std::move(names);
    if (listedText.empty())
        OfferListedFiles(search, given, path);
    else
        OfferListing(search, listedText);
    if (!NextListedName(*search, *findData)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::move(search));
}

BOOL FindNextFileA(HANDLE findFile, WIN32_FIND_DATAA* findData)
{
    const auto search = FindHandleOf<FindObject>(findFile);
    if (!search)
        return FailWith(ERROR_INVALID_HANDLE);
    if (search->dir) {
        WIN32_FIND_DATAA data;
        if (!NextListedName(*search, findData ? *findData : data))
            return FailWith(ERROR_NO_MORE_FILES);
        return TRUE;
    }
    if (search->next >= search->entries.size())
        return FailWith(ERROR_NO_MORE_FILES);
    if (findData)
        *findData = search->entries[search->next];
    ++search->next;
    return TRUE;
}

BOOL FindClose(HANDLE findFile)
{
    if (!FindHandleOf<FindObject>(findFile))
        return FailWith(ERROR_INVALID_HANDLE);
    TakeHandle(findFile);
    return TRUE;
}

DWORD GetFileAttributesA(const char* fileName)
{
    std::string host;
    WinPath path;
    struct stat st {};
    if (!StatExisting(fileName, host, st, &path))
        return INVALID_FILE_ATTRIBUTES;
    return SynthesizeAttributes(host, st, !path.parts.empty() && IsHiddenName(BaseOf(host)));
}

BOOL SetFileAttributesA(const char* fileName, DWORD fileAttributes)
{
    std::string host;
    struct stat st {};
    if (fileAttributes == INVALID_FILE_ATTRIBUTES)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!StatExisting(fileName, host, st))
        return FALSE;
    // Windows keeps read-only on a folder without stopping anyone from adding files to it; taking
    // the folder's write permission away would, so folders and links are left alone.
    if (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode))
        return TRUE;
    mode_t mode = st.st_mode & 07777;
    if (fileAttributes & FILE_ATTRIBUTE_READONLY)
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    else
        mode |= S_IWUSR;
    if (mode == (st.st_mode & 07777))
        return TRUE;
    return ::chmod(host.c_str(), mode) == 0 ? TRUE : FailWithErrno();
}

UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName)
{
    std::string folderHost;
    WinPath folder;
    if (!pathName || !tempFileName)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!ToHostPath(pathName, folderHost, &folder))
        return 0;
    if (!IsFolder(folderHost))
        return FailWith(ERROR_DIRECTORY);
    // The first three characters of the prefix, whole code points.
    std::u32string prefix = DecodeUtf8(prefixString ? prefixString : "");
    prefix.resize(std::min<std::size_t>(prefix.size(), 3));
    folder.trailingSeparator = false;
    std::string base = folder.ToString();
    if (base.back() != '\\')
        base += '\\';
    base += EncodeUtf8(prefix);

    auto nameFor = [&](UINT number) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%X.tmp", number & 0xFFFF);
        return base + hex;
    };
    if (unique != 0) {
        const std::string name = nameFor(unique);
        if (name.size() >= MAX_PATH)
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        std::memcpy(tempFileName, name.c_str(), name.size() + 1);
        return unique;
    }
    if (nameFor(0xFFFF).size() >= MAX_PATH)
        return FailWith(ERROR_FILENAME_EXCED_RANGE);

    static std::mt19937 random{std::random_device{}()};
    static std::mutex randomLock;
    UINT start;
    {
        std::lock_guard guard(randomLock);
        start = random() & 0xFFFF;
    }
    for (UINT i = 0; i < 0x10000; ++i) {
        const UINT number = (start + i) & 0xFFFF;
        if (number == 0)
            continue;
        const std::string name = nameFor(number);
        const std::string host = JoinHostName(folderHost, name.substr(name.find_last_of('\\') + 1));
        // O_EXCL: a name that exists, or that another process takes first, is never reused.
        const int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return FailWithErrno();
        }
        ::close(fd);
        NoteNameAdded(host);
        std::memcpy(tempFileName, name.c_str(), name.size() + 1);
        SetLastError(ERROR_SUCCESS);
        return number;
    }
    return FailWith(ERROR_FILE_EXISTS);
}
