// The LHA extractor and its decoders against the LHA tools: archives of `lha` (all methods and
// header levels) and of some thirty other programs (the shared fixtures) extract to what lhasa
// extracts; damaged and hostile input ends with a report and writes nothing outside the target.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "core/Crc.h"
#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/AdaptiveHuffman.h"
#include "readers/Pelix.h"
#include "readers/StaticHuffman.h"
#include "readers/plxUnLha.h"
#include "support/HostTree.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

// Relative name (lower case when asked, the program's decoding of stored bytes) -> bytes; folders
// map to "/".
using TTree = std::map<std::string, std::string>;

TTree ReadTree(const fs::path& folder, bool lowerCase)
{
    TTree tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (fs::is_symlink(e.symlink_status()))
            continue;
        std::string rel = LhaNameToUtf8(fs::relative(e.path(), folder).string());
        if (lowerCase)
            for (char& c : rel)
                c = char(std::tolower(static_cast<unsigned char>(c)));
        if (fs::is_directory(e.status())) {
            tree[rel] = "/";
        } else {
            const std::string bytes = ReadText(e.path());
            tree[rel] = std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
        }
    }
    return tree;
}

// One level-0 member: header, name, CRC-16, data.
std::string Level0Member(const std::string& method, const std::string& name, const std::string& data)
{
    std::string h(22, '\0');
    h[0] = char(22 + name.size());
    h.replace(2, 5, method);
    for (int i = 0; i < 4; ++i) {
        h[7 + i] = char(data.size() >> (8 * i));
        h[11 + i] = char(data.size() >> (8 * i));
    }
    h[19] = 0x20;
    h[21] = char(name.size());
    std::uint32_t crc = 0;
    UpdateCrc16(data.data(), std::int64_t(data.size()), crc);
    return h + name + char(crc) + char(crc >> 8) + data;
}

class LhaReaderTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
    }

    // Extracts Archive (a host path) into home/Out; answers the number of entries processed.
    int Extract(const fs::path& archive, const std::string& out)
    {
        reports.clear();
        ends.clear();
        TUnLha un;
        un.OnError = CollectCodes(reports);
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.SetFileSpec({"*.*"});
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\tmp");
        un.SetArchiveFile(archive.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
        return un.Extract();
    }

    // What lhasa extracts from Archive; the exit status in Status.
    TTree LhasaTree(const fs::path& archive, int& status, bool lowerCase)
    {
        const fs::path ref = fs::path(home) / "ref";
        fs::remove_all(ref);
        fs::create_directories(ref);
        status = std::system(("cd " + ShellQuote(ref.string()) + " && timeout 20 lhasa xq " +
                              ShellQuote(archive.string()) + " >/dev/null 2>&1")
                                 .c_str());
        return ReadTree(ref, lowerCase);
    }

    bool AllPassed() const
    {
        return !ends.empty() && std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; });
    }

    std::vector<int> reports;
    std::map<std::string, bool> ends;
};

TEST_F(LhaReaderTest, ArchivesOfTheLhaToolExtractAsLhasaExtractsThem)
{
    if (!HaveTool("lha") || !HaveTool("lhasa"))
        GTEST_SKIP() << "lha or lhasa missing";
    const std::string src = home + "/src";
    fs::create_directories(src + "/sub/deep");
    fs::create_directories(src + "/emptydir");
    WriteWholeFile(src + "/a.txt", MixedBytes(5000, 1));
    // Long enough for distances beyond 16 KiB and for a 64 KiB window that wraps.
    WriteWholeFile(src + "/sub/deep/b.bin", MixedBytes(300000, 2));
    std::vector<std::uint8_t> repeats;
    const auto noise = RandomBytes(40000, 9);
    for (int i = 0; i < 6; ++i)
        repeats.insert(repeats.end(), noise.begin(), noise.end());
    WriteWholeFile(src + "/sub/far.bin", repeats);
    // Czech letters that the tool's name code (Latin-1) keeps; it turns the others into "?".
    WriteWholeFile(src + "/v\xC3\xBDlet \xC3\xBAter\xC3\xBD.txt", MixedBytes(33, 4));
    WriteWholeFile(src + "/empty", {});
    // Folder times of their own, which the folders' entries carry and lhasa restores.
    ASSERT_EQ(
        std::system(("cd " + ShellQuote(src) + " && touch -d '2001-02-03 04:05:06' sub sub/deep emptydir").c_str()), 0);
    int compared = 0;
    for (const char* level : {"0", "1", "2"}) {
        for (const char* method : {"5", "6", "7"}) {
            const std::string name = std::string("h") + level + "o" + method + ".lzh";
            SCOPED_TRACE(name);
            ASSERT_EQ(std::system(("cd " + ShellQuote(home) + " && lha aq" + level + "o" + method + " " + name +
                                   " src >/dev/null 2>&1")
                                      .c_str()),
                      0);
            int status = 0;
            const TTree expected = LhasaTree(fs::path(home) / name, status, false);
            ASSERT_EQ(status, 0);
            EXPECT_GT(Extract(fs::path(home) / name, name + ".out"), 5);
            EXPECT_TRUE(reports.empty()) << reports.front();
            EXPECT_TRUE(AllPassed());
            const TTree ours = ReadTree(fs::path(home) / (name + ".out"), false);
            EXPECT_EQ(ours, expected);
            EXPECT_EQ(FolderTimes(fs::path(home) / (name + ".out") / "src"),
                      FolderTimes(fs::path(home) / "ref" / "src"));
            // 7-Zip gives the same contents (it decodes the Latin-1 name its own way).
            if (HaveTool("7zz")) {
                const fs::path z = fs::path(home) / "z";
                fs::remove_all(z);
                ASSERT_EQ(std::system(("7zz x -y -o" + ShellQuote(z.string()) + " " + ShellQuote(home + "/" + name) +
                                       " >/dev/null 2>&1")
                                          .c_str()),
                          0);
                std::multiset<std::string> a, b;
                for (const auto& [n, v] : ReadTree(z, false))
                    a.insert(v);
                for (const auto& [n, v] : ours)
                    b.insert(v);
                EXPECT_EQ(a, b);
            }
            ++compared;
        }
    }
    EXPECT_EQ(compared, 9);
    // The big file came through the long distances intact.
    EXPECT_EQ(ReadText(home + "/h2o7.lzh.out/src/sub/far.bin"), std::string(repeats.begin(), repeats.end()));
}

TEST_F(LhaReaderTest, ArchivesOfOtherProgramsExtractAsLhasaExtractsThem)
{
    const fs::path fixtureRoot = FixtureRoot();
    TORVO_NEED_FIXTURES(fs::is_directory(fixtureRoot / "lha") && HaveTool("lhasa"), "no lha fixtures or no lhasa");
    // Where lhasa differs on purpose: it unwraps MacBinary, reads the -lz?- and -pm?- families
    // (also behind stubs), stops at a member of the Amiga 1.22 folder bug (see the folder test), and
    // finds the Amiga stub's own member besides the archive behind it (see the next test).
    const auto lhasaOwnWay = [](const std::string& path) {
        return path.find("maclha") != std::string::npos || path.find("lh0_dirs_bug") != std::string::npos ||
               path.find("lz5") != std::string::npos || path.find("larc333") != std::string::npos ||
               path.find("pmarc") != std::string::npos || path.find("amiga_122/sfx") != std::string::npos;
    };
    const auto isArchive = [](const fs::path& p) {
        const std::string ext = p.extension().string();
        return ext == ".lzh" || ext == ".LZH" || ext == ".lha" || p.filename().string().find("sfx") == 0;
    };
    int same = 0, refusedByBoth = 0;
    for (const auto& e : fs::recursive_directory_iterator(fixtureRoot / "lha")) {
        const std::string path = e.path().string();
        if (!e.is_regular_file() || !isArchive(e.path()) || lhasaOwnWay(path))
            continue;
        SCOPED_TRACE(path);
        int status = 0;
        const TTree expected = LhasaTree(e.path(), status, true);
        const std::string out = "out" + std::to_string(same + refusedByBoth);
        Extract(e.path(), out);
        std::erase(reports, E_SKIPPEDFILE);  // each link passed over is told
        const TTree ours = ReadTree(fs::path(home) / out, true);
        if (status == 0 && reports.empty()) {
            // Some writers store a folder without entries for it: lhasa then makes none either.
            TTree oursFiles = ours, expectedFiles = expected;
            std::erase_if(oursFiles, [](const auto& n) { return n.second == "/"; });
            std::erase_if(expectedFiles, [](const auto& n) { return n.second == "/"; });
            // Two level-0 archives whose first folder entry has no name stop lhasa at once.
            if (!expectedFiles.empty() || path.find("h0_subdir") == std::string::npos) {
                EXPECT_EQ(oursFiles, expectedFiles);
            }
            ++same;
        } else if (status != 0) {
            // Refused by lhasa: a clean report from us, or a tree that passed its CRC checks.
            EXPECT_TRUE(!reports.empty() || AllPassed());
            ++refusedByBoth;
        } else {
            // We refuse what lhasa cleans up silently (names that climb out), what we do not
            // decode, and headers that claim more bytes than the archive has.
            for (int code : reports)
                EXPECT_TRUE(code == E_INVALIDFILENAME || code == E_UNSUPPORTEDMETHOD || code == E_BADFILEHEADER)
                    << code;
        }
    }
    EXPECT_GT(same, 150);
    EXPECT_GT(refusedByBoth, 2);
}

// The Amiga self-extractor leaves two zero bytes between its own member and the archive: the
// walk goes on past them, so the payload comes out as lhasa gives it, beside the stub's member.
TEST_F(LhaReaderTest, AmigaSelfExtractorGivesItsPayload)
{
    const fs::path sfx = FixtureRoot() / "lha" / "lhasa-corpus" / "lha_amiga_122" / "sfx.run";
    if (!fs::exists(sfx) || !HaveTool("lhasa"))
        GTEST_SKIP() << "no fixtures or no lhasa";
    int status = 0;
    const TTree expected = LhasaTree(sfx, status, false);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(expected.count("gpl-2"), 1u);
    Extract(sfx, "sfx");
    EXPECT_TRUE(reports.empty());
    const TTree ours = ReadTree(fs::path(home) / "sfx", false);
    ASSERT_EQ(ours.count("gpl-2"), 1u);
    EXPECT_EQ(ours.at("gpl-2"), expected.at("gpl-2"));
    EXPECT_EQ(ours.count("SFXUsage.txt"), 1u);
}

// Some writers stored a folder as an empty "-lh0-" member whose name ends in a separator: the
// listing shows a folder and extraction makes one, as lhasa does (not a 0-byte file).
TEST_F(LhaReaderTest, AnEmptyStoredMemberNamedWithASeparatorIsAFolder)
{
    const std::string made = Level0Member("-lh0-", "docs/", "") + Level0Member("-lh0-", "docs/a.txt", "fine") +
                             Level0Member("-lh0-", "trail\\", "") + std::string(1, '\0');
    WriteWholeFile(home + "/made.lzh", std::vector<std::uint8_t>(made.begin(), made.end()));
    Extract(home + "/made.lzh", "made");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(fs::is_directory(home + "/made/docs"));
    EXPECT_EQ(ReadText(home + "/made/docs/a.txt"), "fine");
    EXPECT_TRUE(fs::is_directory(home + "/made/trail"));

    std::vector<std::pair<std::string, bool>> listed;
    TPelix p;
    p.ShowEmptyDirs = true;
    p.OnRead = [&](TObject* s, std::int64_t, int) {
        const auto& z = *static_cast<TZipCommon*>(s);
        listed.emplace_back(z.FileName, (z.ExternalAttr & 0x10) != 0);
    };
    p.SetArchiveFile(home + "/made.lzh");
    ASSERT_TRUE(p.Activate());
    EXPECT_EQ(listed,
              (std::vector<std::pair<std::string, bool>>{{"docs\\", true}, {"docs\\a.txt", false}, {"trail\\", true}}));

    // The Amiga 1.22 folder bug: lha and 7-Zip make a 0-byte file of it (this lhasa stops there);
    // the files are theirs.
    const fs::path amiga = FixtureRoot() / "lha" / "lhasa-corpus" / "lha_amiga_122" / "lh0_dirs_bug.lzh";
    if (!fs::exists(amiga) || !HaveTool("lha"))
        GTEST_SKIP() << "no fixtures or no lha";
    const fs::path ref = fs::path(home) / "ref";
    fs::create_directories(ref);
    ASSERT_EQ(std::system(("cd " + ShellQuote(ref.string()) + " && lha xq " + ShellQuote(amiga.string())).c_str()), 0);
    TTree expected = ReadTree(ref, false);
    ASSERT_EQ(expected.count("MainDir\\02_EmptyDir"), 1u);
    expected["MainDir\\02_EmptyDir"] = "/";
    Extract(amiga, "amiga");
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(AllPassed());
    EXPECT_EQ(ReadTree(fs::path(home) / "amiga", false), expected);
}

TEST_F(LhaReaderTest, HostileArchivesEndWithAReportAndStayInTheTarget)
{
    if (!HaveTool("lha"))
        GTEST_SKIP() << "lha missing";
    fs::create_directories(home + "/s");
    WriteWholeFile(home + "/s/data.bin", MixedBytes(100000, 5));
    ASSERT_EQ(std::system(("cd " + ShellQuote(home + "/s") + " && lha aq2o5 ../good.lzh data.bin >/dev/null").c_str()),
              0);
    const auto good = ReadWholeFile(home + "/good.lzh");

    // Cut short in the middle of the data: a report, never a file that passes.
    auto cut = good;
    cut.resize(cut.size() / 2);
    WriteWholeFile(home + "/cut.lzh", cut);
    Extract(home + "/cut.lzh", "cut");
    EXPECT_FALSE(reports.empty());
    EXPECT_FALSE(AllPassed());
    EXPECT_FALSE(fs::exists(home + "/cut/data.bin"));

    // Flipped bytes all over the data: every variant ends, none passes with wrong bytes.
    for (std::size_t at = 40; at < good.size(); at += good.size() / 23) {
        auto bad = good;
        bad[at] ^= 0x5A;
        WriteWholeFile(home + "/bad.lzh", bad);
        Extract(home + "/bad.lzh", "bad");
        if (AllPassed())
            EXPECT_EQ(ReadWholeFile(home + "/bad/data.bin"), ReadWholeFile(home + "/s/data.bin"));
        else
            EXPECT_FALSE(reports.empty());
        fs::remove_all(home + "/bad");
    }

    // A level-0 header whose name climbs out, and a -lz5- member: refused with their numbers.
    const std::string hostile = Level0Member("-lh0-", "..\\..\\evil.txt", "evil") +
                                Level0Member("-lz5-", "lz5.txt", "xxxx") + Level0Member("-lh0-", "ok.txt", "fine") +
                                std::string(1, '\0');
    WriteWholeFile(home + "/hostile.lzh", std::vector<std::uint8_t>(hostile.begin(), hostile.end()));
    Extract(home + "/hostile.lzh", "deep/er/hostile");
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDFILENAME), reports.end());
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_UNSUPPORTEDMETHOD), reports.end());
    EXPECT_FALSE(fs::exists(home + "/deep/evil.txt"));
    EXPECT_FALSE(fs::exists(home + "/deep/er/hostile/lz5.txt"));
    EXPECT_EQ(ReadText(home + "/deep/er/hostile/ok.txt"), "fine");
}

// --- the decoders alone ---

// MSB-first bits into bytes, as the format packs them.
class TBitWriter {
public:
    void Put(std::uint32_t value, int bits)
    {
        for (int i = bits - 1; i >= 0; --i) {
            cur_ = std::uint8_t(cur_ << 1 | (value >> i & 1));
            if (++n_ == 8) {
                bytes_.push_back(cur_);
                cur_ = 0;
                n_ = 0;
            }
        }
    }
    std::vector<std::uint8_t> Bytes()
    {
        auto b = bytes_;
        if (n_)
            b.push_back(std::uint8_t(cur_ << (8 - n_)));
        return b;
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t cur_ = 0;
    int n_ = 0;
};

TCodecStatus DecodeStatic(const std::vector<std::uint8_t>& in, std::uint64_t size, std::string& out, char method = '5')
{
    std::size_t at = 0;
    TStaticHuffmanBits bits([&](std::uint8_t* b, std::size_t n) {
        n = std::min(n, in.size() - at);
        std::copy_n(in.begin() + std::ptrdiff_t(at), n, b);
        at += n;
        return n;
    });
    TStaticHuffmanParams params;
    LhaStaticParams(method, params);
    TStaticHuffmanDecoder decoder;
    decoder.StaticHuffmanInit(params);
    out.clear();
    return decoder.StaticHuffmanDecode(
        bits, [&](const std::uint8_t* d, std::size_t n) { out.append((const char*)d, n); }, size);
}

// A block of one literal/length symbol and one position symbol, in the single-code forms.
std::vector<std::uint8_t> SingleSymbolBlock(int blockSize, int literal, int position, int positionBits = 4)
{
    TBitWriter w;
    w.Put(std::uint32_t(blockSize), 16);
    w.Put(0, 5), w.Put(0, 5);  // pre-code: one code
    w.Put(0, 9), w.Put(std::uint32_t(literal), 9);
    w.Put(0, positionBits), w.Put(std::uint32_t(position), positionBits);
    return w.Bytes();
}

TEST(StaticHuffmanTest, SingleCodeBlocksBadCountsAndTruncation)
{
    std::string out;
    // One literal for the whole block.
    EXPECT_EQ(DecodeStatic(SingleSymbolBlock(5, 'x', 0), 5, out), TCodecStatus::Ok);
    EXPECT_EQ(out, "xxxxx");
    // One match symbol (length 256) at distance 0 before any byte: zeros from the cleared window.
    EXPECT_EQ(DecodeStatic(SingleSymbolBlock(2, 509, 0), 300, out), TCodecStatus::Ok);
    EXPECT_EQ(out, std::string(300, '\0'));
    // Out-of-range single symbols and counts are corruption, not memory reads.
    EXPECT_EQ(DecodeStatic(SingleSymbolBlock(5, 510, 0), 5, out), TCodecStatus::Corrupt);
    EXPECT_EQ(DecodeStatic(SingleSymbolBlock(5, 'x', 14), 5, out), TCodecStatus::Corrupt);
    TBitWriter w;
    w.Put(5, 16);
    w.Put(20, 5);  // 20 pre-code lengths of 19 possible
    EXPECT_EQ(DecodeStatic(w.Bytes(), 5, out), TCodecStatus::Corrupt);
    TBitWriter z;
    z.Put(0, 16);  // a block of no symbols
    EXPECT_EQ(DecodeStatic(z.Bytes(), 5, out), TCodecStatus::Corrupt);
    // Input that ends early stops with a report instead of decoding zeros to the end.
    EXPECT_EQ(DecodeStatic({}, 1 << 20, out), TCodecStatus::Truncated);
    const auto block = SingleSymbolBlock(10, 'y', 0);
    EXPECT_EQ(DecodeStatic(block, 1 << 20, out), TCodecStatus::Truncated);
    EXPECT_LT(out.size(), 100u);
}

TEST(AdaptiveHuffmanTest, ExhaustedInputStops)
{
    std::vector<std::uint8_t> nothing;
    std::size_t at = 0;
    TStaticHuffmanBits bits([&](std::uint8_t*, std::size_t) { return at; });
    TAdaptiveHuffmanDecoder decoder;
    std::size_t produced = 0;
    EXPECT_EQ(decoder.AdaptiveHuffmanDecode(
                  bits, [&](const std::uint8_t*, std::size_t n) { produced += n; }, 1 << 24),
              TCodecStatus::Truncated);
    EXPECT_LT(produced, 1u << 16);
}

}  // namespace
