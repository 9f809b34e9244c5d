// LHA member headers of levels 0 to 3: the one parser behind the listing, the extractor and the
// writer's walk over an old archive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/ByteIO.h"

inline constexpr int kLhaBaseHeaderSize = 22;

struct TLhaHeader {
    std::int64_t Offset = 0;      // of the header's first byte
    std::int64_t DataOffset = 0;  // of the packed data
    std::int64_t PackedSize = 0;  // of the data alone (level-1 extended headers taken off)
    std::int64_t NextOffset = 0;  // of the next header
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Stamp = 0;  // DOS date-time, or Unix time when UnixStamp
    bool UnixStamp = false;
    std::uint8_t Attributes = 0x20;
    int Level = 0;
    char Method[6] = {};    // "-lh5-"
    std::uint16_t Crc = 0;  // CRC-16 of the unpacked data
    std::uint8_t Host = 0;
    std::uint32_t UnixMode = 0;  // 0: none stored
    std::string Name;            // stored bytes; folders joined with "\"

    char MethodChar() const { return Method[3]; }
    // "-lh?-": a method of this family (whether we can decode it or not).
    bool IsLhaMethod() const { return Method[0] == '-' && Method[1] == 'l' && Method[2] == 'h' && Method[4] == '-'; }
    // Some writers stored folders as empty "-lh0-" members whose name ends in a separator.
    bool IsDirectory() const
    {
        return IsLhaMethod() && (MethodChar() == 'd' || (UnpackedSize == 0 && !Name.empty() && Name.back() == '\\'));
    }
    // A Unix symbolic link ("name|target" with a link mode): nothing to extract.
    bool IsSymlink() const
    {
        return (UnixMode & 0xF000) == 0xA000 || (IsDirectory() && Name.find('|') != std::string::npos);
    }
};

// The offset of the first header: Start, or Start + 128 behind a prefix that begins with 0.
std::int64_t LhaFirstHeader(const TReadAt& Read, std::int64_t Start);

// Parses the header at Pos of an archive of ArchiveSize bytes. End: the 0 byte that closes the
// archive, or nothing more to read. Corrupt: a header that is cut short or does not add up.
THeaderStatus ReadLhaHeader(const TReadAt& Read, std::int64_t Pos, std::int64_t ArchiveSize, TLhaHeader& Header);
// The same walk step, but a short run of zeros followed by a header (a self-extractor's stub
// member, then its archive) is passed over instead of ending the archive.
THeaderStatus ReadLhaHeaderPastGap(const TReadAt& Read, std::int64_t Pos, std::int64_t ArchiveSize, TLhaHeader& Header);
// Whether the bytes at Pos are a header whose method or sizes were damaged: what detection
// passes over when it finds the next member behind them.
bool LhaDamagedHeaderAt(const TReadAt& Read, std::int64_t Pos);
