#include "readers/ArjFormat.h"

#include <algorithm>
#include <vector>

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/plxGbls.h"
#include "platform/win/CodePage.h"
#include "platform/win/Time.h"
#include "readers/plxUnTar.h"

namespace {

constexpr int kFixedSize = 30;  // the fields every header has, after id and size
constexpr int kMaxExtendedHeaders = 64;

enum THost : std::uint8_t { hMsDos = 0, hUnix = 2, hOs2 = 5, hNext = 8, hWin95 = 10, hWin32 = 11 };

// A UNIX special file's extended header: 'U', a zero byte, then its kind in the top three bits
// of a byte and the length of the name in the low five (31: the length follows in two bytes).
void ReadSpecialBlock(const std::uint8_t* Data, std::size_t Size, TArjHeader& Header)
{
    if (Size < 3 || Data[0] != 'U' || Data[1] != 0)
        return;
    std::size_t at = 3, length = Data[2] & 0x1F;
    if (length == 0x1F) {
        if (Size < 5)
            return;
        length = GetLE16(Data + 3);
        at = 5;
    }
    if (length > Size - at)
        return;
    Header.SpecialKind = Data[2] >> 5;
    Header.LinkName.assign(reinterpret_cast<const char*>(Data + at), length);
}

}  // namespace

bool TArjHeader::DosHost() const
{
    return Host == hMsDos || Host == hOs2 || Host == hWin95 || Host == hWin32;
}

THeaderStatus ReadArjHeader(const TReadAt& Read, std::int64_t Pos, TArjHeader& Header)
{
    std::uint8_t head[4] = {};
    if (Pos < 0 || Read(Pos, head, 4) != 4 || GetLE16(head) != kArjHeaderId)
        return THeaderStatus::Corrupt;
    const int size = GetLE16(head + 2);
    if (size == 0) {
        // The end marker closes the file; one followed by a header's worth of bytes other than
        // padding is a member header whose size was lost, and the members after it with it.
        std::uint8_t after[34];
        const bool more = Read(Pos + 4, after, sizeof after) == std::int64_t(sizeof after) &&
                          !std::all_of(after, after + sizeof after, [](std::uint8_t b) { return b == 0 || b == 0x1A; });
        return more ? THeaderStatus::Corrupt : THeaderStatus::End;
    }
    if (size < kFixedSize || size > kArjMaxBasicSize)
        return THeaderStatus::Corrupt;
    std::vector<std::uint8_t> basic(std::size_t(size) + 4);
    if (Read(Pos + 4, basic.data(), std::int64_t(basic.size())) != std::int64_t(basic.size()))
        return THeaderStatus::Corrupt;
    std::uint32_t crc = CRC_MASK;
    UpdateCrc32(basic.data(), size, crc);
    if ((crc ^ CRC_MASK) != GetLE32(basic.data() + size))
        return THeaderStatus::Corrupt;
    const std::uint8_t* h = basic.data();
    TArjHeader r;
    r.Offset = Pos;
    r.FirstSize = h[0];
    if (r.FirstSize < kFixedSize || r.FirstSize > size)
        return THeaderStatus::Corrupt;
    r.Version = h[1];
    r.MinVersion = h[2];
    r.Host = h[3];
    r.Flags = h[4];
    r.Method = h[5];
    r.FileType = h[6];
    r.PasswordModifier = h[7];
    r.Stamp = GetLE32(h + 8);
    r.PackedSize = GetLE32(h + 12);
    r.UnpackedSize = GetLE32(h + 16);
    r.Crc = GetLE32(h + 20);
    r.Mode = GetLE16(h + 26);
    const auto* text = reinterpret_cast<const char*>(h);
    const char* nameEnd = std::find(text + r.FirstSize, text + size, '\0');
    r.Name.assign(text + r.FirstSize, nameEnd);
    if (nameEnd < text + size)
        r.Comment.assign(nameEnd + 1, std::find(nameEnd + 1, text + size, '\0'));
    // Extended headers: size, data, CRC, until a size of 0.
    std::int64_t pos = Pos + 4 + size + 4;
    for (int link = 0;; ++link) {
        std::uint8_t ext[2] = {};
        if (link == kMaxExtendedHeaders || Read(pos, ext, 2) != 2)
            return THeaderStatus::Corrupt;
        pos += 2;
        const std::size_t extSize = GetLE16(ext);
        if (extSize == 0)
            break;
        if (r.FileType == 6 && r.SpecialKind == 0) {
            std::vector<std::uint8_t> block(extSize);
            if (Read(pos, block.data(), std::int64_t(extSize)) != std::int64_t(extSize))
                return THeaderStatus::Corrupt;
            ReadSpecialBlock(block.data(), extSize, r);
        }
        pos += std::int64_t(extSize) + 4;
    }
    r.DataOffset = pos;
    r.NextOffset = pos + r.PackedSize;
    Header = std::move(r);
    return THeaderStatus::Header;
}

THeaderStatus ReadArjMainHeader(const TReadAt& Read, std::int64_t Pos, TArjHeader& Header)
{
    const THeaderStatus status = ReadArjHeader(Read, Pos, Header);
    return status == THeaderStatus::Header && !Header.IsMainHeader() ? THeaderStatus::Corrupt : status;
}

std::uint32_t ArjAttributes(const TArjHeader& Header)
{
    if (Header.DosHost())
        return Header.Mode | (Header.IsDirectory() ? 0x10u : 0u);
    return Header.IsDirectory() ? 0x10 : 0x20;
}

namespace {

bool UnixTimes(const TArjHeader& Header)
{
    return Header.Host == hUnix || Header.Host == hNext;
}

}  // namespace

std::uint32_t ArjDosDateTime(const TArjHeader& Header)
{
    if (!UnixTimes(Header))
        return Header.Stamp;
    return FileTimeToDosTime(win::UnixTimeToFileTime(std::int64_t(Header.Stamp)));
}

std::optional<std::int64_t> ArjUnixTime(const TArjHeader& Header)
{
    return UnixTimes(Header) ? std::optional<std::int64_t>(Header.Stamp) : std::nullopt;
}

double ArjDateTime(const TArjHeader& Header)
{
    return UnixTimes(Header) ? UnixToDateTime(std::int64_t(Header.Stamp)) : DosDateTimeToDateTime(Header.Stamp);
}

std::string ArjNameToUtf8(const TArjHeader& Header)
{
    std::string name = Header.DosHost() ? win::OemToUtf8(Header.Name) : StoredNameToUtf8(Header.Name);
    return ToDosSeparators(name);
}
