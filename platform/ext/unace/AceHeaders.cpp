#include "platform/ext/unace/AceHeaders.h"

#include "core/Endian.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kStubScan = 1 << 20;
constexpr std::size_t kMaxMembers = 1 << 20;
constexpr std::uint8_t kTypeMain = 0, kTypeFile32 = 1, kTypeFile64 = 3;

bool ReadHeader(const TAceReadAt& Read, std::int64_t At, std::vector<std::uint8_t>& Head)
{
    std::uint8_t prefix[4];
    if (Read(At, prefix, 4) != 4)
        return false;
    const std::uint16_t size = GetLE16(prefix + 2);
    if (size < 3)
        return false;
    Head.assign(size, 0);
    if (Read(At + 4, Head.data(), size) != size)
        return false;
    return (AceCrc32(0xFFFFFFFFu, Head.data(), size) & 0xFFFF) == GetLE16(prefix);
}

std::int64_t FindMainHeader(const TAceReadAt& Read, std::int64_t Size)
{
    std::vector<std::uint8_t> block(65536 + 16);
    std::vector<std::uint8_t> head;
    for (std::int64_t at = 0; at < std::min(Size, kStubScan); at += 65536) {
        const std::int64_t got = Read(at, block.data(), std::int64_t(block.size()));
        for (std::int64_t i = 0; i + 7 <= got && i < 65536; ++i) {
            if (std::memcmp(block.data() + i, "**ACE**", 7) != 0 || at + i < 7)
                continue;
            const std::int64_t start = at + i - 7;
            if (ReadHeader(Read, start, head) && head[0] == kTypeMain)
                return start;
        }
    }
    return -1;
}

}  // namespace

std::uint32_t AceCrc32(std::uint32_t Crc, const void* Data, std::size_t Size)
{
    return ~std::uint32_t(crc32(~Crc, static_cast<const Bytef*>(Data), uInt(Size)));
}

TAceWalkResult WalkAceArchive(const TAceReadAt& Read, std::int64_t Size, TAceArchiveWalk& Walk)
{
    Walk = {};
    const std::int64_t start = FindMainHeader(Read, Size);
    if (start < 0)
        return TAceWalkResult::NotAce;
    std::vector<std::uint8_t> head;
    ReadHeader(Read, start, head);
    Walk.MainFlags = GetLE16(head.data() + 1);
    Walk.CreatorVersion = head.size() > 11 ? head[11] : 0;
    Walk.VolumeNumber = head.size() > 13 ? head[13] : 0;
    std::int64_t at = start + 4 + std::int64_t(head.size());
    while (at + 4 <= Size && Walk.Members.size() < kMaxMembers) {
        if (!ReadHeader(Read, at, head))
            return TAceWalkResult::Damaged;
        const std::uint8_t type = head[0];
        const std::uint16_t flags = GetLE16(head.data() + 1);
        std::uint64_t data = 0;
        std::size_t i = 3;
        if (type == kTypeFile32 || type == kTypeFile64) {
            const bool wide = (flags & 0x4) != 0;
            if (wide != (type == kTypeFile64) || head.size() < i + (wide ? 16u : 8u) + 20)
                return TAceWalkResult::Damaged;
            TAceMember m;
            m.Flags = flags;
            m.Packed = wide ? GetLE64(head.data() + i) : GetLE32(head.data() + i);
            m.Size = wide ? GetLE64(head.data() + i + 8) : GetLE32(head.data() + i + 4);
            i += wide ? 16 : 8;
            m.Time = GetLE32(head.data() + i);
            m.Attributes = GetLE32(head.data() + i + 4);
            m.Crc = GetLE32(head.data() + i + 8);
            m.CompType = head[i + 12];
            const std::uint16_t nameSize = GetLE16(head.data() + i + 18);
            i += 20;
            if (i + nameSize > head.size())
                return TAceWalkResult::Damaged;
            m.Name.assign(reinterpret_cast<const char*>(head.data() + i), nameSize);
            m.Name.resize(std::strlen(m.Name.c_str()));
            m.DataOffset = at + 4 + std::int64_t(head.size());
            data = m.Packed;
            Walk.Members.push_back(std::move(m));
        } else if (flags & 0x1) {
            // Recovery records and other blocks with data: passed over.
            if (head.size() < 7)
                return TAceWalkResult::Damaged;
            data = (flags & 0x4) && head.size() >= 11 ? GetLE64(head.data() + 3) : GetLE32(head.data() + 3);
        }
        if (data > std::uint64_t(Size))
            return TAceWalkResult::Damaged;
        at += 4 + std::int64_t(head.size()) + std::int64_t(data);
    }
    // A few bytes past the last block are a header cut short; a block past the end was cut.
    return at != Size && Walk.Members.size() < kMaxMembers ? TAceWalkResult::Damaged : TAceWalkResult::Ok;
}
