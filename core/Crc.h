// CRC-16 (reflected, polynomial 0xA001) and CRC-32 (reflected, 0xEDB88320) over member data.
// The updates apply no complement: callers start CRC-32 at CRC_MASK and complement at the end.
#pragma once

#include <array>
#include <cstdint>

constexpr std::uint32_t CRC_MASK = 0xFFFFFFFF;

extern const std::array<std::uint16_t, 256> CRC16Table;
extern const std::array<std::uint32_t, 256> CRC32Table;

// Process Length bytes (nothing when Length < 1); Crc takes and answers the new value.
std::uint32_t UpdateCrc16(const void* Buffer, std::int64_t Length, std::uint32_t& Crc);
std::uint32_t UpdateCrc32(const void* Buffer, std::int64_t Length, std::uint32_t& Crc);

// The finished CRC-32 of one buffer.
inline std::uint32_t Crc32Of(const void* Buffer, std::int64_t Length)
{
    std::uint32_t crc = CRC_MASK;
    UpdateCrc32(Buffer, Length, crc);
    return ~crc;
}

// One step of CRC-32, for byte-wise users such as the ZIP cipher's key update.
inline std::uint32_t Crc32Step(std::uint32_t crc, std::uint8_t b)
{
    return CRC32Table[(crc ^ b) & 0xFF] ^ (crc >> 8);
}

// The running checksums of one operation, fed by the data hooks.
struct TRunningCrc {
    std::uint32_t Crc16 = 0;
    std::uint32_t Crc32 = CRC_MASK;

    void Reset()
    {
        Crc16 = 0;
        Crc32 = CRC_MASK;
    }
    // Width 16 or 32 selects the accumulator; any other width does nothing.
    void UpdateCrc(int Width, const void* Buffer, std::int64_t Length);
};
