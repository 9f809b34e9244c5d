#include "core/PeResources.h"

#include "core/Endian.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;
constexpr std::uint32_t kNamedEntryFlag = 0x80000000u;
constexpr int kMaxSections = 96;
// A string block holds 16 strings of at most 65535 UTF-16 units with their length words.
constexpr std::uint32_t kMaxBlockSize = 16 * (2 + 2 * 65535);

}  // namespace

bool TPeStringResources::ReadAt(std::int64_t Offset, void* Buffer, std::uint32_t Count) const
{
    if (Offset < 0 || Offset > FSize || std::int64_t(Count) > FSize - Offset)
        return false;
    return Count == 0 || FRead(Offset, Buffer, Count) == std::int64_t(Count);
}

std::int64_t TPeStringResources::RvaToOffset(std::uint64_t Rva, std::uint32_t Count) const
{
    for (const TSection& s : FSections) {
        const std::uint64_t extent = std::max(s.VirtualSize, s.RawSize);
        if (Rva < s.VirtualAddress || Rva - s.VirtualAddress >= extent)
            continue;
        const std::uint64_t inside = Rva - s.VirtualAddress;
        // Bytes past the raw data exist only in memory; a reader of the file cannot see them.
        if (inside + Count > s.RawSize)
            return -1;
        return std::int64_t(s.RawPointer + inside);
    }
    return -1;
}

bool TPeStringResources::ReadRva(std::uint64_t Rva, void* Buffer, std::uint32_t Count) const
{
    const std::int64_t at = RvaToOffset(Rva, Count);
    return at >= 0 && ReadAt(at, Buffer, Count);
}

bool TPeStringResources::ReadDirectory(std::uint32_t DirOffset, TEntries& Entries) const
{
    Entries.clear();
    std::uint8_t head[16];
    const std::uint64_t dir = std::uint64_t(FResourceRva) + DirOffset;
    if (!ReadRva(dir, head, sizeof head))
        return false;
    const std::uint32_t named = GetLE16(head + 12);
    const std::uint32_t numbered = GetLE16(head + 14);
    std::vector<std::uint8_t> raw(std::size_t(named + numbered) * 8);
    if (!ReadRva(dir + sizeof head, raw.data(), std::uint32_t(raw.size())))
        return false;
    for (std::size_t i = 0; i < raw.size(); i += 8) {
        const std::uint32_t id = GetLE32(&raw[i]);
        if (!(id & kNamedEntryFlag))
            Entries.emplace_back(id, GetLE32(&raw[i + 4]));
    }
    return true;
}

bool TPeStringResources::FindEntry(std::uint32_t DirOffset, std::uint32_t Id, bool AnyId, std::uint32_t& Found) const
{
    TEntries entries;
    if (!ReadDirectory(DirOffset, entries))
        return false;
    for (const auto& [id, offset] : entries)
        if (AnyId || id == Id) {
            Found = offset;
            return true;
        }
    return false;
}

bool TPeStringResources::Load(const TReadAt& Read, std::int64_t Size)
{
    FRead = Read;
    FSize = Size;
    FSections.clear();
    FStringDir = 0;

    std::uint8_t mz[64];
    if (!ReadAt(0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z')
        return false;
    const std::int64_t pe = GetLE32(mz + 0x3C);
    std::uint8_t coff[24];
    if (!ReadAt(pe, coff, sizeof coff) || GetLE32(coff) != 0x00004550)  // "PE\0\0"
        return false;
    const int sectionCount = GetLE16(coff + 6);
    const std::uint32_t optionalSize = GetLE16(coff + 20);
    if (sectionCount > kMaxSections)
        return false;

    std::vector<std::uint8_t> optional(optionalSize);
    const std::int64_t optionalAt = pe + sizeof coff;
    if (optionalSize < 2 || !ReadAt(optionalAt, optional.data(), optionalSize))
        return false;
    std::uint32_t countAt = 0;
    switch (GetLE16(optional.data())) {
    case 0x10B:
        countAt = 92;
        break;  // PE32
    case 0x20B:
        countAt = 108;
        break;  // PE32+
    default:
        return false;
    }
    const std::uint32_t dirsAt = countAt + 4;
    const std::uint32_t resourceDirAt = dirsAt + 2 * 8;
    if (optionalSize < resourceDirAt + 8 || GetLE32(&optional[countAt]) <= 2)
        return false;
    FResourceRva = GetLE32(&optional[resourceDirAt]);
    if (FResourceRva == 0 || GetLE32(&optional[resourceDirAt + 4]) == 0)
        return false;

    std::vector<std::uint8_t> table(std::size_t(sectionCount) * 40);
    if (!ReadAt(optionalAt + optionalSize, table.data(), std::uint32_t(table.size())))
        return false;
    for (int i = 0; i < sectionCount; ++i) {
        const std::uint8_t* s = &table[std::size_t(i) * 40];
        FSections.push_back({GetLE32(s + 12), GetLE32(s + 8), GetLE32(s + 16), GetLE32(s + 20)});
    }

    std::uint32_t entry = 0;
    if (!FindEntry(0, kRtString, false, entry) || !(entry & kSubdirectoryFlag))
        return false;
    FStringDir = entry & ~kSubdirectoryFlag;
    return true;
}

std::string TPeStringResources::LoadString(unsigned Id, int BufferChars) const
{
    if (FStringDir == 0 || BufferChars <= 1 || Id > 0xFFFF)
        return {};
    std::uint32_t names = 0, language = 0;
    if (!FindEntry(FStringDir, (Id >> 4) + 1, false, names) || !(names & kSubdirectoryFlag) ||
        !FindEntry(names & ~kSubdirectoryFlag, 0, true, language) || (language & kSubdirectoryFlag))
        return {};

    std::uint8_t leaf[16];
    if (!ReadRva(std::uint64_t(FResourceRva) + language, leaf, sizeof leaf))
        return {};
    const std::uint32_t dataSize = std::min(GetLE32(leaf + 4), kMaxBlockSize);
    std::vector<std::uint8_t> block(dataSize);
    if (!ReadRva(GetLE32(leaf), block.data(), dataSize))
        return {};

    // Sixteen strings, each a length word and that many UTF-16 units.
    std::size_t pos = 0;
    for (unsigned index = 0; index < (Id & 15); ++index) {
        if (pos + 2 > block.size())
            return {};
        pos += 2 + 2 * std::size_t(GetLE16(&block[pos]));
    }
    if (pos + 2 > block.size())
        return {};
    const std::size_t length = GetLE16(&block[pos]);
    pos += 2;
    std::string text;
    for (std::size_t i = 0; i < length && int(text.size()) < BufferChars - 1; ++i) {
        if (pos + 2 * i + 2 > block.size())
            break;
        const std::uint16_t unit = GetLE16(&block[pos + 2 * i]);
        text += unit < 0x80 ? char(unit) : '?';
    }
    return text;
}
