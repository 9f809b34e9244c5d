// ZOO: the archive header with its comment, then the chain of directory entries.
#include "core/plxGbls.h"
#include "readers/Pelix.h"

namespace {

constexpr std::uint32_t kZooTag = 0xFDC4A7DC;

std::string JoinFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    const char last = folder.back();
    return (last == '\\' || last == '/') ? folder + name : folder + "\\" + name;
}

class TZooWalker final : public TPelixWalker {
public:
    void Open(TPelixWalk& Walk) override
    {
        Walk.SetHeaderSize(58);
        Walk.MoveTo(0);
    }
    void Next(TPelixWalk& Walk) override { FFirst ? ArchiveHeader(Walk) : Entry(Walk); }

private:
    void ArchiveHeader(TPelixWalk& Walk);
    void Entry(TPelixWalk& Walk);

    bool FFirst = true;
};

void TZooWalker::ArchiveHeader(TPelixWalk& Walk)
{
    FFirst = false;
    const std::uint32_t start = Walk.L(24);
    if (Walk.L(20) != kZooTag || std::uint32_t(start + Walk.L(28)) != 0 || start == 0) {
        Walk.Fail(E_BADFILEHEADER);
        Walk.End();
        return;
    }
    if (Walk.W(39) > 0)
        Walk.ReadComment(Walk.L(35), Walk.W(39));
    Walk.MoveTo(start);
    Walk.NotAnEntry();
}

void TZooWalker::Entry(TPelixWalk& Walk)
{
    const std::uint32_t next = Walk.L(6);
    if (Walk.L(0) != kZooTag || next == 0) {
        Walk.End();
        return;
    }
    Walk.MoveTo(next);  // the walk refuses a pointer that does not move on
    if (Walk.B(30) != 0)  // a deleted entry stays in the chain
        return;
    if (Walk.W(36) > 0)
        Walk.ReadComment(Walk.L(32), Walk.W(36));
    std::string name = Walk.Text(38, 13);
    std::string folder;
    if (Walk.B(4) == 2 && Walk.W(51) >= 2) {
        // The variable part: long name and folder.
        std::int64_t pos = Walk.TurnStart() + 58;
        const std::string longName = Walk.ReadStringAtPos(pos, Walk.B(56));
        folder = Walk.ReadStringAtPos(pos, Walk.B(57));
        if (!folder.empty() && folder.back() == '\0')
            folder.resize(folder.find('\0'));
        const std::string cut = longName.substr(0, longName.find('\0'));
        if (!cut.empty())
            name = cut;
    }
    TPelixEntry entry;
    entry.Name = Walk.OemName(JoinFolder(folder, name));
    entry.Date = DosDateTimeToDateTime(SwapWords(Walk.L(14)));
    entry.VersionMadeBy = Walk.B(28);
    entry.VersionNeeded = Walk.B(29);
    entry.Packed = Walk.L(24);
    entry.Unpacked = Walk.L(20);
    entry.Crc = Walk.W(18);
    entry.Method = Walk.B(5);
    entry.Offset = Walk.TurnStart();
    Walk.List(entry);
}

}  // namespace

std::unique_ptr<TPelixWalker> MakeZooWalker() { return std::make_unique<TZooWalker>(); }
