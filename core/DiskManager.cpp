#include "core/DiskManager.h"

#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Time.h"

#include <cstring>

namespace {

std::string RootOf(const std::string& Path)
{
    const std::string path = (IsUncPath(Path) || (Path.find(':') != std::string::npos && Path.find(':') >= 1))
                                 ? Path
                                 : win::CurrentDirectory();
    return AppendBackslash(win::ExtractFileDrive(path));
}

bool IsFloppySize(std::int64_t total)
{
    return total == 1'213'952 || total == 1'457'664 || total == 2'915'328;
}

std::string LastErrorText(DWORD code)
{
    switch (code) {
    case ERROR_NOT_READY:
        return "The device is not ready.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    default:
        return "System error " + std::to_string(code) + ".";
    }
}

}  // namespace

void TDiskErrorEvents::BindEvents(TObject* EventSender, TOnDiskError DiskNotReady, TOnDiskError WriteProtect,
                                  TDiskErrorReporter Reporter, bool* Cancel)
{
    Sender = EventSender ? EventSender : this;
    OnDiskNotReady = std::move(DiskNotReady);
    OnWriteProtect = std::move(WriteProtect);
    DoError = std::move(Reporter);
    CancelFlag = Cancel;
}

void TDiskErrorEvents::Report(int ECode, const std::string& FileName, const std::string& ExtendedMsg) const
{
    if (DoError)
        DoError(FileName, ExtendedMsg, "", ECode);
}

std::string DriveTypeNameOf(unsigned DriveType)
{
    static const char* const Names[] = {"Unknown", "None", "Removable", "Fixed", "Network", "CD-ROM", "RAM"};
    return DriveType < 7 ? Names[DriveType] : "Unknown";
}

int GetPkBackDiskNumber(std::string_view Label)
{
    constexpr std::string_view Tag = "PKBACK# ";
    const std::size_t at = Label.find(Tag);
    if (at == std::string_view::npos)
        return 0;
    const std::string_view digits = Label.substr(at + Tag.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    int value = 0;
    return win::TryStrToInt(digits, value) ? value : 0;
}

bool TDiskManager::DriveReady(const std::string& Root) const
{
    ULARGE_INTEGER free, total;
    return GetDiskFreeSpaceExA(Root.c_str(), &free, &total, nullptr) != FALSE;
}

bool TDiskManager::AskRetry(const std::string& Path) const
{
    const DWORD error = GetLastError();
    const std::string text =
        win::UpperCase(Path) + std::string(LoadMessage(E_NOTACCESSIBLE)) + "\r\n\r\n" + LastErrorText(error);
    return ShowMessageBox(text, "", MB_RETRYCANCEL | MB_ICONSTOP) == IDRETRY;
}

bool TDiskManager::ReadVolumeInfo(const std::string& Path)
{
    char label[257] = {}, fsName[64] = {};
    DWORD serial = 0, maxLength = 0, flags = 0;
    if (!GetVolumeInformationA(Path.c_str(), label, sizeof label, &serial, &maxLength, &flags, fsName, sizeof fsName))
        return false;
    VolumeLabel = label;
    Serial = serial;
    SerialHex = win::IntToHex(serial, 8);
    MaxComponentLength = maxLength;
    FileSystemName = fsName;
    return true;
}

void TDiskManager::GetDiskSpace(const std::string& Path)
{
    ULARGE_INTEGER free, total;
    if (!IsUncPath(Path) && GetDiskFreeSpaceExA(Path.c_str(), &free, &total, nullptr)) {
        FreeSpace = std::int64_t(free.QuadPart);
        TotalSpace = std::int64_t(total.QuadPart);
    }
    Floppy = DriveType == DRIVE_REMOVABLE && IsFloppySize(TotalSpace);
}

bool TDiskManager::GetDiskInfo(const std::string& Path, TOnDiskError DiskNotReady, TOnDiskError WriteProtect,
                               TDiskErrorReporter Reporter, TObject* EventSender, bool* Cancel)
{
    RootPath = RootOf(Path);
    BindEvents(EventSender, std::move(DiskNotReady), std::move(WriteProtect), std::move(Reporter), Cancel);
    const bool network = IsUncPath(RootPath);

    while (!network && !DriveReady(RootPath)) {
        if (!OnDiskNotReady) {
            Report(E_NOTACCESSIBLE, RootPath);
            return false;
        }
        bool abort = true;
        OnDiskNotReady(Sender, abort);
        ProcessMessages();
        if (abort || Cancelled()) {
            Report(E_USERCANCEL, RootPath);
            return false;
        }
    }
    while (!ReadVolumeInfo(RootPath)) {
        if (Cancelled() || !AskRetry(RootPath)) {
            Report(E_NOTACCESSIBLE, RootPath);
            return false;
        }
        ProcessMessages();
    }
    DriveNumber = network ? 0 : std::uint8_t(win::UpperCase(RootPath.substr(0, 1))[0] - 'A' + 1);
    DiskNumber = std::uint16_t(GetPkBackDiskNumber(VolumeLabel));
    DriveType = std::uint8_t(GetDriveTypeA(RootPath.c_str()));
    if (DriveType == DRIVE_NO_ROOT_DIR) {
        Report(E_NOTACCESSIBLE, RootPath);
        return false;
    }
    GetDiskSpace(RootPath);
    DriveTypeName = DriveTypeNameOf(DriveType);
    return true;
}

HANDLE CreateFileChecked(const TDiskErrorReporter& Reporter, const std::string& FileName, DWORD Access, DWORD Flags,
                         DWORD Disposition, DWORD Share)
{
    const HANDLE file = CreateFileA(FileName.c_str(), Access, Share, nullptr, Disposition, Flags, nullptr);
    if (file == INVALID_HANDLE_VALUE && Reporter)
        Reporter(FileName, "", "", E_OPENFILE);
    return file;
}

HANDLE OpenFileForUpdate(const TDiskErrorReporter& Reporter, const std::string& FileName)
{
    return CreateFileChecked(Reporter, FileName, GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING,
                             FILE_SHARE_READ);
}

std::uint32_t GetFileDosTime(HANDLE File, int Which)
{
    FILETIME times[3];
    if (Which < 0 || Which > 2 || !GetFileTime(File, &times[0], &times[2], &times[1]))
        return 0;
    return FileTimeToDosTime(times[Which]);
}

// ---- TSpanDiskReader ----

void TSpanDiskReader::Init(TSpanDiskReaderOwner* Owner, TObject* EventSender, bool* Cancel, TOnDiskError DiskNotReady,
                           TOnDiskError WriteProtect, TDiskErrorReporter Reporter)
{
    FOwner = Owner;
    BindEvents(EventSender, std::move(DiskNotReady), std::move(WriteProtect), std::move(Reporter), Cancel);
}

bool TSpanDiskReader::Fail()
{
    if (CancelFlag)
        *CancelFlag = true;
    return false;
}

bool TSpanDiskReader::DiskCheck()
{
    const std::string file = FOwner->SpanArchiveFile();
    if (!FOwner->SpanDiskManager().GetDiskInfo(file, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag))
        return false;
    const HANDLE handle =
        CreateFileChecked(DoError, file, GENERIC_READ, FILE_ATTRIBUTE_NORMAL, OPEN_EXISTING, FILE_SHARE_READ);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool passed = false;
    const TArcType type = FOwner->SpanArcType();
    const std::uint16_t labelled = FOwner->SpanDiskManager().DiskNumber;
    // A labelled disk of a spanned set must be the wanted one, whatever bytes stand at the offset.
    const bool otherDisk = type == atZipDS && labelled != 0 && labelled != DiskState;
    if (!otherDisk && GetFileSizeEx(handle, &size)) {
        if (WantedOffset < 0 || WantedOffset > size.QuadPart - 30) {
            passed = type == atZipMV || (type == atZipDS && labelled == DiskState);
        } else {
            LARGE_INTEGER at;
            at.QuadPart = WantedOffset;
            std::uint8_t sig[4] = {};
            DWORD read = 0;
            if (SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) && ReadFile(handle, sig, 4, &read, nullptr) &&
                read == 4 && sig[0] == 'P' && sig[1] == 'K')
                passed = (sig[2] == 7 && sig[3] == 8) || (sig[2] == 3 && sig[3] == 4) || (sig[2] == 1 && sig[3] == 2);
        }
    }
    CloseHandle(handle);
    return passed;
}

bool TSpanDiskReader::AskForDisk()
{
    if (DiskState == 0) {
        FOwner->RedetectArchive();
        while (!(FOwner->SpanHeaderState() & HeaderBit(htEnding))) {
            bool cancel = true;
            FOwner->OnGetZipLastDisk(Sender, cancel);
            ProcessMessages();
            if (cancel || Cancelled()) {
                Report(E_USERCANCEL, FOwner->SpanArchiveFile());
                return false;
            }
            FOwner->RedetectArchive();
        }
        if (!IsArchiveType(FOwner->SpanArcType()))
            return false;
        DiskState = 1;
        return true;
    }
    while (!DiskCheck()) {
        bool cancel = true;
        if (DiskState == 1)
            FOwner->OnGetZipFirstDisk(Sender, cancel);
        else
            FOwner->OnGetZipNextDisk(Sender, std::to_string(DiskState), cancel);
        ProcessMessages();
        if (cancel || Cancelled()) {
            Report(E_USERCANCEL, FOwner->SpanArchiveFile());
            return false;
        }
    }
    ++DiskState;
    return true;
}

bool TSpanDiskReader::OpenDisk(std::int64_t Offset)
{
    WantedOffset = Offset;
    FOwner->CloseArchiveStream();
    const char* required = DiskState == 0   ? (FOwner->OnGetZipLastDisk ? nullptr : "OnGetZipLastDisk")
                           : DiskState == 1 ? (FOwner->OnGetZipFirstDisk ? nullptr : "OnGetZipFirstDisk")
                                            : (FOwner->OnGetZipNextDisk ? nullptr : "OnGetZipNextDisk");
    if (required) {
        Report(E_REQUIREDEVENT, "", required);
        return Fail();
    }
    if (!AskForDisk())
        return Fail();
    return FOwner->OpenArchiveStream();
}
