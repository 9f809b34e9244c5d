#include "FsTestSupport.h"

#include "platform/win/Errors.h"
#include "platform/win/RecycleBin.h"
#include "platform/win/SysFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

using win::DriveEntry;

namespace {

TEST(SysFiles, FileNamePartsFollowWindowsRules)
{
    struct Case {
        const char* name;
        const char* path;
        const char* dir;
        const char* file;
        const char* ext;
        const char* drive;
    };
    const Case cases[] = {
        {"C:\\a\\b.txt", "C:\\a\\", "C:\\a", "b.txt", ".txt", "C:"},
        {"C:\\b.tar.gz", "C:\\", "C:\\", "b.tar.gz", ".gz", "C:"},
        {"C:b", "C:", "C:", "b", "", "C:"},
        {"\\\\srv\\share\\dir\\f", "\\\\srv\\share\\dir\\", "\\\\srv\\share\\dir", "f", "", "\\\\srv\\share"},
        {"\\\\srv\\share", "\\\\srv\\", "\\\\srv", "share", "", "\\\\srv\\share"},
        {"dir.d\\noext", "dir.d\\", "dir.d", "noext", "", ""},
        {"\\top", "\\", "\\", "top", "", ""},
        {"Z:/usr/lib/x.so", "Z:/usr/lib/", "Z:/usr/lib", "x.so", ".so", "Z:"},
        {"", "", "", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.path, win::ExtractFilePath(c.name));
        EXPECT_EQ(c.dir, win::ExtractFileDir(c.name));
        EXPECT_EQ(c.file, win::ExtractFileName(c.name));
        EXPECT_EQ(c.ext, win::ExtractFileExt(c.name));
        EXPECT_EQ(c.drive, win::ExtractFileDrive(c.name));
    }
    EXPECT_EQ("C:\\a\\b.zip", win::ChangeFileExt("C:\\a\\b.txt", ".zip"));
    EXPECT_EQ("C:\\a.d\\b.zip", win::ChangeFileExt("C:\\a.d\\b", ".zip"));
    EXPECT_EQ("C:\\a\\b", win::ChangeFileExt("C:\\a\\b.txt", ""));
    EXPECT_EQ("C:\\a\\", win::IncludeTrailingPathDelimiter("C:\\a"));
    EXPECT_EQ("C:\\a\\", win::IncludeTrailingBackslash("C:\\a\\"));
    EXPECT_EQ("\\", win::IncludeTrailingPathDelimiter(""));
    EXPECT_EQ("C:\\a", win::ExcludeTrailingPathDelimiter("C:\\a\\"));
    EXPECT_EQ("C:\\a", win::ExcludeTrailingPathDelimiter("C:\\a"));
}

class SysFilesTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false}});
    }
};

TEST_F(SysFilesTest, ExistenceAndForcedFolders)
{
    WriteHostFile(home + "/file.txt", "x");
    std::filesystem::create_symlink(home + "/file.txt", home + "/link");
    std::filesystem::create_symlink(home + "/gone", home + "/dangling");
    EXPECT_TRUE(win::FileExists("C:\\FILE.TXT"));
    EXPECT_TRUE(win::FileExists("C:\\link"));
    EXPECT_FALSE(win::FileExists("C:\\dangling"));
    EXPECT_FALSE(win::FileExists("C:\\"));
    EXPECT_FALSE(win::FileExists(""));
    EXPECT_TRUE(win::DirectoryExists("C:\\"));
    EXPECT_FALSE(win::DirectoryExists("C:\\file.txt"));
    EXPECT_FALSE(win::DirectoryExists("Q:\\"));

    EXPECT_TRUE(win::ForceDirectories("C:\\a\\b\\c\\"));
    EXPECT_TRUE(win::DirectoryExists("C:\\A\\B\\C"));
    EXPECT_TRUE(win::ForceDirectories("C:\\a\\b"));
    EXPECT_FALSE(win::ForceDirectories("C:\\file.txt\\sub"));
    EXPECT_FALSE(win::ForceDirectories(""));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\a"));
    EXPECT_EQ("C:\\a\\x.zip", win::ExpandFileName("b\\..\\x.zip"));
}

TEST_F(SysFilesTest, RecycleBinKeepsEveryDeletedItemRestorable)
{
    WriteHostFile(home + "/old.zip", "first");
    SHFILEOPSTRUCTA op;
    op.wFunc = FO_DELETE;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_RENAMEONCOLLISION;
    op.pFrom = "C:\\old.zip\0";
    ASSERT_EQ(0, SHFileOperationA(&op));
    WriteHostFile(home + "/old.zip", "second");
    ASSERT_EQ(0, SHFileOperationA(&op));
    EXPECT_FALSE(std::filesystem::exists(home + "/old.zip"));

    const std::string trash = root + "/data/Trash";
    EXPECT_EQ(trash, win::TrashFolder());
    EXPECT_EQ("first", ReadHostFile(trash + "/files/old.zip"));
    EXPECT_EQ("second", ReadHostFile(trash + "/files/old.zip.2"));
    const std::string info = ReadHostFile(trash + "/info/old.zip.trashinfo");
    EXPECT_EQ(0u, info.find("[Trash Info]\nPath=" + home + "/old.zip\nDeletionDate=")) << info;

    WriteHostFile(home + "/with space %.txt", "x");
    ASSERT_TRUE(win::MoveToRecycleBin("C:\\with space %.txt"));
    EXPECT_NE(std::string::npos,
              ReadHostFile(trash + "/info/with space %.txt.trashinfo").find("/with%20space%20%25.txt\n"));

    EXPECT_NE(0, SHFileOperationA(&op));  // nothing left to delete
    EXPECT_EQ((std::set<std::string>{"old.zip", "old.zip.2", "with space %.txt"}), NamesIn(trash + "/files"));
    EXPECT_EQ(3u, NamesIn(trash + "/info").size());  // no record without its item

    // Without undo, a folder goes for good with its contents.
    WriteHostFile(home + "/tree/x/y.txt", "y");
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    op.pFrom = "C:\\tree\0";
    EXPECT_EQ(0, SHFileOperationA(&op));
    EXPECT_FALSE(std::filesystem::exists(home + "/tree"));
    EXPECT_EQ(3u, NamesIn(trash + "/files").size());
}

class FileDates : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        if (const char* old = std::getenv("TZ"))
            savedTz = old;
        setenv("TZ", "Europe/Prague", 1);
    }
    void TearDown() override
    {
        if (savedTz)
            setenv("TZ", savedTz->c_str(), 1);
        else
            unsetenv("TZ");
        FsTest::TearDown();
    }
    static std::int32_t Dos(int year, int month, int day, int hour, int minute, int second)
    {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(((year - 1980) << 9) | (month << 5) | day) << 16 |
                                         static_cast<std::uint32_t>((hour << 11) | (minute << 5) | (second / 2)));
    }
    std::optional<std::string> savedTz;
};

TEST_F(FileDates, LocalDosStampsRoundTripThroughTheFile)
{
    WriteHostFile(home + "/a.txt", "x");
    struct stat st {};

    // Summer and winter time: the stamp is local, the host keeps UTC.
    ASSERT_EQ(0u, win::FileSetDate("C:\\A.TXT", Dos(2023, 7, 15, 10, 20, 30)));
    ASSERT_EQ(0, stat((home + "/a.txt").c_str(), &st));
    EXPECT_EQ(1689409230, st.st_mtime);  // 2023-07-15 08:20:30 UTC
    EXPECT_EQ(Dos(2023, 7, 15, 10, 20, 30), win::FileAge("C:\\a.txt"));
    ASSERT_EQ(0u, win::FileSetDate("C:\\a.txt", Dos(2047, 1, 2, 3, 4, 6)));  // date word above 0x7FFF
    ASSERT_EQ(0, stat((home + "/a.txt").c_str(), &st));
    EXPECT_EQ(2430007446, st.st_mtime);  // 2047-01-02 02:04:06 UTC
    EXPECT_EQ(Dos(2047, 1, 2, 3, 4, 6), win::FileAge("C:\\a.txt"));

    // Before 1980 reads as the first DOS stamp, not as a missing file.
    const timespec old[2] = {{0, UTIME_OMIT}, {86400 * 365, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, (home + "/a.txt").c_str(), old, 0));
    EXPECT_EQ(Dos(1980, 1, 1, 0, 0, 0), win::FileAge("C:\\a.txt"));

    // Folders and missing files have no age; invalid stamps and read-only files are refused.
    std::filesystem::create_directories(home + "/dir");
    EXPECT_EQ(-1, win::FileAge("C:\\dir"));
    EXPECT_EQ(-1, win::FileAge("C:\\none.txt"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, win::FileSetDate("C:\\none.txt", Dos(2023, 7, 15, 10, 20, 30)));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, win::FileSetDate("C:\\a.txt", Dos(2023, 13, 15, 10, 20, 30)));
    ASSERT_TRUE(SetFileAttributesA("C:\\a.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ERROR_ACCESS_DENIED, win::FileSetDate("C:\\a.txt", Dos(2023, 7, 15, 10, 20, 30)));
    EXPECT_EQ(Dos(1980, 1, 1, 0, 0, 0), win::FileAge("C:\\a.txt"));
}

}  // namespace
