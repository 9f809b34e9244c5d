// The header walk of RAR archives (RAR 1.5 to 4 and RAR 5), across the volumes of a set. It
// supplies what the decoders do not report: packed sizes, CRCs, hosts, methods, split parts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TRarHeader {
    std::string Name;  // UTF-8 when Unicode, else the stored (OEM) bytes; "/" or "\" as stored
    bool Unicode = false;
    bool Directory = false;
    bool Encrypted = false;
    bool SplitBefore = false;
    bool SplitAfter = false;
    bool Solid = false;
    bool Link = false;  // symbolic link, hard link or file copy
    std::uint64_t Packed = 0;
    std::uint64_t Unpacked = 0;
    std::uint32_t Crc = 0;
    std::uint32_t DosTime = 0;
    std::uint32_t Attributes = 0;
    std::uint8_t HostOS = 0;  // 0 DOS, 1 OS/2, 2 Windows, 3 Unix (RAR 5 hosts mapped onto these)
    std::uint8_t UnpVer = 0;
    std::uint8_t Method = 0;  // 0x30 stored .. 0x35 best
    std::int64_t Offset = 0;  // of the header in its volume
    std::int64_t Data = 0;    // of the packed bytes in its volume
    int Volume = 0;           // index into the walk's volume names
};

enum class TRarWalkResult { Ok, BadArchive, EncryptedHeaders, Damaged, MissingVolume };

// Reads Count bytes at Offset of the volume that is open; answers what it read.
using TRarReadAt = std::function<std::int64_t(std::int64_t Offset, void* Buffer, std::int64_t Count)>;

// One volume's headers; EndsWithNext tells whether the set goes on after it.
struct TRarVolumeWalk {
    std::vector<TRarHeader> Headers;
    bool IsVolume = false;      // the archive is part of a set
    bool NewNumbering = false;  // volumes named "name.partN.rar"
    bool EndsWithNext = false;  // another volume follows this one
    bool Rar5 = false;
    std::int64_t Start = 0;  // of the signature (after a self-extractor's stub)
};

// Walks one volume of Size bytes. Damage after at least one header keeps what came before.
TRarWalkResult WalkRarVolume(const TRarReadAt& Read, std::int64_t Size, TRarVolumeWalk& Walk);

// The name of the volume after Name in a set ("a.part1.rar" -> "a.part2.rar", "a.rar" -> "a.r00").
std::string NextRarVolumeName(const std::string& Name, bool NewNumbering);
