#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/ZipRecords.h"
#include "core/plxStreams.h"
#include "support/ToolRun.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& to, std::string_view s)
{
    to.insert(to.end(), s.begin(), s.end());
}

template <class R>
void AppendRecord(Bytes& to, const R& r)
{
    std::uint8_t buf[R::Size];
    EncodeRecord(r, buf);
    to.insert(to.end(), buf, buf + R::Size);
}

std::uint64_t Le(const std::uint8_t* p, int width)
{
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

struct TListing {
    std::int64_t Answer = -1;
    TZipEnding Ending;
    std::vector<TZipEntry> Entries;
};

TListing List(const Bytes& zip)
{
    TListing l;
    const TReadAt read = MemoryZipReader(zip.data(), zip.size());
    l.Answer = FindZipEnding(read, std::int64_t(zip.size()), l.Ending);
    WalkCentralDirectory(read, std::int64_t(zip.size()), l.Ending, [&](const TZipEntry& e) {
        l.Entries.push_back(e);
        return true;
    });
    return l;
}

// What zipinfo -v says about an archive: stored offsets, sizes, CRCs and the stub it corrected for.
struct TOracleEntry {
    std::string Name;
    std::uint64_t Offset = 0, Packed = 0, Unpacked = 0;
    std::uint32_t Crc = 0;
};
struct TOracle {
    std::vector<TOracleEntry> Entries;
    std::int64_t Prefix = 0;
};

std::uint64_t NumberAfter(const std::string& line, const std::string& key)
{
    return std::strtoull(line.c_str() + line.find(key) + key.size(), nullptr, 10);
}

TOracle ZipInfo(const fs::path& zip)
{
    TOracle o;
    std::istringstream in(CaptureCommand("zipinfo -v '" + zip.string() + "' 2>/dev/null"));
    std::string line;
    std::int64_t actual = 0, expected = 0;
    bool wantName = false;
    while (std::getline(in, line)) {
        const auto has = [&](const char* key) { return line.find(key) != std::string::npos; };
        if (line.rfind("Central directory entry #", 0) == 0) {
            o.Entries.emplace_back();
            wantName = true;
        } else if (wantName && line.rfind("  ", 0) == 0 && line.find("There are an extra") == std::string::npos) {
            o.Entries.back().Name = line.substr(2);
            wantName = false;
        } else if (has("Actual end-cent-dir record offset:")) {
            actual = std::int64_t(NumberAfter(line, "offset:"));
        } else if (has("Expected end-cent-dir record offset:")) {
            expected = std::int64_t(NumberAfter(line, "offset:"));
        } else if (o.Entries.empty()) {
            continue;
        } else if (has("offset of local header from start of archive:")) {
            o.Entries.back().Offset = NumberAfter(line, "archive:");
        } else if (has("  compressed size:")) {
            o.Entries.back().Packed = NumberAfter(line, "size:");
        } else if (has("uncompressed size:")) {
            o.Entries.back().Unpacked = NumberAfter(line, "size:");
        } else if (has("32-bit CRC value (hex):")) {
            o.Entries.back().Crc = std::uint32_t(std::strtoul(line.c_str() + line.find(':') + 1, nullptr, 16));
        }
    }
    o.Prefix = actual - expected;
    return o;
}

void ExpectSameAsOracle(const fs::path& zip, const std::string& what)
{
    SCOPED_TRACE(what);
    const Bytes bytes = ReadWholeFile(zip);
    const TListing ours = List(bytes);
    const TOracle theirs = ZipInfo(zip);
    ASSERT_FALSE(theirs.Entries.empty());
    ASSERT_GE(ours.Answer, 0);
    EXPECT_EQ(ours.Answer, ours.Ending.CentralPos);
    EXPECT_EQ(ours.Ending.PrefixOffset, theirs.Prefix);
    EXPECT_EQ(ours.Ending.Headers & (HeaderBit(htCentral) | HeaderBit(htLocal) | HeaderBit(htEnding)),
              HeaderBit(htCentral) | HeaderBit(htLocal) | HeaderBit(htEnding));
    ASSERT_EQ(ours.Entries.size(), theirs.Entries.size());
    ASSERT_EQ(ours.Ending.TotalEntries, theirs.Entries.size());
    for (std::size_t i = 0; i < ours.Entries.size(); ++i) {
        const TZipEntry& e = ours.Entries[i];
        std::string name = e.Name;
        std::replace(name.begin(), name.end(), '\\', '/');
        EXPECT_EQ(name, theirs.Entries[i].Name);
        EXPECT_EQ(e.Sizes.LocalOffset, theirs.Entries[i].Offset) << name;
        EXPECT_EQ(e.Sizes.PackedSize, theirs.Entries[i].Packed) << name;
        EXPECT_EQ(e.Sizes.UnpackedSize, theirs.Entries[i].Unpacked) << name;
        EXPECT_EQ(e.Header.Crc, theirs.Entries[i].Crc) << name;
        // Every local header the directory names is there, and agrees on the name.
        TZipCipher cipher(kHeaderKeySet);
        TZipLocalEntry local;
        const TReadAt read = MemoryZipReader(bytes.data(), bytes.size());
        ASSERT_TRUE(ReadLocalEntry(read, std::int64_t(bytes.size()),
                                   ours.Ending.PrefixOffset + std::int64_t(e.Sizes.LocalOffset), cipher, local,
                                   e.Header.VersionMadeBy))
            << name;
        EXPECT_EQ(local.Name, e.Name);
    }
}

class ZipToolArchives : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveTool("zip") || !HaveTool("zipinfo"))
            GTEST_SKIP() << "Info-ZIP not installed";
        fs::create_directories(dir_ / "in" / "sub");
        std::ofstream(dir_ / "in" / "a.txt") << "hello\n";
        std::string noise;
        for (int i = 0; i < 20000; ++i)
            noise += char('a' + (i * 7919 % 26));
        std::ofstream(dir_ / "in" / "sub" / "b.txt") << noise;
        std::ofstream(dir_ / "in" / "žluťoučký kůň.txt") << "kůň";
    }
    // Runs Cmd inside the input folder.
    void Sh(const std::string& cmd)
    {
        ASSERT_EQ(std::system(("cd '" + (dir_ / "in").string() + "' && " + cmd).c_str()), 0) << cmd;
    }
    fs::path Path(const std::string& name) const { return dir_ / name; }
    TScratchDir scratch;
    const fs::path dir_ = scratch.Path();
};

}  // namespace

TEST(ZipRecordLayout, FieldsStandAtTheirOffsetsAndRoundTrip)
{
    TCentralHeader c;
    c.VersionMadeBy = 0x0B14, c.Flags = 0x0809, c.Method = 8, c.DosTime = 0x1234, c.DosDate = 0x5678;
    c.Crc = 0xDEADBEEF, c.PackedSize = 0x11223344, c.UnpackedSize = 0x55667788, c.NameLength = 7;
    c.ExtraLength = 12, c.CommentLength = 3, c.DiskStart = 2, c.InternalAttributes = 1;
    c.ExternalAttributes = 0x20, c.LocalOffset = 0xCAFEBABE;
    std::uint8_t cb[TCentralHeader::Size];
    EncodeRecord(c, cb);
    EXPECT_EQ(Le(cb, 4), kSigCentral);
    EXPECT_EQ(cb[0], 'P');
    EXPECT_EQ(cb[1], 'K');
    EXPECT_EQ(Le(cb + 4, 2), 0x0B14u);
    EXPECT_EQ(Le(cb + 16, 4), 0xDEADBEEFu);
    EXPECT_EQ(Le(cb + 28, 2), 7u);
    EXPECT_EQ(Le(cb + 34, 2), 2u);
    EXPECT_EQ(Le(cb + 38, 4), 0x20u);
    EXPECT_EQ(Le(cb + 42, 4), 0xCAFEBABEu);
    const auto c2 = DecodeRecord<TCentralHeader>(cb);
    EXPECT_EQ(c2.LocalOffset, c.LocalOffset);
    EXPECT_EQ(c2.ExternalAttributes, c.ExternalAttributes);
    EXPECT_EQ(c2.Flags, c.Flags);

    TLocalHeader l;
    l.Crc = 0x01020304, l.PackedSize = 0xA0B0C0D0, l.UnpackedSize = 0x0A0B0C0D, l.NameLength = 0x3344;
    l.ExtraLength = 0x5566;
    std::uint8_t lb[TLocalHeader::Size];
    EncodeRecord(l, lb);
    EXPECT_EQ(Le(lb + 14, 4), 0x01020304u);
    EXPECT_EQ(Le(lb + 18, 4), 0xA0B0C0D0u);
    EXPECT_EQ(Le(lb + 26, 2), 0x3344u);
    EXPECT_EQ(Le(lb + 28, 2), 0x5566u);
    EXPECT_EQ(DecodeRecord<TLocalHeader>(lb).UnpackedSize, 0x0A0B0C0Du);

    TLargeEndRecord big;
    big.DiskNumber = 3, big.CentralDisk = 2, big.EntriesOnDisk = 70000, big.TotalEntries = 0x1'0000'0001;
    big.CentralSize = 0x2'0000'0000, big.CentralOffset = 0x1234'5678'9ABC, big.CommentLength = 9;
    std::uint8_t bb[TLargeEndRecord::Size];
    EncodeRecord(big, bb);
    EXPECT_EQ(Le(bb, 4), 0x06055B50u);
    EXPECT_EQ(Le(bb + 4, 4), 3u);
    EXPECT_EQ(Le(bb + 12, 8), 70000u);
    EXPECT_EQ(Le(bb + 28, 8), 0x2'0000'0000u);
    EXPECT_EQ(Le(bb + 36, 8), 0x1234'5678'9ABCu);
    EXPECT_EQ(Le(bb + 44, 2), 9u);
    EXPECT_EQ(DecodeRecord<TLargeEndRecord>(bb).TotalEntries, big.TotalEntries);

    TEndRecord end;
    end.TotalEntries = 65534, end.CentralSize = 0x10203040, end.CentralOffset = 0x50607080, end.CommentLength = 65535;
    std::uint8_t eb[TEndRecord::Size];
    EncodeRecord(end, eb);
    EXPECT_EQ(Le(eb + 10, 2), 65534u);
    EXPECT_EQ(Le(eb + 16, 4), 0x50607080u);
    EXPECT_EQ(Le(eb + 20, 2), 65535u);

    TZip64EndRecord z;
    z.EntriesOnDisk = 5, z.TotalEntries = 6, z.CentralSize = 0x1'0000'0007, z.CentralOffset = 0xFF'0000'0008;
    std::uint8_t zb[TZip64EndRecord::Size];
    EncodeRecord(z, zb);
    EXPECT_EQ(Le(zb + 4, 8), 44u);
    EXPECT_EQ(Le(zb + 24, 8), 5u);
    EXPECT_EQ(Le(zb + 32, 8), 6u);
    EXPECT_EQ(Le(zb + 40, 8), 0x1'0000'0007u);
    EXPECT_EQ(DecodeRecord<TZip64EndRecord>(zb).CentralOffset, z.CentralOffset);

    TZip64Locator loc;
    loc.Zip64EndOffset = 0x0123'4567'89AB'CDEF, loc.TotalDisks = 4;
    std::uint8_t locb[TZip64Locator::Size];
    EncodeRecord(loc, locb);
    EXPECT_EQ(Le(locb + 8, 8), 0x0123'4567'89AB'CDEFu);
    EXPECT_EQ(Le(locb + 16, 4), 4u);

    // Data descriptors: with and without their signature, 32- and 64-bit sizes.
    TDataDescriptor d;
    d.Crc = 7, d.PackedSize = 8, d.UnpackedSize = 9;
    std::uint8_t db[TDataDescriptor::Size];
    EncodeRecord(d, db);
    TDataDescriptor64 read;
    EXPECT_EQ(DecodeDataDescriptor(db, sizeof db, false, read), 16u);
    EXPECT_EQ(read.Crc, 7u);
    EXPECT_EQ(read.UnpackedSize, 9u);
    EXPECT_EQ(DecodeDataDescriptor(db + 4, 12, false, read), 12u);
    EXPECT_EQ(read.PackedSize, 8u);
    EXPECT_EQ(DecodeDataDescriptor(db, 15, false, read), 0u);
    TDataDescriptor64 d64;
    d64.Crc = 1, d64.PackedSize = 0x5'0000'0000, d64.UnpackedSize = 0x6'0000'0000;
    std::uint8_t d64b[TDataDescriptor64::Size];
    EncodeRecord(d64, d64b);
    EXPECT_EQ(DecodeDataDescriptor(d64b, sizeof d64b, true, read), 24u);
    EXPECT_EQ(read.UnpackedSize, 0x6'0000'0000u);

    // The large-size block: only when something needs more than 32 bits.
    EXPECT_FALSE(LargeSizeExtraFor(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF));
    const auto block = LargeSizeExtraFor(0x1'0000'0000, 0x2'0000'0005, 0x3'0000'0000);
    ASSERT_TRUE(block);
    std::uint8_t xb[TLargeSizeExtra::Size];
    EncodeRecord(*block, xb);
    EXPECT_EQ(Le(xb, 2), 0x0064u);
    EXPECT_EQ(Le(xb + 2, 2), 8u);
    EXPECT_EQ(Le(xb + 4, 2), 1u);
    EXPECT_EQ(Le(xb + 6, 2), 2u);
    EXPECT_EQ(Le(xb + 8, 2), 3u);
    EXPECT_EQ(Le(xb + 10, 2), 0u);
}

TEST(ZipHeaderCipher, SignaturesKindsAndBodies)
{
    bool enc = true;
    EXPECT_EQ(ClassifyHeaderSig(0x04034D50, hkLocal, enc), hkLocal);
    EXPECT_FALSE(enc);
    EXPECT_EQ(ClassifyHeaderSig(0x04034E50, hkLocal, enc), hkLocal);
    EXPECT_TRUE(enc);
    EXPECT_EQ(ClassifyHeaderSig(kSigCentral, hkLocal, enc), kNotThisHeader);
    EXPECT_FALSE(enc);
    EXPECT_EQ(ClassifyHeaderSig(kSigLargeEndEnc, hkEnd, enc), hkEnd);
    EXPECT_TRUE(enc);
    EXPECT_EQ(ClassifyHeaderSig(kSigLocal, 5, enc), kNotThisHeader);
    EXPECT_EQ(HeaderSignature(hkLocal, true), 0x04034C50u);
    EXPECT_EQ(HeaderSignature(hkCentral, false), 0x02014B50u);
    EXPECT_EQ(HeaderSignature(hkEnd, true), 0x06054B50u);
    EXPECT_EQ(HeaderSignature(9, false), 0x08074B50u);
    EXPECT_TRUE(IsLocalOrCentralSig(kSigCentralEnc));
    EXPECT_FALSE(IsLocalOrCentralSig(kSigLocalAlt));
    EXPECT_FALSE(IsEncryptedHeaderSig(kSigLocalAlt));

    // End records: 18 body bytes for the 22-byte record, 42 for the 46-byte one; the rest stays.
    for (const bool large : {false, true}) {
        std::uint8_t rec[48];
        std::memset(rec, 0x5A, sizeof rec);
        const std::uint32_t sig = large ? kSigLargeEndEnc : kSigEndEnc;
        for (int i = 0; i < 4; ++i)
            rec[i] = std::uint8_t(sig >> (8 * i));
        const std::size_t body = HeaderBodySize(rec, hkEnd);
        EXPECT_EQ(body, large ? 42u : 18u);
        TZipCipher cipher(kHeaderKeySet);
        std::uint8_t copy[48];
        std::memcpy(copy, rec, sizeof rec);
        EncryptHeader(cipher, copy, hkEnd);
        EXPECT_EQ(std::memcmp(copy, rec, 4), 0);
        EXPECT_NE(std::memcmp(copy + 4, rec + 4, body), 0);
        EXPECT_EQ(std::memcmp(copy + 4 + body, rec + 4 + body, sizeof rec - 4 - body), 0);
        DecryptHeader(cipher, copy, hkEnd);
        EXPECT_EQ(std::memcmp(copy, rec, sizeof rec), 0);
    }

    // Keys restart per header, and the name continues the header's key stream.
    TCentralHeader h;
    h.Signature = kSigCentralEnc;
    h.NameLength = 5;
    Bytes one, two;
    for (Bytes* out : {&one, &two}) {
        TZipCipher cipher(kHeaderKeySet);
        std::uint8_t raw[TCentralHeader::Size];
        EncodeRecord(h, raw);
        EncryptHeader(cipher, raw, hkCentral);
        std::string name = "a.txt";
        EncryptHeaderBuffer(cipher, name.data(), name.size());
        out->assign(raw, raw + sizeof raw);
        Append(*out, name);
    }
    EXPECT_EQ(one, two);
    TZipCipher cipher(kHeaderKeySet);
    TZipEntry entry;
    ASSERT_TRUE(ReadCentralEntry(MemoryZipReader(one.data(), one.size()), std::int64_t(one.size()), 0, cipher, entry));
    EXPECT_TRUE(entry.HeaderEncrypted);
    EXPECT_EQ(entry.RawName, "a.txt");
    EXPECT_EQ(entry.Header.Signature, kSigCentralEnc);
    EXPECT_EQ(entry.Header.NameLength, 5);
}

TEST(ZipExtraField, BlocksAreBoundedAndWidenOnlyWhatIsSaturated)
{
    const auto block = [](std::uint16_t id, const Bytes& data) {
        Bytes b = {std::uint8_t(id), std::uint8_t(id >> 8), std::uint8_t(data.size()), std::uint8_t(data.size() >> 8)};
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    const auto le64 = [](std::uint64_t v) {
        Bytes b;
        for (int i = 0; i < 8; ++i)
            b.push_back(std::uint8_t(v >> (8 * i)));
        return b;
    };
    const auto parse = [](const Bytes& extra, bool central, TZipSizes sizes) {
        TZipExtraInfo info;
        ParseExtraField(extra.data(), extra.size(), central, sizes, info);
        return std::make_pair(sizes, info);
    };

    // Central Zip64: only the saturated offset is present; values past 48 bits stay whole.
    {
        auto [s, info] = parse(block(kExtraZip64, le64(0x1234'0000'0000'0001)), true, {10, 20, 0xFFFFFFFF, 0});
        EXPECT_TRUE(info.HasZip64);
        EXPECT_EQ(s.PackedSize, 10u);
        EXPECT_EQ(s.UnpackedSize, 20u);
        EXPECT_EQ(s.LocalOffset, 0x1234'0000'0000'0001u);
    }
    // Unpacked then packed, each 8 bytes; bit 32 set and the low part all ones.
    {
        Bytes data = le64(0x1'FFFF'FFFF);
        const Bytes second = le64(0x2'0000'0000);
        data.insert(data.end(), second.begin(), second.end());
        auto [s, info] = parse(block(kExtraZip64, data), false, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0});
        EXPECT_EQ(s.UnpackedSize, 0x1'FFFF'FFFFu);
        EXPECT_EQ(s.UnpackedSize & 0xFFFFFFFF, 0xFFFFFFFFu);
        EXPECT_EQ(s.PackedSize, 0x2'0000'0000u);
    }
    // A saturated size without a block stays saturated; a short block supplies nothing.
    {
        auto [s, info] = parse(block(0x7777, {1, 2, 3}), false, {0xFFFFFFFF, 5, 0, 0});
        EXPECT_EQ(s.PackedSize, 0xFFFFFFFFu);
        auto [t, info2] = parse(block(kExtraZip64, {1, 2, 3, 4}), false, {0xFFFFFFFF, 0xFFFFFFFF, 0, 0});
        EXPECT_EQ(t.UnpackedSize, 0xFFFFFFFFu);
        EXPECT_EQ(t.PackedSize, 0xFFFFFFFFu);
    }
    // Our large-size block supplies bits 32 to 47 of sizes and offset.
    {
        auto [s, info] = parse(block(kExtraLargeSizes, {1, 0, 2, 0, 3, 0, 9, 9}), true, {100, 200, 300, 0});
        EXPECT_TRUE(info.HasLargeSizes);
        EXPECT_EQ(s.PackedSize, 0x1'0000'0064u);
        EXPECT_EQ(s.UnpackedSize, 0x2'0000'00C8u);
        EXPECT_EQ(s.LocalOffset, 0x3'0000'012Cu);
    }
    // A block whose size runs past the end is not read; blocks before it are.
    {
        Bytes extra = block(kExtraAes, {1, 2});
        Bytes bad = block(kExtraLargeSizes, {1, 0, 2, 0, 3, 0, 0, 0});
        bad[2] = 40;
        extra.insert(extra.end(), bad.begin(), bad.end());
        auto [s, info] = parse(extra, true, {1, 2, 3, 0});
        EXPECT_EQ(info.EncryptionBlock, kExtraAes);
        EXPECT_FALSE(info.HasLargeSizes);
        EXPECT_EQ(s.PackedSize, 1u);
    }
    // At the edge: a block that ends exactly at the field's end is read; one that claims a single
    // byte more is not, although the byte after the field is there to be read.
    {
        Bytes field = block(kExtraAes, {1, 2});
        const Bytes large = block(kExtraLargeSizes, {1, 0, 2, 0, 3, 0});
        field.insert(field.end(), large.begin(), large.end());
        auto [s, info] = parse(field, true, {1, 2, 3, 0});
        EXPECT_TRUE(info.HasLargeSizes);
        EXPECT_EQ(s.LocalOffset, 0x3'0000'0003u);

        Bytes buffer = field;
        buffer[buffer.size() - 8] = 7;  // the size: one byte past the field
        buffer.push_back(0);
        TZipSizes sizes{1, 2, 3, 0};
        TZipExtraInfo past;
        ParseExtraField(buffer.data(), field.size(), true, sizes, past);
        EXPECT_EQ(past.EncryptionBlock, kExtraAes);
        EXPECT_FALSE(past.HasLargeSizes);
        EXPECT_EQ(sizes.LocalOffset, 3u);
    }
    // Unicode path (version and CRC skipped, at most 511 bytes, never a split character), times.
    {
        Bytes data = {1, 0, 0, 0, 0};
        std::string longName(509, 'x');
        longName += "čř";  // 2 + 2 bytes: the cut falls inside "ř"
        Append(data, longName);
        Bytes extra = block(kExtraUnicodePath, data);
        const Bytes unixTime = block(kExtraUnixTime, {3, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x00});
        extra.insert(extra.end(), unixTime.begin(), unixTime.end());
        Bytes ntfs = {0, 0, 0, 0, 1, 0, 24, 0};
        for (std::uint64_t t : {0x01D0'0000'0000'0001ull, 2ull, 3ull}) {
            const Bytes v = le64(t);
            ntfs.insert(ntfs.end(), v.begin(), v.end());
        }
        const Bytes ntfsBlock = block(kExtraNtfs, ntfs);
        extra.insert(extra.end(), ntfsBlock.begin(), ntfsBlock.end());
        auto [s, info] = parse(extra, false, {});
        ASSERT_TRUE(info.UnicodeName);
        EXPECT_EQ(*info.UnicodeName, std::string(509, 'x') + "č");
        ASSERT_TRUE(info.UnixModTime);
        EXPECT_EQ(*info.UnixModTime, 0x40302010);
        ASSERT_TRUE(info.NtfsModTime);
        EXPECT_EQ(*info.NtfsModTime, 0x01D0'0000'0000'0001u);
        EXPECT_EQ(*info.NtfsCreateTime, 3u);
    }
}

TEST(ZipEntryName, CodePagesFlagBit11AndUnicodePath)
{
    const std::string cp852 = "\xA6lu\x9Cou\x9Fk\xEC k\x85\xE5/a.txt";   // "Žluťoučký kůň" in CP852
    const std::string cp1250 = "\x8Elu\x9Dou\xE8k\xFD k\xF9\xF2/a.txt";  // the same in CP1250
    EXPECT_EQ(DecodeZipEntryName(cp852, 0, 20, std::nullopt), "Žluťoučký kůň\\a.txt");
    EXPECT_EQ(DecodeZipEntryName(cp1250, 0, 0x0B14, std::nullopt), "Žluťoučký kůň\\a.txt");
    EXPECT_EQ(DecodeZipEntryName("Žluť/x", kFlagUtf8, 20, std::nullopt), "Žluť\\x");
    EXPECT_EQ(DecodeZipEntryName(cp852, 0, 20, std::string("kůň/b")), "kůň\\b");
    // Plain ASCII, controls and a NUL too, is itself from every host; a Unicode path still wins.
    const std::string ascii("a\x01/b\x7F\0c/d.txt", 13);
    const std::string shown("a\x01\\b\x7F\0c\\d.txt", 13);
    for (const int madeBy : {0x0014, 0x0314, 0x0B14, 0x1314})  // DOS, Unix, other, OS X
        for (const std::uint16_t flags : {std::uint16_t(0), kFlagUtf8}) {
            EXPECT_EQ(DecodeZipEntryName(ascii, flags, std::uint16_t(madeBy), std::nullopt), shown)
                << madeBy << ' ' << flags;
            EXPECT_EQ(DecodeZipEntryName(ascii, flags, std::uint16_t(madeBy), std::string("x/y")), "x\\y");
        }
}

TEST_F(ZipToolArchives, DirectoryMatchesZipinfo)
{
    const std::string files = "a.txt sub/b.txt 'žluťoučký kůň.txt'";
    Sh("zip -q " + Path("plain.zip").string() + " " + files);
    Sh("echo 'a short comment' | zip -q -z " + Path("comment.zip").string() + " a.txt");
    Sh("zip -q -fz " + Path("zip64.zip").string() + " " + files);
    Sh("zip -q - " + files + " | cat > " + Path("streamed.zip").string());
    const Bytes plain = ReadWholeFile(Path("plain.zip"));
    // The longest comment: the end record lies beyond any shorter backward scan.
    Bytes bigComment = plain;
    bigComment[bigComment.size() - 2] = 0xFF;
    bigComment[bigComment.size() - 1] = 0xFF;
    bigComment.insert(bigComment.end(), 65535, 'c');
    WriteWholeFile(Path("bigcomment.zip"), bigComment);
    Bytes stubbed(70000, 'S');
    stubbed.insert(stubbed.end(), plain.begin(), plain.end());
    WriteWholeFile(Path("prefixed.zip"), stubbed);  // offsets still count from the archive start
    WriteWholeFile(Path("sfx.zip"), stubbed);
    Sh("zip -q -A " + Path("sfx.zip").string());  // offsets now count from the file start
    for (const char* name : {"plain", "comment", "zip64", "streamed", "bigcomment", "prefixed", "sfx"})
        ExpectSameAsOracle(Path(std::string(name) + ".zip"), name);

    const TListing big = List(ReadWholeFile(Path("bigcomment.zip")));
    EXPECT_EQ(big.Ending.CommentLength, 65535);
    EXPECT_EQ(big.Ending.CommentPos + 65535, std::int64_t(fs::file_size(Path("bigcomment.zip"))));
    const TListing z64 = List(ReadWholeFile(Path("zip64.zip")));
    EXPECT_TRUE(z64.Ending.HasLocator);
    EXPECT_GE(z64.Ending.Zip64EndPos, 0);
    EXPECT_EQ(z64.Ending.Headers & HeaderBit(htEnding64), HeaderBit(htEnding64));
    EXPECT_EQ(z64.Ending.End.CentralOffset, 0xFFFFFFFFu);
    EXPECT_EQ(List(ReadWholeFile(Path("prefixed.zip"))).Ending.PrefixOffset, 70000);
    EXPECT_EQ(List(ReadWholeFile(Path("sfx.zip"))).Ending.PrefixOffset, 0);
    {  // the same ending through a file stream
        TFileStream32 file(Path("prefixed.zip").string(), fmOpenRead);
        TZipEnding viaStream;
        FindZipEnding(StreamZipReader(file), file.Size(), viaStream);
        EXPECT_EQ(viaStream.PrefixOffset, 70000);
        EXPECT_EQ(viaStream.CentralPos, List(ReadWholeFile(Path("prefixed.zip"))).Ending.CentralPos);
    }
    const TListing streamed = List(ReadWholeFile(Path("streamed.zip")));
    ASSERT_FALSE(streamed.Entries.empty());
    EXPECT_TRUE(streamed.Entries[0].Header.Flags & kFlagDataDescriptor);

    // Info-ZIP here stores its UTF-8 names with a Unix host byte and no flag; 7-Zip sets bit 11.
    const TListing l = List(plain);
    ASSERT_EQ(l.Entries.size(), 3u);
    EXPECT_EQ(l.Entries[1].Name, "sub\\b.txt");
    EXPECT_EQ(l.Entries[2].Name, "žluťoučký kůň.txt");
    if (HaveTool("7zz")) {
        Sh("7zz a -tzip -bso0 -bsp0 " + Path("7z.zip").string() + " " + files);
        ExpectSameAsOracle(Path("7z.zip"), "7zz");
        const TListing seven = List(ReadWholeFile(Path("7z.zip")));
        ASSERT_EQ(seven.Entries.size(), 3u);
        EXPECT_TRUE(seven.Entries[2].Header.Flags & kFlagUtf8);
        EXPECT_EQ(seven.Entries[2].Name, "žluťoučký kůň.txt");
    }
}

TEST_F(ZipToolArchives, EndSignatureInsideTheCommentIsPassedOver)
{
    Sh("zip -q " + Path("base.zip").string() + " a.txt sub/b.txt");
    const Bytes base = ReadWholeFile(Path("base.zip"));
    const TListing plain = List(base);
    ASSERT_EQ(plain.Entries.size(), 2u);

    // A comment that carries a copy of the real end record, itself ending the file, and a loose
    // signature before it. Both the copy and the real record find a directory by its stored
    // offset, so only their nesting tells them apart.
    Bytes endCopy(base.end() - 22, base.end());
    Bytes comment = {'P', 'K', 5, 6, 'x', 'y'};
    comment.insert(comment.end(), endCopy.begin(), endCopy.end());
    Bytes zip = base;
    zip[zip.size() - 2] = std::uint8_t(comment.size());
    zip[zip.size() - 1] = 0;
    zip.insert(zip.end(), comment.begin(), comment.end());
    const TListing l = List(zip);
    EXPECT_EQ(l.Ending.EndPos, plain.Ending.EndPos);
    EXPECT_EQ(l.Ending.CommentLength, comment.size());
    EXPECT_EQ(l.Entries.size(), 2u);
    EXPECT_EQ(l.Ending.PrefixOffset, 0);

    // Trailing bytes behind an archive: the record whose directory checks out still wins.
    Bytes trailing = base;
    Bytes junk(300, 0);
    junk[10] = 'P', junk[11] = 'K', junk[12] = 5, junk[13] = 6;
    trailing.insert(trailing.end(), junk.begin(), junk.end());
    EXPECT_EQ(List(trailing).Ending.EndPos, plain.Ending.EndPos);
    EXPECT_EQ(List(trailing).Entries.size(), 2u);
}

TEST_F(ZipToolArchives, LocalHeadersAloneWhenTheDirectoryIsGone)
{
    Sh("zip -q " + Path("base.zip").string() + " a.txt sub/b.txt");
    const Bytes base = ReadWholeFile(Path("base.zip"));
    const TListing plain = List(base);
    ASSERT_GE(plain.Ending.CentralPos, 0);

    Bytes cut(base.begin(), base.begin() + plain.Ending.CentralPos);
    TZipEnding ending;
    EXPECT_EQ(FindZipEnding(MemoryZipReader(cut.data(), cut.size()), std::int64_t(cut.size()), ending), 0);
    EXPECT_EQ(ending.Headers, HeaderBit(htLocal));

    Bytes stubbed(1000, 'M');
    stubbed.insert(stubbed.end(), cut.begin(), cut.end());
    EXPECT_EQ(FindZipEnding(MemoryZipReader(stubbed.data(), stubbed.size()), std::int64_t(stubbed.size()), ending),
              1000);
    EXPECT_EQ(ending.FirstLocalPos, 1000);

    // The scan looks no further than four blocks of 32768 bytes.
    Bytes far(4 * 32768, 'M');
    far.insert(far.end(), cut.begin(), cut.end());
    EXPECT_EQ(FindZipEnding(MemoryZipReader(far.data(), far.size()), std::int64_t(far.size()), ending), -1);

    // A directory naming a first local header outside the file answers -1: the file lost its
    // first bytes, or the offset points past the end.
    Bytes truncated(base.begin() + 40, base.end());
    EXPECT_EQ(
        FindZipEnding(MemoryZipReader(truncated.data(), truncated.size()), std::int64_t(truncated.size()), ending), -1);
    EXPECT_EQ(ending.PrefixOffset, -40);
    Bytes pastEnd = base;
    pastEnd[std::size_t(plain.Ending.CentralPos) + 45] = 0x7F;
    EXPECT_EQ(FindZipEnding(MemoryZipReader(pastEnd.data(), pastEnd.size()), std::int64_t(pastEnd.size()), ending), -1);
}

TEST_F(ZipToolArchives, EncipheredHeadersReadLikePlainOnes)
{
    Sh("zip -q " + Path("base.zip").string() + " a.txt sub/b.txt 'žluťoučký kůň.txt'");
    Bytes zip = ReadWholeFile(Path("base.zip"));
    const TListing plain = List(zip);
    ASSERT_EQ(plain.Entries.size(), 3u);

    // Encipher every local and central header and its name as a header-enciphering writer would.
    const auto encipher = [&zip](std::int64_t pos, std::uint8_t kind, std::size_t nameLength) {
        TZipCipher cipher(kHeaderKeySet);
        std::uint8_t* rec = zip.data() + pos;
        rec[1] = 'L';
        EncryptHeader(cipher, rec, kind);
        const std::size_t headerSize = kind == hkLocal ? TLocalHeader::Size : TCentralHeader::Size;
        EncryptHeaderBuffer(cipher, rec + headerSize, nameLength);
    };
    for (const TZipEntry& e : plain.Entries) {
        encipher(std::int64_t(e.Sizes.LocalOffset), hkLocal, e.RawName.size());
        encipher(e.HeaderPos, hkCentral, e.RawName.size());
    }
    WriteWholeFile(Path("enc.zip"), zip);

    const TListing enc = List(zip);
    ASSERT_EQ(enc.Entries.size(), 3u);
    EXPECT_EQ(enc.Ending.Headers & HeaderBit(htLocal), HeaderBit(htLocal));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(enc.Entries[i].HeaderEncrypted);
        EXPECT_EQ(enc.Entries[i].Name, plain.Entries[i].Name);
        EXPECT_EQ(enc.Entries[i].Sizes.PackedSize, plain.Entries[i].Sizes.PackedSize);
        EXPECT_EQ(enc.Entries[i].Header.Crc, plain.Entries[i].Header.Crc);
        TZipCipher cipher(kHeaderKeySet);
        TZipLocalEntry local;
        ASSERT_TRUE(ReadLocalEntry(MemoryZipReader(zip.data(), zip.size()), std::int64_t(zip.size()),
                                   std::int64_t(enc.Entries[i].Sizes.LocalOffset), cipher, local,
                                   enc.Entries[i].Header.VersionMadeBy));
        EXPECT_TRUE(local.HeaderEncrypted);
        EXPECT_EQ(local.Name, plain.Entries[i].Name);
        EXPECT_EQ(local.Header.Crc, plain.Entries[i].Header.Crc);
    }
}

// An archive as our writer makes it past 4 GiB: the 46-byte end record and the large-size block,
// here over a small member whose header fields claim the high parts.
TEST(ZipRecordsCrafted, LargeEndRecordAndLargeSizeBlock)
{
    Bytes zip;
    const std::string name = "big.bin";
    TLocalHeader local;
    local.NameLength = std::uint16_t(name.size());
    local.PackedSize = local.UnpackedSize = 4;
    AppendRecord(zip, local);
    Append(zip, name);
    Append(zip, "data");

    const auto block = LargeSizeExtraFor(0x1'0000'0004, 0x2'0000'0004, 0);
    ASSERT_TRUE(block);
    const std::int64_t cdPos = std::int64_t(zip.size());
    TCentralHeader central;
    central.PackedSize = central.UnpackedSize = 4;
    central.NameLength = std::uint16_t(name.size());
    central.ExtraLength = TLargeSizeExtra::Size;
    central.InternalAttributes = 1;
    AppendRecord(zip, central);
    Append(zip, name);
    AppendRecord(zip, *block);

    TLargeEndRecord end;
    end.EntriesOnDisk = end.TotalEntries = 1;
    end.CentralSize = zip.size() - std::uint64_t(cdPos);
    end.CentralOffset = std::uint64_t(cdPos);
    end.CommentLength = 3;
    AppendRecord(zip, end);
    Append(zip, "hey");

    const TListing l = List(zip);
    EXPECT_EQ(l.Answer, cdPos);
    EXPECT_TRUE(l.Ending.Large);
    EXPECT_EQ(l.Ending.CommentLength, 3);
    EXPECT_EQ(l.Ending.FirstLocalPos, 0);
    ASSERT_EQ(l.Entries.size(), 1u);
    EXPECT_EQ(l.Entries[0].Sizes.PackedSize, 0x1'0000'0004u);
    EXPECT_EQ(l.Entries[0].Sizes.UnpackedSize, 0x2'0000'0004u);
    EXPECT_EQ(l.Entries[0].Name, "big.bin");

    // The same ending enciphered (a form accepted on reading) gives the same answer.
    Bytes enc = zip;
    std::uint8_t* rec = enc.data() + l.Ending.EndPos;
    rec[1] = 0x5C;  // 0x06055C50
    TZipCipher cipher(kHeaderKeySet);
    EncryptHeader(cipher, rec, hkEnd);
    const TListing e = List(enc);
    EXPECT_TRUE(e.Ending.EndEncrypted);
    EXPECT_EQ(e.Answer, cdPos);
    EXPECT_EQ(e.Entries.size(), 1u);

    // An empty archive is a bare end record: found, with nothing to walk.
    Bytes empty;
    AppendRecord(empty, TEndRecord{});
    const TListing none = List(empty);
    EXPECT_EQ(none.Answer, 0);
    EXPECT_TRUE(none.Entries.empty());
}

TEST(ZipFixtures, LibarchiveArchivesWalkOrFailCleanly)
{
    const fs::path dir = FixtureRoot() / "zip" / "libarchive";
    TORVO_NEED_FIXTURES(fs::is_directory(dir), "no ZIP fixtures at " << dir);
    int compared = 0;
    for (const auto& item : fs::directory_iterator(dir)) {
        const Bytes bytes = ReadWholeFile(item.path());
        const TListing l = List(bytes);
        SCOPED_TRACE(item.path().filename().string());
        for (const TZipEntry& e : l.Entries) {
            EXPECT_GT(e.NextPos, e.HeaderPos);
            EXPECT_LE(e.NextPos, std::int64_t(bytes.size()));
        }
        if (!HaveTool("zipinfo") || l.Entries.empty())
            continue;
        const TOracle theirs = ZipInfo(item.path());
        if (theirs.Entries.size() != l.Entries.size())
            continue;  // damaged on purpose; the two readers may stop at different places
        ++compared;
        for (std::size_t i = 0; i < l.Entries.size(); ++i) {
            EXPECT_EQ(l.Entries[i].Sizes.LocalOffset, theirs.Entries[i].Offset);
            EXPECT_EQ(l.Entries[i].Sizes.UnpackedSize, theirs.Entries[i].Unpacked);
        }
    }
    EXPECT_GT(compared, 20);
}

// A local header is read with what follows it in one go where the file has the bytes: names and
// extra fields around that read's length, headers that end at the end of the file, headers cut
// short, and a reader that has fewer bytes than the size it was given.
TEST(ZipRecordsCrafted, LocalHeaderNamesAndExtrasAroundOneRead)
{
    // One entry for all of them, as a walk keeps it: its views follow each header's bytes.
    TZipLocalEntry reused;
    for (const std::size_t nameLength : {1u, 100u, 255u, 256u, 257u, 600u})
        for (const std::size_t extraLength : {0u, 4u, 300u}) {
            const std::string name(nameLength, 'n');
            Bytes extra(extraLength, 0);
            if (extraLength >= 4) {  // one block of an unknown kind
                extra[0] = 0x99;
                extra[2] = std::uint8_t(extraLength - 4);
                extra[3] = std::uint8_t((extraLength - 4) >> 8);
            }
            for (const std::size_t trailing : {0u, 1u, 5u, 400u}) {
                Bytes zip(7, 'x');  // the header does not start the file
                TLocalHeader h;
                h.NameLength = std::uint16_t(nameLength);
                h.ExtraLength = std::uint16_t(extraLength);
                h.PackedSize = h.UnpackedSize = std::uint32_t(trailing);
                AppendRecord(zip, h);
                Append(zip, name);
                zip.insert(zip.end(), extra.begin(), extra.end());
                const std::int64_t dataPos = std::int64_t(zip.size());
                zip.insert(zip.end(), trailing, 'd');
                TZipCipher cipher(kHeaderKeySet);
                TZipLocalEntry e;
                const auto size = std::int64_t(zip.size());
                ASSERT_TRUE(ReadLocalEntry(MemoryZipReader(zip.data(), zip.size()), size, 7, cipher, e))
                    << nameLength << ' ' << extraLength << ' ' << trailing;
                EXPECT_EQ(e.RawName, name);
                EXPECT_EQ(e.Name, name);
                EXPECT_EQ(Bytes(e.Extra.begin(), e.Extra.end()), extra);
                EXPECT_EQ(e.DataPos, dataPos);
                ASSERT_TRUE(ReadLocalEntry(MemoryZipReader(zip.data(), zip.size()), size, 7, cipher, reused));
                EXPECT_EQ(reused.RawName, name);
                EXPECT_EQ(Bytes(reused.Extra.begin(), reused.Extra.end()), extra);
                // Cut inside the name or extra field: no header, whether the size says so or only
                // the reader finds out.
                const std::size_t cut = std::size_t(dataPos) - 1;
                EXPECT_FALSE(ReadLocalEntry(MemoryZipReader(zip.data(), cut), std::int64_t(cut), 7, cipher, e));
                EXPECT_FALSE(ReadLocalEntry(MemoryZipReader(zip.data(), cut), size, 7, cipher, e));
                EXPECT_FALSE(ReadLocalEntry(MemoryZipReader(zip.data(), 7 + 29), size, 7, cipher, e));
            }
        }
}

// A walk that parses its entries inside blocks it reads finds what a walk reading each entry's
// parts finds: entries across the blocks' ends, larger than a block, enciphered, cut short.
TEST(ZipRecordsCrafted, DirectoryWalkInBlocksReadsWhatTheEntryWalkReads)
{
    Bytes dir;
    for (int i = 0; i < 40; ++i) {
        const std::size_t nameLength = std::size_t(1 + i * 7 % 60), extraLength = i % 3 == 0 ? 13 : 0;
        const std::size_t commentLength = i == 17 ? 300 : std::size_t(i % 4);
        TCentralHeader h;
        h.NameLength = std::uint16_t(nameLength);
        h.ExtraLength = std::uint16_t(extraLength);
        h.CommentLength = std::uint16_t(commentLength);
        h.Crc = std::uint32_t(i * 977);
        h.LocalOffset = std::uint32_t(i * 100);
        const std::size_t at = dir.size();
        AppendRecord(dir, h);
        std::string name(nameLength, char('a' + i % 26));
        name[0] = '/';
        Append(dir, name);
        Bytes extra(extraLength, 0);
        if (extraLength > 0) {  // a time block: flag, then the modification time
            extra = {0x55, 0x54, 9, 0, 1, std::uint8_t(i), 0, 0, 0, 0, 0, 0, 0};
        }
        dir.insert(dir.end(), extra.begin(), extra.end());
        Append(dir, std::string(commentLength, 'c'));
        if (i % 5 == 1) {  // enciphered as a header-enciphering writer does
            TZipCipher cipher(kHeaderKeySet);
            dir[at + 1] = 'L';
            EncryptHeader(cipher, dir.data() + at, hkCentral);
            EncryptHeaderBuffer(cipher, dir.data() + at + TCentralHeader::Size, nameLength);
        }
    }
    TZipEnding from;
    from.CentralPos = 0;
    from.Headers = HeaderBit(htCentral);
    const auto walk = [&](std::size_t size, std::size_t readable, std::size_t block) {
        std::vector<TZipEntry> entries;
        WalkCentralDirectory(
            MemoryZipReader(dir.data(), readable), std::int64_t(size), from,
            [&](const TZipEntry& e) {
                entries.push_back(e);
                return true;
            },
            block);
        return entries;
    };
    const std::vector<TZipEntry> byEntry = walk(dir.size(), dir.size(), 0);
    ASSERT_EQ(byEntry.size(), 40u);
    EXPECT_TRUE(byEntry[1].HeaderEncrypted);
    EXPECT_EQ(byEntry[1].Name, "\\" + std::string(7, 'b'));
    EXPECT_EQ(byEntry[3].ExtraInfo.UnixModTime, 3);
    EXPECT_EQ(byEntry[17].Comment, std::string(300, 'c'));
    // Cut inside the last entry: by its stated size, or only by what the reader answers.
    for (const std::size_t cut : {dir.size(), dir.size() - 1, dir.size() - 40})
        for (const bool stated : {true, false})
            for (const std::size_t block :
                 {std::size_t(46), std::size_t(64), std::size_t(100), std::size_t(301), std::size_t(65536)}) {
                SCOPED_TRACE(testing::Message() << cut << ' ' << stated << ' ' << block);
                const std::vector<TZipEntry> inBlocks = walk(stated ? cut : dir.size(), cut, block);
                ASSERT_EQ(inBlocks.size(), cut == dir.size() ? 40u : 39u);
                for (std::size_t i = 0; i < inBlocks.size(); ++i) {
                    const TZipEntry &a = inBlocks[i], &b = byEntry[i];
                    EXPECT_EQ(a.HeaderPos, b.HeaderPos);
                    EXPECT_EQ(a.NextPos, b.NextPos);
                    EXPECT_EQ(a.HeaderEncrypted, b.HeaderEncrypted);
                    EXPECT_EQ(a.Header.Crc, b.Header.Crc);
                    EXPECT_EQ(a.RawName, b.RawName);
                    EXPECT_EQ(a.Name, b.Name);
                    EXPECT_EQ(a.Extra, b.Extra);
                    EXPECT_EQ(a.Comment, b.Comment);
                    EXPECT_EQ(a.Sizes.LocalOffset, b.Sizes.LocalOffset);
                    EXPECT_EQ(a.ExtraInfo.UnixModTime, b.ExtraInfo.UnixModTime);
                }
            }
}
