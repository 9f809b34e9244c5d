// Little-endian fields of archive headers: the one place that assembles and splits them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline std::uint16_t GetLE16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

inline std::uint32_t GetLE32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline std::uint64_t GetLE64(const std::uint8_t* p)
{
    return std::uint64_t(GetLE32(p)) | std::uint64_t(GetLE32(p + 4)) << 32;
}

inline void PutLE16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

// One store on a little-endian host: the compiler does not merge the byte loop into one.
inline void PutLE32(std::uint8_t* p, std::uint32_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    for (int i = 0; i < 4; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

inline void PutLE64(std::uint8_t* p, std::uint64_t v)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    for (int i = 0; i < 8; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}
