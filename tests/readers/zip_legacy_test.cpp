// Shrink, reduce and implode decoders against archives made by early DOS archivers, with Info-ZIP
// unzip and the original files as oracles, and against damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <random>

#include "core/Crc.h"
#include "core/plxConsts.h"
#include "readers/ZipLegacy.h"
#include "readers/plxUnZIP.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "support/ZipWalk.h"

namespace fs = std::filesystem;

namespace {

const fs::path FixtureDir = FixtureRoot() / "zip-legacy";

struct TMemorySource {
    const std::vector<std::uint8_t>& Data;
    std::size_t Pos = 0;
    int ReadsAtEnd = 0;

    std::size_t operator()(std::uint8_t* buffer, std::size_t count)
    {
        if (Pos == Data.size())
            ++ReadsAtEnd;
        const std::size_t n = std::min(count, Data.size() - Pos);
        if (n > 0)
            std::memcpy(buffer, Data.data() + Pos, n);
        Pos += n;
        return n;
    }
};

struct TMemorySink {
    std::vector<std::uint8_t> Bytes;
    std::size_t LargestWrite = 0;

    void operator()(const std::uint8_t* data, std::size_t count)
    {
        LargestWrite = std::max(LargestWrite, count);
        Bytes.insert(Bytes.end(), data, data + count);
    }
};

struct TOutcome {
    TCodecStatus Status = TCodecStatus::Ok;
    bool Ok = false;
    int Error = 0;  // the message number the extractor reports
    std::vector<std::uint8_t> Bytes;
    int ReadsAtEnd = 0;
};

TOutcome Decode(int method, const std::vector<std::uint8_t>& data, std::uint64_t uncompressedSize,
                std::uint16_t flags = 0, std::uint64_t compressedSize = UINT64_MAX)
{
    TMemorySource source{data};
    TMemorySink sink;
    const TZipLegacyMember member{compressedSize == UINT64_MAX ? data.size() : compressedSize, uncompressedSize, flags};
    auto decoder = MakeZipLegacyDecoder(method, std::ref(source), std::ref(sink), member);
    TOutcome out;
    out.Status = decoder->Decode();
    out.Ok = out.Status == TCodecStatus::Ok;
    out.Error = ZipLegacyMessage(method, out.Status);
    EXPECT_LE(sink.LargestWrite, ZipLegacyBufferSize);
    EXPECT_LE(sink.Bytes.size(), uncompressedSize);
    out.Bytes = std::move(sink.Bytes);
    out.ReadsAtEnd = source.ReadsAtEnd;
    return out;
}

std::vector<std::uint8_t> UnzipPipe(const fs::path& archive, const std::string& name)
{
    const std::string command = "unzip -p '" + archive.string() + "' '" + name + "'";
    std::vector<std::uint8_t> bytes;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return bytes;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    pclose(pipe);
    return bytes;
}

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
    return s;
}

// LSB-first bit packer for hand-made streams.
class TBitWriter {
public:
    TBitWriter& Put(std::uint32_t value, int bits)
    {
        for (int i = 0; i < bits; ++i, ++count_) {
            if (count_ % 8 == 0)
                Bytes.push_back(0);
            Bytes.back() |= std::uint8_t(((value >> i) & 1) << (count_ % 8));
        }
        return *this;
    }
    std::vector<std::uint8_t> Bytes;

private:
    std::size_t count_ = 0;
};

std::vector<std::uint8_t> Text(const std::string& s)
{
    return {s.begin(), s.end()};
}

struct TSample {
    int Method;
    std::uint16_t Flags;
    std::uint32_t Crc;
    std::uint64_t Size;
    std::vector<std::uint8_t> Data;
};

// The first member of each of the three archives that hold one text in all three methods.
std::vector<TSample> Samples()
{
    std::vector<TSample> samples;
    for (const char* archive : {"HWSHRINK.ZIP", "HWREDUCE.ZIP", "HWIMPODE.ZIP"}) {
        const auto entries = WalkZip(ReadWholeFile((FixtureDir / archive).string()));
        const auto& e = entries.front();
        samples.push_back({e.Method, e.Flags, e.Crc, e.UncompressedSize, e.Data});
    }
    return samples;
}

}  // namespace

class ZipLegacyFixtures : public testing::Test {
protected:
    void SetUp() override { TORVO_NEED_FIXTURES(fs::is_directory(FixtureDir), "no fixtures at " << FixtureDir); }
};

TEST_F(ZipLegacyFixtures, EveryMemberMatchesUnzipTheOriginalsAndItsCrc)
{
    std::map<std::string, std::vector<std::uint8_t>> originals;  // shipped beside the archives
    for (const char* name : {"TESTDAT1.TXT", "TESTDAT2.TXT", "TESTDAT3.TXT", "first.txt"})
        originals[Upper(name)] = ReadWholeFile((FixtureDir / name).string());
    std::map<int, int> decodedByMethod;
    for (const auto& file : fs::directory_iterator(FixtureDir)) {
        if (Upper(file.path().extension().string()) != ".ZIP")
            continue;
        for (const auto& e : WalkZip(ReadWholeFile(file.path().string()))) {
            if (e.Method < 1 || e.Method > 6)
                continue;
            SCOPED_TRACE(file.path().filename().string() + " " + e.Name);
            const TOutcome out = Decode(e.Method, e.Data, e.UncompressedSize, e.Flags);
            EXPECT_TRUE(out.Ok);
            EXPECT_EQ(out.Error, 0);
            ASSERT_EQ(out.Bytes.size(), e.UncompressedSize);
            EXPECT_EQ(Crc32Of(out.Bytes), e.Crc);
            // Info-ZIP unzip reads every method here but reduce.
            if (e.Method < 2 || e.Method > 5) {
                EXPECT_TRUE(out.Bytes == UnzipPipe(file.path(), e.Name));
            }
            if (auto it = originals.find(Upper(e.Name)); it != originals.end()) {
                EXPECT_TRUE(out.Bytes == it->second);
            }
            ++decodedByMethod[e.Method];
        }
    }
    EXPECT_GE(decodedByMethod[1], 3);
    EXPECT_GE(decodedByMethod[5], 2);
    EXPECT_GE(decodedByMethod[6], 3);
}

// Bare compressed streams of the start of a text with CR LF line ends (the .out files hold it with
// LF only); the reduce streams are factor 4.
TEST_F(ZipLegacyFixtures, RawStreamsGiveTheKnownText)
{
    auto crlf = [](const std::vector<std::uint8_t>& lf) {
        std::vector<std::uint8_t> out;
        for (auto b : lf) {
            if (b == '\n')
                out.push_back('\r');
            out.push_back(b);
        }
        return out;
    };
    const struct {
        const char* Stream;
        int Method;
        const char* Text;
    } cases[] = {{"implode_hamlet_256.bin", 6, "implode_hamlet_256.out"},
                 {"reduce_hamlet_2048.bin", 5, "implode_hamlet_2048.out"},
                 {"reduce_zero_reduced.bin", 5, "implode_hamlet_2048.out"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Stream);
        const auto expected = crlf(ReadWholeFile((FixtureDir / c.Text).string()));
        const TOutcome out = Decode(c.Method, ReadWholeFile((FixtureDir / c.Stream).string()), expected.size());
        EXPECT_TRUE(out.Ok);
        EXPECT_TRUE(out.Bytes == expected);
    }
}

TEST_F(ZipLegacyFixtures, TruncatedMembersFailWithoutReadingOnAtTheEnd)
{
    for (const TSample& s : Samples()) {
        SCOPED_TRACE(s.Method);
        for (std::size_t keep :
             {std::size_t(0), std::size_t(1), std::size_t(40), s.Data.size() / 2, s.Data.size() - 1}) {
            const std::vector<std::uint8_t> cut(s.Data.begin(), s.Data.begin() + long(keep));
            // Declared as the shorter size, and declared whole while the source runs dry.
            for (std::uint64_t declared : {std::uint64_t(keep), std::uint64_t(s.Data.size())}) {
                const TOutcome out = Decode(s.Method, cut, s.Size, s.Flags, declared);
                EXPECT_FALSE(out.Ok) << keep;
                EXPECT_TRUE(out.Error == 0 || out.Error == 25116) << out.Error;
                // Only a shrink stream cut inside its first code is damage rather than an early end.
                EXPECT_TRUE(out.Status == TCodecStatus::Truncated || out.Error == 25116) << keep;
                EXPECT_LE(out.ReadsAtEnd, 1);
            }
        }
    }
}

TEST_F(ZipLegacyFixtures, BitFlipsEndInAnErrorOrAWrongCrcNeverAHang)
{
    auto run = [] {
        std::mt19937 random(20240512);
        for (const TSample& s : Samples()) {
            for (int round = 0; round < 300; ++round) {
                auto data = s.Data;
                for (int flips = 1 + round % 3; flips > 0; --flips)
                    data[random() % data.size()] ^= std::uint8_t(1u << (random() % 8));
                const TOutcome out = Decode(s.Method, data, s.Size, s.Flags);
                EXPECT_TRUE(out.Error == 0 || out.Error == 25116 || out.Error == 25305) << out.Error;
                if (out.Ok)
                    EXPECT_EQ(out.Bytes.size(), s.Size);
                else
                    EXPECT_FALSE(out.Bytes.size() == s.Size && Crc32Of(out.Bytes) == s.Crc);
            }
        }
    };
    auto done = std::async(std::launch::async, run);
    if (done.wait_for(std::chrono::minutes(5)) != std::future_status::ready) {
        ADD_FAILURE() << "decoding damaged members did not end";
        std::_Exit(1);
    }
}

TEST(ZipLegacy, UnshrinkControlCodesAndCorruptCodes)
{
    // Only the first code.
    EXPECT_TRUE(Decode(1, TBitWriter().Put('A', 9).Bytes, 1).Bytes == Text("A"));

    // Widening past 13 bits, and an unknown control code.
    TBitWriter wide;
    wide.Put('A', 9);
    for (int width = 9; width <= 13; ++width)
        wide.Put(256, width).Put(1, width);
    EXPECT_EQ(Decode(1, wide.Bytes, 100).Error, 25116);
    EXPECT_EQ(Decode(1, TBitWriter().Put('A', 9).Put(256, 9).Put(3, 9).Bytes, 100).Error, 25116);
    // A stream cannot start with a code it has not defined.
    EXPECT_EQ(Decode(1, TBitWriter().Put(300, 9).Bytes, 100).Error, 25116);

    // Naming a free code twice makes an entry its own parent: the decode stack bounds the chain.
    TOutcome out = Decode(1, TBitWriter().Put('A', 9).Put(258, 9).Put('A', 9).Put(258, 9).Bytes, 100000);
    EXPECT_TRUE(out.Error == 25305 || out.Error == 25116) << out.Error;

    // A partial clear frees the leaves: 257 (AB) is handed out again, now for BC.
    out = Decode(1, TBitWriter().Put('A', 9).Put('B', 9).Put(256, 9).Put(2, 9).Put('C', 9).Put(257, 9).Bytes, 5);
    EXPECT_TRUE(out.Ok);
    EXPECT_TRUE(out.Bytes == Text("ABCBC"));
}

TEST(ZipLegacy, UnreduceEscapesWindowAndFollowerSets)
{
    // Empty follower sets, then literals through the escape machine (factor 4).
    auto stream = [](std::initializer_list<std::uint8_t> bytes) {
        TBitWriter w;
        for (int i = 0; i < 256; ++i)
            w.Put(0, 6);
        for (auto b : bytes)
            w.Put(b, 8);
        return w.Bytes;
    };
    // 0x90 0x00 is a literal 0x90; a match reaching before the start copies zeros; the declared
    // size cuts a match short.
    TOutcome out = Decode(5, stream({'A', 0x90, 0x00, 0x90, 0x05, 0x09, 'Z'}), 11);
    EXPECT_TRUE(out.Ok);
    EXPECT_TRUE(out.Bytes == (std::vector<std::uint8_t>{'A', 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 'Z'}));
    out = Decode(5, stream({'A', 0x90, 0x01, 0x00, 'Z'}), 3);
    EXPECT_TRUE(out.Ok);
    EXPECT_TRUE(out.Bytes == Text("AAA"));

    // A follower set of 33 bytes, and an index past a set's end, are corrupt.
    EXPECT_EQ(Decode(5, TBitWriter().Put(33, 6).Bytes, 10).Error, 25116);
    TBitWriter w;
    for (int value = 255; value >= 0; --value) {
        w.Put(value == 0 ? 3 : 0, 6);
        if (value == 0)
            w.Put('a', 8).Put('b', 8).Put('c', 8);
    }
    out = Decode(5, TBitWriter(w).Put(0, 1).Put(2, 2).Bytes, 1);  // index 2: 'c'
    EXPECT_TRUE(out.Bytes == Text("c"));
    EXPECT_EQ(Decode(5, TBitWriter(w).Put(0, 1).Put(3, 2).Bytes, 1).Error, 25116);

    // The padding bits after 'q' would read as index 0 into q's set ('r'): the size stops first.
    TBitWriter padded;
    for (int value = 255; value >= 0; --value) {
        if (value == 'q')
            padded.Put(1, 6).Put('r', 8);
        else if (value == 0)
            padded.Put(1, 6).Put('q', 8);
        else
            padded.Put(0, 6);
    }
    padded.Put(0, 1).Put(0, 1);
    out = Decode(5, padded.Bytes, 1);
    EXPECT_TRUE(out.Ok);
    EXPECT_TRUE(out.Bytes == Text("q"));
}

TEST(ZipLegacy, ExplodeCodeOrderDictionariesAndBadTrees)
{
    // Two complete trees of 64 six-bit codes: symbol s has the code 63 - s, sent first bit first.
    auto flat = [](TBitWriter& w) { w.Put(3, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8).Put(0xF5, 8); };
    auto symbol = [](TBitWriter& w, int s) {
        for (int bit = 5; bit >= 0; --bit)
            w.Put(((63 - s) >> bit) & 1, 1);
    };
    for (bool eightK : {false, true}) {
        TBitWriter w;
        flat(w);
        flat(w);
        w.Put(1, 1).Put('H', 8).Put(1, 1).Put('i', 8);
        w.Put(0, 1).Put(1, eightK ? 7 : 6);  // distance 2: low bits 1, high part 0
        symbol(w, 0);
        symbol(w, 2);                        // length 2 + 2
        w.Put(0, 1).Put(0, eightK ? 7 : 6);  // distance 1 + 64 (or 128) * 1, before the start
        symbol(w, 1);
        symbol(w, 0);
        const TOutcome out = Decode(6, w.Bytes, 8, eightK ? 2 : 0);
        EXPECT_TRUE(out.Ok);
        EXPECT_TRUE(out.Bytes == (std::vector<std::uint8_t>{'H', 'i', 'H', 'i', 'H', 'i', 0, 0}));
    }

    // Tree counts that miss the tree size, and lengths that oversubscribe it, fail quietly.
    TBitWriter few;
    few.Put(0, 8).Put(0xF5, 8);
    flat(few);
    TBitWriter over;
    over.Put(3, 8).Put(0xF4, 8).Put(0xF4, 8).Put(0xF4, 8).Put(0xF4, 8);
    flat(over);
    for (const auto& bytes : {few.Bytes, over.Bytes}) {
        const TOutcome out = Decode(6, bytes, 1);
        EXPECT_EQ(out.Status, TCodecStatus::DataError);
        EXPECT_EQ(out.Error, 0);
    }
}

// Through the extractor: damaged shrink codes and PPMd data are reported once as "Bad block", a
// damaged implode stream only by the member's failed CRC check, PPMd parameters no coder uses as
// an unsupported method before that check.
TEST(ZipLegacy, ExtractorReportsDamageAsItsMethodDoes)
{
    // A length tree of 16 codes where 64 belong.
    const auto fewCodes = TBitWriter().Put(0, 8).Put(0xF5, 8).Put(3, 8).Put(0xF5F5F5F5, 32).Bytes;
    const struct {
        int Method;
        std::vector<std::uint8_t> Data;
        std::vector<int> Errors;
        int Failed;
    } cases[] = {{1, TBitWriter().Put(300, 9).Bytes, {E_BADBLOCK}, 0},
                 {6, fewCodes, {E_CRC}, 1},
                 {98, {0xFF, 0x03, 0x00}, {E_BADBLOCK}, 0},
                 {98, {0x00, 0x00, 0x00, 0x00}, {E_UNSUPPORTEDMETHOD, E_CRC}, 1}};
    TScratchDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Errors.front());
        TZipWalkEntry entry;
        entry.Name = "m.txt";
        entry.Version = 10;
        entry.Method = std::uint16_t(c.Method);
        entry.Crc = 0x12345678;
        entry.UncompressedSize = 5;
        entry.Data = c.Data;
        const auto archive = dir / ("m" + std::to_string(c.Method) + "-" + std::to_string(c.Errors.front()) + ".zip");
        WriteWholeFile(archive, OneEntryZip(entry));

        TUnZip z;
        std::vector<int> errors;
        int failed = 0;
        z.OnError = CollectCodes(errors);
        z.OnEnd = [&](TObject*, const std::string&, bool pass) { failed += pass ? 0 : 1; };
        z.SetArchiveFile(archive.string());
        z.SetExtractDir((dir / ("out" + std::to_string(c.Method) + "-" + std::to_string(c.Errors.front()))).string());
        z.Extract();
        EXPECT_EQ(errors, c.Errors);
        EXPECT_EQ(failed, c.Failed);
    }
}
