#include "core/TarHeader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int ChecksumOffset = 148;
constexpr int ChecksumWidth = 8;
// Sizes and offsets stay far below the int64 range so that rounding and adding cannot overflow.
constexpr std::int64_t MaxFieldValue = std::int64_t(1) << 62;

}  // namespace

std::uint32_t TarHeaderChecksum(const std::uint8_t* Header)
{
    // Three plain runs, which the compiler turns into vector adds; once per entry written or read.
    std::uint32_t sum = ChecksumWidth * 0x20;
    for (int i = 0; i < ChecksumOffset; ++i)
        sum += Header[i];
    for (int i = ChecksumOffset + ChecksumWidth; i < TarBlockSize; ++i)
        sum += Header[i];
    return sum;
}

std::optional<std::int64_t> TarNumericField(const std::uint8_t* Field, int Width)
{
    std::int64_t value = 0;
    if (Field[0] & 0x80) {
        if (Field[0] != 0x80)
            return std::nullopt;  // negative (0xFF) or beyond 2^62
        for (int i = 1; i < Width; ++i) {
            if (value >= MaxFieldValue >> 8)
                return std::nullopt;
            value = value << 8 | Field[i];
        }
        return value;
    }
    for (int i = 0; i < Width; ++i) {
        if (Field[i] < '0' || Field[i] > '7')
            continue;
        if (value >= MaxFieldValue >> 3)
            return std::nullopt;
        value = value << 3 | (Field[i] - '0');
    }
    return value;
}

bool TarHeaderValid(const std::uint8_t* Header)
{
    auto stored = TarNumericField(Header + ChecksumOffset, ChecksumWidth);
    return stored && *stored == TarHeaderChecksum(Header);
}
