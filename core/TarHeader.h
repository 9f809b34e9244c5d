// The tar header checksum and numeric fields.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr int TarBlockSize = 512;

// Sum of the 512 header bytes, the checksum field (bytes 148 to 155) counted as blanks.
std::uint32_t TarHeaderChecksum(const std::uint8_t* Header);
// True when that sum equals the octal number in the checksum field.
bool TarHeaderValid(const std::uint8_t* Header);

// Whether Length bytes (fewer than a block) could begin a header: a name, numeric fields of octal
// digits, blanks and NULs (or base-256) as far as they reach, a known type flag.
bool TarHeaderStartPlausible(const std::uint8_t* Head, std::size_t Length);
// A numeric field: octal digits after leading blanks, up to the first other byte, or base-256
// when the first byte has its top bit set. Empty for a negative or out-of-range value.
std::optional<std::int64_t> TarNumericField(const std::uint8_t* Field, int Width);
// A time field: as above, and also the negative base-256 value (two's complement, first byte
// 0xFF) that GNU tar writes for times before 1970.
std::optional<std::int64_t> TarTimeField(const std::uint8_t* Field, int Width);
