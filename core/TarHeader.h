// The tar header checksum and one step of the tar header walk used by the listing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

constexpr int TarBlockSize = 512;
constexpr int TarMaxLongName = 511;  // bytes of a GNU long name that are kept

// Sum of the 512 header bytes, the checksum field (bytes 148 to 155) counted as blanks.
std::uint32_t TarHeaderChecksum(const std::uint8_t* Header);
// True when that sum equals the octal number in the checksum field.
bool TarHeaderValid(const std::uint8_t* Header);

// A numeric field: octal digits (other characters skipped), or base-256 when the first byte has
// its top bit set. Empty for a negative or out-of-range base-256 value.
std::optional<std::int64_t> TarNumericField(const std::uint8_t* Field, int Width);

// Reads up to Count bytes at Offset of the archive; answers the number read.
using TTarBlockReader = std::function<std::int64_t(std::int64_t Offset, void* Buffer, std::int64_t Count)>;

enum class TTarHeaderKind : std::uint8_t {
    Entry,     // a member to list
    LongName,  // a GNU long name for the next header: nothing to list
    Nameless   // a header without a name: nothing to list
};

struct TTarHeaderInfo {
    TTarHeaderKind Kind = TTarHeaderKind::Entry;
    std::string FileName;  // header bytes as stored, "\" as separator
    char TypeFlag = 0;
    std::uint32_t Mode = 0;
    std::int64_t Size = 0;
    std::int64_t MTime = 0;  // Unix time
    std::int64_t HeaderOffset = 0;
    std::int64_t DataOffset = 0;
};

// Reads the header at Offset and moves Offset to the next header. LongName carries a pending GNU
// long name from one call to the next. False ends the walk: an unreadable or invalid block, or
// the end marker (a header without name and size, which also moves Offset to ArchiveSize).
bool ReadTarHeader(const TTarBlockReader& Read, std::int64_t ArchiveSize, std::int64_t& Offset,
                   std::string& LongName, TTarHeaderInfo& Info);
