#include "readers/ZooFormat.h"

#include <algorithm>

#include "core/Endian.h"

namespace {

constexpr int kArchiveHeaderMinSize = 34;
constexpr int kArchiveHeaderSize = 41;
constexpr int kCommentHeaderType = 1;
constexpr int kVariableHeaderType = 2;  // entries that may carry a long name and a folder

std::string CutAtNul(const char* Text, std::size_t Size)
{
    return std::string(Text, std::find(Text, Text + Size, '\0'));
}

}  // namespace

bool ReadZooArchiveHeader(const TReadAt& Read, TZooArchiveHeader& Header)
{
    std::uint8_t h[kArchiveHeaderSize] = {};
    if (Read(0, h, kArchiveHeaderSize) < kArchiveHeaderMinSize || GetLE32(h + 20) != kZooTag)
        return false;
    const std::uint32_t start = GetLE32(h + 24);
    if (start == 0 || std::uint32_t(start + GetLE32(h + 28)) != 0)
        return false;
    Header.Start = start;
    // Type 0 headers end before the comment fields: what follows is the first entry.
    if (h[34] >= kCommentHeaderType) {
        Header.CommentOffset = GetLE32(h + 35);
        Header.CommentLength = GetLE16(h + 39);
    }
    return true;
}

THeaderStatus ReadZooEntry(const TReadAt& Read, std::int64_t Pos, TZooEntry& Entry)
{
    std::uint8_t h[kZooEntrySize] = {};
    if (Read(Pos, h, kZooEntrySize) != kZooEntrySize || GetLE32(h) != kZooTag)
        return THeaderStatus::Corrupt;
    TZooEntry r;
    r.Offset = Pos;
    r.NextOffset = GetLE32(h + 6);
    if (r.NextOffset == 0)
        return THeaderStatus::End;
    r.Method = h[5];
    r.DataOffset = GetLE32(h + 10);
    r.Stamp = std::uint32_t(GetLE16(h + 14)) << 16 | GetLE16(h + 16);
    r.Crc = GetLE16(h + 18);
    r.UnpackedSize = GetLE32(h + 20);
    r.PackedSize = GetLE32(h + 24);
    r.VersionMadeBy = h[28];
    r.VersionNeeded = h[29];
    // Writers mark a deleted entry with 1; any other value is a damaged header, not a deletion
    // that would pass the member over in silence.
    if (h[30] > 1)
        return THeaderStatus::Corrupt;
    r.Deleted = h[30] == 1;
    r.CommentOffset = GetLE32(h + 32);
    r.CommentLength = GetLE16(h + 36);
    r.Name = CutAtNul(reinterpret_cast<const char*>(h + 38), 13);
    if (h[4] == kVariableHeaderType && GetLE16(h + 51) >= 2) {
        std::uint8_t lengths[2] = {};
        if (Read(Pos + kZooEntrySize, lengths, 2) == 2) {
            char text[512] = {};
            const std::int64_t n = lengths[0] + lengths[1];
            if (Read(Pos + kZooEntrySize + 2, text, n) == n) {
                const std::string longName = CutAtNul(text, lengths[0]);
                const std::string folder = CutAtNul(text + lengths[0], lengths[1]);
                if (!longName.empty())
                    r.Name = longName;
                if (!folder.empty())
                    r.Name = folder + (folder.back() == '/' || folder.back() == '\\' ? "" : "/") + r.Name;
            }
        }
    }
    Entry = std::move(r);
    return THeaderStatus::Header;
}
