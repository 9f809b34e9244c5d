#include "readers/ArcFormat.h"

#include <algorithm>

#include "core/Endian.h"

THeaderStatus ReadArcHeader(const TReadAt& Read, std::int64_t Pos, TArcHeader& Header)
{
    std::uint8_t h[kArcHeaderSize] = {};
    const std::int64_t got = Read(Pos, h, kArcHeaderSize);
    if (got == 0)
        return THeaderStatus::End;  // no end marker: the records simply stop
    if (h[0] != kArcMarker || got < 2)
        return THeaderStatus::Corrupt;
    TArcHeader r;
    r.Offset = Pos;
    r.Method = h[1];
    if (r.Method == amEnd)
        return THeaderStatus::End;
    if (r.Method == amFolderEnd) {
        r.NextOffset = Pos + 2;
        Header = r;
        return THeaderStatus::Header;
    }
    const int size = r.Method == amOldStored ? kArcOldHeaderSize : kArcHeaderSize;
    if (got < size)
        return THeaderStatus::Corrupt;
    const auto* name = reinterpret_cast<const char*>(h + 2);
    r.Name.assign(name, std::find(name, name + 13, '\0'));
    r.PackedSize = GetLE32(h + 15);
    r.Stamp = std::uint32_t(GetLE16(h + 19)) << 16 | GetLE16(h + 21);
    r.Crc = GetLE16(h + 23);
    r.UnpackedSize = r.Method == amOldStored ? r.PackedSize : GetLE32(h + 25);
    r.DataOffset = Pos + size;
    r.NextOffset = r.IsFolder() ? r.DataOffset : r.DataOffset + r.PackedSize;
    Header = std::move(r);
    return THeaderStatus::Header;
}

THeaderStatus TArcHeaderChain::Next(const TReadAt& Read, TArcHeader& Header, std::string& Folder)
{
    constexpr std::size_t kMaxFolderDepth = 64;
    for (;;) {
        const THeaderStatus status = ReadArcHeader(Read, FPos, Header);
        if (status != THeaderStatus::Header)
            return status;
        FPos = Header.NextOffset;
        if (Header.Method == amFolderEnd) {
            if (!FFolders.empty())
                FFolders.pop_back();
            continue;
        }
        Folder.clear();
        for (const std::string& f : FFolders)
            Folder += f + "\\";
        if (Header.IsFolder()) {
            if (FFolders.size() == kMaxFolderDepth)
                return THeaderStatus::Corrupt;
            FFolders.push_back(Header.Name);
        }
        return status;
    }
}
