#include "core/Crc.h"

#include <libdeflate.h>

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table()
{
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        t[i] = std::uint16_t(c);
    }
    return t;
}

constexpr std::array<std::uint32_t, 256> MakeCrc32Table()
{
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[i] = c;
    }
    return t;
}

}  // namespace

const std::array<std::uint16_t, 256> CRC16Table = MakeCrc16Table();
const std::array<std::uint32_t, 256> CRC32Table = MakeCrc32Table();

std::uint32_t UpdateCrc16(const void* Buffer, std::int64_t Length, std::uint32_t& Crc)
{
    if (Length < 1)
        return Crc;
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    std::uint32_t c = Crc;
    for (std::int64_t i = 0; i < Length; ++i)
        c = CRC16Table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return Crc = c;
}

std::uint32_t UpdateCrc32(const void* Buffer, std::int64_t Length, std::uint32_t& Crc)
{
    if (Length < 1)
        return Crc;
    // The library works on finished values, ours on the bare register; its folded code runs at
    // memory speed, several times a table-driven loop.
    return Crc = ~libdeflate_crc32(~Crc, Buffer, std::size_t(Length));
}

void TRunningCrc::UpdateCrc(int Width, const void* Buffer, std::int64_t Length)
{
    if (Width == 16)
        UpdateCrc16(Buffer, Length, Crc16);
    else if (Width == 32)
        UpdateCrc32(Buffer, Length, Crc32);
}
