#include "platform/win/SysFiles.h"

#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/Time.h"

#include <sys/stat.h>

#include <algorithm>

namespace win {
namespace {

bool IsDelimiter(char c)
{
    return c == '\\' || c == '/';
}

// Position after the last folder or drive delimiter (0 when there is none).
std::size_t NameStart(std::string_view fileName)
{
    const auto pos = fileName.find_last_of("\\/:");
    return pos == std::string_view::npos ? 0 : pos + 1;
}

std::size_t ExtensionStart(std::string_view fileName)
{
    const std::size_t start = NameStart(fileName);
    const auto dot = fileName.find_last_of('.');
    return dot == std::string_view::npos || dot < start ? std::string_view::npos : dot;
}

bool HostStat(std::string_view path, struct stat& st)
{
    std::string host;
    return !path.empty() && ToHostPath(path, host) && stat(host.c_str(), &st) == 0;
}

std::int64_t DriveSpace(std::uint8_t drive, bool wantFree)
{
    if (drive > 26)
        return -1;
    const std::string root = drive == 0 ? std::string() : std::string(1, static_cast<char>('A' + drive - 1)) + ":\\";
    ULARGE_INTEGER available, total;
    if (!GetDiskFreeSpaceExA(root.empty() ? nullptr : root.c_str(), &available, &total, nullptr))
        return -1;
    return static_cast<std::int64_t>(wantFree ? available.QuadPart : total.QuadPart);
}

}  // namespace

std::string ExtractFilePath(std::string_view fileName)
{
    return std::string(fileName.substr(0, NameStart(fileName)));
}

std::string ExtractFileDir(std::string_view fileName)
{
    std::size_t end = NameStart(fileName);
    // Keep the delimiter of a root ("C:\", "\") but drop that of a folder.
    if (end > 1 && IsDelimiter(fileName[end - 1]) && fileName[end - 2] != ':' && !IsDelimiter(fileName[end - 2]))
        --end;
    return std::string(fileName.substr(0, end));
}

std::string ExtractFileName(std::string_view fileName)
{
    return std::string(fileName.substr(NameStart(fileName)));
}

std::string ExtractFileExt(std::string_view fileName)
{
    const std::size_t dot = ExtensionStart(fileName);
    return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

std::string ExtractFileDrive(std::string_view fileName)
{
    if (fileName.size() >= 2 && fileName[1] == ':')
        return std::string(fileName.substr(0, 2));
    if (fileName.size() >= 2 && IsDelimiter(fileName[0]) && IsDelimiter(fileName[1])) {
        // "\\server\share": up to the delimiter after the share's name.
        int delimiters = 0;
        std::size_t i = 2;
        for (; i < fileName.size(); ++i)
            if (IsDelimiter(fileName[i]) && ++delimiters == 2)
                break;
        return std::string(fileName.substr(0, i));
    }
    return {};
}

std::string ChangeFileExt(std::string_view fileName, std::string_view extension)
{
    const std::size_t dot = ExtensionStart(fileName);
    std::string result(fileName.substr(0, dot == std::string_view::npos ? fileName.size() : dot));
    result += extension;
    return result;
}

std::string IncludeTrailingPathDelimiter(std::string_view path)
{
    std::string result(path);
    if (result.empty() || !IsDelimiter(result.back()))
        result += '\\';
    return result;
}

std::string IncludeTrailingBackslash(std::string_view path)
{
    return IncludeTrailingPathDelimiter(path);
}

std::string ExcludeTrailingPathDelimiter(std::string_view path)
{
    std::string result(path);
    if (!result.empty() && IsDelimiter(result.back()))
        result.pop_back();
    return result;
}

std::string ExpandFileName(std::string_view fileName)
{
    return fileName.empty() ? std::string() : FullPathOf(fileName);
}

bool FileExists(std::string_view fileName)
{
    struct stat st {};
    return HostStat(fileName, st) && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view directory)
{
    struct stat st {};
    return HostStat(directory, st) && S_ISDIR(st.st_mode);
}

bool ForceDirectories(std::string_view directory)
{
    return !directory.empty() && CreateDirectoryTree(std::string(directory).c_str());
}

bool SameFolderEntry(std::string_view a, std::string_view b)
{
    std::string hostA, hostB;
    if (a.empty() || b.empty() || !ToHostPath(a, hostA) || !ToHostPath(b, hostB))
        return false;
    const std::size_t slashA = hostA.find_last_of('/'), slashB = hostB.find_last_of('/');
    if (slashA == std::string::npos || slashB == std::string::npos ||
        hostA.compare(slashA, std::string::npos, hostB, slashB) != 0)
        return false;
    struct stat folderA {}, folderB{};
    return stat(hostA.substr(0, std::max<std::size_t>(slashA, 1)).c_str(), &folderA) == 0 &&
           stat(hostB.substr(0, std::max<std::size_t>(slashB, 1)).c_str(), &folderB) == 0 &&
           folderA.st_dev == folderB.st_dev && folderA.st_ino == folderB.st_ino;
}

std::int32_t FileAge(std::string_view fileName)
{
    struct stat st {};
    if (!HostStat(fileName, st) || S_ISDIR(st.st_mode))
        return -1;
    const FILETIME utc = FileTimeFromTimespec(st.st_mtim);
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToDosDateTime(&local, &date, &time);  // clamps what DOS cannot hold
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(date) << 16) | time);
}

std::optional<std::int64_t> FileUnixTime(std::string_view fileName)
{
    struct stat st {};
    if (!HostStat(fileName, st) || S_ISDIR(st.st_mode))
        return std::nullopt;
    return std::int64_t(st.st_mtim.tv_sec);
}

DWORD FileSetDate(HANDLE file, std::int32_t age)
{
    const auto stamp = static_cast<std::uint32_t>(age);
    FILETIME local;
    FILETIME utc;
    if (!DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp), &local) ||
        !LocalFileTimeToFileTime(&local, &utc))
        return ERROR_INVALID_PARAMETER;
    return SetFileTime(file, nullptr, nullptr, &utc) ? ERROR_SUCCESS : GetLastError();
}

namespace {

template <class Set>
DWORD SetTimeByName(std::string_view fileName, Set set)
{
    const std::string name(fileName);
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    const DWORD error = set(file);
    CloseHandle(file);
    return error;
}

}  // namespace

DWORD FileSetDate(std::string_view fileName, std::int32_t age)
{
    return SetTimeByName(fileName, [age](HANDLE file) { return FileSetDate(file, age); });
}

DWORD FileSetTime(std::string_view fileName, const FILETIME& utc)
{
    return SetTimeByName(fileName, [&utc](HANDLE file) {
        return SetFileTime(file, nullptr, nullptr, &utc) ? DWORD(ERROR_SUCCESS) : GetLastError();
    });
}

std::int64_t DiskFree(std::uint8_t drive)
{
    return DriveSpace(drive, true);
}

std::int64_t DiskSize(std::uint8_t drive)
{
    return DriveSpace(drive, false);
}

}  // namespace win
