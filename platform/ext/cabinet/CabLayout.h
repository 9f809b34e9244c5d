// The cabinet file's fixed records, shared by the reader and the writer of the library.
#pragma once

#include "core/Endian.h"

#include <cstddef>
#include <cstdint>
#include <vector>

inline constexpr std::size_t kCabHeaderSize = 36;
inline constexpr std::size_t kCabFolderSize = 8;
inline constexpr std::size_t kCabFileFixedSize = 16;
inline constexpr std::size_t kCabFileRecordMax = kCabFileFixedSize + 256;
inline constexpr std::size_t kCabDataHeaderSize = 8;
inline constexpr std::uint32_t kCabSignature = 0x4643534D;  // "MSCF"
inline constexpr std::uint16_t kCabFlagPrevious = 1, kCabFlagNext = 2, kCabFlagReserve = 4;
inline constexpr std::uint16_t kCabFolderFromPrev = 0xFFFD, kCabFolderToNext = 0xFFFE, kCabFolderPrevAndNext = 0xFFFF;
inline constexpr std::uint32_t kCabBlockSize = 32768;  // uncompressed bytes of a data block

struct TCabHeaderFields {
    std::uint32_t Signature = 0;
    std::uint32_t Size = 0;
    std::uint32_t FilesOffset = 0;
    std::uint8_t VersionMinor = 0, VersionMajor = 0;
    std::uint16_t FolderCount = 0, FileCount = 0, Flags = 0, SetId = 0, Index = 0;
};

inline TCabHeaderFields DecodeCabHeader(const std::uint8_t* h)
{
    TCabHeaderFields f;
    f.Signature = GetLE32(h);
    f.Size = GetLE32(h + 8);
    f.FilesOffset = GetLE32(h + 16);
    f.VersionMinor = h[24];
    f.VersionMajor = h[25];
    f.FolderCount = GetLE16(h + 26);
    f.FileCount = GetLE16(h + 28);
    f.Flags = GetLE16(h + 30);
    f.SetId = GetLE16(h + 32);
    f.Index = GetLE16(h + 34);
    return f;
}

// Calls Visit(folder index) for each whole CFFILE record in Bytes, at most Count of them.
template <class TVisit>
void WalkCabFileRecords(const std::vector<std::uint8_t>& Bytes, std::size_t Count, TVisit Visit)
{
    std::size_t at = 0;
    for (std::size_t i = 0; i < Count && at + kCabFileFixedSize < Bytes.size(); ++i) {
        std::size_t end = at + kCabFileFixedSize;
        while (end < Bytes.size() && Bytes[end] != 0)
            ++end;
        if (end >= Bytes.size())
            return;
        Visit(GetLE16(&Bytes[at + 8]));
        at = end + 1;
    }
}

// The data block checksum: 32-bit words XORed, the tail bytes taken high to low.
inline std::uint32_t CabChecksum(const std::uint8_t* Data, std::size_t Count, std::uint32_t Seed)
{
    std::uint32_t sum = Seed;
    std::size_t i = 0;
    for (; i + 4 <= Count; i += 4)
        sum ^= GetLE32(Data + i);
    std::uint32_t tail = 0;
    switch (Count - i) {
    case 3:
        tail |= std::uint32_t(Data[i++]) << 16;
        [[fallthrough]];
    case 2:
        tail |= std::uint32_t(Data[i++]) << 8;
        [[fallthrough]];
    case 1:
        tail |= Data[i];
        break;
    default:
        break;
    }
    return sum ^ tail;
}
