// The ZIP extractor against archives made by zip and 7zz (their own extraction is the oracle),
// the early-method and foreign fixtures, and hand-made hostile archives.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxRegister.h"
#include "readers/plxInflate64.h"
#include "readers/plxUnJar.h"
#include "readers/support/UnZipRun.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

int Shell(const std::string& command)
{
    return std::system(command.c_str());
}

struct TFile {
    std::string Data;
    std::int64_t MTime = 0;
    bool Dir = false;
};

// Every file and folder below root by its relative path.
std::map<std::string, TFile> Tree(const fs::path& root)
{
    std::map<std::string, TFile> tree;
    if (!fs::exists(root))
        return tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        TFile f;
        f.Dir = e.is_directory();
        if (!f.Dir) {
            f.Data = ReadText(e.path());
            f.MTime = std::chrono::duration_cast<std::chrono::seconds>(e.last_write_time().time_since_epoch()).count();
        }
        tree[fs::relative(e.path(), root).string()] = f;
    }
    return tree;
}

void ExpectSameTree(const fs::path& expected, const fs::path& actual, const std::string& what)
{
    const auto a = Tree(expected), b = Tree(actual);
    ASSERT_FALSE(a.empty()) << what;
    ASSERT_EQ(a.size(), b.size()) << what;
    for (const auto& [name, file] : a) {
        const auto it = b.find(name);
        ASSERT_NE(it, b.end()) << what << ": " << name;
        EXPECT_EQ(file.Dir, it->second.Dir) << what << ": " << name;
        EXPECT_TRUE(file.Data == it->second.Data) << what << ": " << name;
        // DOS times keep even seconds; the oracle may have read a finer stamp.
        if (!file.Dir) {
            EXPECT_LE(std::llabs(file.MTime - it->second.MTime), 2) << what << ": " << name;
        }
    }
}

class UnZipTest : public ::testing::Test {
protected:
    TScratchDir scratch;
    const fs::path root = scratch.Path();

    // A tree with folders, an empty folder, Czech names, text, random and empty files.
    fs::path MakeSource()
    {
        const fs::path src = root / "src";
        WriteText(src / "a.txt", "hello\n");
        WriteText(src / "empty.dat", "");
        std::string text;
        for (int i = 0; i < 40000; ++i)
            text += std::to_string(i * 7919 % 10007) + (i % 13 ? " " : "\n");
        WriteText(src / "sub" / "deep" / "text.txt", text);
        std::string noise;
        std::uint32_t x = 12345;
        for (int i = 0; i < 150000; ++i)
            noise += char((x = x * 1103515245 + 12345) >> 24);
        WriteText(src / "sub" / "noise.bin", noise);
        WriteText(src / "Příliš žluťoučký kůň" / "úpěl ďábelské ódy.txt", "ódy\n");
        fs::create_directories(src / "prázdná");
        // Stamps of their own among members that share one: each member keeps its time.
        for (const auto& [file, back] : {std::pair{src / "a.txt", std::chrono::hours(30)},
                                         std::pair{src / "sub" / "noise.bin", std::chrono::hours(3)}})
            fs::last_write_time(file, fs::last_write_time(file) - back);
        return src;
    }
};

TEST_F(UnZipTest, ArchivesOfTheToolsExtractAsTheToolsExtractThem)
{
    if (!HaveTool("zip") || !HaveTool("unzip") || !HaveTool("7zz"))
        GTEST_SKIP() << "zip, unzip or 7zz missing";
    const fs::path src = MakeSource();
    const std::string in = "cd '" + src.string() + "' && ";
    const std::map<std::string, std::string> made = {
        {"plain", "zip -qr ../plain.zip ."},
        {"stored", "zip -qr0 ../stored.zip ."},
        {"best", "zip -qr9 ../best.zip ."},
        {"crypt", "zip -qr -P secret ../crypt.zip ."},
        {"descriptors", "zip -qr -fd ../descriptors.zip ."},
        {"zip64", "zip -qr -fz ../zip64.zip ."},
        {"comment", "zip -qr ../comment.zip . && echo 'a comment' | zip -qz ../comment.zip"},
        {"sfx", "zip -qr ../sfx.zip . && head -c 5000 /dev/urandom > ../sfx.exe && cat ../sfx.zip >> ../sfx.exe"
                " && mv ../sfx.exe ../sfx.zip && zip -qA ../sfx.zip"},
        {"7deflate", "7zz a -tzip -mm=Deflate ../7deflate.zip . >/dev/null"},
        {"7deflate64", "7zz a -tzip -mm=Deflate64 ../7deflate64.zip . >/dev/null"},
        {"7bzip2", "7zz a -tzip -mm=BZip2 ../7bzip2.zip . >/dev/null"},
        {"7ppmd5", "7zz a -tzip -mm=PPMd -mx=5 ../7ppmd5.zip . >/dev/null"},
        {"7ppmd9", "7zz a -tzip -mm=PPMd -mx=9 ../7ppmd9.zip . >/dev/null"},
        {"7crypt", "7zz a -tzip -psecret -mem=ZipCrypto ../7crypt.zip . >/dev/null"},
    };
    for (const auto& [name, command] : made) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Shell(in + command), 0);
        const fs::path archive = root / (name + ".zip");
        const fs::path oracle = root / ("oracle_" + name);
        fs::create_directories(oracle);
        const bool seven = name[0] == '7';
        ASSERT_EQ(
            Shell(seven ? "7zz x -psecret -o'" + oracle.string() + "' '" + archive.string() + "' >/dev/null"
                        : "unzip -qo -P secret '" + archive.string() + "' -d '" + oracle.string() + "' 2>/dev/null"),
            0);
        const fs::path out = root / ("out_" + name);
        const TUnZipRun r = RunUnZip(archive, out, false, "secret");
        EXPECT_TRUE(r.Errors.empty()) << r.Errors.front();
        EXPECT_EQ(r.Failed, 0);
        ExpectSameTree(oracle, out, name);
        const TUnZipRun t = RunUnZip(archive, out, true, "secret");
        EXPECT_TRUE(t.Errors.empty());
        EXPECT_EQ(t.Failed, 0);
        EXPECT_GE(t.Passed, 5);
    }

    // The command-line tool agrees, and a wrong password fails without touching the files.
    const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
    if (fs::exists(tool)) {
        const fs::path out = root / "tool_out";
        EXPECT_EQ(Shell(tool + " extract '" + (root / "crypt.zip").string() + "' '" + out.string() +
                        "' -p secret >/dev/null"),
                  0);
        ExpectSameTree(root / "oracle_crypt", out, "plxtool");
        EXPECT_EQ(Shell(tool + " test '" + (root / "7crypt.zip").string() + "' -p secret >/dev/null"), 0);
        EXPECT_NE(Shell(tool + " test '" + (root / "crypt.zip").string() + "' -p wrong >/dev/null 2>&1"), 0);
    }
    const fs::path kept = root / "kept";
    WriteText(kept / "a.txt", "mine");
    const TUnZipRun wrong =
        RunUnZip(root / "crypt.zip", kept, false, "wrong", [](TUnZip& z) { z.OverwriteMode = omOverwrite; });
    EXPECT_NE(std::find(wrong.Errors.begin(), wrong.Errors.end(), 26517), wrong.Errors.end());
    // The empty member has only its one check byte against a wrong password: 1 run in 256 lets
    // it through, as it does in every reader of this cipher.
    EXPECT_GE(wrong.Failed, 4);
    EXPECT_EQ(ReadText(kept / "a.txt"), "mine");
    EXPECT_FALSE(fs::exists(kept / "sub" / "noise.bin"));
}

// An archive of small members is mostly headers: its bar rises with them, not only with the
// few data bytes, and a whole test or extraction ends it full.
TEST_F(UnZipTest, ArchiveProgressCountsHeadersAndEndsFull)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    for (int i = 0; i < 300; ++i)
        WriteText(root / "src" / ("member" + std::to_string(i) + ".txt"), "tiny");
    ASSERT_EQ(Shell("cd '" + (root / "src").string() + "' && zip -qr ../tiny.zip ."), 0);
    for (const bool test : {true, false}) {
        SCOPED_TRACE(test ? "test" : "extract");
        std::vector<int> byArchive;
        const TUnZipRun r = RunUnZip(root / "tiny.zip", root / "out", test, {}, [&byArchive](TUnZip& z) {
            z.OnProgress = [&byArchive](TObject*, std::uint8_t, std::uint8_t archive) { byArchive.push_back(archive); };
        });
        EXPECT_EQ(r.Failed, 0);
        ASSERT_FALSE(byArchive.empty());
        EXPECT_TRUE(std::is_sorted(byArchive.begin(), byArchive.end()));
        EXPECT_GE(byArchive[byArchive.size() / 2], 40);
        EXPECT_GE(byArchive.back(), 99);
    }
}

TEST_F(UnZipTest, SplitSetsAndLocalHeadersAlone)
{
    if (!HaveTool("zip") || !HaveTool("unzip"))
        GTEST_SKIP() << "zip or unzip missing";
    const fs::path src = MakeSource();
    const fs::path oracle = root / "oracle";
    ASSERT_EQ(Shell("cd '" + src.string() + "' && zip -qr -fd ../whole.zip . && zip -qr -s 64k ../split.zip ."), 0);
    ASSERT_EQ(Shell("unzip -qo '" + (root / "whole.zip").string() + "' -d '" + oracle.string() + "'"), 0);
    ASSERT_TRUE(fs::exists(root / "split.z01"));

    // Each member is read from the volume the directory names, across volume ends.
    const TUnZipRun split = RunUnZip(root / "split.zip", root / "out_split", false);
    EXPECT_TRUE(split.Errors.empty());
    ExpectSameTree(oracle, root / "out_split", "split");

    // A member whose directory record names a disk past the set's last is lost and said so; the
    // others are still tested.
    fs::create_directories(root / "far");
    for (const char* volume : {"split.z01", "split.z02", "split.z03", "split.z04", "split.z05", "split.z06"})
        if (fs::exists(root / volume))
            fs::copy_file(root / volume, root / "far" / volume);
    std::string last = ReadText(root / "split.zip");
    const std::size_t record = last.find("PK\x01\x02");
    ASSERT_NE(record, std::string::npos);
    const std::string farName = last.substr(record + 46, GetLE16(reinterpret_cast<std::uint8_t*>(&last[record + 28])));
    PutLE16(reinterpret_cast<std::uint8_t*>(&last[record + 34]), 0xFFFE);
    WriteText(root / "far" / "split.zip", last);
    const TUnZipRun far = RunUnZip(root / "far" / "split.zip", root / "out_far", true);
    ASSERT_EQ(far.Errors.size(), 1u);
    EXPECT_EQ(far.Errors.front(), E_BADLOCALOFFSET);
    EXPECT_EQ(far.ErrorNames.front(), farName);
    EXPECT_GT(far.Passed, 1);

    // A set cut inside a directory record (as our sets once were) reads whole; a directory that
    // ends short of its count is reported, not taken as the whole archive.
    const std::string whole = ReadText(root / "whole.zip");
    const std::size_t dir = whole.find("PK\x01\x02"), end = whole.rfind("PK\x05\x06");
    ASSERT_NE(dir, std::string::npos);
    std::string set = std::string("PK\x07\x08", 4) + whole;
    const auto at = [&set](std::size_t i) { return reinterpret_cast<std::uint8_t*>(&set[i]); };
    std::uint16_t entries = 0;
    for (std::size_t i = dir + 4; GetLE32(at(i)) == kSigCentral; ++entries) {
        PutLE32(at(i + 42), GetLE32(at(i + 42)) + 4);
        i += 46 + GetLE16(at(i + 28)) + GetLE16(at(i + 30)) + GetLE16(at(i + 32));
    }
    ASSERT_GT(entries, 2);
    const std::size_t volumeEnd = dir + 4 + 20;
    std::uint8_t* eocd = at(end + 4);
    PutLE16(eocd + 4, 1);
    PutLE16(eocd + 8, std::uint16_t(entries - 1));
    PutLE32(eocd + 16, std::uint32_t(dir + 4));
    WriteText(root / "straddle.z01", set.substr(0, volumeEnd));
    WriteText(root / "straddle.zip", set.substr(volumeEnd));
    const TUnZipRun straddle = RunUnZip(root / "straddle.zip", root / "out_straddle", false);
    EXPECT_TRUE(straddle.Errors.empty()) << straddle.Errors.front();
    ExpectSameTree(oracle, root / "out_straddle", "cut");
    PutLE16(eocd + 10, std::uint16_t(entries + 1));
    WriteText(root / "straddle.zip", set.substr(volumeEnd));
    EXPECT_TRUE(RunUnZip(root / "straddle.zip", root / "out_short", true).Has(E_BADFILEHEADER));

    // Without a directory the local headers carry the walk, also past members whose sizes
    // stand in data descriptors.
    std::string bytes = ReadText(root / "whole.zip");
    const std::size_t central = bytes.find("PK\x01\x02");
    ASSERT_NE(central, std::string::npos);
    WriteText(root / "headless.zip", bytes.substr(0, central));
    const TUnZipRun headless = RunUnZip(root / "headless.zip", root / "out_headless", false);
    EXPECT_TRUE(headless.Errors.empty()) << headless.Errors.front();
    EXPECT_EQ(headless.Failed, 0);
    // Local headers carry no host, so only names in plain ASCII read the same as the directory's.
    const auto got = Tree(root / "out_headless");
    for (const auto& [name, file] : Tree(oracle))
        if (!file.Dir && std::all_of(name.begin(), name.end(), [](char c) { return c > 0; })) {
            EXPECT_TRUE(got.count(name) && got.at(name).Data == file.Data) << name;
        }

    // A truncated archive ends with a report, never a crash or success.
    WriteText(root / "cut.zip", bytes.substr(0, bytes.size() / 2));
    const TUnZipRun cut = RunUnZip(root / "cut.zip", root / "out_cut", true);
    EXPECT_FALSE(cut.Errors.empty());
    EXPECT_GE(cut.Failed + int(cut.Errors.size()), 1);
}

// A stored archive written here, so that names, flags and extra fields can be anything.
struct TCrafted {
    std::string Name;
    std::string Data;
    std::uint16_t Flags = 0;
    std::string Extra = {};
    std::uint16_t Method = 0;
};

std::string CraftZip(const std::vector<TCrafted>& entries)
{
    std::string out, dir;
    for (const auto& e : entries) {
        const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(e.Data.data()), uInt(e.Data.size())));
        const auto offset = std::uint32_t(out.size());
        AppendLE<std::uint32_t>(out, 0x04034B50);
        AppendLE<std::uint16_t>(out, 20), AppendLE(out, e.Flags), AppendLE(out, e.Method),
            AppendLE<std::uint16_t>(out, 0);
        AppendLE<std::uint16_t>(out, 0x5021), AppendLE(out, crc), AppendLE(out, std::uint32_t(e.Data.size()));
        AppendLE(out, std::uint32_t(e.Data.size())), AppendLE(out, std::uint16_t(e.Name.size()));
        AppendLE(out, std::uint16_t(e.Extra.size()));
        out += e.Name + e.Extra + e.Data;
        AppendLE<std::uint32_t>(dir, 0x02014B50);
        AppendLE<std::uint16_t>(dir, 0x031E), AppendLE<std::uint16_t>(dir, 20), AppendLE(dir, e.Flags),
            AppendLE(dir, e.Method);
        AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0x5021), AppendLE(dir, crc);
        AppendLE(dir, std::uint32_t(e.Data.size())), AppendLE(dir, std::uint32_t(e.Data.size()));
        AppendLE(dir, std::uint16_t(e.Name.size())), AppendLE(dir, std::uint16_t(e.Extra.size()));
        AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0);
        AppendLE<std::uint32_t>(dir, 0x81A40000), AppendLE(dir, offset);
        dir += e.Name + e.Extra;
    }
    const auto dirPos = std::uint32_t(out.size());
    out += dir;
    AppendLE<std::uint32_t>(out, 0x06054B50), AppendLE<std::uint32_t>(out, 0);
    AppendLE(out, std::uint16_t(entries.size())), AppendLE(out, std::uint16_t(entries.size()));
    AppendLE(out, std::uint32_t(dir.size())), AppendLE(out, dirPos), AppendLE<std::uint16_t>(out, 0);
    return out;
}

std::string UnicodePathBlock(const std::string& name)
{
    std::string b;
    AppendLE<std::uint16_t>(b, 0x7075), AppendLE(b, std::uint16_t(5 + name.size()));
    b += '\x01';
    AppendLE<std::uint32_t>(b, 0);
    return b + name;
}

TEST_F(UnZipTest, HostileNamesAndFlagsStayInsideAndDisableOnlyThemselves)
{
    const fs::path dir = root / "deep" / "target";
    fs::create_directories(dir);
    WriteText(root / "crafted.zip", CraftZip({{"../x", "up"},
                                              {"/etc/x_unzip_test", "abs"},
                                              {"C:\\x", "drive"},
                                              {"..\\\\x", "back"},
                                              {"\\\\server\\share\\x", "unc"},
                                              {"safe.txt", "fine", 0, UnicodePathBlock("../../y")},
                                              {"ok/inner.txt", "inside"}}));
    const TUnZipRun r = RunUnZip(root / "crafted.zip", dir, false);
    // Only the two names that stay inside are written; everything lands below the target.
    for (const auto& e : fs::recursive_directory_iterator(root / "deep")) {
        const std::string rel = fs::relative(e.path(), dir).string();
        EXPECT_EQ(rel.rfind("..", 0), std::string::npos) << rel;
    }
    EXPECT_FALSE(fs::exists(root / "x"));
    EXPECT_FALSE(fs::exists(root / "deep" / "x"));
    EXPECT_FALSE(fs::exists(root / "y"));
    EXPECT_FALSE(fs::exists("/etc/x_unzip_test"));
    EXPECT_EQ(ReadText(dir / "ok" / "inner.txt"), "inside");
    EXPECT_NE(std::find(r.Errors.begin(), r.Errors.end(), 25245), r.Errors.end());

    // A strongly encrypted member is refused alone; an unknown method writes nothing; an
    // encrypted member too short for its header is corrupt; the plain member after them is
    // still extracted.
    WriteText(root / "flags.zip", CraftZip({{"strong.txt", "123456789012345", 0x41},
                                            {"lzma.txt", "xxxx", 0, "", 14},
                                            {"short.txt", "1234", 0x01},
                                            {"after.txt", "still here"}}));
    const fs::path out = root / "flags_out";
    WriteText(out / "lzma.txt", "kept");
    const TUnZipRun f =
        RunUnZip(root / "flags.zip", out, false, "pw", [](TUnZip& z) { z.OverwriteMode = omOverwrite; });
    EXPECT_NE(std::find(f.Errors.begin(), f.Errors.end(), 25327), f.Errors.end());
    EXPECT_NE(std::find(f.Errors.begin(), f.Errors.end(), 25326), f.Errors.end());
    EXPECT_NE(std::find(f.Errors.begin(), f.Errors.end(), 25114), f.Errors.end());
    EXPECT_FALSE(fs::exists(out / "strong.txt"));
    EXPECT_FALSE(fs::exists(out / "short.txt"));
    EXPECT_EQ(ReadText(out / "lzma.txt"), "kept");
    EXPECT_EQ(ReadText(out / "after.txt"), "still here");
    EXPECT_EQ(f.Passed, 1);
}

TEST_F(UnZipTest, AFailedMemberLeavesTheFileItWouldReplace)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const fs::path src = root / "src";
    WriteText(src / "one.txt", "one new");
    WriteText(src / "two.txt", "two new, long enough to find in the archive");
    WriteText(src / "three.txt", "three new");
    ASSERT_EQ(Shell("cd '" + src.string() + "' && zip -q0 ../stored.zip one.txt two.txt three.txt"), 0);
    std::string bytes = ReadText(root / "stored.zip");
    const std::size_t data = bytes.find("two new");
    ASSERT_NE(data, std::string::npos);
    bytes[data + 4] ^= 0x20;
    WriteText(root / "flipped.zip", bytes);

    // A deflated member whose data stops halfway.
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i * 7919 % 10007) + ' ';
    z_stream zs{};
    ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string packed(deflateBound(&zs, uLong(text.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(text.data());
    zs.avail_in = uInt(text.size());
    zs.next_out = reinterpret_cast<Bytef*>(packed.data());
    zs.avail_out = uInt(packed.size());
    ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    packed.resize(zs.total_out / 2);
    deflateEnd(&zs);
    WriteText(root / "cut.zip", CraftZip({{"one.txt", "one new"}, {"two.txt", packed, 0, "", 8}}));

    for (const char* name : {"flipped.zip", "cut.zip"}) {
        SCOPED_TRACE(name);
        const fs::path out = root / (std::string("out_") + name);
        WriteText(out / "one.txt", "one old");
        WriteText(out / "two.txt", "two old");
        fs::permissions(out / "two.txt", fs::perms::owner_read);
        const TUnZipRun r = RunUnZip(root / name, out, false, "", [](TUnZip& z) { z.OverwriteMode = omOverwrite; });
        EXPECT_NE(std::find(r.Errors.begin(), r.Errors.end(), 25151), r.Errors.end());
        EXPECT_EQ(r.Failed, 1);
        EXPECT_EQ(ReadText(out / "one.txt"), "one new");
        EXPECT_EQ(ReadText(out / "two.txt"), "two old");
        EXPECT_EQ(fs::status(out / "two.txt").permissions() & fs::perms::owner_write, fs::perms::none);
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(out))
            names.insert(e.path().filename().string());
        // Nothing but the archive's names: no temporary file is left behind.
        const bool flipped = name[0] == 'f';
        const std::set<std::string> expected = flipped ? std::set<std::string>{"one.txt", "three.txt", "two.txt"}
                                                       : std::set<std::string>{"one.txt", "two.txt"};
        EXPECT_EQ(names, expected);
        if (flipped) {
            EXPECT_EQ(ReadText(out / "three.txt"), "three new");
        }
    }
}

// A run calls the virtual data operations directly only while the hooks are the constructor's:
// hooks a caller set see every block, and what they answer is what is checked.
TEST_F(UnZipTest, DataHooksACallerSetServeEveryMember)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const fs::path src = MakeSource();
    ASSERT_EQ(Shell("cd '" + src.string() + "' && zip -qr ../mixed.zip . && zip -qr0 ../mixed.zip sub/deep"), 0);
    const TUnZipRun own =
        RunUnZip(root / "mixed.zip", root / "own", true, "", [](TUnZip& z) { EXPECT_TRUE(z.OwnDataHooks()); });
    ASSERT_GT(own.Passed, 4);
    EXPECT_EQ(own.Failed, 0);

    int reads = 0, writes = 0;
    const TUnZipRun relayed = RunUnZip(root / "mixed.zip", root / "relayed", true, "", [&](TUnZip& z) {
        z.ReadArchiveProc = [&z, &reads](TStream32* s, void* b, std::int32_t n, bool e, int w) {
            ++reads;
            return z.ReadArchiveBlock(s, b, n, e, w);
        };
        z.WriteOutputProc = [&z, &writes](TStream32* t, const void* b, int k, std::int32_t n, int w, bool e) {
            ++writes;
            return z.WriteOutputBlock(t, b, k, n, w, e);
        };
        EXPECT_FALSE(z.OwnDataHooks());
    });
    EXPECT_EQ(relayed.Passed, own.Passed);
    EXPECT_EQ(relayed.Failed, 0);
    // Four files hold data (folders and the empty file read nothing).
    EXPECT_GE(reads, 4);
    EXPECT_GE(writes, 4);

    // A sink that takes the data without passing it on: no member with data passes its check.
    const TUnZipRun swallowed = RunUnZip(root / "mixed.zip", root / "swallowed", true, "", [](TUnZip& z) {
        z.WriteOutputProc = [](TStream32*, const void*, int, std::int32_t n, int, bool) { return n; };
    });
    EXPECT_EQ(swallowed.Failed, 4);
    EXPECT_EQ(swallowed.Passed, own.Passed - 4);
}

TEST_F(UnZipTest, EarlyMethodFixturesGiveTheirOriginals)
{
    const fs::path dir = FixtureRoot() / "zip-legacy";
    TORVO_NEED_FIXTURES(fs::exists(dir), "no ZIP fixtures at " << dir);
    for (const char* name : {"HWSHRINK.ZIP", "HWREDUCE.ZIP", "HWIMPODE.ZIP"}) {
        const fs::path out = root / name;
        const TUnZipRun r = RunUnZip(dir / name, out, false);
        EXPECT_TRUE(r.Errors.empty()) << name;
        for (const char* file : {"TESTDAT1.TXT", "TESTDAT2.TXT", "TESTDAT3.TXT"})
            EXPECT_TRUE(ReadText(out / file) == ReadText(dir / file)) << name << " " << file;
    }
    for (const char* name : {"shrink.zip", "reduce.zip", "implode.zip"}) {
        const fs::path out = root / name;
        const TUnZipRun r = RunUnZip(dir / name, out, false);
        EXPECT_TRUE(r.Errors.empty()) << name;
        ASSERT_EQ(Tree(out).size(), 1u) << name;
        EXPECT_TRUE(ReadText(fs::directory_iterator(out)->path()) == ReadText(dir / "first.txt")) << name;
    }
}

TEST_F(UnZipTest, ForeignArchivesExtractOrFailCleanly)
{
    const fs::path dir = FixtureRoot() / "zip" / "libarchive";
    TORVO_NEED_FIXTURES(fs::exists(dir), "no ZIP fixtures at " << dir);
    int clean = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        const auto start = std::chrono::steady_clock::now();
        const fs::path out = root / name;
        const TUnZipRun r = RunUnZip(e.path(), out, false, "12345678");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        if (name.find("aes") != std::string::npos && r.Count == 0) {
            EXPECT_NE(std::find(r.Errors.begin(), r.Errors.end(), 25327), r.Errors.end());
        }
        if (r.Errors.empty() && r.Failed == 0)
            ++clean;
        // Whatever happened, nothing left the folder.
        if (fs::exists(out)) {
            for (const auto& f : fs::recursive_directory_iterator(out))
                EXPECT_FALSE(fs::is_symlink(f.path()));
        }
    }
    EXPECT_GE(clean, 30);
}

// Two gzip members, the second with every optional header field: both decode into one output.
TEST(InflateData, GzipMembersFollowEachOtherWhateverTheirHeadersHold)
{
    const auto member = [](const std::string& text, bool fields) {
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        gz_header h{};
        std::string extra(300, 'e');
        if (fields) {
            h.extra = reinterpret_cast<Bytef*>(extra.data());
            h.extra_len = uInt(extra.size());
            h.name = reinterpret_cast<Bytef*>(const_cast<char*>("name.txt"));
            h.comment = reinterpret_cast<Bytef*>(const_cast<char*>("a comment"));
            h.hcrc = 1;
            deflateSetHeader(&z, &h);
        }
        std::string out(text.size() + 1024, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = uInt(text.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    };
    std::string stream = member("first member\n", false) + member("second member\n", true);
    // The extractor hands over what follows the first header.
    std::size_t pos = 10;
    std::string got;
    int members = 1;
    TInflateIo io;
    io.Read = [&](std::uint8_t* b, std::size_t n) {
        n = std::min(n, stream.size() - pos);
        std::memcpy(b, stream.data() + pos, n);
        pos += n;
        return n;
    };
    io.Write = [&](const std::uint8_t* d, std::size_t n) { got.append(reinterpret_cast<const char*>(d), n); };
    io.NextGzipMember = [&] { ++members; };
    EXPECT_EQ(InflateData(io, false, true), TCodecStatus::Ok);
    EXPECT_EQ(got, "first member\nsecond member\n");
    EXPECT_EQ(members, 2);

    // Cut short, the same data is truncated, not a success.
    pos = 10;
    got.clear();
    stream = stream.substr(0, 20);
    EXPECT_NE(InflateData(io, false, false), TCodecStatus::Ok);
}

}  // namespace
