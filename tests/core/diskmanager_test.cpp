#include <gtest/gtest.h>

#include "core/DiskManager.h"
#include "core/plxHooks.h"
#include "tests/platform/win/FsTestSupport.h"

namespace {

struct Reported {
    int code;
    std::string file, extended;
};

class DiskManager : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        std::filesystem::create_directories(root + "/floppy");
        std::filesystem::create_directories(root + "/almost");
        SetTable("PKBACK# 001");
        reporter = [this](const std::string& file, const std::string& extended, const std::string&, int code) {
            reports.push_back({code, file, extended});
        };
    }
    void TearDown() override
    {
        ProcessMessagesHook = nullptr;
        MessageBoxHook = nullptr;
        FsTest::TearDown();
    }

    void SetTable(const std::string& floppyLabel)
    {
        win::SetDriveTable({Drive('C', DRIVE_FIXED, home),
                            Drive('A', DRIVE_REMOVABLE, root + "/floppy", 1'457'664, floppyLabel),
                            Drive('B', DRIVE_REMOVABLE, root + "/almost", 1'457'665),
                            Drive('G', DRIVE_REMOVABLE, root + "/empty-drive", 1'457'664)});
    }

    TDiskErrorReporter reporter;
    std::vector<Reported> reports;
};

class FakeSpanOwner : public TSpanDiskReaderOwner {
public:
    std::string SpanArchiveFile() const override { return File; }
    void RedetectArchive() override
    {
        ++Detections;
        Headers = EndFound ? HeaderBit(htEnding) : 0;
    }
    TArcType SpanArcType() const override { return Type; }
    THeaderTypeState SpanHeaderState() const override { return Headers; }
    void CloseArchiveStream() override { Open = false; }
    bool OpenArchiveStream() override { return Open = true; }
    TDiskManager& SpanDiskManager() override { return Disks; }

    std::string File = "A:\\set.zip";
    TArcType Type = atZipDS;
    THeaderTypeState Headers = 0;
    bool EndFound = false;
    bool Open = false;
    int Detections = 0;
    TDiskManager Disks;
};

}  // namespace

TEST(PkBackLabels, DiskNumbers)
{
    EXPECT_EQ(GetPkBackDiskNumber("PKBACK# 003"), 3);
    EXPECT_EQ(GetPkBackDiskNumber("PKBACK# 3a"), 0);
    EXPECT_EQ(GetPkBackDiskNumber("BACKUP"), 0);
    EXPECT_EQ(GetPkBackDiskNumber("PKBACK# "), 0);
    EXPECT_EQ(GetPkBackDiskNumber("PKBACK# 99999999999999"), 0);
    EXPECT_EQ(DriveTypeNameOf(5), "CD-ROM");
}

TEST_F(DiskManager, FloppiesLabelsAndSpace)
{
    WriteHostFile(root + "/floppy/x.bin", std::string(1000, 'x'));
    TDiskManager disks;
    ASSERT_TRUE(disks.GetDiskInfo("A:\\x.bin", {}, {}, reporter));
    EXPECT_EQ(disks.RootPath, "A:\\");
    EXPECT_EQ(disks.DriveNumber, 1);
    EXPECT_EQ(disks.DriveType, DRIVE_REMOVABLE);
    EXPECT_EQ(disks.DriveTypeName, "Removable");
    EXPECT_EQ(disks.VolumeLabel, "PKBACK# 001");
    EXPECT_EQ(disks.DiskNumber, 1);
    EXPECT_EQ(disks.TotalSpace, 1'457'664);
    EXPECT_EQ(disks.FreeSpace, 1'457'664 - 1000);
    EXPECT_TRUE(disks.Floppy);
    EXPECT_EQ(disks.SerialHex.size(), 8u);

    ASSERT_TRUE(disks.GetDiskInfo("B:\\", {}, {}, reporter));
    EXPECT_FALSE(disks.Floppy);
    EXPECT_TRUE(reports.empty());

    // A relative path is on the current folder's drive.
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    ASSERT_TRUE(disks.GetDiskInfo("file.zip", {}, {}, reporter));
    EXPECT_EQ(disks.RootPath, "C:\\");
    EXPECT_EQ(disks.DriveType, DRIVE_FIXED);
}

TEST_F(DiskManager, EmptyDriveAsksAndEndsOnAbortOrCancel)
{
    TDiskManager disks;
    EXPECT_FALSE(disks.GetDiskInfo("G:\\set.zip", {}, {}, reporter));
    ASSERT_EQ(reports.size(), 1u);  // reported once, no retry without a hook
    EXPECT_EQ(reports[0].code, 25170);
    EXPECT_EQ(reports[0].file, "G:\\");

    reports.clear();
    int asked = 0;
    EXPECT_FALSE(disks.GetDiskInfo(
        "G:\\set.zip", [&](TObject*, bool&) { ++asked; }, {}, reporter));
    EXPECT_EQ(asked, 1);  // Abort preset to True
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, E_USERCANCEL);

    // The user inserts the disk on the third prompt; messages are pumped between prompts.
    int pumps = 0;
    ProcessMessagesHook = [&] { ++pumps; };
    asked = 0;
    reports.clear();
    auto insertLater = [&](TObject*, bool& abort) {
        if (++asked == 3)
            std::filesystem::create_directories(root + "/empty-drive");
        abort = false;
    };
    EXPECT_TRUE(disks.GetDiskInfo("G:\\set.zip", insertLater, {}, reporter));
    EXPECT_EQ(asked, 3);
    EXPECT_GE(pumps, 3);
    EXPECT_TRUE(reports.empty());

    // A Cancel button pressed during the pump ends the wait even when the prompt says retry.
    std::filesystem::remove(root + "/empty-drive");
    bool cancelled = false;
    ProcessMessagesHook = [&] { cancelled = true; };
    EXPECT_FALSE(disks.GetDiskInfo(
        "G:\\set.zip", [](TObject*, bool& abort) { abort = false; }, {}, reporter, nullptr, &cancelled));
    EXPECT_EQ(reports.back().code, E_USERCANCEL);
}

TEST_F(DiskManager, RetryBoxTextAndFileHelpers)
{
    std::string shown;
    unsigned style = 0;
    MessageBoxHook = [&](const std::string& text, const std::string&, unsigned s) {
        shown = text;
        style = s;
        return IDRETRY;
    };
    SetLastError(ERROR_NOT_READY);
    TDiskManager disks;
    EXPECT_TRUE(disks.AskRetry("g:\\"));
    EXPECT_EQ(shown.rfind("G:\\is not accessible\r\n\r\n", 0), 0u) << shown;
    EXPECT_EQ(style, 21u);
    MessageBoxHook = nullptr;
    EXPECT_FALSE(disks.AskRetry("g:\\"));  // no GUI: never wait for an answer

    EXPECT_EQ(OpenFileForUpdate(reporter, "C:\\missing.zip"), INVALID_HANDLE_VALUE);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, 25235);
    EXPECT_EQ(reports[0].file, "C:\\missing.zip");
    WriteHostFile(home + "/f.bin", "x");
    const HANDLE file = OpenFileForUpdate(reporter, "C:\\f.bin");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_NE(GetFileDosTime(file, 1), 0u);
    EXPECT_EQ(GetFileDosTime(file, 3), 0u);
    CloseHandle(file);
}

TEST_F(DiskManager, SpannedSetAsksForTheRightDisks)
{
    FakeSpanOwner owner;
    TSpanDiskReader span;
    bool cancelFlag = false;
    span.Init(&owner, nullptr, &cancelFlag, {}, {}, reporter);

    // Missing required events are reported by name and cancel the run.
    EXPECT_FALSE(span.OpenDisk(0));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].code, E_REQUIREDEVENT);
    EXPECT_EQ(reports[0].extended, "OnGetZipLastDisk");
    EXPECT_TRUE(cancelFlag);

    // Last disk: asked for until detection finds the end record.
    cancelFlag = false;
    int lastAsked = 0;
    owner.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
        owner.EndFound = ++lastAsked == 2;
        cancel = false;
    };
    ASSERT_TRUE(span.OpenDisk(0));
    EXPECT_EQ(lastAsked, 2);
    EXPECT_EQ(span.DiskState, 1);
    EXPECT_TRUE(owner.Open);

    // First disk: the local header must sit at the wanted offset.
    reports.clear();
    owner.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
        WriteHostFile(root + "/floppy/set.zip", std::string("PK\x03\x04", 4) + std::string(100, '\0'));
        cancel = false;
    };
    ASSERT_TRUE(span.OpenDisk(0));
    EXPECT_EQ(span.DiskState, 2);

    // Next disk: an offset past the end is checked by the disk number in the label.
    std::vector<std::string> volumes;
    owner.OnGetZipNextDisk = [&](TObject*, const std::string& volume, bool& cancel) {
        volumes.push_back(volume);
        if (volumes.size() == 2)
            SetTable("PKBACK# 002");
        cancel = false;
    };
    ASSERT_TRUE(span.OpenDisk(5000));
    EXPECT_EQ(volumes, (std::vector<std::string>{"2", "2"}));
    EXPECT_EQ(span.DiskState, 3);

    // Cancel in the prompt fails and sets the component's cancel flag.
    owner.OnGetZipNextDisk = [](TObject*, const std::string&, bool&) {};
    EXPECT_FALSE(span.OpenDisk(5000));
    EXPECT_TRUE(cancelFlag);
    EXPECT_FALSE(owner.Open);
}
