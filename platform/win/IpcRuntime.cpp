#include "platform/win/IpcRuntime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace win::ipc {

namespace {

constexpr std::string_view SocketSuffix = ".sock";

bool KeptLiteral(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string RuntimeFolderPath()
{
    const char* base = std::getenv("XDG_RUNTIME_DIR");
    if (base && base[0] == '/')
        return std::string(base) + "/torvo";
    return "/tmp/torvo-" + std::to_string(getuid());
}

bool FolderIsPrivate(const struct stat& info, uid_t self)
{
    return S_ISDIR(info.st_mode) && info.st_uid == self && (info.st_mode & 077) == 0;
}

std::string RuntimeFolderProblem()
{
    const std::string path = RuntimeFolderPath();
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return path + ": cannot be created (" + std::strerror(errno) + ")";
    struct stat info {};
    // lstat: a symlink planted in a shared /tmp must not redirect us.
    if (lstat(path.c_str(), &info) != 0)
        return path + ": " + std::strerror(errno);
    if (!S_ISDIR(info.st_mode))
        return path + ": not a folder";
    if (info.st_uid != getuid())
        return path + ": owned by another user";
    if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return path + ": open to other users (mode " + mode + ")";
    }
    return {};
}

std::string OpenRuntimeFolder()
{
    return RuntimeFolderProblem().empty() ? RuntimeFolderPath() : std::string();
}

bool PeerIsAcceptable(uid_t peerUid, pid_t peerPid, uid_t self, pid_t expectedPid)
{
    if (peerUid != self)
        return false;
    return expectedPid == 0 || peerPid == expectedPid;
}

std::string SocketName(std::string_view className, HWND hwnd)
{
    std::string name;
    for (const char ch : className) {
        const auto c = static_cast<unsigned char>(ch);
        if (KeptLiteral(c)) {
            name += ch;
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            name += escaped;
        }
    }
    char handle[16];
    std::snprintf(handle, sizeof handle, ".%08X", static_cast<unsigned>(hwnd));
    return name + handle + std::string(SocketSuffix);
}

std::optional<SocketEntry> ParseSocketName(std::string_view fileName)
{
    constexpr std::size_t HandleDigits = 8;
    if (fileName.size() < 1 + 1 + HandleDigits + SocketSuffix.size() ||
        fileName.substr(fileName.size() - SocketSuffix.size()) != SocketSuffix)
        return std::nullopt;
    fileName.remove_suffix(SocketSuffix.size());
    const std::string_view digits = fileName.substr(fileName.size() - HandleDigits);
    fileName.remove_suffix(HandleDigits);
    if (fileName.back() != '.')
        return std::nullopt;
    fileName.remove_suffix(1);

    SocketEntry entry;
    for (const char c : digits) {
        const int v = HexValue(c);
        if (v < 0)
            return std::nullopt;
        entry.hwnd = (entry.hwnd << 4) | static_cast<HWND>(v);
    }
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        const auto c = static_cast<unsigned char>(fileName[i]);
        if (KeptLiteral(c)) {
            entry.className += fileName[i];
        } else if (c == '%' && i + 2 < fileName.size() && HexValue(fileName[i + 1]) >= 0 &&
                   HexValue(fileName[i + 2]) >= 0) {
            entry.className += static_cast<char>(HexValue(fileName[i + 1]) * 16 + HexValue(fileName[i + 2]));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (entry.className.empty() || entry.hwnd == 0)
        return std::nullopt;
    return entry;
}

}  // namespace win::ipc
