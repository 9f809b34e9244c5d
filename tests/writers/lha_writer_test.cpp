// The LHA writer and the LZH encoder against the LHA tools: our archives pass lhasa, lha and 7zz
// and extract to the source; updates keep the entries of other tools byte for byte.
#include "core/Err_Msgs.h"
#include "platform/win/Utf8.h"
#include "readers/LhaFormat.h"
#include "readers/StaticHuffman.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnTar.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "tests/platform/win/FsTestSupport.h"
#include "writers/Lha.h"
#include "writers/LzhEncode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

bool ToolOk(const std::string& command, std::string* output = nullptr)
{
    int rc = -1;
    const std::string text = CaptureCommand(command + " 2>&1", &rc);
    if (output)
        *output = text;
    return rc == 0;
}

// Relative name (stored bytes read as the program reads them) -> contents, "/" for folders.
std::map<std::string, std::string> Tree(const fs::path& dir)
{
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string rel = StoredNameToUtf8(fs::relative(e.path(), dir).string());
        out[rel] = e.is_directory() ? "/" : ReadText(e.path());
    }
    return out;
}

// The archive's headers in order, and where its end marker starts.
std::vector<TLhaHeader> Headers(const std::string& bytes, std::int64_t& endAt)
{
    const TReadAt read = MemoryReadAt(bytes);
    std::vector<TLhaHeader> out;
    TLhaHeader h;
    std::int64_t pos = 0;
    while (ReadLhaHeader(read, pos, std::int64_t(bytes.size()), h) == THeaderStatus::Header) {
        out.push_back(h);
        pos = h.NextOffset;
    }
    endAt = pos;
    return out;
}

class LhaWriterTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        src = home + "/src";
        fs::create_directories(src);
        fs::create_directories(home + "/out");
    }
    void Put(const std::string& rel, const std::string& data) { WriteText(src + "/" + rel, data); }
    void Watch(TZipCommon& c) { c.OnError = CollectCodes(errors); }
    bool Has(int code) const { return std::find(errors.begin(), errors.end(), code) != errors.end(); }
    fs::path Fresh(const std::string& name)
    {
        const fs::path p = fs::path(root) / name;
        fs::remove_all(p);
        fs::create_directories(p);
        return p;
    }

    std::string src;
    std::vector<int> errors;
};

TEST_F(LhaWriterTest, OurArchivesPassTheLhaToolsAndExtractToTheSource)
{
    if (!HaveTool("lhasa") || !HaveTool("lha") || !HaveTool("7zz"))
        GTEST_SKIP() << "lhasa, lha or 7zz missing";
    Put("a.txt", "alpha\n");
    Put("empty.dat", "");
    Put("\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88.txt",
        "P\xC5\x99\xC3\xADli\xC5\xA1 \xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD k\xC5\xAF\xC5\x88\n");
    Put("sub/deeper/random.bin", RandomBytes(70000, 3));
    const auto mixed = MixedBytes(400000, 8);
    Put("sub/mixed.txt", std::string(mixed.begin(), mixed.end()));
    fs::create_directories(src + "/hollow");
    const auto expected = Tree(src);

    for (const TCompressMethod method : {cmFrozen5, cmFrozen6, cmStore}) {
        SCOPED_TRACE(int(method));
        errors.clear();
        const std::string name = "m" + std::to_string(int(method)) + ".lzh";
        TLha lha;
        Watch(lha);
        lha.CompressMethod = method;
        lha.StoreEmptySubDirs = true;
        lha.SetArchiveFile("C:\\out\\" + name);
        lha.SetFileSpec({"C:\\src\\*.*"});
        ASSERT_EQ(lha.Compress(), 6);
        EXPECT_TRUE(errors.empty());
        const std::string archive = home + "/out/" + name;
        std::string said;
        EXPECT_TRUE(ToolOk("lhasa t '" + archive + "'", &said)) << said;
        EXPECT_TRUE(ToolOk("cd '" + root + "' && lha t '" + archive + "'", &said)) << said;
        EXPECT_TRUE(ToolOk("7zz t '" + archive + "'", &said)) << said;
        EXPECT_EQ(said.find("WARNING"), std::string::npos) << said;
        const fs::path x = Fresh("x");
        ASSERT_TRUE(ToolOk("cd '" + x.string() + "' && lhasa xq '" + archive + "'"));
        EXPECT_EQ(Tree(x), expected);
        // 7-Zip reads the same contents (it has its own idea of OEM names).
        const fs::path z = Fresh("z");
        ASSERT_TRUE(ToolOk("7zz x -o'" + z.string() + "' '" + archive + "'"));
        std::multiset<std::string> want, got;
        for (const auto& [n, data] : expected)
            want.insert(data);
        for (const auto& [n, data] : Tree(z))
            got.insert(data);
        EXPECT_EQ(got, want);

        // Level-0 headers, the right methods, and exactly two zero bytes at the end.
        const std::string bytes = ReadText(archive);
        std::int64_t endAt = 0;
        const auto headers = Headers(bytes, endAt);
        ASSERT_EQ(headers.size(), 6u);
        EXPECT_EQ(endAt + 2, std::int64_t(bytes.size()));
        EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
        for (const TLhaHeader& h : headers) {
            EXPECT_EQ(h.Level, 0);
            EXPECT_EQ(h.Attributes & 0x80, 0);
            if (h.Name == "empty.dat") {
                EXPECT_TRUE(h.MethodChar() == '0' && h.PackedSize == 0 && h.Crc == 0);
            }
            if (h.Name == "sub\\deeper\\random.bin") {
                EXPECT_EQ(h.MethodChar(), '0');  // coding does not pay
                if (h.Name == "sub\\mixed.txt") {
                    EXPECT_EQ(h.MethodChar(), method == cmFrozen5 ? '5' : method == cmFrozen6 ? '6' : '0');
                }
            }
            if (h.Name == "hollow\\") {
                EXPECT_TRUE(h.IsDirectory() && (h.Attributes & 0x10));
            }
        }
    }
}

TEST_F(LhaWriterTest, UpdatesKeepOtherToolsEntriesByteForByte)
{
    if (!HaveTool("lhasa") || !HaveTool("lha"))
        GTEST_SKIP() << "lhasa or lha missing";
    const fs::path jsrc = fs::path(root) / "j";
    fs::create_directories(jsrc / "dir");
    std::ofstream(jsrc / "dir" / "one.txt") << std::string(30000, 'x') << "end";
    const auto bin = MixedBytes(90000, 4);
    std::ofstream(jsrc / "two.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(bin.data()), std::streamsize(bin.size()));
    const std::string archive = home + "/out/old.lzh";
    ASSERT_TRUE(ToolOk("cd '" + jsrc.string() + "' && lha aq2o7 '" + archive + "' dir two.bin"));
    const std::string before = ReadText(archive);
    std::int64_t oldEnd = 0;
    const auto oldHeaders = Headers(before, oldEnd);
    ASSERT_GE(oldHeaders.size(), 3u);

    Put("new.txt", "brand new\n");
    TLha lha;
    Watch(lha);
    lha.SetArchiveFile("C:\\out\\old.lzh");
    lha.SetFileSpec({"C:\\src\\new.txt"});
    ASSERT_EQ(lha.Compress(), 1);
    EXPECT_TRUE(errors.empty());
    const std::string after = ReadText(archive);
    // Every old entry, level-2 header and all, is in the new archive unchanged.
    for (const TLhaHeader& h : oldHeaders)
        EXPECT_NE(after.find(before.substr(std::size_t(h.Offset), std::size_t(h.NextOffset - h.Offset))),
                  std::string::npos)
            << h.Name;
    std::string said;
    EXPECT_TRUE(ToolOk("lhasa t '" + archive + "'", &said)) << said;
    EXPECT_TRUE(ToolOk("cd '" + root + "' && lha t '" + archive + "'", &said)) << said;
    const fs::path x = Fresh("x");
    ASSERT_TRUE(ToolOk("cd '" + x.string() + "' && lhasa xq '" + archive + "'"));
    EXPECT_EQ(ReadText(x / "dir" / "one.txt"), std::string(30000, 'x') + "end");
    EXPECT_EQ(ReadText(x / "two.bin"), std::string(bin.begin(), bin.end()));
    EXPECT_EQ(ReadText(x / "new.txt"), "brand new\n");

    // A kept entry under a new name: a new header before the same data.
    lha.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                           std::int64_t, int, int, bool& replace) { replace = false; };
    lha.OnRenameDupeFile = [](TObject*, const std::string&, std::string& name, bool&) { name = "renamed.txt"; };
    Put("new.txt", "second edition\n");
    ASSERT_EQ(lha.Compress(), 1);
    // Deleting by name.
    lha.Switch = swDelete;
    lha.SetFileSpec({"two.bin"});
    EXPECT_EQ(lha.Compress(), 1);
    EXPECT_TRUE(ToolOk("lhasa t '" + archive + "'", &said)) << said;
    const fs::path y = Fresh("y");
    ASSERT_TRUE(ToolOk("cd '" + y.string() + "' && lhasa xq '" + archive + "'"));
    EXPECT_EQ(ReadText(y / "renamed.txt"), "brand new\n");
    EXPECT_EQ(ReadText(y / "new.txt"), "second edition\n");
    EXPECT_FALSE(fs::exists(y / "two.bin"));
    EXPECT_TRUE(fs::exists(y / "dir" / "one.txt"));
}

TEST_F(LhaWriterTest, LongNamesGoToLevelOneAndPackedTypesAreStored)
{
    const std::string fits = std::string(233, 'm');
    const std::string longFile = std::string(234, 'n');
    const std::string deep = std::string(150, 'd') + "/" + std::string(150, 'f') + ".txt";
    Put(fits, "just fits");
    Put(longFile, "too long for a level-0 header");
    Put(deep, "deep and long");
    Put("packed.zip", std::string(20000, 'z'));
    TLha lha;
    Watch(lha);
    lha.CompressMethod = cmFrozen5;
    lha.StoreFilesOfType = {".zip"};
    lha.SetArchiveFile("C:\\out\\n.lzh");
    lha.SetFileSpec({"C:\\src\\*.*"});
    lha.RecurseDirs = true;
    EXPECT_EQ(lha.Compress(), 4);
    EXPECT_TRUE(errors.empty());
    // Kept byte for byte on the next update.
    Put("later.txt", "later");
    lha.SetFileSpec({"C:\\src\\later.txt"});
    EXPECT_EQ(lha.Compress(), 1);
    const std::string archive = home + "/out/n.lzh";
    std::int64_t endAt = 0;
    std::map<std::string, TLhaHeader> byName;
    for (const TLhaHeader& h : Headers(ReadText(archive), endAt))
        byName[h.Name] = h;
    ASSERT_EQ(byName.size(), 5u);
    EXPECT_EQ(byName[fits].Level, 0);
    EXPECT_EQ(byName[longFile].Level, 1);
    EXPECT_EQ(byName[std::string(150, 'd') + "\\" + std::string(150, 'f') + ".txt"].Level, 1);
    EXPECT_EQ(byName["packed.zip"].MethodChar(), '0');
    if (!HaveTool("lhasa"))
        GTEST_SKIP() << "lhasa missing";
    std::string said;
    EXPECT_TRUE(ToolOk("lhasa t '" + archive + "'", &said)) << said;
    const fs::path x = Fresh("x");
    ASSERT_TRUE(ToolOk("cd '" + x.string() + "' && lhasa xq '" + archive + "'"));
    EXPECT_EQ(ReadText(x / longFile), "too long for a level-0 header");
    EXPECT_EQ(ReadText(x / deep), "deep and long");
    EXPECT_EQ(ReadText(x / fits), "just fits");
}

// --- the encoder alone ---

std::string RoundTrip(const std::string& input, int dictBits, int positionBits, TLzhEncodeResult& result,
                      const TStaticHuffmanParams& readAs)
{
    TLzhEncoder encoder;
    EXPECT_TRUE(encoder.LzhInit(dictBits, positionBits));
    std::size_t at = 0;
    std::vector<std::uint8_t> packed;
    result = encoder.LzhEncode(
        [&](std::uint8_t* b, std::size_t n) {
            n = std::min(n, input.size() - at);
            std::memcpy(b, input.data() + at, n);
            at += n;
            return n;
        },
        [&](const std::uint8_t* d, std::size_t n) { packed.insert(packed.end(), d, d + n); });
    EXPECT_EQ(result.PackedSize, packed.size());
    std::size_t pos = 0;
    TStaticHuffmanBits bits([&](std::uint8_t* b, std::size_t n) {
        n = std::min(n, packed.size() - pos);
        if (n)
            std::memcpy(b, packed.data() + pos, n);
        pos += n;
        return n;
    });
    TStaticHuffmanDecoder decoder;
    decoder.StaticHuffmanInit(readAs);
    std::string out;
    const TCodecStatus r = decoder.StaticHuffmanDecode(
        bits, [&](const std::uint8_t* d, std::size_t n) { out.append(reinterpret_cast<const char*>(d), n); },
        input.size());
    if (!result.Unpackable) {
        EXPECT_EQ(r, TCodecStatus::Ok);
    }
    return out;
}

TEST(LzhEncoderTest, EncodedDataDecodeToTheInput)
{
    const auto mixed = MixedBytes(1500000, 11);
    std::string runs;
    for (int i = 0; i < 40; ++i)
        runs += std::string(std::size_t(1000 + i * 37), char('a' + i % 3));
    const std::vector<std::string> inputs = {
        std::string(100000, 'q'),                       // matches of the full 256 bytes
        runs, std::string(mixed.begin(), mixed.end()),  // several blocks and window slides
    };
    TStaticHuffmanParams lh5, lh6;
    LhaStaticParams('5', lh5);
    LhaStaticParams('6', lh6);
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.size());
        TLzhEncodeResult r;
        EXPECT_EQ(RoundTrip(input, 13, 4, r, lh5), input);
        EXPECT_FALSE(r.Unpackable);
        EXPECT_EQ(r.InputSize, input.size());
        // Our 16 KiB -lh6- output reads with the standard -lh6- parameters.
        EXPECT_EQ(RoundTrip(input, 14, 5, r, lh6), input);
        EXPECT_FALSE(r.Unpackable);
    }
    // Noise: given up as unpackable before the output outgrows the input.
    const std::string noise = RandomBytes(300000, 5);
    TLzhEncoder encoder;
    ASSERT_TRUE(encoder.LzhInit(13, 4));
    std::size_t at = 0, written = 0;
    const TLzhEncodeResult r = encoder.LzhEncode(
        [&](std::uint8_t* b, std::size_t n) {
            n = std::min(n, noise.size() - at);
            std::memcpy(b, noise.data() + at, n);
            at += n;
            return n;
        },
        [&](const std::uint8_t*, std::size_t n) { written += n; });
    EXPECT_TRUE(r.Unpackable);
    EXPECT_LT(written, noise.size());
    // One byte cannot pay for a block header.
    TLzhEncodeResult one;
    RoundTrip("x", 13, 4, one, lh5);
    EXPECT_TRUE(one.Unpackable);
    // Empty input: no bytes, nothing unpackable.
    TLzhEncodeResult e;
    EXPECT_EQ(RoundTrip("", 13, 4, e, lh5), "");
    EXPECT_EQ(e.PackedSize, 0u);
    EXPECT_FALSE(e.Unpackable);
    // The format's limit of this encoder.
    EXPECT_FALSE(encoder.LzhInit(15, 5));
}

}  // namespace
