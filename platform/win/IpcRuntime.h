// Where windows are published: one socket per window in a private per-user folder, and the
// checks that keep other users out of it.
//
// A window of class C with handle H is the socket "<C escaped>.<H as 8 hex digits>.sock". Bytes of
// the class other than letters, digits, '_' and '-' are written as %XX, so the last dot always
// separates the handle; FindWindowA scans for the class, a handle is resolved by its suffix.
// The owner binds under a hidden temporary name, listens, then renames it into place, so a name
// that refuses connections is always stale.
#pragma once

#include "platform/win/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

namespace win::ipc {

// A handle is the owner's process ID in the low 22 bits (Linux pids stay below 2^22) and a
// per-process slot above it, so handles are unique across processes without coordination.
constexpr unsigned HandlePidBits = 22;
constexpr HWND HandlePidMask = (HWND{1} << HandlePidBits) - 1;
constexpr HWND MaxHandleSlot = (HWND{1} << (32 - HandlePidBits)) - 1;

inline pid_t HandleOwner(HWND hwnd)
{
    return static_cast<pid_t>(hwnd & HandlePidMask);
}
inline HWND MakeHandle(pid_t pid, HWND slot)
{
    return (slot << HandlePidBits) | static_cast<HWND>(pid);
}

// "$XDG_RUNTIME_DIR/torvo", or "/tmp/torvo-<uid>" without it.
std::string RuntimeFolderPath();
// Creates the folder (mode 0700) when missing; empty when it cannot be used safely.
std::string OpenRuntimeFolder();
// Why the folder cannot be used safely (path and reason); empty when it can.
std::string RuntimeFolderProblem();
// A folder is ours when it is a real directory owned by us that nobody else may enter.
bool FolderIsPrivate(const struct stat& info, uid_t self);
// A peer may talk to us only as the same user; when the handle names a process, it must be that.
bool PeerIsAcceptable(uid_t peerUid, pid_t peerPid, uid_t self, pid_t expectedPid);

std::string SocketName(std::string_view className, HWND hwnd);
struct SocketEntry {
    std::string className;
    HWND hwnd = 0;
};
std::optional<SocketEntry> ParseSocketName(std::string_view fileName);

}  // namespace win::ipc
