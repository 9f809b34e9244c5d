// ZIP and JAR: the central directory when there is one, else the local headers.
#include <algorithm>
#include <cstdio>

#include "core/Endian.h"
#include "core/ZipRecords.h"
#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

bool HasState(THeaderTypeState s, THeaderType t)
{
    return (s & HeaderBit(t)) != 0;
}

// The real method of an AES entry, from its 0x9901 block; -1 when there is none.
int AesMethodOf(std::string_view Extra)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(Extra.data());
    std::size_t pos = 0;
    while (pos + 4 <= Extra.size()) {
        const std::uint16_t id = GetLE16(bytes + pos);
        const std::size_t size = GetLE16(bytes + pos + 2);
        if (pos + 4 + size > Extra.size())
            break;
        if (id == kExtraAes && size >= 7)
            return GetLE16(bytes + pos + 4 + 5);
        pos += 4 + size;
    }
    return -1;
}

std::int64_t LessCipherHeader(std::int64_t Packed, bool Encrypted, bool Applies)
{
    return Encrypted && Applies && Packed >= 12 ? Packed - 12 : Packed;
}

std::int64_t Clamped(std::uint64_t Value, std::int64_t Max = INT64_MAX)
{
    return std::int64_t(std::min<std::uint64_t>(Value, std::uint64_t(Max)));
}

class TZipWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
    void Next(TPelixWalk& Walk) override { FCentral ? NextCentral(Walk) : NextLocal(Walk); }
    // The end record is shorter than a central header: the walk ends here as in a sound archive.
    void CutShort(TPelixWalk& Walk) override { ReportLostEntries(Walk); }

private:
    void NextCentral(TPelixWalk& Walk);
    void NextLocal(TPelixWalk& Walk);
    // A directory that ends before the entries its end record counts has lost some of them.
    void ReportLostEntries(TPelixWalk& Walk)
    {
        if (FCentral && FWalked < FClaimed)
            Walk.Fail(E_BADFILEHEADER);
    }
    // The ending's records and the detection state agree, or the caller chose to go on.
    bool AcceptHeaderState(TPelixWalk& Walk, THeaderTypeState State, bool Empty);

    bool FCentral = false;
    std::uint32_t FLastDisk = 0;
    bool FLocalReported = false;
    std::uint64_t FClaimed = 0;  // the entries the end record counts
    std::uint64_t FWalked = 0;   // central entries read, whether listed or not
    TSpanDiskReader FDiskSpann;
};

bool TZipWalker::AcceptHeaderState(TPelixWalk& Walk, THeaderTypeState State, bool Empty)
{
    TPelix& p = Walk.Pelix();
    const TArcType type = p.ArcType();
    if (type == atZipMV || type == atZipDS || (HasState(State, htCentral) && HasState(State, htEnding)))
        return true;
    // An end record that counts no entries is an empty archive, not a damaged one.
    if (Empty)
        return false;
    // Without a host to ask, the damage is said as damage and the local headers are listed.
    if (!p.OnCorruptZipHeader) {
        p.DoError(p.ArchiveFile(), "", E_BADFILEHEADER, p.VolumeName);
        return true;
    }
    bool cancel = true;
    p.OnCorruptZipHeader(&p, State, cancel);
    return !cancel;
}

void TZipWalker::Open(TPelixWalk& Walk)
{
    TPelix& p = Walk.Pelix();
    // The disk in the drive may already hold the set's end: then there is nothing to ask for.
    if (p.ArcType() == atZipDS && !HasState(p.HeaderTypeState, htEnding)) {
        FDiskSpann.Init(
            &p, &p, p.CancelPtr, {}, {},
            [&p](const std::string& f, const std::string& x, const std::string& v, int e) { p.DoError(f, x, e, v); });
        if (!FDiskSpann.OpenDisk(0) || !Walk.Stream()) {
            Walk.End();
            return;
        }
        // The last disk of a one-disk set reads as a plain ZIP; on this drive it is still disk 1.
        if (p.ArcType() == atZip)
            Walk.SetArcType(atZipDS);
        p.ArchiveSize = Walk.Stream()->Size();
        Walk.SetEndOfHeaders(p.ArchiveSize);
    }
    TZipEnding ending;
    const std::int64_t found = FindZipEnding(StreamZipReader(*Walk.Stream()), p.ArchiveSize, ending);
    FLastDisk =
        std::max<std::uint32_t>(ending.DiskNumber, ending.Large ? ending.LargeEnd.DiskNumber : ending.End.DiskNumber);
    // Without a detection run the records found here tell the state.
    THeaderTypeState state = p.HeaderTypeState ? p.HeaderTypeState : ending.Headers;
    const bool empty =
        ending.EndPos >= 0 && ending.TotalEntries == 0 && !HasState(state, htCentral) && !HasState(state, htLocal);
    if (!AcceptHeaderState(Walk, state, empty)) {
        Walk.End();
        return;
    }
    if (!HasState(state, htCentral) || ending.CentralPos < 0)
        state = HeaderBit(htLocal);
    p.HeaderTypeState = state;
    if (state == HeaderBit(htLocal)) {
        std::int64_t at = ending.FirstLocalPos >= 0 ? ending.FirstLocalPos : std::max<std::int64_t>(p.ArchiveOffset, 0);
        std::uint8_t sig[4] = {};
        if (Walk.ReadAt(at, sig, 4) < 4) {
            Walk.End();
            return;
        }
        if (GetLE32(sig) == kSigMarker) {
            at += 4;
            Walk.ReadAt(at, sig, 4);
        }
        if (!IsLocalHeaderSig(GetLE32(sig))) {
            Walk.End();
            return;
        }
        Walk.MoveTo(at);
        Walk.SetHeaderSize(30);
        return;
    }
    if (found < 0) {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    FCentral = true;
    // Only a directory that starts on the end record's volume is walked here whole.
    FClaimed = ending.CentralDisk == ending.DiskNumber ? ending.TotalEntries : 0;
    Walk.MoveTo(ending.CentralPos);
    Walk.SetHeaderSize(46);
}

void TZipWalker::NextCentral(TPelixWalk& Walk)
{
    TPelix& p = Walk.Pelix();
    TZipEntry e;
    if (!ReadCentralEntry(StreamZipReader(*Walk.Stream()), p.ArchiveSize, Walk.TurnStart(), p.HeaderCipher, e)) {
        if (p.FileCount == 0)
            Walk.Fail(E_BADFILEHEADER);
        else
            ReportLostEntries(Walk);
        Walk.End();
        return;
    }
    ++FWalked;
    const TArcType type = p.ArcType();
    if ((type == atZip || type == atJar || type == atJarExe) && !HasState(p.HeaderTypeState, htLocal) &&
        !FLocalReported) {
        FLocalReported = true;
        Walk.Fail(E_BADFILEHEADER);
    }
    const TCentralHeader& h = e.Header;
    TPelixEntry entry;
    entry.Name = e.Name;
    entry.ZipCentral = true;
    entry.Directory = (h.ExternalAttributes & 0x10) != 0;
    entry.Date = DosDateTimeToDateTime(std::uint32_t(h.DosTime) | std::uint32_t(h.DosDate) << 16);
    entry.VersionMadeBy = h.VersionMadeBy;
    entry.VersionNeeded = h.VersionNeeded;
    entry.Encrypted = (h.Flags & kFlagEncrypted) != 0;
    entry.Packed = LessCipherHeader(Clamped(e.Sizes.PackedSize), entry.Encrypted, h.Method != 99);
    entry.Unpacked = Clamped(e.Sizes.UnpackedSize);
    entry.Crc = h.Crc;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.Facts.Attributes = h.ExternalAttributes;
    entry.Facts.AesMethod = AesMethodOf(e.Extra);
    entry.NoMethodName = (h.ExternalAttributes & 0x18) != 0;
    entry.InternalAttr = h.InternalAttributes;
    // The DOS word only: a Unix host keeps its mode in the high word.
    entry.ExternalAttr = h.ExternalAttributes & 0xFFFF;
    // Stored offsets count from the archive's start, behind any stub.
    entry.Offset = Clamped(e.Sizes.LocalOffset);
    const std::uint32_t disk = e.Sizes.DiskStart;
    if (type == atZipDS) {
        char label[24];
        std::snprintf(label, sizeof label, "PKBACK# %.3u", unsigned(disk + 1) % 1000u);
        entry.VolumeName = label;
    } else if (type == atZipMV) {
        p.VolumeCounter = int(disk);
        // The last part of a split set is the archive itself; the others are .z01, .z02, ...
        entry.VolumeName = disk >= FLastDisk ? p.ArchiveFile() : p.NumberedSplitName(p.ArchiveFile(), int(disk) + 1);
    }
    if (!e.Comment.empty())
        Walk.SetComment(std::move(e.Comment));
    Walk.MoveTo(e.NextPos);
    Walk.List(entry);
}

void TZipWalker::NextLocal(TPelixWalk& Walk)
{
    TPelix& p = Walk.Pelix();
    TZipLocalEntry e;
    if (!ReadLocalEntry(StreamZipReader(*Walk.Stream()), p.ArchiveSize, Walk.TurnStart(), p.HeaderCipher, e)) {
        if (p.FileCount == 0)
            Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    const TLocalHeader& h = e.Header;
    TPelixEntry entry;
    entry.Name = e.Name;
    entry.Date = DosDateTimeToDateTime(std::uint32_t(h.DosTime) | std::uint32_t(h.DosDate) << 16);
    entry.VersionMadeBy = entry.VersionNeeded = h.VersionNeeded;
    entry.Encrypted = (h.Flags & kFlagEncrypted) != 0;
    const std::int64_t stored = Clamped(e.Sizes.PackedSize, INT64_MAX / 2);
    entry.Packed = LessCipherHeader(stored, entry.Encrypted, true);
    entry.Unpacked = Clamped(e.Sizes.UnpackedSize);
    entry.Crc = h.Crc;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.Facts.AesMethod = AesMethodOf(e.Extra);
    entry.Offset = Walk.TurnStart();
    Walk.MoveTo(e.DataPos + stored);
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeZipWalker()
{
    return std::make_unique<TZipWalker>();
}
