#include "FsTestSupport.h"

#include "platform/win/Errors.h"

#include <climits>
#include <cstdlib>
#include <iterator>
#include <map>

using win::DriveEntry;

namespace {

class PathsTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        std::filesystem::create_directories(home + "/Docs");
        std::filesystem::create_directories(root + "/nas");
        win::SetDriveTable({
            DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false},
            DriveEntry{'E', {}, {}, DRIVE_REMOVABLE, home + "/media", 0, {}, false},
            DriveEntry{'Z', {}, {}, DRIVE_FIXED, "/", 0, {}, false},
            DriveEntry{0, "nas", "backup", DRIVE_REMOTE, root + "/nas", 0, {}, false},
        });
        ASSERT_TRUE(SetCurrentDirectoryA("C:\\Docs"));
    }

    std::string Host(const std::string& path)
    {
        std::string host;
        EXPECT_TRUE(win::ToHostPath(path, host)) << path << " error " << GetLastError();
        return host;
    }
};

TEST_F(PathsTest, FullPathsNormaliseEveryWindowsForm)
{
    EXPECT_EQ("C:\\x\\z", win::FullPathOf("c:/x/./y/../z"));
    EXPECT_EQ("C:\\", win::FullPathOf("C:\\..\\..\\.."));  // never above the root
    EXPECT_EQ("C:\\a\\b", win::FullPathOf("\\\\?\\C:\\a\\b"));
    EXPECT_EQ("\\\\srv\\sh\\a", win::FullPathOf("\\\\?\\UNC\\srv\\sh\\a"));
    EXPECT_EQ("\\\\srv\\sh\\a", win::FullPathOf("//srv/sh/a"));
    EXPECT_EQ("Z:\\etc\\passwd", win::FullPathOf("/etc/passwd"));
    EXPECT_EQ("Z:\\", win::FullPathOf("/"));
    EXPECT_EQ("C:\\dir\\", win::FullPathOf("C:\\dir\\"));
    EXPECT_EQ("C:\\a\\name", win::FullPathOf("C:\\a\\name. "));
    // Relative forms take the current folder or drive.
    EXPECT_EQ("C:\\Docs\\a.txt", win::FullPathOf("a.txt"));
    EXPECT_EQ("C:\\a.txt", win::FullPathOf("..\\a.txt"));
    EXPECT_EQ("C:\\top", win::FullPathOf("\\top"));
    EXPECT_EQ("C:\\Docs\\x", win::FullPathOf("C:x"));
    EXPECT_EQ("E:\\x", win::FullPathOf("E:x"));
    EXPECT_EQ("", win::FullPathOf("\\\\server"));
    EXPECT_EQ("", win::FullPathOf(""));
}

TEST_F(PathsTest, HostMappingFindsNamesWithoutCaseButPrefersExactOnes)
{
    WriteHostFile(home + "/Docs/Archivace.dta", "x");
    WriteHostFile(home + "/Docs/a.txt", "lower");
    WriteHostFile(home + "/Docs/A.TXT", "upper");

    EXPECT_EQ(home + "/Docs/Archivace.dta", Host("c:\\DOCS\\ARCHIVACE.DTA"));
    EXPECT_EQ(home + "/Docs/A.TXT", Host("C:\\Docs\\A.TXT"));
    EXPECT_EQ(home + "/Docs/a.txt", Host("C:/Docs/a.txt"));
    // A folder found as given with the last name found only without case.
    EXPECT_EQ(home + "/Docs/Archivace.dta", Host("C:\\Docs\\archivace.DTA"));
    // What does not exist keeps the name given, below the part that was found.
    EXPECT_EQ(home + "/Docs/New/x.TXT", Host("C:\\docs\\New\\x.TXT"));
    EXPECT_EQ(home + "/Docs/new.txt", Host("C:\\Docs\\new.txt"));
    EXPECT_EQ(home + "/Docs/new.txt", Host("C:\\DOCS\\new.txt"));
    EXPECT_EQ(home + "/Docs/a.txt/x", Host("C:\\Docs\\a.txt\\x"));  // below a file
    EXPECT_EQ(home + "/media/f", Host("e:\\f"));
    EXPECT_EQ(root + "/nas/x", Host("\\\\NAS\\Backup\\x"));
    EXPECT_EQ("/etc", Host("/etc"));
    EXPECT_EQ("/etc", Host("\\\\?\\Z:\\etc"));

    std::string host;
    EXPECT_FALSE(win::ToHostPath("Q:\\x", host));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_FALSE(win::ToHostPath("\\\\other\\share\\x", host));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_FALSE(win::ToHostPath("\\\\.\\PhysicalDrive0", host));  // devices are not files here
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_FALSE(win::ToHostPath("C:\\a|b", host));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
    EXPECT_FALSE(win::ToHostPath("C:\\a\\b:c", host));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
}

TEST_F(PathsTest, HostPathsMapBackUnderTheLongestDriveFolder)
{
    EXPECT_EQ("C:\\Docs", win::ToWindowsPath(home + "/Docs"));
    EXPECT_EQ("C:\\", win::ToWindowsPath(home));
    EXPECT_EQ("E:\\sub\\f", win::ToWindowsPath(home + "/media/sub/f"));
    EXPECT_EQ("\\\\nas\\backup\\x", win::ToWindowsPath(root + "/nas/x"));
    EXPECT_EQ("Z:\\usr\\bin", win::ToWindowsPath("/usr//bin/."));
    // A folder whose name merely starts like a drive's folder is not on that drive.
    EXPECT_EQ("C:\\mediax", win::ToWindowsPath(home + "/mediax"));

    win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false}});
    EXPECT_EQ("", win::ToWindowsPath("/etc"));
}

TEST_F(PathsTest, CurrentFolderAndBufferRules)
{
    char buffer[MAX_PATH];
    EXPECT_EQ(7u, GetCurrentDirectoryA(sizeof buffer, buffer));
    EXPECT_STREQ("C:\\Docs", buffer);
    EXPECT_EQ(8u, GetCurrentDirectoryA(7, buffer));  // too small: size needed with the zero

    char* filePart = nullptr;
    EXPECT_EQ(17u, GetFullPathNameA("sub\\a.txt", sizeof buffer, buffer, &filePart));
    EXPECT_STREQ("C:\\Docs\\sub\\a.txt", buffer);
    ASSERT_NE(nullptr, filePart);
    EXPECT_STREQ("a.txt", filePart);

    WriteHostFile(home + "/Docs/file", "");
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\Docs\\file"));
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
    EXPECT_FALSE(SetCurrentDirectoryA("C:\\missing"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    ASSERT_TRUE(SetCurrentDirectoryA("\\\\nas\\backup"));
    EXPECT_EQ("\\\\nas\\backup\\f", win::FullPathOf("f"));
    char cwd[PATH_MAX];
    EXPECT_EQ(root + "/nas", std::string(getcwd(cwd, sizeof cwd)));

    std::filesystem::create_directories(home + "/tmp");
    setenv("TMPDIR", (home + "/tmp").c_str(), 1);
    EXPECT_EQ(7u, GetTempPathA(sizeof buffer, buffer));
    EXPECT_STREQ("C:\\tmp\\", buffer);

    EXPECT_EQ(GetShortPathNameA("C:\\Docs\\file", buffer, sizeof buffer), 12u);
    EXPECT_STREQ("C:\\Docs\\file", buffer);
    EXPECT_EQ(0u, GetShortPathNameA("C:\\Docs\\none", buffer, sizeof buffer));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(PathsTest, ModuleFileNameIsTheOwnProgramInWindowsForm)
{
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    ASSERT_GT(length, 0u);
    const std::string path(buffer, length);
    EXPECT_EQ("Z:\\", path.substr(0, 3));
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(exe, static_cast<std::size_t>(n)), Host(path));

    char small[6];
    EXPECT_EQ(6u, GetModuleFileNameA(nullptr, small, sizeof small));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(path.substr(0, 5), std::string(small));  // truncated, still terminated
}

}  // namespace

TEST_F(PathsTest, HostNamesWindowsCannotHoldAreFoundAndOpenedAsThemselves)
{
    // Each name beside the file it would name if it were read as a Windows path.
    WriteHostFile(home + "/secret", "secret");
    WriteHostFile(home + "/Docs/t", "plain t");
    WriteHostFile(home + "/Docs/aXb", "aXb");
    const std::string crafted[] = {"..\\..\\..\\secret", "C:\\x", "a*b", "a?b", "a:b", "a\"<>|b", "t.", "t ..",
                                   "...", "tab\there", "\xEF\x80\xAA", "\xEF\x81\xBF\xEF\x80\xAA"};
    for (const std::string& name : crafted) {
        SCOPED_TRACE(name);
        WriteHostFile(home + "/Docs/" + name, "own " + name);
        const std::string windows = win::WindowsNameOf(name);
        EXPECT_TRUE(win::IsValidPathName(windows));
        EXPECT_EQ(windows.find_first_of("\\/:*?\"<>|"), std::string::npos);
        std::string back;
        EXPECT_TRUE(win::HostNameOf(windows, back));
        EXPECT_EQ(back, name);
        EXPECT_EQ(home + "/Docs/" + name, Host("C:\\Docs\\" + windows));
        EXPECT_EQ("C:\\Docs\\" + windows, win::ToWindowsPath(home + "/Docs/" + name));
    }
    // A listing hands each one out in that form, and opening it reads its own bytes.
    std::map<std::string, std::string> listed;
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA("C:\\Docs\\*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        const HANDLE file = CreateFileA(("C:\\Docs\\" + name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << name;
        char bytes[64] = {};
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(file, bytes, sizeof bytes, &got, nullptr));
        CloseHandle(file);
        listed[name] = std::string(bytes, got);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    EXPECT_EQ(listed.size(), std::size(crafted) + 2);
    for (const std::string& name : crafted)
        EXPECT_EQ(listed[win::WindowsNameOf(name)], "own " + name) << name;
    // A stand-in never leads up or out, and a pattern's "*" is no character of a name.
    std::string host;
    EXPECT_FALSE(win::ToHostPath("C:\\Docs\\\xEF\x80\xAE\xEF\x80\xAE\\x", host));
    EXPECT_EQ(ERROR_INVALID_NAME, GetLastError());
    const HANDLE star = FindFirstFileA(("C:\\Docs\\" + win::WindowsNameOf("a*b")).c_str(), &data);
    ASSERT_NE(star, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::string(data.cFileName), win::WindowsNameOf("a*b"));
    EXPECT_FALSE(FindNextFileA(star, &data));
    FindClose(star);
    // In an archive: what no reader may take for a separator, drive or stream becomes "_".
    EXPECT_EQ(win::ArchiveNameOf("d\\" + win::WindowsNameOf("..\\C:\\a*b?\x01t.")), "d\\.._C__a*b?_t.");
}
