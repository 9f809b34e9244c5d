// ARC and PAK: headers chained by their packed sizes; folders nest by methods 30 and 31.
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

private:
    TArcHeaderChain FChain{0};
};

void TArcWalker::Next(TPelixWalk& Walk)
{
    TArcHeader h;
    std::string folder;
    const THeaderStatus status = FChain.Next(Walk.Reader(), h, folder);
    if (status != THeaderStatus::Header) {
        // Bytes after the members that are no header leave the listing as it is.
        if (status == THeaderStatus::Corrupt && Walk.Pelix().FileCount == 0)
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

std::unique_ptr<TPelixWalker> MakeArcWalker() { return std::make_unique<TArcWalker>(); }
