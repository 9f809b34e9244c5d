// RAR: the external library lists; OnRead fires with a temporary extractor as Sender.
#include "readers/Pelix.h"
#include "readers/plxUnRar.h"

namespace {

class TRarWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
};

void TRarWalker::Open(TPelixWalk& Walk)
{
    TPelix& p = Walk.Pelix();
    Walk.CloseStream();
    if (!TUnRar::LibraryLoaded())
        p.RaiseError(p.ArchiveFile(), "", p.VolumeName, E_UNRARDLL);
    TUnRar rar;
    rar.SetArchiveFile(p.ArchiveFile());
    rar.VolumeName = p.ArchiveFile();
    rar.OperationCode = opListTarget2;
    rar.SetFileSpec(p.FileSpec());
    rar.SetExcludeSpec(p.ExcludeSpec());
    rar.RecurseDirs = p.RecurseDirs;
    rar.SetPassword(p.Password());
    rar.OnGetPassword = p.OnGetPassword;
    rar.OnRead = p.OnRead;
    rar.OnReadBegin = p.OnReadBegin;
    rar.OnReadEnd = p.OnReadEnd;
    rar.OnElapsedTime = p.OnElapsedTime;
    rar.OnNextVolume = p.OnNextVolume;
    rar.OnError = p.OnError;
    rar.ShowEmptyDirs = p.ShowEmptyDirs;
    rar.ArchiveOffset = p.ArchiveOffset;
    rar.CancelPtr = p.CancelPtr;
    p.FileCount = rar.ListPass(p.ArchiveFile());
    p.UnpackedTotal = rar.UnpackedTotal;
    p.PackedTotal = rar.PackedTotal;
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeRarWalker()
{
    return std::make_unique<TRarWalker>();
}
