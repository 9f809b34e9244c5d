#include "core/TarHeader.h"

#include "core/Endian.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int ChecksumOffset = 148;
constexpr int ChecksumWidth = 8;
// Sizes and offsets stay far below the int64 range so that rounding and adding cannot overflow.
constexpr std::int64_t MaxFieldValue = std::int64_t(1) << 62;

}  // namespace

std::uint32_t TarHeaderChecksum(const std::uint8_t* Header)
{
    // Once per entry written or read, so summed in wide steps: sixteen bytes at a time where the
    // processor has SSE2 (every x86-64), else eight bytes in four 16-bit lanes (64 steps of at
    // most 2 x 255 each stay below 2^16); then the checksum field's own bytes taken out again.
    std::uint32_t sum = 0;
#if defined(__SSE2__)
    __m128i total = _mm_setzero_si128();
    for (int i = 0; i < TarBlockSize; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Header + i));
        total = _mm_add_epi64(total, _mm_sad_epu8(bytes, _mm_setzero_si128()));
    }
    sum = std::uint32_t(_mm_cvtsi128_si32(total)) + std::uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(total, 8)));
#else
    constexpr std::uint64_t Lanes = 0x00FF00FF00FF00FFull;
    std::uint64_t lanes = 0;
    for (int i = 0; i < TarBlockSize; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, Header + i, sizeof word);
        lanes += (word & Lanes) + ((word >> 8) & Lanes);
    }
    for (int lane = 0; lane < 4; ++lane)
        sum += std::uint32_t(lanes >> (16 * lane)) & 0xFFFF;
#endif
    for (int i = ChecksumOffset; i < ChecksumOffset + ChecksumWidth; ++i)
        sum -= Header[i];
    return sum + ChecksumWidth * 0x20;
}

namespace {

// The octal digits that begin the eight bytes of X (the first in its lowest byte): how many (0 to
// 8), and in Value what they make. Found and combined a word at a time: three steps for eight.
int OctalRun8(std::uint64_t x, std::uint64_t& Value)
{
    // A byte is a digit when its top five bits are those of '0' to '7'.
    const std::uint64_t other = (x & 0xF8F8F8F8F8F8F8F8ull) ^ 0x3030303030303030ull;
    const int n = other == 0 ? 8 : __builtin_ctzll(other) / 8;
    if (n == 0) {
        Value = 0;
        return 0;
    }
    // The run's digits moved to the last bytes (the places before them read 0), then each pair,
    // quad and octet joined, the earlier byte the higher digit: each multiplication adds the
    // earlier place, times its weight, to the later one.
    std::uint64_t d = (x & 0x0707070707070707ull) << (8 * (8 - n));
    d = ((d * (1 + (8ull << 8))) >> 8) & 0x00FF00FF00FF00FFull;
    d = ((d * (1 + (64ull << 16))) >> 16) & 0x0000FFFF0000FFFFull;
    Value = (d * (1 + (4096ull << 32))) >> 32;
    return n;
}

}  // namespace

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
    // Leading blanks (and NULs), the digits, then a terminator: what follows it is not part of
    // the number, whatever bytes a writer left there.
    int i = 0;
    while (i < Width && (Field[i] == ' ' || Field[i] == 0))
        ++i;
    // Eight digits at a time, the last word read from the field's end and shifted down (the bytes
    // after the field read as zeros, which end a run). A header's fields are 8 and 12 bytes wide:
    // 21 digits, the most that could pass the limit, never come this way.
    if (Width >= 8 && Width <= 20) {
        for (std::uint64_t run = 0; i < Width;) {
            const std::uint64_t word =
                i + 8 <= Width ? GetLE64(Field + i) : GetLE64(Field + Width - 8) >> (8 * (i + 8 - Width));
            const int n = OctalRun8(word, run);
            value = value << (3 * n) | std::int64_t(run);
            i += n;
            if (n < 8)
                break;
        }
        return value;
    }
    for (; i < Width && Field[i] >= '0' && Field[i] <= '7'; ++i) {
        if (value >= MaxFieldValue >> 3)
            return std::nullopt;
        value = value << 3 | (Field[i] - '0');
    }
    return value;
}

std::optional<std::int64_t> TarTimeField(const std::uint8_t* Field, int Width)
{
    if (Field[0] != 0xFF)
        return TarNumericField(Field, Width);
    std::int64_t value = -1;  // the first byte's bits, all set
    for (int i = 1; i < Width; ++i) {
        if (value < -(MaxFieldValue >> 8))
            return std::nullopt;
        value = value * 256 + Field[i];
    }
    return value;
}

bool TarHeaderValid(const std::uint8_t* Header)
{
    auto stored = TarNumericField(Header + ChecksumOffset, ChecksumWidth);
    return stored && *stored == TarHeaderChecksum(Header);
}

bool TarHeaderStartPlausible(const std::uint8_t* Head, std::size_t Length)
{
    struct TField {
        std::size_t At, Width;
        bool Binary;  // may be base-256
    };
    // mode, uid, gid, size, mtime, checksum
    static constexpr TField Fields[] = {{100, 8, false}, {108, 8, true},  {116, 8, true},
                                        {124, 12, true}, {136, 12, true}, {148, 8, false}};
    if (Length == 0 || Head[0] == 0)
        return false;
    for (const TField& f : Fields) {
        if (f.Binary && Length > f.At && (Head[f.At] & 0x80) != 0)
            continue;
        bool digits = false;
        for (std::size_t i = f.At; i < f.At + f.Width && i < Length; ++i) {
            const bool digit = Head[i] >= '0' && Head[i] <= '7';
            if (!digit && digits && (Head[i] == ' ' || Head[i] == 0))
                break;  // the terminator: the rest of the field is not read
            if (!digit && Head[i] != ' ' && Head[i] != 0)
                return false;
            digits = digits || digit;
        }
    }
    constexpr std::string_view Types("01234567LKxXgSDMNV", 18);
    return Length <= 156 || Head[156] == 0 || Types.find(char(Head[156])) != std::string_view::npos;
}
