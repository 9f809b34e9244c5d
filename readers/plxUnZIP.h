// The ZIP extractor: reads the central directory (or, when there is none, the local headers),
// reconciles each member with its local header and decodes it by its method.
#pragma once

#include "core/DiskManager.h"
#include "core/UnBase.h"
#include "core/ZipRecords.h"
#include "core/plxPPMDi1.h"
#include "readers/plxInflate64.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TUnZip : public TUnBase {
public:
    explicit TUnZip(TObject* AOwner = nullptr);
    ~TUnZip() override;

    void ProcessArchive(TStream32* Archive) override;
    bool CheckPassword() override;
    bool CanDecodeEntry() override { return FDecodable; }

    // One selected member as the directory (or its local header) names it.
    struct TMemberItem {
        std::int64_t LocalPos = 0;  // absolute in its volume
        // The directory's sizes and CRC; in local-header mode with flag bit 3, the data
        // descriptor's (HasDescriptor). One list holds 100,000s of these: no field twice.
        std::uint64_t Packed = 0;
        std::uint64_t Unpacked = 0;
        // In the run's name pool: the name listed and written, then its stored bytes; no string
        // per member to allocate.
        std::size_t NameAt = 0;
        std::uint32_t NameLength = 0;
        std::uint32_t RawNameLength = 0;
        std::uint32_t ExternalAttr = 0;
        std::uint32_t Volume = 0;  // disk of the local header (spanned sets count from 1)
        std::uint32_t Crc = 0;
        std::uint16_t VersionMadeBy = 0;  // the directory's
        std::uint16_t CipherBlock = 0;    // the directory's 0x0017 or 0x9901 block, else 0
        bool HasCentral = false;
        bool HasDescriptor = false;
    };

    // The member being decoded: its local header's facts, sizes and CRC the header left to the
    // directory or the data descriptor filled in.
    struct TWorkRecord {
        std::uint16_t Flags = 0;
        std::uint32_t Method = 0;
        std::uint64_t PackedSize = 0;
        std::uint64_t UnpackedSize = 0;
        std::uint32_t Crc = 0;
        std::uint32_t DosDate = 0;             // date << 16 | time
        std::optional<std::int64_t> UnixTime;  // from the local extra field, where it holds one
        std::int64_t DataPos = 0;
        std::uint16_t CipherBlock = 0;  // the local extra field's 0x0017 or 0x9901 block, else 0
        bool SymbolicLink = false;      // a UNIX host's link: its data are the name it points to
    };

    // The method pointers through which the reading routines reach the virtual operations.
    std::function<void(TStream32* Archive)> ExtractMembersProc;
    std::function<void(int Index, std::uint32_t ExternalAttr)> ExtractMemberProc;
    std::function<TEncryptionMethod(std::uint16_t Flags)> GetEncryptionMethodProc;

    virtual void ExtractMembers(TStream32* Archive);
    virtual void ExtractMember(int Index, std::uint32_t ExternalAttr);
    virtual TEncryptionMethod GetEncryptionMethod(std::uint16_t Flags);

    // Decodes the current member's data from the archive stream into Output. False when the
    // member failed (damaged or short data, an unknown method); data errors that carry a message
    // are reported and raised.
    bool DecodeMember(TStream32* Output, const TWorkRecord& Work);

    std::string_view CentralName(const TMemberItem& Item) const
    {
        return std::string_view(FNames).substr(Item.NameAt, Item.NameLength);
    }
    std::string_view CentralRawName(const TMemberItem& Item) const
    {
        return std::string_view(FNames).substr(Item.NameAt + Item.NameLength, Item.RawNameLength);
    }

protected:
    bool IsJar() const { return FArcType == atJar || FArcType == atJarExe; }
    bool IsSpanned() const { return FArcType == atZipDS; }
    bool IsSplit() const { return FArcType == atZipMV; }
    bool IsMultiVolume() const { return IsSpanned() || IsSplit(); }

private:
    void ReadCentralDirectory(const TZipEnding& Ending);
    bool ClaimRange(std::int64_t Begin, std::int64_t End);
    void RunMember(const TMemberItem& Item, const TWorkRecord& Local, int Index, const std::string& Name);
    bool Usable(const TZipEntry& Entry, bool Report);
    bool TellsNamelessMember() const;
    void CountHeaderRead(std::int64_t Bytes);
    void AddToTotals(std::uint16_t Flags, std::uint64_t Packed, std::uint64_t Unpacked);
    void RunListedMember(const TZipEntry& Entry, TMemberItem& Item);
    bool FindListedLocalHeader(const TZipEntry& Entry, std::int64_t& LocalPos);
    static std::int64_t DataEnd(const TWorkRecord& Local, std::uint64_t CentralPacked);
    void TakeDeferredSizes(const TMemberItem& Item, TWorkRecord& Work) const;
    const std::string& MemberName(const TMemberItem& Item, TZipLocalEntry& Local);
    bool LocalNameDiffers(std::string_view CentralRaw, std::string_view Central, std::uint16_t VersionMadeBy,
                          TZipLocalEntry& Local);
    void ReportLostEntries(std::uint64_t Walked, const TZipEnding& Ending);
    void NoteNewestDate(std::int64_t Start);
    bool WalkCentralDisk(std::int64_t Start, const std::function<bool(const TZipEntry&)>& OnEntry);
    bool AddCentralEntry(const TZipEntry& Entry);
    bool FindLocalHeader(std::int64_t Pos, TZipLocalEntry& Local, std::uint16_t VersionMadeBy, bool DecodeName = true);
    std::uint64_t ReadLocalHeaders(std::int64_t Start);
    bool FindDataDescriptor(std::int64_t DataPos, bool Zip64, TMemberItem& Item, std::int64_t& Next);
    std::int64_t SkipDataDescriptor(std::int64_t At);
    bool OpenVolume(std::uint32_t Volume, std::int64_t WantedOffset);
    bool NextVolume();
    bool Selected(const std::string& Name, bool Central);
    bool CheckDecodable(const TWorkRecord& Work, bool IsDirectory);
    void NoteDate(std::uint32_t DosDate);

    // Member input: bounded by the compressed size, deciphered, continued on the next volume.
    std::size_t ReadMember(std::uint8_t* Buffer, std::size_t Count);
    void WriteDecoded(TStream32* Output, const std::uint8_t* Data, std::size_t Count);

    std::vector<TMemberItem> FMembers;              // volume sets and local-header walks: run after the walk
    std::string FNames;                             // the members' names, back to back
    std::map<std::int64_t, std::int64_t> FClaimed;  // byte ranges of the members run: begin -> end
    int FListed = 0;                                // members of a single archive run so far
    std::string FName;                              // the current member's, when it comes from the pool
    TSpanDiskReader FSpan;
    std::int64_t FCorrection = 0;
    bool FStubSearched = false;  // the first local header was looked for (FCorrection)
    std::int64_t FPrefix = 0;
    std::uint32_t FLastDisk = 0;    // the volume holding the end record (0-based)
    std::int64_t FOpenVolume = -1;  // the 0-based volume the archive stream holds
    bool FDecodable = true;
    bool FOwnHooks = false;  // the run's data hooks are the constructor's (OwnDataHooks)
    bool FTakesAll = false;  // the run's selection takes every entry found with a name
    TWorkRecord FWork;
    TZipLocalEntry FLocal;  // one header at a time; kept for its buffers
    TReadAt FLocalRead;     // over FLocalReadStream, the archive stream it was made for
    const TStream32* FLocalReadStream = nullptr;
    std::vector<std::uint8_t> FStoredBlock;
    std::uint64_t FPackedLeft = 0;
    std::uint64_t FWritten = 0;
    bool FOverflow = false;  // the decoder produced more than the declared size
    bool FMemberEncrypted = false;
    std::unique_ptr<TPpmdCodec> FPpmd;
    std::unique_ptr<TInflateWorkspace> FInflate;
};
