// ARC and PAK member headers: the one parser behind the listing and the extractor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/ByteIO.h"

inline constexpr std::uint8_t kArcMarker = 0x1A;
inline constexpr int kArcHeaderSize = 29;
inline constexpr int kArcOldHeaderSize = 25;  // method 1: no unpacked size

enum TArcMethodNumber : std::uint8_t { amEnd = 0, amOldStored = 1, amFolder = 30, amFolderEnd = 31 };

struct TArcHeader {
    std::int64_t Offset = 0;
    std::int64_t DataOffset = 0;
    std::int64_t NextOffset = 0;  // a folder's members follow its header: its data offset
    std::uint8_t Method = 0;
    std::string Name;  // stored bytes of the 13-byte field
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Stamp = 0;  // DOS date-time, date in the high word
    std::uint16_t Crc = 0;    // CRC-16 of the unpacked data

    bool IsFolder() const { return Method == amFolder; }
};

// Parses the record at Pos. End: the end marker (method 0, whatever follows it, such as the
// comments PAK keeps there) or nothing more to read. Corrupt: no marker byte, or a header cut
// short. The 2-byte record of method 31 that ends a folder is a Header too.
THeaderStatus ReadArcHeader(const TReadAt& Read, std::int64_t Pos, TArcHeader& Header);

// The member records from a start offset on, folders entered by method 30 and left by method 31:
// what the listing and the extractor both walk.
class TArcHeaderChain {
public:
    explicit TArcHeaderChain(std::int64_t Start) : FPos(Start) {}
    // The next member's header and its folder path ("A\B\", stored bytes). End or Corrupt when
    // the records stop; Corrupt also for folders nested deeper than any real archive holds.
    THeaderStatus Next(const TReadAt& Read, TArcHeader& Header, std::string& Folder);
    // Where the record after the last one read starts.
    std::int64_t Position() const { return FPos; }

private:
    std::vector<std::string> FFolders;
    std::int64_t FPos;
};
