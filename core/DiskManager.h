// Removable media and disk-spanned ZIP sets: what is in a drive, and asking for the right disk.
//
// Drives come from the platform's drive table, where a removable drive is a folder with an
// optional capacity and volume label, so media and spanned sets can be handled with folders.
#pragma once

#include "core/Err_Msgs.h"
#include "core/plxConsts.h"
#include "platform/win/FileTypes.h"

#include <cstdint>
#include <functional>
#include <string>

// The component's error reporter (its DoError): reports by number, raises nothing.
using TDiskErrorReporter = std::function<void(const std::string& FileName, const std::string& ExtendedMsg,
                                              const std::string& VolumeID, int ECode)>;

// The callbacks a disk class is bound to for one call. Every wait loop pumps messages through
// ProcessMessages() (core/plxHooks.h) and ends once *CancelFlag is set.
class TDiskErrorEvents : public TObject {
public:
    void BindEvents(TObject* EventSender, TOnDiskError DiskNotReady, TOnDiskError WriteProtect,
                    TDiskErrorReporter Reporter, bool* Cancel = nullptr);

    TObject* Sender = nullptr;
    TOnDiskError OnDiskNotReady;
    TOnDiskError OnWriteProtect;
    TDiskErrorReporter DoError;
    bool* CancelFlag = nullptr;

protected:
    void Report(int ECode, const std::string& FileName, const std::string& ExtendedMsg = {}) const;
    bool Cancelled() const { return CancelFlag && *CancelFlag; }
};

class TDiskManager : public TDiskErrorEvents {
public:
    // Fills the record for the drive of Path; false after a report (E_NOTACCESSIBLE, or E_USERCANCEL on abort).
    bool GetDiskInfo(const std::string& Path, TOnDiskError DiskNotReady = {}, TOnDiskError WriteProtect = {},
                     TDiskErrorReporter Reporter = {}, TObject* EventSender = nullptr, bool* Cancel = nullptr);
    void GetDiskSpace(const std::string& Path);
    bool ReadVolumeInfo(const std::string& Path);
    bool DriveReady(const std::string& Root) const;
    // Retry/Cancel box for an unreadable volume; true for Retry.
    bool AskRetry(const std::string& Path) const;

    std::string DriveTypeName;
    std::string RootPath;
    std::string SerialHex;  // 8 hexadecimal digits
    std::uint32_t Serial = 0;
    std::string FileSystemName;
    std::string VolumeLabel;
    std::uint16_t DiskNumber = 0;  // from a "PKBACK# nnn" label
    std::uint8_t DriveNumber = 0;  // 1 = A
    std::uint8_t DriveType = 0;    // GetDriveTypeA value
    std::int64_t FreeSpace = 0;
    std::int64_t TotalSpace = 0;
    bool Floppy = false;
    std::uint32_t MaxComponentLength = 0;
};

std::string DriveTypeNameOf(unsigned DriveType);
// The number after "PKBACK# " when only digits follow; 0 otherwise.
int GetPkBackDiskNumber(std::string_view Label);

// CreateFileA; an invalid handle is reported as E_OPENFILE with the file name.
HANDLE CreateFileChecked(const TDiskErrorReporter& Reporter, const std::string& FileName, DWORD Access, DWORD Flags,
                         DWORD Disposition, DWORD Share);
HANDLE OpenFileForUpdate(const TDiskErrorReporter& Reporter, const std::string& FileName);
// DOS date-time in local time of the creation (0), last-write (1) or last-access (2) time; 0 on failure.
std::uint32_t GetFileDosTime(HANDLE File, int Which);

// What the reading of a spanned set needs from its component.
class TSpanDiskReaderOwner {
public:
    virtual ~TSpanDiskReaderOwner() = default;
    virtual std::string SpanArchiveFile() const = 0;
    // Clears the type and the found header kinds and detects the archive again.
    virtual void RedetectArchive() = 0;
    virtual TArcType SpanArcType() const = 0;
    virtual THeaderTypeState SpanHeaderState() const = 0;
    // Frees the component's archive stream.
    virtual void CloseArchiveStream() = 0;
    // Opens the archive file for reading (others may read too) and sets the archive size; false
    // after reporting E_OPENFILE.
    virtual bool OpenArchiveStream() = 0;
    virtual TDiskManager& SpanDiskManager() = 0;

    TOnGetZipLastDisk OnGetZipLastDisk;
    TOnGetZipFirstDisk OnGetZipFirstDisk;
    TOnGetZipNextDisk OnGetZipNextDisk;
};

class TSpanDiskReader : public TDiskErrorEvents {
public:
    void Init(TSpanDiskReaderOwner* Owner, TObject* EventSender, bool* Cancel, TOnDiskError DiskNotReady,
              TOnDiskError WriteProtect, TDiskErrorReporter Reporter);
    // Asks for the disk the state needs until the right one is in the drive; on failure the
    // component's cancel flag is set.
    bool OpenDisk(std::int64_t WantedOffset);

    std::int64_t WantedOffset = 0;
    std::uint16_t DiskState = 0;  // 0 last disk wanted, 1 first, 2 and on the next ones

private:
    bool AskForDisk();
    bool DiskCheck();
    bool Fail();

    TSpanDiskReaderOwner* FOwner = nullptr;
};
