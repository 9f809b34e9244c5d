// BH: the extractor's header reader.
#include "core/plxGbls.h"
#include "readers/BhFormat.h"
#include "readers/Pelix.h"

namespace {

class TBhWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(37);
        // A plain archive starts with a header: bytes before the first one found were a member.
        if (Walk.Pelix().ArcType() == atBh && Walk.Offset() > 0)
            Walk.Fail(E_BADFILEHEADER);
    }
    void Next(TPelixWalk& Walk) override;
    void CutShort(TPelixWalk& Walk) override
    {
        if (Walk.Offset() != Walk.Pelix().ArchiveSize)
            Walk.Fail(E_BADFILEHEADER);
    }
};

void TBhWalker::Next(TPelixWalk& Walk)
{
    TBhHeader h;
    if (!HeaderFollows(Walk, ReadBhHeader(Walk.Reader(), Walk.TurnStart(), h)))
        return;
    TPelixEntry entry;
    entry.Name = BhNameToUtf8(h.Name);
    entry.Encrypted = h.Encrypted();
    entry.Packed = h.DataSize();
    entry.Unpacked = h.UnpackedSize;
    entry.Crc = h.Crc;
    entry.Date = DosDateTimeToDateTime(h.DosDateTime);
    entry.VersionMadeBy = h.Version;
    entry.VersionNeeded = h.Version2;
    entry.Method = h.Method;
    entry.MethodFlags = h.Flags;
    entry.ExternalAttr = h.Attributes;
    entry.Offset = Walk.TurnStart();
    Walk.MoveTo(h.NextOffset());
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeBhWalker()
{
    return std::make_unique<TBhWalker>();
}
