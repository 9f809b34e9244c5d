// Names and entries the ZIP writer produces, judged by the other archivers: Czech, Slovak and
// Japanese names extract to the same tree with unzip, 7zz and bsdtar as with our reader; PPMd
// entries carry NTFS times; overlapping masks and exclusion folders pick each file once.
#include "writers/plxZip.h"

#include "readers/plxUnZIP.h"
#include "support/ToolRun.h"
#include "tests/platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

// Every file below the folder by its relative path, with its bytes; folders as "<folder>".
std::map<std::string, std::string> Files(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        files[fs::relative(e.path(), folder).string()] = e.is_regular_file() ? ReadText(e.path()) : "<folder>";
    return files;
}

std::vector<std::string> EntryNames(const std::string& zip)
{
    std::vector<std::string> names;
    std::istringstream in(CaptureCommand("zipinfo -1 " + ShellQuote(zip)));
    for (std::string line; std::getline(in, line);)
        names.push_back(line);
    std::sort(names.begin(), names.end());
    return names;
}

class ZipNames : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        for (const char* tool : {"unzip", "zipinfo", "7zz", "bsdtar"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
        src = root + "/src";
    }

    int Compress(const std::string& zip, const std::vector<std::string>& specs,
                 const std::function<void(TZip&)>& setup = {})
    {
        TZip z;
        z.StoredDirNames = sdRelative;
        z.RecurseDirs = true;
        std::vector<std::string> engine;
        for (const auto& s : specs)
            engine.push_back(ZDrivePath(src) + "\\" + s);
        z.SetFileSpec(engine);
        if (setup)
            setup(z);
        z.SetArchiveFile(ZDrivePath(zip));
        return z.Compress();
    }

    std::string src;
};

TEST_F(ZipNames, CzechSlovakAndJapaneseNamesReadTheSameInEveryArchiver)
{
    WriteHostFile(src + "/Účetnictví/výkaz 2026.txt", "výkaz\n");
    WriteHostFile(src + "/Účetnictví/Příliš žluťoučký kůň/úpěl ďábelské ódy.txt", "ódy\n");
    WriteHostFile(src + "/Slovenčina/ďateľ ľúbi kôň a žiaľ.txt", "ľ\n");
    WriteHostFile(src + "/日本語/ファイル.txt", "nihon\n");
    WriteHostFile(src + "/plain.txt", "ascii\n");
    fs::create_directories(src + "/Prázdná složka");
    const std::string zip = root + "/names.zip";
    ASSERT_EQ(Compress(zip, {"*"},
                       [](TZip& z) {
                           z.CompressMethod = cmDeflate;
                           z.StoreEmptySubDirs = true;
                       }),
              6);

    const auto expected = Files(src);
    for (const std::string extract : {"unzip -qo %z -d %d", "7zz x -bso0 -y -o%d %z", "bsdtar -xf %z -C %d"}) {
        SCOPED_TRACE(extract);
        const std::string dest = root + "/x" + std::to_string(std::hash<std::string>{}(extract) % 1000);
        fs::create_directories(dest);
        std::string command = extract;
        command.replace(command.find("%z"), 2, ShellQuote(zip));
        command.replace(command.find("%d"), 2, ShellQuote(dest));
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(Files(dest), expected);
    }

    // Our reader takes the same names; the CP852 bytes stay for the readers that want them.
    TUnZip u;
    u.SetArchiveFile(ZDrivePath(zip));
    u.SetExtractDir(ZDrivePath(root + "/ours"));
    u.CreateStoredDirs = true;
    EXPECT_EQ(u.Extract(), 6);
    EXPECT_EQ(Files(root + "/ours"), expected);
    const std::string bytes = ReadHostFile(zip);
    EXPECT_NE(bytes.find("\xE9\x9F"
                         "etnictv\xA1/v\xEC"
                         "kaz 2026.txt"),
              std::string::npos);
}

TEST_F(ZipNames, PpmdEntriesCarryTheirNtfsTimes)
{
    std::string text;
    for (int i = 0; i < 5000; ++i)
        text += std::to_string(i) + " ppmd text\n";
    WriteHostFile(src + "/p.txt", text);
    const std::string zip = root + "/p.zip";
    ASSERT_EQ(Compress(zip, {"p.txt"}, [](TZip& z) { z.CompressMethod = cmPPMDi; }), 1);
    const std::string info = CaptureCommand("zipinfo -v " + ShellQuote(zip));
    EXPECT_NE(info.find("compression method:                             PPMd"), std::string::npos) << info;
    // Both headers: the local extra is listed by its length only.
    EXPECT_NE(info.find("A subfield with ID 0x000a (PKWARE Win32) and 32 data bytes"), std::string::npos) << info;
    EXPECT_NE(info.find("length of extra field:                          36 bytes"), std::string::npos) << info;
    const std::string slt = CaptureCommand("7zz l -slt " + ShellQuote(zip));
    EXPECT_NE(slt.find("Created = "), std::string::npos) << slt;
    EXPECT_EQ(std::system(("7zz t -bso0 " + ShellQuote(zip)).c_str()), 0);
    // The NTFS time is the file's own, in UTC: 7zz shows it in local time as the file has it.
    const std::string modified = slt.substr(slt.find("Modified = ") + 11, 16);
    struct stat st {};
    ASSERT_EQ(stat((src + "/p.txt").c_str(), &st), 0);
    char local[32];
    std::strftime(local, sizeof local, "%Y-%m-%d %H:%M", std::localtime(&st.st_mtime));
    EXPECT_EQ(modified, local);
}

TEST_F(ZipNames, OverlappingMasksStoreEachFileOnceAndExclusionFoldersTakeEverythingBelow)
{
    WriteHostFile(src + "/proj/a.txt", "a");
    WriteHostFile(src + "/proj/sub/b.txt", "b");
    WriteHostFile(src + "/proj/sub/c.dat", "c");
    WriteHostFile(src + "/proj/sub/deep/d.txt", "d");
    const std::string zip = root + "/o.zip";
    ASSERT_EQ(Compress(zip, {"proj\\*.txt", "proj\\sub\\*.*"}), 4);
    // Names count from each mask's folder; the first mask that finds a file names it.
    EXPECT_EQ(EntryNames(zip), (std::vector<std::string>{"a.txt", "c.dat", "sub/b.txt", "sub/deep/d.txt"}));
    EXPECT_EQ(std::system(("unzip -tqq " + ShellQuote(zip)).c_str()), 0);

    const std::string ex = root + "/e.zip";
    WriteHostFile(src + "/ex/sub/x.txt", "x");
    WriteHostFile(src + "/ex/sub/deep/y.txt", "y");
    WriteHostFile(src + "/ex/top.txt", "t");
    WriteHostFile(src + "/ex/x/sub/c.txt", "c");
    ASSERT_EQ(Compress(ex, {"ex\\*"}, [](TZip& z) { z.SetExcludeSpec({"sub\\*"}); }), 1);
    EXPECT_EQ(EntryNames(ex), std::vector<std::string>{"top.txt"});
}

}  // namespace

TEST_F(ZipNames, ARenameListenerIsAskedAgainForANameAnEntryHolds)
{
    WriteHostFile(src + "/old.txt", "old\n");
    const std::string zip = root + "/renamed.zip";
    ASSERT_EQ(Compress(zip, {"old.txt"}), 1);
    fs::remove(src + "/old.txt");
    WriteHostFile(src + "/a.txt", "a\n");
    WriteHostFile(src + "/b.txt", "b\n");
    // First a name the old entry holds, then one an entry of this run took, then free ones.
    std::map<std::string, std::vector<std::string>> answers = {{"a.txt", {"OLD.TXT", "x.txt"}},
                                                               {"b.txt", {"X.TXT", "Old.txt", "y.txt"}}};
    std::vector<std::string> asked;
    ASSERT_EQ(Compress(zip, {"*.txt"},
                       [&](TZip& z) {
                           z.OnRenameFile = [&](TObject*, const std::string& name, std::string& newName) {
                               const std::string file = fs::path(name).filename().string();
                               asked.push_back(file);
                               auto& left = answers[file];
                               newName = left.front();
                               left.erase(left.begin());
                           };
                       }),
              2);
    EXPECT_EQ(asked, (std::vector<std::string>{"a.txt", "a.txt", "b.txt", "b.txt", "b.txt"}));
    EXPECT_EQ(EntryNames(zip), (std::vector<std::string>{"old.txt", "x.txt", "y.txt"}));
}
