// ZIP records as they stand in the file.
//
// Each record has one Layout that lists its fields in file order; the same list drives decoding
// and encoding, so a reader and a writer can never disagree about an offset. All integers are
// little-endian and are assembled byte by byte, never by casting a buffer onto a struct.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ByteIO.h"
#include "core/plxConsts.h"
#include "core/plxCrypt.h"
#include "core/plxRegister.h"

namespace zipio {

class TLeDecoder {
public:
    explicit constexpr TLeDecoder(const std::uint8_t* bytes) : FP(bytes) {}
    template <class T>
    constexpr void operator()(T& value)
    {
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            v |= std::uint64_t(FP[FPos + i]) << (8 * i);
        value = T(v);
        FPos += sizeof(T);
    }

private:
    const std::uint8_t* FP;
    std::size_t FPos = 0;
};

class TLeEncoder {
public:
    explicit constexpr TLeEncoder(std::uint8_t* bytes) : FP(bytes) {}
    template <class T>
    constexpr void operator()(const T& value)
    {
        const std::uint64_t v = value;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            FP[FPos + i] = std::uint8_t(v >> (8 * i));
        FPos += sizeof(T);
    }

private:
    std::uint8_t* FP;
    std::size_t FPos = 0;
};

struct TWidthCounter {
    std::size_t Total = 0;
    template <class T>
    constexpr void operator()(const T&)
    {
        Total += sizeof(T);
    }
};

template <class R>
constexpr std::size_t LayoutWidth()
{
    TWidthCounter counter;
    const R record{};
    R::Layout(counter, record);
    return counter.Total;
}

}  // namespace zipio

// Bytes must hold R::Size bytes.
template <class R>
R DecodeRecord(const std::uint8_t* Bytes)
{
    R record{};
    zipio::TLeDecoder decoder(Bytes);
    R::Layout(decoder, record);
    return record;
}

template <class R>
void EncodeRecord(const R& Record, std::uint8_t* Bytes)
{
    zipio::TLeEncoder encoder(Bytes);
    R::Layout(encoder, Record);
}

// Local file header; the name, the extra field and the member data follow.
struct TLocalHeader {
    static constexpr std::size_t Size = 30;
    std::uint32_t Signature = kSigLocal;
    std::uint16_t VersionNeeded = 20;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::uint32_t Crc = 0;
    std::uint32_t PackedSize = 0;  // includes the 12-byte encryption header
    std::uint32_t UnpackedSize = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.VersionNeeded), io(r.Flags), io(r.Method), io(r.DosTime), io(r.DosDate);
        io(r.Crc), io(r.PackedSize), io(r.UnpackedSize), io(r.NameLength), io(r.ExtraLength);
    }
};

// Central directory header; the name, the extra field and the entry comment follow.
struct TCentralHeader {
    static constexpr std::size_t Size = 46;
    std::uint32_t Signature = kSigCentral;
    std::uint16_t VersionMadeBy = 20;  // high byte: host system, 0 = MS-DOS
    std::uint16_t VersionNeeded = 20;
    std::uint16_t Flags = 0;
    std::uint16_t Method = 0;
    std::uint16_t DosTime = 0;
    std::uint16_t DosDate = 0;
    std::uint32_t Crc = 0;
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint16_t NameLength = 0;
    std::uint16_t ExtraLength = 0;
    std::uint16_t CommentLength = 0;
    std::uint16_t DiskStart = 0;
    std::uint16_t InternalAttributes = 0;
    std::uint32_t ExternalAttributes = 0;
    std::uint32_t LocalOffset = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.VersionMadeBy), io(r.VersionNeeded), io(r.Flags), io(r.Method);
        io(r.DosTime), io(r.DosDate), io(r.Crc), io(r.PackedSize), io(r.UnpackedSize);
        io(r.NameLength), io(r.ExtraLength), io(r.CommentLength), io(r.DiskStart);
        io(r.InternalAttributes), io(r.ExternalAttributes), io(r.LocalOffset);
    }
};

// End of the central directory; the archive comment follows.
struct TEndRecord {
    static constexpr std::size_t Size = 22;
    std::uint32_t Signature = kSigEnd;
    std::uint16_t DiskNumber = 0;
    std::uint16_t CentralDisk = 0;
    std::uint16_t EntriesOnDisk = 0;
    std::uint16_t TotalEntries = 0;
    std::uint32_t CentralSize = 0;
    std::uint32_t CentralOffset = 0;
    std::uint16_t CommentLength = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.DiskNumber), io(r.CentralDisk), io(r.EntriesOnDisk), io(r.TotalEntries);
        io(r.CentralSize), io(r.CentralOffset), io(r.CommentLength);
    }
};

// Our own end record for archives past 4 GiB or 65535 entries, written instead of TEndRecord.
struct TLargeEndRecord {
    static constexpr std::size_t Size = 46;
    std::uint32_t Signature = kSigLargeEnd;
    std::uint32_t DiskNumber = 0;
    std::uint32_t CentralDisk = 0;
    std::uint64_t EntriesOnDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralSize = 0;
    std::uint64_t CentralOffset = 0;
    std::uint16_t CommentLength = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.DiskNumber), io(r.CentralDisk), io(r.EntriesOnDisk), io(r.TotalEntries);
        io(r.CentralSize), io(r.CentralOffset), io(r.CommentLength);
    }
};

struct TZip64EndRecord {
    static constexpr std::size_t Size = 56;
    std::uint32_t Signature = kSigZip64End;
    std::uint64_t RecordSize = Size - 12;  // bytes after this field
    std::uint16_t VersionMadeBy = 45;
    std::uint16_t VersionNeeded = 45;
    std::uint32_t DiskNumber = 0;
    std::uint32_t CentralDisk = 0;
    std::uint64_t EntriesOnDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralSize = 0;
    std::uint64_t CentralOffset = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.RecordSize), io(r.VersionMadeBy), io(r.VersionNeeded), io(r.DiskNumber);
        io(r.CentralDisk), io(r.EntriesOnDisk), io(r.TotalEntries), io(r.CentralSize), io(r.CentralOffset);
    }
};

struct TZip64Locator {
    static constexpr std::size_t Size = 20;
    std::uint32_t Signature = kSigZip64Locator;
    std::uint32_t Zip64EndDisk = 0;
    std::uint64_t Zip64EndOffset = 0;
    std::uint32_t TotalDisks = 1;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.Zip64EndDisk), io(r.Zip64EndOffset), io(r.TotalDisks);
    }
};

// Data descriptor behind member data (flag bit 3), with its optional signature written.
struct TDataDescriptor {
    static constexpr std::size_t Size = 16;
    std::uint32_t Signature = kSigMarker;
    std::uint32_t Crc = 0;
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.Crc), io(r.PackedSize), io(r.UnpackedSize);
    }
};

// The data descriptor of a Zip64 member.
struct TDataDescriptor64 {
    static constexpr std::size_t Size = 24;
    std::uint32_t Signature = kSigMarker;
    std::uint32_t Crc = 0;
    std::uint64_t PackedSize = 0;
    std::uint64_t UnpackedSize = 0;

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Signature), io(r.Crc), io(r.PackedSize), io(r.UnpackedSize);
    }
};

inline constexpr std::uint16_t kExtraZip64 = 0x0001;
inline constexpr std::uint16_t kExtraNtfs = 0x000A;
inline constexpr std::uint16_t kExtraStrongEncryption = 0x0017;
inline constexpr std::uint16_t kExtraLargeSizes = 0x0064;
inline constexpr std::uint16_t kExtraUnixTime = 0x5455;
inline constexpr std::uint16_t kExtraUnicodePath = 0x7075;
inline constexpr std::uint16_t kExtraAes = 0x9901;

// Our own large-size block, header included: bits 32 to 47 of the sizes and the offset.
struct TLargeSizeExtra {
    static constexpr std::size_t Size = 12;
    std::uint16_t Id = kExtraLargeSizes;
    std::uint16_t DataSize = 8;
    std::uint16_t PackedHigh = 0;
    std::uint16_t UnpackedHigh = 0;
    std::uint16_t OffsetHigh = 0;
    std::uint16_t SourceOffsetHigh = 0;  // unused on reading; the splitter's source offset

    template <class IO, class R>
    static constexpr void Layout(IO& io, R& r)
    {
        io(r.Id), io(r.DataSize), io(r.PackedHigh), io(r.UnpackedHigh), io(r.OffsetHigh), io(r.SourceOffsetHigh);
    }
};

static_assert(zipio::LayoutWidth<TLocalHeader>() == TLocalHeader::Size);
static_assert(zipio::LayoutWidth<TCentralHeader>() == TCentralHeader::Size);
static_assert(zipio::LayoutWidth<TEndRecord>() == TEndRecord::Size);
static_assert(zipio::LayoutWidth<TLargeEndRecord>() == TLargeEndRecord::Size);
static_assert(zipio::LayoutWidth<TZip64EndRecord>() == TZip64EndRecord::Size);
static_assert(zipio::LayoutWidth<TZip64Locator>() == TZip64Locator::Size);
static_assert(zipio::LayoutWidth<TDataDescriptor>() == TDataDescriptor::Size);
static_assert(zipio::LayoutWidth<TDataDescriptor64>() == TDataDescriptor64::Size);
static_assert(zipio::LayoutWidth<TLargeSizeExtra>() == TLargeSizeExtra::Size);

// The large-size block a writer needs for these values, or nothing when they fit in 32 bits.
std::optional<TLargeSizeExtra> LargeSizeExtraFor(std::uint64_t PackedSize, std::uint64_t UnpackedSize,
                                                 std::uint64_t LocalOffset);

// Reads a data descriptor with or without its signature; Zip64 selects 8-byte sizes. Answers the
// bytes it took, 0 when Count is too short.
std::size_t DecodeDataDescriptor(const std::uint8_t* Bytes, std::size_t Count, bool Zip64, TDataDescriptor64& Out);

// Sizes and offset of an entry: first the 32-bit header fields, widened by the extra field.
struct TZipSizes {
    std::uint64_t PackedSize = 0;
    std::uint64_t UnpackedSize = 0;
    std::uint64_t LocalOffset = 0;  // central headers only
    std::uint32_t DiskStart = 0;    // central headers only
};

// What the extra field says beyond the sizes.
struct TZipExtraInfo {
    std::optional<std::string> UnicodeName;   // 0x7075 (version 1), UTF-8
    std::uint32_t UnicodeNameCrc = 0;         // of the stored name it stands for
    std::uint16_t EncryptionBlock = 0;        // the last 0x0017 or 0x9901 block, else 0
    std::optional<std::int64_t> UnixModTime;  // 0x5455, seconds since 1970 (UTC)
    std::optional<std::uint64_t> NtfsModTime, NtfsAccessTime, NtfsCreateTime;  // 0x000A, FILETIME
    bool HasZip64 = false;
    bool HasLargeSizes = false;
};

// Walks the extra field block by block, each bounded by its own stated size and by Count; a block
// that runs past the end is not interpreted. Zip64 values replace a field only where the header's
// 32-bit field holds 0xFFFFFFFF (0xFFFF for the disk).
void ParseExtraField(const std::uint8_t* Data, std::size_t Count, bool Central, TZipSizes& Sizes, TZipExtraInfo& Info);

// The 0x7075 block for a stored name and its UTF-8 form.
std::string UnicodePathExtra(std::string_view StoredName, std::string_view Utf8Name);

// The UTF-8 name of an entry, with "\" separators: the Unicode path block wins (the entry readers
// keep it only when its CRC is that of the stored name), then flag bit 11
// (UTF-8), then the host byte of version made by: 0 (MS-DOS) means OEM CP852; Unix and OS X names
// that are valid UTF-8 are taken as such; any other host means ANSI CP1250. A local header without
// a central one passes VersionMadeBy 0.
std::string DecodeZipEntryName(std::string_view Raw, std::uint16_t Flags, std::uint16_t VersionMadeBy,
                               const std::optional<std::string>& UnicodeName);
// The same into Name, whose storage a reader walking 100,000s of headers keeps.
void DecodeZipEntryName(std::string_view Raw, std::uint16_t Flags, std::uint16_t VersionMadeBy,
                        const std::optional<std::string>& UnicodeName, std::string& Name);

inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;

// A reader over bytes in memory (they must outlive it).
TReadAt MemoryZipReader(const std::uint8_t* Data, std::size_t Size);
class TStream;
// A reader over a stream (it must outlive the reader); moves the stream's position.
TReadAt StreamZipReader(TStream& Stream);

// One central directory entry as read (deciphered when its header was enciphered).
struct TZipEntry {
    std::int64_t HeaderPos = 0;
    TCentralHeader Header;
    bool HeaderEncrypted = false;
    std::string RawName;  // stored bytes
    std::string Name;     // DecodeZipEntryName
    std::string Extra;
    std::string Comment;
    TZipSizes Sizes;
    TZipExtraInfo ExtraInfo;
    std::int64_t NextPos = 0;  // the next central header
};

// Bytes read with a local header beyond its fixed part: most names and extra fields fit, so that
// a header costs one read, not two.
inline constexpr std::size_t kZipLocalLookahead = 256;

// One local header with its name and extra field. RawName and Extra view bytes the entry holds
// (deciphered): a walk reads 100,000s of headers into one entry without copying each name, so an
// entry is neither copied nor moved.
struct TZipLocalEntry {
    std::int64_t HeaderPos = 0;
    TLocalHeader Header;
    bool HeaderEncrypted = false;
    std::string_view RawName;
    std::string Name;
    std::string_view Extra;
    TZipSizes Sizes;
    TZipExtraInfo ExtraInfo;
    std::int64_t DataPos = 0;

    TZipLocalEntry() = default;
    TZipLocalEntry(const TZipLocalEntry&) = delete;
    TZipLocalEntry& operator=(const TZipLocalEntry&) = delete;

    // The header as read with its look-ahead, and the name and extra field when they did not fit.
    std::uint8_t Window[TLocalHeader::Size + kZipLocalLookahead];
    std::string Variable;
};

// False when no central header stands at Pos or its variable part runs past Size. Cipher is of
// the header key set and deciphers enciphered headers and names.
bool ReadCentralEntry(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher, TZipEntry& Entry);
// VersionMadeBy comes from the entry's central header when there is one (names are decoded by it).
// Without DecodeName, Name stays empty: a caller that compares raw names first decodes only on a
// difference.
bool ReadLocalEntry(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher, TZipLocalEntry& Entry,
                    std::uint16_t VersionMadeBy = 0, bool DecodeName = true);

// Where the archive's directory is, and the records that say so.
struct TZipEnding {
    std::int64_t EndPos = -1;  // the end record (22 or 46 bytes); -1 when none was found
    bool Large = false;        // the 46-byte record
    bool EndEncrypted = false;
    TEndRecord End;            // as read (Large: left default)
    TLargeEndRecord LargeEnd;  // as read (not Large: left default)
    std::int64_t CommentPos = -1;
    std::uint16_t CommentLength = 0;

    bool HasLocator = false;
    TZip64Locator Locator;
    std::int64_t Zip64EndPos = -1;  // -1 when no Zip64 end record was found
    TZip64EndRecord Zip64End;

    // Directory facts, 64-bit, from the Zip64 end record where there is one.
    std::uint32_t DiskNumber = 0;
    std::uint32_t CentralDisk = 0;
    std::uint64_t EntriesOnDisk = 0;
    std::uint64_t TotalEntries = 0;
    std::uint64_t CentralSize = 0;
    std::uint64_t CentralOffset = 0;

    std::int64_t CentralPos = -1;     // the first central header
    std::int64_t PrefixOffset = 0;    // stub before the archive; added to every stored offset
    std::int64_t FirstLocalPos = -1;  // local-header scan, or the first local header the directory names
    THeaderTypeState Headers = 0;
};

inline constexpr std::int64_t kZipEndScanBytes = 65535 + TLargeEndRecord::Size;
inline constexpr std::int64_t kZipLocalScanBlock = 32768;
inline constexpr int kZipLocalScanBlocks = 4;

// Locates the central directory. Answers the position of the first central header (for an empty
// archive, where its directory would start; for local headers only, the first local header), -1
// when there is none or the first local header the directory names lies beyond the end.
std::int64_t FindZipEnding(const TReadAt& Read, std::int64_t Size, TZipEnding& Ending);

// Walks the central directory from Ending.CentralPos until a record that is not a central header,
// the end of the archive, or OnEntry answering false. With a Block size the walk reads that many
// bytes at a time into a buffer of its own and parses the entries where they lie (the stream's
// own buffer keeps what the caller reads meanwhile); 0 reads each entry's parts as it needs them,
// as a reader across volumes must (it may not reach into the next volume early).
void WalkCentralDirectory(const TReadAt& Read, std::int64_t Size, const TZipEnding& Ending,
                          const std::function<bool(const TZipEntry&)>& OnEntry, std::size_t Block = 0);
