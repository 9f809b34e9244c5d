#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/TarHeader.h"

namespace {

// A header with a correct checksum written as octal + NUL + blank.
std::vector<std::uint8_t> MakeHeader(const std::string& name, char type, const char* mode = "0000644")
{
    std::vector<std::uint8_t> h(TarBlockSize, 0);
    std::memcpy(h.data(), name.data(), std::min<std::size_t>(name.size(), 100));
    std::memcpy(h.data() + 100, mode, std::strlen(mode));
    std::memcpy(h.data() + 124, "00000000000", 11);
    h[156] = std::uint8_t(type);
    return h;
}

void SealChecksum(std::vector<std::uint8_t>& h, std::size_t at = 0)
{
    std::snprintf(reinterpret_cast<char*>(h.data() + at + 148), 8, "%06o", TarHeaderChecksum(h.data() + at));
    h[at + 155] = ' ';
}

}  // namespace

TEST(TarHeader, ChecksumRule)
{
    std::vector<std::uint8_t> zero(TarBlockSize, 0);
    EXPECT_EQ(TarHeaderChecksum(zero.data()), 256u);
    EXPECT_FALSE(TarHeaderValid(zero.data()));  // sum 256 against a field of 0

    auto h = MakeHeader("a.txt", '0');
    SealChecksum(h);  // digits, NUL, blank
    EXPECT_TRUE(TarHeaderValid(h.data()));
    std::memset(h.data() + 148, ' ', 8);  // leading blanks, trailing NUL
    std::snprintf(reinterpret_cast<char*>(h.data() + 150), 6, "%o", TarHeaderChecksum(h.data()));
    EXPECT_TRUE(TarHeaderValid(h.data()));
    h[0] ^= 1;
    EXPECT_FALSE(TarHeaderValid(h.data()));

    // The wide sums equal a byte-by-byte sum for all-high bytes, a ramp, and a block read from an
    // odd address; the checksum field counts as eight blanks whatever it holds.
    std::vector<std::uint8_t> buffer(TarBlockSize + 1);
    for (int fill = 0; fill < 3; ++fill) {
        for (std::size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = fill == 0 ? 0xFF : std::uint8_t(i * 37 + std::size_t(fill));
        const std::uint8_t* block = buffer.data() + (fill == 2 ? 1 : 0);
        std::uint32_t plain = 8 * 0x20;
        for (int i = 0; i < TarBlockSize; ++i)
            plain += i >= 148 && i < 156 ? 0 : block[i];
        EXPECT_EQ(TarHeaderChecksum(block), plain) << fill;
    }
}

TEST(TarHeader, NumericFieldsOctalAndBase256)
{
    const std::uint8_t octal[12] = {' ', '0', '6', '4', '4', ' ', 0};
    EXPECT_EQ(TarNumericField(octal, 12), 420);
    std::uint8_t big[12] = {0x80};
    big[7] = 0x02;  // 2 << 32 = 8 GiB, beyond 11 octal digits
    EXPECT_EQ(TarNumericField(big, 12), std::int64_t(2) << 32);
    std::uint8_t negative[12];
    std::memset(negative, 0xFF, 12);
    EXPECT_FALSE(TarNumericField(negative, 12));
    std::uint8_t huge[12];
    std::memset(huge, 0xFF, 12);
    huge[0] = 0x80;
    EXPECT_FALSE(TarNumericField(huge, 12));
    // Times before 1970 as GNU tar writes them; a size never takes that form.
    EXPECT_EQ(TarTimeField(negative, 12), -1);
    const std::uint8_t y1960[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xED, 0x30, 0x08, 0x80};
    EXPECT_EQ(TarTimeField(y1960, 12), -315619200);
    EXPECT_EQ(TarTimeField(octal, 12), 420);
    std::uint8_t tooOld[12] = {0xFF, 0x7F};
    EXPECT_FALSE(TarTimeField(tooOld, 12));
}

TEST(TarHeader, NumberEndsAtItsTerminator)
{
    // Bytes a writer left after the NUL or blank that ends a number are not digits of it, as tar
    // reads them; a header whose fields carry such bytes still counts as one.
    const std::uint8_t afterNul[12] = {'0', '0', '0', '0', '6', '4', '4', 0, '7', '7', '7', 0};
    EXPECT_EQ(TarNumericField(afterNul, 12), 420);
    const std::uint8_t afterBlank[8] = {' ', ' ', '6', '4', '4', ' ', '1', '2'};
    EXPECT_EQ(TarNumericField(afterBlank, 8), 420);
    const std::uint8_t leadingNul[8] = {0, '6', '4', '4', 0};
    EXPECT_EQ(TarNumericField(leadingNul, 8), 420);

    auto h = MakeHeader("a.txt", '0');
    std::memcpy(h.data() + 100,
                "644\0"
                "755",
                8);
    std::memcpy(h.data() + 124, "00000000012\0", 12);
    std::memcpy(h.data() + 136,
                "1234\0"
                "5670123",
                12);
    SealChecksum(h);
    EXPECT_TRUE(TarHeaderValid(h.data()));
    EXPECT_TRUE(TarHeaderStartPlausible(h.data(), 257));
    EXPECT_EQ(TarNumericField(h.data() + 100, 8), 0644);
    EXPECT_EQ(TarNumericField(h.data() + 124, 12), 10);
    EXPECT_EQ(TarTimeField(h.data() + 136, 12), 01234);
    h[140] = 'x';  // not a terminator: no header
    EXPECT_FALSE(TarHeaderStartPlausible(h.data(), 257));
}

TEST(TarHeader, OctalFieldsOfEveryShapeReadAsTarReadsThem)
{
    // Fields of leading blanks or NULs, digits, a terminator and then leftovers, read a word at a
    // time, against the plain reading: blanks, digits up to the first other byte.
    const auto plain = [](const std::uint8_t* f, int width) {
        int i = 0;
        while (i < width && (f[i] == ' ' || f[i] == 0))
            ++i;
        std::int64_t v = 0;
        for (; i < width && f[i] >= '0' && f[i] <= '7'; ++i)
            v = v * 8 + (f[i] - '0');
        return v;
    };
    const std::uint8_t bytes[] = {'0', '1', '7', '3', '5', ' ', 0, '8', '9', '/', 'x', 0x7F};
    std::uint32_t seed = 7;
    for (int round = 0; round < 20000; ++round) {
        std::uint8_t field[12];
        const int width = round % 2 ? 12 : 8;
        for (int i = 0; i < width; ++i) {
            seed = seed * 1103515245u + 12345u;
            // Mostly digits, so that long runs and runs ending anywhere both occur.
            const std::uint32_t pick = (seed >> 10) % 24;
            field[i] = pick < 12 ? bytes[pick] : std::uint8_t('0' + pick % 8);
        }
        ASSERT_EQ(TarNumericField(field, width), plain(field, width)) << round;
    }
    const std::uint8_t eleven[12] = {'7', '7', '7', '7', '7', '7', '7', '7', '7', '7', '7', 0};
    EXPECT_EQ(TarNumericField(eleven, 12), (std::int64_t(1) << 33) - 1);
}
