#include "core/plxBZip2.h"

#include "support/ToolRun.h"
#include "support/ZipWalk.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Letters, long runs and noise in stretches, so that every stage of the coder is exercised.
Bytes MixedData(std::size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const unsigned kind = rng() % 3;
        for (std::size_t n = 200 + rng() % 50000; n > 0 && out.size() < size; --n)
            out.push_back(kind == 0   ? std::uint8_t("backup archive\r\n"[rng() % 16])
                          : kind == 1 ? 'x'
                                      : std::uint8_t(rng()));
    }
    return out;
}

Bytes ToolCompress(const TScratchDir& dir, const Bytes& data, int level)
{
    WriteWholeFile(dir / "in", data);
    EXPECT_EQ(0, dir.Run("bzip2 -" + std::to_string(level) + " -c in > in.bz2"));
    return ReadWholeFile(dir / "in.bz2");
}

void Load(TMemoryStream32& m, const Bytes& data)
{
    m.Clear();
    if (!data.empty())
        m.WriteBuffer(data.data(), std::int32_t(data.size()));
    m.SetPosition(0);
}

Bytes Contents(TMemoryStream32& m)
{
    const auto* p = static_cast<const std::uint8_t*>(m.Memory());
    return p ? Bytes(p, p + m.Size()) : Bytes{};
}

std::uint32_t ZlibCrc(const Bytes& data)
{
    return std::uint32_t(crc32(0, data.data(), uInt(data.size())));
}

Bytes OurCompress(const Bytes& data, int level, TBz2Owner owner = {})
{
    TMemoryStream32 in, out;
    Load(in, data);
    EXPECT_TRUE(BZipEncodeStream(owner, &in, &out, nullptr, level, std::int64_t(data.size())));
    return Contents(out);
}

// Decodes through Read calls of the given size, checking that no call writes past its count.
Bytes OurDecode(const Bytes& packed, bool concatenated = false, std::int32_t readSize = 65536, TBz2Owner owner = {})
{
    TMemoryStream32 src;
    Load(src, packed);
    TBzDecompressStream bz(owner, &src, 0, std::int64_t(packed.size()));
    bz.Concatenated = concatenated;
    Bytes out;
    Bytes buf(std::size_t(readSize) + 16, 0xA5);
    for (;;) {
        const std::int32_t n = bz.Read(buf.data(), readSize);
        for (std::size_t i = std::size_t(readSize); i < buf.size(); ++i)
            if (buf[i] != 0xA5)
                ADD_FAILURE() << "Read wrote past its count";
        if (n == 0)
            break;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    EXPECT_EQ(0, bz.Read(buf.data(), readSize));  // stays ended
    return out;
}

// The message number of the failure of decoding packed, 0 when it decodes to expected, -1 when it
// decodes "successfully" to anything else.
int DecodeOutcome(const Bytes& packed, const Bytes& expected, bool concatenated = false)
{
    try {
        return OurDecode(packed, concatenated) == expected ? 0 : -1;
    } catch (const Ebz2libError& e) {
        return e.ECode;
    }
}

}  // namespace

TEST(Bzip2Streams, EncoderMatchesTheBzip2ToolByteForByte)
{
    TScratchDir dir;
    const Bytes big = MixedData(3'500'000, 11);
    for (const Bytes& data : {Bytes{}, Bytes{'A'}, MixedData(70'000, 3), big}) {
        for (int level : {1, 6, 9}) {
            SCOPED_TRACE("size " + std::to_string(data.size()) + " level " + std::to_string(level));
            TRunningCrc crc;
            TBz2Owner owner;
            owner.Crc = &crc;
            const Bytes ours = OurCompress(data, level, owner);
            EXPECT_TRUE(ours == ToolCompress(dir, data, level));
            EXPECT_EQ(ZlibCrc(data), crc.Crc32);
            EXPECT_TRUE(OurDecode(ours) == data);
        }
    }
}

TEST(Bzip2Streams, DecodesToolOutputAndConcatenatedFiles)
{
    TScratchDir dir;
    const Bytes a = MixedData(1'200'000, 5);
    const Bytes b = MixedData(50'000, 6);
    const Bytes packedA = ToolCompress(dir, a, 9);
    const Bytes packedB = ToolCompress(dir, b, 1);
    EXPECT_TRUE(OurDecode(packedA) == a);
    EXPECT_TRUE(OurDecode(packedA, false, 7) == a);  // small reads straddle every boundary

    Bytes joined = packedA;
    joined.insert(joined.end(), packedB.begin(), packedB.end());
    const Bytes emptyStream = ToolCompress(dir, Bytes{}, 9);
    joined.insert(joined.end(), emptyStream.begin(), emptyStream.end());
    joined.insert(joined.end(), packedB.begin(), packedB.end());
    Bytes ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    ab.insert(ab.end(), b.begin(), b.end());
    EXPECT_TRUE(OurDecode(joined, true) == ab);
    EXPECT_TRUE(OurDecode(joined, true, 1000) == ab);
    EXPECT_TRUE(OurDecode(joined, false) == a);  // a ZIP member ends with its first stream

    // Zero padding after the last stream is ignored; any other bytes are a damaged stream.
    Bytes padded = joined;
    padded.insert(padded.end(), 700, 0);
    EXPECT_TRUE(OurDecode(padded, true) == ab);
    Bytes trailing = joined;
    for (char c : std::string("garbage\n"))
        trailing.push_back(std::uint8_t(c));
    EXPECT_EQ(E_CORRUPTINPUT, DecodeOutcome(trailing, ab, true));
    Bytes damagedMagic = joined;
    damagedMagic[packedA.size() + 1] ^= 0x20;  // "Bz" where the second stream starts
    EXPECT_EQ(E_CORRUPTINPUT, DecodeOutcome(damagedMagic, ab, true));
    Bytes badSecond = packedA;
    badSecond.insert(badSecond.end(), {'B', 'Z', 'h', '9', 'x', 'x'});
    EXPECT_EQ(E_CORRUPTINPUT, DecodeOutcome(badSecond, a, true));
}

TEST(Bzip2Streams, DecodesSevenZipBzip2MembersFromTheArchive)
{
    TScratchDir dir;
    const Bytes data = MixedData(400'000, 8);
    WriteWholeFile(dir / "x.bin", data);
    WriteWholeFile(dir / "y.bin", MixedData(1000, 9));
    ASSERT_EQ(0, dir.Run("7zz a -bd -bso0 -tzip -mm=BZip2 -mx=9 x.zip x.bin y.bin"));
    const Bytes zip = ReadWholeFile(dir / "x.zip");
    const std::vector<TZipWalkEntry> members = WalkZip(zip);
    ASSERT_EQ(2u, members.size());
    const TZipWalkEntry& x = members[0].Name == "x.bin" ? members[0] : members[1];
    ASSERT_EQ(12, x.Method);
    const std::uint32_t crc = x.Crc;
    const std::uint64_t packed = x.CompressedSize;
    const std::uint64_t start = x.DataOffset;

    TMemoryStream32 archive;
    Load(archive, zip);
    archive.SetPosition(std::int64_t(start));
    TRunningCrc running;
    Bytes out;
    TBz2Owner owner;
    owner.Output = [&](const std::uint8_t* buf, std::size_t n) {
        running.UpdateCrc(32, buf, std::int32_t(n));
        out.insert(out.end(), buf, buf + n);
    };
    // Reads stay inside the member although the next member's bytes follow.
    EXPECT_EQ(0, DecodeBzip2Region(owner, &archive, packed));
    EXPECT_LE(archive.Position(), std::int64_t(start + packed));
    EXPECT_TRUE(out == data);
    EXPECT_EQ(crc, running.Crc32 ^ CRC_MASK);
}

TEST(Bzip2Streams, DamagedDataFailsWithANumberAndNeverPassesAsGood)
{
    const Bytes data = MixedData(60'000, 4);
    const Bytes packed = OurCompress(data, 9);

    // Truncated anywhere, including just the end marker gone: never a clean end.
    for (std::size_t keep :
         {std::size_t(0), std::size_t(3), std::size_t(40), packed.size() / 2, packed.size() - 10, packed.size() - 1}) {
        SCOPED_TRACE("kept " + std::to_string(keep));
        EXPECT_EQ(E_UNEXPECTEDEOF, DecodeOutcome(Bytes(packed.begin(), packed.begin() + keep), data));
    }
    // A region limit short of the data is the same as a cut file.
    TMemoryStream32 src;
    Load(src, packed);
    EXPECT_THROW(DecodeBzip2Region({}, &src, std::int64_t(packed.size()) - 5), Ebz2libError);

    // Single flipped bits: a number, or (padding bits after the end marker) the right data.
    std::mt19937 rng(3);
    int failures = 0;
    for (int trial = 0; trial < 120; ++trial) {
        Bytes bad = packed;
        const std::size_t at = trial < 10 ? std::size_t(trial) : rng() % bad.size();
        bad[at] ^= std::uint8_t(1u << (rng() % 8));
        const int outcome = DecodeOutcome(bad, data);
        EXPECT_TRUE(outcome == 0 || outcome == E_CORRUPTINPUT || outcome == E_UNEXPECTEDEOF)
            << "flip at " << at << " gave " << outcome;
        failures += outcome != 0;
    }
    EXPECT_GT(failures, 100);
    EXPECT_EQ(E_CORRUPTINPUT, DecodeOutcome(Bytes{'P', 'K', 3, 4, 0, 0}, data));
}

TEST(Bzip2Streams, StreamOperationsCipherCancelAndWriteFailure)
{
    const Bytes data = MixedData(100'000, 12);
    const Bytes packed = OurCompress(data, 6);
    TMemoryStream32 src;
    Load(src, packed);

    {  // Forward seeks decode and discard; backward seeks and writes are refused.
        TBzDecompressStream bz({}, &src, 0, std::int64_t(packed.size()));
        EXPECT_EQ(40000, bz.Seek64(40000, soCurrent));
        std::uint8_t b[4];
        ASSERT_EQ(4, bz.Read(b, 4));
        EXPECT_EQ(0, std::memcmp(b, &data[40000], 4));
        EXPECT_THROW(bz.Seek64(10, soBeginning), Ebz2libError);
        EXPECT_EQ(std::int64_t(data.size()), bz.Seek64(std::int64_t(data.size()) + 999, soBeginning));
    }
    {  // The encoder stops when cancelled.
        TMemoryStream32 out;
        bool cancel = false;
        TBz2Owner owner;
        owner.Cancel = &cancel;
        TBZCompressStream bz(owner, &out, -1, 10, 9);
        std::uint8_t b[10] = {};
        EXPECT_EQ(10, bz.Write(b, 10));
        cancel = true;
        EXPECT_EQ(0, bz.Write(b, 10));
        EXPECT_THROW(TBZCompressStream(owner, &out, -1, 10, 9), Ebz2USERError);
    }

    // With the traditional cipher the compressed bytes are enciphered and deciphered in place.
    TZipCipher enc, dec;
    enc.InitDataKeys("secret");
    dec.InitDataKeys("secret");
    TBz2Owner encOwner;
    encOwner.Cipher = &enc;
    const Bytes sealed = OurCompress(data, 6, encOwner);
    EXPECT_EQ(packed.size(), sealed.size());
    EXPECT_TRUE(sealed != packed);
    TBz2Owner decOwner;
    decOwner.Cipher = &dec;
    EXPECT_TRUE(OurDecode(sealed, false, 3000, decOwner) == data);

    // Region decoding: a failed write reaches the caller as the output's own exception; a cancel is
    // E_USERCANCEL and clears the running CRC.
    struct TWriteFailure {};
    TBz2Owner owner;
    owner.Output = [](const std::uint8_t*, std::size_t) { throw TWriteFailure(); };
    src.SetPosition(0);
    EXPECT_THROW(DecodeBzip2Region(owner, &src, std::int64_t(packed.size())), TWriteFailure);
    bool cancel = false;
    TRunningCrc crc;
    crc.Crc32 = 0x1234;
    owner.Crc = &crc;
    owner.Cancel = &cancel;
    owner.Output = [&](const std::uint8_t*, std::size_t) { cancel = true; };
    src.SetPosition(0);
    EXPECT_EQ(E_USERCANCEL, DecodeBzip2Region(owner, &src, std::int64_t(packed.size())));
    EXPECT_EQ(CRC_MASK, crc.Crc32);

    // The encoder fails when its input ends short of the size it was given.
    TMemoryStream32 in, out;
    Load(in, data);
    EXPECT_FALSE(BZipEncodeStream({}, &in, &out, nullptr, 9, std::int64_t(data.size()) + 1));
}

namespace {

// Two volumes behind one stream: the first answers 0 at its end until the next one is opened.
class TwoVolumes : public TMemoryStream32 {
public:
    Bytes second;
    bool onSecond = false;
    bool Next()
    {
        if (onSecond)
            return false;
        onSecond = true;
        Load(*this, second);
        return true;
    }
};

}  // namespace

TEST(Bzip2Streams, ReadsOnAcrossVolumesAndCancelsWhenNoneFollows)
{
    const Bytes data = MixedData(80'000, 13);
    const Bytes packed = OurCompress(data, 9);
    const std::size_t cut = packed.size() / 3;
    TwoVolumes src;
    Load(src, Bytes(packed.begin(), packed.begin() + std::ptrdiff_t(cut)));
    src.second.assign(packed.begin() + std::ptrdiff_t(cut), packed.end());
    TBz2Owner owner;
    bool cancel = false;
    owner.Cancel = &cancel;
    owner.NextVolume = [&] { return src.Next(); };
    Bytes out;
    owner.Output = [&](const std::uint8_t* buf, std::size_t n) { out.insert(out.end(), buf, buf + n); };
    EXPECT_EQ(0, DecodeBzip2Region(owner, &src, std::int64_t(packed.size())));
    EXPECT_TRUE(out == data);

    // The set ends before the data does: the run is cancelled.
    Load(src, Bytes(packed.begin(), packed.begin() + std::ptrdiff_t(cut)));
    src.second.clear();
    src.onSecond = true;
    EXPECT_THROW(DecodeBzip2Region(owner, &src, std::int64_t(packed.size())), Ebz2USERError);
    EXPECT_TRUE(cancel);
}
