// The ZIP writer's hooks into the compress driver, the archive ending and comment editing.
#include "writers/plxZip.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxRegister.h"
#include "platform/win/SysDates.h"
#include "platform/win/Time.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kRecordSize = TCentralHeader::Size + 16;  // central header, then the 64-bit sizes
constexpr std::uint64_t k32 = 0xFFFFFFFFull;
constexpr std::uint16_t kMadeByDos = 20;
constexpr std::uint16_t kMadeByUnicode = 0x0B14;
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::size_t kZip64LocalExtraSize = 20;  // both sizes, as a local header must carry them

// A Zip64 block with each value that its 32-bit field cannot hold; that field becomes the mark.
std::string Zip64Extra(std::initializer_list<std::pair<std::uint32_t*, std::uint64_t>> Fields)
{
    std::string values;
    for (const auto& [field, value] : Fields) {
        if (value < k32)
            continue;
        *field = std::uint32_t(k32);
        std::uint8_t v[8];
        PutLE64(v, value);
        values.append(reinterpret_cast<const char*>(v), sizeof v);
    }
    if (values.empty())
        return values;
    std::uint8_t head[4];
    PutLE16(head, kExtraZip64);
    PutLE16(head + 2, std::uint16_t(values.size()));
    return std::string(reinterpret_cast<const char*>(head), sizeof head) + values;
}

void PutRecord(TCompressFileInfo& Item, const TCentralHeader& Header, std::uint64_t Unpacked, std::uint64_t Packed)
{
    Item.Header.resize(kRecordSize);
    EncodeRecord(Header, Item.Header.data());
    PutLE64(&Item.Header[TCentralHeader::Size], Unpacked);
    PutLE64(&Item.Header[TCentralHeader::Size + 8], Packed);
}

template <class R>
std::string Bytes(const R& Record)
{
    std::string out(R::Size, '\0');
    EncodeRecord(Record, reinterpret_cast<std::uint8_t*>(out.data()));
    return out;
}

bool IsUpdatableType(TArcType t)
{
    return t == atZip || t == atZipExe || t == atJar || t == atJarExe;
}

// Our own block and the Zip64 block describe sizes and offsets that change with the copy; the
// ending writes them again from the entry's 64-bit values.
std::string WithoutSizeBlocks(const std::vector<std::uint8_t>& Extra)
{
    std::string out;
    std::size_t at = 0;
    while (Extra.size() - at >= 4) {
        const std::uint16_t id = GetLE16(&Extra[at]);
        const std::size_t size = std::size_t(GetLE16(&Extra[at + 2]));
        if (size > Extra.size() - at - 4)
            break;
        if (id != kExtraZip64 && id != kExtraLargeSizes)
            out.append(reinterpret_cast<const char*>(&Extra[at]), 4 + size);
        at += 4 + size;
    }
    out.append(reinterpret_cast<const char*>(Extra.data()) + at, Extra.size() - at);
    return out;
}

}  // namespace

TCentralHeader ZipCentralOf(const TCompressFileInfo& Item)
{
    if (Item.Header.size() < TCentralHeader::Size)
        return TCentralHeader{};
    return DecodeRecord<TCentralHeader>(Item.Header.data());
}

std::uint64_t ZipUnpackedOf(const TCompressFileInfo& Item)
{
    return Item.Header.size() >= kRecordSize ? GetLE64(&Item.Header[TCentralHeader::Size]) : 0;
}

std::uint64_t ZipPackedOf(const TCompressFileInfo& Item)
{
    return Item.Header.size() >= kRecordSize ? GetLE64(&Item.Header[TCentralHeader::Size + 8]) : 0;
}

// --- construction and type ---

TZipBase::TZipBase(TObject* AOwner) : TCompBase(AOwner)
{
    FArcType = atZip;
    FClassDefaultExt = ".zip";
    SetDefaultExt("");
    CompressMethod.Restrict({cmStore, cmDeflate, cmBz2, cmPPMDi}, cmDeflate);
    SetEncryptionMethod(emNone);
    EncryptHeaders = false;
}

void TZipBase::SetArcType(TArcType)
{
    FArcType = FOwnType;
    AddDefaultExt();
}

TArcType TZipBase::GetArcType(TStream32& Stream)
{
    const TArcType type = TCompBase::GetArcType(Stream);
    if (type != atZipExe && type != atJarExe)
        return type;
    // The stub is everything before the first entry, whatever the executable's own header says.
    const TReadAt read = StreamZipReader(Stream);
    const std::int64_t size = Stream.Size();
    TZipEnding ending;
    FindZipEnding(read, size, ending);
    std::int64_t first = ending.FirstLocalPos >= 0 ? ending.FirstLocalPos : 0;
    WalkCentralDirectory(read, size, ending, [&](const TZipEntry& e) {
        first = std::min(first, ending.PrefixOffset + std::int64_t(e.Sizes.LocalOffset));
        return true;
    });
    first = std::clamp<std::int64_t>(first, 0, size);
    StubSize = std::uint32_t(std::min<std::int64_t>(first, UINT32_MAX));
    ArchiveOffset = first;
    Stream.SetPosition(0);
    return type;
}

int TZipBase::Compress()
{
    FOldComment.clear();
    FOldEnding = TZipEnding{};
    FCommentedByName.reset();
    ClearRetired();
    const int result = TCompBase::Compress();
    FCommentedByName.reset();
    ClearRetired();
    return result;
}

void TZipBase::ClearRetired()
{
    FRetiredDirectory.clear();
    FRetiredDirectory.shrink_to_fit();
    FRetiredRecords = FRetiredSize = 0;
}

void TZipBase::RetireEntries(TCompressHeaderObj& EntryList, std::uint32_t Count)
{
    // Offsets, sizes and names are final once an entry is written, so its record is too.
    std::uint64_t written = 0;
    FRetiredSize += EmitDirectory(
        EntryList, written, {}, [this](const std::string& Block) { FRetiredDirectory.push_back(Block); }, Count);
    FRetiredRecords += written;
}

std::string TZipBase::EncodeName(const std::string& StoredName, bool& Utf8) const
{
    const std::string unix = ToUnixSeparators(StoredName);
    if (TranslateOemChar) {
        Utf8 = std::any_of(unix.begin(), unix.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        return unix;
    }
    Utf8 = !IsOemSafeName(unix);
    if (Utf8)
        return unix;
    std::string oem;
    AnsiToOemName(0, oem, unix);
    return oem;
}

bool TZipBase::NeedsLargeEnd(std::int64_t CentralOffset, std::uint64_t ListCount)
{
    return std::uint64_t(CentralOffset) >= k32 || ListCount >= 0xFFFF;
}

// --- one new entry ---

void TZipBase::CompressFile(TStream32& Output, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    CurrentItem = &item;
    if (item.Encryption != emNone)
        item.Encryption = emZip_V2;
    if (FOwnType == atJar && CompressMethod != cmStore)
        CompressMethod = cmDeflate;
    InitHeader();
    TCompBase::CompressFile(Output, Index, Ok, EntryList);
    if (!Ok || !item.HeaderEnciphered)
        return;
    // The header and the name went out plain; now that they are final, encipher them in place.
    TCompressFileInfo& done = EntryList.GetItem(std::uint32_t(Index));
    std::uint8_t header[TLocalHeader::Size];
    std::memcpy(header, FHead, sizeof header);
    const std::uint32_t sig = kSigLocalEnc;
    for (int i = 0; i < 4; ++i)
        header[i] = std::uint8_t(sig >> (8 * i));
    std::string name = done.SavedHeader;
    EncryptHeader(HeaderCipher, header, hkLocal);
    EncryptHeaderBuffer(HeaderCipher, name.data(), name.size());
    Output.Seek64(done.Offset, soBeginning);
    Output.WriteBuffer(header, sizeof header);
    if (!name.empty())
        Output.WriteBuffer(name.data(), std::int32_t(name.size()));
    Output.Seek64(0, soEnd);
}

void TZipBase::InitHeader()
{
    std::memset(FHead, 0, sizeof FHead);
    TLocalHeader h;
    h.Signature = kSigLocal;
    h.VersionNeeded = 20;
    std::uint32_t dos = 0;
    std::uint64_t unpacked = 0;
    if (CurrentItem) {
        const TCentralHeader c = ZipCentralOf(*CurrentItem);
        dos = std::uint32_t(c.DosDate) << 16 | c.DosTime;
        unpacked = ZipUnpackedOf(*CurrentItem);
    }
    if (DateAttribute == daSysDate)
        dos = std::uint32_t(win::DateTimeToFileDate(win::Now()));
    else if (DateAttribute == daMaxFileDate && FNewestDosTime != 0)
        dos = FNewestDosTime;
    h.DosTime = std::uint16_t(dos);
    h.DosDate = std::uint16_t(dos >> 16);
    h.Crc = CRC_MASK;
    h.UnpackedSize = std::uint32_t(unpacked);
    h.Method = 8;
    EncodeRecord(h, FHead);
    FLargeBlock = false;
    FCurPacked = 0;
    FEntryExtra.clear();
    FExtraReady = false;
}

// Decided once per entry, before its header is written (a folder's header goes out first).
void TZipBase::PrepareEntryExtra(const TCompressFileInfo* Item)
{
    if (FExtraReady)
        return;
    FExtraReady = true;
    const std::uint64_t unpacked = std::uint64_t(std::max<std::int64_t>(UnpackedSize, 0));
    (void)Item;
    // Room is kept for a packed size that grows past 32 bits (encryption header,
    // incompressible data under bzip2 or PPMd).
    const std::uint64_t worst = unpacked + unpacked / 8 + 65536;
    FLargeBlock = worst >= k32;
    FEntryExtra = NewEntryExtra();
}

std::string TZipBase::NewEntryExtra() const
{
    bool utf8 = false;
    const std::string stored = EncodeName(FileName, utf8);
    const std::string unicode = ToUnixSeparators(FileName);
    std::string extra;
    if (!utf8 && stored != unicode)
        extra += UnicodePathExtra(stored, unicode);
    constexpr std::uint16_t kMethodPpmd = 98;
    if (MethodNumber == kMethodPpmd) {
        const TLocalHeader h = DecodeRecord<TLocalHeader>(FHead);
        FILETIME local{}, utc{};
        DosDateTimeToFileTime(h.DosDate, h.DosTime, &local);
        LocalFileTimeToFileTime(&local, &utc);
        const std::uint64_t t = std::uint64_t(utc.dwHighDateTime) << 32 | utc.dwLowDateTime;
        std::uint8_t block[36] = {};
        PutLE16(block, kExtraNtfs);
        PutLE16(block + 2, 32);
        PutLE16(block + 8, 1);  // attribute tag 1: the three times
        PutLE16(block + 10, 24);
        for (int i = 0; i < 3; ++i)
            PutLE64(block + 12 + 8 * i, t);
        extra.append(reinterpret_cast<const char*>(block), sizeof block);
    }
    return extra;
}

std::int64_t TZipBase::LocalExtraSize() const
{
    return (FLargeBlock ? std::int64_t(kZip64LocalExtraSize) : 0) + std::int64_t(FEntryExtra.size());
}

int TZipBase::WriteLargeSizeExtra(TStream32& Output, TCompressFileInfo& Item, int)
{
    const std::uint64_t unpacked = std::uint64_t(std::max<std::int64_t>(UnpackedSize, 0));
    PrepareEntryExtra(&Item);
    std::string bytes;
    if (FLargeBlock) {
        std::uint8_t block[kZip64LocalExtraSize];
        PutLE16(block, kExtraZip64);
        PutLE16(block + 2, kZip64LocalExtraSize - 4);
        PutLE64(block + 4, unpacked);
        PutLE64(block + 12, FCurPacked);
        bytes.assign(reinterpret_cast<const char*>(block), sizeof block);
    }
    bytes += FEntryExtra;
    if (!bytes.empty())
        Output.WriteBuffer(bytes.data(), std::int32_t(bytes.size()));
    return int(bytes.size());
}

void TZipBase::FinishHeader(std::int64_t Packed)
{
    TLocalHeader h = DecodeRecord<TLocalHeader>(FHead);
    bool utf8 = false;
    const std::string name = EncodeName(FileName, utf8);
    std::uint16_t flags = 0;
    if (Encrypted)
        flags |= kFlagEncrypted;
    h.Method = MethodNumber;
    if (h.Method == 8)
        flags = GetDeflateFlags(flags);
    if (utf8)
        flags |= kFlagUtf8;
    h.Flags = flags;
    h.VersionNeeded = 20;
    PrepareEntryExtra(CurrentItem);
    std::int64_t packed = Packed - LocalExtraSize();
    FCurPacked = std::uint64_t(std::max<std::int64_t>(packed, 0));
    h.Crc = (UnpackedSize == 0 && Crc32 == CRC_MASK) ? 0 : Crc32;
    h.PackedSize = std::uint32_t(FCurPacked);
    h.UnpackedSize = std::uint32_t(std::uint64_t(std::max<std::int64_t>(UnpackedSize, 0)));
    if (FLargeBlock) {
        h.PackedSize = h.UnpackedSize = std::uint32_t(k32);
        h.VersionNeeded = kVersionZip64;
    }
    h.NameLength = std::uint16_t(std::min<std::size_t>(name.size(), 0xFFFF));
    h.ExtraLength = std::uint16_t(LocalExtraSize());
    EncodeRecord(h, FHead);
}

void TZipBase::UpdateEntryName(int Index, std::uint32_t Attr, TCompressHeaderObj& EntryList)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    const TLocalHeader local = DecodeRecord<TLocalHeader>(FHead);
    bool utf8 = false;
    const std::string name = EncodeName(FileName, utf8);
    TCentralHeader c;
    c.Signature = kSigCentral;
    c.VersionMadeBy = utf8 ? kMadeByUnicode : kMadeByDos;
    c.VersionNeeded = 20;
    c.Flags = local.Flags;
    c.Method = local.Method;
    c.DosTime = local.DosTime;
    c.DosDate = local.DosDate;
    c.Crc = local.Crc;
    c.PackedSize = local.PackedSize;
    c.UnpackedSize = local.UnpackedSize;
    c.NameLength = local.NameLength;
    c.InternalAttributes = 1;
    c.ExternalAttributes = Attr;
    c.LocalOffset = std::uint32_t(item.Offset);
    PutRecord(item, c, std::uint64_t(std::max<std::int64_t>(UnpackedSize, 0)), FCurPacked);
    item.SavedHeader = name;
    EntryList.SetExtra(std::uint32_t(Index), std::vector<std::uint8_t>(FEntryExtra.begin(), FEntryExtra.end()));
    // A replaced entry hands its comment on to the file that replaces it.
    if (item.Data.empty() && Switch != swDelete) {
        if (!FCommentedByName)
            FCommentedByName = IndexCommentedEntries(EntryList);
        const std::string key = win::FoldCase(FileName);
        const auto [first, last] = FCommentedByName->equal_range(key);
        std::uint32_t donor = EntryList.Count;
        for (auto it = first; it != last; ++it) {
            const TCompressFileInfo& other = EntryList.GetItem(it->second);
            if (int(it->second) != Index && other.Action == eaLeaveOut && !other.Data.empty())
                donor = std::min(donor, it->second);
        }
        if (donor < EntryList.Count) {
            item.Data = EntryList.GetItem(donor).Data;
            FCommentedByName->emplace(key, std::uint32_t(Index));
        }
    }
}

// Entries with a comment under each name, so that a new entry finds the comment of the one it
// replaces without a scan of the whole list.
std::unique_ptr<std::unordered_multimap<std::string, std::uint32_t>>
TZipBase::IndexCommentedEntries(TCompressHeaderObj& EntryList)
{
    auto index = std::make_unique<std::unordered_multimap<std::string, std::uint32_t>>();
    for (std::uint32_t j = 0; j < EntryList.Count; ++j)
        if (!EntryList.GetItem(j).Data.empty())
            index->emplace(win::FoldCase(EntryList.Name(j)), j);
    return index;
}

void TZipBase::StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info)
{
    TCentralHeader c = ZipCentralOf(Item);
    c.DosTime = std::uint16_t(Info.DosDateTime);
    c.DosDate = std::uint16_t(Info.DosDateTime >> 16);
    c.PackedSize = std::uint32_t(Info.PackedSize);
    c.UnpackedSize = std::uint32_t(Info.UnpackedSize);
    c.ExternalAttributes = Info.Attributes;
    PutRecord(Item, c, std::uint64_t(std::max<std::int64_t>(Info.UnpackedSize, 0)),
              std::uint64_t(std::max<std::int64_t>(Info.PackedSize, 0)));
}

void TZipBase::ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info)
{
    const TCentralHeader c = ZipCentralOf(Item);
    Info.DosDateTime = std::uint32_t(c.DosDate) << 16 | c.DosTime;
    Info.Attributes = c.ExternalAttributes;
    Info.UnpackedSize = std::int64_t(ZipUnpackedOf(Item));
    Info.PackedSize = std::int64_t(ZipPackedOf(Item));
}

void TZipBase::DoEnd()
{
    if (OnEnd)
        OnEnd(this, FileName, DecodeRecord<TLocalHeader>(FHead).Crc == Crc32);
}

void TZipBase::WriteEndMarker(TStream32& Output)
{
    const std::string bytes = Bytes(TEndRecord{});
    Output.Seek64(0, soEnd);
    Output.WriteBuffer(bytes.data(), std::int32_t(bytes.size()));
}

// --- the old archive ---

void TZipBase::CopyOldEntries(TStream32& OldArchive, TCompressHeaderObj& EntryList)
{
    // Anything but a single-file ZIP would lose its contents if written as a new ZIP.
    if (!IsUpdatableType(FArcType))
        RaiseError(FArchiveFile, "", FArchiveFile, E_UNSUPPORTEDARCTYPE);
    if (!ReadDirectory(OldArchive, EntryList, Switch == swDelete))
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
}

void TZipBase::AddOldEntry(TCompressHeaderObj& List, const TZipEntry& Entry, std::int64_t Prefix, bool MarkDeleted)
{
    TCompressFileInfo item;
    item.Action = eaCopy;
    item.Offset = Prefix + std::int64_t(Entry.Sizes.LocalOffset);
    item.Encryption = (Entry.Header.Flags & kFlagEncrypted) ? emZip_V2 : emNone;
    item.HeaderEnciphered = Entry.HeaderEncrypted;
    item.HighSizeWord = std::uint16_t(Entry.Sizes.UnpackedSize >> 32);
    TCentralHeader c = Entry.Header;
    c.Signature = kSigCentral;
    PutRecord(item, c, Entry.Sizes.UnpackedSize, Entry.Sizes.PackedSize);
    item.SavedHeader = Entry.RawName;
    item.Data.assign(Entry.Comment.begin(), Entry.Comment.end());
    if (MarkDeleted && MatchesFileSpec(Entry.Name)) {
        item.Action = eaLeaveOut;
        ++DeletedCount;
    }
    List.AddItem(item, Entry.Name, 0, std::uint32_t(Entry.Extra.size()), Entry.Extra.data());
}

bool TZipBase::ReadDirectory(TStream32& Archive, TCompressHeaderObj& List, bool MarkDeleted)
{
    const TReadAt read = StreamZipReader(Archive);
    const std::int64_t size = Archive.Size();
    TZipEnding ending;
    const std::int64_t found = FindZipEnding(read, size, ending);
    if (found < 0 && ending.EndPos < 0)
        return false;
    FOldEnding = ending;
    FOldComment.clear();
    if (ending.CommentPos >= 0 && ending.CommentLength > 0) {
        const std::int64_t n = std::min<std::int64_t>(ending.CommentLength, size - ending.CommentPos);
        FOldComment.resize(std::size_t(std::max<std::int64_t>(n, 0)));
        FOldComment.resize(std::size_t(read(ending.CommentPos, FOldComment.data(), std::int64_t(FOldComment.size()))));
    }
    if (ending.Headers & HeaderBit(htCentral)) {
        std::uint64_t walked = 0;
        WalkCentralDirectory(read, size, ending, [&](const TZipEntry& e) {
            AddOldEntry(List, e, ending.PrefixOffset, MarkDeleted);
            ++walked;
            return true;
        });
        return walked > 0 || ending.TotalEntries == 0;
    }
    if (ending.EndPos >= 0)
        return ending.TotalEntries == 0;  // an end record whose directory is missing is damage, not emptiness
    // Local headers only: each becomes an entry with a central header made from it.
    TZipCipher cipher(kHeaderKeySet);
    std::int64_t at = ending.FirstLocalPos;
    TZipLocalEntry local;
    while (at >= 0 && ReadLocalEntry(read, size, at, cipher, local)) {
        if (local.Header.Flags & kFlagDataDescriptor)
            return false;  // sizes unknown without a directory
        TZipEntry e;
        e.Header.Flags = local.Header.Flags;
        e.Header.Method = local.Header.Method;
        e.Header.DosTime = local.Header.DosTime;
        e.Header.DosDate = local.Header.DosDate;
        e.Header.Crc = local.Header.Crc;
        e.Header.PackedSize = local.Header.PackedSize;
        e.Header.UnpackedSize = local.Header.UnpackedSize;
        e.Header.NameLength = local.Header.NameLength;
        e.Header.VersionMadeBy = 0;
        e.HeaderEncrypted = local.HeaderEncrypted;
        e.RawName = local.RawName;
        e.Name = local.Name;
        e.Sizes = local.Sizes;
        e.Sizes.LocalOffset = std::uint64_t(at);
        AddOldEntry(List, e, 0, MarkDeleted);
        const std::int64_t next = local.DataPos + std::int64_t(local.Sizes.PackedSize);
        if (next <= at)
            break;
        at = next;
    }
    return true;
}

std::int64_t TZipBase::LocalEntryLength(TStream32& Archive, const TCompressFileInfo& Item, std::int64_t& DataStart)
{
    const std::int64_t size = Archive.Size();
    std::uint8_t raw[TLocalHeader::Size];
    if (Item.Offset < 0 || Item.Offset + std::int64_t(sizeof raw) > size)
        return -1;
    Archive.SetPosition(Item.Offset);
    if (Archive.Read(raw, sizeof raw) != std::int32_t(sizeof raw))
        return -1;
    bool enciphered = false;
    if (ClassifyHeaderSig(DecodeRecord<TLocalHeader>(raw).Signature, hkLocal, enciphered) != hkLocal)
        return -1;
    if (enciphered)
        DecryptHeader(HeaderCipher, raw, hkLocal);
    const TLocalHeader local = DecodeRecord<TLocalHeader>(raw);
    const TCentralHeader central = ZipCentralOf(Item);
    const std::int64_t head = std::int64_t(sizeof raw) + local.NameLength + local.ExtraLength;
    DataStart = Item.Offset + head;
    // The directory's size is the one that counts: the local header may hold 0 (data descriptor)
    // or the Zip64 mark.
    std::int64_t length = head + std::int64_t(ZipPackedOf(Item));
    if ((central.Flags & kFlagDataDescriptor) && Item.Offset + length <= size) {
        std::uint8_t tail[TDataDescriptor64::Size] = {};
        Archive.SetPosition(Item.Offset + length);
        const std::int32_t got = Archive.Read(tail, sizeof tail);
        for (bool zip64 : {false, true}) {
            TDataDescriptor64 d;
            const std::size_t n = DecodeDataDescriptor(tail, std::size_t(std::max(got, 0)), zip64, d);
            if (n > 0 && d.Crc == central.Crc &&
                d.PackedSize == (zip64 ? ZipPackedOf(Item) : (ZipPackedOf(Item) & k32))) {
                length += std::int64_t(n);
                break;
            }
        }
    }
    return length;
}

std::int64_t TZipBase::GetEntryLength(TStream32&, TStream32& OldArchive, TCompressFileInfo& Item)
{
    std::int64_t dataStart = 0;
    return LocalEntryLength(OldArchive, Item, dataStart);
}

void TZipBase::CopyEntry(TStream32& Output, TStream32& OldArchive, TCompressHeaderObj& EntryList, int Index)
{
    TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(Index));
    std::int64_t dataStart = 0;
    const std::int64_t length = LocalEntryLength(OldArchive, item, dataStart);
    if (length < 0)
        RaiseError(FileName, "", FArchiveFile, E_BADFILEHEADER);
    std::uint8_t raw[TLocalHeader::Size];
    OldArchive.SetPosition(item.Offset);
    if (OldArchive.Read(raw, sizeof raw) != std::int32_t(sizeof raw))
        RaiseError(FileName, "", FArchiveFile, E_WRITEFILE);
    bool enciphered = false;
    ClassifyHeaderSig(DecodeRecord<TLocalHeader>(raw).Signature, hkLocal, enciphered);
    if (enciphered)
        DecryptHeader(HeaderCipher, raw, hkLocal);
    TLocalHeader local = DecodeRecord<TLocalHeader>(raw);
    const std::int64_t afterName = item.Offset + std::int64_t(sizeof raw) + local.NameLength;
    const std::int64_t rest = item.Offset + length - afterName;

    bool utf8 = false;
    const std::string name = EncodeName(EntryList.Name(std::uint32_t(Index)), utf8);
    local.NameLength = std::uint16_t(std::min<std::size_t>(name.size(), 0xFFFF));
    local.Flags = std::uint16_t(utf8 ? (local.Flags | kFlagUtf8) : (local.Flags & ~kFlagUtf8));
    local.Signature = enciphered ? kSigLocalEnc : kSigLocal;
    EncodeRecord(local, raw);
    std::string written = name;
    if (enciphered) {
        EncryptHeader(HeaderCipher, raw, hkLocal);
        EncryptHeaderBuffer(HeaderCipher, written.data(), written.size());
    }
    Output.Seek64(0, soEnd);
    item.Offset = Output.Position();
    Output.WriteBuffer(raw, sizeof raw);
    if (!written.empty())
        Output.WriteBuffer(written.data(), std::int32_t(written.size()));
    OldArchive.SetPosition(afterName);
    if (rest > 0 && Output.CopyFrom(&OldArchive, rest) != rest)
        RaiseError(FileName, "", FArchiveFile, E_WRITEFILE);

    TCentralHeader central = ZipCentralOf(item);
    central.Flags = local.Flags;
    central.VersionMadeBy = utf8 ? kMadeByUnicode : kMadeByDos;
    PutRecord(item, central, ZipUnpackedOf(item), ZipPackedOf(item));
    item.SavedHeader = name;
}

// --- the ending ---

std::vector<std::uint8_t> TZipBase::ArchiveComment() const
{
    auto& main = const_cast<TMainCommentStream&>(MainComment);
    if (main.Size() > 0 || main.Modified) {
        const auto* p = static_cast<const std::uint8_t*>(main.Memory());
        return std::vector<std::uint8_t>(p, p + main.Size());
    }
    return FOldComment;
}

std::string TZipBase::BuildDirectory(TCompressHeaderObj& List, std::int64_t CentralOffset, std::uint64_t& Written,
                                     const std::vector<std::uint32_t>& Disks)
{
    (void)CentralOffset;
    std::string out;
    EmitDirectory(List, Written, Disks, [&out](const std::string& Block) { out += Block; });
    return out;
}

std::uint64_t TZipBase::EmitDirectory(TCompressHeaderObj& List, std::uint64_t& Written,
                                      const std::vector<std::uint32_t>& Disks,
                                      const std::function<void(const std::string&)>& Sink, std::uint32_t Count)
{
    // Large enough to keep the writes few, small enough that a directory of many entries costs
    // no more memory than one of a few.
    constexpr std::size_t kBlock = 64 * 1024;
    std::string out;
    std::uint64_t total = 0;
    Written = 0;
    for (std::uint32_t i = 0; i < std::min(List.Count, Count); ++i) {
        TCompressFileInfo& item = List.GetItem(i);
        if (item.Action == eaLeaveOut)
            continue;
        TCentralHeader h = ZipCentralOf(item);
        const std::string& name = item.SavedHeader;
        const std::uint64_t packed = ZipPackedOf(item);
        const std::uint64_t unpacked = ZipUnpackedOf(item);
        const std::uint64_t offset = std::uint64_t(std::max<std::int64_t>(item.Offset, 0));
        h.PackedSize = std::uint32_t(packed);
        h.UnpackedSize = std::uint32_t(unpacked);
        h.LocalOffset = std::uint32_t(offset);
        const std::string zip64 =
            Zip64Extra({{&h.UnpackedSize, unpacked}, {&h.PackedSize, packed}, {&h.LocalOffset, offset}});
        if (!zip64.empty())
            h.VersionNeeded = std::max(h.VersionNeeded, kVersionZip64);
        const std::string extra = WithoutSizeBlocks(List.Extra(i)) + zip64;
        if (name.size() > 0xFFFF || extra.size() > 0xFFFF)
            RaiseError(List.Name(i), "", FArchiveFile, E_WRITEFILE);
        if (item.Data.size() > 0xFFFF)
            RaiseError(List.Name(i), "", FArchiveFile, E_INVALIDCOMMENTHEADER);
        h.Signature = item.HeaderEnciphered ? kSigCentralEnc : kSigCentral;
        h.DiskStart = i < Disks.size() ? std::uint16_t(Disks[i]) : 0;
        h.NameLength = std::uint16_t(name.size());
        h.ExtraLength = std::uint16_t(extra.size());
        h.CommentLength = std::uint16_t(item.Data.size());
        std::string header = Bytes(h);
        std::string storedName = name;
        if (item.HeaderEnciphered) {
            EncryptHeader(HeaderCipher, reinterpret_cast<std::uint8_t*>(header.data()), hkCentral);
            EncryptHeaderBuffer(HeaderCipher, storedName.data(), storedName.size());
        }
        out += header;
        out += storedName;
        out += extra;
        out.append(item.Data.begin(), item.Data.end());
        ++Written;
        if (out.size() >= kBlock) {
            total += out.size();
            Sink(out);
            out.clear();
        }
    }
    if (!out.empty()) {
        total += out.size();
        Sink(out);
    }
    return total;
}

std::string TZipBase::BuildEnd(std::uint64_t Entries, std::uint64_t CentralSize, std::int64_t CentralOffset, bool Large,
                               const std::vector<std::uint8_t>& Comment, const TZipEndPlacement& Placement)
{
    if (Comment.size() > 0xFFFF)
        RaiseError(FArchiveFile, "", FArchiveFile, E_INVALIDCOMMENTHEADER);
    const std::uint64_t onDisk = Placement.EntriesOnDisk < 0 ? Entries : std::uint64_t(Placement.EntriesOnDisk);
    std::string out;
    TEndRecord r;
    r.DiskNumber = std::uint16_t(std::min<std::uint32_t>(Placement.DiskNumber, 0xFFFF));
    r.CentralDisk = std::uint16_t(std::min<std::uint32_t>(Placement.CentralDisk, 0xFFFF));
    r.EntriesOnDisk = std::uint16_t(std::min<std::uint64_t>(onDisk, 0xFFFF));
    r.TotalEntries = std::uint16_t(std::min<std::uint64_t>(Entries, 0xFFFF));
    r.CentralSize = std::uint32_t(std::min<std::uint64_t>(CentralSize, k32));
    r.CentralOffset = std::uint32_t(std::min<std::uint64_t>(std::uint64_t(CentralOffset), k32));
    r.CommentLength = std::uint16_t(Comment.size());
    if (Large) {
        // The Zip64 end record and its locator go right before the classic record, where every
        // reader looks for them.
        TZip64EndRecord z;
        z.DiskNumber = Placement.DiskNumber;
        z.CentralDisk = Placement.CentralDisk;
        z.EntriesOnDisk = onDisk;
        z.TotalEntries = Entries;
        z.CentralSize = CentralSize;
        z.CentralOffset = std::uint64_t(CentralOffset);
        TZip64Locator l;
        l.Zip64EndDisk = Placement.DiskNumber;
        l.Zip64EndOffset =
            std::uint64_t(Placement.EndOffset >= 0 ? Placement.EndOffset : CentralOffset + std::int64_t(CentralSize));
        l.TotalDisks = Placement.DiskNumber + 1;
        out = Bytes(z) + Bytes(l);
    }
    out += Bytes(r);
    out.append(Comment.begin(), Comment.end());
    return out;
}

bool TZipBase::WriteEnding(TStream32*, TStream32& Output, TCompressHeaderObj& EntryList)
{
    const int count = Switch == swDelete ? DeletedCount : AddedCount;
    if (GetCancel() || count == 0)
        return Switch != swDelete;
    if (Switch == swDelete && std::uint32_t(DeletedCount) >= EntryList.Count)
        return false;  // the driver wrote the bare end record of an empty archive
    Output.Seek64(0, soEnd);
    const std::int64_t start = Output.Position();
    const auto write = [&Output](const std::string& Block) {
        Output.WriteBuffer(Block.data(), std::int32_t(Block.size()));
    };
    // The records of entries that left the list while walking come first, as those entries did.
    for (const std::string& block : FRetiredDirectory)
        write(block);
    std::uint64_t written = 0;
    const std::uint64_t size = FRetiredSize + EmitDirectory(EntryList, written, {}, write);
    written += FRetiredRecords;
    if (written == 0)
        RaiseError(FArchiveFile, "", FArchiveFile, E_WRITEFILE);
    const std::string end =
        BuildEnd(written, size, start, NeedsLargeEnd(start, FListBase + EntryList.Count), ArchiveComment());
    Output.WriteBuffer(end.data(), std::int32_t(end.size()));
    return true;
}

// --- listing in swRead ---

bool TZipBase::ReadFirstHeader(TStream32& Stream)
{
    FReadEntries.clear();
    FReadIndex = 0;
    const TReadAt read = StreamZipReader(Stream);
    TZipEnding ending;
    FindZipEnding(read, Stream.Size(), ending);
    WalkCentralDirectory(read, Stream.Size(), ending, [this](const TZipEntry& e) {
        FReadEntries.push_back(e);
        return true;
    });
    return ReadHeader();
}

bool TZipBase::ReadHeaderAt(std::int64_t)
{
    return ReadHeader();
}

bool TZipBase::ReadHeader()
{
    if (FReadIndex >= FReadEntries.size())
        return false;
    const TZipEntry& e = FReadEntries[FReadIndex++];
    FReadName = e.Name;
    UnpackedSize = std::int64_t(e.Sizes.UnpackedSize);
    PackedSize = std::int64_t(e.Sizes.PackedSize);
    Crc32 = e.Header.Crc;
    ExternalAttr = e.Header.ExternalAttributes;
    return true;
}

// --- comment editing ---

int TZipBase::ReadComments()
{
    FCommentList.reset();
    FCommentsChanged = false;
    if (!IsZipFamilyType(FArcType)) {
        DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
        return 0;
    }
    TFileStream32 archive(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    if (!archive.HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
        return 0;
    }
    auto list = std::make_unique<TCompressHeaderObj>();
    if (!ReadDirectory(archive, *list, false) ||
        !(FOldEnding.Headers & HeaderBit(htCentral) || FOldEnding.EndPos >= 0)) {
        DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
        return 0;
    }
    MainComment.SetSize64(0);
    if (!FOldComment.empty())
        MainComment.TMemoryStream32::Write(FOldComment.data(), std::int32_t(FOldComment.size()));
    MainComment.SetPosition(0);
    MainComment.Modified = false;
    FCommentList = std::move(list);
    return int(FCommentList->Count);
}

std::string TZipBase::GetFileComment(int Index, std::string& Name, std::vector<std::uint8_t>& Comment)
{
    Name.clear();
    Comment.clear();
    if (!FCommentList || Index < 0 || std::uint32_t(Index) >= FCommentList->Count)
        return Name;
    Name = FCommentList->Name(std::uint32_t(Index));
    Comment = FCommentList->GetItem(std::uint32_t(Index)).Data;
    return Name;
}

void TZipBase::SetFileComment(int Index, const std::vector<std::uint8_t>& Comment)
{
    if (!FCommentList || Index < 0 || std::uint32_t(Index) >= FCommentList->Count)
        return;
    if (Comment.size() > 0xFFFF) {
        DoError(FCommentList->Name(std::uint32_t(Index)), "", E_INVALIDCOMMENTHEADER, FArchiveFile);
        return;
    }
    auto& data = FCommentList->GetItem(std::uint32_t(Index)).Data;
    if (data != Comment) {
        data = Comment;
        FCommentsChanged = true;
    }
}

bool TZipBase::CommentsModified()
{
    return FCommentsChanged || MainComment.Modified;
}

bool TZipBase::SaveComments(bool Save)
{
    auto list = std::move(FCommentList);
    const bool changed = FCommentsChanged;
    FCommentsChanged = false;
    if (!Save || !list || !(changed || MainComment.Modified))
        return false;
    try {
        TFileStream32 probe(FArchiveFile, fmOpenRead | fmShareDenyWrite);
        if (!probe.HandleValid()) {
            DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
            return false;
        }
        // Split, spanned and self-extracting archives keep their directory where other code
        // expects it; and an archive changed since its directory was read must not get the old one.
        const TArcType type = TCompBase::GetArcType(probe);
        TZipEnding now;
        FindZipEnding(StreamZipReader(probe), probe.Size(), now);
        if ((type != atZip && type != atJar) || now.EndPos != FOldEnding.EndPos ||
            now.CentralPos != FOldEnding.CentralPos || now.PrefixOffset != 0) {
            DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
            return false;
        }
    } catch (const std::exception&) {
        DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
        return false;
    }
    const std::vector<std::uint8_t> comment = ArchiveComment();
    std::string tail;
    std::int64_t cut = 0;
    try {
        if (changed) {
            cut = FOldEnding.CentralPos;
            std::uint64_t written = 0;
            const std::string directory = BuildDirectory(*list, cut, written);
            tail = directory + BuildEnd(written, directory.size(), cut, NeedsLargeEnd(cut, list->Count), comment);
        } else {
            cut = FOldEnding.EndPos;
            if (FOldEnding.Large) {
                TLargeEndRecord r = FOldEnding.LargeEnd;
                r.Signature = kSigLargeEnd;
                r.CommentLength = std::uint16_t(comment.size());
                if (comment.size() > 0xFFFF)
                    RaiseError(FArchiveFile, "", FArchiveFile, E_INVALIDCOMMENTHEADER);
                tail = Bytes(r);
            } else {
                TEndRecord r = FOldEnding.End;
                r.Signature = kSigEnd;
                r.CommentLength = std::uint16_t(comment.size());
                if (comment.size() > 0xFFFF)
                    RaiseError(FArchiveFile, "", FArchiveFile, E_INVALIDCOMMENTHEADER);
                tail = Bytes(r);
            }
            tail.append(comment.begin(), comment.end());
        }
    } catch (const std::exception&) {
        return false;  // reported when raised
    }
    if (cut < 0)
        return false;
    const bool saved = SaveTail(cut, tail);
    if (saved)
        MainComment.Modified = false;
    return saved;
}

bool TZipBase::SaveTail(std::int64_t CutAt, const std::string& Tail)
{
    TFileStream32 archive(FArchiveFile, fmOpenReadWrite | fmShareDenyWrite);
    if (!archive.HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
        return false;
    }
    const std::int64_t oldSize = archive.Size();
    std::string oldTail(std::size_t(std::max<std::int64_t>(oldSize - CutAt, 0)), '\0');
    archive.SetPosition(CutAt);
    if (!oldTail.empty() &&
        archive.Read(oldTail.data(), std::int32_t(oldTail.size())) != std::int32_t(oldTail.size())) {
        DoError(FArchiveFile, "", E_READFILE, FArchiveFile);
        return false;
    }
    // Writing over the old tail before cutting means a failure can always put the old tail back:
    // its bytes fit where they were.
    try {
        archive.SetPosition(CutAt);
        archive.WriteBuffer(Tail.data(), std::int32_t(Tail.size()));
        archive.SetSize64(CutAt + std::int64_t(Tail.size()));
        return true;
    } catch (const std::exception&) {
        try {
            archive.SetPosition(CutAt);
            archive.WriteBuffer(oldTail.data(), std::int32_t(oldTail.size()));
            archive.SetSize64(oldSize);
        } catch (const std::exception&) {
        }
        DoError(FArchiveFile, "", E_WRITEFILE, FArchiveFile);
        return false;
    }
}
