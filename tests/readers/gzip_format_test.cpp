// GZip member headers and whole .gz streams against gzip and pigz output, members we write read
// back by gzip, and damaged streams.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include <zlib.h>

#include "core/Crc.h"
#include "readers/EntryNames.h"
#include "readers/GzipFormat.h"
#include "support/ToolRun.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

struct TGzipRun {
    TGzipDecodeResult Result;
    TBytes Bytes;
};

TGzipRun DecodeGz(const TBytes& gz, std::uint64_t maxOutput = UINT64_MAX, std::size_t chunk = 0)
{
    TGzipRun run;
    std::size_t pos = 0;
    run.Result = DecodeGzipStream(
        [&](std::uint8_t* buffer, std::size_t count) {
            std::size_t n = std::min(count, gz.size() - pos);
            if (chunk > 0)
                n = std::min(n, chunk);
            if (n > 0)
                std::memcpy(buffer, gz.data() + pos, n);
            pos += n;
            return n;
        },
        [&](const std::uint8_t* data, std::size_t count) {
            EXPECT_LE(count, 32768u);
            run.Bytes.insert(run.Bytes.end(), data, data + count);
        },
        maxOutput);
    return run;
}

TBytes RawDeflate(const TBytes& data)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    TBytes out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TBytes Member(const TBytes& header, const TBytes& data)
{
    TBytes gz = header;
    const TBytes deflated = data.empty() ? TBytes(GzipEmptyDeflate.begin(), GzipEmptyDeflate.end()) : RawDeflate(data);
    gz.insert(gz.end(), deflated.begin(), deflated.end());
    const auto trailer = EncodeGzipTrailer(Crc32Of(data), data.size());
    gz.insert(gz.end(), trailer.begin(), trailer.end());
    return gz;
}

// A header with every optional field; FHCRC over all bytes before it.
TBytes FullHeader(const std::string& name, const std::string& comment, std::uint8_t extraFlags = 0)
{
    TBytes h = {
        0x1F,       0x8B,
        8,          std::uint8_t(GzipFlagText | GzipFlagHeaderCrc | GzipFlagExtra | GzipFlagName | GzipFlagComment),
        0x78,       0x56,
        0x34,       0x12,
        extraFlags, 3};
    h.insert(h.end(), {6, 0, 'A', 'p', 2, 0, 'x', 'y'});
    h.insert(h.end(), name.begin(), name.end());
    h.push_back(0);
    h.insert(h.end(), comment.begin(), comment.end());
    h.push_back(0);
    std::uint32_t crc = CRC_MASK;
    UpdateCrc32(h.data(), std::int64_t(h.size()), crc);
    crc ^= CRC_MASK;
    h.push_back(std::uint8_t(crc));
    h.push_back(std::uint8_t(crc >> 8));
    return h;
}

}  // namespace

TEST(GzipFormat, ReadsGzipAndPigzOutput)
{
    TScratchDir dir;
    const TBytes text = MixedBytes(300000, 5);
    WriteWholeFile(dir / "report.txt", text);
    WriteWholeFile(dir / "empty", {});
    ASSERT_EQ(dir.Run("touch -d @1600000000 report.txt && gzip -N -c report.txt > named.gz && gzip -n -c report.txt > "
                      "bare.gz && gzip -c empty > empty.gz && pigz -C 'said: hello' -c report.txt > comment.gz && "
                      "cat named.gz empty.gz bare.gz > three.gz"),
              0);

    auto named = DecodeGz(ReadWholeFile((dir / "named.gz").string()));
    EXPECT_EQ(named.Result.Status, TCodecStatus::Ok);
    EXPECT_TRUE(named.Bytes == text);
    EXPECT_EQ(named.Result.First.Name, "report.txt");
    EXPECT_EQ(named.Result.First.MTime, 1600000000u);

    auto bare = DecodeGz(ReadWholeFile((dir / "bare.gz").string()));
    EXPECT_TRUE(bare.Bytes == text);
    EXPECT_EQ(bare.Result.First.Flags & GzipFlagName, 0);
    EXPECT_EQ(bare.Result.First.MTime, 0u);

    auto comment = DecodeGz(ReadWholeFile((dir / "comment.gz").string()));
    EXPECT_EQ(comment.Result.Status, TCodecStatus::Ok);
    EXPECT_TRUE(comment.Bytes == text);
    EXPECT_EQ(comment.Result.First.Comment, "said: hello");
    EXPECT_EQ(comment.Result.First.Name, "report.txt");

    auto empty = DecodeGz(ReadWholeFile((dir / "empty.gz").string()));
    EXPECT_EQ(empty.Result.Status, TCodecStatus::Ok);
    EXPECT_TRUE(empty.Bytes.empty());

    // Every member is decoded and checked; the output is their concatenation. Input handed over
    // in small pieces makes magic, header and trailer straddle reads.
    const TBytes three = ReadWholeFile((dir / "three.gz").string());
    for (std::size_t chunk : {std::size_t(0), std::size_t(3), std::size_t(7)}) {
        auto all = DecodeGz(three, UINT64_MAX, chunk);
        EXPECT_EQ(all.Result.Status, TCodecStatus::Ok) << chunk;
        EXPECT_EQ(all.Result.Members, 3);
        EXPECT_EQ(all.Result.BytesIn, three.size());
        TBytes twice = text;
        twice.insert(twice.end(), text.begin(), text.end());
        EXPECT_TRUE(all.Bytes == twice) << chunk;
    }
}

TEST(GzipFormat, OptionalFieldsAndLongNames)
{
    // FEXTRA, FNAME, FCOMMENT and FHCRC all present; gzip itself agrees the member is sound.
    TScratchDir dir;
    const TBytes data = MixedBytes(5000, 9);
    const std::string longName(1000, 'n');
    const TBytes gz = Member(FullHeader("../../" + longName, "a comment"), data);
    WriteWholeFile(dir / "full.gz", gz);
    EXPECT_EQ(dir.Run("gzip -t full.gz"), 0);

    auto run = DecodeGz(gz);
    EXPECT_EQ(run.Result.Status, TCodecStatus::Ok);
    EXPECT_TRUE(run.Bytes == data);
    EXPECT_EQ(run.Result.First.Name, "../../" + longName);  // whole, never cut at 255
    EXPECT_EQ(FileNamePart(run.Result.First.Name), longName);
    EXPECT_EQ(run.Result.First.Comment, "a comment");
    EXPECT_EQ(run.Result.First.Extra, (TBytes{'A', 'p', 2, 0, 'x', 'y'}));
    EXPECT_EQ(run.Result.First.MTime, 0x12345678u);

    TGzipHeader header;
    EXPECT_EQ(ParseGzipHeader(gz.data(), gz.size(), header), TCodecStatus::Ok);
    EXPECT_EQ(header.Size, FullHeader("../../" + longName, "a comment").size());

    // Stored names never name anything outside the output folder.
    EXPECT_EQ(FileNamePart("C:\\Windows\\evil.exe"), "evil.exe");
    EXPECT_EQ(FileNamePart("/etc/passwd"), "passwd");
    EXPECT_EQ(FileNamePart("C:evil"), "evil");
    EXPECT_EQ(FileNamePart(".."), "");
    EXPECT_EQ(FileNamePart("dir/"), "");
    EXPECT_EQ(FileNamePart("a/. ."), "");
}

TEST(GzipFormat, DamagedStreamsFail)
{
    const TBytes data = MixedBytes(100000, 4);
    const TBytes good = Member(EncodeGzipHeader("a.txt", 1000), data);
    auto statusOf = [](const TBytes& gz) { return DecodeGz(gz).Result.Status; };

    EXPECT_EQ(statusOf({}), TCodecStatus::Truncated);
    EXPECT_EQ(statusOf({'P', 'K', 3, 4}), TCodecStatus::NotGzip);
    // Every cut fails: inside the header, the deflate data, the trailer.
    for (std::size_t cut : {std::size_t(5), std::size_t(12), good.size() / 2, good.size() - 5, good.size() - 1})
        EXPECT_EQ(statusOf(TBytes(good.begin(), good.begin() + std::ptrdiff_t(cut))), TCodecStatus::Truncated) << cut;

    auto patched = [&](std::size_t at, std::uint8_t value) {
        TBytes gz = good;
        gz[at] = value;
        return gz;
    };
    EXPECT_EQ(statusOf(patched(2, 7)), TCodecStatus::UnsupportedMethod);
    EXPECT_EQ(statusOf(patched(3, GzipFlagName | 0x20)), TCodecStatus::Encrypted);
    EXPECT_EQ(statusOf(patched(3, GzipFlagName | 0x80)), TCodecStatus::BadHeader);
    EXPECT_EQ(statusOf(patched(good.size() - 8, good[good.size() - 8] ^ 1)), TCodecStatus::CrcError);
    EXPECT_EQ(statusOf(patched(good.size() - 1, 1)), TCodecStatus::SizeError);
    TBytes badHeaderCrc = Member(FullHeader("x", "y"), data);
    badHeaderCrc[FullHeader("x", "y").size() - 1] ^= 1;
    EXPECT_EQ(statusOf(badHeaderCrc), TCodecStatus::HeaderCrcError);
    TBytes endless = EncodeGzipHeader("", 0);  // FNAME whose end never comes
    endless[3] = GzipFlagName;
    endless.resize(endless.size() + GzipMaxTextLength + 10, 'x');
    EXPECT_EQ(statusOf(endless), TCodecStatus::BadHeader);

    // A damaged second member fails the whole stream after the first one was checked.
    TBytes two = good;
    TBytes second = good;
    second[second.size() - 6] ^= 0x40;
    two.insert(two.end(), second.begin(), second.end());
    auto run = DecodeGz(two);
    EXPECT_EQ(run.Result.Status, TCodecStatus::CrcError);
    EXPECT_EQ(run.Result.Members, 1);

    // Only zero padding may follow the last member; anything else is a member whose header is
    // damaged, and the stream fails.
    TBytes tail = good;
    tail.insert(tail.end(), {0, 0, 0, 0, 0, 0, 0, 0});
    run = DecodeGz(tail);
    EXPECT_EQ(run.Result.Status, TCodecStatus::Ok);
    EXPECT_EQ(run.Result.TrailingBytes, 8u);
    EXPECT_TRUE(run.Bytes == data);
    for (const TBytes& after : {TBytes{0, 0, 0, 0, 'j', 'u', 'n', 'k'}, TBytes{'j', 'u', 'n', 'k'}, TBytes{0x1F, 0x8C},
                                TBytes{0x1E, 0x8B, 8, 0}}) {
        TBytes damaged = good;
        damaged.insert(damaged.end(), after.begin(), after.end());
        damaged.insert(damaged.end(), good.begin(), good.end());
        EXPECT_EQ(DecodeGz(damaged).Result.Status, TCodecStatus::BadHeader);
    }

    EXPECT_EQ(DecodeGz(good, 1000).Result.Status, TCodecStatus::OutputLimit);
    std::mt19937 rng(3);
    for (int i = 0; i < 40; ++i) {
        TBytes bad = good;
        bad[rng() % bad.size()] ^= std::uint8_t(1 + rng() % 255);
        EXPECT_LE(DecodeGz(bad, 200000).Bytes.size(), 200000u);
    }
}

TEST(GzipFormat, MembersWeWriteReadByGzip)
{
    TScratchDir dir;
    const TBytes data = MixedBytes(70000, 8);
    WriteWholeFile(dir / "ours.gz", Member(EncodeGzipHeader("report.txt", 1500000000, 0), data));
    // An empty input still gets deflate data, so strict readers accept the member.
    const TBytes empty = Member(EncodeGzipHeader("empty.txt", -5, 4), {});
    EXPECT_EQ(empty.size(), 10 + 10 + 2 + 8u);
    WriteWholeFile(dir / "empty.gz", empty);
    ASSERT_EQ(dir.Run("mkdir out && cp ours.gz empty.gz out/ && cd out && gzip -dN ours.gz empty.gz"), 0);
    EXPECT_TRUE(ReadWholeFile((dir / "out/report.txt").string()) == data);
    EXPECT_TRUE(ReadWholeFile((dir / "out/empty.txt").string()).empty());
    EXPECT_EQ(dir.Capture("stat -c %Y out/report.txt"), "1500000000\n");
    EXPECT_EQ(TBytes(empty.begin() + 4, empty.begin() + 8), TBytes(4, 0));  // before 1970: stored as 0
    const TBytes late = EncodeGzipHeader("a", std::int64_t(1) << 40);
    EXPECT_EQ(TBytes(late.begin() + 4, late.begin() + 8), TBytes(4, 0xFF));

    // Without a name there is no FNAME flag.
    const TBytes bare = EncodeGzipHeader("", 7);
    EXPECT_EQ(bare.size(), 10u);
    EXPECT_EQ(bare[3], 0);

    EXPECT_EQ(GzipOutputName("Backup.TGZ"), "Backup.tar");
    EXPECT_EQ(GzipOutputName("report.txt.gz"), "report.txt");
    EXPECT_EQ(GzipOutputName("notes.Z"), "notes");
    EXPECT_EQ(GzipOutputName("x.gzip"), "x");
    EXPECT_EQ(GzipOutputName("data_tar"), "data.tar");
}
