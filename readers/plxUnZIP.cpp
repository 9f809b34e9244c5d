#include "readers/plxUnZIP.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Time.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

namespace {

constexpr std::int64_t kLocalSearchBlock = 32768;
constexpr int kLocalSearchBlocks = 5;

bool HasState(THeaderTypeState s, THeaderType t)
{
    return (s & HeaderBit(t)) != 0;
}

std::int64_t Clamp64(std::uint64_t v)
{
    return std::int64_t(std::min<std::uint64_t>(v, INT64_MAX / 4));
}

bool EndsWithSeparator(const std::string& name)
{
    return !name.empty() && (name.back() == '\\' || name.back() == '/');
}

// A UT block holds 32 bits: taken unsigned where the DOS date says 2038 or later (up to 2106, as
// unzip reads them), else signed, for times before 1970. An NTFS block's time when there is no UT.
std::optional<std::int64_t> UnixTimeOf(const TZipExtraInfo& Info, std::uint32_t DosDate)
{
    if (const auto& t = Info.UnixModTime)
        return *t < 0 && (DosDate >> 25) + 1980 >= 2038 ? *t + (std::int64_t(1) << 32) : *t;
    // Zero is a time some writers leave unset: the DOS date holds then.
    if (const auto& t = Info.NtfsModTime; t && *t != 0)
        return win::FileTimeToUnixTime(win::U64ToFileTime(*t));
    return std::nullopt;
}

TUnZip::TWorkRecord FactsOf(const TZipLocalEntry& Local)
{
    TUnZip::TWorkRecord f;
    const TLocalHeader& h = Local.Header;
    f.DataPos = Local.DataPos;
    f.PackedSize = Local.Sizes.PackedSize;
    f.UnpackedSize = Local.Sizes.UnpackedSize;
    f.Crc = h.Crc;
    f.DosDate = std::uint32_t(h.DosDate) << 16 | h.DosTime;
    f.UnixTime = UnixTimeOf(Local.ExtraInfo, f.DosDate);
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
    if (Central && FTakesAll)
        return !Name.empty();
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
    FStubSearched = false;
    FPrefix = 0;
    FOpenVolume = -1;
    FOwnHooks = OwnDataHooks();
    FTakesAll = RecurseDirs && TakesEveryStoredName();
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
        std::int64_t start =
            ending.FirstLocalPos >= 0 ? ending.FirstLocalPos : std::max<std::int64_t>(ArchiveOffset, 0);
        const std::uint64_t walked = ReadLocalHeaders(start);
        ExtractMembersProc(ArchiveStream.get());
        // The end record still counts the members the lost directory named: a walk that found
        // fewer has lost some, whatever the ones found gave.
        ReportLostEntries(walked, ending);
    } else {
        ReadCentralDirectory(ending);
        ExtractMembersProc(ArchiveStream.get());
    }
    FMembers.clear();
    FNames.clear();
    FTakesAll = false;
}

// --- the central directory ---

void TUnZip::ReadCentralDirectory(const TZipEnding& Ending)
{
    FPrefix = IsMultiVolume() ? 0 : Ending.PrefixOffset;
    if (!IsMultiVolume()) {
        // Each member runs as the directory names it (AddCentralEntry): nothing is held for the
        // whole archive.
        FClaimed.clear();
        FListed = 0;
        if (DateAttribute == daMaxFileDate)
            NoteNewestDate(Ending.CentralPos);
        std::uint64_t walked = 0;
        WalkCentralDisk(Ending.CentralPos, [&](const TZipEntry& e) {
            ++walked;
            return AddCentralEntry(e) && !GetCancel();
        });
        ReportLostEntries(walked, Ending);
        return;
    }
    // The count is the archive's claim: held to what the directory's size can hold.
    const std::uint64_t claimed = std::min<std::uint64_t>(Ending.TotalEntries, std::uint64_t(ArchiveSize / 46));
    FMembers.reserve(std::size_t(std::min<std::uint64_t>(claimed, 1u << 20)));
    // Names are part of the directory's bytes: its size bounds the pool but for decoding.
    FNames.reserve(std::size_t(std::min<std::uint64_t>(Ending.CentralSize, std::uint64_t(ArchiveSize))));
    // The directory may begin on an earlier volume than the end record's, and a record may
    // straddle two volumes: the walk reads the volumes as one run of bytes, in order.
    std::uint32_t disk = std::min(Ending.CentralDisk, FLastDisk);
    if (!OpenVolume(IsSpanned() ? disk + 1 : disk, -1))
        return;
    std::int64_t partStart =
        disk == FLastDisk && Ending.CentralPos >= 0 ? Ending.CentralPos : Clamp64(Ending.CentralOffset);
    std::int64_t partBase = 0;  // the directory offset at which the open volume's part begins
    const TReadAt acrossVolumes = [&](std::int64_t At, void* Buffer, std::int64_t Count) -> std::int64_t {
        std::int64_t got = 0;
        while (Count > 0 && At >= partBase && ArchiveStream) {
            const std::int64_t local = partStart + (At - partBase);
            if (local >= ArchiveSize) {
                if (disk >= FLastDisk || GetCancel())
                    break;
                partBase += std::max<std::int64_t>(ArchiveSize - partStart, 0);
                partStart = 0;
                ++disk;
                if (!OpenVolume(IsSpanned() ? disk + 1 : disk, -1))
                    break;
                continue;
            }
            ArchiveStream->SetPosition(local);
            const std::int32_t n =
                ArchiveStream->Read(static_cast<std::uint8_t*>(Buffer) + got,
                                    std::int32_t(std::min<std::int64_t>(Count, ArchiveSize - local)));
            if (n <= 0)
                break;
            got += n;
            At += n;
            Count -= n;
        }
        return got;
    };
    TZipEnding from;
    from.CentralPos = 0;
    from.Headers = HeaderBit(htCentral);
    std::uint64_t walked = 0;
    WalkCentralDirectory(acrossVolumes, std::numeric_limits<std::int64_t>::max() / 4, from, [&](const TZipEntry& e) {
        ++walked;
        return AddCentralEntry(e) && !GetCancel();
    });
    ReportLostEntries(walked, Ending);
}

// A directory that ends before the entries its end record counts has lost some of them.
void TUnZip::ReportLostEntries(std::uint64_t Walked, const TZipEnding& Ending)
{
    if (Walked < Ending.TotalEntries && !GetCancel())
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
}

// A member whose bytes (local header to end of data) meet those of a member already run shares
// them with it: the way a small archive claims gigabytes. The first one named keeps them. Kept
// ranges closer than a local header's size are joined (no header fits between them), so an
// archive written in order holds one range, however many members.
bool TUnZip::ClaimRange(std::int64_t Begin, std::int64_t End)
{
    const auto next = FClaimed.upper_bound(Begin);
    const auto before = next == FClaimed.begin() ? FClaimed.end() : std::prev(next);
    if ((next != FClaimed.end() && next->first < End) || (before != FClaimed.end() && before->second > Begin))
        return false;
    constexpr std::int64_t kGap = TLocalHeader::Size;
    if (next != FClaimed.end() && next->first - End < kGap) {
        End = next->second;
        FClaimed.erase(next);
    }
    if (before != FClaimed.end() && Begin - before->second < kGap)
        before->second = End;  // the common case: no node made or freed
    else
        FClaimed.emplace(Begin, End);
    return true;
}

// Where a member's data ends: its local header's packed size unless that was written before the
// data (flag bit 3) or left at zero.
std::int64_t TUnZip::DataEnd(const TWorkRecord& Local, std::uint64_t CentralPacked)
{
    const bool localSize = !(Local.Flags & kFlagDataDescriptor) && Local.PackedSize != 0;
    return Local.DataPos + Clamp64(localSize ? Local.PackedSize : CentralPacked);
}

// Files that all take the newest date get it from the first one on: the directory is read for
// the dates before any member runs.
void TUnZip::NoteNewestDate(std::int64_t Start)
{
    WalkCentralDisk(Start, [this](const TZipEntry& e) {
        if (Usable(e, false))
            NoteDate(std::uint32_t(e.Header.DosDate) << 16 | e.Header.DosTime);
        return !GetCancel();
    });
}

bool TUnZip::WalkCentralDisk(std::int64_t Start, const std::function<bool(const TZipEntry&)>& OnEntry)
{
    if (Start < 0 || !ArchiveStream)
        return false;
    TZipEnding from;
    from.CentralPos = Start;
    from.Headers = HeaderBit(htCentral);
    WalkCentralDirectory(StreamZipReader(*ArchiveStream), ArchiveSize, from, OnEntry, 65536);
    return true;
}

bool TUnZip::FindLocalHeader(std::int64_t Pos, TZipLocalEntry& Local, std::uint16_t MadeBy, bool DecodeName)
{
    // One reader for all the members of a volume, not one made for each. A stream at the address
    // of one gone is read through it as well: it reads whatever stream stands there.
    if (FLocalReadStream != ArchiveStream.get()) {
        FLocalRead = StreamZipReader(*ArchiveStream);
        FLocalReadStream = ArchiveStream.get();
    }
    return ReadLocalEntry(FLocalRead, ArchiveSize, Pos, HeaderCipher, Local, MadeBy, DecodeName);
}

bool TUnZip::AddCentralEntry(const TZipEntry& Entry)
{
    CountHeaderRead(Entry.NextPos - Entry.HeaderPos);
    const TCentralHeader& h = Entry.Header;
    if (!Usable(Entry, true))
        return true;
    TMemberItem item;
    item.HasCentral = true;
    item.VersionMadeBy = h.VersionMadeBy;
    item.Crc = h.Crc;
    item.Packed = Entry.Sizes.PackedSize;
    item.Unpacked = Entry.Sizes.UnpackedSize;
    item.ExternalAttr = h.ExternalAttributes;
    item.CipherBlock = Entry.ExtraInfo.EncryptionBlock;
    item.Volume = Entry.Sizes.DiskStart + (IsSpanned() ? 1 : 0);
    if (!IsMultiVolume()) {
        RunListedMember(Entry, item);
        return true;
    }
    item.LocalPos = Clamp64(Entry.Sizes.LocalOffset);
    NoteDate(std::uint32_t(h.DosDate) << 16 | h.DosTime);
    AddToTotals(h.Flags, item.Packed, item.Unpacked);
    item.NameAt = FNames.size();
    item.NameLength = std::uint32_t(Entry.Name.size());
    item.RawNameLength = std::uint32_t(Entry.RawName.size());
    FNames += Entry.Name;
    FNames += Entry.RawName;
    FMembers.push_back(item);
    return true;
}

// The archive's progress counts the headers read as well as the data: an archive of small
// members is mostly headers, and its bar would otherwise stop near empty.
void TUnZip::CountHeaderRead(std::int64_t Bytes)
{
    BytesToRead = std::max<std::int64_t>(0, BytesToRead - std::max<std::int64_t>(0, Bytes));
}

// Extraction and the test pass over a member without a name; neither may do so in silence.
bool TUnZip::TellsNamelessMember() const
{
    return IsFileOutput() || OperationCode == opTest || OperationCode == opTestQuiet;
}

// Selected and of an encryption we can decode (Report: say why not).
bool TUnZip::Usable(const TZipEntry& Entry, bool Report)
{
    // A member without a name has nowhere to go and is never checked; as unzip does, that is said.
    if (Entry.Name.empty() && Report && TellsNamelessMember())
        DoError(ArchiveFile(), "", E_INVALIDFILENAME, VolumeName);
    if (!Selected(Entry.Name, true))
        return false;
    CipherBlockId = Entry.ExtraInfo.EncryptionBlock;
    if (GetEncryptionMethodProc(Entry.Header.Flags) != emUnsupported)
        return true;
    if (Report)
        DoError(Entry.Name, "", E_UNSUPPORTEDENCRYPTION, VolumeName);
    return false;
}

void TUnZip::AddToTotals(std::uint16_t Flags, std::uint64_t Packed, std::uint64_t Unpacked)
{
    PackedTotal += Clamp64(Packed) - ((Flags & kFlagEncrypted) && Packed >= 12 ? 12 : 0);
    UnpackedTotal += Clamp64(Unpacked);
}

// A single archive's member runs as the directory names it, right after its local header: nothing
// is held for the whole archive, and the data that follows is still in the read buffer.
void TUnZip::RunListedMember(const TZipEntry& Entry, TMemberItem& Item)
{
    const TCentralHeader& h = Entry.Header;
    TZipLocalEntry& local = FLocal;
    if (!FindListedLocalHeader(Entry, Item.LocalPos)) {
        DoError(Entry.Name, "", E_BADLOCALOFFSET, VolumeName);
        return;
    }
    CountHeaderRead(local.DataPos - local.HeaderPos);
    const TWorkRecord facts = FactsOf(local);
    if (!ClaimRange(Item.LocalPos, DataEnd(facts, Item.Packed))) {
        DoError(Entry.Name, "", E_BADLOCALOFFSET, VolumeName);
        return;
    }
    std::uint64_t packed = Item.Packed, unpacked = Item.Unpacked;
    if (!(facts.Flags & kFlagDataDescriptor)) {
        if (facts.PackedSize != 0)
            packed = facts.PackedSize;
        if (facts.UnpackedSize != 0)
            unpacked = facts.UnpackedSize;
    }
    NoteDate(std::uint32_t(h.DosDate) << 16 | h.DosTime);
    AddToTotals(h.Flags, packed, unpacked);
    // The directory's name is the one listed, so it is the one written.
    if (LocalNameDiffers(Entry.RawName, Entry.Name, h.VersionMadeBy, local))
        DoError(Entry.Name, local.Name, E_INCONSISTENTLOCALHEADER, VolumeName);
    RunMember(Item, facts, FListed++, Entry.Name);
}

// Reads the member's local header into FLocal and sets LocalPos to where it stands.
bool TUnZip::FindListedLocalHeader(const TZipEntry& Entry, std::int64_t& LocalPos)
{
    const std::uint16_t madeBy = Entry.Header.VersionMadeBy;
    const std::int64_t stored = Clamp64(Entry.Sizes.LocalOffset);
    LocalPos = FPrefix + stored + FCorrection;
    if (FindLocalHeader(LocalPos, FLocal, madeBy, false))
        return true;
    // Offsets that count from somewhere else (a stub the writer did not know of): the first
    // local header of the file tells by how much. It tells the same for every member, so it is
    // looked for once: a directory of bad offsets costs no search per entry.
    if (std::exchange(FStubSearched, true))
        return false;
    std::vector<std::uint8_t> block(std::size_t(kLocalSearchBlock) + 3);
    for (int b = 0; b < kLocalSearchBlocks; ++b) {
        const std::int64_t at = b * kLocalSearchBlock;
        if (at >= ArchiveSize)
            return false;
        ArchiveStream->SetPosition(at);
        const std::int32_t got = ArchiveStream->Read(block.data(), std::int32_t(block.size()));
        for (std::int32_t i = 0; i + 4 <= got && i < kLocalSearchBlock; ++i) {
            if (block[std::size_t(i)] != 'P' || !IsLocalHeaderSig(GetLE32(&block[std::size_t(i)])))
                continue;
            if (FindLocalHeader(at + i, FLocal, madeBy, false)) {
                FCorrection = at + i - FPrefix;
                LocalPos = FPrefix + stored + FCorrection;
                return FindLocalHeader(LocalPos, FLocal, madeBy, false);
            }
        }
    }
    return false;
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

// Answers the number of local headers walked, selected or not.
std::uint64_t TUnZip::ReadLocalHeaders(std::int64_t Start)
{
    std::uint64_t walked = 0;
    std::int64_t pos = Start;
    std::uint8_t sig[4] = {};
    ArchiveStream->SetPosition(pos);
    if (ArchiveStream->Read(sig, 4) == 4 && GetLE32(sig) == kSigMarker)
        pos += 4;
    while (!GetCancel()) {
        TZipLocalEntry& e = FLocal;
        if (!FindLocalHeader(pos, e, 0))
            break;
        ++walked;
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
        if (e.Name.empty() && TellsNamelessMember())
            DoError(ArchiveFile(), "", E_INVALIDFILENAME, VolumeName);
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
    return walked;
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
        // A member said to start past the set's last disk has no data anywhere: it is lost, and
        // said so, while the members after it are still run.
        if (IsMultiVolume() && item.Volume > FLastDisk + (IsSpanned() ? 1u : 0u)) {
            DoError(item.HasCentral ? std::string(CentralName(item)) : FArchiveFile, "", E_BADLOCALOFFSET,
                    VolumeName);
            continue;
        }
        if (!OpenVolume(item.Volume, item.LocalPos)) {
            if (IsMultiVolume())
                return;
            continue;
        }
        TZipLocalEntry& local = FLocal;
        if (!ArchiveStream ||
            !FindLocalHeader(item.LocalPos, local, item.HasCentral ? item.VersionMadeBy : 0, !item.HasCentral)) {
            DoError(FArchiveFile, "", E_BADLOCALOFFSET, VolumeName);
            continue;
        }
        CountHeaderRead(local.DataPos - local.HeaderPos);
        RunMember(item, FactsOf(local), i, MemberName(item, local));
    }
}

void TUnZip::RunMember(const TMemberItem& Item, const TWorkRecord& Local, int Index, const std::string& Name)
{
    TWorkRecord work = Local;
    // Each size the local header leaves at zero (written before the data) comes from the
    // directory, or in local-header mode from the data descriptor.
    if (work.PackedSize == 0)
        work.PackedSize = Item.Packed;
    if (work.UnpackedSize == 0)
        work.UnpackedSize = Item.Unpacked;
    if (work.Crc == 0 && ((Item.HasCentral && Item.Packed != 0) || Item.HasDescriptor))
        work.Crc = Item.Crc;
    if (work.Flags & kFlagDataDescriptor)
        TakeDeferredSizes(Item, work);
    constexpr std::uint32_t kUnixHost = 3, kTypeBits = 0170000, kLinkType = 0120000;
    work.SymbolicLink = Item.VersionMadeBy >> 8 == kUnixHost && (Item.ExternalAttr >> 16 & kTypeBits) == kLinkType;
    FWork = work;
    // A cipher block in either extra field marks the member.
    CipherBlockId = work.CipherBlock ? work.CipherBlock : Item.CipherBlock;
    Encrypted = (work.Flags & kFlagEncrypted) != 0;
    SetEncryptionMethod(GetEncryptionMethodProc(work.Flags));
    MethodNumber = std::uint16_t(work.Method);
    PackedSize = Clamp64(work.PackedSize);
    UnpackedSize = Clamp64(work.UnpackedSize);
    Crc32 = work.Crc;
    ExternalAttr = Item.ExternalAttr;
    DateTime = DosDateToDateTime(work.DosDate);
    EntryIndex = Index;
    NameEntry(Name);
    ExtractMemberProc(Index, Item.ExternalAttr);
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
bool TUnZip::LocalNameDiffers(std::string_view CentralRaw, std::string_view Central, std::uint16_t MadeBy,
                              TZipLocalEntry& Local)
{
    if (Local.RawName == CentralRaw)
        return false;
    Local.Name = DecodeZipEntryName(Local.RawName, Local.Header.Flags, MadeBy, Local.ExtraInfo.UnicodeName);
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
        case 0:
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 8:
        case 9:
        case 12:
        case 98:
            break;
        default:
            DoError(FileName, "", E_UNSUPPORTEDMETHOD, VolumeName);
            FDecodable = false;
        }
    }
    return FDecodable;
}

void TUnZip::ExtractMember(int Index, std::uint32_t External)
{
    const TWorkRecord work = FWork;
    // A JAR folder is told by its name alone; a ZIP one also by an empty member with the folder
    // attribute.
    const bool isDir =
        EndsWithSeparator(StoredName) || (!IsJar() && (External & FILE_ATTRIBUTE_DIRECTORY) && work.UnpackedSize == 0);
    (void)Index;
    // Its data are a name, not the file's bytes: passed over, as the TAR reader does; a test
    // still checks them.
    if (work.SymbolicLink && IsFileOutput()) {
        DoError(FileName, "symbolic link", E_SKIPPEDFILE, VolumeName);
        SkippedMemberProc(Clamp64(work.PackedSize));
        return;
    }
    if (!PrepareOutput(isDir)) {
        SkippedMemberProc(Clamp64(work.PackedSize));
        return;
    }
    if (isDir) {
        if (!CreateStoredDirs)
            return;
        if (IsFileOutput() && !MakeStoredDir(FileName, work.DosDate, work.UnixTime))
            return;
        RunningCrc.Crc32 = work.Crc;
        CheckCrc(32, work.Crc);
        return;
    }
    FMemberEncrypted = (work.Flags & kFlagEncrypted) != 0;
    // A member that cannot be decoded fails with the one report that says why.
    if (!CheckDecodable(work, false)) {
        SkippedMemberProc(Clamp64(work.PackedSize));
        DiscardOutput();
        if (OnEnd)
            OnEnd(this, FileName, false);
        return;
    }
    if (FMemberEncrypted) {
        ArchiveStream->SetPosition(work.DataPos);
        if (NoDecrypt) {
            PasswordRefused = true;
        } else if (!AcquirePassword()) {
            NoDecrypt = true;
            PasswordRefused = true;
            DoBadPassword();
        }
        if (PasswordRefused) {
            // Said as what it is: no password fits, not a member whose data is damaged.
            if (!GetCancel()) {
                SkippedMemberProc(Clamp64(work.PackedSize));
                FailEntry(E_PASSWORDFAILED);
            }
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
        CloseOutFile(out, FileName, FILE_ATTRIBUTE_ARCHIVE, work.DosDate, work.UnixTime);
        throw;
    }
    if (!decoded)
        RunningCrc.Crc32 = work.Crc ^ 1;
    std::uint32_t attr = External & 0xFF & ~std::uint32_t(FILE_ATTRIBUTE_DIRECTORY);
    CloseOutFile(out, FileName, attr == 0 ? FILE_ATTRIBUTE_ARCHIVE : attr, work.DosDate, work.UnixTime);
    CheckCrc(32, work.Crc);
}
