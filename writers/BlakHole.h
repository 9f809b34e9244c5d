// BH archives through the compress driver: new entries stored, deflated or bzip2-coded by the
// driver's entry path, or "fused" by the LZH encoder (stored when that is not smaller), with the
// traditional ZIP cipher when a password is set; kept entries are copied byte for byte.
#pragma once

#include "core/plxBase.h"
#include "readers/BhFormat.h"
#include "writers/LzhEncode.h"

#include <cstdint>

class TBlakHole : public TCompBase {
public:
    explicit TBlakHole(TObject* AOwner = nullptr);

    // The two version bytes every new header gets.
    std::uint8_t VersionMadeBy = kBhCurrentVersion;
    std::uint8_t VersionNeeded = kBhCurrentVersion;

    void SetArcType(TArcType Value) override;

    std::uint16_t GetHeadSize() override { return kBhHeaderSize; }
    std::uint16_t GetLocalHeadSize() override { return kBhHeaderSize; }
    std::uint8_t* GetHeadPtr() override { return FHead; }
    void InitHeader() override;
    void FinishHeader(std::int64_t Packed) override;
    // Keeps the finished header as the entry's record.
    void UpdateEntryName(int Index, std::uint32_t Attr, TCompressHeaderObj& EntryList) override;
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override;
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override;
    void DoEnd() override;
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList) override;
    bool CompressEntry(TStream32& Output, int Index, TCompressHeaderObj& EntryList) override;
    bool OwnMethodData(TCompressMethod Method, TStream32& Input, TStream32& Output) override;
    void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList) override;
    std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item) override;
    void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index) override;
    // An archive whose every entry was deleted keeps one end header, so it stays a BH archive.
    void WriteEndMarker(TStream32& Output) override;
    bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList) override;

protected:
    // No directory follows the entries: a new archive is written while the tree is walked.
    bool WritesEntriesAlone() const override { return true; }

private:
    TBhHeader Head() const;
    void SetHead(const TBhHeader& Header);

    std::uint8_t FHead[kBhHeaderSize] = {};
    bool FHeadFinished = false;  // the current entry's header holds its final values
    TLzhEncoder FEncoder;
};
