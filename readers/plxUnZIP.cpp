#include "readers/plxUnZIP.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::int64_t kLocalSearchBlock = 32768;
constexpr int kLocalSearchBlocks = 5;

bool HasState(THeaderTypeState s, THeaderType t) { return (s & HeaderBit(t)) != 0; }

std::int64_t Clamp64(std::uint64_t v) { return std::int64_t(std::min<std::uint64_t>(v, INT64_MAX / 4)); }

bool EndsWithSeparator(const std::string& name)
{
    return !name.empty() && (name.back() == '\\' || name.back() == '/');
}

TUnZip::TLocalFacts FactsOf(const TZipLocalEntry& Local)
{
    TUnZip::TLocalFacts f;
    const TLocalHeader& h = Local.Header;
    f.DataPos = Local.DataPos;
    f.PackedSize = Local.Sizes.PackedSize;
    f.UnpackedSize = Local.Sizes.UnpackedSize;
    f.Crc = h.Crc;
    f.DosDate = std::uint32_t(h.DosDate) << 16 | h.DosTime;
    f.Flags = h.Flags;
    f.Method = h.Method;
    f.CipherBlock = Local.ExtraInfo.EncryptionBlock;
    return f;
}

}  // namespace

TUnZip::TUnZip(TObject* AOwner) : TUnBase(AOwner)
{
    SetFileSpec({"*.*"});
    ExtractMembersProc = [this](TStream32* Archive) { ExtractMembers(Archive); };
    ExtractMemberProc = [this](int Index, std::uint32_t Attr) { ExtractMember(Index, Attr); };
    GetEncryptionMethodProc = [this](std::uint16_t Flags) { return GetEncryptionMethod(Flags); };
}

TUnZip::~TUnZip() = default;

TEncryptionMethod TUnZip::GetEncryptionMethod(std::uint16_t Flags)
{
    if (!(Flags & kFlagEncrypted))
        return emNone;
    if (CipherBlockId == kExtraStrongEncryption || CipherBlockId == kExtraAes)
        return emUnsupported;
    return emZip_V2;
}

bool TUnZip::CheckPassword()
{
    return DataCipher.CheckCryptHeader(CryptHeader, FWork.Flags, FWork.Crc, Password(),
                                       std::uint16_t(FWork.DosDate & 0xFFFF));
}

bool TUnZip::Selected(const std::string& Name, bool Central)
{
    return Central ? MatchesStoredName(Name, RecurseDirs) : MatchesFileSpec(Name);
}

void TUnZip::NoteDate(std::uint32_t DosDate)
{
    const TDateTime date = DosDateToDateTime(DosDate);
    if (date > NewestDate)
        NewestDate = date;
}

// --- the run ---

void TUnZip::ProcessArchive(TStream32*)
{
    FMembers.clear();
    FNames.clear();
    FCorrection = 0;
    FPrefix = 0;
    FOpenVolume = -1;
    PackedTotal = 0;
    UnpackedTotal = 0;
    NewestDate = 0;
    if (IsSpanned()) {
        InitDiskSpann(FSpan);
        FSpan.DiskState = 0;
        if (!FSpan.OpenDisk(0))
            return;
    }
    if (!ArchiveStream)
        return;
    TZipEnding ending;
    FindZipEnding(StreamZipReader(*ArchiveStream), ArchiveSize, ending);
    FLastDisk = ending.DiskNumber;
    FOpenVolume = FLastDisk;
    const THeaderTypeState state = HeaderTypeState ? HeaderTypeState : ending.Headers;
    const bool localOnly = !IsMultiVolume() && (state == HeaderBit(htLocal) || ending.CentralPos < 0 ||
                                                !HasState(ending.Headers, htCentral));
    if (localOnly) {
        if (OnCorruptZipHeader) {
            bool cancel = true;
            OnCorruptZipHeader(this, state, cancel);
            if (cancel)
                return;
        }
        std::int64_t start = ending.FirstLocalPos >= 0 ? ending.FirstLocalPos : std::max<std::int64_t>(ArchiveOffset, 0);
        ReadLocalHeaders(start);
    } else {
        ReadCentralDirectory(ending);
    }
    ExtractMembersProc(ArchiveStream.get());
    FMembers.clear();
    FNames.clear();
}

// --- the central directory ---

void TUnZip::ReadCentralDirectory(const TZipEnding& Ending)
{
    FPrefix = IsMultiVolume() ? 0 : Ending.PrefixOffset;
    // The count is the archive's claim: held to what the directory's size can hold.
    const std::uint64_t claimed = std::min<std::uint64_t>(Ending.TotalEntries, std::uint64_t(ArchiveSize / 46));
    FMembers.reserve(std::size_t(std::min<std::uint64_t>(claimed, 1u << 20)));
    // Names are part of the directory's bytes: its size bounds the pool but for decoding.
    FNames.reserve(std::size_t(std::min<std::uint64_t>(Ending.CentralSize, std::uint64_t(ArchiveSize))));
    if (!IsMultiVolume()) {
        ReadCentralDisk(Ending.CentralPos);
        RefuseOverlappingMembers();
        return;
    }
    // The directory may begin on an earlier volume than the end record's.
    const std::uint32_t first = std::min(Ending.CentralDisk, FLastDisk);
    for (std::uint32_t disk = first; disk <= FLastDisk && !GetCancel(); ++disk) {
        if (!OpenVolume(IsSpanned() ? disk + 1 : disk, -1))
            return;
        const std::int64_t start = disk == first ? Clamp64(Ending.CentralOffset) : 0;
        ReadCentralDisk(first == FLastDisk && Ending.CentralPos >= 0 ? Ending.CentralPos : start);
    }
}

// Members whose local header lies inside another member's data share bytes with it: the way a
// small archive claims gigabytes. The first of them by position is kept, the others refused.
void TUnZip::RefuseOverlappingMembers()
{
    // Writers put the directory in the order of the data: then one pass finds no overlap.
    std::int64_t end = -1;
    const bool disjoint = std::all_of(FMembers.begin(), FMembers.end(), [&end](const TMemberItem& m) {
        const bool after = m.LocalPos >= end;
        end = DataEnd(m);
        return after;
    });
    if (disjoint)
        return;
    std::vector<std::size_t> order(FMembers.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [this](std::size_t a, std::size_t b) { return FMembers[a].LocalPos < FMembers[b].LocalPos; });
    std::vector<bool> refused(FMembers.size(), false);
    std::int64_t keptEnd = -1;
    for (const std::size_t i : order) {
        const TMemberItem& item = FMembers[i];
        if (item.LocalPos < keptEnd) {
            refused[i] = true;
            DoError(std::string(CentralName(item)), "", E_BADLOCALOFFSET, VolumeName);
            PackedTotal -= Clamp64(item.Packed);
            UnpackedTotal -= Clamp64(item.Unpacked);
        } else {
            keptEnd = DataEnd(item);
        }
    }
    std::size_t kept = 0;
    for (std::size_t i = 0; i < FMembers.size(); ++i)
        if (!refused[i]) {
            if (kept != i)
                FMembers[kept] = std::move(FMembers[i]);
            ++kept;
        }
    FMembers.resize(kept);
}

// Where a single archive's member data ends: its local header's packed size unless that was
// written before the data (flag bit 3) or left at zero.
std::int64_t TUnZip::DataEnd(const TMemberItem& Item)
{
    const bool localSize = !(Item.Local.Flags & kFlagDataDescriptor) && Item.Local.PackedSize != 0;
    return Item.Local.DataPos + Clamp64(localSize ? Item.Local.PackedSize : Item.Packed);
}

bool TUnZip::ReadCentralDisk(std::int64_t Start)
{
    if (Start < 0 || !ArchiveStream)
        return false;
    TZipEnding from;
    from.CentralPos = Start;
    from.Headers = HeaderBit(htCentral);
    WalkCentralDirectory(WindowedZipReader(*ArchiveStream), ArchiveSize, from,
                         [this](const TZipEntry& e) { return AddCentralEntry(e) && !GetCancel(); });
    return true;
}

bool TUnZip::FindLocalHeader(std::int64_t Pos, TZipLocalEntry& Local, std::uint16_t VersionMadeBy, bool DecodeName)
{
    return ReadLocalEntry(StreamZipReader(*ArchiveStream), ArchiveSize, Pos, HeaderCipher, Local, VersionMadeBy,
                          DecodeName);
}

bool TUnZip::AddCentralEntry(const TZipEntry& Entry)
{
    const TCentralHeader& h = Entry.Header;
    if (!Selected(Entry.Name, true))
        return true;
    CipherBlockId = Entry.ExtraInfo.EncryptionBlock;
    if (GetEncryptionMethodProc(h.Flags) == emUnsupported) {
        DoError(Entry.Name, "", E_UNSUPPORTEDENCRYPTION, VolumeName);
        return true;
    }
    TMemberItem item;
    item.HasCentral = true;
    item.VersionMadeBy = h.VersionMadeBy;
    item.Crc = h.Crc;
    item.NameAt = FNames.size();
    item.NameLength = std::uint32_t(Entry.Name.size());
    item.Packed = Entry.Sizes.PackedSize;
    item.Unpacked = Entry.Sizes.UnpackedSize;
    item.ExternalAttr = h.ExternalAttributes;
    item.CipherBlock = Entry.ExtraInfo.EncryptionBlock;
    item.Volume = Entry.Sizes.DiskStart + (IsSpanned() ? 1 : 0);
    std::uint64_t packed = item.Packed, unpacked = item.Unpacked;
    if (IsMultiVolume()) {
        item.LocalPos = Clamp64(Entry.Sizes.LocalOffset);
    } else {
        const std::int64_t stored = Clamp64(Entry.Sizes.LocalOffset);
        TZipLocalEntry& local = FLocal;
        if (!FindLocalHeader(FPrefix + stored + FCorrection, local, h.VersionMadeBy, false)) {
            // Offsets that count from somewhere else (a stub the writer did not know of): the
            // first local header of the file tells by how much.
            bool found = false;
            std::vector<std::uint8_t> block(std::size_t(kLocalSearchBlock) + 3);
            for (int b = 0; b < kLocalSearchBlocks && !found; ++b) {
                const std::int64_t at = b * kLocalSearchBlock;
                if (at >= ArchiveSize)
                    break;
                ArchiveStream->SetPosition(at);
                const std::int32_t got = ArchiveStream->Read(block.data(), std::int32_t(block.size()));
                for (std::int32_t i = 0; i + 4 <= got && i < kLocalSearchBlock; ++i) {
                    if (block[std::size_t(i)] != 'P' || !IsLocalHeaderSig(GetLE32(&block[std::size_t(i)])))
                        continue;
                    if (FindLocalHeader(at + i, local, h.VersionMadeBy, false)) {
                        FCorrection = at + i - FPrefix;
                        found = true;
                        break;
                    }
                }
            }
            if (!found || !FindLocalHeader(FPrefix + stored + FCorrection, local, h.VersionMadeBy, false)) {
                DoError(Entry.Name, "", E_BADLOCALOFFSET, VolumeName);
                return true;
            }
        }
        item.LocalPos = FPrefix + stored + FCorrection;
        if (!(local.Header.Flags & kFlagDataDescriptor)) {
            if (local.Sizes.PackedSize != 0)
                packed = local.Sizes.PackedSize;
            if (local.Sizes.UnpackedSize != 0)
                unpacked = local.Sizes.UnpackedSize;
        }
        // Kept for the member's run, which then reads no header again; a differing name is
        // reported when the member runs.
        item.HasLocal = true;
        item.Local = FactsOf(local);
        item.LocalNameDiffers = LocalNameDiffers(Entry.RawName, Entry.Name, h.VersionMadeBy, local);
    }
    NoteDate(std::uint32_t(h.DosDate) << 16 | h.DosTime);
    PackedTotal += Clamp64(packed) - ((h.Flags & kFlagEncrypted) && packed >= 12 ? 12 : 0);
    UnpackedTotal += Clamp64(unpacked);
    FNames += Entry.Name;
    if (!item.HasLocal) {
        item.RawNameLength = std::uint32_t(Entry.RawName.size());
        FNames += Entry.RawName;
    } else if (item.LocalNameDiffers) {
        item.LocalNameLength = std::uint32_t(FLocal.Name.size());
        FNames += FLocal.Name;
    }
    FMembers.push_back(item);
    return true;
}

// --- local headers alone ---

bool TUnZip::FindDataDescriptor(std::int64_t DataPos, bool Zip64, TMemberItem& Item, std::int64_t& Next)
{
    // The data ends where a descriptor stands whose size counts the bytes since the data began.
    std::vector<std::uint8_t> buf(65536 + 24);
    for (std::int64_t at = DataPos; at < ArchiveSize; at += 65536) {
        ArchiveStream->SetPosition(at);
        const std::int32_t got = ArchiveStream->Read(buf.data(), std::int32_t(buf.size()));
        for (std::int32_t i = 0; i + 16 <= got && i < 65536; ++i) {
            const std::uint8_t* p = &buf[std::size_t(i)];
            if (p[0] != 'P' || GetLE32(p) != kSigMarker)
                continue;
            const std::uint64_t length = std::uint64_t(at + i - DataPos);
            if (!Zip64 && GetLE32(p + 8) == length) {
                Item.Crc = GetLE32(p + 4);
                Item.Packed = length;
                Item.Unpacked = GetLE32(p + 12);
                Next = at + i + 16;
            } else if (Zip64 && i + 24 <= got && GetLE64(p + 8) == length) {
                Item.Crc = GetLE32(p + 4);
                Item.Packed = length;
                Item.Unpacked = GetLE64(p + 16);
                Next = at + i + 24;
            } else {
                continue;
            }
            Item.HasDescriptor = true;
            return true;
        }
        if (GetCancel())
            break;
    }
    return false;
}

void TUnZip::ReadLocalHeaders(std::int64_t Start)
{
    std::int64_t pos = Start;
    std::uint8_t sig[4] = {};
    ArchiveStream->SetPosition(pos);
    if (ArchiveStream->Read(sig, 4) == 4 && GetLE32(sig) == kSigMarker)
        pos += 4;
    while (!GetCancel()) {
        TZipLocalEntry& e = FLocal;
        if (!FindLocalHeader(pos, e, 0))
            break;
        const TLocalHeader& h = e.Header;
        TMemberItem item;
        item.Volume = 1;
        item.LocalPos = pos;
        item.ExternalAttr = EndsWithSeparator(e.Name) ? 0x10 : 0x20;
        std::int64_t next = e.DataPos + Clamp64(e.Sizes.PackedSize);
        std::uint64_t packed = e.Sizes.PackedSize, unpacked = e.Sizes.UnpackedSize;
        if (h.Flags & kFlagDataDescriptor) {
            // Sizes follow the data (what the header holds may be zeros or guesses): find them,
            // or the walk cannot go on.
            if (FindDataDescriptor(e.DataPos, e.ExtraInfo.HasZip64, item, next)) {
                packed = item.Packed;
                unpacked = item.Unpacked;
            } else if (packed == 0) {
                DoError(e.Name, "", E_BADFILEHEADER, VolumeName);
                break;
            }
        }
        CipherBlockId = e.ExtraInfo.EncryptionBlock;
        GetEncryptionMethodProc(h.Flags);
        if (!e.Name.empty() && Selected(e.Name, false)) {
            FMembers.push_back(item);
            NoteDate(std::uint32_t(h.DosDate) << 16 | h.DosTime);
            PackedTotal += Clamp64(packed);
            UnpackedTotal += Clamp64(unpacked);
        }
        if (h.Flags & kFlagDataDescriptor)
            next = SkipDataDescriptor(next);
        if (next <= pos)
            break;
        pos = next;
    }
}

std::int64_t TUnZip::SkipDataDescriptor(std::int64_t At)
{
    // With or without its signature, with 32- or 64-bit sizes: the next header tells which.
    std::uint8_t buf[28] = {};
    ArchiveStream->SetPosition(At);
    const std::int32_t got = ArchiveStream->Read(buf, sizeof buf);
    const auto headerAt = [&](int i) {
        return i + 4 <= got && (IsLocalHeaderSig(GetLE32(buf + i)) || GetLE32(buf + i) == kSigCentral);
    };
    const bool signature = got >= 4 && GetLE32(buf) == kSigMarker;
    for (const int size : signature ? std::array{16, 24} : std::array{12, 20})
        if (headerAt(size))
            return At + size;
    return signature ? At + 16 : At;
}

// --- volumes ---

bool TUnZip::OpenVolume(std::uint32_t Volume, std::int64_t WantedOffset)
{
    if (IsSpanned()) {
        // Spanned disks count from 1.
        if (FOpenVolume == std::int64_t(Volume) - 1 && ArchiveStream)
            return true;
        FSpan.DiskState = std::uint16_t(std::min<std::uint32_t>(Volume, 0xFFFF));
        if (!FSpan.OpenDisk(WantedOffset))
            return false;
        FOpenVolume = std::int64_t(Volume) - 1;
        return ArchiveStream != nullptr;
    }
    if (!IsSplit())
        return true;
    if (FOpenVolume == std::int64_t(Volume) && ArchiveStream)
        return true;
    if (Volume > FLastDisk)
        return false;
    const std::string name = Volume >= FLastDisk ? FArchiveFile : NumberedSplitName(FArchiveFile, int(Volume) + 1);
    if (win::FileExists(name)) {
        auto file = std::make_unique<TFileStream32>(name, fmOpenRead | fmShareDenyWrite);
        if (!file->HandleValid()) {
            DoError(name, "", E_OPENFILE, name);
            return false;
        }
        ArchiveSize = file->Size();
        ArchiveStream = std::move(file);
    } else {
        // Not where the set's names say: the host is asked for it.
        int number = int(Volume);
        if (!DoNextVolume(ArchiveStream, number, int(FLastDisk) + 1) || !ArchiveStream)
            return false;
    }
    VolumeName = name;
    VolumeCounter = int(Volume);
    FOpenVolume = Volume;
    return true;
}

bool TUnZip::NextVolume()
{
    if (FOpenVolume < 0 || FOpenVolume >= std::int64_t(FLastDisk))
        return false;
    const auto next = std::uint32_t(FOpenVolume + 1);
    if (!OpenVolume(IsSpanned() ? next + 1 : next, -1))
        return false;
    ArchiveStream->SetPosition(0);
    return true;
}

// --- the members ---

void TUnZip::ExtractMembers(TStream32*)
{
    for (int i = 0; i < int(FMembers.size()) && !GetCancel(); ++i) {
        const TMemberItem& item = FMembers[std::size_t(i)];
        if (!OpenVolume(item.Volume, item.LocalPos)) {
            if (IsMultiVolume())
                return;
            continue;
        }
        TLocalFacts facts = item.Local;
        const std::string* name = &FName;
        if (item.HasLocal) {
            FName.assign(CentralName(item));
            if (item.LocalNameDiffers)
                DoError(FName, std::string(LocalName(item)), E_INCONSISTENTLOCALHEADER, VolumeName);
        } else {
            TZipLocalEntry& local = FLocal;
            if (!ArchiveStream || !FindLocalHeader(item.LocalPos, local, item.HasCentral ? item.VersionMadeBy : 0,
                                                   !item.HasCentral)) {
                DoError(FArchiveFile, "", E_BADLOCALOFFSET, VolumeName);
                continue;
            }
            facts = FactsOf(local);
            name = &MemberName(item, local);
        }
        TWorkRecord work;
        work.Flags = facts.Flags;
        work.Method = facts.Method;
        work.PackedSize = facts.PackedSize;
        work.UnpackedSize = facts.UnpackedSize;
        work.Crc = facts.Crc;
        work.DosDate = facts.DosDate;
        work.DataPos = facts.DataPos;
        // Each size the local header leaves at zero (written before the data) comes from the
        // directory, or in local-header mode from the data descriptor.
        if (work.PackedSize == 0)
            work.PackedSize = item.Packed;
        if (work.UnpackedSize == 0)
            work.UnpackedSize = item.Unpacked;
        if (work.Crc == 0 && ((item.HasCentral && item.Packed != 0) || item.HasDescriptor))
            work.Crc = item.Crc;
        if (work.Flags & kFlagDataDescriptor)
            TakeDeferredSizes(item, work);
        FWork = work;
        // A cipher block in either extra field marks the member.
        CipherBlockId = facts.CipherBlock ? facts.CipherBlock : item.CipherBlock;
        Encrypted = (work.Flags & kFlagEncrypted) != 0;
        SetEncryptionMethod(GetEncryptionMethodProc(work.Flags));
        MethodNumber = std::uint16_t(work.Method);
        PackedSize = Clamp64(work.PackedSize);
        UnpackedSize = Clamp64(work.UnpackedSize);
        Crc32 = work.Crc;
        ExternalAttr = item.ExternalAttr;
        DateTime = DosDateToDateTime(work.DosDate);
        EntryIndex = i;
        NameEntry(*name);
        ExtractMemberProc(i, item.ExternalAttr);
    }
}

// With flag bit 3 the local header was written before the data: whatever its CRC and size fields
// hold (zeros, or other values some writers leave there), the directory or the descriptor holds
// the real ones.
void TUnZip::TakeDeferredSizes(const TMemberItem& Item, TWorkRecord& Work) const
{
    if (Item.HasCentral || Item.HasDescriptor) {
        Work.Crc = Item.Crc;
        Work.PackedSize = Item.Packed;
        Work.UnpackedSize = Item.Unpacked;
    }
}

// The directory's name is the one listed, so it is the one written; a local header that names
// the member otherwise is reported.
const std::string& TUnZip::MemberName(const TMemberItem& Item, TZipLocalEntry& Local)
{
    if (!Item.HasCentral)
        return Local.Name;
    FName.assign(CentralName(Item));
    if (LocalNameDiffers(CentralRawName(Item), FName, Item.VersionMadeBy, Local))
        DoError(FName, Local.Name, E_INCONSISTENTLOCALHEADER, VolumeName);
    return FName;
}

// Leaves the local header's decoded name in Local.Name when its stored bytes differ.
bool TUnZip::LocalNameDiffers(std::string_view CentralRaw, std::string_view Central, std::uint16_t VersionMadeBy,
                              TZipLocalEntry& Local)
{
    if (Local.RawName == CentralRaw)
        return false;
    Local.Name = DecodeZipEntryName(Local.RawName, Local.Header.Flags, VersionMadeBy, Local.ExtraInfo.UnicodeName);
    return Local.Name != Central;
}

bool TUnZip::CheckDecodable(const TWorkRecord& Work, bool IsDirectory)
{
    FDecodable = true;
    if (IsDirectory)
        return true;
    const bool encrypted = (Work.Flags & kFlagEncrypted) != 0;
    if (encrypted && ((Work.Flags & kFlagStrongEncryption) || EncryptionMethod() != emZip_V2)) {
        // Strong encryption is not ours to decode; it leaves the members after it alone.
        DoError(FileName, "", E_UNSUPPORTEDENCRYPTION, VolumeName);
        FDecodable = false;
    } else if (encrypted && Work.PackedSize < 12) {
        DoError(FileName, "", E_BADFILEHEADER, VolumeName);
        FDecodable = false;
    } else {
        switch (Work.Method) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 8: case 9: case 12: case 98:
            break;
        default:
            DoError(FileName, "", E_UNSUPPORTEDMETHOD, VolumeName);
            FDecodable = false;
        }
    }
    return FDecodable;
}

void TUnZip::ExtractMember(int Index, std::uint32_t ExternalAttr)
{
    const TWorkRecord work = FWork;
    const std::string stored = StoredName;
    // A JAR folder is told by its name alone; a ZIP one also by an empty member with the folder
    // attribute.
    const bool isDir = EndsWithSeparator(stored) ||
                       (!IsJar() && (ExternalAttr & FILE_ATTRIBUTE_DIRECTORY) && work.UnpackedSize == 0);
    (void)Index;
    if (!PrepareOutput(isDir)) {
        SkippedMemberProc(Clamp64(work.PackedSize));
        return;
    }
    if (isDir) {
        if (!CreateStoredDirs)
            return;
        if (IsFileOutput() && !MakeStoredDir(FileName, work.DosDate))
            return;
        RunningCrc.Crc32 = work.Crc;
        CheckCrc(32, work.Crc);
        return;
    }
    // A member that is not decoded fails its check, whatever its stored CRC.
    const auto failCheck = [&] {
        SkippedMemberProc(Clamp64(work.PackedSize));
        RunningCrc.Crc32 = work.Crc ^ 1;
        CheckCrc(32, work.Crc);
    };
    FMemberEncrypted = (work.Flags & kFlagEncrypted) != 0;
    if (!CheckDecodable(work, false)) {
        failCheck();
        return;
    }
    if (FMemberEncrypted) {
        ArchiveStream->SetPosition(work.DataPos);
        if (NoDecrypt) {
            PasswordRefused = true;
        } else if (!AcquirePassword()) {
            NoDecrypt = true;
            DoBadPassword();
        }
        if (PasswordRefused) {
            if (!GetCancel())
                failCheck();
            return;
        }
    }
    std::unique_ptr<TStream32> out;
    if (!OpenOutStream(out, FileName)) {
        if (!SkipEntry && (OperationCode == opExtract || OperationCode == opAppend))
            DoError(FileName, "", E_OPENFILE, VolumeName);
        SkippedMemberProc(Clamp64(work.PackedSize));
        return;
    }
    ArchiveStream->SetPosition(work.DataPos + (FMemberEncrypted ? 12 : 0));
    StartEntryData();
    bool decoded = false;
    try {
        decoded = DecodeMember(out.get(), work);
    } catch (...) {
        CloseOutFile(out, FileName, FILE_ATTRIBUTE_ARCHIVE, work.DosDate);
        throw;
    }
    if (!decoded)
        RunningCrc.Crc32 = work.Crc ^ 1;
    std::uint32_t attr = ExternalAttr & 0xFF & ~std::uint32_t(FILE_ATTRIBUTE_DIRECTORY);
    CloseOutFile(out, FileName, attr == 0 ? FILE_ATTRIBUTE_ARCHIVE : attr, work.DosDate);
    CheckCrc(32, work.Crc);
}
