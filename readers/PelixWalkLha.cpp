// LHA and LZH: the extractor's header reader, level 0 to 3.
#include <algorithm>

#include "core/plxGbls.h"
#include "readers/LhaFormat.h"
#include "readers/Pelix.h"
#include "readers/plxUnLha.h"

namespace {

class TLhaWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(22);
        const TArcType type = Walk.Pelix().ArcType();
        if ((type == atLha || type == atLzh) && Walk.Offset() > 0 && LhaDamagedHeaderAt(Walk.Reader(), 0))
            Walk.Fail(E_BADFILEHEADER);
        Walk.MoveTo(LhaFirstHeader(Walk.Reader(), Walk.Offset()));
    }
    void Next(TPelixWalk& Walk) override;
    // Data cut short, or a header too short to read: anything but the closing zeros.
    void CutShort(TPelixWalk& Walk) override
    {
        const std::int64_t left = Walk.Pelix().ArchiveSize - Walk.Offset();
        std::uint8_t tail[kLhaBaseHeaderSize] = {};
        const bool zeros = left >= 0 && Walk.ReadAt(Walk.Offset(), tail, left) == left &&
                           std::all_of(tail, tail + left, [](std::uint8_t b) { return b == 0; });
        if (!zeros)
            Walk.Fail(E_BADFILEHEADER);
    }
};

void TLhaWalker::Next(TPelixWalk& Walk)
{
    TLhaHeader h;
    if (!HeaderFollows(Walk, ReadLhaHeaderPastGap(Walk.Reader(), Walk.TurnStart(), Walk.Pelix().ArchiveSize, h)))
        return;
    Walk.MoveTo(h.NextOffset);
    TPelixEntry entry;
    entry.Name = LhaNameToUtf8(h.Name);
    entry.Date = h.UnixStamp ? UnixToDateTime(std::int64_t(h.Stamp)) : DosDateTimeToDateTime(h.Stamp);
    entry.Crc = h.Crc;
    entry.Directory = h.IsDirectory();
    entry.Packed = h.PackedSize;
    entry.Unpacked = h.UnpackedSize;
    entry.Method = std::uint8_t(h.MethodChar());
    entry.InternalAttr = 32;
    entry.ExternalAttr = h.Attributes;
    entry.Offset = h.Offset;
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeLhaWalker()
{
    return std::make_unique<TLhaWalker>();
}
