// The archive splitter: a finished ZIP archive cut into the volumes of a split set (name.z01,
// name.z02, ..., name.zip), with the spanning marker, disk numbers and per-volume offsets.
//
// The new volumes are written under temporary names beside the target and put in place only when
// the whole set is written; the old archive and the volumes of an older set stay until then.
#pragma once

#include "core/ZipCommon.h"
#include "writers/plxZip.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TOnSplitEnd = std::function<void(TObject* Sender, std::uint32_t VolumesCreated)>;
using TOnSplitFileExists = std::function<void(TObject* Sender, const std::string& FileName, bool& Overwrite)>;
using TOnSplitDeleteVolume =
    std::function<void(TObject* Sender, const std::string& VolumeName, bool& DeleteToRecycleBin)>;

// Volume size of a fixed part type in bytes (0 for ptOtherSize and ptNoSplit).
std::int64_t PartTypeSize(TPartType Type);
// The display names of the part types in enumeration order, ptOtherSize's last.
const std::vector<std::string>& PartTypeNames();

class TArchiveSplitter : public TZipCommon {
public:
    explicit TArchiveSplitter(TObject* AOwner = nullptr);

    void SetArchiveFile(const std::string& Value) override;

    std::string SplitArchiveFile;
    TPartType PartType = ptOtherSize;
    std::int64_t PartSize = 65536;  // in the unit of CustomSizeType
    TCustomSizeType CustomSizeType = stBytes;
    std::vector<std::string> PartTypeList = PartTypeNames();
    // An open source handed over by a ZIP writer (its temporary archive), instead of ArchiveFile.
    TStream32* SourceStream = nullptr;
    // The caller owns the target and has decided to replace it: no OnFileExists question.
    bool ReplaceTarget = false;

    // Named apart from the base's OnBegin/OnEnd/OnFileExists, whose signatures differ: one member
    // per event, so binding through a TZipCommon& can never set a field nobody fires.
    TNotifyEvent OnSplitBegin;
    TOnSplitEnd OnSplitEnd;
    TOnSplitFileExists OnSplitFileExists;
    TOnSplitNewVolume OnSplitNewVolume;
    TOnSplitDeleteVolume OnSplitDeleteVolume;

    // The size a part type asks for, before it is fitted to the archive.
    std::int64_t RequestedVolumeSize(TPartType Type) const;
    std::int64_t GetVolumeSize(TPartType Type) const;
    bool IsValidPartType(TPartType Type) const;
    std::uint32_t GetVolumeCount();
    // The files a split with the current settings writes, the last volume included, as the
    // layout places the records (no record is cut where it need not be); 0 when nothing would
    // be split.
    std::uint32_t CountVolumeFiles();

    // The split run; true when the whole set was written and put in place.
    bool SplitZip();
    // Hands over an open ZIP archive (a writer's temporary output) as the source.
    void HandOver(TStream32* Stream);
    // Deletes the numbered volumes of SplitArchiveFile from number From on, up to the first gap.
    void DeleteOldVolumes(std::uint32_t From);

private:
    bool CheckRun(std::int64_t& VolumeSize);

    bool FBusy = false;
    std::uint32_t FVolumeCount = 0;
};
