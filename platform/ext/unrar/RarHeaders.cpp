#include "platform/ext/unrar/RarHeaders.h"

#include "core/Endian.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>

namespace {

constexpr std::uint8_t kSig4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::uint8_t kSig5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
constexpr std::int64_t kStubScan = 4 << 20;  // how far into a self-extractor we look for the archive
constexpr std::size_t kMaxHeaders = 1 << 20;
constexpr std::size_t kMaxName = 4096;

// Finds the signature at 0 or, for a self-extractor, within its first megabytes.
bool FindSignature(const TRarReadAt& Read, std::int64_t Size, TRarVolumeWalk& Walk)
{
    std::vector<std::uint8_t> block(65536 + 8);
    for (std::int64_t at = 0; at < std::min(Size, kStubScan); at += 65536) {
        const std::int64_t got = Read(at, block.data(), std::int64_t(block.size()));
        for (std::int64_t i = 0; i + 7 <= got && i < 65536; ++i) {
            if (std::memcmp(block.data() + i, kSig4, 6) != 0)
                continue;
            if (block[i + 6] == 0x00 || (i + 8 <= got && std::memcmp(block.data() + i, kSig5, sizeof kSig5) == 0)) {
                Walk.Start = at + i;
                Walk.Rar5 = block[i + 6] == 0x01;
                return true;
            }
        }
    }
    return false;
}

std::uint32_t DosTimeOfUnix(std::int64_t Seconds)
{
    std::time_t t = std::time_t(Seconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year < 80)
        return 0x00210000;
    return std::uint32_t((tm.tm_year - 80) << 25 | (tm.tm_mon + 1) << 21 | tm.tm_mday << 16 | tm.tm_hour << 11 |
                         tm.tm_min << 5 | tm.tm_sec / 2);
}

void AppendUtf8(std::string& Out, std::uint32_t C)
{
    if (C < 0x80) {
        Out += char(C);
    } else if (C < 0x800) {
        Out += char(0xC0 | C >> 6);
        Out += char(0x80 | (C & 0x3F));
    } else {
        Out += char(0xE0 | C >> 12);
        Out += char(0x80 | (C >> 6 & 0x3F));
        Out += char(0x80 | (C & 0x3F));
    }
}

// RAR 4 keeps a Unicode name after the plain one, coded against it with a high byte and
// two-bit operations.
std::string DecodeRar4Unicode(const std::uint8_t* Plain, std::size_t PlainSize, const std::uint8_t* Enc,
                              std::size_t EncSize)
{
    std::string out;
    if (EncSize == 0)
        return out;
    const std::uint32_t high = std::uint32_t(Enc[0]) << 8;
    std::size_t pos = 1, decoded = 0;
    unsigned flags = 0, flagBits = 0;
    auto put = [&](std::uint32_t c) {
        AppendUtf8(out, c);
        ++decoded;
    };
    while (pos < EncSize && decoded < kMaxName) {
        if (flagBits == 0) {
            flags = Enc[pos++];
            flagBits = 8;
        }
        switch (flags >> 6 & 3) {
        case 0:
            if (pos >= EncSize)
                return out;
            put(Enc[pos++]);
            break;
        case 1:
            if (pos >= EncSize)
                return out;
            put(Enc[pos++] | high);
            break;
        case 2:
            if (pos + 1 >= EncSize)
                return out;
            put(GetLE16(Enc + pos));
            pos += 2;
            break;
        default: {
            if (pos >= EncSize)
                return out;
            unsigned length = Enc[pos++];
            if (length & 0x80) {
                if (pos >= EncSize)
                    return out;
                const std::uint8_t correction = Enc[pos++];
                for (length = (length & 0x7F) + 2; length > 0 && decoded < PlainSize; --length)
                    put(std::uint8_t(Plain[decoded] + correction) | high);
            } else {
                for (length += 2; length > 0 && decoded < PlainSize; --length)
                    put(Plain[decoded]);
            }
        }
        }
        flags = (flags << 2) & 0xFF;
        flagBits -= 2;
    }
    return out;
}

bool IsMultibyteUtf8(const std::string& Name)
{
    bool multibyte = false;
    for (std::size_t i = 0; i < Name.size();) {
        const auto c = static_cast<unsigned char>(Name[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > Name.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(Name[i + k]) & 0xC0) != 0x80)
                return false;
        multibyte = multibyte || n > 1;
        i += n;
    }
    return multibyte;
}

// A signature followed by damage is a damaged archive, even before its first file.
TRarWalkResult Finish(TRarVolumeWalk&, bool Damaged)
{
    return Damaged ? TRarWalkResult::Damaged : TRarWalkResult::Ok;
}

std::uint32_t Crc32Of(const std::uint8_t* Data, std::size_t Size)
{
    return std::uint32_t(crc32(crc32(0, nullptr, 0), Data, uInt(Size)));
}

TRarWalkResult WalkRar4(const TRarReadAt& Read, std::int64_t Size, TRarVolumeWalk& Walk)
{
    std::int64_t at = Walk.Start + 7;
    std::vector<std::uint8_t> head;
    bool seenMain = false;
    while (at + 7 <= Size && Walk.Headers.size() < kMaxHeaders) {
        std::uint8_t base[11] = {};
        if (Read(at, base, 7) != 7)
            return Finish(Walk, true);
        const std::uint8_t type = base[2];
        const std::uint16_t flags = GetLE16(base + 3);
        const std::uint16_t size = GetLE16(base + 5);
        if (size < 7)
            return Finish(Walk, true);
        head.assign(size, 0);
        if (Read(at, head.data(), size) != size)
            return Finish(Walk, true);
        // A header carries the low half of its CRC-32: a damaged one is not trusted. Old writers
        // keep the archive's comment inside the main header under rules of their own; that is left.
        const bool oldComment = type == 0x73 && (flags & 0x0002);
        const bool checked = type == 0x73 || type == 0x74 || type == 0x7A || type == 0x7B;
        if (checked && !oldComment && (Crc32Of(head.data() + 2, size - 2) & 0xFFFF) != GetLE16(head.data()))
            return Finish(Walk, true);
        std::uint64_t data = (flags & 0x8000) && size >= 11 ? GetLE32(head.data() + 7) : 0;
        if (type == 0x73) {
            seenMain = true;
            Walk.IsVolume = flags & 0x0001;
            Walk.NewNumbering = flags & 0x0010;
            if (flags & 0x0080)
                return TRarWalkResult::EncryptedHeaders;
        } else if (type == 0x74) {
            if (size < 32)
                return Finish(Walk, true);
            const std::uint8_t* h = head.data();
            TRarHeader e;
            e.Offset = at;
            e.Data = at + size;
            e.Packed = GetLE32(h + 7);
            e.Unpacked = GetLE32(h + 11);
            e.HostOS = h[15];
            e.Crc = GetLE32(h + 16);
            e.DosTime = GetLE32(h + 20);
            e.UnpVer = h[24];
            e.Method = h[25];
            const std::uint16_t nameSize = GetLE16(h + 26);
            e.Attributes = GetLE32(h + 28);
            std::size_t nameAt = 32;
            if (flags & 0x0100) {
                if (size < 40)
                    return Finish(Walk, true);
                e.Packed |= std::uint64_t(GetLE32(h + 32)) << 32;
                e.Unpacked |= std::uint64_t(GetLE32(h + 36)) << 32;
                nameAt = 40;
            }
            if (nameAt + nameSize > size)
                return Finish(Walk, true);
            const std::uint8_t* name = h + nameAt;
            const std::size_t plain = std::find(name, name + nameSize, 0) - name;
            e.Name.assign(reinterpret_cast<const char*>(name), std::min(plain, kMaxName));
            if ((flags & 0x0200) && plain < nameSize) {
                e.Name = DecodeRar4Unicode(name, plain, name + plain + 1, nameSize - plain - 1);
                e.Unicode = true;
            }
            e.SplitBefore = flags & 0x01;
            e.SplitAfter = flags & 0x02;
            e.Encrypted = flags & 0x04;
            e.Solid = flags & 0x10;
            e.Directory = (flags & 0xE0) == 0xE0;
            e.Link = e.HostOS == 3 && (e.Attributes & 0xF000) == 0xA000;
            if (!e.Unicode && IsMultibyteUtf8(e.Name))
                e.Unicode = true;  // newer writers store UTF-8 names without the Unicode form
            // A 64-bit size can step the walk back to a header already read, round and round.
            if (e.Packed > std::uint64_t(INT64_MAX - e.Data))
                return Finish(Walk, true);
            data = e.Packed;
            Walk.Headers.push_back(std::move(e));
        } else if (type == 0x7B) {
            Walk.EndsWithNext = flags & 0x0001;
            return TRarWalkResult::Ok;
        } else if (!seenMain || type < 0x72 || type > 0x7B) {
            return Finish(Walk, true);
        }
        at += std::int64_t(size) + std::int64_t(data);
    }
    // A volume without an end block goes on when its last file does.
    Walk.EndsWithNext = Walk.IsVolume && !Walk.Headers.empty() && Walk.Headers.back().SplitAfter;
    // Without an end block the archive ends with a header or data, never inside one, and after
    // one member at least: no writer makes an empty archive without its end block.
    return Finish(Walk, Walk.Headers.size() >= kMaxHeaders || at != Size || Walk.Headers.empty());
}

// RAR 5's variable-length integers: seven bits per byte, low first.
struct TVarReader {
    const std::uint8_t* P;
    std::size_t Size;
    std::size_t Pos = 0;
    bool Bad = false;

    std::uint64_t Var()
    {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (Pos >= Size) {
                Bad = true;
                return 0;
            }
            const std::uint8_t b = P[Pos++];
            v |= std::uint64_t(b & 0x7F) << shift;
            if (!(b & 0x80))
                return v;
        }
        Bad = true;
        return 0;
    }
    std::uint32_t U32()
    {
        if (Pos + 4 > Size) {
            Bad = true;
            return 0;
        }
        Pos += 4;
        return GetLE32(P + Pos - 4);
    }
};

// The file-time record: the modification time when it holds one, as Unix seconds or as a
// Windows FILETIME.
void ReadRar5Times(TVarReader& r, std::size_t End, TRarHeader& e)
{
    const std::uint64_t flags = r.Var();
    if (r.Bad || !(flags & 0x2))
        return;
    TVarReader field{r.P, End, r.Pos};
    std::int64_t seconds;
    if (flags & 0x1) {
        seconds = field.U32();
    } else {
        const std::uint64_t low = field.U32(), high = field.U32();
        seconds = std::int64_t((high << 32 | low) / 10000000) - 11644473600;
    }
    if (!field.Bad)
        e.DosTime = DosTimeOfUnix(seconds);
}

void ReadRar5File(TVarReader& r, std::uint64_t ExtraSize, TRarHeader& e)
{
    const std::uint64_t fileFlags = r.Var();
    e.Unpacked = r.Var();
    e.Attributes = std::uint32_t(r.Var());
    if (fileFlags & 0x2)
        e.DosTime = DosTimeOfUnix(r.U32());
    if (fileFlags & 0x4)
        e.Crc = r.U32();
    const std::uint64_t comp = r.Var();
    const std::uint64_t host = r.Var();
    const std::uint64_t nameSize = r.Var();
    if (r.Bad || nameSize > r.Size - r.Pos) {
        r.Bad = true;
        return;
    }
    e.Name.assign(reinterpret_cast<const char*>(r.P + r.Pos), std::size_t(std::min<std::uint64_t>(nameSize, kMaxName)));
    r.Pos += std::size_t(nameSize);
    e.Unicode = true;
    e.Directory = fileFlags & 0x1;
    e.Solid = comp & 0x40;
    e.Method = std::uint8_t(0x30 + (comp >> 7 & 7));
    e.UnpVer = 50;
    e.HostOS = host == 1 ? 3 : 2;
    // The extra area ends the header: an encryption record marks the entry.
    if (ExtraSize > r.Size)
        return;
    TVarReader extra{r.P, r.Size, std::size_t(r.Size - ExtraSize)};
    while (extra.Pos < extra.Size && !extra.Bad) {
        const std::uint64_t recSize = extra.Var();
        const std::size_t recStart = extra.Pos;
        const std::uint64_t recType = extra.Var();
        if (extra.Bad || recSize == 0 || recSize > extra.Size - recStart)
            break;
        if (recType == 1)
            e.Encrypted = true;
        else if (recType == 5)
            e.Link = true;
        else if (recType == 3)
            ReadRar5Times(extra, recStart + std::size_t(recSize), e);
        extra.Pos = recStart + std::size_t(recSize);
    }
}

TRarWalkResult WalkRar5(const TRarReadAt& Read, std::int64_t Size, TRarVolumeWalk& Walk)
{
    std::int64_t at = Walk.Start + 8;
    std::vector<std::uint8_t> head;
    while (at + 7 <= Size && Walk.Headers.size() < kMaxHeaders) {
        std::uint8_t prefix[7] = {};
        const std::int64_t got = Read(at, prefix, 7);
        TVarReader sizeReader{prefix + 4, std::size_t(std::clamp<std::int64_t>(got - 4, 0, sizeof prefix - 4))};
        const std::uint64_t headSize = sizeReader.Var();
        if (sizeReader.Bad || headSize == 0 || headSize > (2u << 20))
            return Finish(Walk, true);
        const std::int64_t headStart = at + 4 + std::int64_t(sizeReader.Pos);
        head.assign(std::size_t(headSize), 0);
        if (Read(headStart, head.data(), std::int64_t(headSize)) != std::int64_t(headSize))
            return Finish(Walk, true);
        // The CRC-32 covers the size field and the header.
        std::uint32_t crc = std::uint32_t(crc32(crc32(0, nullptr, 0), prefix + 4, uInt(sizeReader.Pos)));
        crc = std::uint32_t(crc32(crc, head.data(), uInt(head.size())));
        if (crc != GetLE32(prefix))
            return Finish(Walk, true);
        TVarReader r{head.data(), head.size()};
        const std::uint64_t type = r.Var();
        const std::uint64_t flags = r.Var();
        const std::uint64_t extraSize = (flags & 0x1) ? r.Var() : 0;
        const std::uint64_t dataSize = (flags & 0x2) ? r.Var() : 0;
        if (r.Bad || dataSize > std::uint64_t(INT64_MAX / 2))
            return Finish(Walk, true);
        if (type == 1) {
            const std::uint64_t archiveFlags = r.Var();
            Walk.IsVolume = archiveFlags & 0x1;
            Walk.NewNumbering = true;
        } else if (type == 4) {
            return TRarWalkResult::EncryptedHeaders;
        } else if (type == 5) {
            Walk.EndsWithNext = r.Var() & 0x1;
            return TRarWalkResult::Ok;
        } else if (type == 2) {
            TRarHeader e;
            e.Offset = at;
            e.Data = headStart + std::int64_t(headSize);
            e.Packed = dataSize;
            ReadRar5File(r, extraSize, e);
            if (r.Bad)
                return Finish(Walk, true);
            e.SplitBefore = flags & 0x8;
            e.SplitAfter = flags & 0x10;
            Walk.Headers.push_back(std::move(e));
        }
        at = headStart + std::int64_t(headSize) + std::int64_t(dataSize);
    }
    Walk.EndsWithNext = Walk.IsVolume && !Walk.Headers.empty() && Walk.Headers.back().SplitAfter;
    return Finish(Walk, Walk.Headers.size() >= kMaxHeaders || at != Size || Walk.Headers.empty());
}

}  // namespace

TRarWalkResult WalkRarVolume(const TRarReadAt& Read, std::int64_t Size, TRarVolumeWalk& Walk)
{
    Walk = {};
    if (!FindSignature(Read, Size, Walk))
        return TRarWalkResult::BadArchive;
    return Walk.Rar5 ? WalkRar5(Read, Size, Walk) : WalkRar4(Read, Size, Walk);
}

std::string NextRarVolumeName(const std::string& Name, bool NewNumbering)
{
    const std::size_t slash = Name.find_last_of("/\\");
    const std::size_t dot = Name.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    if (NewNumbering && hasExt) {
        // The last run of digits before the extension is the volume number.
        std::size_t end = dot;
        while (end > 0 && !std::isdigit(static_cast<unsigned char>(Name[end - 1])) && Name[end - 1] != '.' &&
               (slash == std::string::npos || end - 1 > slash))
            --end;
        std::size_t begin = end;
        while (begin > 0 && std::isdigit(static_cast<unsigned char>(Name[begin - 1])))
            --begin;
        if (begin < end) {
            std::string digits = Name.substr(begin, end - begin);
            int i = int(digits.size()) - 1;
            for (; i >= 0 && digits[std::size_t(i)] == '9'; --i)
                digits[std::size_t(i)] = '0';
            if (i < 0)
                digits.insert(digits.begin(), '1');
            else
                ++digits[std::size_t(i)];
            std::string next = Name.substr(0, begin) + digits + Name.substr(end);
            // A self-extracting first volume is followed by ".rar" volumes.
            const std::string ext = next.substr(next.rfind('.'));
            if (ext.size() == 4 && (ext[1] | 0x20) == 'e' && (ext[2] | 0x20) == 'x' && (ext[3] | 0x20) == 'e')
                next.replace(next.size() - 3, 3, "rar");
            return next;
        }
    }
    const std::string base = hasExt ? Name.substr(0, dot) : Name;
    const std::string ext = hasExt ? Name.substr(dot + 1) : "";
    if (ext.size() == 3 && std::isdigit(static_cast<unsigned char>(ext[1])) &&
        std::isdigit(static_cast<unsigned char>(ext[2]))) {
        int n = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
        char letter = ext[0];
        if (n == 100) {
            n = 0;
            ++letter;
        }
        return base + "." + letter + char('0' + n / 10) + char('0' + n % 10);
    }
    const bool upper = ext.size() >= 1 && std::isupper(static_cast<unsigned char>(ext[0]));
    return base + (upper ? ".R00" : ".r00");
}
