// Files and folders through the Windows API, on the host file system.
//
// Paths are Windows paths (Paths.h). Attributes are synthesised from the host's file modes:
// directory for folders, read-only when the owner cannot write, archive for every regular file,
// hidden for a leading dot, system for FIFOs, sockets and devices, reparse point for a symbolic
// link. A read-only file can be neither written, replaced nor deleted until its attribute is
// cleared, as on Windows, whoever runs the program.
#pragma once

#include "platform/win/Errors.h"
#include "platform/win/FileTypes.h"
#include "platform/win/Handles.h"
#include "platform/win/Paths.h"

#include <functional>
#include <string>
#include <string_view>

constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

HANDLE CreateFileA(const char* fileName, DWORD desiredAccess, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped);
// Fails with ERROR_DISK_FULL, writing nothing, when the data would overfill a capacity-limited drive.
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten, void* overlapped);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD moveMethod);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
BOOL GetFileSizeEx(HANDLE file, LARGE_INTEGER* size);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
// A null or zero FILETIME leaves that time alone; the creation time cannot be set here.
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess, const FILETIME* lastWrite);

BOOL DeleteFileA(const char* fileName);
// A second name for an existing file (no folders); fails where the file system has no such links.
BOOL CreateHardLinkA(const char* fileName, const char* existingFileName, void* securityAttributes);
// Moves within a file system by renaming; across file systems (files only, with
// MOVEFILE_COPY_ALLOWED) the data is copied to a hidden sibling of the target, which then replaces
// the target in one rename; the source is removed only after that.
BOOL MoveFileExA(const char* existingFileName, const char* newFileName, DWORD flags);
BOOL MoveFileA(const char* existingFileName, const char* newFileName);
// Puts the replacement in place of an existing file, which it takes over whole: the new file keeps
// the old one's mode, owner and group (owner and group as far as the host permits; group
// permissions go when the group cannot be kept), and where the old name is a symbolic link the
// file it names is replaced and the link stays. Across file systems the data is copied beside the
// target first, as MoveFileExA does. No backup file is supported (backupFileName must be null).
BOOL ReplaceFileA(const char* replacedFileName, const char* replacementFileName, const char* backupFileName,
                  DWORD replaceFlags, void* exclude, void* reserved);
// Copies through a hidden sibling too, so that a failed copy never leaves a half-written target.
BOOL CopyFileA(const char* existingFileName, const char* newFileName, BOOL failIfExists);
BOOL CreateDirectoryA(const char* pathName, void* securityAttributes);
BOOL RemoveDirectoryA(const char* pathName);

// Entries sorted by name without case; "." and ".." come first in folders other than roots.
HANDLE FindFirstFileA(const char* fileName, WIN32_FIND_DATAA* findData);
BOOL FindNextFileA(HANDLE findFile, WIN32_FIND_DATAA* findData);
BOOL FindClose(HANDLE findFile);

DWORD GetFileAttributesA(const char* fileName);
// Only the read-only bit of a file has an effect: set, it removes every write permission; cleared,
// it gives the owner write permission. Folders and symbolic links are left alone.
BOOL SetFileAttributesA(const char* fileName, DWORD fileAttributes);

// "<path>\<prefix (3 characters)><hex>.tmp". With unique 0 a new file is created exclusively under
// a number that no existing file has; answers the number used, 0 on failure.
UINT GetTempFileNameA(const char* pathName, const char* prefixString, UINT unique, char* tempFileName);

namespace win {

// Creates the folder and every missing parent.
BOOL CreateDirectoryTree(const char* pathName);

// A handle for a host file the caller has opened (the handle owns the descriptor from then on).
HANDLE AdoptHostFile(int fd, const std::string& hostPath, bool canRead, bool canWrite);
// Renames a temporary file of CreateOwnedTempFileIn to a name that did not exist beside it, both
// host paths found by the caller: one rename, no lookup. Fails with ERROR_ALREADY_EXISTS when the
// name has appeared since.
BOOL PutTempFileInPlace(const std::string& tempHost, const std::string& targetHost);

// Creates a new file under a host path the caller has found, exclusively (an existing name, a
// link included, fails with ERROR_FILE_EXISTS), open for reading and writing.
HANDLE CreateNewHostFile(const std::string& hostPath);
// The same, for a name in a folder held open (HostFolderBelow); hostPath is the name's full path.
HANDLE CreateNewHostFileIn(int folderFd, const char* name, const std::string& hostPath);
// A second handle to the same open file, with no new descriptor: the file stays open until both
// are closed.
HANDLE ShareFileHandle(HANDLE file);
// Removes the file under hostPath if it is the one still open as `held` (a file this process made
// may have been replaced by someone else's since).
BOOL RemoveHostFileIfHeld(const std::string& hostPath, HANDLE held);
// What a name in a folder held open is, as ToHostPath's state tells it (a missing name's folder is
// no link); false for a failure other than a missing name.
bool LookUpIn(int folderFd, const char* name, HostPathState& state);

// A folder below a base folder, reached from it one name at a time without following a link and
// held open: files made relative to it cost no walk of their path per file, and a link that
// appears on the way afterwards redirects nothing. The last folder asked for stays open.
class HostFolderBelow {
public:
    HostFolderBelow() = default;
    ~HostFolderBelow();
    HostFolderBelow(const HostFolderBelow&) = delete;
    HostFolderBelow& operator=(const HostFolderBelow&) = delete;

    // The folder `relative` ("a/b", or "" for the base) below the host folder `base`; -1 when a
    // name on the way is missing, a link or no folder.
    int Open(const std::string& base, std::string_view relative);
    void Close();

private:
    std::string fBase, fRelative;
    int fBaseFd = -1, fFd = -1;
};

// A file opened to be read once from start to end, as CreateFileA(GENERIC_READ, OPEN_EXISTING)
// opens it (a listed file from its listing's folder), but outside the handle table: a walk that
// reads thousands of small files pays no table lock and no shared object per file.
class ReadOnceFile {
public:
    ReadOnceFile() = default;
    ~ReadOnceFile();
    ReadOnceFile(const ReadOnceFile&) = delete;
    ReadOnceFile& operator=(const ReadOnceFile&) = delete;

    // False with the last error set, as CreateFileA fails.
    bool Open(const char* fileName);
    bool IsOpen() const { return fd_ >= 0; }
    // As ReadFile: up to count bytes, fewer only at the end; false with the last error set.
    bool Read(void* buffer, DWORD count, DWORD& got);
    // The open file's last write time, as GetFileTime answers it.
    bool LastWriteTime(FILETIME& time) const;

private:
    int fd_ = -1;
    bool regular_ = false;
};

// Puts a finished file (an archive written under a temporary name) at Target: over an existing
// file as ReplaceFileA does, else by MoveFileExA with copying allowed.
BOOL PutFileInPlace(const std::string& finished, const std::string& target);
// Gives a file the mode, owner and group of another, as ReplaceFileA gives the file it puts in
// place (for files that join a replaced one, such as the volumes of a set).
BOOL TakeOwnerAndModeOf(const std::string& model, const std::string& file);
// Narrows a new file's permissions to what the file it is to replace grants (group permissions
// only where the groups agree), so that the new content is never more open while it is written.
// The owner stays: a temporary file remains its maker's to remove.
BOOL NarrowModeTo(const std::string& model, const std::string& file);
// Gives a file made private (CreatePrivateTempFile) the mode any new file of this process gets.
BOOL GiveNewFileMode(const std::string& file);

// Hooks for tests of cross-file-system moves.
struct FileTestHooks {
    bool forceCrossDevice = false;  // renames between folders behave as if across file systems
    std::function<void(const std::string& tempHostPath)> afterCrossDeviceCopy;
    // Called before a file is renamed into place (host paths): a test may end the process here.
    std::function<void(const std::string& fromHostPath, const std::string& toHostPath)> beforeRename;
};
FileTestHooks& TestHooks();

}  // namespace win
