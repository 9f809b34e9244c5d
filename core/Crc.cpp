#include "core/Crc.h"

#include "core/Endian.h"

namespace {

constexpr std::array<std::uint16_t, 256> MakeCrc16Table() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
        t[i] = std::uint16_t(c);
    }
    return t;
}

using TSliceTables = std::array<std::array<std::uint32_t, 256>, 8>;

// Slice k holds the CRC of a byte followed by k zero bytes, so eight bytes fold in one step.
constexpr TSliceTables MakeCrc32Slices() {
    TSliceTables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i)
        for (int s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    return t;
}

constexpr TSliceTables Crc32Slices = MakeCrc32Slices();

}  // namespace

const std::array<std::uint16_t, 256> CRC16Table = MakeCrc16Table();
const std::array<std::uint32_t, 256> CRC32Table = Crc32Slices[0];

std::uint32_t UpdateCrc16(const void* Buffer, std::int64_t Length, std::uint32_t& Crc) {
    if (Length < 1) return Crc;
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    std::uint32_t c = Crc;
    for (std::int64_t i = 0; i < Length; ++i) c = CRC16Table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return Crc = c;
}

std::uint32_t UpdateCrc32(const void* Buffer, std::int64_t Length, std::uint32_t& Crc) {
    if (Length < 1) return Crc;
    const auto* p = static_cast<const std::uint8_t*>(Buffer);
    const auto& t = Crc32Slices;
    std::uint32_t c = Crc;
    std::uint64_t n = std::uint64_t(Length);
    for (; n >= 8; n -= 8, p += 8) {
        std::uint32_t lo = GetLE32(p) ^ c;
        std::uint32_t hi = GetLE32(p + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    }
    for (; n > 0; --n, ++p) c = t[0][(c ^ *p) & 0xFF] ^ (c >> 8);
    return Crc = c;
}

void TRunningCrc::UpdateCrc(int Width, const void* Buffer, std::int64_t Length) {
    if (Width == 16)
        UpdateCrc16(Buffer, Length, Crc16);
    else if (Width == 32)
        UpdateCrc32(Buffer, Length, Crc32);
}
