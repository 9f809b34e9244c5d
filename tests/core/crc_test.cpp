#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "core/Crc.h"

TEST(Crc, KnownAnswersAndTables)
{
    EXPECT_EQ(CRC16Table[1], 0xC0C1);
    EXPECT_EQ(CRC32Table[1], 0x77073096u);

    std::uint32_t crc = CRC_MASK;
    EXPECT_EQ(UpdateCrc32("abc", 3, crc) ^ CRC_MASK, 0x352441C2u);
    EXPECT_EQ(crc ^ CRC_MASK, 0x352441C2u);

    std::uint32_t crc16 = 0;
    UpdateCrc16("123456789", 9, crc16);
    EXPECT_EQ(crc16, 0xBB3Du);  // CRC-16/ARC check value

    std::uint32_t untouched = 0x1234;
    UpdateCrc32("x", 0, untouched);
    UpdateCrc16("x", -5, untouched);
    EXPECT_EQ(untouched, 0x1234u);
}

TEST(Crc, Crc32AgreesWithZlibAtEveryLengthAlignmentAndSplit)
{
    std::mt19937 rng(7);
    std::vector<std::uint8_t> data(70000);
    for (auto& b : data)
        b = std::uint8_t(rng());
    for (std::size_t offset : {0, 1, 3, 7}) {
        for (std::size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 63, 64, 65, 1000, 65536}) {
            std::uint32_t ours = CRC_MASK;
            UpdateCrc32(data.data() + offset, std::int64_t(len), ours);
            const auto theirs = crc32(0, data.data() + offset, uInt(len));
            EXPECT_EQ(ours ^ CRC_MASK, theirs) << offset << "+" << len;
        }
    }
    // Fed in uneven pieces, as the data hooks do.
    std::uint32_t ours = CRC_MASK;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t piece = std::min<std::size_t>(rng() % 300, data.size() - pos);
        UpdateCrc32(data.data() + pos, std::int64_t(piece), ours);
        pos += piece;
    }
    EXPECT_EQ(ours ^ CRC_MASK, crc32(0, data.data(), uInt(data.size())));
}

TEST(Crc, RunningAccumulatorsByWidth)
{
    TRunningCrc running;
    running.UpdateCrc(32, "abc", 3);
    running.UpdateCrc(16, "123456789", 9);
    running.UpdateCrc(8, "ignored", 7);
    EXPECT_EQ(running.Crc32 ^ CRC_MASK, 0x352441C2u);
    EXPECT_EQ(running.Crc16, 0xBB3Du);
    running.Reset();
    EXPECT_EQ(running.Crc32, CRC_MASK);
    EXPECT_EQ(running.Crc16, 0u);
}
