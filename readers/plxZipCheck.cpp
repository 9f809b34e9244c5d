#include "readers/plxZipCheck.h"

#include "core/Err_Msgs.h"
#include "platform/win/SysFiles.h"
#include "readers/CompressedFile.h"
#include "readers/ExtractorFor.h"

int TZipCheck::Activate()
{
    FileCount = 0;
    if (ArchiveFile().empty() || !win::FileExists(ArchiveFile())) {
        DoError(ArchiveFile(), "", E_FILENOTFOUND, "");
        return 0;
    }
    if (!OnStatus) {
        DoError(ArchiveFile(), "OnStatus", E_REQUIREDEVENT, "");
        return 0;
    }
    SetCancel(false);
    std::unique_ptr<TUnBase> extractor = NewTemporaryExtractor(*this);
    if (extractor == nullptr) {
        DoError(ArchiveFile(), "", E_UNSUPPORTEDARCTYPE, "");
        return 0;
    }
    if (OnElapsedTime)
        Timer().Start();
    BindExtractor(*extractor);
    FileCount = extractor->TestArchive();
    Timer().Stop();
    if (OnElapsedTime)
        OnElapsedTime(this, Timer().Elapsed());
    return FileCount;
}

void TZipCheck::BindExtractor(TUnBase& Extractor)
{
    Extractor.CreateStoredDirs = false;
    Extractor.UseStoredDirs = false;
    Extractor.OnActivate = OnActivate;
    Extractor.OnDeactivate = OnDeactivate;
    Extractor.OnBegin = OnBegin;
    Extractor.OnError = OnError;
    Extractor.OnGetPassword = OnGetPassword;
    Extractor.OnGetZipFirstDisk = OnGetZipFirstDisk;
    Extractor.OnGetZipNextDisk = OnGetZipNextDisk;
    Extractor.OnGetZipLastDisk = OnGetZipLastDisk;
    Extractor.OnProgress = OnProgress;
    Extractor.OnCorruptZipHeader = OnCorruptZipHeader;
    Extractor.OnNestedTarFile = OnNestedTarFile;
    Extractor.OnFileExists = OnFileExists;
    Extractor.OnEnd = [this](TObject*, const std::string& Name, bool Pass) {
        OnStatus(this, Name, Pass);
        if (OnEnd)
            OnEnd(this, Name, Pass);
    };
    // Only an assigned event is relayed: without one the extractor looks for volumes itself.
    if (OnNextVolume)
        Extractor.OnNextVolume = [this](TObject*, std::string& Volume, int Id, bool Exists, bool& Cancel) {
            OnNextVolume(this, Volume, Id, Exists, Cancel);
        };
    if (auto* compressed = dynamic_cast<TUnCompressedFile*>(&Extractor))
        compressed->OnChangeArchive = [this](TObject*, const std::string& Name, TArcType Type) {
            if (OnChangeArchive)
                OnChangeArchive(this, Name, Type);
        };
}
