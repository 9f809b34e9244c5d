// ARC and PAK: headers chained by their packed sizes; ARC folders nest by methods 30 and 31.
#include <vector>

#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

constexpr std::size_t kMaxFolderDepth = 64;

class TArcWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override { Walk.SetHeaderSize(29); }
    void Next(TPelixWalk& Walk) override;

private:
    std::vector<std::string> FFolders;  // entered by method 30
};

void TArcWalker::Next(TPelixWalk& Walk)
{
    const std::uint8_t method = Walk.B(1);
    if (Walk.B(0) != 0x1A) {
        if (Walk.Pelix().FileCount == 0)
            Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    const TArcType type = Walk.Pelix().ArcType();
    const bool arc = type == atArc || type == atArcExe;
    if (method == 0) {  // end marker
        Walk.End();
        return;
    }
    const std::int64_t start = Walk.TurnStart();
    if (arc && method == 31) {  // the end of a folder entered by method 30
        if (!FFolders.empty())
            FFolders.pop_back();
        Walk.MoveTo(start + 2);
        return;
    }
    const std::string stored = Walk.Text(2, 13);
    std::string folder;
    for (const auto& d : FFolders)
        folder += d + "\\";
    TPelixEntry entry;
    entry.Name = Walk.OemName(folder + stored);
    entry.Packed = Walk.L(15);
    // Method 1 headers are four bytes shorter: they hold no unpacked size.
    const bool shortHeader = method == 1;
    entry.Unpacked = shortHeader ? entry.Packed : Walk.L(25);
    entry.Date = DosDateTimeToDateTime(SwapWords(Walk.L(19)));
    entry.Crc = Walk.W(23);
    entry.Method = method;
    entry.Facts.HeaderType = method;
    entry.Directory = arc && method == 30;
    entry.ExternalAttr = entry.Directory ? 16 : 32;
    entry.Offset = start;
    const std::int64_t dataAt = start + (shortHeader ? 25 : 29);
    if (entry.Directory) {
        // The folder's members follow its header; its size covers them all.
        FFolders.push_back(stored);
        if (FFolders.size() > kMaxFolderDepth)
            FFolders.erase(FFolders.begin());
        Walk.MoveTo(dataAt);
    } else {
        Walk.MoveTo(dataAt + entry.Packed);
    }
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeArcWalker() { return std::make_unique<TArcWalker>(); }
