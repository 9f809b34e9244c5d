// HA: the fixed header read one byte early, so that byte 1 is its type byte.
#include <algorithm>

#include "platform/win/SysDates.h"
#include "readers/Pelix.h"

namespace {

constexpr std::uint8_t kHaFolderMethod = 14;

std::string FfToBackslash(std::string s)
{
    std::replace(s.begin(), s.end(), '\xFF', '\\');
    return s;
}

class THaWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(18);
        Walk.MoveTo(3);
    }
    void Next(TPelixWalk& Walk) override;
};

void THaWalker::Next(TPelixWalk& Walk)
{
    std::int64_t pos = Walk.TurnStart() + 18;
    const std::string path = Walk.ReadStringAt(pos, 1023);
    const std::string name = Walk.ReadStringAt(pos, 1023);
    std::uint8_t infoLength = 0;
    if (Walk.ReadAt(pos, &infoLength, 1) != 1) {
        Walk.End();
        return;
    }
    const std::int64_t packed = Walk.L(2);
    TPelixEntry entry;
    entry.Name = Walk.OemName(FfToBackslash(path + name));
    entry.Date = win::Now();
    entry.VersionMadeBy = Walk.B(1) >> 4;
    entry.Method = Walk.B(1) & 0x0F;
    entry.Directory = entry.Method == kHaFolderMethod;
    entry.Packed = packed;
    entry.Unpacked = Walk.L(6);
    entry.Crc = Walk.L(10);
    entry.ExternalAttr = entry.Directory ? 0x30 : 32;
    entry.Offset = Walk.TurnStart() + 1;
    Walk.MoveTo(pos + infoLength + packed);
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeHaWalker()
{
    return std::make_unique<THaWalker>();
}
