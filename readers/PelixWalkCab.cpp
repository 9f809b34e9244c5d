// Cabinets: the CFFILE records of one cabinet, then those of the next cabinet of a set.
#include "core/plxGbls.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/Pelix.h"

namespace {

constexpr std::uint32_t kCabSignature = 0x4643534D;  // "MSCF"
constexpr std::uint16_t kCabPrevious = 1, kCabNext = 2, kCabReserve = 4;
constexpr std::uint16_t kNameIsUtf8 = 0x80;
constexpr std::uint16_t kContinuedFromPrevious = 0xFFFD, kContinuedBoth = 0xFFFF;

std::uint16_t Le16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t Le32(const std::uint8_t* p) { return std::uint32_t(Le16(p) | std::uint32_t(Le16(p + 2)) << 16); }

}  // namespace

bool TPelix::ReadCabHeader(std::int64_t Base)
{
    std::uint8_t h[36] = {};
    if (ReadAt(Base, h, 36) != 36 || Le32(h) != kCabSignature)
        return false;
    FCab = {};
    FCab.VersionMinor = h[24];
    FCab.VersionMajor = h[25];
    FCab.FolderCount = Le16(h + 26);
    FCab.FileCount = Le16(h + 28);
    FCab.Flags = Le16(h + 30);
    FCab.FilesOffset = Le32(h + 16);
    FCab.FilesLeft = FCab.FileCount;
    std::int64_t pos = Base + 36;
    if (FCab.Flags & kCabReserve) {
        std::uint8_t r[4] = {};
        if (ReadAt(pos, r, 4) != 4)
            return false;
        pos += 4 + Le16(r);
    }
    const auto readName = [&](std::string& out) {
        const std::int64_t before = pos;
        out = ReadStringAt(pos, 255);
        return pos > before;
    };
    std::string previous, disk;
    if ((FCab.Flags & kCabPrevious) && !(readName(previous) && readName(disk)))
        return false;
    if ((FCab.Flags & kCabNext) && !(readName(FCab.NextCabinet) && readName(disk)))
        return false;
    std::uint8_t folder[8] = {};
    if (ReadAt(pos, folder, 8) != 8)
        return false;
    FCab.FirstFolderType = Le16(folder + 6);
    // The file records end where the first data block starts.
    FEndOfHeaders = std::min<std::int64_t>(ArchiveSize, Base + std::int64_t(Le32(folder)));
    return true;
}

void TPelix::PrepareCab()
{
    const std::int64_t base = FCurrentOffset;
    if (!ReadCabHeader(base)) {
        DoError(FArchiveFile, "", E_BADFILEHEADER, VolumeName);
        EndWalk();
        return;
    }
    FCurrentOffset = base + FCab.FilesOffset;
}

bool TPelix::OpenNextCabinet()
{
    if (!(FCab.Flags & kCabNext) || FCab.NextCabinet.empty())
        return false;
    std::string next = win::ExtractFilePath(VolumeName) + FCab.NextCabinet;
    if (win::SameText(next, VolumeName))
        return false;
    if (!ConfirmVolume(next, VolumeCounter + 1))
        return false;
    auto stream = std::make_unique<TFileStream32>(next, fmOpenRead | fmShareDenyNone);
    if (!stream->HandleValid())
        return false;
    FStream = std::move(stream);
    VolumeName = next;
    ArchiveSize = FStream->Size();
    if (!ReadCabHeader(0))
        return false;
    FCurrentOffset = FCab.FilesOffset;
    FCabChained = true;
    ++FStreamGeneration;
    return true;
}

void TPelix::ReadCab()
{
    std::int64_t pos = FTurnStart + 16;
    const std::string stored = ReadStringAt(pos, 255);
    FCurrentOffset = pos;
    --FCab.FilesLeft;
    const std::uint16_t folder = W(8);
    const std::uint16_t attr = W(14);
    // A file that continues from the previous cabinet was listed there.
    const bool listed = FCabChained && (folder == kContinuedFromPrevious || folder == kContinuedBoth);
    if (!listed) {
        TPelixEntry entry;
        entry.Name = (attr & kNameIsUtf8) ? ToDosSeparators(stored) : OemName(stored);
        entry.Date = DosDateTimeToDateTime(SwapWords(L(10)));
        entry.VersionMadeBy = FCab.VersionMinor;
        entry.VersionNeeded = FCab.VersionMajor;
        entry.Packed = entry.Unpacked = L(0);
        entry.Method = FCab.FirstFolderType;
        entry.ExternalAttr = attr;
        entry.Directory = (attr & 0x10) != 0;
        entry.RatioZero = true;
        entry.Offset = FTurnStart;
        ListEntry(entry);
    }
    if (FCab.FilesLeft <= 0 || FCurrentOffset >= FEndOfHeaders) {
        if (!OpenNextCabinet())
            EndWalk();
    }
}
