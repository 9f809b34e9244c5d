// PPMd method 98: data from 7-Zip must decode with our coder and ours must pass 7-Zip and
// libarchive. Archives are made at test time and read and written with the tests' own ZIP walker.
#include "core/plxPPMDi1.h"

#include "support/ToolRun.h"
#include "support/ZipWalk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct TRun {
    TCodecStatus rc = TCodecStatus::NotFormat;
    Bytes out;
};

TRun Encode(TPpmdCodec& codec, const Bytes& data, const TPpmdParams& params = {})
{
    TRun r;
    std::size_t pos = 0;
    r.rc = codec.PPMdCompress(MemoryPpmdCallbacks(data, pos, r.out), data.size(), params);
    return r;
}

TRun Decode(TPpmdCodec& codec, const Bytes& packed, std::uint64_t unpacked)
{
    TRun r;
    std::size_t pos = 0;
    r.rc = codec.PPMdDecompress(MemoryPpmdCallbacks(packed, pos, r.out), packed.size(), unpacked);
    return r;
}

// Test data: English-like text, structured binary records, and a mix large enough to fill a
// 1 MB model many times over.
Bytes TextData(std::size_t size, unsigned seed)
{
    static const char* words[] = {"archive", "the",    "of", "backup",     "entry", "restore", "data", "and",
                                  "folder",  "volume", "a",  "compressed", "to",    "file",    "in",   "header"};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char* w = words[rng() % 16];
        out.insert(out.end(), w, w + std::strlen(w));
        out.push_back(rng() % 11 == 0 ? '\n' : ' ');
    }
    out.resize(size);
    return out;
}

Bytes BinaryData(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    std::uint32_t counter = 0;
    while (out.size() < size) {
        counter += rng() % 7;
        for (int i = 0; i < 4; i++)
            out.push_back(std::uint8_t(counter >> (8 * i)));
        out.push_back(std::uint8_t(rng() % 4));
        out.push_back(0);
        out.push_back(std::uint8_t(rng()));
    }
    out.resize(size);
    return out;
}

Bytes RandomData(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out)
        b = std::uint8_t(rng());
    return out;
}

Bytes MixedData()
{
    Bytes out = TextData(1500000, 1);
    Bytes bin = BinaryData(1200000, 2);
    Bytes rnd = RandomData(600000, 3);
    Bytes text2 = TextData(900000, 4);
    for (const Bytes* part : {&bin, &rnd, &text2})
        out.insert(out.end(), part->begin(), part->end());
    return out;
}

// One member with method 98 and its central directory.
Bytes MakeZip(const std::string& name, const Bytes& data, const Bytes& packed)
{
    TZipWalkEntry e;
    e.Name = name;
    e.Version = 63;
    e.Method = 98;
    e.Crc = Crc32Of(data);
    e.UncompressedSize = data.size();
    e.Data = packed;
    return OneEntryZip(e);
}

class PpmdTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTool("7zz"))
            GTEST_SKIP() << "7zz not installed";
    }
    TScratchDir dir_;
};

}  // namespace

TEST(PpmdParams, WordLayout)
{
    EXPECT_EQ(TPpmdParams{}.Word(), kPpmdWriterWord);
    TPpmdParams p = TPpmdParams::FromWord(0x1013);
    EXPECT_EQ(p.Order, 4u);
    EXPECT_EQ(p.MemoryMB, 2u);
    EXPECT_EQ(p.Restoration, 1u);
    EXPECT_TRUE(p.Supported());
    EXPECT_EQ(TPpmdParams::FromWord(0xFFF1).MemoryMB, 256u);
    EXPECT_EQ(TPpmdParams::FromWord(0xFFF1).Restoration, 15u);

    // Order 1 and restoration methods 2 and up are refused before anything is written.
    TPpmdCodec codec;
    for (std::uint16_t word : {0x03F0, 0x23FF, 0xF3FF}) {
        Bytes packed = {std::uint8_t(word), std::uint8_t(word >> 8), 0, 0, 0, 0};
        TRun d = Decode(codec, packed, 10);
        EXPECT_EQ(d.rc, TCodecStatus::UnsupportedMethod) << std::hex << word;
        EXPECT_TRUE(d.out.empty());
        TRun e = Encode(codec, Bytes(10, 'x'), TPpmdParams::FromWord(word));
        EXPECT_EQ(e.rc, TCodecStatus::UnsupportedMethod);
        EXPECT_TRUE(e.out.empty());
    }
}

TEST(PpmdCodec, RoundTripsAcrossParameters)
{
    TPpmdCodec codec;  // one coder for all runs: the model must start clean every time
    Bytes small = TextData(20000, 7);
    Bytes allBytes;
    for (int r = 0; r < 3; r++)
        for (int i = 0; i < 256; i++)
            allBytes.push_back(std::uint8_t(i));
    Bytes runs(300000, 'a');  // long binary-context runs
    runs.insert(runs.end(), 5000, 'b');
    Bytes mixed = MixedData();
    const Bytes* inputs[] = {&small, &allBytes, &runs};

    for (std::uint16_t word : {0x03FF, 0x0001, 0x0007, 0x1001, 0x100F, 0x00F5}) {
        for (const Bytes* in : inputs) {
            TRun e = Encode(codec, *in, TPpmdParams::FromWord(word));
            ASSERT_EQ(e.rc, TCodecStatus::Ok);
            ASSERT_GE(e.out.size(), 6u);
            EXPECT_EQ(e.out[0] | (e.out[1] << 8), word);
            TRun d = Decode(codec, e.out, in->size());
            ASSERT_EQ(d.rc, TCodecStatus::Ok) << std::hex << word;
            EXPECT_TRUE(d.out == *in) << std::hex << word;
        }
    }
    // A 1 MB model over 4 MB of mixed data restarts or is cut down many times.
    for (std::uint16_t word : {0x0007, 0x100F}) {
        TRun e = Encode(codec, mixed, TPpmdParams::FromWord(word));
        ASSERT_EQ(e.rc, TCodecStatus::Ok);
        TRun d = Decode(codec, e.out, mixed.size());
        ASSERT_EQ(d.rc, TCodecStatus::Ok);
        EXPECT_TRUE(d.out == mixed);
    }
    // Empty input still carries the end mark; without a size the decoder stops there.
    TRun e = Encode(codec, {});
    ASSERT_EQ(e.rc, TCodecStatus::Ok);
    EXPECT_EQ(e.out[0], 0xFF);
    EXPECT_EQ(e.out[1], 0x03);
    TRun d = Decode(codec, e.out, TPpmdCodec::kPpmdUnknownSize);
    EXPECT_EQ(d.rc, TCodecStatus::Ok);
    EXPECT_TRUE(d.out.empty());
    e = Encode(codec, small);
    d = Decode(codec, e.out, TPpmdCodec::kPpmdUnknownSize);
    EXPECT_EQ(d.rc, TCodecStatus::Ok);
    EXPECT_TRUE(d.out == small);
}

// A coder keeps its block for a smaller model: the model must still be laid out by its own size,
// or restarts come at other symbols than in a fresh coder and the bytes differ.
TEST(PpmdCodec, ASmallerModelInAKeptBlockCodesAsAFreshOne)
{
    const Bytes all = MixedData();
    const Bytes mixed(all.begin(), all.begin() + (1 << 20));  // runs out of a 1 MB model a few times
    const TPpmdParams big = TPpmdParams::FromWord(0x003F), small = TPpmdParams::FromWord(0x000F);  // 4, 1 MB
    TPpmdCodec reused, fresh;
    ASSERT_EQ(Encode(reused, TextData(20000, 3), big).rc, TCodecStatus::Ok);
    for (unsigned restore : {0u, 1u}) {
        TPpmdParams p = small;
        p.Restoration = restore;
        TRun kept = Encode(reused, mixed, p);
        TRun own = Encode(fresh, mixed, p);
        ASSERT_EQ(kept.rc, TCodecStatus::Ok);
        EXPECT_TRUE(kept.out == own.out) << restore;
        TRun d = Decode(reused, own.out, mixed.size());
        ASSERT_EQ(d.rc, TCodecStatus::Ok);
        EXPECT_TRUE(d.out == mixed) << restore;
        ASSERT_EQ(Encode(reused, TextData(20000, 3), big).rc, TCodecStatus::Ok);
    }
}

TEST(PpmdCodec, DamagedDataEndsWithAnError)
{
    TPpmdCodec codec;
    Bytes data = TextData(200000, 9);
    TRun e = Encode(codec, data, TPpmdParams::FromWord(0x0075));
    ASSERT_EQ(e.rc, TCodecStatus::Ok);

    // Truncated: an error, never a short success. (The last bytes of the range coder's flush are
    // not needed to reach the declared size, so cuts stop short of them.)
    for (std::size_t cut :
         {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(5), e.out.size() / 2, e.out.size() - 5}) {
        Bytes part(e.out.begin(), e.out.begin() + std::ptrdiff_t(cut));
        TRun d = Decode(codec, part, data.size());
        EXPECT_NE(d.rc, TCodecStatus::Ok) << "cut at " << cut;
        EXPECT_LT(d.out.size(), data.size());
    }
    // The declared size bounds the output; a size beyond the end mark is damage.
    TRun shorter = Decode(codec, e.out, 1000);
    EXPECT_EQ(shorter.rc, TCodecStatus::Ok);
    EXPECT_EQ(shorter.out.size(), 1000u);
    TRun longer = Decode(codec, e.out, data.size() + 1);
    EXPECT_EQ(longer.rc, TCodecStatus::DataError);
    EXPECT_TRUE(longer.out == data);

    // Flipped bytes: an error or wrong bytes, bounded by the size, never a crash.
    std::mt19937 rng(5);
    int failures = 0;
    for (int round = 0; round < 40; round++) {
        Bytes bad = e.out;
        for (int k = 0; k < 3; k++)
            bad[2 + rng() % (bad.size() - 2)] ^= std::uint8_t(1 + rng() % 255);
        TRun d = Decode(codec, bad, data.size());
        EXPECT_LE(d.out.size(), data.size());
        failures += (d.rc != TCodecStatus::Ok || d.out != data);
    }
    EXPECT_EQ(failures, 40);
}

TEST(PpmdCodec, CallbackFailuresAndCancel)
{
    TPpmdCodec codec;
    Bytes data = TextData(300000, 11);
    TRun e = Encode(codec, data);
    ASSERT_EQ(e.rc, TCodecStatus::Ok);

    // Cancel set from the progress report stops decoding at once.
    volatile bool cancel = false;
    std::size_t pos = 0;
    Bytes out;
    TPpmdCallbacks io = MemoryPpmdCallbacks(e.out, pos, out);
    io.Cancel = &cancel;
    std::uint64_t lastDone = 0;
    io.Progress = [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, data.size());
        lastDone = done;
        cancel = true;
    };
    EXPECT_EQ(codec.PPMdDecompress(io, e.out.size(), data.size()), TCodecStatus::Canceled);
    EXPECT_EQ(lastDone, 32768u);
    EXPECT_LE(out.size(), 32768u + 1);

    // And coding, from the reader.
    cancel = false;
    pos = 0;
    out.clear();
    TPpmdCallbacks enc = MemoryPpmdCallbacks(data, pos, out);
    enc.Cancel = &cancel;
    auto read = enc.Read;
    enc.Read = [&](std::uint8_t* buf, std::size_t n) {
        cancel = pos > 0;
        return read(buf, n);
    };
    EXPECT_EQ(codec.PPMdCompress(enc, data.size()), TCodecStatus::Canceled);

    // A failing reader or writer reaches the caller as its own exception, and the coder still
    // works afterwards.
    struct TIoFailure {};
    pos = 0;
    io = MemoryPpmdCallbacks(e.out, pos, out);
    io.Read = [](std::uint8_t*, std::size_t) -> std::size_t { throw TIoFailure(); };
    EXPECT_THROW(codec.PPMdDecompress(io, e.out.size(), data.size()), TIoFailure);
    pos = 0;
    io = MemoryPpmdCallbacks(e.out, pos, out);
    io.Write = [](const std::uint8_t*, std::size_t) { throw TIoFailure(); };
    EXPECT_THROW(codec.PPMdDecompress(io, e.out.size(), data.size()), TIoFailure);
    pos = 0;
    io = MemoryPpmdCallbacks(data, pos, out);
    io.Write = [](const std::uint8_t*, std::size_t) { throw TIoFailure(); };
    EXPECT_THROW(codec.PPMdCompress(io, data.size()), TIoFailure);

    // A reader that hands out a few bytes at a time (volume ends) is fine.
    pos = 0;
    out.clear();
    io = MemoryPpmdCallbacks(e.out, pos, out);
    auto whole = io.Read;
    io.Read = [&](std::uint8_t* buf, std::size_t n) { return whole(buf, std::min<std::size_t>(n, 1000)); };
    EXPECT_EQ(codec.PPMdDecompress(io, e.out.size(), data.size()), TCodecStatus::Ok);
    EXPECT_TRUE(out == data);
}

TEST_F(PpmdTools, ToolArchivesDecodeAndMatchOurCoder)
{
    struct TCase {
        const char* options;
        const Bytes* data;
    };
    Bytes text = TextData(400000, 21);
    Bytes binary = BinaryData(500000, 22);
    Bytes mixed = MixedData();
    const TCase cases[] = {
        {"-mm=PPMd:o=2:mem=1m", &text},   {"-mm=PPMd:o=6:mem=16m", &binary},    {"-mm=PPMd:o=16:mem=256m", &text},
        {"-mm=PPMd:o=10:mem=1m", &mixed}, {"-mm=PPMd:o=16:mem=2m", &mixed},     {"-mx5 -mm=PPMd", &mixed},
        {"-mx9 -mm=PPMd", &binary},       {"-mx9 -mm=PPMd:o=8:mem=1m", &mixed}, {"-mx9 -mm=PPMd:o=3:mem=1m", &mixed},
    };
    TPpmdCodec codec;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.options);
        fs::path src = dir_ / "data.bin", zip = dir_ / "x.zip";
        fs::remove(zip);
        WriteWholeFile(src, *c.data);
        ASSERT_EQ(dir_.Run(std::string("7zz a -tzip ") + c.options + " x.zip data.bin >/dev/null 2>&1"), 0);
        const TZipWalkEntry m = WalkZip(ReadWholeFile(zip)).at(0);
        ASSERT_EQ(m.Method, 98u);
        ASSERT_EQ(m.UncompressedSize, c.data->size());
        TRun d = Decode(codec, m.Data, m.UncompressedSize);
        ASSERT_EQ(d.rc, TCodecStatus::Ok);
        EXPECT_EQ(Crc32Of(d.out), m.Crc);
        EXPECT_TRUE(d.out == *c.data);
        // Same parameters, same model: our coder must write the very same bytes.
        TRun e = Encode(codec, *c.data, TPpmdParams::FromWord(std::uint16_t(m.Data[0] | (m.Data[1] << 8))));
        ASSERT_EQ(e.rc, TCodecStatus::Ok);
        EXPECT_TRUE(e.out == m.Data);
    }
}

TEST_F(PpmdTools, OurArchivesPassTheTools)
{
    Bytes text = TextData(300000, 31);
    Bytes mixed = MixedData();
    struct TCase {
        std::uint16_t word;
        const Bytes* data;
    };
    const TCase cases[] = {{kPpmdWriterWord, &text}, {kPpmdWriterWord, &mixed}, {0x0001, &mixed}, {0x1007, &mixed}};
    const bool bsdtar = HaveTool("bsdtar");
    TPpmdCodec codec;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.word);
        TRun e = Encode(codec, *c.data, TPpmdParams::FromWord(c.word));
        ASSERT_EQ(e.rc, TCodecStatus::Ok);
        fs::path zip = dir_ / "ours.zip", out = dir_ / "out.bin";
        WriteWholeFile(zip, MakeZip("data.bin", *c.data, e.out));
        EXPECT_EQ(dir_.Run("7zz t ours.zip >/dev/null 2>&1"), 0);
        fs::remove(out);
        ASSERT_EQ(dir_.Run("7zz x -so ours.zip > out.bin 2>/dev/null"), 0);
        EXPECT_TRUE(ReadWholeFile(out) == *c.data);
        if (bsdtar) {
            fs::remove(out);
            ASSERT_EQ(dir_.Run("bsdtar -xOf ours.zip > out.bin"), 0);
            EXPECT_TRUE(ReadWholeFile(out) == *c.data);
        }
    }
}
