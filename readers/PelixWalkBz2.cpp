// bzip2 files: one entry named after the archive; nothing but the file itself tells its size.
#include <algorithm>

#include "platform/win/SysFiles.h"
#include "readers/Pelix.h"

namespace {

class TBz2Walker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override { Walk.SetHeaderSize(10); }
    void Next(TPelixWalk& Walk) override;
};

void TBz2Walker::Next(TPelixWalk& Walk)
{
    Walk.End();
    if (!(Walk.B(0) == 'B' && Walk.B(1) == 'Z' && Walk.B(2) == 'h')) {
        Walk.Fail(E_BADFILEHEADER);
        return;
    }
    TPelixEntry entry;
    entry.Name = PelixMemberName(win::ExtractFileName(Walk.Pelix().ArchiveFile()), {".bz", ".bz2", ".bzip", ".bzip2"},
                                 {".tbz", ".tbz2"});
    entry.Date = Walk.ArchiveFileDate();
    entry.Packed = entry.Unpacked = std::max<std::int64_t>(Walk.Pelix().ArchiveSize - 10, 0);
    entry.Method = std::uint16_t(Walk.B(3) >= '0' ? Walk.B(3) - '0' : 0);
    entry.ExternalAttr = Walk.ArchiveFileAttributes();
    entry.Offset = 11;
    Walk.ListWhole(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeBz2Walker() { return std::make_unique<TBz2Walker>(); }
