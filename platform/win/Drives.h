// The drive table: which host folder each drive letter and network share stands for.
//
// Defaults: C: is the home folder, Z: is "/", and removable, optical and network mounts found in
// /proc/self/mounts get the free letters from D: on. The table file (DriveTableFile()) adds to and
// overrides these, one drive per line:
//
//     # drive   type        options                              host folder
//     E:        removable   capacity=1457664 label="PKBACK# 001" /srv/media/floppy
//     R:        ramdisk                                          /dev/shm/r
//     \\nas\backup remote                                        /mnt/nas/backup
//
// Types: removable, fixed, remote, cdrom, ramdisk. Options: capacity=<bytes> limits the space that
// the folder may hold (free space is the capacity less the bytes stored under the folder, so full
// media can be simulated with folders); label="<text>" is the volume label. The folder is the rest
// of the line and may hold blanks. A drive whose folder does not exist reads as "not ready".
//
// Questions about the medium (label, serial, free space) see the table file as it is now. A
// removable medium that the file does not describe (one the system mounted) keeps its label in the
// file ".volume-label" on itself; a removable medium's serial changes with what is in the drive.
#pragma once

#include "platform/win/FileTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace win {

struct DriveEntry {
    char letter = 0;     // 'A'..'Z'; 0 for a share
    std::string server;  // for a share (\\server\share)
    std::string share;
    UINT type = DRIVE_FIXED;
    std::string root;            // host folder
    std::uint64_t capacity = 0;  // 0: the host file system's space
    std::string label;
    bool configured = false;  // comes from the table file (and goes back into it)
};

std::string DriveTableFile();
// Reads the defaults, the mounts and the table file again.
void LoadDriveTable();
// The same, only when the table file changed since it was read (a disk swapped by rewriting it).
void RefreshDriveTable();
// Replaces the whole table (tests); entries keep their `configured` flag.
void SetDriveTable(std::vector<DriveEntry> entries);
std::vector<DriveEntry> DriveTable();

std::optional<DriveEntry> FindDrive(char letter);
std::optional<DriveEntry> FindShare(std::string_view server, std::string_view share);

// Parses the table file's text; malformed lines are skipped.
std::vector<DriveEntry> ParseDriveTable(std::string_view text);
std::string FormatDriveTable(const std::vector<DriveEntry>& entries);
// Drives for the removable, optical and network mounts of a mount table (letters not yet given).
std::vector<DriveEntry> DrivesFromMounts(std::string_view mountsText);

// Measures what a capacity-limited drive holds now, and keeps the figure for HasRoomFor.
std::uint64_t MeasureDriveUse(const DriveEntry& drive);
// The capacity-limited drive whose folder holds a host path, if any.
std::optional<DriveEntry> LimitedDriveOf(const std::string& hostPath);
// The same for a file open as `fd` at `hostPath`.
std::optional<DriveEntry> LimitedDriveOfOpenFile(int fd, const std::string& hostPath);
bool IsUnderFolder(const std::string& hostPath, const std::string& folder);
// Whether a host file may grow by `growth` bytes without overfilling a capacity-limited drive;
// a yes counts the growth as used. The drive is measured once and then kept by these answers;
// it is measured again when its folder changed by someone else's hand, before any no, and after
// as many answers as it held files, so that a write costs no walk of the drive.
bool HasRoomFor(const std::string& hostPath, std::uint64_t growth);
// The same on a capacity-limited drive already looked up (an open file's).
bool HasRoomOn(const DriveEntry& drive, std::uint64_t growth);
// This process added, removed or renamed an entry of host folder `hostFolder` (its stamp is ours).
void NoteDriveFolderChanged(const std::string& hostFolder);
// How many walks of capacity-limited drives the answers have made (tests).
unsigned long DriveWalkCount();

}  // namespace win

UINT GetDriveTypeA(const char* rootPathName);
DWORD GetLogicalDrives();
BOOL GetDiskFreeSpaceExA(const char* directoryName, ULARGE_INTEGER* freeBytesAvailableToCaller,
                         ULARGE_INTEGER* totalNumberOfBytes, ULARGE_INTEGER* totalNumberOfFreeBytes);
BOOL GetVolumeInformationA(const char* rootPathName, char* volumeNameBuffer, DWORD volumeNameSize,
                           DWORD* volumeSerialNumber, DWORD* maximumComponentLength, DWORD* fileSystemFlags,
                           char* fileSystemNameBuffer, DWORD fileSystemNameSize);
// Sets the label of a drive from the table file and writes the file again (without its comments).
BOOL SetVolumeLabelA(const char* rootPathName, const char* volumeName);
