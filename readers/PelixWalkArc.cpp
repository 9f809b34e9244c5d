// ARC and PAK: headers chained by their packed sizes; folders nest by methods 30 and 31.
#include <algorithm>

#include "core/plxGbls.h"
#include "readers/ArcFormat.h"
#include "readers/Pelix.h"

namespace {

class TArcWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        FChain = TArcHeaderChain(Walk.Offset());
        Walk.SetHeaderSize(2);  // the marker and the method: enough to tell the end record
    }
    void Next(TPelixWalk& Walk) override;
    // A member's data that runs past the end, or a header too short to read, was cut short.
    void CutShort(TPelixWalk& Walk) override
    {
        const std::int64_t size = Walk.Pelix().ArchiveSize;
        if (Walk.Offset() > size || (Walk.Offset() < size && !OnlyPadding(Walk, Walk.Offset())))
            Walk.Fail(E_BADFILEHEADER);
    }

private:
    static bool OnlyPadding(TPelixWalk& Walk, std::int64_t From);

    TArcHeaderChain FChain{0};
};

bool TArcWalker::OnlyPadding(TPelixWalk& Walk, std::int64_t From)
{
    std::uint8_t rest[1024];
    const std::int64_t left = Walk.Pelix().ArchiveSize - From;
    if (left > std::int64_t(sizeof rest))
        return false;
    const std::int64_t got = Walk.ReadAt(From, rest, left);
    // Transfers pad to their block of 128 bytes.
    return got == left && Walk.Pelix().ArchiveSize % 128 == 0 &&
           std::all_of(rest, rest + got, [](std::uint8_t b) { return b == 0x1A || b == 0; });
}

void TArcWalker::Next(TPelixWalk& Walk)
{
    TArcHeader h;
    std::string folder;
    const THeaderStatus status = FChain.Next(Walk.Reader(), h, folder);
    if (status != THeaderStatus::Header) {
        // Padding after the members (a transfer's blocks of SUB or zero bytes) leaves the listing
        // as it is; a header cut short or damaged is reported.
        if (status == THeaderStatus::Corrupt && (Walk.Pelix().FileCount == 0 || !OnlyPadding(Walk, Walk.TurnStart())))
            Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    TPelixEntry entry;
    entry.Name = Walk.OemName(folder + h.Name);
    entry.Packed = h.PackedSize;
    entry.Unpacked = h.UnpackedSize;
    entry.Date = DosDateTimeToDateTime(h.Stamp);
    entry.Crc = h.Crc;
    entry.Method = h.Method;
    entry.Facts.HeaderType = h.Method;
    entry.Directory = h.IsFolder();
    entry.ExternalAttr = entry.Directory ? 16 : 32;
    entry.Offset = h.Offset;
    Walk.MoveTo(FChain.Position());
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeArcWalker()
{
    return std::make_unique<TArcWalker>();
}
