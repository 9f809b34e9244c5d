// Cabinets: the CFFILE records of one cabinet, then those of the next cabinet of a set.
#include <algorithm>

#include "core/Endian.h"
#include "core/plxGbls.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/Pelix.h"
#include "readers/plxCabGbls.h"

namespace {

constexpr std::uint32_t kCabSignature = 0x4643534D;  // "MSCF"
constexpr std::uint16_t kCabPrevious = 1, kCabNext = 2, kCabReserve = 4;
constexpr std::uint16_t kContinuedFromPrevious = 0xFFFD, kContinuedBoth = 0xFFFF;

class TCabWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
    void Next(TPelixWalk& Walk) override;
    // The file table ended before the files the cabinet counts.
    void CutShort(TPelixWalk& Walk) override;

private:
    // The cabinet header at Base; false when it is not one or is cut short.
    bool ReadCabinet(TPelixWalk& Walk, std::int64_t Base);
    bool OpenNextCabinet(TPelixWalk& Walk);

    std::uint16_t FFlags = 0;
    std::uint8_t FVersionMinor = 0, FVersionMajor = 0;
    std::uint32_t FFilesOffset = 0;
    std::uint16_t FFirstFolderType = 0;
    std::string FNextCabinet;
    int FFilesLeft = 0;
    bool FChained = false;
};

bool TCabWalker::ReadCabinet(TPelixWalk& Walk, std::int64_t Base)
{
    std::uint8_t h[36] = {};
    if (Walk.ReadAt(Base, h, 36) != 36 || GetLE32(h) != kCabSignature)
        return false;
    FVersionMinor = h[24];
    FVersionMajor = h[25];
    FFlags = GetLE16(h + 30);
    FFilesOffset = GetLE32(h + 16);
    FFilesLeft = GetLE16(h + 28);
    FFirstFolderType = 0;
    FNextCabinet.clear();
    std::int64_t pos = Base + 36;
    if (FFlags & kCabReserve) {
        std::uint8_t r[4] = {};
        if (Walk.ReadAt(pos, r, 4) != 4)
            return false;
        pos += 4 + GetLE16(r);
    }
    const auto readName = [&](std::string& out) {
        const std::int64_t before = pos;
        out = Walk.ReadStringAt(pos, 255);
        return pos > before;
    };
    std::string previous, disk;
    if ((FFlags & kCabPrevious) && !(readName(previous) && readName(disk)))
        return false;
    if ((FFlags & kCabNext) && !(readName(FNextCabinet) && readName(disk)))
        return false;
    std::uint8_t folder[8] = {};
    if (Walk.ReadAt(pos, folder, 8) != 8)
        return false;
    FFirstFolderType = GetLE16(folder + 6);
    // The file records end where the first data block starts.
    Walk.SetEndOfHeaders(std::min<std::int64_t>(Walk.Pelix().ArchiveSize, Base + std::int64_t(GetLE32(folder))));
    return true;
}

void TCabWalker::Open(TPelixWalk& Walk)
{
    Walk.SetHeaderSize(16);
    const std::int64_t base = Walk.Offset();
    if (!ReadCabinet(Walk, base)) {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    // A cabinet shorter than its header says was cut short.
    std::uint8_t size[4] = {};
    if (Walk.ReadAt(base + 8, size, 4) == 4 && GetLE32(size) > Walk.Pelix().ArchiveSize - base)
        Walk.Fail(E_BADFILEHEADER);
    Walk.MoveTo(base + FFilesOffset);
}

bool TCabWalker::OpenNextCabinet(TPelixWalk& Walk)
{
    TPelix& p = Walk.Pelix();
    if (!(FFlags & kCabNext) || FNextCabinet.empty())
        return false;
    std::string next = win::ExtractFilePath(p.VolumeName) + FNextCabinet;
    if (win::SameText(next, p.VolumeName))
        return false;
    if (!p.ConfirmVolume(next, p.VolumeCounter + 1))
        return false;
    auto stream = std::make_unique<TFileStream32>(next, fmOpenRead | fmShareDenyNone);
    if (!stream->HandleValid())
        return false;
    Walk.SwitchStream(std::move(stream));
    p.VolumeName = next;
    if (!ReadCabinet(Walk, 0))
        return false;
    Walk.MoveTo(FFilesOffset);
    FChained = true;
    return true;
}

void TCabWalker::Next(TPelixWalk& Walk)
{
    std::int64_t pos = Walk.TurnStart() + 16;
    const std::string stored = Walk.ReadStringAt(pos, 255);
    Walk.MoveTo(pos);
    --FFilesLeft;
    const std::uint16_t folder = Walk.W(8);
    const std::uint16_t attr = Walk.W(14);
    // A file that continues from the previous cabinet was listed there.
    const bool listed = FChained && (folder == kContinuedFromPrevious || folder == kContinuedBoth);
    if (!listed) {
        TPelixEntry entry;
        CabNameToProgram(stored, attr, entry.Name);
        entry.Date = DosDateTimeToDateTime(SwapWords(Walk.L(10)));
        entry.VersionMadeBy = FVersionMinor;
        entry.VersionNeeded = FVersionMajor;
        entry.Packed = entry.Unpacked = Walk.L(0);
        entry.Method = FFirstFolderType;
        entry.ExternalAttr = attr;
        entry.Directory = (attr & 0x10) != 0;
        entry.RatioZero = true;
        entry.Offset = Walk.TurnStart();
        Walk.List(entry);
    }
    if (FFilesLeft > 0 && Walk.Offset() < Walk.EndOfHeaders())
        return;
    const bool filesLost = FFilesLeft > 0;
    if (OpenNextCabinet(Walk))
        return;
    if (filesLost)
        Walk.Fail(E_BADFILEHEADER);
    Walk.End();
}

void TCabWalker::CutShort(TPelixWalk& Walk)
{
    if (FFilesLeft > 0)
        Walk.Fail(E_BADFILEHEADER);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeCabWalker()
{
    return std::make_unique<TCabWalker>();
}
