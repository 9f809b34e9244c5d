// MsGZ: file records behind a chain of blocks that starts at the offset the header gives.
#include <algorithm>

#include "core/Endian.h"
#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

constexpr int kMaxChainLinks = 65536;

class TMsGZWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override;
    void Next(TPelixWalk& Walk) override;
};

void TMsGZWalker::Open(TPelixWalk& Walk)
{
    Walk.SetHeaderSize(29);
    const std::int64_t size = Walk.Pelix().ArchiveSize;
    std::uint8_t head[54] = {};
    Walk.ReadAt(0, head, sizeof head);
    std::int64_t start = size <= std::int64_t(GetLE32(head + 41)) ? 54 : std::int64_t(GetLE32(head + 41));
    std::int64_t reached = start;
    for (int link = 0; link < kMaxChainLinks; ++link) {
        std::uint8_t record[6] = {};
        const std::int64_t got = Walk.ReadAt(start, record, 6);
        if (got <= 0)
            break;
        reached = start + got;
        if (GetLE16(record + 2) == 0)
            break;
        start += GetLE16(record + 2);
    }
    Walk.MoveTo(std::max<std::int64_t>(reached - 5, 0));
}

void TMsGZWalker::Next(TPelixWalk& Walk)
{
    std::int64_t pos = Walk.TurnStart() + 29;
    TPelixEntry entry;
    entry.Name = Walk.OemName(Walk.ReadStringAtPos(pos, Walk.B(28)));
    entry.Date = DosDateTimeToDateTime(SwapWords(Walk.L(14)));
    entry.Packed = Walk.L(2);
    entry.Unpacked = Walk.L(6);
    entry.ExternalAttr = Walk.W(18);
    entry.Offset = Walk.L(10);
    Walk.MoveTo(Walk.TurnStart() + Walk.W(22));
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeMsGZWalker()
{
    return std::make_unique<TMsGZWalker>();
}
