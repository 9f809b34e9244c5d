#include "writers/DiskSpan.h"

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "writers/ZipVolumes.h"
#include "writers/plxZip.h"

#include <cstdio>

namespace {

// Every disk must have room for at least the next local header and a good part of its data.
constexpr std::int64_t kDiskReserve = 10000;

}  // namespace

std::string SpanDiskLabel(int Number)
{
    char label[32];
    std::snprintf(label, sizeof label, "PKBACK# %03d", Number);
    return label;
}

TSpanDiskWriter::TSpanDiskWriter(TZipBase& Owner, TDiskManager& Disks)
    : FOwner(Owner), FDisks(Disks), FTarget(Owner.ArchiveFile())
{
    BindEvents(&Owner, Owner.OnDiskInDrvErr, Owner.OnDiskWriteProtectErr, Owner.DiskErrorReporter(), Owner.CancelPtr);
}

TSpanDiskWriter::~TSpanDiskWriter()
{
    CloseFile();
}

void TSpanDiskWriter::CloseFile()
{
    if (FFile != INVALID_HANDLE_VALUE)
        CloseHandle(FFile);
    FFile = INVALID_HANDLE_VALUE;
}

bool TSpanDiskWriter::Failed(int ECode, const std::string& Extended)
{
    Report(ECode, FTarget, Extended);
    return false;
}

std::int64_t TSpanDiskWriter::FreshRoom() const
{
    return std::max<std::int64_t>(FDisks.TotalSpace - kDiskReserve, kDiskReserve);
}

bool TSpanDiskWriter::WriteSpannedArchive(TStream32& Source)
{
    FOwner.DoProgress(0, 1, 1);
    if (!FirstDisk())
        return false;
    // The marker says "more disks follow"; an archive that fits on the first disk goes without.
    const bool marker = Source.Size() + kDiskReserve > FRoom;
    const bool ok = FOwner.CopyToVolumes(Source, *this, marker) && !Cancelled();
    CloseFile();
    return ok;
}

bool TSpanDiskWriter::WriteHere(const void* Data, std::int64_t Count)
{
    DWORD written = 0;
    if (!WriteFile(FFile, Data, DWORD(Count), &written, nullptr) || written != DWORD(Count))
        return Failed(GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE);
    FPosition += Count;
    FRoom -= Count;
    return true;
}

bool TSpanDiskWriter::FirstDisk()
{
    FDiskNumber = 1;
    FRequired = std::int64_t(FOwner.LeaveSpaceOnFirstDisk) + kDiskReserve;
    return GetDisk();
}

bool TSpanDiskWriter::NextVolume()
{
    CloseFile();
    ++FDiskNumber;
    FRequired = kDiskReserve;
    return GetDisk();
}

bool TSpanDiskWriter::GetDisk()
{
    if (!FOwner.OnInsertDisk)
        return Failed(E_REQUIREDEVENT, "OnInsertDisk");
    for (;;) {
        // Every disk is asked for, also when updating an archive that was there before the run.
        bool cancel = true;
        FOwner.OnInsertDisk(&FOwner, std::to_string(FDiskNumber), cancel);
        ProcessMessages();
        if (cancel || Cancelled())
            return Failed(E_USERCANCEL);
        if (!FDisks.GetDiskInfo(FTarget, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag)) {
            if (Cancelled())
                return false;
            continue;  // no disk in the drive: ask again
        }
        // The disk just written, still in the drive.
        if (FDisks.Serial != 0 && FDisks.Serial == FLastSerial && FDisks.VolumeLabel == FLastLabel)
            continue;
        if (!ExaminedDisk())
            return false;
        if (FDisks.FreeSpace < FRequired && !ClearDisk())
            return false;
        if (FDisks.FreeSpace >= FRequired)
            return OpenDisk();
    }
}

// A disk that holds a file of the archive's name, or that belongs to a spanned set, is
// overwritten only with the user's yes.
bool TSpanDiskWriter::ExaminedDisk()
{
    const bool fileThere = win::FileExists(FTarget);
    if (!fileThere && GetPkBackDiskNumber(FDisks.VolumeLabel) == 0)
        return true;
    if (!FOwner.OnDiskSpanFileExists)
        return Failed(E_REQUIREDEVENT, "OnDiskSpanFileExists");
    TOverwriteMode mode = omOverwrite;
    TDateTime date = 0;
    try {
        date = fileThere ? win::FileDateToDateTime(win::FileAge(FTarget)) : 0;
    } catch (const win::EConvertError&) {
    }
    FOwner.OnDiskSpanFileExists(&FOwner, FTarget, date, mode);
    if (mode == omSkip) {
        if (CancelFlag)
            *CancelFlag = true;
        return Failed(E_USERCANCEL);
    }
    if (fileThere && !DeleteFileA(FTarget.c_str()))
        return Failed(E_OPENFILE);
    return FDisks.GetDiskInfo(FTarget, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag);
}

bool TSpanDiskWriter::ClearDisk()
{
    const std::string drive = win::ExtractFileDrive(FTarget);
    if (!FOwner.OnClearDisk) {
        // Without a handler the disk is read once more: enough room, or the event is missing.
        if (!FDisks.GetDiskInfo(FTarget, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag))
            return false;
        return FDisks.FreeSpace >= FRequired || Failed(E_REQUIREDEVENT, "OnClearDisk");
    }
    while (FDisks.FreeSpace < FRequired) {
        bool cancel = true;
        FOwner.OnClearDisk(&FOwner, drive, FRequired, FDisks.FreeSpace, FDisks.TotalSpace, cancel);
        ProcessMessages();
        if (cancel || Cancelled())
            return Failed(E_USERCANCEL);
        if (!FDisks.GetDiskInfo(FTarget, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag))
            return false;
    }
    return true;
}

bool TSpanDiskWriter::OpenDisk()
{
    // A blank disk has none of the target's folders yet.
    const std::string folder = win::ExtractFileDir(FTarget);
    if (folder.size() > 3 && !ForceDirs(folder))
        return Failed(E_OPENFILE);
    FFile = CreateFileChecked(DoError, FTarget, GENERIC_WRITE, FILE_ATTRIBUTE_NORMAL, CREATE_ALWAYS, 0);
    if (FFile == INVALID_HANDLE_VALUE)
        return false;
    if (!WriteVolumeLabel())
        return false;
    if (!FDisks.GetDiskInfo(FTarget, OnDiskNotReady, OnWriteProtect, DoError, Sender, CancelFlag))
        return false;
    FPosition = 0;
    FRoom = FDisks.FreeSpace - (FDiskNumber == 1 ? FOwner.LeaveSpaceOnFirstDisk : 0);
    FLastSerial = FDisks.Serial;
    FLastLabel = FDisks.VolumeLabel;
    return true;
}

bool TSpanDiskWriter::WriteVolumeLabel()
{
    const std::string label = SpanDiskLabel(FDiskNumber);
    if (FDisks.VolumeLabel == label)
        return true;
    if (!SetVolumeLabelA(FDisks.RootPath.c_str(), label.c_str()))
        return Failed(E_WRITESPANLABEL);
    return true;
}

// --- the ZIP writer's road onto spanned disks ---

bool TZipBase::SpansTo(const std::string& Target) const
{
    const std::string root = win::IncludeTrailingBackslash(win::ExtractFileDrive(Target));
    if (root.size() < 2 || GetDriveTypeA(root.c_str()) != DRIVE_REMOVABLE)
        return false;
    if (SpanRemovable)
        return true;
    TDiskManager disks;
    disks.DriveType = DRIVE_REMOVABLE;
    disks.GetDiskSpace(root);
    return disks.Floppy;
}

bool TZipBase::CheckFreeSpace(std::int64_t OutputSize, bool CopyNeeded)
{
    // Each disk of a spanned set is checked as it is asked for.
    return SpansTo(FArchiveFile) || TCompBase::CheckFreeSpace(OutputSize, CopyNeeded);
}

bool TZipBase::PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive,
                               const std::string& TempName, const TTempStreamOwner& TempOwner)
{
    if (!SpansTo(Target))
        return TCompBase::PlaceTempOutput(Stream, Target, SameDrive, TempName, TempOwner);
    std::unique_ptr<TFileStream32> file;
    TStream32* source = OpenFinishedOutput(Stream, TempName, file);
    if (!source) {
        DoError(TempName, "", E_OPENFILE, Target);
        return false;
    }
    TSpanDiskWriter span(*this, DiskManager());
    return span.WriteSpannedArchive(*source);
}

bool TZipBase::SpanArchive(const std::string& Finished)
{
    SetCancel(false);
    TFileStream32 source(Finished, fmOpenRead | fmShareDenyWrite);
    if (!source.HandleValid()) {
        DoError(Finished, "", E_OPENFILE, FArchiveFile);
        return false;
    }
    try {
        TSpanDiskWriter span(*this, DiskManager());
        return span.WriteSpannedArchive(source);
    } catch (const std::exception& e) {
        ReportFailure(e);
        return false;
    }
}
