// What every extractor answers and tells along the way: the count is the entries really written
// (or passed in a test), OnBegin carries each entry's own number, and folders get their stored
// times back as unzip and tar give them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnTar.h"
#include "support/ToolRun.h"
#include "support/Reports.h"

namespace fs = std::filesystem;

namespace {

std::int64_t MTimeOf(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

class ExtractResultsTest : public FsTest {
protected:
    void Run(const std::string& command) { ASSERT_EQ(dir.Run("cd " + ShellQuote(home) + " && " + command), 0) << command; }

    // Runs one extraction of the archive in home into out and keeps what the events told.
    template <class TComponent> int Extract(const std::string& archive, const std::string& out, bool test = false,
                                            const std::function<void(TComponent&)>& setup = {})
    {
        TComponent un;
        begins.clear();
        ends.clear();
        codes.clear();
        un.OnError = CollectCodes(codes);
        un.OnBegin = [this](TObject*, const std::string&, int count, bool& extract) {
            begins.push_back(count);
            extract = extract && !declined.count(int(begins.size()));
        };
        un.OnEnd = [this](TObject*, const std::string&, bool pass) { ends.push_back(pass); };
        un.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\");
        un.SetArchiveFile("C:\\" + archive);
        un.SetExtractDir("C:\\" + out);
        if (setup)
            setup(un);
        return test ? un.TestArchive() : un.Extract();
    }

    TScratchDir dir;
    std::vector<int> begins;
    std::vector<bool> ends;
    std::vector<int> codes;
    std::set<int> declined;  // entries (by order of OnBegin) the host declines
};

TEST_F(ExtractResultsTest, CountsAreWhatWasWrittenAndEachEntryHasItsOwnNumber)
{
    WriteHostFile(home + "/src/a.txt", "first");
    WriteHostFile(home + "/src/b.txt", "second");
    WriteHostFile(home + "/src/sub/c.txt", "third");
    Run("cd src && ln -s a.txt link && tar cf ../t.tar a.txt b.txt sub link");

    // A TAR: the folder, the declined entry, the kept file and the link are not counted.
    WriteHostFile(home + "/out/sub/c.txt", "mine");
    declined = {2};
    EXPECT_EQ(Extract<TUnTar>("t.tar", "out", false, [](TUnTar& un) { un.OverwriteMode = omSkip; }), 1);
    EXPECT_EQ(begins, (std::vector<int>{1, 2, 4}));  // a.txt, b.txt, (the folder sub/), sub/c.txt
    EXPECT_EQ(ReadHostFile(home + "/out/sub/c.txt"), "mine");
    EXPECT_EQ(codes, std::vector<int>{E_SKIPPEDFILE});
    declined.clear();
    EXPECT_EQ(Extract<TUnTar>("t.tar", "never", true), 3);

    // A .gz and a .bz2 whose data fails its check: nothing written, nothing counted.
    WriteHostFile(home + "/data", std::string(50000, 'x') + "tail");
    Run("gzip -c data > d.gz && bzip2 -c data > d.bz2");
    std::string gz = ReadHostFile(home + "/d.gz");
    gz[gz.size() - 8] ^= 1;  // the stored CRC
    WriteHostFile(home + "/bad.gz", gz);
    EXPECT_EQ(Extract<TUnGZip>("bad.gz", "gz"), 0);
    EXPECT_EQ(begins, std::vector<int>{1});
    EXPECT_EQ(ends, std::vector<bool>{false});
    EXPECT_EQ(Extract<TUnGZip>("bad.gz", "gz", true), 0);
    EXPECT_EQ(Extract<TUnBZip>("d.bz2", "bz"), 1);
    EXPECT_EQ(begins, std::vector<int>{1});

    // A ZIP with one damaged member of three.
    Run("cd src && zip -q0 ../z.zip a.txt b.txt sub/c.txt");
    std::string zip = ReadHostFile(home + "/z.zip");
    const std::size_t at = zip.find("second");
    ASSERT_NE(at, std::string::npos);
    zip[at] ^= 0x20;
    WriteHostFile(home + "/z.zip", zip);
    EXPECT_EQ(Extract<TUnZip>("z.zip", "zip"), 2);
    EXPECT_EQ(begins, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ends, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Extract<TUnZip>("z.zip", "never", true), 2);

    // The command-line tool prints the same count.
    const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
    if (fs::exists(tool)) {
        const std::string said = dir.Capture("cd " + ShellQuote(home) + " && " + tool + " extract z.zip cli 2>/dev/null");
        EXPECT_EQ(said, "extracted 2, reports 1\n");
    }
}

TEST_F(ExtractResultsTest, FolderTimesComeBackFromZipAndTarFolderEntries)
{
    WriteHostFile(home + "/src/top/mid/leaf/f.txt", "data");
    WriteHostFile(home + "/src/top/g.txt", "more");
    fs::create_directories(home + "/src/top/empty");
    std::int64_t t = 1500000000;
    for (const char* folder : {"src/top/mid/leaf", "src/top/mid", "src/top/empty", "src/top"})
        Run("touch -d @" + std::to_string(t += 1000) + " " + folder);
    Run("cd src && zip -qr ../f.zip top && tar cf ../f.tar top");
    Run("mkdir ref-zip && cd ref-zip && unzip -q ../f.zip");
    Run("mkdir ref-tar && cd ref-tar && tar xf ../f.tar");

    Extract<TUnZip>("f.zip", "out-zip");
    Extract<TUnTar>("f.tar", "out-tar");
    for (const char* folder : {"top/mid/leaf", "top/mid", "top/empty", "top"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(MTimeOf(home + "/out-zip/" + folder), MTimeOf(home + "/ref-zip/" + folder));
        EXPECT_EQ(MTimeOf(home + "/out-tar/" + folder), MTimeOf(home + "/ref-tar/" + folder));
        EXPECT_EQ(MTimeOf(home + "/out-tar/" + folder), MTimeOf(home + "/src/" + folder));
    }
}

}  // namespace
