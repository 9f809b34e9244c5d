#include "writers/plxArchiveSplitter.h"
#include "core/ArcDescriptor.h"

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/TempFiles.h"
#include "writers/ZipVolumes.h"

#include <memory>

namespace {

constexpr std::int64_t kMinVolume = 65536;

// The volumes of a split set, written under temporary names in the target's folder.
class TSplitVolumes : public TZipVolumeSink {
public:
    TSplitVolumes(TArchiveSplitter& Owner, std::int64_t VolumeSize) : FOwner(Owner), FSize(VolumeSize) {}
    ~TSplitVolumes() override { Discard(); }

    bool Open() { return NextVolume(); }
    std::uint32_t Volume() const override { return std::uint32_t(FTemps.size() - 1); }
    std::int64_t Position() const override { return FPos; }
    std::int64_t Room() const override { return FSize - FPos; }
    std::int64_t FreshRoom() const override { return FSize; }

    bool WriteHere(const void* Data, std::int64_t Count) override
    {
        if (FFile->Write(Data, std::int32_t(Count)) != std::int32_t(Count)) {
            FOwner.DoError(FTemps.back(), "", E_WRITEFILE, FOwner.SplitArchiveFile);
            return false;
        }
        FPos += Count;
        return true;
    }

    bool NextVolume() override
    {
        if (FOwner.GetCancel())
            return false;
        if (FTemps.size() >= 0xFFFF) {
            // A central header names its volume in 16 bits.
            FOwner.DoError(FOwner.SplitArchiveFile, "", E_SIZETOSMALL, FOwner.SplitArchiveFile);
            return false;
        }
        FFile.reset();
        const std::string folder = win::ExtractFilePath(FOwner.SplitArchiveFile);
        const std::string name = win::CreateOwnedTempFile(folder.empty() ? "." : folder, "spl");
        if (name.empty()) {
            FOwner.DoError(FOwner.SplitArchiveFile, "", E_OPENFILE, std::to_string(FTemps.size() + 1));
            return false;
        }
        FTemps.emplace_back(name);
        // The volumes of a private archive are as private as it was, from the start.
        if (win::FileExists(FOwner.SplitArchiveFile))
            win::NarrowModeTo(FOwner.SplitArchiveFile, name);
        FFile = std::make_unique<TFileStream32>(FTemps.back(), fmCreate);
        if (!FFile->HandleValid()) {
            FOwner.DoError(FTemps.back(), "", E_OPENFILE, std::to_string(FTemps.size()));
            return false;
        }
        FPos = 0;
        return true;
    }

    // Renames the volumes to their names. The archive's own name is taken last, in one rename:
    // until then the old archive stands whole (the volumes of an earlier set it replaces are kept
    // and put back should the run die), from then on the new set is complete. False after a
    // report (the old archive stays, the new volumes go).
    bool Commit()
    {
        FFile.reset();
        const std::string& target = FOwner.SplitArchiveFile;
        const bool replaces = win::FileExists(target);
        std::vector<std::string> names;
        for (std::size_t i = 0; i + 1 < FTemps.size(); ++i)
            names.push_back(FOwner.NumberedSplitName(target, int(i) + 1));
        win::SetReplacement replacement;
        const auto fail = [&](const std::string& Name) {
            FOwner.DoError(Name, "", E_WRITEFILE, Name);
            replacement.Undo();
            return false;
        };
        if (!replacement.Begin(names, target))
            return fail(target);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (replaces)
                win::TakeOwnerAndModeOf(target, FTemps[i]);
            if (!MoveFileExA(FTemps[i].c_str(), names[i].c_str(), MOVEFILE_REPLACE_EXISTING))
                return fail(names[i]);
            FTemps[i].clear();
        }
        if (!win::PutFileInPlace(FTemps.back(), target))
            return fail(target);
        replacement.Finish();
        FTemps.clear();
        if (FOwner.OnSplitNewVolume)
            for (std::size_t i = 0; i <= names.size(); ++i)
                FOwner.OnSplitNewVolume(&FOwner, std::uint32_t(i + 1), i < names.size() ? names[i] : target);
        return true;
    }

    void Discard()
    {
        FFile.reset();
        for (const std::string& name : FTemps)
            if (!name.empty())
                DeleteFileA(name.c_str());
        FTemps.clear();
    }

    std::size_t Count() const { return FTemps.size(); }

private:
    TArchiveSplitter& FOwner;
    std::int64_t FSize;
    std::int64_t FPos = 0;
    std::vector<std::string> FTemps;
    std::unique_ptr<TFileStream32> FFile;
};

// Where a split's bytes would go, without writing them.
class TCountedVolumes : public TZipVolumeSink {
public:
    explicit TCountedVolumes(std::int64_t VolumeSize) : FSize(VolumeSize) {}
    std::uint32_t Volume() const override { return FVolume; }
    std::int64_t Position() const override { return FPos; }
    std::int64_t Room() const override { return FSize - FPos; }
    std::int64_t FreshRoom() const override { return FSize; }
    bool TakesData() const override { return false; }
    bool WriteHere(const void*, std::int64_t Count) override
    {
        FPos += Count;
        return true;
    }
    bool NextVolume() override
    {
        ++FVolume;
        FPos = 0;
        return true;
    }

private:
    std::int64_t FSize;
    std::int64_t FPos = 0;
    std::uint32_t FVolume = 0;
};

}  // namespace

std::int64_t PartTypeSize(TPartType Type)
{
    static constexpr std::int64_t Sizes[] = {1'024'000,   1'213'952,   1'457'664,   2'915'328,    102'400'000,
                                             256'000'000, 665'600'000, 716'800'000, 4'698'000'000};
    return Type < ptOtherSize ? Sizes[Type] : 0;
}

const std::vector<std::string>& PartTypeNames()
{
    static const std::vector<std::string> Names = {"1.0mb",         "1.2mb floppy",  "1.44mb floppy", "2.88mb floppy",
                                                   "100mb ZipDisk", "250mb ZipDisk", "650mb CD-Rom",  "700mb CD-Rom",
                                                   "4gb DVD",       "Other Size"};
    return Names;
}

TArchiveSplitter::TArchiveSplitter(TObject* AOwner) : TZipCommon(AOwner)
{}

void TArchiveSplitter::SetArchiveFile(const std::string& Value)
{
    TZipCommon::SetArchiveFile(Value);
    ArchiveSize = 0;
    if (Value.empty())
        return;
    TFileStream32 file(Value, fmOpenRead | fmShareDenyNone);
    if (file.HandleValid())
        ArchiveSize = file.Size();
}

void TArchiveSplitter::HandOver(TStream32* Stream)
{
    SourceStream = Stream;
    if (Stream) {
        ArchiveSize = Stream->Size();
        FArcType = atZip;
    }
}

std::int64_t TArchiveSplitter::RequestedVolumeSize(TPartType Type) const
{
    if (Type != ptOtherSize)
        return PartTypeSize(Type);
    if (PartSize <= 0)
        return 0;
    const std::int64_t unit = CustomSizeType == stKB ? 1024 : CustomSizeType == stMB ? 1'024'000 : 1;
    return PartSize > INT64_MAX / unit ? INT64_MAX : PartSize * unit;  // 64-bit, never wrapped
}

std::int64_t TArchiveSplitter::GetVolumeSize(TPartType Type) const
{
    std::int64_t size = RequestedVolumeSize(Type);
    if (Type == ptOtherSize && size < kMinVolume)
        size = 0;
    if (HasArcFlag(FArcType, arcflag::Split) && (size == 0 || size > ArchiveSize))
        size = ArchiveSize;
    return size;
}

bool TArchiveSplitter::IsValidPartType(TPartType Type) const
{
    if (Type == ptNoSplit)
        return true;
    if (Type == ptOtherSize)
        return ArchiveSize > kMinVolume && RequestedVolumeSize(Type) >= kMinVolume;
    return PartTypeSize(Type) < ArchiveSize;
}

std::uint32_t TArchiveSplitter::GetVolumeCount()
{
    const std::int64_t size = GetVolumeSize(PartType);
    FVolumeCount = size == 0 || size >= ArchiveSize || !HasArcFlag(FArcType, arcflag::Split)
                       ? 0
                       : std::uint32_t(ArchiveSize / size);
    return FVolumeCount;
}

std::uint32_t TArchiveSplitter::CountVolumeFiles()
{
    const std::int64_t size = GetVolumeSize(PartType);
    if (PartType == ptNoSplit || RequestedVolumeSize(PartType) < kMinVolume || GetVolumeCount() == 0)
        return 0;
    std::unique_ptr<TFileStream32> file;
    TStream32* source = SourceStream;
    if (!source) {
        file = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyNone);
        if (!file->HandleValid())
            return 0;
        source = file.get();
    }
    const std::int64_t position = source->Position();
    TZip layout;
    TCountedVolumes volumes(size);
    bool ok = false;
    try {
        ok = layout.CopyToVolumes(*source, volumes, true);
    } catch (const std::exception&) {
        ok = false;
    }
    source->SetPosition(position);
    return ok ? volumes.Volume() + 1 : 0;
}

bool TArchiveSplitter::CheckRun(std::int64_t& VolumeSize)
{
    if ((FArchiveFile.empty() && !SourceStream) || !IsZipFamilyType(FArcType)) {
        DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
        return false;
    }
    if (SplitArchiveFile.empty()) {
        DoError(FArchiveFile, "", E_NOTHINGTODO, FArchiveFile);
        return false;
    }
    if (!SourceStream && win::SameText(FArchiveFile, SplitArchiveFile)) {
        DoError(SplitArchiveFile, "", E_SAMEINOUTNAMES, SplitArchiveFile);
        return false;
    }
    // The size asked for is checked before it is fitted to the archive, so a too small one is
    // reported as such.
    const std::int64_t requested = RequestedVolumeSize(PartType);
    if (PartType == ptNoSplit || requested < kMinVolume) {
        DoError(FArchiveFile, "", PartType == ptNoSplit ? E_NOTHINGTODO : E_SIZETOSMALL, FArchiveFile);
        return false;
    }
    VolumeSize = GetVolumeSize(PartType);
    if (VolumeSize == 0 || VolumeSize >= ArchiveSize) {
        DoError(FArchiveFile, "", E_NOTHINGTODO, FArchiveFile);
        return false;
    }
    if (!ReplaceTarget && win::FileExists(SplitArchiveFile)) {
        if (!OnSplitFileExists) {
            DoError(SplitArchiveFile, "OnFileExists", E_REQUIREDEVENT, SplitArchiveFile);
            return false;
        }
        bool overwrite = false;
        OnSplitFileExists(this, SplitArchiveFile, overwrite);
        if (!overwrite) {
            DoError(SplitArchiveFile, "", E_USERCANCEL, SplitArchiveFile);
            return false;
        }
    }
    return true;
}

void TArchiveSplitter::DeleteOldVolumes(std::uint32_t From)
{
    for (std::uint32_t n = From;; ++n) {
        const std::string name = NumberedSplitName(SplitArchiveFile, int(n));
        if (!win::FileExists(name))
            return;
        bool toBin = false;
        if (!OnSplitDeleteVolume)
            toBin = true;
        else
            OnSplitDeleteVolume(this, name, toBin);
        if (!DeleteFileEx(name, toBin ? doAllowUndo : doFinal))
            return;
    }
}

bool TArchiveSplitter::SplitZip()
{
    if (FBusy)
        return false;
    FBusy = true;
    SetCancel(false);
    struct TBusy {
        bool& Flag;
        ~TBusy() { Flag = false; }
    } busy{FBusy};

    std::int64_t volumeSize = 0;
    if (!CheckRun(volumeSize))
        return false;
    GetVolumeCount();
    std::unique_ptr<TFileStream32> file;
    TStream32* source = SourceStream;
    if (!source) {
        file = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
        if (!file->HandleValid()) {
            DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
            return false;
        }
        source = file.get();
    }
    if (OnSplitBegin)
        OnSplitBegin(this);

    // The layout is the ZIP writer's; its reports and progress are this component's.
    TZip layout;
    layout.SetArchiveFile(SplitArchiveFile);
    layout.CancelPtr = CancelPtr;
    layout.OnError = [this](TObject*, const std::string& f, const std::string& x, const std::string& v, int code) {
        DoError(f, x, code, v);
    };
    layout.ProgressProc = ProgressProc;
    TSplitVolumes volumes(*this, volumeSize);
    bool ok = false;
    try {
        ok = volumes.Open() && layout.CopyToVolumes(*source, volumes, true) && !GetCancel();
    } catch (const std::exception&) {
        ok = false;  // reported by the layout
    }
    file.reset();
    const std::uint32_t written = std::uint32_t(volumes.Count());
    ok = ok && volumes.Commit();
    if (!ok)
        return false;
    DeleteOldVolumes(written);
    if (OnSplitEnd)
        OnSplitEnd(this, written - 1);
    return true;
}
