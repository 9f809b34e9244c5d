// ARJ headers: the one parser behind the listing and the extractor, and the mapping of the
// stored host's modes and times to what the program shows and restores.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/ByteIO.h"

inline constexpr std::uint16_t kArjHeaderId = 0xEA60;
inline constexpr int kArjMaxBasicSize = 2600;  // what ARJ itself accepts

struct TArjHeader {
    std::int64_t Offset = 0;      // of the header id
    std::int64_t DataOffset = 0;  // after the extended headers
    std::int64_t NextOffset = 0;  // data offset + packed size (the main header's has no data: use DataOffset)
    std::uint8_t FirstSize = 0;
    std::uint8_t Version = 0;
    std::uint8_t MinVersion = 0;
    std::uint8_t Host = 0;
    std::uint8_t Flags = 0;
    std::uint8_t Method = 0;
    std::uint8_t FileType = 0;
    std::uint8_t PasswordModifier = 0;
    std::uint32_t Stamp = 0;  // DOS date-time, or Unix time for Unix hosts
    std::uint32_t PackedSize = 0;
    std::uint32_t UnpackedSize = 0;
    std::uint32_t Crc = 0;
    std::uint16_t Mode = 0;  // DOS attributes, or the host's own mode bits
    std::string Name;        // stored bytes, separators as stored
    std::string Comment;
    // A UNIX host's special file (file type 6): the kind its extended header names (1: a hard
    // link) and that header's name, the stored name of the member it links to.
    std::uint8_t SpecialKind = 0;
    std::string LinkName;

    bool Garbled() const { return (Flags & 0x01) != 0; }
    // A member: continued in the next volume; the main header: a multi-volume set.
    bool ContinuesInNext() const { return (Flags & 0x04) != 0; }
    bool ContinuedFromPrevious() const { return (Flags & 0x08) != 0; }
    bool IsDirectory() const { return FileType == 3; }
    bool IsMainHeader() const { return FileType == 2; }
    bool IsHardLink() const { return FileType == 6 && SpecialKind == 1; }
    // Whether the host stores DOS attributes and a DOS date-time.
    bool DosHost() const;
};

// Parses the header at Pos. End: the header of size 0 that closes the archive or volume.
// Corrupt: a wrong id, a size out of bounds, a header cut short or failing its CRC.
THeaderStatus ReadArjHeader(const TReadAt& Read, std::int64_t Pos, TArjHeader& Header);

// The header that opens the archive or a volume. A member header in its place is no start: a
// damaged main header would otherwise let a later member (one without data, whose next header
// follows at once) pass for the archive's start, and every member before it be lost in silence.
THeaderStatus ReadArjMainHeader(const TReadAt& Read, std::int64_t Pos, TArjHeader& Header);

// The member's DOS attributes: kept from DOS-like hosts; archive (0x20) or folder (0x10) for
// the others, whose mode bits mean something else.
std::uint32_t ArjAttributes(const TArjHeader& Header);
// The member's stamp as a local DOS date-time (for the file), whatever the host stored.
std::uint32_t ArjDosDateTime(const TArjHeader& Header);
// The stored UNIX time, for the hosts that store one.
std::optional<std::int64_t> ArjUnixTime(const TArjHeader& Header);
// The member's stamp as shown: Unix times keep their odd seconds.
double ArjDateTime(const TArjHeader& Header);
// The stored name in the program's form: UTF-8, "\" separators (CP852 from DOS-like hosts).
std::string ArjNameToUtf8(const TArjHeader& Header);
