// Spanned sets on removable drives of the drive table: the reader asks for the disks it needs,
// by their 1-based labels, and reads the set back whole.
#include <gtest/gtest.h>

#include "readers/plxUnZIP.h"
#include "support/Reports.h"
#include "tests/platform/win/FsTestSupport.h"
#include "tests/support/FloppyDrive.h"
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

class SpannedRead : public FsTest {
protected:
    // A tree of about 300 KB that zip splits into 64 KB volumes; the volumes, first to last.
    std::vector<std::string> MakeSplitSet()
    {
        const fs::path src = fs::path(root) / "src";
        WriteHostFile((src / "a.txt").string(), "hello\n");
        WriteHostFile((src / "sub" / "noise.bin").string(), RandomBytes(200000, 7));
        std::string text;
        for (int i = 0; i < 30000; ++i)
            text += std::to_string(i * 7919 % 10007) + (i % 11 ? " " : "\n");
        WriteHostFile((src / "sub" / "deep" / "text.txt").string(), text);
        WriteHostFile((src / "Účetnictví" / "ódy.txt").string(), RandomBytes(90000, 9));
        EXPECT_EQ(std::system(("cd '" + src.string() + "' && zip -qr -s 64k ../set.zip .").c_str()), 0);
        std::vector<std::string> volumes;
        for (int i = 1; fs::exists(fs::path(root) / ("set.z0" + std::to_string(i))); ++i)
            volumes.push_back(ReadHostFile(root + "/set.z0" + std::to_string(i)));
        volumes.push_back(ReadHostFile(root + "/set.zip"));
        return volumes;
    }
};

TEST_F(SpannedRead, TheSetIsReadBackDiskByDiskByItsLabels)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    const std::vector<std::string> disks = MakeSplitSet();
    ASSERT_GE(disks.size(), 4u);
    const int last = int(disks.size());
    TFloppyDrive floppy('A', fs::path(root) / "floppy", 1'457'664);
    auto insert = [&](int n) { floppy.Insert(PkBackLabel(n), {{"set.zip", disks[std::size_t(n - 1)]}}); };

    std::vector<std::string> asked;
    std::vector<int> errors;
    auto run = [&](const std::string& out, const std::function<bool(int)>& answer) {
        TUnZip unzip;
        unzip.OnError = CollectCodes(errors);
        unzip.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
            asked.push_back("last");
            cancel = !answer(last);
        };
        unzip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
            asked.push_back("1");
            cancel = !answer(1);
        };
        unzip.OnGetZipNextDisk = [&](TObject*, const std::string& volume, bool& cancel) {
            asked.push_back(volume);
            cancel = !answer(std::stoi(volume));
        };
        unzip.SetArchiveFile("A:\\set.zip");
        EXPECT_EQ(unzip.ArcType(), atZipDS);
        unzip.SetExtractDir(win::ToWindowsPath(root + "/" + out));
        unzip.CreateStoredDirs = true;
        return unzip.Extract();
    };

    // The last disk is in the drive; the reader asks for the first, then each next one by its
    // label's number, never for a disk it already holds.
    insert(1);
    const int count = run("out", [&](int n) {
        insert(n);
        return true;
    });
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(count, 7);  // four files, three folders
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked.front(), "last");
    for (std::size_t i = 1; i < asked.size(); ++i)
        EXPECT_EQ(asked[i], std::to_string(i)) << "request " << i;
    auto expected = HostTree(fs::path(root) / "src");
    EXPECT_EQ(HostTree(fs::path(root) / "out"), expected);

    // A wrong disk is refused and asked for again.
    asked.clear();
    insert(last);
    bool wrongOnce = false;
    EXPECT_EQ(run("out2",
                  [&](int n) {
                      if (n == 2 && !wrongOnce) {
                          wrongOnce = true;
                          insert(3);
                      } else {
                          insert(n);
                      }
                      return true;
                  }),
              7);
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "2"), 2);
    EXPECT_EQ(HostTree(fs::path(root) / "out2"), expected);

    // A cancelled prompt ends the run with a report, never a quiet success.
    errors.clear();
    insert(last);
    const int cancelled = run("out3", [&](int n) {
        insert(n);
        return n < 3;
    });
    EXPECT_LT(cancelled, 7);
    EXPECT_FALSE(errors.empty());
}

}  // namespace
