// Lookups without case answer from a remembered listing of the folder, so that making many files in
// one folder reads it a bounded number of times; the listing follows our own changes and the
// folder's time stamp.
#include "FsTestSupport.h"

#include "platform/win/Errors.h"
#include "platform/win/FolderNames.h"
#include "platform/win/TempFiles.h"

#include <fcntl.h>
#include <sys/stat.h>

using win::DriveEntry;

namespace {

class FolderNamesTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false}});
    }

    std::string Host(const std::string& path)
    {
        std::string host;
        EXPECT_TRUE(win::ToHostPath(path, host)) << path;
        return host;
    }

    // Another process's change within one time-stamp tick of ours would not show; a test moves
    // the stamp on as a later tick would.
    static void TouchFolderStamp(const std::string& folder, int seconds)
    {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, folder.c_str(), times, 0));
    }
};

TEST_F(FolderNamesTest, ListingFollowsOurChangesAndOthersAndIsReadOncePerFolder)
{
    WriteHostFile(home + "/Data/KNIHA.DAT", "book");
    EXPECT_EQ(home + "/Data/KNIHA.DAT", Host("C:\\data\\kniha.dat"));
    EXPECT_EQ(home + "/Data/new.txt", Host("C:\\Data\\new.txt"));

    // Another process adds a name that differs only in case.
    WriteHostFile(home + "/Data/NEW.TXT", "theirs");
    TouchFolderStamp(home + "/Data", 1000000);
    EXPECT_EQ(home + "/Data/NEW.TXT", Host("C:\\Data\\new.txt"));

    // Our own files: made, renamed and deleted through the file calls.
    const unsigned long readsBefore = win::FolderReadCount();
    for (int i = 0; i < 500; ++i) {
        const std::string name = "C:\\Data\\f" + std::to_string(i) + ".txt";
        ASSERT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name.c_str()));
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        CloseHandle(h);
        ASSERT_TRUE(MoveFileExA(name.c_str(), ("C:\\Data\\G" + std::to_string(i) + ".TXT").c_str(), 0));
    }
    EXPECT_LE(win::FolderReadCount() - readsBefore, 2u);

    // Temporary files are made and put in place without reading the folder again; a name that
    // someone else makes after our last change is seen.
    for (int i = 0; i < 50; ++i) {
        HANDLE h = INVALID_HANDLE_VALUE;
        const std::string temp = win::CreateOwnedTempFileIn("C:\\Data", home + "/Data", ".~t", h);
        ASSERT_FALSE(temp.empty());
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(h, "x", 1, &written, nullptr));
        CloseHandle(h);
        std::string host;
        win::HostPathState state;
        ASSERT_TRUE(win::ToHostPath("C:\\Data\\t" + std::to_string(i) + ".txt", host, nullptr, &state));
        ASSERT_EQ(win::HostPathState::Missing, state.known);
        ASSERT_TRUE(win::PutTempFileInPlace(home + "/Data/" + temp.substr(temp.rfind('\\') + 1), host));
    }
    EXPECT_LE(win::FolderReadCount() - readsBefore, 2u);
    EXPECT_EQ(home + "/Data/t7.txt", Host("C:\\DATA\\T7.TXT"));
    WriteHostFile(home + "/Data/T7.TXT.bak", "theirs");
    TouchFolderStamp(home + "/Data", int(time(nullptr)) + 100);
    EXPECT_EQ(home + "/Data/T7.TXT.bak", Host("C:\\Data\\t7.txt.BAK"));
    // A free name that another program takes before the temporary file is put there is kept.
    HANDLE h = INVALID_HANDLE_VALUE;
    const std::string temp = win::CreateOwnedTempFileIn("C:\\Data\\", home + "/Data", ".~t", h);
    CloseHandle(h);
    WriteHostFile(home + "/Data/late.txt", "theirs");
    EXPECT_FALSE(win::PutTempFileInPlace(home + "/Data/" + temp.substr(temp.rfind('\\') + 1), home + "/Data/late.txt"));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_EQ("theirs", ReadHostFile(home + "/Data/late.txt"));
    EXPECT_TRUE(DeleteFileA(temp.c_str()));
    EXPECT_EQ(home + "/Data/G7.TXT", Host("C:\\DATA\\g7.txt"));
    EXPECT_EQ(home + "/Data/F7.txt", Host("C:\\Data\\F7.txt"));  // renamed away: not found, kept as given
    ASSERT_TRUE(DeleteFileA("C:\\data\\g7.txt"));
    EXPECT_EQ(home + "/Data/g7.txt", Host("C:\\Data\\g7.txt"));
    ASSERT_TRUE(CreateDirectoryA("C:\\Data\\Sub", nullptr));
    EXPECT_EQ(home + "/Data/Sub/x", Host("C:\\Data\\SUB\\x"));

    // Someone else removes a name and makes a folder of another case in its place.
    std::filesystem::remove(home + "/Data/KNIHA.DAT");
    std::filesystem::create_directories(home + "/Data/Kniha.dat");
    TouchFolderStamp(home + "/Data", 2000000);
    EXPECT_EQ(home + "/Data/Kniha.dat", Host("C:\\Data\\KNIHA.dat"));

    // The folder replaced by another one of the same name is read anew.
    std::filesystem::rename(home + "/Data", home + "/Old");
    WriteHostFile(home + "/Data/Other.txt", "x");
    EXPECT_EQ(home + "/Data/Other.txt", Host("C:\\Data\\OTHER.TXT"));
    EXPECT_EQ(home + "/Data/g8.txt", Host("C:\\Data\\g8.txt"));
}

TEST_F(FolderNamesTest, FindingOneNameDoesNotListItsFolder)
{
    WriteHostFile(home + "/Box/Report.TXT", "12345");
    for (int i = 0; i < 50; ++i)
        WriteHostFile(home + "/Box/other" + std::to_string(i), "");
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA("C:\\Box\\Report.TXT", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("Report.TXT", data.cFileName);
    EXPECT_EQ(5u, data.nFileSizeLow);
    EXPECT_FALSE(FindNextFileA(h, &data));
    EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
    FindClose(h);

    h = FindFirstFileA("C:\\box\\report.txt", &data);  // the name as the folder holds it
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("Report.TXT", data.cFileName);
    FindClose(h);

    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\Box\\missing", &data));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\NoBox\\missing", &data));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());

    // Wildcards still list, sorted without case.
    h = FindFirstFileA("C:\\Box\\R*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_STREQ("Report.TXT", data.cFileName);
    FindClose(h);
}

}  // namespace
