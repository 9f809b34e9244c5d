// Windows-form paths (C:\x\y, \\server\share\x) and their host paths.
//
// The program keeps paths in Windows form; they meet the host file system only here. "/" counts as
// a separator, the long-path prefixes \\?\ and \\?\UNC\ are dropped, and a POSIX absolute path
// (/x/y) stands for Z:\x\y. The drive table (Drives.h) gives each drive and share its host folder.
#pragma once

#include "platform/win/FileTypes.h"

#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace win {

// An absolute Windows path taken apart. A drive path has a letter, a share path a server and share.
struct WinPath {
    char drive = 0;  // 'A'..'Z', or 0 for a share
    std::string server;
    std::string share;
    std::vector<std::string> parts;
    bool trailingSeparator = false;

    std::string Root() const;  // "C:\" or "\\server\share"
    std::string ToString() const;
};

// The absolute, normalised form of a path: resolved against the current folder, "." and ".."
// removed (never above the root), trailing dots and blanks of the last name dropped. False (with
// the last error set) for a malformed name.
bool ParseFullPath(std::string_view path, WinPath& out);
std::string FullPathOf(std::string_view path);  // empty when malformed

// What the mapping learnt of the host path on its way, so that a caller need not ask the host again:
// Present with its lstat, Missing (the folder holds no such name, in any case), or Unknown.
struct HostPathState {
    enum Kind { Unknown, Missing, Present } known = Unknown;
    struct stat st {};
    // Missing, and its folder was seen by lstat as a folder, not a link to one.
    bool folderNoLink = false;
};

// The host path of a Windows path. Names that do not exist exactly are looked up case-insensitively
// per component; what still is not found is kept as given (so that it can be created). False, with
// the last error set, for an unknown drive or share or an invalid name.
bool ToHostPath(std::string_view path, std::string& host, WinPath* parsed = nullptr, HostPathState* state = nullptr);
// While one lives on this thread, the names below folder (a parsed, absolute folder; null for
// none) are looked up exactly, never ignoring case: what an archive member writes lands under its
// own name, never in a file whose name differs only in case. The folder's own names are found as
// any path's are.
class ExactNamesBelow {
public:
    explicit ExactNamesBelow(const WinPath* folder);
    ~ExactNamesBelow();
    ExactNamesBelow(const ExactNamesBelow&) = delete;
    ExactNamesBelow& operator=(const ExactNamesBelow&) = delete;

private:
    const WinPath* previous;
};

// The Windows path of a host path, under the drive or share with the longest matching folder;
// empty when no drive covers it.
std::string ToWindowsPath(std::string_view hostPath);

// The current folder in Windows form ("C:\x", a root keeps its backslash).
std::string CurrentDirectory();
// Forgets the remembered current folder so that it is taken again from the host (drive table
// changes).
void ResetCurrentDirectory();

// Copies text to an API buffer: answers its length when it fits with its terminating zero, else
// the size needed including the zero (the buffer is left alone).
DWORD CopyToBuffer(std::string_view text, char* buffer, DWORD size);

bool IsPathSeparator(char c);
// Whether one name of a path holds no character that Windows refuses in names.
bool IsValidPathName(std::string_view name);

// A host name as one name of a Windows path, and back. A name the Windows form cannot hold as it
// stands (a "\", ":", "*", "?", "\"", "<", ">", "|" or control character anywhere, dots or blanks
// at its end, which Windows drops) has each such character moved up to U+F000 plus its code, so
// that a name found on the host is never read as a separator, a drive, a wildcard or a shorter
// name, and opens exactly the file it was found as. A host name that already holds one of those
// stand-ins (or U+F07F) has it kept behind U+F07F: the mapping is one to one. "." and ".." stay.
std::string WindowsNameOf(std::string_view hostName);
// Whether WindowsNameOf leaves the name as it is (the common case, told without copying it).
bool WindowsNameIsHostName(std::string_view hostName);
// False for a name that would make "." or ".." on the host (or is empty).
bool HostNameOf(std::string_view windowsName, std::string& hostName);
// The text (a name or a path) as an archive stores it: each stand-in for a "\\", a ":" or a
// control character made "_" (no reader may take it for a separator, a drive or a stream), every
// other stand-in the host's own character again, as archivers of this host store it ("a*b",
// "x."), and a stand-in kept behind U+F07F without its mark.
std::string ArchiveNameOf(std::string_view windowsText);

// Host path of the running program, and its folder.
std::string ExecutablePath();
std::string ExecutableDir();

}  // namespace win

DWORD GetFullPathNameA(const char* fileName, DWORD bufferLength, char* buffer, char** filePart);
DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer);
BOOL SetCurrentDirectoryA(const char* pathName);
// Long names are the only names here, so the "short" path is the path itself, once it exists.
DWORD GetShortPathNameA(const char* longPath, char* shortPath, DWORD bufferLength);
// $TMPDIR (else /tmp) as a Windows path with a trailing backslash.
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
// The program's own file (module null only) as a Windows path; truncated with
// ERROR_INSUFFICIENT_BUFFER when the buffer is too small, as Windows does.
DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size);
