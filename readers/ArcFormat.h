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
    std::string Name;             // stored bytes of the 13-byte field
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Stamp = 0;      // DOS date-time, date in the high word
    std::uint16_t Crc = 0;        // CRC-16 of the unpacked data

    bool IsFolder() const { return Method == amFolder; }
};

enum class TArcHeaderStatus { Header, FolderEnd, End, Corrupt };

// Parses the record at Pos. End: the end marker (method 0, whatever follows it, such as the
// comments PAK keeps there) or nothing more to read. FolderEnd: the 2-byte record of method 31.
// Corrupt: no marker byte, or a header cut short.
TArcHeaderStatus ReadArcHeader(const TReadAt& Read, std::int64_t Pos, TArcHeader& Header);

// Walks the records from Start, folders entered by method 30 and left by method 31; OnMember
// gets each header with its folder path ("A\B\", stored bytes). Answers the status that ended
// the walk: End or Corrupt (or Header when OnMember answered false).
template <class TOnMember>
TArcHeaderStatus WalkArcHeaders(const TReadAt& Read, std::int64_t Start, TOnMember OnMember)
{
    constexpr std::size_t kMaxFolderDepth = 64;
    std::vector<std::string> folders;
    std::int64_t pos = Start;
    for (;;) {
        TArcHeader h;
        const TArcHeaderStatus status = ReadArcHeader(Read, pos, h);
        if (status == TArcHeaderStatus::End || status == TArcHeaderStatus::Corrupt)
            return status;
        pos = h.NextOffset;
        if (status == TArcHeaderStatus::FolderEnd) {
            if (!folders.empty())
                folders.pop_back();
            continue;
        }
        std::string path;
        for (const std::string& f : folders)
            path += f + "\\";
        if (!OnMember(h, path))
            return TArcHeaderStatus::Header;
        if (h.IsFolder()) {
            if (folders.size() == kMaxFolderDepth)
                return TArcHeaderStatus::Corrupt;
            folders.push_back(h.Name);
        }
    }
}
