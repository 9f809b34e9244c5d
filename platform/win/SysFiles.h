// File-name and file helpers in the manner of the Delphi run-time library, for Windows paths:
// "\" (and "/") separate folders, "C:" names a drive and "\\server\share" a network share.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace win {

std::string ExtractFilePath(std::string_view fileName);   // "C:\a\b.txt" -> "C:\a\"
std::string ExtractFileDir(std::string_view fileName);    // "C:\a\b.txt" -> "C:\a", "C:\b" -> "C:\"
std::string ExtractFileName(std::string_view fileName);   // "b.txt"
std::string ExtractFileExt(std::string_view fileName);    // ".txt", empty without a dot
std::string ExtractFileDrive(std::string_view fileName);  // "C:" or "\\server\share", else empty
std::string ChangeFileExt(std::string_view fileName, std::string_view extension);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string IncludeTrailingBackslash(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);
std::string ExpandFileName(std::string_view fileName);

bool FileExists(std::string_view fileName);  // an existing file (through links), not a folder
bool DirectoryExists(std::string_view directory);
// Whether two names are one entry of one folder, whatever folder links or forms either path went
// through; a file linked under another name is another entry.
bool SameFolderEntry(std::string_view a, std::string_view b);
// Creates the folder with its missing parents; false for an empty name or on failure.
bool ForceDirectories(std::string_view directory);

// The file's last write time as a DOS date-time in local time (date in the high word), -1 when it
// is not a file. Times outside the DOS range are clamped to its ends rather than lost.
std::int32_t FileAge(std::string_view fileName);
// The file's last write time in seconds since 1970 (UTC), exactly; empty when it is not a file.
std::optional<std::int64_t> FileUnixTime(std::string_view fileName);
// Sets the file's last write time from a local DOS date-time; 0 or the Windows error code.
DWORD FileSetDate(std::string_view fileName, std::int32_t age);
DWORD FileSetDate(HANDLE file, std::int32_t age);
// Sets the file's last write time (UTC); 0 or the Windows error code.
DWORD FileSetTime(std::string_view fileName, const FILETIME& utc);

// Free and total bytes of a drive: 0 the current drive, 1 A:, 2 B:, ...; -1 when unknown.
std::int64_t DiskFree(std::uint8_t drive);
std::int64_t DiskSize(std::uint8_t drive);

}  // namespace win
