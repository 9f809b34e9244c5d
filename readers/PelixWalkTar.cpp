// TAR: the extractor's reader and names, so that what is listed is what comes out, under the same name.
#include <algorithm>

#include "core/plxGbls.h"
#include "readers/Pelix.h"
#include "readers/plxUnTar.h"

namespace {

class TTarWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override { Walk.SetHeaderSize(512); }
    void Next(TPelixWalk& Walk) override;
    void CutShort(TPelixWalk& Walk) override;

private:
    static void Report(TPelixWalk& Walk, TTarReadStatus Status);

    std::unique_ptr<TTarReader> FReader;
};

void TTarWalker::Next(TPelixWalk& Walk)
{
    if (!FReader)
        FReader = std::make_unique<TTarReader>(Walk.Reader(), Walk.Pelix().ArchiveSize);
    TTarEntry tar;
    if (const TTarReadStatus status = FReader->Next(tar); status != TTarReadStatus::Entry) {
        Report(Walk, status);
        Walk.End();
        return;
    }
    Walk.MoveTo(FReader->Offset());
    const std::string name = TarEntryName(tar);
    if (name.empty() || !TarEntryExtracted(tar))
        return;
    TPelixEntry entry;
    entry.Name = name;
    std::replace(entry.Name.begin(), entry.Name.end(), '/', '\\');
    entry.Directory = tar.IsDirectory();
    entry.Date = UnixToDateTime(tar.MTime);
    entry.Unpacked = tar.Sparse ? tar.SparseData.RealSize : tar.Size;
    entry.Packed = tar.Size;
    entry.Crc = tar.Checksum;
    entry.ExternalAttr = entry.Directory ? 0x10 : 0;
    entry.Offset = tar.HeaderOffset;
    Walk.List(entry);
}

// As the extractor says it: what came before is listed, the damage is not passed over.
void TTarWalker::Report(TPelixWalk& Walk, TTarReadStatus Status)
{
    if (Status == TTarReadStatus::Truncated)
        Walk.Fail(E_UNEXPECTEDEOF);
    else if (Status == TTarReadStatus::Corrupt)
        Walk.Fail(E_BADFILEHEADER);
}

void TTarWalker::CutShort(TPelixWalk& Walk)
{
    if (!FReader)
        FReader = std::make_unique<TTarReader>(Walk.Reader(), Walk.Pelix().ArchiveSize);
    TTarEntry tar;
    Report(Walk, FReader->Next(tar));
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeTarWalker()
{
    return std::make_unique<TTarWalker>();
}
