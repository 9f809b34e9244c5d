#include "platform/win/RecycleBin.h"

#include "platform/win/Errors.h"
#include "platform/win/FileTypes.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace win {
namespace {

std::string PercentEncoded(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-_.~", c))
            out += static_cast<char>(c);
        else
            out += {'%', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

std::string DeletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

bool MakeFolder(const std::string& folder)
{
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    ::chmod(folder.c_str(), 0700);
    struct stat st {};
    return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Reserves a free name in the trash by creating its info record exclusively.
bool ReserveName(const std::string& trash, const std::string& base, const std::string& original, std::string& name)
{
    const std::string record =
        "[Trash Info]\nPath=" + PercentEncoded(original) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n < 100000; ++n) {
        name = n == 1 ? base : base + "." + std::to_string(n);
        const std::string info = trash + "/info/" + name + ".trashinfo";
        const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        const bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
        ::close(fd);
        if (written)
            return true;
        ::unlink(info.c_str());
        return false;
    }
    errno = EEXIST;
    return false;
}

BOOL DeleteForGood(const char* path)
{
    std::string host;
    if (!ToHostPath(path, host))
        return FALSE;
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0)
        return FailWith(ERROR_FILE_NOT_FOUND);
    std::error_code ec;
    std::filesystem::remove_all(host, ec);
    return ec ? FailWith(ErrorFromErrno(ec.value())) : TRUE;
}

}  // namespace

std::string TrashFolder()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && *data == '/')
        return std::string(data) + "/Trash";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/") + "/.local/share/Trash";
}

BOOL MoveToRecycleBin(const char* path)
{
    std::string host;
    if (!path)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!ToHostPath(path, host))
        return FALSE;
    struct stat st {};
    if (lstat(host.c_str(), &st) != 0)
        return FailWith(ERROR_FILE_NOT_FOUND);
    const std::string trash = TrashFolder();
    if (!MakeFolder(trash + "/files") || !MakeFolder(trash + "/info"))
        return FailWith(ERROR_ACCESS_DENIED);
    const std::string base = host.substr(host.find_last_of('/') + 1);
    std::string name;
    if (!ReserveName(trash, base.empty() ? "item" : base, host, name))
        return FailWithErrno();
    const std::string destination = trash + "/files/" + name;
    if (::rename(host.c_str(), destination.c_str()) == 0)
        return TRUE;
    // Another file system: files are moved by copying; the original goes only once the copy is whole.
    DWORD error = ErrorFromErrno(errno);
    if (errno == EXDEV) {
        if (MoveFileExA(path, ToWindowsPath(destination).c_str(), MOVEFILE_COPY_ALLOWED))
            return TRUE;
        error = GetLastError();
    }
    ::unlink((trash + "/info/" + name + ".trashinfo").c_str());
    return FailWith(error);
}

}  // namespace win

int SHFileOperationA(SHFILEOPSTRUCTA* operation)
{
    if (!operation || !operation->pFrom || operation->wFunc != FO_DELETE)
        return static_cast<int>(ERROR_INVALID_PARAMETER);
    operation->fAnyOperationsAborted = FALSE;
    for (const char* name = operation->pFrom; *name; name += std::strlen(name) + 1) {
        const bool done = (operation->fFlags & FOF_ALLOWUNDO) ? win::MoveToRecycleBin(name) : win::DeleteForGood(name);
        if (!done)
            return static_cast<int>(GetLastError());
    }
    return 0;
}
