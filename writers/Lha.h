// LHA archives through the compress driver: new entries get level-0 headers and -lh5-/-lh6- data
// (stored when that is not smaller); kept entries are copied byte for byte, whatever their level.
#pragma once

#include "core/plxBase.h"
#include "readers/LhaFormat.h"
#include "writers/LzhEncode.h"

#include <cstdint>
#include <map>
#include <string>

class TLha : public TCompBase {
public:
    explicit TLha(TObject* AOwner = nullptr);

    // The header-size byte of level 0 holds 22 + the name; longer names go into the extended
    // headers of level 1, up to what their 16-bit size holds.
    static constexpr std::size_t kLevel0NameLimit = 233;
    static constexpr std::size_t kMaxNameLength = 60000;

    void SetArcType(TArcType Value) override;

    std::uint16_t GetHeadSize() override { return 37; }
    std::uint16_t GetLocalHeadSize() override { return kLhaBaseHeaderSize + 2; }
    std::uint8_t* GetHeadPtr() override { return FHead; }
    void CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList) override;
    void CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList) override;
    void CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index) override;
    void StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info) override;
    void ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info) override;
    std::int64_t GetEntryLength(TStream32& Output, TStream32& OldArchive, TCompressFileInfo& Item) override;
    bool WriteEnding(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList) override;

    // The header of a member (Name in OEM bytes, "\" separators; Packed the data's size) with its
    // checksum: level 0, or level 1 when the name is too long for level 0.
    static std::string EntryHeader(char Method, std::uint32_t Packed, std::uint32_t Unpacked, std::uint32_t DosTime,
                                   std::uint8_t Attributes, const std::string& Name, std::uint16_t Crc);

protected:
    // No directory follows the entries: a new archive is written while the tree is walked.
    bool WritesEntriesAlone() const override { return true; }

private:
    // Codes Input after the header; false when cancelled. Stores when coding does not pay.
    bool WriteData(TStream32& Input, TStream32& Output, std::int64_t Size, char& Method, std::uint16_t& Crc,
                   std::int64_t& Packed);
    bool StoreData(TStream32& Input, TStream32& Output, std::int64_t Size, std::uint16_t& Crc);
    void WriteHeader(TStream32& Output, const std::string& Header);

    std::uint8_t FHead[37] = {};
    std::map<std::int64_t, TLhaHeader> FOldEntries;  // by the header's offset in the old archive
    TLzhEncoder FEncoder;
};
