// ZIP and JAR: the central directory when there is one, else the local headers.
#include <cstdio>

#include "core/ZipRecords.h"
#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

bool HasState(THeaderTypeState s, THeaderType t) { return (s & HeaderBit(t)) != 0; }

// The real method of an AES entry, from its 0x9901 block; -1 when there is none.
int AesMethodOf(const std::string& Extra)
{
    std::size_t pos = 0;
    while (pos + 4 <= Extra.size()) {
        const auto at = [&](std::size_t i) { return std::uint8_t(Extra[i]); };
        const std::uint16_t id = std::uint16_t(at(pos) | at(pos + 1) << 8);
        const std::size_t size = std::size_t(at(pos + 2) | at(pos + 3) << 8);
        if (pos + 4 + size > Extra.size())
            break;
        if (id == kExtraAes && size >= 7)
            return at(pos + 4 + 5) | at(pos + 4 + 6) << 8;
        pos += 4 + size;
    }
    return -1;
}

std::int64_t LessCipherHeader(std::int64_t Packed, bool Encrypted, bool Applies)
{
    return Encrypted && Applies && Packed >= 12 ? Packed - 12 : Packed;
}

}  // namespace

void TPelix::PrepareZip()
{
    TZipEnding ending;
    // The disk in the drive may already hold the set's end: then there is nothing to ask for.
    if (FArcType == atZipDS && !HasState(HeaderTypeState, htEnding)) {
        FDiskSpann.Init(this, this, CancelPtr, {}, {},
                        [this](const std::string& f, const std::string& x, const std::string& v, int e) {
                            DoError(f, x, e, v);
                        });
        if (!FDiskSpann.OpenDisk(0) || !FStream) {
            EndWalk();
            return;
        }
        // The last disk of a one-disk set reads as a plain ZIP; on this drive it is still disk 1.
        if (FArcType == atZip)
            FArcType = atZipDS;
        ArchiveSize = FEndOfHeaders = FStream->Size();
    }
    const std::int64_t found = FindZipEnding(StreamZipReader(*FStream), ArchiveSize, ending);
    FZipPrefix = ending.PrefixOffset;
    FZipLastDisk = std::max<std::uint32_t>(ending.DiskNumber, ending.Large ? ending.LargeEnd.DiskNumber : ending.End.DiskNumber);
    // Without a detection run the records found here tell the state.
    THeaderTypeState state = HeaderTypeState ? HeaderTypeState : ending.Headers;
    if (FArcType != atZipMV && FArcType != atZipDS &&
        !(HasState(state, htCentral) && HasState(state, htEnding))) {
        if (OnCorruptZipHeader) {
            bool cancel = true;
            OnCorruptZipHeader(this, state, cancel);
            if (cancel) {
                EndWalk();
                return;
            }
        } else {
            DoError(FArchiveFile, "OnCorruptZipHeader", E_REQUIREDEVENT, VolumeName);
        }
    }
    if (!HasState(state, htCentral) || ending.CentralPos < 0)
        state = HeaderBit(htLocal);
    HeaderTypeState = state;
    std::uint8_t sig[4] = {};
    if (state == HeaderBit(htLocal)) {
        FCurrentOffset = ending.FirstLocalPos >= 0 ? ending.FirstLocalPos : std::max<std::int64_t>(ArchiveOffset, 0);
        if (ReadAt(FCurrentOffset, sig, 4) < 4) {
            EndWalk();
            return;
        }
        std::uint32_t s = std::uint32_t(sig[0] | sig[1] << 8 | sig[2] << 16 | std::uint32_t(sig[3]) << 24);
        if (s == kSigMarker) {
            FCurrentOffset += 4;
            ReadAt(FCurrentOffset, sig, 4);
            s = std::uint32_t(sig[0] | sig[1] << 8 | sig[2] << 16 | std::uint32_t(sig[3]) << 24);
        }
        if (!IsLocalHeaderSig(s)) {
            EndWalk();
            return;
        }
        FHeaderSize = 30;
        FStep = &TPelix::ReadZipLocal;
        return;
    }
    if (found < 0) {
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    FCurrentOffset = ending.CentralPos;
    FHeaderSize = 46;
    FStep = &TPelix::ReadZipCentral;
}

void TPelix::ReadZipCentral()
{
    TZipEntry e;
    if (!ReadCentralEntry(StreamZipReader(*FStream), ArchiveSize, FTurnStart, HeaderCipher, e)) {
        if (FileCount == 0)
            DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    if ((FArcType == atZip || FArcType == atJar || FArcType == atJarExe) && !HasState(HeaderTypeState, htLocal) &&
        !FZipLocalReported) {
        FZipLocalReported = true;
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
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
    entry.Packed = LessCipherHeader(std::int64_t(std::min<std::uint64_t>(e.Sizes.PackedSize, INT64_MAX)),
                                    entry.Encrypted, h.Method != 99);
    entry.Unpacked = std::int64_t(std::min<std::uint64_t>(e.Sizes.UnpackedSize, INT64_MAX));
    entry.Crc = h.Crc;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.Facts.Attributes = h.ExternalAttributes;
    entry.Facts.AesMethod = AesMethodOf(e.Extra);
    entry.NoMethodName = (h.ExternalAttributes & 0x18) != 0;
    entry.InternalAttr = h.InternalAttributes;
    entry.ExternalAttr = h.ExternalAttributes;
    // Stored offsets count from the archive's start, behind any stub (FZipPrefix).
    entry.Offset = std::int64_t(std::min<std::uint64_t>(e.Sizes.LocalOffset, INT64_MAX));
    const std::uint32_t disk = e.Sizes.DiskStart;
    if (FArcType == atZipDS) {
        char label[24];
        std::snprintf(label, sizeof label, "PKBACK# %.3u", unsigned(disk + 1) % 1000u);
        entry.VolumeName = label;
    } else if (FArcType == atZipMV) {
        VolumeCounter = int(disk);
        // The last part of a split set is the archive itself; the others are .z01, .z02, ...
        entry.VolumeName = disk >= FZipLastDisk ? FArchiveFile : NumberedSplitName(FArchiveFile, int(disk) + 1);
    }
    // The entry comment is 16-bit long; the comment buffer is smaller.
    if (!e.Comment.empty())
        FComment = e.Comment.substr(0, kCommentBufferSize - 1);
    FCurrentOffset = e.NextPos;
    ListEntry(entry);
}

void TPelix::ReadZipLocal()
{
    TZipLocalEntry e;
    if (!ReadLocalEntry(StreamZipReader(*FStream), ArchiveSize, FTurnStart, HeaderCipher, e)) {
        if (FileCount == 0)
            DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    const TLocalHeader& h = e.Header;
    TPelixEntry entry;
    entry.Name = e.Name;
    entry.Date = DosDateTimeToDateTime(std::uint32_t(h.DosTime) | std::uint32_t(h.DosDate) << 16);
    entry.VersionMadeBy = entry.VersionNeeded = h.VersionNeeded;
    entry.Encrypted = (h.Flags & kFlagEncrypted) != 0;
    const std::int64_t stored = std::int64_t(std::min<std::uint64_t>(e.Sizes.PackedSize, INT64_MAX / 2));
    entry.Packed = LessCipherHeader(stored, entry.Encrypted, true);
    entry.Unpacked = std::int64_t(std::min<std::uint64_t>(e.Sizes.UnpackedSize, INT64_MAX));
    entry.Crc = h.Crc;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.Facts.AesMethod = AesMethodOf(e.Extra);
    entry.Offset = FTurnStart;
    FCurrentOffset = e.DataPos + stored;
    ListEntry(entry);
}
