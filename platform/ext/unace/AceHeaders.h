// The header walk of ACE archives: the main header (found after a self-extractor's stub) and the
// file headers with the offsets of their data; every header's CRC-16 is checked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TAceMember {
    std::string Name;  // as stored: OEM bytes, "\" separators
    std::uint16_t Flags = 0;
    std::uint64_t Packed = 0;
    std::uint64_t Size = 0;
    std::uint32_t Time = 0;  // DOS date and time
    std::uint32_t Attributes = 0;
    std::uint32_t Crc = 0;  // ACE form: not inverted
    int CompType = 0;
    std::int64_t DataOffset = 0;

    bool Directory() const { return (Attributes & 0x10) != 0; }
    bool Encrypted() const { return (Flags & 0x4000) != 0; }
    bool ContinuedFromPrevious() const { return (Flags & 0x1000) != 0; }
    bool ContinuedInNext() const { return (Flags & 0x2000) != 0; }
};

enum class TAceWalkResult { Ok, NotAce, Damaged };

struct TAceArchiveWalk {
    std::vector<TAceMember> Members;
    std::uint16_t MainFlags = 0;
    std::uint8_t CreatorVersion = 0;
    std::uint8_t VolumeNumber = 0;  // 0 for the first volume of a set
    bool MultiVolume() const { return (MainFlags & 0x0800) != 0; }
    bool Solid() const { return (MainFlags & 0x8000) != 0; }
};

using TAceReadAt = std::function<std::int64_t(std::int64_t Offset, void* Buffer, std::int64_t Count)>;

// Damage after some members keeps them (Damaged); NotAce when no main header is found.
TAceWalkResult WalkAceArchive(const TAceReadAt& Read, std::int64_t Size, TAceArchiveWalk& Walk);
// The ACE CRC-32 (the register, not inverted) of Data, continued from Crc.
std::uint32_t AceCrc32(std::uint32_t Crc, const void* Data, std::size_t Size);
