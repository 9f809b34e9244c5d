#include "platform/win/TempFolders.h"

#include "platform/win/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace win {

namespace {

bool ProcessEnded(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The owner's id in "<Prefix><pid>-XXXXXX", or 0 when the name is not of that form.
pid_t OwnerOf(const std::string& Name, const std::string& Prefix)
{
    if (Name.compare(0, Prefix.size(), Prefix) != 0)
        return 0;
    const std::string rest = Name.substr(Prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || rest.size() - dash - 1 != 6)
        return 0;
    pid_t pid = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (rest[i] < '0' || rest[i] > '9' || pid > 99999999)
            return 0;
        pid = pid * 10 + (rest[i] - '0');
    }
    return pid;
}

}  // namespace

std::string CreateOwnedTempFolder(const std::string& Parent, const std::string& Prefix)
{
    std::string host;
    if (!ToHostPath(Parent, host))
        return {};
    std::string pattern = host + "/" + Prefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        return {};
    std::string folder = ToWindowsPath(pattern);
    if (folder.empty() || folder.back() != '\\')
        folder += '\\';
    return folder;
}

void RemoveOrphanedTempFolders(const std::string& Parent, const std::string& Prefix)
{
    std::string host;
    if (!ToHostPath(Parent, host))
        return;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(host, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const pid_t owner = OwnerOf(name, Prefix);
        if (owner == 0 || owner == ::getpid() || !ProcessEnded(owner))
            continue;
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        std::error_code ignored;
        std::filesystem::remove_all(it->path(), ignored);
    }
}

bool RemoveFolderTree(const std::string& Folder)
{
    std::string host;
    if (!ToHostPath(Folder, host))
        return false;
    // "link/" would name the folder behind a link.
    while (host.size() > 1 && host.back() == '/')
        host.pop_back();
    std::error_code ec;
    std::filesystem::remove_all(host, ec);
    return !ec && !std::filesystem::exists(std::filesystem::symlink_status(host, ec));
}

}  // namespace win
