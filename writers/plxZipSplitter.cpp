#include "writers/plxZipSplitter.h"

#include "core/Err_Msgs.h"
#include "platform/win/Drives.h"
#include "platform/win/SysFiles.h"
#include "writers/ZipVolumes.h"

TZipSplitter::TZipSplitter(TObject* AOwner) : TZipBase(AOwner)
{
    FSplitter.PartType = ptNoSplit;
    FSplitter.PartSize = 65536;
    FSplitter.CustomSizeType = stBytes;
    FSplitter.PartTypeList.push_back("No split");
}

void TZipSplitter::SetArchiveFile(const std::string& Name)
{
    TZipBase::SetArchiveFile(Name);
    FSplitter.SetArchiveFile(Name);
}

int TZipSplitter::Compress()
{
    FSplitter.OnError = OnError;
    FSplitter.OnProgress = OnSplitProgress;
    FSplitter.ProgressProc = [this](std::uint8_t FilePercent, std::uint8_t ArchivePercent) {
        if (OnSplitProgress)
            OnSplitProgress(&FSplitter, FilePercent, ArchivePercent);
    };
    FSplitter.OnSplitNewVolume = OnSplitNewVolume;
    FSplitter.OnSplitDeleteVolume = OnSplitDeleteVolume;
    FSplitter.OnSplitEnd = OnSplitEnd;
    FSplitter.OnSplitFileExists = {};
    return TZipBase::Compress();
}

bool TZipSplitter::PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive,
                                   const std::string& TempName, const TTempStreamOwner& TempOwner)
{
    std::unique_ptr<TFileStream32> file;
    TStream32* source = OpenFinishedOutput(Stream, TempName, file);
    if (!source) {
        DoError(TempName, "", E_OPENFILE, Target);
        return false;
    }
    const std::int64_t size = source->Size();
    FSplitter.HandOver(source);
    TPartType part = FSplitter.PartType;
    // A removable target is spanned, not split; and without the host's go-ahead nothing is split.
    const std::string root = win::IncludeTrailingBackslash(win::ExtractFileDrive(Target));
    if (!OnSplitBegin || GetDriveTypeA(root.c_str()) == DRIVE_REMOVABLE)
        part = ptNoSplit;
    if (part != ptNoSplit) {
        if (FSplitter.RequestedVolumeSize(part) < 65536) {
            DoError(Target, "", E_SIZETOSMALL, Target);
            return false;
        }
        if (size > 65536) {
            bool cancel = false;
            OnSplitBegin(this, Target, TempName, cancel);
            if (cancel) {
                DoError(Target, "", E_USERCANCEL, Target);
                return false;
            }
            // The host may have chosen another size, or no split at all.
            part = FSplitter.PartType;
            if (part != ptNoSplit && FSplitter.RequestedVolumeSize(part) < 65536) {
                DoError(Target, "", E_SIZETOSMALL, Target);
                return false;
            }
        }
        // An archive no larger than one volume is written whole.
        if (FSplitter.GetVolumeSize(part) >= size)
            part = ptNoSplit;
    }
    if (part == ptNoSplit) {
        file.reset();
        FSplitter.HandOver(nullptr);
        if (!TZipBase::PlaceTempOutput(Stream, Target, SameDrive, TempName, TempOwner))
            return false;
        // The volumes of an earlier set of this name no longer belong to anything.
        FSplitter.SplitArchiveFile = Target;
        FSplitter.DeleteOldVolumes(1);
        return true;
    }
    FSplitter.SplitArchiveFile = Target;
    FSplitter.ReplaceTarget = true;
    FSplitter.CancelPtr = CancelPtr;
    const bool ok = FSplitter.SplitZip();
    FSplitter.HandOver(nullptr);
    return ok;
}
