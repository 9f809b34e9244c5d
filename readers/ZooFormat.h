// ZOO archive header and directory entries: the one parser behind the listing and the extractor.
#pragma once

#include <cstdint>
#include <string>

#include "core/ByteIO.h"

inline constexpr std::uint32_t kZooTag = 0xFDC4A7DC;
inline constexpr int kZooEntrySize = 56;  // the fixed part of a directory entry

struct TZooEntry {
    std::int64_t Offset = 0;
    std::int64_t NextOffset = 0;  // 0: this entry ends the chain and is no member
    std::int64_t DataOffset = 0;
    std::uint8_t Method = 0;
    std::uint8_t VersionMadeBy = 0;
    std::uint8_t VersionNeeded = 0;
    bool Deleted = false;
    std::uint32_t Stamp = 0;  // DOS date-time, date in the high word
    std::uint16_t Crc = 0;    // CRC-16 of the unpacked data
    std::uint32_t UnpackedSize = 0;
    std::uint32_t PackedSize = 0;
    std::string Name;  // stored bytes: the long name where there is one, with its folder
    std::uint32_t CommentOffset = 0;
    std::uint16_t CommentLength = 0;
};

struct TZooArchiveHeader {
    std::int64_t Start = 0;  // the first directory entry
    std::uint32_t CommentOffset = 0;
    std::uint16_t CommentLength = 0;
};

// False when the archive header is not one.
bool ReadZooArchiveHeader(const TReadAt& Read, TZooArchiveHeader& Header);
// Parses the entry at Pos. End: the entry that closes the chain. Corrupt: no tag, or cut short.
THeaderStatus ReadZooEntry(const TReadAt& Read, std::int64_t Pos, TZooEntry& Entry);
