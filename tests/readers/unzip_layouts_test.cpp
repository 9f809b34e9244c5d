// The ZIP extractor over the layouts that real writers produce and the ones attackers craft:
// traditional encryption in every Info-ZIP and 7-Zip layout, members that share data, local
// names that disagree with the directory, Unicode path blocks, host-chosen targets and
// exclusion masks.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "readers/plxUnZIP.h"
#include "readers/support/UnZipRun.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

// A stored local header and its data.
std::string LocalRecord(const std::string& name, const std::string& data, const std::string& extra = {})
{
    std::string out;
    AppendLE<std::uint32_t>(out, 0x04034B50);
    AppendLE<std::uint16_t>(out, 20), AppendLE<std::uint16_t>(out, 0), AppendLE<std::uint16_t>(out, 0);
    AppendLE<std::uint16_t>(out, 0), AppendLE<std::uint16_t>(out, 0x5021), AppendLE(out, Crc32Of(data));
    AppendLE(out, std::uint32_t(data.size())), AppendLE(out, std::uint32_t(data.size()));
    AppendLE(out, std::uint16_t(name.size())), AppendLE(out, std::uint16_t(extra.size()));
    return out + name + extra + data;
}

struct TCentral {
    std::string Name;
    std::string Data;  // what the entry claims to hold (CRC and sizes)
    std::uint32_t Offset = 0;
    std::string Extra = {};
    std::uint16_t MadeBy = 0x031E;
};

// Local records as given, then a directory whose entries point wherever they say.
std::string WithDirectory(const std::string& locals, const std::vector<TCentral>& entries)
{
    std::string dir;
    for (const auto& e : entries) {
        AppendLE<std::uint32_t>(dir, 0x02014B50);
        AppendLE(dir, e.MadeBy), AppendLE<std::uint16_t>(dir, 20), AppendLE<std::uint16_t>(dir, 0),
            AppendLE<std::uint16_t>(dir, 0);
        AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0x5021), AppendLE(dir, Crc32Of(e.Data));
        AppendLE(dir, std::uint32_t(e.Data.size())), AppendLE(dir, std::uint32_t(e.Data.size()));
        AppendLE(dir, std::uint16_t(e.Name.size())), AppendLE(dir, std::uint16_t(e.Extra.size()));
        AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0), AppendLE<std::uint16_t>(dir, 0);
        AppendLE<std::uint32_t>(dir, 0x81A40000), AppendLE(dir, e.Offset);
        dir += e.Name + e.Extra;
    }
    std::string out = locals + dir;
    AppendLE<std::uint32_t>(out, 0x06054B50), AppendLE<std::uint32_t>(out, 0);
    AppendLE(out, std::uint16_t(entries.size())), AppendLE(out, std::uint16_t(entries.size()));
    AppendLE(out, std::uint32_t(dir.size())), AppendLE(out, std::uint32_t(locals.size())),
        AppendLE<std::uint16_t>(out, 0);
    return out;
}

std::string UnicodePath(const std::string& stored, const std::string& utf8, std::uint32_t crc)
{
    std::string b;
    AppendLE<std::uint16_t>(b, 0x7075), AppendLE(b, std::uint16_t(5 + utf8.size()));
    b += '\x01';
    AppendLE(b, crc);
    (void)stored;
    return b + utf8;
}

class UnZipLayouts : public ::testing::Test {
protected:
    TScratchDir scratch;
    fs::path Path(const std::string& name) const { return scratch / name; }
};

TEST_F(UnZipLayouts, TraditionalEncryptionInEveryLayoutOfZipAnd7zz)
{
    for (const char* tool : {"zip", "7zz"})
        if (!HaveTool(tool))
            GTEST_SKIP() << tool << " missing";
    WriteWholeFile(Path("r.bin"), MixedBytes(40000, 3));
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += std::to_string(i) + "\n";
    WriteText(Path("t.txt"), text);
    // Forced data descriptors leave other values than zeros in the local CRC field; a stream
    // from standard input has no size before the data; stdout output cannot seek back.
    const std::vector<std::pair<std::string, std::string>> makers = {
        {"plain.zip", "zip -q -e -P pw plain.zip r.bin t.txt"},
        {"stored.zip", "zip -q -0 -e -P pw stored.zip r.bin t.txt"},
        {"descriptors.zip", "zip -q -fd -e -P pw descriptors.zip r.bin t.txt"},
        {"stored_descriptors.zip", "zip -q -0 -fd -e -P pw stored_descriptors.zip r.bin t.txt"},
        {"stdout.zip", "zip -q -e -P pw - r.bin t.txt > stdout.zip"},
        {"pipe.zip", "cat t.txt | zip -q -e -P pw - - > pipe.zip"},
        {"pipe_stored.zip", "cat r.bin | zip -q -0 -e -P pw - - > pipe_stored.zip"},
        {"sevenzip.zip", "7zz a -bso0 -tzip -ppw -mem=ZipCrypto sevenzip.zip r.bin t.txt"},
        {"sevenzip_stored.zip", "7zz a -bso0 -tzip -ppw -mem=ZipCrypto -mx0 sevenzip_stored.zip r.bin t.txt"},
    };
    for (const auto& [archive, make] : makers) {
        SCOPED_TRACE(make);
        ASSERT_EQ(scratch.Run(make), 0);
        ASSERT_EQ(scratch.Run("unzip -tqq -P pw " + archive), 0) << "the oracle reads it";
        const fs::path out = Path("out_" + archive);
        const TUnZipRun r = RunUnZip(Path(archive), out, false, "pw");
        EXPECT_TRUE(r.Errors.empty()) << r.Errors.front();
        const bool piped = make.find("cat ") == 0;
        for (const std::string name : {"r.bin", "t.txt"}) {
            if (piped && make.find("cat " + name) == std::string::npos)
                continue;
            const fs::path written = out / (piped ? "-" : name);
            ASSERT_TRUE(fs::exists(written)) << name;
            EXPECT_TRUE(ReadWholeFile(written) == ReadWholeFile(Path(name))) << name;
        }
        // With the directory damaged the descriptors carry the values.
        if (make.find("-fd") != std::string::npos) {
            auto bytes = ReadWholeFile(Path(archive));
            const std::string s(bytes.begin(), bytes.end());
            for (std::size_t at = s.find("PK\x01\x02"); at != std::string::npos; at = s.find("PK\x01\x02", at + 1))
                bytes[at + 2] = 'X';
            WriteWholeFile(Path("cut_" + archive), bytes);
            const TUnZipRun cut = RunUnZip(Path("cut_" + archive), Path("cut_out"), true, "pw");
            EXPECT_EQ(cut.Count, 2);
            EXPECT_EQ(std::count_if(cut.Ends.begin(), cut.Ends.end(), [](auto& e) { return e.second; }), 2);
        }
    }
}

TEST_F(UnZipLayouts, MembersSharingDataAreRefused)
{
    // Every central entry names the same local header: claimed sizes multiply, bytes do not.
    const std::string kernel(5000, 'k');
    WriteText(Path("shared.zip"),
              WithDirectory(LocalRecord("a", kernel), {{"a", kernel, 0}, {"b", kernel, 0}, {"c", kernel, 0}}));
    const TUnZipRun shared = RunUnZip(Path("shared.zip"), Path("shared"), false);
    EXPECT_TRUE(fs::exists(Path("shared") / "a"));
    EXPECT_FALSE(fs::exists(Path("shared") / "b"));
    EXPECT_FALSE(fs::exists(Path("shared") / "c"));
    EXPECT_EQ(std::count(shared.Errors.begin(), shared.Errors.end(), 25115), 2);

    // A member's data quotes the next member's header: its local range lies inside the first.
    const std::string inner = LocalRecord("in", "inner data");
    const std::string outer = LocalRecord("out", inner);
    WriteText(
        Path("quoted.zip"),
        WithDirectory(outer, {{"out", inner, 0}, {"in", "inner data", std::uint32_t(outer.size() - inner.size())}}));
    const TUnZipRun quoted = RunUnZip(Path("quoted.zip"), Path("quoted"), true);
    EXPECT_EQ(quoted.Count, 1);
    EXPECT_TRUE(quoted.Has(25115));
    EXPECT_EQ(quoted.ErrorNames, std::vector<std::string>{"in"});
    // Listed the other way round, the inner member comes first and keeps its bytes.
    WriteText(
        Path("inner_first.zip"),
        WithDirectory(outer, {{"in", "inner data", std::uint32_t(outer.size() - inner.size())}, {"out", inner, 0}}));
    const TUnZipRun innerFirst = RunUnZip(Path("inner_first.zip"), Path("inner_first"), true);
    EXPECT_EQ(innerFirst.Count, 1);
    EXPECT_EQ(innerFirst.ErrorNames, std::vector<std::string>{"out"});

    // Entries that merely follow each other are not touched.
    const std::string one = LocalRecord("one", "1111"), two = LocalRecord("two", "22");
    WriteText(Path("plain.zip"),
              WithDirectory(one + two, {{"two", "22", std::uint32_t(one.size())}, {"one", "1111", 0}}));
    const TUnZipRun plain = RunUnZip(Path("plain.zip"), Path("plain"), false);
    EXPECT_TRUE(plain.Errors.empty());
    EXPECT_EQ(ReadText(Path("plain") / "one"), "1111");
    EXPECT_EQ(ReadText(Path("plain") / "two"), "22");
}

TEST_F(UnZipLayouts, TheNewestDateGoesToEveryFileFromTheFirstOn)
{
    // Members run as the directory lists them; the newest date is the last one's.
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    WriteText(Path("old.txt"), "old"), WriteText(Path("mid.txt"), "mid"), WriteText(Path("new.txt"), "new");
    ASSERT_EQ(scratch.Run("touch -d '2001-02-03 04:05:06' old.txt && touch -d '2010-01-01 12:00:00' mid.txt && "
                          "touch -d '2020-06-07 08:09:10' new.txt && zip -q -X dates.zip old.txt mid.txt new.txt"),
              0);
    const TUnZipRun r =
        RunUnZip(Path("dates.zip"), Path("out"), false, "", [](TUnZip& z) { z.DateAttribute = daMaxFileDate; });
    EXPECT_TRUE(r.Errors.empty());
    const auto newest = fs::last_write_time(Path("new.txt"));
    for (const char* name : {"old.txt", "mid.txt", "new.txt"})
        EXPECT_EQ(fs::last_write_time(Path("out") / name), newest) << name;
}

TEST_F(UnZipLayouts, TheDirectorysNameIsTheNameWritten)
{
    // Listed as readme.txt, its local header says autorun.sh.
    const std::string data = "#!/bin/sh\n";
    WriteText(Path("two_names.zip"), WithDirectory(LocalRecord("autorun.sh", data), {{"readme.txt", data, 0}}));
    const TUnZipRun r = RunUnZip(Path("two_names.zip"), Path("out"), false);
    EXPECT_EQ(ReadText(Path("out") / "readme.txt"), data);
    EXPECT_FALSE(fs::exists(Path("out") / "autorun.sh"));
    ASSERT_TRUE(r.Has(25249));
    EXPECT_EQ(r.ErrorNames.front(), "readme.txt");

    // Stored apart but decoded alike ("\" and "/"): one name, nothing reported.
    WriteText(Path("slashes.zip"), WithDirectory(LocalRecord("dir\\x.txt", data), {{"dir/x.txt", data, 0}}));
    const TUnZipRun same = RunUnZip(Path("slashes.zip"), Path("out2"), false);
    EXPECT_TRUE(same.Errors.empty());
    EXPECT_EQ(ReadText(Path("out2") / "dir" / "x.txt"), data);
}

TEST_F(UnZipLayouts, AUnicodePathCountsOnlyForTheNameItWasMadeWith)
{
    const std::string cp852 = "\xE9\x9F"
                              "etnictv\xA1.txt";  // "Účetnictví.txt"
    const std::string good = UnicodePath(cp852, "Účetnictví.txt", Crc32Of(cp852));
    const std::string stale = UnicodePath(cp852, "jiný.txt", Crc32Of("renamed"));
    const std::string a = LocalRecord(cp852, "a", good);
    const std::string b = LocalRecord("ren.txt", "b", stale);
    WriteText(Path("u.zip"), WithDirectory(a + b, {{cp852, "a", 0, good, 0x0014},
                                                   {"ren.txt", "b", std::uint32_t(a.size()), stale, 0x0014}}));
    const TUnZipRun r = RunUnZip(Path("u.zip"), Path("out"), false);
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_EQ(ReadText(Path("out") / "Účetnictví.txt"), "a");
    EXPECT_EQ(ReadText(Path("out") / "ren.txt"), "b");
}

TEST_F(UnZipLayouts, TheHostChoosesTargetsElsewhereButNeverClimbs)
{
    const std::string one = LocalRecord("one.txt", "first"), two = LocalRecord("two.txt", "second");
    WriteText(Path("a.zip"),
              WithDirectory(one + two, {{"one.txt", "first", 0}, {"two.txt", "second", std::uint32_t(one.size())}}));
    const fs::path out = Path("out"), elsewhere = Path("elsewhere");
    WriteText(out / "one.txt", "old");
    const TUnZipRun r = RunUnZip(Path("a.zip"), out, false, {}, [&](TUnZip& z) {
        z.ConfirmOverwrites = true;
        z.OverwriteMode = omSkip;
        z.OnFileExists = [&](TObject*, const std::string&, std::string& newName, TOverwriteMode&) {
            newName = ZDrivePath(elsewhere / "deeper" / "one.txt");
        };
        z.OnBegin = [](TObject*, const std::string&, int, bool& extract) { extract = true; };
        z.OnRenameFile = [&](TObject*, const std::string& name, std::string& newName) {
            if (name.ends_with("two.txt"))
                newName = ZDrivePath(elsewhere / "two.txt");
        };
    });
    EXPECT_TRUE(r.Errors.empty());
    EXPECT_EQ(ReadText(out / "one.txt"), "old");
    EXPECT_EQ(ReadText(elsewhere / "deeper" / "one.txt"), "first");
    EXPECT_EQ(ReadText(elsewhere / "two.txt"), "second");
    EXPECT_EQ(r.Ends.size(), 2u);

    const TUnZipRun climb = RunUnZip(Path("a.zip"), Path("out2"), false, {}, [&](TUnZip& z) {
        z.OnBegin = [](TObject*, const std::string&, int, bool& extract) { extract = true; };
        z.OnRenameFile = [&](TObject*, const std::string&, std::string& newName) { newName = "..\\..\\up.txt"; };
    });
    EXPECT_TRUE(climb.Has(25245));
    EXPECT_FALSE(fs::exists(scratch.Path().parent_path() / "up.txt"));
    EXPECT_FALSE(fs::exists(Path("up.txt")));
}

TEST_F(UnZipLayouts, AnExclusionFolderTakesEverythingBelowIt)
{
    std::string locals;
    std::vector<TCentral> dir;
    for (const std::string name : {"top.txt", "sub/a.txt", "sub/deep/b.txt", "x/sub/c.txt"}) {
        dir.push_back({name, name, std::uint32_t(locals.size())});
        locals += LocalRecord(name, name);
    }
    WriteText(Path("e.zip"), WithDirectory(locals, dir));
    const TUnZipRun r =
        RunUnZip(Path("e.zip"), Path("out"), false, {}, [](TUnZip& z) { z.SetExcludeSpec({"sub\\*"}); });
    EXPECT_TRUE(fs::exists(Path("out") / "top.txt"));
    EXPECT_FALSE(fs::exists(Path("out") / "x" / "sub"));
    EXPECT_FALSE(fs::exists(Path("out") / "sub"));
    EXPECT_EQ(r.Count, 1);
}

}  // namespace
