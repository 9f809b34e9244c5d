// bzip2 files: one entry named after the archive; nothing but the file itself tells its size.
#include <algorithm>
#include <vector>

#include "core/plxBZip2.h"
#include "platform/win/SysFiles.h"
#include "readers/Pelix.h"

namespace {

// bzip2 stores no size, so the data is decoded to count it; -1 when it cannot be (damaged,
// cancelled), and the listing then shows what the file alone tells.
std::int64_t DecodedSize(TPelixWalk& Walk)
{
    TFileStream32* stream = Walk.Stream();
    if (!stream)
        return -1;
    const std::int64_t at = stream->Position();
    std::int64_t size = -1;
    try {
        TBz2Owner owner;
        owner.Cancel = Walk.Pelix().CancelPtr;
        TBzDecompressStream bz(owner, stream, 0, stream->Size());
        bz.Concatenated = true;
        std::vector<std::uint8_t> buffer(1 << 16);
        while (bz.Read(buffer.data(), std::int32_t(buffer.size())) > 0) {
        }
        size = bz.TotalOut();
    } catch (const std::exception&) {
        size = -1;
    }
    stream->SetPosition(at);
    return size;
}

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
    if (const std::int64_t decoded = DecodedSize(Walk); decoded >= 0)
        entry.Unpacked = decoded;
    entry.Method = std::uint16_t(Walk.B(3) >= '0' ? Walk.B(3) - '0' : 0);
    entry.ExternalAttr = Walk.ArchiveFileAttributes();
    entry.Offset = 11;
    Walk.ListWhole(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeBz2Walker()
{
    return std::make_unique<TBz2Walker>();
}
