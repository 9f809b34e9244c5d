// ZOO: the archive header with its comment, then the chain of directory entries.
#include "core/plxGbls.h"
#include "readers/Pelix.h"
#include "readers/ZooFormat.h"

namespace {

class TZooWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(kZooEntrySize);
        Walk.MoveTo(0);
    }
    void Next(TPelixWalk& Walk) override { FFirst ? ArchiveHeader(Walk) : Entry(Walk); }
    // The chain ends with an entry that points nowhere, never with the file.
    void CutShort(TPelixWalk& Walk) override { Walk.Fail(E_BADFILEHEADER); }

private:
    void ArchiveHeader(TPelixWalk& Walk);
    void Entry(TPelixWalk& Walk);

    bool FFirst = true;
};

void TZooWalker::ArchiveHeader(TPelixWalk& Walk)
{
    FFirst = false;
    TZooArchiveHeader header;
    if (!ReadZooArchiveHeader(Walk.Reader(), header)) {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    if (header.CommentLength > 0)
        Walk.ReadComment(header.CommentOffset, header.CommentLength);
    Walk.MoveTo(header.Start);
    Walk.NotAnEntry();
}

void TZooWalker::Entry(TPelixWalk& Walk)
{
    TZooEntry e;
    if (!HeaderFollows(Walk, ReadZooEntry(Walk.Reader(), Walk.TurnStart(), e)))
        return;
    Walk.MoveTo(e.NextOffset);  // the walk refuses a pointer that does not move on
    if (e.Deleted)              // a deleted entry stays in the chain
        return;
    if (e.CommentLength > 0)
        Walk.ReadComment(e.CommentOffset, e.CommentLength);
    TPelixEntry entry;
    entry.Name = Walk.OemName(e.Name);
    entry.Date = DosDateTimeToDateTime(e.Stamp);
    entry.VersionMadeBy = e.VersionMadeBy;
    entry.VersionNeeded = e.VersionNeeded;
    entry.Packed = e.PackedSize;
    entry.Unpacked = e.UnpackedSize;
    entry.Crc = e.Crc;
    entry.Method = e.Method;
    entry.Offset = e.Offset;
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeZooWalker()
{
    return std::make_unique<TZooWalker>();
}
