// LHA and LZH: the extractor's header reader, level 0 to 3.
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
        Walk.MoveTo(LhaFirstHeader(Walk.Reader(), Walk.Offset()));
    }
    void Next(TPelixWalk& Walk) override;
};

void TLhaWalker::Next(TPelixWalk& Walk)
{
    TLhaHeader h;
    if (!HeaderFollows(Walk, ReadLhaHeader(Walk.Reader(), Walk.TurnStart(), Walk.Pelix().ArchiveSize, h)))
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
    entry.Offset = Walk.TurnStart();
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeLhaWalker() { return std::make_unique<TLhaWalker>(); }
