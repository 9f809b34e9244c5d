// ARJ: the main header, then the file headers up to the end marker.
#include "core/plxGbls.h"
#include "readers/ArjFormat.h"
#include "readers/Pelix.h"

namespace {

class TArjWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
    void Next(TPelixWalk& Walk) override;
    // The archive ends with its end marker, never before it.
    void CutShort(TPelixWalk& Walk) override { Walk.Fail(E_BADFILEHEADER); }
};

void TArjWalker::Open(TPelixWalk& Walk)
{
    Walk.SetHeaderSize(4);
    TArjHeader main;
    if (ReadArjMainHeader(Walk.Reader(), Walk.Offset(), main) != THeaderStatus::Header) {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    Walk.MoveTo(main.DataOffset);
}

void TArjWalker::Next(TPelixWalk& Walk)
{
    TArjHeader h;
    if (!HeaderFollows(Walk, ReadArjHeader(Walk.Reader(), Walk.TurnStart(), h)))
        return;
    TPelixEntry entry;
    entry.Name = ArjNameToUtf8(h);
    entry.Date = ArjDateTime(h);
    entry.VersionMadeBy = h.Version;
    entry.VersionNeeded = h.MinVersion;
    entry.Packed = h.PackedSize;
    entry.Unpacked = h.UnpackedSize;
    entry.Crc = h.Crc;
    entry.Encrypted = h.Garbled();
    entry.Method = h.Method;
    entry.Facts.FileType = h.FileType;
    entry.Directory = h.IsDirectory();
    entry.ExternalAttr = ArjAttributes(h);
    entry.Offset = Walk.TurnStart();
    Walk.MoveTo(h.NextOffset);
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeArjWalker()
{
    return std::make_unique<TArjWalker>();
}
