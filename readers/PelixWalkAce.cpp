// ACE: the main header, then file headers; other blocks are skipped with the data they announce.
#include <algorithm>
#include <string_view>

#include "core/Endian.h"
#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

constexpr std::size_t kMainHeaderSize = 31;
constexpr std::uint8_t kFileBlock = 1;
constexpr std::uint16_t kFlagAddSize = 1, kFlagPassword = 0x4000;

class TAceWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
    void Next(TPelixWalk& Walk) override;
    void CutShort(TPelixWalk& Walk) override
    {
        if (Walk.Offset() != Walk.Pelix().ArchiveSize)
            Walk.Fail(E_BADFILEHEADER);
    }

private:
    std::uint8_t FCreator = 0;
};

void TAceWalker::Open(TPelixWalk& Walk)
{
    Walk.SetHeaderSize(35);
    std::uint8_t main[kMainHeaderSize] = {};
    const std::int64_t at = Walk.Offset();
    if (Walk.ReadAt(at, main, sizeof main) != sizeof main ||
        std::string_view(reinterpret_cast<const char*>(main) + 7, 7) != "**ACE**") {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    FCreator = main[15];
    Walk.MoveTo(at + 4 + GetLE16(main + 2));
}

void TAceWalker::Next(TPelixWalk& Walk)
{
    const std::uint16_t size = Walk.W(2);
    if (size == 0) {
        Walk.End();
        return;
    }
    const std::int64_t start = Walk.TurnStart();
    const std::uint16_t flags = Walk.W(5);
    if (Walk.B(4) != kFileBlock) {
        Walk.MoveTo(start + 4 + size + ((flags & kFlagAddSize) ? std::int64_t(Walk.L(7)) : 0));
        Walk.NotAnEntry();
        return;
    }
    std::int64_t pos = start + 35;
    const std::uint16_t nameLength = std::min<std::uint16_t>(Walk.W(33), std::uint16_t(std::max(size - 31, 0)));
    TPelixEntry entry;
    entry.Name = Walk.OemName(Walk.ReadStringAtPos(pos, nameLength));
    entry.Packed = Walk.L(7);
    entry.Unpacked = Walk.L(11);
    entry.Date = DosDateTimeToDateTime(Walk.L(15));
    entry.ExternalAttr = Walk.W(19);
    entry.Directory = (entry.ExternalAttr & 0x10) != 0;
    entry.Crc = Walk.L(23);
    entry.Method = Walk.B(28);
    entry.Encrypted = (flags & kFlagPassword) != 0;
    entry.VersionMadeBy = entry.VersionNeeded = FCreator;
    entry.Offset = start;
    Walk.MoveTo(start + 4 + size + entry.Packed);
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeAceWalker()
{
    return std::make_unique<TAceWalker>();
}
