#include "core/Inflater.h"

#include "support/ToolRun.h"
#include "support/ZipWalk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Text, runs, structured binary and noise, so that every block type and code shape shows up.
Bytes MixedData(std::size_t size, unsigned seed)
{
    static const char* const words[] = {"archive ", "backup ", "restore ", "member ", "volume ",
                                        "the ",     "of ",     "\r\n",     "data ",   "folder "};
    std::mt19937 rng(seed);
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        const unsigned kind = rng() % 4;
        const std::size_t n = 200 + rng() % 5000;
        for (std::size_t i = 0; i < n && out.size() < size; ++i) {
            switch (kind) {
            case 0: {
                const char* w = words[rng() % 10];
                out.insert(out.end(), w, w + std::strlen(w));
                break;
            }
            case 1:
                out.push_back(static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : 'x'));
                break;
            case 2:
                out.push_back(static_cast<std::uint8_t>((i * 7) ^ (i >> 5)));
                break;
            default:
                out.push_back(static_cast<std::uint8_t>(rng()));
                break;
            }
        }
    }
    out.resize(size);
    return out;
}

Bytes ZlibDeflate(const Bytes& data, int level, int windowBits, int strategy = Z_DEFAULT_STRATEGY)
{
    z_stream zs{};
    EXPECT_EQ(Z_OK, deflateInit2(&zs, level, Z_DEFLATED, windowBits, 8, strategy));
    Bytes out(deflateBound(&zs, data.size()) + 64);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(Z_STREAM_END, deflate(&zs, Z_FINISH));
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// Streams the input in chunks of inStep bytes into output buffers of outStep bytes.
int DecodeChunked(const Bytes& in, Bytes& out, std::size_t inStep, std::size_t outStep, bool deflate64 = false,
                  int windowBits = 15)
{
    Inflater inflater(windowBits, deflate64, false);
    out.clear();
    Bytes buffer(outStep);
    std::size_t pos = 0;
    for (int guard = 0; guard < 100000000; ++guard) {
        const std::uint8_t* next = in.data() + pos;
        std::size_t avail = std::min(inStep, in.size() - pos);
        const std::size_t offered = avail;
        std::uint8_t* dest = buffer.data();
        std::size_t room = buffer.size();
        const int rc = inflater.Decode(next, avail, dest, room);
        pos += offered - avail;
        out.insert(out.end(), buffer.data(), dest);
        if (rc != kInflateOk && !(rc == kInflateBufError && pos < in.size()))
            return rc;
    }
    return -100;
}

// Raw inflate by zlib, the oracle: returns true when the stream ends.
bool ZlibInflate(const Bytes& in, Bytes& out)
{
    z_stream zs{};
    inflateInit2(&zs, -15);
    out.assign(in.size() * 8 + 1024, 0);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc;
    for (;;) {
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(out.size() - zs.total_out);
        rc = inflate(&zs, Z_FINISH);
        if (rc != Z_BUF_ERROR || zs.avail_out != 0)
            break;
        out.resize(out.size() * 2);
    }
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return rc == Z_STREAM_END;
}

// LSB-first bit writer for hand-made streams; Huffman codes go in most-significant bit first.
struct BitWriter {
    Bytes bytes;
    unsigned fill = 0;
    void Put(unsigned value, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i) {
            if (fill == 0)
                bytes.push_back(0);
            bytes.back() |= static_cast<std::uint8_t>(((value >> i) & 1) << fill);
            fill = (fill + 1) & 7;
        }
    }
    void Code(unsigned code, unsigned n)
    {
        for (unsigned i = n; i-- > 0;)
            Put((code >> i) & 1, 1);
    }
    void FixedLiteral(unsigned c) { c < 144 ? Code(0x30 + c, 8) : Code(0x190 + c - 144, 9); }
};

}  // namespace

TEST(Inflater, AgreesWithZlibAcrossLevelsStrategiesAndWindows)
{
    const Bytes data = MixedData(300000, 1);
    struct Case {
        int level, windowBits, strategy;
    };
    std::vector<Case> cases;
    for (int level = 0; level <= 9; ++level)
        cases.push_back({level, -15, Z_DEFAULT_STRATEGY});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
        for (int level : {1, 6, 9})
            cases.push_back({level, -15, strategy});
    for (int bits = 9; bits <= 14; ++bits)  // this zlib refuses raw 8
        cases.push_back({9, -bits, Z_DEFAULT_STRATEGY});

    for (const Case& k : cases) {
        SCOPED_TRACE("level " + std::to_string(k.level) + " window " + std::to_string(k.windowBits) + " strategy " +
                     std::to_string(k.strategy));
        Bytes packed = ZlibDeflate(data, k.level, k.windowBits, k.strategy);
        packed.insert(packed.end(), {0xAB, 0xCD, 0xEF});  // what follows a member must stay unread
        Bytes out;
        std::size_t consumed = 0;
        ASSERT_EQ(kInflateStreamEnd, Inflater::DecodeAll(packed.data(), packed.size(), out, false, &consumed));
        EXPECT_EQ(packed.size() - 3, consumed);
        ASSERT_TRUE(out == data);
        // A window as small as the encoder's is enough.
        ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 4096, 4096, false, -k.windowBits));
        ASSERT_TRUE(out == data);
    }
}

TEST(Inflater, AnySplitOfInputAndOutputGivesTheSameBytes)
{
    const Bytes data = MixedData(120000, 2);
    const Bytes packed = ZlibDeflate(data, 6, -15);
    Bytes out;
    ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 1, 1));
    EXPECT_TRUE(out == data);
    ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 1, 65536));
    EXPECT_TRUE(out == data);
    ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 65536, 1));
    EXPECT_TRUE(out == data);
    for (std::size_t step : {7u, 300u, 4099u}) {
        ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, step, 300 + step));
        EXPECT_TRUE(out == data);
    }
}

TEST(Inflater, LargeMixedDataThroughTheRecordInterface)
{
    const Bytes data = MixedData(6 << 20, 3);
    const Bytes packed = ZlibDeflate(data, 6, -15);
    TInflateRecord rec;
    ASSERT_EQ(kInflateOk, InflateInit2(&rec, -15, kInflateRecordSize));
    Bytes out, buffer(32768);
    std::size_t pos = 0;
    int rc;
    do {
        if (rec.AvailIn == 0) {
            rec.NextIn = packed.data() + pos;
            rec.AvailIn = static_cast<std::uint32_t>(std::min<std::size_t>(65536, packed.size() - pos));
            pos += rec.AvailIn;
        }
        rec.NextOut = buffer.data();
        rec.AvailOut = static_cast<std::uint32_t>(buffer.size());
        rc = Inflate(&rec, kInflateNoFlush);
        out.insert(out.end(), buffer.data(), rec.NextOut);
    } while (rc == kInflateOk);
    EXPECT_EQ(kInflateStreamEnd, rc);
    EXPECT_EQ(packed.size(), rec.TotalIn);
    EXPECT_EQ(data.size(), rec.TotalOut);
    EXPECT_TRUE(out == data);
    EXPECT_EQ(kInflateOk, InflateEnd(&rec));
    EXPECT_EQ(kInflateStreamError, InflateEnd(&rec));
}

TEST(Inflater, RecordInitialisationAndWrappedStreams)
{
    TInflateRecord rec;
    EXPECT_EQ(kInflateRecordError, InflateInit2(&rec, -15, 73));
    EXPECT_EQ(nullptr, rec.State);
    EXPECT_EQ(kInflateStreamError, InflateInit2(nullptr, -15, kInflateRecordSize));
    for (int bits : {0, -7, -16, 7, 16}) {
        EXPECT_EQ(kInflateStreamError, InflateInit2(&rec, bits, kInflateRecordSize)) << bits;
        EXPECT_EQ(nullptr, rec.State);
    }
    for (int bits = -15; bits <= -8; ++bits) {
        ASSERT_EQ(kInflateOk, InflateInit2(&rec, bits, kInflateRecordSize)) << bits;
        EXPECT_EQ(std::size_t{1} << -bits, rec.State->WindowSize());
        InflateEnd(&rec);
    }
    ASSERT_EQ(kInflateOk, InflateInit2(&rec, -15, kInflateRecordSize, true));
    EXPECT_EQ(65536u, rec.State->WindowSize());
    EXPECT_TRUE(rec.State->Deflate64());
    InflateEnd(&rec);
    EXPECT_EQ(kInflateStreamError, InflateInit2(&rec, -16, kInflateRecordSize, true));

    const Bytes data = MixedData(50000, 4);
    auto decodeWrapped = [&](const Bytes& packed, int bits, Bytes& out) {
        TInflateRecord r;
        EXPECT_EQ(kInflateOk, InflateInit2(&r, bits, kInflateRecordSize));
        out.assign(data.size() + 100, 0);
        r.NextIn = packed.data();
        r.AvailIn = static_cast<std::uint32_t>(packed.size());
        r.NextOut = out.data();
        r.AvailOut = static_cast<std::uint32_t>(out.size());
        const int rc = Inflate(&r, kInflateFinish);
        out.resize(r.TotalOut);
        InflateEnd(&r);
        return rc;
    };
    Bytes wrapped = ZlibDeflate(data, 9, 15), out;
    EXPECT_EQ(kInflateStreamEnd, decodeWrapped(wrapped, 15, out));
    EXPECT_TRUE(out == data);
    // Announcing a 32 KiB window to a 16 KiB decoder is a data error.
    EXPECT_EQ(kInflateDataError, decodeWrapped(wrapped, 14, out));
    // A damaged check value.
    wrapped.back() ^= 1;
    EXPECT_EQ(kInflateDataError, decodeWrapped(wrapped, 15, out));
    // A header asking for a preset dictionary: 2, then -2.
    TInflateRecord r;
    ASSERT_EQ(kInflateOk, InflateInit2(&r, 15, kInflateRecordSize));
    const std::uint8_t dictHeader[] = {0x78, 0xBB, 1, 2, 3, 4, 0x03, 0x00};
    std::uint8_t sink[16];
    r.NextIn = dictHeader;
    r.AvailIn = sizeof dictHeader;
    r.NextOut = sink;
    r.AvailOut = sizeof sink;
    EXPECT_EQ(kInflateNeedDict, Inflate(&r, kInflateNoFlush));
    EXPECT_EQ(kInflateStreamError, Inflate(&r, kInflateNoFlush));
    InflateEnd(&r);
}

TEST(Inflater, Deflate64MembersMadeByAnArchiver)
{
    // Repeats 40-60 KiB apart and runs far longer than 258 bytes need the Deflate64 extensions.
    Bytes data = MixedData(45000, 5);
    const Bytes block(data.begin(), data.begin() + 20000);
    for (int i = 0; i < 4; ++i) {
        Bytes noise = MixedData(30000 + 5000 * i, 10 + i);
        for (auto& b : noise)
            b ^= 0x5A;
        data.insert(data.end(), noise.begin(), noise.end());
        data.insert(data.end(), block.begin(), block.end());
    }
    data.insert(data.end(), 100000, 'z');

    TScratchDir dir;
    WriteWholeFile(dir / "x.bin", data);
    ASSERT_EQ(0, dir.Run("7zz a -bd -bso0 -tzip -mm=Deflate64 -mx=9 x.zip x.bin"));
    const TZipWalkEntry member = WalkZip(ReadWholeFile(dir / "x.zip")).at(0);
    ASSERT_EQ(9u, member.Method);
    const Bytes& packed = member.Data;

    Bytes out;
    std::size_t consumed = 0;
    ASSERT_EQ(kInflateStreamEnd, Inflater::DecodeAll(packed.data(), packed.size(), out, true, &consumed));
    EXPECT_EQ(packed.size(), consumed);
    EXPECT_TRUE(out == data);
    ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 1000, 32768, true, 16));
    EXPECT_TRUE(out == data);
    ASSERT_EQ(kInflateStreamEnd, DecodeChunked(packed, out, 3, 5, true, 16));
    EXPECT_TRUE(out == data);
    // The same bytes read as plain Deflate must not pass as a good stream of these bytes.
    const int rc = Inflater::DecodeAll(packed.data(), packed.size(), out, false);
    EXPECT_TRUE(rc != kInflateStreamEnd || out != data);
}

TEST(Inflater, DamagedStreamsFailLikeZlibAndNeverOverrun)
{
    const Bytes data = MixedData(20000, 6);
    std::mt19937 rng(7);
    for (int level : {1, 6, 9}) {
        for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
            const Bytes packed = ZlibDeflate(data, level, -15, strategy);
            for (int trial = 0; trial < 150; ++trial) {
                Bytes bad = packed;
                const int flips = 1 + static_cast<int>(rng() % 3);
                for (int f = 0; f < flips; ++f)
                    bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                Bytes ours, theirs;
                const bool zlibOk = ZlibInflate(bad, theirs);
                const int rc = Inflater::DecodeAll(bad.data(), bad.size(), ours);
                ASSERT_EQ(zlibOk, rc == kInflateStreamEnd) << "trial " << trial;
                if (zlibOk) {
                    ASSERT_TRUE(ours == theirs);
                }
                // A tight output buffer is never written past its end.
                Bytes tight(1000 + 16, 0xEE);
                Inflater inflater(15, false, false);
                const std::uint8_t* next = bad.data();
                std::size_t avail = bad.size();
                std::uint8_t* dest = tight.data();
                std::size_t room = 1000;
                inflater.Decode(next, avail, dest, room, true);
                for (std::size_t i = 1000; i < tight.size(); ++i)
                    ASSERT_EQ(0xEE, tight[i]);
            }
            // Truncation never ends the stream; finishing reports the missing input.
            for (std::size_t cut = 0; cut < packed.size(); cut += 1 + packed.size() / 60) {
                Bytes out;
                EXPECT_EQ(kInflateBufError, Inflater::DecodeAll(packed.data(), cut, out));
            }
        }
    }
}

TEST(Inflater, HandMadeFaultsAreDataErrors)
{
    auto decode = [](const Bytes& in) {
        Bytes out;
        return Inflater::DecodeAll(in.data(), in.size(), out);
    };
    {  // Fixed block: 'a', then a match two bytes back when only one byte exists.
        BitWriter w;
        w.Put(1, 1);
        w.Put(1, 2);
        w.FixedLiteral('a');
        w.Code(1, 7);  // length 3
        w.Code(1, 5);  // distance 2
        w.Code(0, 7);  // end of block
        EXPECT_EQ(kInflateDataError, decode(w.bytes));
        // The same match one byte back is fine: "aaaa".
        BitWriter ok;
        ok.Put(1, 1);
        ok.Put(1, 2);
        ok.FixedLiteral('a');
        ok.Code(1, 7);
        ok.Code(0, 5);
        ok.Code(0, 7);
        Bytes out;
        ASSERT_EQ(kInflateStreamEnd, Inflater::DecodeAll(ok.bytes.data(), ok.bytes.size(), out));
        EXPECT_EQ("aaaa", std::string(out.begin(), out.end()));
    }
    {  // Distance codes 30 and 31 and length code 286 exist only in Deflate64 / nowhere.
        BitWriter w;
        w.Put(1, 1);
        w.Put(1, 2);
        w.FixedLiteral('a');
        w.Code(1, 7);
        w.Code(30, 5);
        EXPECT_EQ(kInflateDataError, decode(w.bytes));
        BitWriter v;
        v.Put(1, 1);
        v.Put(1, 2);
        v.Code(0xC6, 8);  // literal/length symbol 286
        EXPECT_EQ(kInflateDataError, decode(v.bytes));
    }
    {  // Block type 3, and a stored block whose length check fails.
        BitWriter w;
        w.Put(1, 1);
        w.Put(3, 2);
        w.Put(0, 8);
        EXPECT_EQ(kInflateDataError, decode(w.bytes));
        EXPECT_EQ(kInflateDataError, decode(Bytes{0x01, 0x05, 0x00, 0xFA, 0xF0, 1, 2, 3, 4, 5}));
        Bytes out;
        const Bytes stored{0x01, 0x05, 0x00, 0xFA, 0xFF, 1, 2, 3, 4, 5};
        ASSERT_EQ(kInflateStreamEnd, Inflater::DecodeAll(stored.data(), stored.size(), out));
        EXPECT_EQ(Bytes({1, 2, 3, 4, 5}), out);
    }
    {  // Dynamic block headers: over-subscribed code-length code, too many symbols, a repeat
        // with nothing to repeat.
        BitWriter w;
        w.Put(1, 1);
        w.Put(2, 2);
        w.Put(0, 5);
        w.Put(0, 5);
        w.Put(15, 4);  // 19 code-length lengths, all 1: over-subscribed
        for (int i = 0; i < 19; ++i)
            w.Put(1, 3);
        EXPECT_EQ(kInflateDataError, decode(w.bytes));
        BitWriter m;
        m.Put(1, 1);
        m.Put(2, 2);
        m.Put(30, 5);  // 287 literal/length codes
        m.Put(0, 5);
        m.Put(0, 4);
        for (int i = 0; i < 4; ++i)
            m.Put(2, 3);
        EXPECT_EQ(kInflateDataError, decode(m.bytes));
        BitWriter r;
        r.Put(1, 1);
        r.Put(2, 2);
        r.Put(0, 5);
        r.Put(0, 5);
        r.Put(0, 4);  // lengths of symbols 16, 17, 18, 0
        for (int i = 0; i < 4; ++i)
            r.Put(2, 3);  // all length 2: 0 -> 00, 16 -> 01, 17 -> 10, 18 -> 11
        r.Code(1, 2);     // "repeat previous" first
        r.Put(0, 2);
        EXPECT_EQ(kInflateDataError, decode(r.bytes));
    }
}
