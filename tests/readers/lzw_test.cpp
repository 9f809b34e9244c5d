// The .Z decoder against real compress output at several code widths, with and without block
// mode, and against damaged streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "readers/LzwDecoder.h"
#include "support/ToolRun.h"

namespace {

struct TLzwRun {
    TCodecStatus Status;
    std::vector<std::uint8_t> Bytes;
    std::size_t LargestWrite = 0;
};

// Chunk > 0 feeds the input in pieces of 1..Chunk bytes to cross every buffer boundary.
TLzwRun DecodeZ(const std::vector<std::uint8_t>& z, std::size_t chunk = 0, std::uint64_t maxOutput = UINT64_MAX)
{
    TLzwRun run{};
    std::size_t pos = 0;
    std::mt19937 rng(7);
    TLzwDecoder decoder(
        [&](std::uint8_t* buffer, std::size_t count) {
            std::size_t n = std::min(count, z.size() - pos);
            if (chunk > 0)
                n = std::min<std::size_t>(n, 1 + rng() % chunk);
            std::memcpy(buffer, z.data() + pos, n);
            pos += n;
            return n;
        },
        [&](const std::uint8_t* data, std::size_t count) {
            run.LargestWrite = std::max(run.LargestWrite, count);
            run.Bytes.insert(run.Bytes.end(), data, data + count);
        },
        maxOutput);
    run.Status = decoder.Decode();
    return run;
}

std::vector<std::uint8_t> Compress(TScratchDir& dir, const std::vector<std::uint8_t>& data, const std::string& options)
{
    WriteWholeFile(dir / "in", data);
    EXPECT_NE(dir.Run("rm -f in.Z && compress -f " + options + " -c in > in.Z"), -1);
    return ReadWholeFile((dir / "in.Z").string());
}

std::vector<std::uint8_t> Random(std::size_t size, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = std::uint8_t(rng());
    return bytes;
}

}  // namespace

TEST(LzwDecoder, ReadsRealCompressOutput)
{
    TScratchDir dir;
    // Noise makes compress clear its table (its ratio falls); long runs grow the widths quickly.
    const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> inputs = {
        {"empty", {}},
        {"one byte", {'x'}},
        {"mixed", MixedBytes(400000, 1)},
        {"noise", Random(300000, 2)},
        {"zeros", std::vector<std::uint8_t>(1 << 20, 0)},
    };
    // compress 4.2.4.6 writes -b9 and -C (no block mode) streams that neither its own uncompress
    // nor gzip can read, so those two modes are checked with hand-made streams below.
    for (const char* options : {"-b10", "-b12", "-b16"}) {
        for (const auto& [label, data] : inputs) {
            SCOPED_TRACE(std::string(options) + " " + label);
            const auto z = Compress(dir, data, options);
            ASSERT_GE(z.size(), 3u);
            const auto run = DecodeZ(z);
            EXPECT_EQ(run.Status, TCodecStatus::Ok);
            EXPECT_TRUE(run.Bytes == data) << run.Bytes.size() << " of " << data.size();
            EXPECT_LE(run.LargestWrite, TLzwDecoder::OutputBlockSize);
        }
    }
    // Input handed over in tiny pieces decodes the same.
    const auto z = Compress(dir, inputs[2].second, "-b16");
    EXPECT_TRUE(DecodeZ(z, 5).Bytes == inputs[2].second);
}

TEST(LzwDecoder, RefusesBadHeadersAndCodes)
{
    EXPECT_EQ(DecodeZ({0x1F, 0x9D}).Status, TCodecStatus::NotCompress);
    EXPECT_EQ(DecodeZ({0x1F, 0x8B, 0x90, 0x61}).Status, TCodecStatus::NotCompress);
    EXPECT_EQ(DecodeZ({0x1F, 0x9D, 0x90 | 0x20, 0x61, 0}).Status, TCodecStatus::BadHeader);  // reserved bit 5
    EXPECT_EQ(DecodeZ({0x1F, 0x9D, 0x90 | 0x40, 0x61, 0}).Status, TCodecStatus::BadHeader);  // reserved bit 6
    EXPECT_EQ(DecodeZ({0x1F, 0x9D, 0x80 | 17, 0x61, 0}).Status, TCodecStatus::BadHeader);
    EXPECT_EQ(DecodeZ({0x1F, 0x9D, 0x80 | 8, 0x61, 0}).Status, TCodecStatus::BadHeader);

    // 9-bit codes, LSB first: 'a' then 300 (the next free code is 257).
    auto pack = [](std::vector<std::uint32_t> codes, std::uint8_t flags = 0x90) {
        std::vector<std::uint8_t> z = {0x1F, 0x9D, flags};
        std::uint32_t buf = 0;
        int bits = 0;
        for (auto c : codes) {
            buf |= c << bits;
            for (bits += 9; bits >= 8; bits -= 8, buf >>= 8)
                z.push_back(std::uint8_t(buf));
        }
        if (bits > 0)
            z.push_back(std::uint8_t(buf));
        return z;
    };
    const std::vector<std::uint8_t> abab = {'a', 'b', 'a', 'b'};
    EXPECT_EQ(DecodeZ(pack({'a', 'b', 257})).Bytes, abab);        // block mode: the first entry is 257
    EXPECT_EQ(DecodeZ(pack({'a', 'b', 256}, 0x10)).Bytes, abab);  // without block mode: 256, no CLEAR
    EXPECT_EQ(DecodeZ(pack({'a', 256}, 0x10)).Bytes, (std::vector<std::uint8_t>{'a', 'a', 'a'}));  // KwKwK
    EXPECT_EQ(DecodeZ(pack({'a', 257}, 0x10)).Status, TCodecStatus::Corrupt);
    // CLEAR in the first group: the rest of the nine-byte group is padding, then 9-bit codes again.
    EXPECT_EQ(DecodeZ(pack({'a', 'b', 256, 0, 0, 0, 0, 0, 'c', 'a', 257})).Bytes,
              (std::vector<std::uint8_t>{'a', 'b', 'c', 'a', 'c', 'a'}));
    EXPECT_EQ(DecodeZ(pack({'a', 300})).Status, TCodecStatus::Corrupt);
    EXPECT_EQ(DecodeZ(pack({'a', 258})).Status, TCodecStatus::Corrupt);
    EXPECT_EQ(DecodeZ(pack({256, 'a'})).Status, TCodecStatus::Corrupt);  // a stream cannot start with CLEAR
}

TEST(LzwDecoder, DamagedStreamsEndCleanly)
{
    TScratchDir dir;
    const auto data = MixedBytes(200000, 3);
    const auto z = Compress(dir, data, "-b14");
    // A cut stream decodes to a beginning of the original and nothing else.
    for (std::size_t cut : {std::size_t(3), std::size_t(4), z.size() / 3, z.size() - 1}) {
        const std::vector<std::uint8_t> part(z.begin(), z.begin() + std::ptrdiff_t(cut));
        const auto run = DecodeZ(part);
        EXPECT_EQ(run.Status, TCodecStatus::Ok) << cut;
        ASSERT_LE(run.Bytes.size(), data.size());
        EXPECT_TRUE(std::equal(run.Bytes.begin(), run.Bytes.end(), data.begin())) << cut;
    }
    // Flipped bytes: any outcome but a crash, and never more than the limit.
    std::mt19937 rng(11);
    for (int i = 0; i < 50; ++i) {
        auto bad = z;
        for (int k = 0; k < 4; ++k)
            bad[3 + rng() % (bad.size() - 3)] ^= std::uint8_t(1 + rng() % 255);
        const auto run = DecodeZ(bad, 0, 300000);
        EXPECT_LE(run.Bytes.size(), 300000u);
    }
    const auto limited = DecodeZ(z, 0, 1000);
    EXPECT_EQ(limited.Status, TCodecStatus::OutputLimit);
    EXPECT_LE(limited.Bytes.size(), 1000u);
}
