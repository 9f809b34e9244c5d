#include <gtest/gtest.h>

#include "core/plxFileScan.h"
#include "core/plxHooks.h"
#include "tests/platform/win/FsTestSupport.h"

#include <sys/stat.h>

namespace {

class FileScan : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        WriteHostFile(home + "/t/a.txt", "aaa");
        WriteHostFile(home + "/t/b.doc", "bb");
        WriteHostFile(home + "/t/my file.txt", "m");
        WriteHostFile(home + "/t/c.bin", "c");
        WriteHostFile(home + "/t/.profile.txt", "p");
        WriteHostFile(home + "/t/sub/d.txt", "dddd");
        WriteHostFile(home + "/t/.git/e.txt", "e");
        // Loops back to the top: a walk that follows it never ends.
        std::filesystem::create_directory_symlink(home + "/t", home + "/t/sub/loop");
        ASSERT_EQ(mkfifo((home + "/t/sub/pipe.txt").c_str(), 0600), 0);
        scan.SetRootDir("C:\\t");
    }

    std::set<std::string> Found()
    {
        std::set<std::string> names;
        for (int i = 0; i < scan.FilesList().Count(); ++i) {
            const TFileObject& f = scan.FilesList()[i];
            names.insert(f.Dir.substr(5) + (f.FileName.empty() ? "<dir>" : f.FileName));
        }
        return names;
    }

    TplxFileScan scan;
};

}  // namespace

TEST_F(FileScan, MasksRecursionHiddenFoldersLinksAndPipes)
{
    int pumps = 0;
    ProcessMessagesHook = [&] { ++pumps; };
    std::vector<std::string> recursed;
    scan.OnRecurseDir = [&](TObject*, const std::string& dir) { recursed.push_back(dir); };
    int finishedCount = -1;
    std::int64_t finishedBytes = -1;
    scan.OnFinished = [&](TObject*, int count, std::int64_t bytes) {
        finishedCount = count;
        finishedBytes = bytes;
    };
    scan.MaskString = "*.txt,  *.doc ";
    scan.Scan();
    ProcessMessagesHook = nullptr;
    EXPECT_EQ(Found(), (std::set<std::string>{"a.txt", "b.doc", "my file.txt", ".profile.txt", "sub\\d.txt"}));
    EXPECT_EQ(finishedCount, 5);
    EXPECT_EQ(finishedBytes, 3 + 2 + 1 + 1 + 4);
    EXPECT_EQ(recursed, (std::vector<std::string>{"C:\\t\\", "C:\\t\\sub\\"}));
    EXPECT_GT(pumps, 5);

    scan.IncludeHiddenDirs = true;
    scan.MaskString = "my file.txt";
    scan.Scan();
    EXPECT_EQ(Found(), (std::set<std::string>{"my file.txt"}));
    scan.MaskString = "e.txt";
    scan.Scan();
    EXPECT_EQ(Found(), (std::set<std::string>{".git\\e.txt"}));

    // Even with links and system files selected, the loop is not followed and the FIFO not taken.
    scan.Attributes = 0x3FF;
    scan.AttributesEx = 0;
    scan.MaskString = "*.txt";
    scan.Scan();
    // Folders are listed without a name under their parent: .git and sub in t, loop in sub.
    EXPECT_EQ(Found(), (std::set<std::string>{"<dir>", "sub\\<dir>", "a.txt", "my file.txt", ".profile.txt",
                                              "sub\\d.txt", ".git\\e.txt"}));
    EXPECT_EQ(scan.FilesList().Count(), 8);
}

TEST_F(FileScan, AttributeFiltersAndCounting)
{
    std::filesystem::permissions(home + "/t/b.doc", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    scan.RecurseDirs = false;
    scan.AttributesEx = AttrBit(fsReadOnly);
    scan.Scan();
    EXPECT_EQ(Found(), (std::set<std::string>{"a.txt", "my file.txt", "c.bin", ".profile.txt"}));

    scan.AttributesEx = AttrBit(fsHidden);
    scan.Attributes = AttrBit(fsReadOnly);
    scan.Scan();
    EXPECT_EQ(Found(), (std::set<std::string>{"b.doc"}));

    EXPECT_TRUE(AttributesSelected(0x2000, 0, 0));  // not-content-indexed always passes the include test
    EXPECT_FALSE(AttributesSelected(0x2000 | 0x01, 0, AttrBit(fsReadOnly)));  // unless the exclude set drops it
    EXPECT_TRUE(AttributesSelected(0x80, AttrBit(fsZeroAttr), 0));
    EXPECT_FALSE(AttributesSelected(0x08, AttrBit(fsVolumeID), 0));

    // Counting only: the list stays empty.
    scan.Attributes = DefaultAttributes;
    scan.AttributesEx = DefaultAttributesEx;
    scan.UpdateList = false;
    scan.Scan();
    EXPECT_EQ(scan.FilesList().Count(), 0);
    EXPECT_EQ(scan.FilesFound(), 5);

    // Cancel from an event ends the walk.
    scan.UpdateList = true;
    scan.RecurseDirs = true;
    scan.OnScanFile = [&](TObject*, const std::string&, int count, std::int64_t) {
        if (count == 2)
            scan.Cancel();
    };
    scan.Scan();
    EXPECT_EQ(scan.FilesFound(), 2);
    EXPECT_TRUE(scan.Aborted());
}

TEST_F(FileScan, FileSpecRoundsMergeMasksPerFolder)
{
    std::vector<std::string> roots;
    scan.OnRootDirChange = [&](TObject*, const std::string& dir) { roots.push_back(dir); };
    scan.SetFileSpec({"C:\\t\\a.txt", " ", "c:\\T\\*.txt", "C:\\t\\sub\\*.*", "C:\\t\\c.bin"});
    EXPECT_TRUE(scan.MaskString.empty());
    scan.RecurseDirs = false;
    scan.Scan();
    EXPECT_EQ(roots, (std::vector<std::string>{"C:\\t\\", "C:\\t\\sub\\"}));
    EXPECT_EQ(Found(), (std::set<std::string>{"a.txt", "my file.txt", ".profile.txt", "c.bin", "sub\\d.txt"}));
    EXPECT_TRUE(scan.FileSpec().empty());
}

TEST_F(FileScan, SortingUsesWholeSizesAndStamps)
{
    // 4 GiB + 1 byte has the same low size word as a 1-byte file: only the whole size tells them apart.
    std::filesystem::create_directory(home + "/s");
    WriteHostFile(home + "/s/one.bin", "1");
    WriteHostFile(home + "/s/mid.bin", std::string(1000, 'm'));
    std::filesystem::resize_file(home + "/s/one.bin", 1);
    {
        std::ofstream(home + "/s/big.bin");
    }
    std::filesystem::resize_file(home + "/s/big.bin", (4ull << 30) + 1);
    scan.SetRootDir("C:\\s");
    scan.SetSorted(soBySize);
    scan.Scan();
    ASSERT_EQ(scan.FilesList().Count(), 3);
    EXPECT_EQ(scan.FilesList()[0].FileName, "one.bin");
    EXPECT_EQ(scan.FilesList()[1].FileName, "mid.bin");
    EXPECT_EQ(scan.FilesList()[2].FileName, "big.bin");

    int finished = 0;
    scan.OnFinished = [&](TObject*, int, std::int64_t) { ++finished; };
    scan.SetSorted(soByName);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(scan.FilesList()[0].FileName, "big.bin");

    // DOS stamps after 2043 have the top bit set and still sort after older ones.
    TFilesList list;
    list.SetSortKey(soByTime);
    for (std::uint32_t stamp : {0x80210000u, 0x58210000u, 0x00210000u}) {
        auto item = std::make_unique<TFileObject>();
        item->DosDateTime = stamp;
        list.Add(std::move(item));
    }
    EXPECT_EQ(list[0].DosDateTime, 0x00210000u);
    EXPECT_EQ(list[2].DosDateTime, 0x80210000u);
    int index = -1;
    TFileObject probe;
    probe.DosDateTime = 0x58210000u;
    EXPECT_TRUE(list.Find(probe, index));
    EXPECT_EQ(index, 1);
}

TEST_F(FileScan, DriveScanSkipsKernelFolders)
{
    WriteHostFile(root + "/ram/r.txt", "r");
    WriteHostFile(root + "/media/m.txt", "m");
    win::SetDriveTable({Drive('C', DRIVE_FIXED, home), Drive('E', DRIVE_REMOVABLE, root + "/media"),
                        Drive('P', DRIVE_FIXED, "/proc"), Drive('R', DRIVE_RAMDISK, root + "/ram")});
    scan.ScanOptions = soScanDrvs;
    scan.MaskString = "r.txt,d.txt";
    scan.Scan();
    std::set<std::string> names;
    for (int i = 0; i < scan.FilesList().Count(); ++i)
        names.insert(scan.FilesList()[i].Dir + scan.FilesList()[i].FileName);
    EXPECT_EQ(names, (std::set<std::string>{"C:\\t\\sub\\d.txt", "R:\\r.txt"}));
}
