#include "core/ZipRecords.h"

#include "core/plxStreams.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "core/Crc.h"
#include "core/Endian.h"
#include "platform/win/AsciiRuns.h"
#include "platform/win/CodePage.h"
#include "platform/win/Utf8.h"

namespace {

constexpr std::uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr std::size_t kMaxUnicodeName = 511;

// Reads exactly Count bytes at Pos inside [0, Size).
bool ReadExact(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, void* Buffer, std::int64_t Count)
{
    if (Pos < 0 || Count < 0 || Pos > Size || Count > Size - Pos)
        return false;
    return Count == 0 || Read(Pos, Buffer, Count) == Count;
}

bool ReadString(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, std::size_t Count, std::string& Out)
{
    Out.assign(Count, '\0');
    return ReadExact(Read, Size, Pos, Out.data(), std::int64_t(Count));
}

std::optional<std::uint32_t> SignatureAt(const TReadAt& Read, std::int64_t Size, std::int64_t Pos)
{
    std::uint8_t sig[4];
    if (!ReadExact(Read, Size, Pos, sig, 4))
        return std::nullopt;
    return GetLE32(sig);
}

// Cuts a UTF-8 text to at most Max bytes without splitting a character.
std::string CutUtf8(std::string_view text, std::size_t max)
{
    if (text.size() <= max)
        return std::string(text);
    std::size_t n = max;
    while (n > 0 && (std::uint8_t(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

// Zip64 block: each value is there only when its header field is saturated.
void ParseZip64(const std::uint8_t* p, std::size_t n, bool central, TZipSizes& sizes)
{
    std::size_t at = 0;
    const auto take64 = [&](std::uint64_t& field) {
        if (field != kSaturated32)
            return;
        if (n - at < 8) {
            at = n;  // a short block supplies nothing further
            return;
        }
        field = GetLE64(p + at);
        at += 8;
    };
    take64(sizes.UnpackedSize);
    take64(sizes.PackedSize);
    if (!central)
        return;
    take64(sizes.LocalOffset);
    if (sizes.DiskStart == 0xFFFF && n - at >= 4)
        sizes.DiskStart = GetLE32(p + at);
}

void ParseLargeSizes(const std::uint8_t* p, std::size_t n, TZipSizes& sizes)
{
    if (n < 6)
        return;
    const auto widen = [](std::uint64_t& field, std::uint16_t high) {
        field = (field & kSaturated32) | std::uint64_t(high) << 32;
    };
    widen(sizes.PackedSize, GetLE16(p));
    widen(sizes.UnpackedSize, GetLE16(p + 2));
    widen(sizes.LocalOffset, GetLE16(p + 4));
}

void ParseUnixTime(const std::uint8_t* p, std::size_t n, TZipExtraInfo& info)
{
    if (n >= 5 && (p[0] & 1))
        info.UnixModTime = std::int32_t(GetLE32(p + 1));
}

// NTFS block: 4 reserved bytes, then tagged attributes; tag 1 holds the three file times.
void ParseNtfs(const std::uint8_t* p, std::size_t n, TZipExtraInfo& info)
{
    std::size_t at = 4;
    while (at <= n && n - at >= 4) {
        const std::uint16_t tag = GetLE16(p + at);
        const std::uint16_t size = GetLE16(p + at + 2);
        at += 4;
        if (size > n - at)
            return;
        if (tag == 1 && size >= 24) {
            info.NtfsModTime = GetLE64(p + at);
            info.NtfsAccessTime = GetLE64(p + at + 8);
            info.NtfsCreateTime = GetLE64(p + at + 16);
        }
        at += size;
    }
}

}  // namespace

std::optional<TLargeSizeExtra> LargeSizeExtraFor(std::uint64_t PackedSize, std::uint64_t UnpackedSize,
                                                 std::uint64_t LocalOffset)
{
    if (UnpackedSize >> 32 == 0 && LocalOffset >> 32 == 0 && PackedSize >> 32 == 0)
        return std::nullopt;
    TLargeSizeExtra block;
    block.PackedHigh = std::uint16_t(PackedSize >> 32);
    block.UnpackedHigh = std::uint16_t(UnpackedSize >> 32);
    block.OffsetHigh = std::uint16_t(LocalOffset >> 32);
    return block;
}

std::size_t DecodeDataDescriptor(const std::uint8_t* Bytes, std::size_t Count, bool Zip64, TDataDescriptor64& Out)
{
    const bool hasSignature = Count >= 4 && GetLE32(Bytes) == kSigMarker;
    const std::size_t body = Zip64 ? 20 : 12;
    const std::size_t total = body + (hasSignature ? 4 : 0);
    if (Count < total)
        return 0;
    const std::uint8_t* p = Bytes + (hasSignature ? 4 : 0);
    Out = TDataDescriptor64{};
    Out.Signature = hasSignature ? kSigMarker : 0;
    Out.Crc = GetLE32(p);
    Out.PackedSize = Zip64 ? GetLE64(p + 4) : GetLE32(p + 4);
    Out.UnpackedSize = Zip64 ? GetLE64(p + 12) : GetLE32(p + 8);
    return total;
}

void ParseExtraField(const std::uint8_t* Data, std::size_t Count, bool Central, TZipSizes& Sizes, TZipExtraInfo& Info)
{
    std::size_t at = 0;
    while (Count - at >= 4) {
        const std::uint16_t id = GetLE16(Data + at);
        const std::uint16_t size = GetLE16(Data + at + 2);
        at += 4;
        if (size > Count - at)
            return;
        const std::uint8_t* p = Data + at;
        switch (id) {
        case kExtraZip64:
            Info.HasZip64 = true;
            ParseZip64(p, size, Central, Sizes);
            break;
        case kExtraLargeSizes:
            Info.HasLargeSizes = true;
            ParseLargeSizes(p, size, Sizes);
            break;
        case kExtraUnicodePath:
            if (size > 5 && p[0] == 1) {
                Info.UnicodeName =
                    CutUtf8(std::string_view(reinterpret_cast<const char*>(p + 5), size - 5u), kMaxUnicodeName);
                Info.UnicodeNameCrc = GetLE32(p + 1);
            }
            break;
        case kExtraUnixTime:
            ParseUnixTime(p, size, Info);
            break;
        case kExtraNtfs:
            ParseNtfs(p, size, Info);
            break;
        case kExtraStrongEncryption:
        case kExtraAes:
            Info.EncryptionBlock = id;
            break;
        default:
            break;
        }
        at += size;
    }
}

namespace {

// The end record's facts, whichever of the two end records holds them.
template <class Record>
void TakeEndFields(TZipEnding& e, const Record& r)
{
    e.CommentLength = r.CommentLength;
    e.DiskNumber = r.DiskNumber;
    e.CentralDisk = r.CentralDisk;
    e.EntriesOnDisk = r.EntriesOnDisk;
    e.TotalEntries = r.TotalEntries;
    e.CentralSize = r.CentralSize;
    e.CentralOffset = r.CentralOffset;
}

constexpr std::uint8_t kHostMsDos = 0;
constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint8_t kHostOsX = 19;

bool IsValidUtf8(std::string_view text)
{
    return win::IsValidUtf8(text);
}

// Bad sequences become U+FFFD, so that no invalid UTF-8 gets into the program's strings.
std::string SanitizedUtf8(std::string_view text)
{
    return win::IsValidUtf8(text) ? std::string(text) : win::EncodeUtf8(win::DecodeUtf8(text));
}

}  // namespace

namespace {

// Plain ASCII reads the same in both code pages and as UTF-8: such a name is copied with its
// separators turned in one pass. False, Name left to be overwritten, for any other.
bool TakeAsciiName(std::string_view Raw, std::string& Name)
{
    Name.resize(Raw.size());
    return win::CopyAsciiReplacing(Raw.data(), Raw.size(), Name.data(), '/', '\\') == Raw.size();
}

}  // namespace

std::string UnicodePathExtra(std::string_view StoredName, std::string_view Utf8Name)
{
    const std::size_t size = 5 + Utf8Name.size();
    std::uint8_t head[9];
    PutLE16(head, kExtraUnicodePath);
    PutLE16(head + 2, std::uint16_t(size));
    head[4] = 1;  // version
    PutLE32(head + 5, Crc32Of(StoredName.data(), std::int64_t(StoredName.size())));
    return std::string(reinterpret_cast<const char*>(head), sizeof head).append(Utf8Name);
}

std::string DecodeZipEntryName(std::string_view Raw, std::uint16_t Flags, std::uint16_t VersionMadeBy,
                               const std::optional<std::string>& UnicodeName)
{
    std::string name;
    DecodeZipEntryName(Raw, Flags, VersionMadeBy, UnicodeName, name);
    return name;
}

void DecodeZipEntryName(std::string_view Raw, std::uint16_t Flags, std::uint16_t VersionMadeBy,
                        const std::optional<std::string>& UnicodeName, std::string& name)
{
    const std::uint8_t host = std::uint8_t(VersionMadeBy >> 8);
    if (UnicodeName)
        name = SanitizedUtf8(*UnicodeName);
    else if (TakeAsciiName(Raw, name))
        return;
    else if (Flags & kFlagUtf8)
        name = SanitizedUtf8(Raw);
    else if (host == kHostMsDos)
        name = win::OemToUtf8(Raw);
    else if ((host == kHostUnix || host == kHostOsX) && IsValidUtf8(Raw))
        name.assign(Raw);  // those systems' tools store their own UTF-8 names without the flag
    else
        name = win::AnsiToUtf8(Raw);
    win::ReplaceByte(name.data(), name.size(), '/', '\\');
}

TReadAt MemoryZipReader(const std::uint8_t* Data, std::size_t Size)
{
    return [Data, Size](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || count <= 0 || std::uint64_t(offset) >= Size)
            return 0;
        const std::size_t n = std::min<std::size_t>(std::size_t(count), Size - std::size_t(offset));
        std::memcpy(buffer, Data + offset, n);
        return std::int64_t(n);
    };
}

TReadAt StreamZipReader(TStream& Stream)
{
    return [&Stream](std::int64_t offset, void* buffer, std::int64_t count) -> std::int64_t {
        if (offset < 0 || count <= 0 || Stream.Seek64(offset, soBeginning) != offset)
            return 0;
        auto* out = static_cast<std::uint8_t*>(buffer);
        std::int64_t done = 0;
        while (done < count) {
            const auto chunk = static_cast<std::int32_t>(std::min<std::int64_t>(count - done, 1 << 30));
            const std::int32_t got = Stream.Read(out + done, chunk);
            if (got <= 0)
                break;
            done += got;
        }
        return done;
    };
}

namespace {

// A Unicode path block stands for the stored name it was made with; a tool that renamed the entry
// without knowing the block left it stale.
void DropStaleUnicodeName(std::string_view RawName, TZipExtraInfo& Info)
{
    if (Info.UnicodeName && Info.UnicodeNameCrc != Crc32Of(RawName.data(), std::int64_t(RawName.size())))
        Info.UnicodeName.reset();
}

// The fixed record, name and extra field that both headers begin with; At ends behind the extra
// field. A header of the other kind or one cut short answers false. Lookahead bytes after the
// fixed part are read with it where Size has them; only a reader of one stream may ask for them
// (a walk across volumes must not reach into the next one before it needs to).
// The name and extra field, Count bytes at Bytes, become the entry's: copied into a directory
// entry's strings, viewed where a local entry holds them.
void TakeVariable(TZipEntry& Entry, char* Bytes, std::size_t NameLength, std::size_t ExtraLength)
{
    if (Bytes == Entry.RawName.data()) {
        Entry.Extra.assign(Entry.RawName, NameLength);
        Entry.RawName.resize(NameLength);
        return;
    }
    Entry.RawName.assign(Bytes, NameLength);
    Entry.Extra.assign(Bytes + NameLength, ExtraLength);
}

void TakeVariable(TZipLocalEntry& Entry, char* Bytes, std::size_t NameLength, std::size_t ExtraLength)
{
    Entry.RawName = std::string_view(Bytes, NameLength);
    Entry.Extra = std::string_view(Bytes + NameLength, ExtraLength);
}

// Where a name and extra field that did not come with the fixed part are read to.
std::string& VariableBuffer(TZipEntry& Entry)
{
    return Entry.RawName;
}

std::string& VariableBuffer(TZipLocalEntry& Entry)
{
    return Entry.Variable;
}

// As a fresh TZipExtraInfo, without building one and moving it in.
void ClearExtraInfo(TZipExtraInfo& Info)
{
    Info.UnicodeName.reset();
    Info.UnicodeNameCrc = 0;
    Info.EncryptionBlock = 0;
    Info.UnixModTime.reset();
    Info.NtfsModTime.reset();
    Info.NtfsAccessTime.reset();
    Info.NtfsCreateTime.reset();
    Info.HasZip64 = false;
    Info.HasLargeSizes = false;
}

// The fixed record at Raw, deciphered in place when it was enciphered, becomes the entry's header;
// a header of the other kind answers false.
template <class TEntry>
bool TakeHeader(std::uint8_t* Raw, TZipCipher& Cipher, THeaderKind Kind, std::int64_t Pos, TEntry& Entry)
{
    // The usual signature told without the table of all the others.
    const std::uint32_t signature = GetLE32(Raw);
    bool encrypted = false;
    if (signature != (Kind == hkCentral ? kSigCentral : kSigLocal) &&
        ClassifyHeaderSig(signature, Kind, encrypted) != Kind)
        return false;
    if (encrypted)
        DecryptHeader(Cipher, Raw, Kind);
    // Field by field, so that the strings keep their buffers: walks read thousands of headers
    // into one entry. The callers set the fields after the extra field; a directory entry's name
    // is always decoded over the last one, which keeps its length when the names are alike.
    if constexpr (std::is_same_v<TEntry, TZipLocalEntry>)
        Entry.Name.clear();
    Entry.Sizes = TZipSizes{};
    ClearExtraInfo(Entry.ExtraInfo);
    Entry.HeaderPos = Pos;
    Entry.Header = DecodeRecord<decltype(Entry.Header)>(Raw);
    Entry.HeaderEncrypted = encrypted;
    return true;
}

template <class TEntry, std::size_t Lookahead = 0>
bool ReadHeaderStart(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher, THeaderKind Kind,
                     TEntry& Entry, std::int64_t& At)
{
    using THeader = decltype(Entry.Header);
    std::uint8_t ownRaw[THeader::Size + Lookahead];
    std::uint8_t* raw = ownRaw;
    if constexpr (std::is_same_v<TEntry, TZipLocalEntry>) {
        static_assert(sizeof Entry.Window == sizeof ownRaw);
        raw = Entry.Window;
    }
    std::int64_t have = std::int64_t(THeader::Size);
    if (Lookahead > 0 && Pos >= 0 && Pos <= Size && Size - Pos > have)
        have = std::min<std::int64_t>(Size - Pos, std::int64_t(sizeof ownRaw));
    if (have > std::int64_t(THeader::Size)) {
        have = Read(Pos, raw, have);
        if (have < std::int64_t(THeader::Size))
            return false;
    } else if (!ReadExact(Read, Size, Pos, raw, std::int64_t(THeader::Size))) {
        return false;
    }
    if (!TakeHeader(raw, Cipher, Kind, Pos, Entry))
        return false;
    const bool encrypted = Entry.HeaderEncrypted;
    const THeader& h = Entry.Header;
    At = Pos + std::int64_t(THeader::Size);
    const std::int64_t variable = std::int64_t(h.NameLength) + h.ExtraLength;
    char* bytes = reinterpret_cast<char*>(raw) + THeader::Size;
    if (variable > have - std::int64_t(THeader::Size) || At + variable > Size) {
        // Name and extra field in one read.
        std::string& buffer = VariableBuffer(Entry);
        if (!ReadString(Read, Size, At, std::size_t(variable), buffer))
            return false;
        bytes = buffer.data();
    }
    if (encrypted)
        DecryptHeaderBuffer(Cipher, bytes, h.NameLength);
    TakeVariable(Entry, bytes, h.NameLength, h.ExtraLength);
    At += variable;
    return true;
}

}  // namespace

namespace {

// What a directory entry's header, name, extra field and comment say; At is where the comment
// begins.
void FinishCentralEntry(TZipEntry& Entry, std::int64_t At)
{
    const TCentralHeader& h = Entry.Header;
    Entry.NextPos = At + h.CommentLength;
    Entry.Sizes = {h.PackedSize, h.UnpackedSize, h.LocalOffset, h.DiskStart};
    ParseExtraField(reinterpret_cast<const std::uint8_t*>(Entry.Extra.data()), Entry.Extra.size(), true, Entry.Sizes,
                    Entry.ExtraInfo);
    DropStaleUnicodeName(Entry.RawName, Entry.ExtraInfo);
    DecodeZipEntryName(Entry.RawName, h.Flags, h.VersionMadeBy, Entry.ExtraInfo.UnicodeName, Entry.Name);
}

// Bytes of the file read a block at a time, for a walk that parses each record where it lies.
class TReadBlock {
public:
    TReadBlock(const TReadAt& Read, std::int64_t Size, std::size_t Capacity)
        : FRead(Read), FSize(Size), FBytes(Capacity)
    {}

    // The Count bytes at At, read with those after them when they are not at hand; null when
    // they lie past the end, cannot be read, or do not fit a block.
    const std::uint8_t* View(std::int64_t At, std::size_t Count)
    {
        if (At < 0 || At > FSize || std::int64_t(Count) > FSize - At)
            return nullptr;
        if (At >= FStart && At + std::int64_t(Count) <= FStart + FHave)
            return FBytes.data() + (At - FStart);
        if (Count > FBytes.size())
            return nullptr;
        FStart = At;
        FHave = std::max<std::int64_t>(
            FRead(At, FBytes.data(), std::min<std::int64_t>(std::int64_t(FBytes.size()), FSize - At)), 0);
        return FHave >= std::int64_t(Count) ? FBytes.data() : nullptr;
    }

private:
    const TReadAt& FRead;
    std::int64_t FSize;
    std::vector<std::uint8_t> FBytes;
    std::int64_t FStart = 0;
    std::int64_t FHave = 0;
};

// ReadCentralEntry over the walk's block: no read, and no copy but into the entry's strings, for
// the entries that lie in it.
bool ReadCentralEntry(TReadBlock& Block, const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher,
                      TZipEntry& Entry)
{
    const std::uint8_t* p = Block.View(Pos, TCentralHeader::Size);
    if (p == nullptr)
        return ReadCentralEntry(Read, Size, Pos, Cipher, Entry);
    std::uint8_t raw[TCentralHeader::Size];
    std::memcpy(raw, p, sizeof raw);
    if (!TakeHeader(raw, Cipher, hkCentral, Pos, Entry))
        return false;
    const TCentralHeader& h = Entry.Header;
    const std::size_t variable = std::size_t(h.NameLength) + h.ExtraLength;
    p = Block.View(Pos, TCentralHeader::Size + variable + h.CommentLength);
    if (p == nullptr)
        return ReadCentralEntry(Read, Size, Pos, Cipher, Entry);
    const char* bytes = reinterpret_cast<const char*>(p) + TCentralHeader::Size;
    // Cleared and appended rather than assigned: no check for bytes of the string itself, which
    // costs more than copying a short name.
    Entry.RawName.clear();
    Entry.RawName.append(bytes, h.NameLength);
    Entry.Extra.clear();
    Entry.Extra.append(bytes + h.NameLength, h.ExtraLength);
    if (h.CommentLength == 0)
        Entry.Comment.clear();
    else
        Entry.Comment.assign(bytes + variable, h.CommentLength);
    if (Entry.HeaderEncrypted)
        DecryptHeaderBuffer(Cipher, Entry.RawName.data(), h.NameLength);
    FinishCentralEntry(Entry, Pos + std::int64_t(TCentralHeader::Size + variable));
    return true;
}

}  // namespace

bool ReadCentralEntry(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher, TZipEntry& Entry)
{
    std::int64_t at = 0;
    if (!ReadHeaderStart(Read, Size, Pos, Cipher, hkCentral, Entry, at))
        return false;
    const TCentralHeader& h = Entry.Header;
    // Most entries have no comment: no read to find that out.
    if (h.CommentLength == 0)
        Entry.Comment.clear();
    else if (!ReadString(Read, Size, at, h.CommentLength, Entry.Comment))
        return false;
    FinishCentralEntry(Entry, at);
    return true;
}

bool ReadLocalEntry(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, TZipCipher& Cipher, TZipLocalEntry& Entry,
                    std::uint16_t VersionMadeBy, bool DecodeName)
{
    std::int64_t at = 0;
    if (!ReadHeaderStart<TZipLocalEntry, kZipLocalLookahead>(Read, Size, Pos, Cipher, hkLocal, Entry, at))
        return false;
    const TLocalHeader& h = Entry.Header;
    Entry.DataPos = at;
    Entry.Sizes = {h.PackedSize, h.UnpackedSize, 0, 0};
    ParseExtraField(reinterpret_cast<const std::uint8_t*>(Entry.Extra.data()), Entry.Extra.size(), false, Entry.Sizes,
                    Entry.ExtraInfo);
    DropStaleUnicodeName(Entry.RawName, Entry.ExtraInfo);
    if (DecodeName)
        DecodeZipEntryName(Entry.RawName, h.Flags, VersionMadeBy, Entry.ExtraInfo.UnicodeName, Entry.Name);
    return true;
}

namespace {

// One end-record candidate, judged by whether its directory is where it says and whether its
// comment ends the file.
struct TCandidate {
    TZipEnding Ending;
    bool DirectoryFound = false;
    bool EndsFile = false;
    std::int64_t CommentEnd = 0;
    int Score() const { return (DirectoryFound ? 2 : 0) + (EndsFile ? 1 : 0); }
};

void TakeZip64Records(const TReadAt& Read, std::int64_t Size, TZipEnding& e)
{
    std::uint8_t raw[TZip64EndRecord::Size];
    const std::int64_t locatorPos = e.EndPos - std::int64_t(TZip64Locator::Size);
    if (locatorPos < 0 || !ReadExact(Read, Size, locatorPos, raw, TZip64Locator::Size) ||
        GetLE32(raw) != kSigZip64Locator)
        return;
    e.HasLocator = true;
    e.Headers |= HeaderBit(htLocator);
    e.Locator = DecodeRecord<TZip64Locator>(raw);
    // Right before the locator as a rule; a record with extensible data stands where the locator
    // says (relative to the archive start, which a stub may move).
    const std::int64_t before = locatorPos - std::int64_t(TZip64EndRecord::Size);
    std::int64_t places[2] = {before, -1};
    if (e.Locator.Zip64EndOffset <= std::uint64_t(locatorPos))
        places[1] = std::int64_t(e.Locator.Zip64EndOffset);
    for (std::int64_t at : places) {
        if (at < 0 || !ReadExact(Read, Size, at, raw, sizeof raw) || GetLE32(raw) != kSigZip64End)
            continue;
        e.Zip64EndPos = at;
        e.Zip64End = DecodeRecord<TZip64EndRecord>(raw);
        e.Headers |= HeaderBit(htEnding64);
        return;
    }
}

// Decodes the end record at Pos (Bytes hold what the file has from there on, at most Avail) and
// finds the directory it describes.
bool EvaluateEnd(const TReadAt& Read, std::int64_t Size, std::int64_t Pos, const std::uint8_t* Bytes, std::size_t Avail,
                 TZipCipher& Cipher, TCandidate& c)
{
    bool encrypted = false;
    if (ClassifyHeaderSig(GetLE32(Bytes), hkEnd, encrypted) != hkEnd)
        return false;
    const std::uint32_t sig = GetLE32(Bytes);
    const bool large = sig == kSigLargeEnd || sig == kSigLargeEndEnc;
    const std::size_t recordSize = large ? TLargeEndRecord::Size : TEndRecord::Size;
    if (Avail < recordSize)
        return false;
    std::uint8_t raw[TLargeEndRecord::Size];
    std::memcpy(raw, Bytes, recordSize);
    if (encrypted)
        DecryptHeader(Cipher, raw, hkEnd);

    TZipEnding& e = c.Ending;
    e = TZipEnding{};
    e.EndPos = Pos;
    e.Large = large;
    e.EndEncrypted = encrypted;
    e.Headers = HeaderBit(htEnding);
    if (large) {
        e.LargeEnd = DecodeRecord<TLargeEndRecord>(raw);
        TakeEndFields(e, e.LargeEnd);
    } else {
        e.End = DecodeRecord<TEndRecord>(raw);
        TakeEndFields(e, e.End);
    }
    e.CommentPos = Pos + std::int64_t(recordSize);
    c.CommentEnd = e.CommentPos + e.CommentLength;
    c.EndsFile = c.CommentEnd == Size;

    TakeZip64Records(Read, Size, e);
    std::int64_t directoryEnd = e.EndPos;
    if (e.Zip64EndPos >= 0) {
        directoryEnd = e.Zip64EndPos;
        e.DiskNumber = e.Zip64End.DiskNumber;
        e.CentralDisk = e.Zip64End.CentralDisk;
        e.EntriesOnDisk = e.Zip64End.EntriesOnDisk;
        e.TotalEntries = e.Zip64End.TotalEntries;
        e.CentralSize = e.Zip64End.CentralSize;
        e.CentralOffset = e.Zip64End.CentralOffset;
    } else if (e.HasLocator) {
        directoryEnd -= std::int64_t(TZip64Locator::Size);
    }

    // The directory ends where the records behind it begin; where it stands against its stored
    // offset tells the size of a stub before the archive.
    const auto isCentral = [&](std::int64_t at) {
        const auto s = SignatureAt(Read, Size, at);
        return s && IsCentralHeaderSig(*s);
    };
    if (e.CentralSize <= std::uint64_t(directoryEnd)) {
        const std::int64_t at = directoryEnd - std::int64_t(e.CentralSize);
        if (isCentral(at)) {
            e.CentralPos = at;
            // Negative when bytes before the directory's stored offset are missing.
            e.PrefixOffset = e.CentralOffset > std::uint64_t(Size) ? 0 : at - std::int64_t(e.CentralOffset);
        }
    }
    if (e.CentralPos < 0 && e.CentralOffset < std::uint64_t(Size) && isCentral(std::int64_t(e.CentralOffset)))
        e.CentralPos = std::int64_t(e.CentralOffset);
    if (e.CentralPos < 0 && e.TotalEntries == 0 && e.CentralSize == 0 &&
        e.CentralOffset == std::uint64_t(directoryEnd)) {
        e.CentralPos = directoryEnd;  // an empty archive: nothing to walk
        c.DirectoryFound = true;
        return true;
    }
    if (e.CentralPos >= 0) {
        e.Headers |= HeaderBit(htCentral);
        c.DirectoryFound = true;
    }
    return true;
}

// The first bytes of the file where a local header stands, within the first blocks.
std::int64_t ScanForLocalHeader(const TReadAt& Read, std::int64_t Size)
{
    const std::int64_t limit = std::min<std::int64_t>(Size, kZipLocalScanBlock * kZipLocalScanBlocks);
    std::vector<std::uint8_t> buf(std::size_t(std::min<std::int64_t>(limit + 3, Size)));
    if (buf.empty() || !ReadExact(Read, Size, 0, buf.data(), std::int64_t(buf.size())))
        return -1;
    for (std::size_t i = 0; i + 4 <= buf.size() && std::int64_t(i) < limit; ++i)
        if (buf[i] == 'P' && IsLocalHeaderSig(GetLE32(&buf[i])))
            return std::int64_t(i);
    return -1;
}

}  // namespace

std::int64_t FindZipEnding(const TReadAt& Read, std::int64_t Size, TZipEnding& Ending)
{
    Ending = TZipEnding{};
    if (Size < 4)
        return -1;
    const std::int64_t tailLength = std::min(Size, kZipEndScanBytes);
    const std::int64_t tailStart = Size - tailLength;
    std::vector<std::uint8_t> tail(std::size_t(tailLength), 0);
    if (!ReadExact(Read, Size, tailStart, tail.data(), tailLength))
        return -1;

    TZipCipher cipher(kHeaderKeySet);
    std::optional<TCandidate> best;
    TCandidate candidate;
    // Backwards, so that of equally good records the last in the file counts; an earlier one wins
    // only by a better score or when the later one lies inside its comment.
    for (std::size_t i = tail.size() - 4 + 1; i-- > 0;) {
        if (tail[i] != 'P' || !IsEndRecordSig(GetLE32(&tail[i])))
            continue;
        const std::int64_t pos = tailStart + std::int64_t(i);
        if (!EvaluateEnd(Read, Size, pos, &tail[i], tail.size() - i, cipher, candidate))
            continue;
        if (!best || candidate.Score() > best->Score() ||
            (candidate.Score() == best->Score() && best->Ending.EndPos < candidate.CommentEnd))
            best = candidate;
    }

    if (best) {
        Ending = best->Ending;
        if (best->DirectoryFound && Ending.TotalEntries == 0 && !(Ending.Headers & HeaderBit(htCentral)))
            return Ending.CentralPos;  // empty archive
    }
    if (Ending.CentralPos >= 0) {
        TZipEntry first;
        if (ReadCentralEntry(Read, Size, Ending.CentralPos, cipher, first)) {
            const std::int64_t local = Ending.PrefixOffset + std::int64_t(first.Sizes.LocalOffset);
            if (first.Sizes.LocalOffset > std::uint64_t(Size) || local < 0 ||
                local + std::int64_t(TLocalHeader::Size) > Size)
                return -1;
            Ending.FirstLocalPos = local;
            const auto s = SignatureAt(Read, Size, local);
            if (s && IsLocalHeaderSig(*s))
                Ending.Headers |= HeaderBit(htLocal);
        }
        return Ending.CentralPos;
    }

    const std::int64_t local = ScanForLocalHeader(Read, Size);
    if (local < 0)
        return -1;
    Ending.CentralPos = -1;
    Ending.FirstLocalPos = local;
    Ending.Headers = HeaderBit(htLocal);
    return local;
}

void WalkCentralDirectory(const TReadAt& Read, std::int64_t Size, const TZipEnding& Ending,
                          const std::function<bool(const TZipEntry&)>& OnEntry, std::size_t Block)
{
    if (!(Ending.Headers & HeaderBit(htCentral)) || Ending.CentralPos < 0)
        return;
    TZipCipher cipher(kHeaderKeySet);
    TZipEntry entry;
    std::int64_t pos = Ending.CentralPos;
    std::optional<TReadBlock> block;
    if (Block > 0)
        block.emplace(Read, Size, Block);
    // NextPos is always beyond the 46-byte header, so the walk moves forward.
    for (; block ? ReadCentralEntry(*block, Read, Size, pos, cipher, entry)
                 : ReadCentralEntry(Read, Size, pos, cipher, entry);
         pos = entry.NextPos)
        if (!OnEntry(entry))
            return;
}
