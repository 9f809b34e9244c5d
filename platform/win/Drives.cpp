#include "platform/win/Drives.h"

#include "platform/win/Errors.h"
#include "platform/win/Paths.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace win {
namespace {

// What the table file was when the table was read: a medium swapped by rewriting the file (its
// label, its folder) must be seen by the next question about the medium.
struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    return {true,
            st.st_dev,
            st.st_ino,
            st.st_size,
            std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec,
            std::int64_t(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec};
}

struct TableState {
    std::mutex lock;
    bool loaded = false;
    std::vector<DriveEntry> entries;
    FileStamp tableFile;
};

TableState& State()
{
    static TableState state;
    return state;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/";
}

// Roots are kept canonical so that host paths from the kernel (getcwd, /proc) map back.
std::string CanonicalRoot(const std::string& folder)
{
    std::error_code ec;
    fs::path canonical = fs::weakly_canonical(fs::path(folder), ec);
    std::string root = ec ? folder : canonical.string();
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

std::string TrimBlanks(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

const std::pair<const char*, UINT> typeNames[] = {
    {"removable", DRIVE_REMOVABLE}, {"fixed", DRIVE_FIXED},     {"remote", DRIVE_REMOTE},
    {"cdrom", DRIVE_CDROM},         {"ramdisk", DRIVE_RAMDISK},
};

std::optional<UINT> TypeFromName(std::string_view name)
{
    for (const auto& [text, type] : typeNames)
        if (SameText(name, text))
            return type;
    return std::nullopt;
}

const char* NameOfType(UINT type)
{
    for (const auto& [text, t] : typeNames)
        if (t == type)
            return text;
    return "fixed";
}

// "X:" or "\\server\share" as the first field of a table line.
bool ParseDriveName(std::string_view name, DriveEntry& entry)
{
    if (name.size() == 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0]))) {
        entry.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        return true;
    }
    if (name.size() > 2 && IsPathSeparator(name[0]) && IsPathSeparator(name[1])) {
        name.remove_prefix(2);
        const auto sep = std::find_if(name.begin(), name.end(), IsPathSeparator);
        if (sep == name.end() || sep == name.begin() || sep + 1 == name.end())
            return false;
        entry.server.assign(name.begin(), sep);
        entry.share.assign(sep + 1, name.end());
        return entry.share.find_first_of("\\/") == std::string::npos;
    }
    return false;
}

std::optional<DriveEntry> ParseLine(std::string_view line)
{
    std::size_t pos = 0;
    auto nextToken = [&]() -> std::string {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        const std::size_t start = pos;
        bool quoted = false;
        while (pos < line.size() && (quoted || (line[pos] != ' ' && line[pos] != '\t'))) {
            if (line[pos] == '"')
                quoted = !quoted;
            ++pos;
        }
        return std::string(line.substr(start, pos - start));
    };
    DriveEntry entry;
    entry.configured = true;
    if (!ParseDriveName(nextToken(), entry))
        return std::nullopt;
    const auto type = TypeFromName(nextToken());
    if (!type)
        return std::nullopt;
    entry.type = *type;
    for (;;) {
        const std::size_t before = pos;
        const std::string token = nextToken();
        if (token.rfind("capacity=", 0) == 0) {
            char* end = nullptr;
            entry.capacity = std::strtoull(token.c_str() + 9, &end, 10);
            if (*end != '\0')
                return std::nullopt;
        } else if (token.rfind("label=", 0) == 0) {
            std::string label = token.substr(6);
            if (label.size() >= 2 && label.front() == '"' && label.back() == '"')
                label = label.substr(1, label.size() - 2);
            entry.label = label;
        } else {
            pos = before;
            break;
        }
    }
    entry.root = TrimBlanks(line.substr(pos));
    if (entry.root.empty() || entry.root[0] != '/')
        return std::nullopt;
    if (entry.letter == 0 && entry.type != DRIVE_REMOTE)
        return std::nullopt;
    return entry;
}

// Mount points escape blanks and a few other bytes as \ooo.
std::string UnescapeMountField(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view oct = field.substr(i + 1, 3);
            if (oct.size() == 3 && std::all_of(oct.begin(), oct.end(), [](char c) { return c >= '0' && c <= '7'; })) {
                out += static_cast<char>((oct[0] - '0') * 64 + (oct[1] - '0') * 8 + (oct[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::optional<UINT> MountType(const std::string& mountPoint, const std::string& fsType)
{
    static const char* const remoteTypes[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p"};
    for (const char* t : remoteTypes)
        if (fsType == t)
            return DRIVE_REMOTE;
    if (fsType == "iso9660" || fsType == "udf")
        return DRIVE_CDROM;
    if (mountPoint.rfind("/media/", 0) == 0 || mountPoint.rfind("/run/media/", 0) == 0)
        return DRIVE_REMOVABLE;
    return std::nullopt;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<DriveEntry> BuildTable()
{
    std::vector<DriveEntry> entries;
    auto setDrive = [&](DriveEntry entry) {
        auto same = [&](const DriveEntry& e) {
            return entry.letter ? e.letter == entry.letter
                                : e.letter == 0 && SameText(e.server, entry.server) && SameText(e.share, entry.share);
        };
        entries.erase(std::remove_if(entries.begin(), entries.end(), same), entries.end());
        entries.push_back(std::move(entry));
    };
    setDrive(DriveEntry{'C', {}, {}, DRIVE_FIXED, HomeFolder(), 0, {}, false});
    setDrive(DriveEntry{'Z', {}, {}, DRIVE_FIXED, "/", 0, {}, false});
    for (auto& entry : ParseDriveTable(ReadWholeFile(DriveTableFile())))
        setDrive(std::move(entry));
    for (auto& entry : entries)
        entry.root = CanonicalRoot(entry.root);

    char letter = 'D';
    for (auto& mount : DrivesFromMounts(ReadWholeFile("/proc/self/mounts"))) {
        mount.root = CanonicalRoot(mount.root);
        const bool known =
            std::any_of(entries.begin(), entries.end(), [&](const DriveEntry& e) { return e.root == mount.root; });
        if (known)
            continue;
        while (letter <= 'Y' &&
               std::any_of(entries.begin(), entries.end(), [&](const DriveEntry& e) { return e.letter == letter; }))
            ++letter;
        if (letter > 'Y')
            break;
        mount.letter = letter;
        entries.push_back(std::move(mount));
    }
    return entries;
}

// Call with the lock held.
std::vector<DriveEntry>& LoadedEntries(TableState& state)
{
    if (!state.loaded) {
        state.tableFile = StampOf(DriveTableFile());
        state.entries = BuildTable();
        state.loaded = true;
    }
    return state.entries;
}

bool IsUnder(const std::string& path, const std::string& root)
{
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
}

bool HoldsMedia(const DriveEntry& entry)
{
    return entry.type == DRIVE_REMOVABLE || entry.type == DRIVE_CDROM;
}

// A medium's serial: the drive's, and for removable media also the identity of what is mounted or
// put in the folder now, so that another disk in the same drive reads as another disk.
DWORD SerialOf(const DriveEntry& entry)
{
    std::uint32_t hash = 2166136261u;
    std::string key = std::string(1, entry.letter) + entry.server + "\\" + entry.share + ":" + entry.root;
    struct stat st {};
    if (HoldsMedia(entry) && ::stat(entry.root.c_str(), &st) == 0)
        key += ":" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    for (unsigned char c : key)
        hash = (hash ^ c) * 16777619u;
    return hash;
}

// A removable medium that the table file does not describe (one the system mounted) keeps its
// label on itself, so the label goes with the disk.
constexpr const char* MediumLabelFile = ".volume-label";

std::string MediumLabel(const DriveEntry& entry)
{
    if (entry.configured || entry.type != DRIVE_REMOVABLE)
        return entry.label;
    std::ifstream in(entry.root + "/" + MediumLabelFile, std::ios::binary);
    if (!in)
        return entry.label;
    std::string label;
    std::getline(in, label);
    return label.size() <= 32 ? label : std::string();
}

BOOL WriteMediumLabel(const DriveEntry& entry, const std::string& label)
{
    const std::string file = entry.root + "/" + MediumLabelFile;
    if (label.empty()) {
        if (std::remove(file.c_str()) != 0 && errno != ENOENT)
            return FailWithErrno();
        return TRUE;
    }
    const std::string temp = file + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << label << "\n";
        if (!out.flush()) {
            std::remove(temp.c_str());
            return FailWith(ERROR_WRITE_FAULT);
        }
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        const BOOL result = FailWithErrno();
        std::remove(temp.c_str());
        return result;
    }
    return TRUE;
}

// The drive entry of a root path: "C:", "C:\", "C:/", "\\server\share[\]"; null means the current
// drive. Windows answers only for roots, not for folders below them.
std::optional<DriveEntry> DriveOfRoot(const char* rootPath)
{
    std::string root = rootPath ? rootPath : "";
    if (root.empty()) {
        WinPath current;
        if (!ParseFullPath(CurrentDirectory(), current))
            return std::nullopt;
        root = current.Root();
    }
    while (root.size() > 3 && IsPathSeparator(root.back()))
        root.pop_back();
    if (root.size() == 3 && IsPathSeparator(root[2]))
        root.pop_back();
    DriveEntry name;
    if (!ParseDriveName(root, name))
        return std::nullopt;
    return name.letter ? FindDrive(name.letter) : FindShare(name.server, name.share);
}

bool FolderExists(const std::string& folder)
{
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string DriveTableFile()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config && *config == '/' ? std::string(config) : HomeFolder() + "/.config";
    return base + "/torvo/drives";
}

void LoadDriveTable()
{
    FileStamp stamp = StampOf(DriveTableFile());
    auto entries = BuildTable();
    {
        TableState& state = State();
        std::lock_guard guard(state.lock);
        state.entries = std::move(entries);
        state.tableFile = stamp;
        state.loaded = true;
    }
    ResetCurrentDirectory();
}

void RefreshDriveTable()
{
    {
        TableState& state = State();
        std::lock_guard guard(state.lock);
        if (state.loaded && state.tableFile == StampOf(DriveTableFile()))
            return;
    }
    LoadDriveTable();
}

void SetDriveTable(std::vector<DriveEntry> entries)
{
    for (auto& entry : entries)
        entry.root = CanonicalRoot(entry.root);
    FileStamp stamp = StampOf(DriveTableFile());
    {
        TableState& state = State();
        std::lock_guard guard(state.lock);
        state.entries = std::move(entries);
        state.tableFile = stamp;
        state.loaded = true;
    }
    ResetCurrentDirectory();
}

std::vector<DriveEntry> DriveTable()
{
    TableState& state = State();
    std::lock_guard guard(state.lock);
    return LoadedEntries(state);
}

std::optional<DriveEntry> FindDrive(char letter)
{
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    TableState& state = State();
    std::lock_guard guard(state.lock);
    for (const auto& entry : LoadedEntries(state))
        if (entry.letter == letter)
            return entry;
    return std::nullopt;
}

std::optional<DriveEntry> FindShare(std::string_view server, std::string_view share)
{
    TableState& state = State();
    std::lock_guard guard(state.lock);
    for (const auto& entry : LoadedEntries(state))
        if (entry.letter == 0 && SameText(entry.server, server) && SameText(entry.share, share))
            return entry;
    return std::nullopt;
}

std::vector<DriveEntry> ParseDriveTable(std::string_view text)
{
    std::vector<DriveEntry> entries;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        const std::string trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed[0] == '#')
            continue;
        if (auto entry = ParseLine(trimmed))
            entries.push_back(std::move(*entry));
    }
    return entries;
}

std::string FormatDriveTable(const std::vector<DriveEntry>& entries)
{
    std::string text = "# drive  type  [capacity=<bytes>] [label=\"<text>\"]  host folder\n";
    for (const auto& e : entries) {
        text += e.letter ? std::string(1, e.letter) + ":" : "\\\\" + e.server + "\\" + e.share;
        text += std::string(" ") + NameOfType(e.type);
        if (e.capacity)
            text += " capacity=" + std::to_string(e.capacity);
        if (!e.label.empty())
            text += " label=\"" + e.label + "\"";
        text += " " + e.root + "\n";
    }
    return text;
}

std::vector<DriveEntry> DrivesFromMounts(std::string_view mountsText)
{
    std::vector<DriveEntry> drives;
    std::istringstream in{std::string(mountsText)};
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string device, mountPoint, fsType;
        if (!(fields >> device >> mountPoint >> fsType))
            continue;
        mountPoint = UnescapeMountField(mountPoint);
        const auto type = MountType(mountPoint, fsType);
        if (!type)
            continue;
        DriveEntry entry;
        entry.type = *type;
        entry.root = mountPoint;
        drives.push_back(std::move(entry));
    }
    return drives;
}

namespace {

// Every file opened asks; resolving the path costs a call per folder level, so only when needed,
// and the table is not copied for the common answer.
template <typename Resolve>
std::optional<DriveEntry> LimitedDriveAt(Resolve canonicalPath)
{
    std::vector<DriveEntry> table;
    {
        TableState& state = State();
        std::lock_guard guard(state.lock);
        const auto& entries = LoadedEntries(state);
        if (std::none_of(entries.begin(), entries.end(), [](const DriveEntry& e) { return e.capacity != 0; }))
            return std::nullopt;
        table = entries;
    }
    const std::string path = canonicalPath();
    for (const auto& entry : table)
        if (entry.capacity != 0 && IsUnder(path, entry.root))
            return entry;
    return std::nullopt;
}

}  // namespace

std::optional<DriveEntry> LimitedDriveOf(const std::string& hostPath)
{
    return LimitedDriveAt([&] { return CanonicalRoot(hostPath); });
}

std::optional<DriveEntry> LimitedDriveOfOpenFile(int fd, const std::string& hostPath)
{
    return LimitedDriveAt([&] {
        // The kernel knows the open file's canonical path: one call instead of one per level.
        char link[PATH_MAX];
        const std::string proc = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(proc.c_str(), link, sizeof link);
        return n > 0 && n < static_cast<ssize_t>(sizeof link) && link[0] == '/' ? std::string(link, n)
                                                                                : CanonicalRoot(hostPath);
    });
}

bool IsUnderFolder(const std::string& hostPath, const std::string& folder)
{
    return IsUnder(CanonicalRoot(hostPath), CanonicalRoot(folder));
}

}  // namespace win

UINT GetDriveTypeA(const char* rootPathName)
{
    const auto drive = win::DriveOfRoot(rootPathName);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

DWORD GetLogicalDrives()
{
    DWORD mask = 0;
    for (const auto& entry : win::DriveTable())
        if (entry.letter >= 'A' && entry.letter <= 'Z')
            mask |= 1u << (entry.letter - 'A');
    return mask;
}

BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes)
{
    win::WinPath path;
    if (!win::ParseFullPath(directoryName && *directoryName ? directoryName : ".", path))
        return FALSE;
    win::RefreshDriveTable();
    const auto drive = path.drive ? win::FindDrive(path.drive) : win::FindShare(path.server, path.share);
    if (!drive)
        return win::FailWith(ERROR_PATH_NOT_FOUND);
    if (!win::FolderExists(drive->root))
        return win::FailWith(ERROR_NOT_READY);
    struct statvfs vfs {};
    if (statvfs(drive->root.c_str(), &vfs) != 0)
        return win::FailWithErrno();
    std::uint64_t total = static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize;
    std::uint64_t freeAll = static_cast<std::uint64_t>(vfs.f_bfree) * vfs.f_frsize;
    std::uint64_t freeCaller = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    if (drive->capacity) {
        const std::uint64_t used = win::MeasureDriveUse(*drive);
        const std::uint64_t left = used >= drive->capacity ? 0 : drive->capacity - used;
        total = drive->capacity;
        freeAll = std::min(freeAll, left);
        freeCaller = std::min(freeCaller, left);
    }
    if (freeBytesAvailableToCaller)
        freeBytesAvailableToCaller->QuadPart = freeCaller;
    if (totalNumberOfBytes)
        totalNumberOfBytes->QuadPart = total;
    if (totalNumberOfFreeBytes)
        totalNumberOfFreeBytes->QuadPart = freeAll;
    return TRUE;
}

BOOL GetVolumeInformationA(const char* rootPathName, char* volumeNameBuffer, DWORD volumeNameSize,
                           DWORD* volumeSerialNumber, DWORD* maximumComponentLength, DWORD* fileSystemFlags,
                           char* fileSystemNameBuffer, DWORD fileSystemNameSize)
{
    // Asked after every disk prompt: the answer is the medium in the drive now.
    win::RefreshDriveTable();
    const auto drive = win::DriveOfRoot(rootPathName);
    if (!drive)
        return win::FailWith(ERROR_PATH_NOT_FOUND);
    if (!win::FolderExists(drive->root))
        return win::FailWith(ERROR_NOT_READY);
    const std::string label = win::MediumLabel(*drive);
    const std::string fsName = drive->type == DRIVE_REMOVABLE ? "FAT32" : drive->type == DRIVE_CDROM ? "CDFS" : "NTFS";
    if (volumeNameBuffer && win::CopyToBuffer(label, volumeNameBuffer, volumeNameSize) > label.size())
        return win::FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (fileSystemNameBuffer && win::CopyToBuffer(fsName, fileSystemNameBuffer, fileSystemNameSize) > fsName.size())
        return win::FailWith(ERROR_INSUFFICIENT_BUFFER);
    if (volumeSerialNumber)
        *volumeSerialNumber = win::SerialOf(*drive);
    if (maximumComponentLength)
        *maximumComponentLength = 255;
    if (fileSystemFlags)
        *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
    return TRUE;
}

BOOL SetVolumeLabelA(const char* rootPathName, const char* volumeName)
{
    win::RefreshDriveTable();
    const auto drive = win::DriveOfRoot(rootPathName);
    if (!drive)
        return win::FailWith(ERROR_PATH_NOT_FOUND);
    const std::string label = volumeName ? volumeName : "";
    if (label.size() > 32 || label.find_first_of("\"\r\n\t") != std::string::npos)
        return win::FailWith(ERROR_INVALID_NAME);
    if (!drive->configured) {
        if (drive->type != DRIVE_REMOVABLE)
            return win::FailWith(ERROR_ACCESS_DENIED);
        if (!win::FolderExists(drive->root))
            return win::FailWith(ERROR_NOT_READY);
        return win::WriteMediumLabel(*drive, label);
    }

    std::vector<win::DriveEntry> entries = win::DriveTable();
    for (auto& entry : entries)
        if (entry.letter == drive->letter && entry.server == drive->server && entry.share == drive->share)
            entry.label = label;
    std::vector<win::DriveEntry> configured;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(configured),
                 [](const win::DriveEntry& e) { return e.configured; });

    const std::string file = win::DriveTableFile();
    std::error_code ec;
    fs::create_directories(fs::path(file).parent_path(), ec);
    const std::string temp = file + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << win::FormatDriveTable(configured);
        if (!out.flush())
            return win::FailWith(ERROR_WRITE_FAULT);
    }
    if (std::rename(temp.c_str(), file.c_str()) != 0) {
        const BOOL result = win::FailWithErrno();
        std::remove(temp.c_str());
        return result;
    }
    win::SetDriveTable(std::move(entries));
    return TRUE;
}
