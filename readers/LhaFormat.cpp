#include "readers/LhaFormat.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/Endian.h"

namespace {

constexpr int kMaxExtendedHeaders = 4096;
constexpr std::int64_t kMaxExtendedSize = 1 << 20;

enum : std::uint8_t {
    kExtName = 0x01,
    kExtFolder = 0x02,
    kExtDosAttributes = 0x40,
    kExtUnixMode = 0x50,
    kExtUnixTime = 0x54,
};

// Folder names use 0xFF as separator; some hosts wrote "/".
std::string ToBackslashes(std::string s)
{
    for (char& c : s)
        if (c == '\xFF' || c == '/')
            c = '\\';
    return s;
}

// Walks a chain of extended headers (type, data, size of the next) from Pos while each lies
// before Limit; SizeWidth is 2 (levels 1, 2) or 4 (level 3). Answers the bytes they take, or -1.
std::int64_t ReadExtendedHeaders(const TReadAt& Read, std::int64_t Pos, std::int64_t Size, int SizeWidth,
                                 std::int64_t Limit, TLhaHeader& H, std::string& Folder)
{
    std::int64_t used = 0;
    std::vector<std::uint8_t> ext;
    for (int link = 0; Size != 0; ++link) {
        if (link >= kMaxExtendedHeaders || Size < 1 + SizeWidth || Size > kMaxExtendedSize || Pos + Size > Limit)
            return -1;
        ext.resize(std::size_t(Size));
        if (Read(Pos, ext.data(), Size) != Size)
            return -1;
        const std::size_t dataLength = std::size_t(Size) - 1 - std::size_t(SizeWidth);
        const std::uint8_t* data = ext.data() + 1;
        switch (ext[0]) {
        case kExtName:
            H.Name.assign(reinterpret_cast<const char*>(data), dataLength);
            break;
        case kExtFolder:
            Folder.assign(reinterpret_cast<const char*>(data), dataLength);
            break;
        case kExtDosAttributes:
            if (dataLength >= 2)
                H.Attributes = data[0];
            break;
        case kExtUnixMode:
            if (dataLength >= 2)
                H.UnixMode = GetLE16(data);
            break;
        case kExtUnixTime:
            if (dataLength >= 4) {
                H.Stamp = GetLE32(data);
                H.UnixStamp = true;
            }
            break;
        default:
            break;
        }
        used += Size;
        Pos += Size;
        const std::uint8_t* next = ext.data() + Size - SizeWidth;
        Size = SizeWidth == 2 ? GetLE16(next) : GetLE32(next);
    }
    return used;
}

}  // namespace

std::int64_t LhaFirstHeader(const TReadAt& Read, std::int64_t Start)
{
    std::uint8_t first = 0;
    if (Read(Start, &first, 1) == 1 && first == 0)
        return Start + 128;
    return Start;
}

THeaderStatus ReadLhaHeader(const TReadAt& Read, std::int64_t Pos, std::int64_t ArchiveSize, TLhaHeader& H)
{
    H = TLhaHeader{};
    H.Offset = Pos;
    std::uint8_t b[32] = {};
    const std::int64_t got = Read(Pos, b, kLhaBaseHeaderSize);
    if (got <= 0)  // the end, unless a packed size sent the walk beyond it
        return Pos > ArchiveSize ? THeaderStatus::Corrupt : THeaderStatus::End;
    if (b[0] == 0)
        return THeaderStatus::End;
    if (got < kLhaBaseHeaderSize)
        return THeaderStatus::Corrupt;
    std::memcpy(H.Method, b + 2, 5);
    if (H.Method[0] != '-' || H.Method[4] != '-')
        return THeaderStatus::Corrupt;
    std::int64_t packed = GetLE32(b + 7);
    H.UnpackedSize = GetLE32(b + 11);
    H.Stamp = GetLE32(b + 15);
    H.Level = b[20];
    std::string folder;
    std::int64_t headerLength = 0;
    switch (H.Level) {
    case 0:
    case 1: {
        H.Attributes = b[19];
        headerLength = std::int64_t(b[0]) + 2;
        const int nameLength = b[21];
        const int fixed = kLhaBaseHeaderSize + nameLength + 2 + (H.Level == 1 ? 3 : 0);
        if (headerLength < fixed)
            return THeaderStatus::Corrupt;
        std::vector<std::uint8_t> rest(std::size_t(headerLength - kLhaBaseHeaderSize));
        if (Read(Pos + kLhaBaseHeaderSize, rest.data(), std::int64_t(rest.size())) != std::int64_t(rest.size()))
            return THeaderStatus::Corrupt;
        H.Name.assign(reinterpret_cast<const char*>(rest.data()), std::size_t(nameLength));
        H.Crc = GetLE16(rest.data() + nameLength);
        const std::size_t afterCrc = std::size_t(nameLength) + 2;
        if (H.Level == 0 && rest.size() >= afterCrc + 12 && rest[afterCrc] == 'U') {
            // The Unix extension of level 0: minor version, time, mode, owner.
            const std::uint32_t mtime = GetLE32(rest.data() + afterCrc + 2);
            if (mtime != 0) {
                H.Stamp = mtime;
                H.UnixStamp = true;
            }
            H.UnixMode = GetLE16(rest.data() + afterCrc + 6);
        }
        if (H.Level == 1) {
            H.Host = rest[std::size_t(nameLength) + 2];
            // The extended headers follow the base header and count in the packed size.
            const std::int64_t used =
                ReadExtendedHeaders(Read, Pos + headerLength, GetLE16(rest.data() + rest.size() - 2), 2,
                                    std::min(ArchiveSize, Pos + headerLength + packed), H, folder);
            if (used < 0)
                return THeaderStatus::Corrupt;
            headerLength += used;
            packed -= used;
        }
        break;
    }
    case 2:
    case 3: {
        std::uint8_t more[32] = {};
        const int fixed = H.Level == 2 ? 26 : 32;
        if (Read(Pos, more, fixed) != fixed)
            return THeaderStatus::Corrupt;
        H.Crc = GetLE16(more + 21);
        H.Host = more[23];
        H.UnixStamp = true;  // whatever the host
        H.Attributes = 0x20;
        std::int64_t firstExt = 0;
        if (H.Level == 2) {
            headerLength = GetLE16(more);
            firstExt = GetLE16(more + 24);
        } else {
            if (GetLE16(more) != 4)
                return THeaderStatus::Corrupt;
            headerLength = GetLE32(more + 24);
            firstExt = GetLE32(more + 28);
        }
        if (headerLength < fixed || Pos + headerLength > ArchiveSize)
            return THeaderStatus::Corrupt;
        // Some writers (OS-9/68k) leave their extended headers out of the header length.
        const std::int64_t used =
            ReadExtendedHeaders(Read, Pos + fixed, firstExt, H.Level == 2 ? 2 : 4, ArchiveSize, H, folder);
        if (used < 0)
            return THeaderStatus::Corrupt;
        headerLength = std::max(headerLength, fixed + used);
        break;
    }
    default:
        return THeaderStatus::Corrupt;
    }
    if (packed < 0)
        return THeaderStatus::Corrupt;
    // Amiga writers put a file comment behind the name.
    H.Name = ToBackslashes(H.Name.substr(0, H.Name.find('\0')));
    folder = ToBackslashes(folder);
    if (!folder.empty() && folder.back() != '\\')
        folder += '\\';
    H.Name = folder + H.Name;
    if (H.IsDirectory())
        H.Attributes |= 0x10;
    H.DataOffset = Pos + headerLength;
    H.PackedSize = packed;
    H.NextOffset = H.DataOffset + packed;
    return THeaderStatus::Header;
}

THeaderStatus ReadLhaHeaderPastGap(const TReadAt& Read, std::int64_t Pos, std::int64_t ArchiveSize, TLhaHeader& H)
{
    const THeaderStatus status = ReadLhaHeader(Read, Pos, ArchiveSize, H);
    if (status != THeaderStatus::End)
        return status;
    constexpr int kMaxGap = 4;
    std::uint8_t gap[kMaxGap] = {};
    const std::int64_t got = Read(Pos, gap, kMaxGap);
    for (int n = 1; n < got && gap[n - 1] == 0; ++n) {
        TLhaHeader next;
        if (ReadLhaHeader(Read, Pos + n, ArchiveSize, next) == THeaderStatus::Header && next.IsLhaMethod()) {
            H = std::move(next);
            return THeaderStatus::Header;
        }
    }
    return THeaderStatus::End;
}

bool LhaDamagedHeaderAt(const TReadAt& Read, std::int64_t Pos)
{
    std::uint8_t b[kLhaBaseHeaderSize] = {};
    if (Read(Pos, b, kLhaBaseHeaderSize) != kLhaBaseHeaderSize || b[20] > 3)
        return false;
    const bool sized = b[20] >= 2 || b[0] >= kLhaBaseHeaderSize;
    return sized && (b[2] == '-' || b[6] == '-');
}
