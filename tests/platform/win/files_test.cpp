#include "FsTestSupport.h"

#include "platform/win/Errors.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <future>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

using win::DriveEntry;

namespace {

class FilesTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false},
                            DriveEntry{'Z', {}, {}, DRIVE_FIXED, "/", 0, {}, false}});
    }

    static HANDLE Open(const char* name, DWORD access, DWORD disposition)
    {
        return CreateFileA(name, access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    static mode_t ModeOf(const std::string& path)
    {
        struct stat st {};
        stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }

    std::vector<std::string> Find(const char* pattern)
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE search = FindFirstFileA(pattern, &data);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(data.cFileName);
        while (FindNextFileA(search, &data));
        EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
        EXPECT_TRUE(FindClose(search));
        return names;
    }
};

TEST_F(FilesTest, CreateFileDispositionsAndTheirErrors)
{
    HANDLE file = Open("C:\\a.txt", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "hello", 5, &done, nullptr));
    EXPECT_FALSE(ReadFile(file, nullptr, 0, &done, nullptr));  // not opened for reading
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    ASSERT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\A.TXT", GENERIC_WRITE, CREATE_NEW));  // same file, other case
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\none.txt", GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\no\\dir\\x.txt", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    std::filesystem::create_directories(home + "/folder");
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\folder", GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());

    file = Open("C:\\a.txt", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    char buffer[16] = {};
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(5u, done);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &done, nullptr));  // end of file: success, nothing read
    EXPECT_EQ(0u, done);
    CloseHandle(file);

    file = Open("C:\\a.txt", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    CloseHandle(file);
    EXPECT_EQ(0u, std::filesystem::file_size(home + "/a.txt"));
    file = Open("C:\\b.txt", GENERIC_WRITE, OPEN_ALWAYS);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    CloseHandle(file);
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\b.txt", GENERIC_READ, TRUNCATE_EXISTING));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());

    // A read-only file refuses writing and deleting, whoever runs the program.
    WriteHostFile(home + "/ro.txt", "keep");
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open("C:\\ro.txt", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ("keep", ReadHostFile(home + "/ro.txt"));
    file = Open("C:\\ro.txt", GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    ASSERT_TRUE(SetFileAttributesA("C:\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA("C:\\ro.txt"));
    EXPECT_FALSE(DeleteFileA("C:\\ro.txt"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_FALSE(DeleteFileA("C:\\folder"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

// Under a file-size limit (ulimit -f) a write fails as on a full disk instead of ending the
// program, while a program started from here still meets the limit as it would alone. Forked, so
// that the limit stays with the child.
TEST_F(FilesTest, AFileSizeLimitFailsAWriteAsAFullDiskButNotTheProgramsStartedFromHere)
{
    const std::string started = home + "/started.bin";
    const pid_t pid = fork();
    ASSERT_NE(-1, pid);
    if (pid == 0) {
        const rlimit limit{4096, 4096};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(10);
        HANDLE file = Open("C:\\big.bin", GENERIC_WRITE, CREATE_NEW);
        const std::string block(4096, 'x');
        DWORD done = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, block.data(), DWORD(block.size()), &done, nullptr))
            _exit(11);
        if (WriteFile(file, "y", 1, &done, nullptr) || GetLastError() != ERROR_DISK_FULL)
            _exit(12);
        CloseHandle(file);
        // The shell's own writer is ended by the signal (128 + its number), not told EFBIG (1).
        const int status = std::system(("head -c 8192 /dev/zero > '" + started + "'; exit $?").c_str());
        _exit(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGXFSZ ? 0 : 13);
    }
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(FilesTest, HandlesClosedInAnyOrderLeaveTheOthersTheirFiles)
{
    // Each file holds its own number; handles close out of order and new ones come meanwhile.
    std::vector<HANDLE> open;
    std::vector<char> owner;
    const auto add = [&](char digit) {
        const std::string name = std::string("C:\\h") + digit + ".txt";
        WriteHostFile(home + "/h" + digit + ".txt", std::string(1, digit));
        open.push_back(Open(name.c_str(), GENERIC_READ, OPEN_EXISTING));
        ASSERT_NE(INVALID_HANDLE_VALUE, open.back());
        owner.push_back(digit);
    };
    for (char d = '0'; d < '6'; ++d)
        add(d);
    std::vector<HANDLE> closed;
    for (const std::size_t at : {2u, 0u, 3u}) {  // the middle, the first, the last but one
        ASSERT_TRUE(CloseHandle(open[at]));
        closed.push_back(open[at]);
        open.erase(open.begin() + std::ptrdiff_t(at));
        owner.erase(owner.begin() + std::ptrdiff_t(at));
    }
    add('6');
    add('7');
    for (std::size_t i = 0; i < open.size(); ++i) {
        char byte = 0;
        DWORD done = 0;
        ASSERT_TRUE(ReadFile(open[i], &byte, 1, &done, nullptr)) << i;
        EXPECT_EQ(owner[i], byte);
        EXPECT_EQ(closed.end(), std::find(closed.begin(), closed.end(), open[i]));  // never handed out again
    }
    for (HANDLE gone : closed) {
        char byte = 0;
        DWORD done = 0;
        EXPECT_FALSE(ReadFile(gone, &byte, 1, &done, nullptr));
        EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
    }
    for (HANDLE h : open)
        EXPECT_TRUE(CloseHandle(h));
}

TEST_F(FilesTest, SixtyFourBitPositionsSizesAndTimes)
{
    HANDLE file = Open("C:\\big.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const std::int64_t five = 5LL << 30;
    LARGE_INTEGER move, position;
    move.QuadPart = five;
    ASSERT_TRUE(SetFilePointerEx(file, move, &position, FILE_BEGIN));
    EXPECT_EQ(five, position.QuadPart);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(file, "z", 1, &done, nullptr));  // sparse
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(five + 1, size.QuadPart);
    DWORD high = 0;
    EXPECT_EQ(static_cast<DWORD>(five + 1), GetFileSize(file, &high));
    EXPECT_EQ(1u, high);

    LONG distanceHigh = 1;
    EXPECT_EQ(16u, SetFilePointer(file, 16, &distanceHigh, FILE_BEGIN));  // 4 GiB + 16
    EXPECT_EQ(1, distanceHigh);
    EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(file, 0, nullptr, FILE_CURRENT));  // beyond 32 bits
    move.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(file, move, nullptr, FILE_BEGIN));
    EXPECT_EQ(ERROR_NEGATIVE_SEEK, GetLastError());

    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\BIG.*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_EQ(1u, data.nFileSizeHigh);
    EXPECT_EQ(static_cast<DWORD>(five + 1), data.nFileSizeLow);
    FindClose(search);

    move.QuadPart = 10;
    ASSERT_TRUE(SetFilePointerEx(file, move, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    ASSERT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(10, size.QuadPart);

    // 2020-01-01 00:00:00 UTC in 100-ns ticks since 1601.
    const std::uint64_t ticks = 132223104000000000ULL;
    const FILETIME stamp{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &stamp));
    FILETIME written{}, accessed{};
    ASSERT_TRUE(GetFileTime(file, nullptr, &accessed, &written));
    EXPECT_EQ(stamp.dwLowDateTime, written.dwLowDateTime);
    EXPECT_EQ(stamp.dwHighDateTime, written.dwHighDateTime);
    EXPECT_NE(stamp.dwHighDateTime, accessed.dwHighDateTime);  // left alone
    struct stat st {};
    stat((home + "/big.bin").c_str(), &st);
    EXPECT_EQ(1577836800, st.st_mtim.tv_sec);
    CloseHandle(file);
    EXPECT_FALSE(GetFileSizeEx(file, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(FilesTest, AttributesAreSynthesisedFromTheHostFile)
{
    WriteHostFile(home + "/plain.txt", "x");
    WriteHostFile(home + "/.profile", "x");
    WriteHostFile(home + "/tool.sh", "x");
    std::filesystem::create_directories(home + "/.git");
    std::filesystem::create_directories(home + "/dir");
    std::filesystem::create_symlink(home + "/plain.txt", home + "/link");
    std::filesystem::create_directory_symlink(home + "/dir", home + "/dirlink");
    ASSERT_EQ(0, mkfifo((home + "/pipe").c_str(), 0644));
    chmod((home + "/tool.sh").c_str(), 0755);

    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\plain.txt"));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN, GetFileAttributesA("C:\\.profile"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, GetFileAttributesA("C:\\.git"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\dir"));
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\"));
    EXPECT_EQ(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA("C:\\link"));
    EXPECT_EQ(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY, GetFileAttributesA("C:\\dirlink"));
    EXPECT_EQ(FILE_ATTRIBUTE_SYSTEM, GetFileAttributesA("C:\\pipe"));
    EXPECT_EQ(INVALID_HANDLE_VALUE, CreateFileA("C:\\pipe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());  // refused rather than waiting for a writer
    EXPECT_EQ(FILE_ATTRIBUTE_SYSTEM, GetFileAttributesA("Z:\\dev\\null"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\missing"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\missing\\deeper"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());

    // Read-only takes every write permission away and gives the owner's back; nothing else moves,
    // and no attribute value ever adds execute or set-ID bits.
    ASSERT_TRUE(SetFileAttributesA("C:\\tool.sh", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(0555u, ModeOf(home + "/tool.sh"));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY, GetFileAttributesA("C:\\tool.sh"));
    ASSERT_TRUE(SetFileAttributesA("C:\\tool.sh", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(0755u, ModeOf(home + "/tool.sh"));
    chmod((home + "/plain.txt").c_str(), 0600);
    ASSERT_TRUE(SetFileAttributesA("C:\\plain.txt", 0x7FFFFFFF));
    EXPECT_EQ(0400u, ModeOf(home + "/plain.txt"));
    ASSERT_TRUE(SetFileAttributesA("C:\\plain.txt", 0));
    EXPECT_EQ(0600u, ModeOf(home + "/plain.txt"));
    // A read-only folder still takes new files on Windows, so its permissions stay.
    const mode_t dirMode = ModeOf(home + "/dir");
    ASSERT_TRUE(SetFileAttributesA("C:\\dir", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(dirMode, ModeOf(home + "/dir"));
    // A link is left alone rather than changing what it points to.
    ASSERT_TRUE(SetFileAttributesA("C:\\link", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(0600u, ModeOf(home + "/plain.txt"));
}

TEST_F(FilesTest, FindMatchesPatternsWithoutCaseInNameOrder)
{
    for (const char* name : {"b.TXT", "a.txt", "C.dat", "noext", "Žluťoučký.txt"})
        WriteHostFile(home + "/dir/" + name, "data");
    std::filesystem::create_directories(home + "/dir/sub");
    const std::vector<std::string> all{".", "..", "a.txt", "b.TXT", "C.dat", "noext", "sub", "Žluťoučký.txt"};

    EXPECT_EQ(all, Find("C:\\dir\\*"));
    EXPECT_EQ(all, Find("c:/DIR/*.*"));
    EXPECT_EQ((std::vector<std::string>{"a.txt", "b.TXT", "Žluťoučký.txt"}), Find("C:\\dir\\*.txt"));
    EXPECT_EQ((std::vector<std::string>{"C.dat"}), Find("C:\\dir\\?.DAT"));
    EXPECT_EQ((std::vector<std::string>{"Žluťoučký.txt"}), Find("C:\\dir\\ŽLUŤ*"));
    EXPECT_EQ((std::vector<std::string>{"sub"}), Find("C:\\dir\\SUB"));
    EXPECT_EQ((std::vector<std::string>{"dir"}), Find("C:\\*"));  // no "." or ".." in a root

    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\dir\\*.zip", &data));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\nodir\\*", &data));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());

    HANDLE search = FindFirstFileA("C:\\dir\\s*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_EQ(FILE_ATTRIBUTE_DIRECTORY, data.dwFileAttributes);
    EXPECT_EQ(0u, data.nFileSizeLow);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_EQ(ERROR_NO_MORE_FILES, GetLastError());
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    // Each name is looked up when the walk reaches it: one removed meanwhile is passed over, one
    // that grew shows its size of now.
    search = FindFirstFileA("C:\\dir\\*.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_STREQ("a.txt", data.cFileName);
    std::filesystem::remove(home + "/dir/b.TXT");
    WriteHostFile(home + "/dir/Žluťoučký.txt", "more data");
    ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_STREQ("Žluťoučký.txt", data.cFileName);
    EXPECT_EQ(9u, data.nFileSizeLow);
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_TRUE(FindClose(search));
}

// A walk opens each listed file from the listing's open folder; what the listing did not just hand
// out as a plain file, or what has changed since, is opened by its full path as before.
TEST_F(FilesTest, AListedFileOpensAsItsFullPathWouldOpenIt)
{
    std::filesystem::create_directories(home + "/walk/sub");
    WriteHostFile(home + "/walk/a.txt", "first");
    WriteHostFile(home + "/walk/b.txt", "second");
    WriteHostFile(home + "/walk/c.txt", "third");
    WriteHostFile(home + "/other.txt", "elsewhere");
    const auto readAll = [](const std::string& name) {
        HANDLE file = Open(name.c_str(), GENERIC_READ, OPEN_EXISTING);
        if (file == INVALID_HANDLE_VALUE)
            return std::string("<") + std::to_string(GetLastError()) + ">";
        char buffer[64];
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
        CloseHandle(file);
        return std::string(buffer, got);
    };

    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\walk\\*.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    EXPECT_STREQ("a.txt", data.cFileName);
    EXPECT_EQ("first", readAll("C:\\walk\\a.txt"));
    EXPECT_EQ("first", readAll("C:\\WALK\\A.TXT"));  // by the full path, without case
    ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_STREQ("b.txt", data.cFileName);
    // Replaced by a link since it was listed: the link is followed, as the full path does.
    std::filesystem::remove(home + "/walk/b.txt");
    std::filesystem::create_symlink(home + "/other.txt", home + "/walk/b.txt");
    EXPECT_EQ("elsewhere", readAll("C:\\walk\\b.txt"));
    EXPECT_EQ("<5>", readAll("C:\\walk\\sub"));  // a folder is no file to read
    // The folder gone with the rest of its files: a missing path, not a file read from nowhere.
    ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_STREQ("c.txt", data.cFileName);
    std::filesystem::remove_all(home + "/walk");
    EXPECT_EQ("<3>", readAll("C:\\walk\\c.txt"));
    EXPECT_FALSE(FindNextFileA(search, &data));
    EXPECT_TRUE(FindClose(search));

    // A folder moved while it is walked: the walk holds it open, and its files are read where they are now.
    std::filesystem::create_directories(home + "/walk");
    WriteHostFile(home + "/walk/a.txt", "first");
    search = FindFirstFileA("C:\\walk\\*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    while (std::strcmp(data.cFileName, "a.txt") != 0)
        ASSERT_TRUE(FindNextFileA(search, &data));
    std::filesystem::rename(home + "/walk", home + "/moved");
    EXPECT_EQ("first", readAll("C:\\walk\\a.txt"));
    EXPECT_TRUE(FindClose(search));
    EXPECT_EQ("<3>", readAll("C:\\walk\\a.txt"));  // once the walk is done, by its path alone
}

// A walk going down a tree lists each folder from its parent's open folder; what the parent did not
// just hand out as a plain folder, or what has changed since, is listed by its full path as before.
TEST_F(FilesTest, AListedFolderListsAsItsFullPathWouldListIt)
{
    std::filesystem::create_directories(home + "/tree/a/deep");
    std::filesystem::create_directories(home + "/tree/b");
    std::filesystem::create_directories(home + "/elsewhere");
    WriteHostFile(home + "/tree/a/one.txt", "1");
    WriteHostFile(home + "/tree/b/two.txt", "2");
    WriteHostFile(home + "/elsewhere/far.txt", "3");
    const std::vector<std::string> dotsAnd = {".", ".."};
    const auto with = [&](std::vector<std::string> names) {
        names.insert(names.begin(), dotsAnd.begin(), dotsAnd.end());
        return names;
    };

    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\tree\\*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    while (std::strcmp(data.cFileName, "a") != 0)
        ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_EQ(with({"deep", "one.txt"}), Find("C:\\tree\\a\\*"));
    EXPECT_EQ(with({"deep", "one.txt"}), Find("C:\\TREE\\A\\*"));  // by the full path, without case
    HANDLE inner = FindFirstFileA("C:\\tree\\a\\*", &data);  // a listing handed out from a listing
    ASSERT_NE(INVALID_HANDLE_VALUE, inner);
    while (std::strcmp(data.cFileName, "one.txt") != 0)
        ASSERT_TRUE(FindNextFileA(inner, &data));
    HANDLE file = Open("C:\\tree\\a\\one.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    char byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr));
    EXPECT_EQ('1', byte);
    CloseHandle(file);
    EXPECT_TRUE(FindClose(inner));

    // Replaced by a link since it was listed: the link is followed, as the full path does.
    ASSERT_TRUE(FindNextFileA(search, &data));
    EXPECT_STREQ("b", data.cFileName);
    std::filesystem::remove_all(home + "/tree/b");
    std::filesystem::create_directory_symlink(home + "/elsewhere", home + "/tree/b");
    EXPECT_EQ(with({"far.txt"}), Find("C:\\tree\\b\\*"));
    // Gone since it was listed: a missing path.
    std::filesystem::remove(home + "/tree/b");
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\tree\\b\\*", &data));
    EXPECT_EQ(DWORD(ERROR_PATH_NOT_FOUND), GetLastError());
    EXPECT_TRUE(FindClose(search));
}

// A file read once opens, reads and fails as CreateFileA and ReadFile do, listed or not.
TEST_F(FilesTest, AFileReadOnceOpensAndFailsAsCreateFileDoes)
{
    std::filesystem::create_directories(home + "/once/sub");
    WriteHostFile(home + "/once/a.txt", "hello");
    ASSERT_EQ(0, mkfifo((home + "/once/pipe").c_str(), 0600));
    const auto readAll = [](const char* name) {
        win::ReadOnceFile file;
        if (!file.Open(name))
            return std::string("<") + std::to_string(GetLastError()) + ">";
        char buffer[16];
        DWORD got = 0;
        EXPECT_TRUE(file.Read(buffer, sizeof buffer, got));
        std::string text(buffer, got);
        EXPECT_TRUE(file.Read(buffer, sizeof buffer, got));  // after the end
        EXPECT_EQ(0u, got);
        return text;
    };
    EXPECT_EQ("hello", readAll("C:\\once\\a.txt"));
    EXPECT_EQ("hello", readAll("C:\\ONCE\\A.TXT"));
    EXPECT_EQ("<2>", readAll("C:\\once\\none.txt"));
    EXPECT_EQ("<3>", readAll("C:\\none\\a.txt"));
    EXPECT_EQ("<5>", readAll("C:\\once\\sub"));
    EXPECT_EQ("<5>", readAll("C:\\once\\pipe"));  // never waits for a writer

    // Listed: opened from the listing's folder, with the time the handle's GetFileTime gives.
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA("C:\\once\\*.txt", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    win::ReadOnceFile file;
    ASSERT_TRUE(file.Open("C:\\once\\a.txt"));
    FILETIME once{}, byHandle{};
    ASSERT_TRUE(file.LastWriteTime(once));
    HANDLE handle = Open("C:\\once\\a.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_TRUE(GetFileTime(handle, nullptr, nullptr, &byHandle));
    CloseHandle(handle);
    const auto same = [](const FILETIME& a, const FILETIME& b) {
        return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
    };
    EXPECT_TRUE(same(once, byHandle));
    EXPECT_TRUE(same(once, data.ftLastWriteTime));
    // Replaced by a pipe since it was listed: the open does not wait for a writer either.
    std::filesystem::remove(home + "/once/a.txt");
    ASSERT_EQ(0, mkfifo((home + "/once/a.txt").c_str(), 0600));
    auto opened = std::async(std::launch::async, [&] { return readAll("C:\\once\\a.txt"); });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the open waited for a writer";
        ::close(::open((home + "/once/a.txt").c_str(), O_WRONLY | O_NONBLOCK));
    }
    const std::string read = opened.get();
    EXPECT_TRUE(read.empty() || read == "<5>") << read;
    EXPECT_TRUE(FindClose(search));
    win::ReadOnceFile unopened;
    char byte = 0;
    DWORD got = 1;
    EXPECT_FALSE(unopened.Read(&byte, 1, got));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(FilesTest, TempFileNamesAreNewAndCreatedExclusively)
{
    std::filesystem::create_directories(home + "/tmp");
    char first[MAX_PATH], second[MAX_PATH];
    const UINT a = GetTempFileNameA("C:\\tmp", "plxLONG", 0, first);
    const UINT b = GetTempFileNameA("C:\\TMP\\", "plx", 0, second);
    ASSERT_NE(0u, a);
    ASSERT_NE(0u, b);
    EXPECT_STRNE(first, second);
    EXPECT_EQ("C:\\tmp\\plx", std::string(first).substr(0, 10));
    EXPECT_EQ(".tmp", std::string(first).substr(std::strlen(first) - 4));
    EXPECT_EQ(0u, GetFileAttributesA(first) & FILE_ATTRIBUTE_DIRECTORY);

    // Fill every number but two: exactly those two come out, and no existing file is touched.
    const std::string folder = home + "/fill";
    std::filesystem::create_directories(folder);
    for (UINT n = 1; n <= 0xFFFF; ++n) {
        if (n == 0x1234 || n == 0xBEEF)
            continue;
        char name[32];
        std::snprintf(name, sizeof name, "/abc%X.tmp", n);
        const int fd = ::open((folder + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        if (n == 0x1233) {
            ASSERT_EQ(4, ::write(fd, "keep", 4));
        }
        ::close(fd);
    }
    char name[MAX_PATH];
    std::set<UINT> numbers{GetTempFileNameA("C:\\fill", "abc", 0, name), GetTempFileNameA("C:\\fill", "abc", 0, name)};
    EXPECT_EQ((std::set<UINT>{0x1234, 0xBEEF}), numbers);
    EXPECT_EQ(0u, GetTempFileNameA("C:\\fill", "abc", 0, name));
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
    EXPECT_EQ("keep", ReadHostFile(folder + "/abc1233.tmp"));

    // A given number only forms the name.
    EXPECT_EQ(0x2Au, GetTempFileNameA("C:\\tmp", "x", 0x2A, name));
    EXPECT_STREQ("C:\\tmp\\x2A.tmp", name);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(name));
    EXPECT_EQ(0u, GetTempFileNameA("C:\\no-such", "x", 0, name));
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
}

TEST_F(FilesTest, CrossDeviceMoveKeepsTheSourceUntilTheTargetIsReplaced)
{
    WriteHostFile(home + "/src/archive.zip", "new archive");
    WriteHostFile(home + "/dst/archive.zip", "old archive");
    win::TestHooks().forceCrossDevice = true;
    bool copied = false;
    win::TestHooks().afterCrossDeviceCopy = [&](const std::string& temp) {
        copied = true;
        EXPECT_EQ("new archive", ReadHostFile(home + "/src/archive.zip"));
        EXPECT_EQ("old archive", ReadHostFile(home + "/dst/archive.zip"));
        EXPECT_EQ(home + "/dst", std::filesystem::path(temp).parent_path().string());
        EXPECT_EQ("new archive", ReadHostFile(temp));
    };

    EXPECT_FALSE(MoveFileA("C:\\src\\archive.zip", "C:\\dst\\archive.zip"));  // no replacing asked for
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(MoveFileExA("C:\\src\\archive.zip", "C:\\dst\\other.zip", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_NOT_SAME_DEVICE, GetLastError());  // copying not allowed
    EXPECT_FALSE(copied);

    ASSERT_TRUE(
        MoveFileExA("C:\\src\\archive.zip", "C:\\dst\\archive.zip", MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    EXPECT_TRUE(copied);
    EXPECT_EQ("new archive", ReadHostFile(home + "/dst/archive.zip"));
    EXPECT_TRUE(NamesIn(home + "/src").empty());
    EXPECT_EQ((std::set<std::string>{"archive.zip"}), NamesIn(home + "/dst"));  // no temporary left

    // Folders do not cross file systems.
    std::filesystem::create_directories(home + "/folder");
    EXPECT_FALSE(MoveFileA("C:\\folder", "C:\\dst\\folder"));
    EXPECT_EQ(ERROR_NOT_SAME_DEVICE, GetLastError());
}

TEST_F(FilesTest, MoveToAnotherFileSystemForReal)
{
    struct stat tmp {
    }, shm{};
    if (stat("/dev/shm", &shm) != 0 || stat(root.c_str(), &tmp) != 0 || tmp.st_dev == shm.st_dev)
        GTEST_SKIP() << "needs /dev/shm on a file system of its own";
    char pattern[] = "/dev/shm/torvo-fs-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    const std::string ram = pattern;
    win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false},
                        DriveEntry{'R', {}, {}, DRIVE_RAMDISK, ram, 0, {}, false}});
    WriteHostFile(home + "/a.bin", std::string(300000, 'a'));
    WriteHostFile(ram + "/a.bin", "old");
    chmod((home + "/a.bin").c_str(), 0640);

    EXPECT_TRUE(MoveFileExA("C:\\a.bin", "R:\\a.bin", MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    EXPECT_EQ(std::string(300000, 'a'), ReadHostFile(ram + "/a.bin"));
    EXPECT_EQ(0640u, ModeOf(ram + "/a.bin"));
    EXPECT_FALSE(std::filesystem::exists(home + "/a.bin"));
    EXPECT_EQ((std::set<std::string>{"a.bin"}), NamesIn(ram));
    std::filesystem::remove_all(ram);
}

TEST_F(FilesTest, AReplacedFileKeepsItsModeGroupAndLinkOnOneFileSystemAndAcross)
{
    for (const bool across : {false, true}) {
        SCOPED_TRACE(across);
        win::TestHooks().forceCrossDevice = across;
        std::filesystem::remove_all(home);
        WriteHostFile(home + "/new/archive.zip", "new archive");
        WriteHostFile(home + "/real/archive.zip", "old archive");
        chmod((home + "/real/archive.zip").c_str(), 0604);
        std::filesystem::create_directories(home + "/links");
        std::filesystem::create_symlink("../real/archive.zip", home + "/links/archive.zip");

        ASSERT_TRUE(ReplaceFileA("C:\\links\\archive.zip", "C:\\new\\archive.zip", nullptr, 0, nullptr, nullptr));
        EXPECT_TRUE(std::filesystem::is_symlink(home + "/links/archive.zip"));
        EXPECT_EQ("new archive", ReadHostFile(home + "/real/archive.zip"));
        EXPECT_EQ(0604u, ModeOf(home + "/real/archive.zip"));
        EXPECT_EQ((std::set<std::string>{"archive.zip"}), NamesIn(home + "/real"));  // no copy left beside it
        EXPECT_TRUE(NamesIn(home + "/new").empty());

        // Only an existing file is replaced; a missing one is made by PutFileInPlace.
        WriteHostFile(home + "/new/b.zip", "b");
        EXPECT_FALSE(ReplaceFileA("C:\\real\\b.zip", "C:\\new\\b.zip", nullptr, 0, nullptr, nullptr));
        EXPECT_TRUE(win::PutFileInPlace("C:\\new\\b.zip", "C:\\real\\b.zip"));
        EXPECT_EQ("b", ReadHostFile(home + "/real/b.zip"));
    }
}

TEST_F(FilesTest, RenamesCopiesAndFolders)
{
    WriteHostFile(home + "/a.txt", "a");
    WriteHostFile(home + "/b.txt", "b");
    // A rename that changes only the case.
    ASSERT_TRUE(MoveFileA("C:\\a.txt", "C:\\A.TXT"));
    EXPECT_EQ((std::set<std::string>{"A.TXT", "b.txt"}), NamesIn(home));
    // Replacing a read-only target is refused, as Windows does.
    SetFileAttributesA("C:\\b.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(MoveFileExA("C:\\A.TXT", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    SetFileAttributesA("C:\\b.txt", FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(MoveFileExA("C:\\A.TXT", "C:\\b.txt", MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("a", ReadHostFile(home + "/b.txt"));
    EXPECT_FALSE(MoveFileA("C:\\gone", "C:\\x"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());

    // Copies keep the time of the source and refuse to clobber when asked to.
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    utimensat(AT_FDCWD, (home + "/b.txt").c_str(), times, 0);
    ASSERT_TRUE(CopyFileA("C:\\b.txt", "C:\\c.txt", TRUE));
    struct stat copy {};
    stat((home + "/c.txt").c_str(), &copy);
    EXPECT_EQ(1000000000, copy.st_mtim.tv_sec);
    WriteHostFile(home + "/c.txt", "mine");
    EXPECT_FALSE(CopyFileA("C:\\b.txt", "C:\\c.txt", TRUE));
    EXPECT_EQ(ERROR_FILE_EXISTS, GetLastError());
    EXPECT_EQ("mine", ReadHostFile(home + "/c.txt"));
    EXPECT_TRUE(CopyFileA("C:\\b.txt", "C:\\C.TXT", FALSE));
    EXPECT_EQ("a", ReadHostFile(home + "/c.txt"));
    EXPECT_FALSE(CopyFileA("C:\\b.txt", "C:\\B.txt", FALSE));  // onto itself
    EXPECT_EQ("a", ReadHostFile(home + "/b.txt"));
    EXPECT_EQ((std::set<std::string>{"b.txt", "c.txt"}), NamesIn(home));

    EXPECT_TRUE(CreateDirectoryA("C:\\d", nullptr));
    EXPECT_FALSE(CreateDirectoryA("C:\\D", nullptr));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
    EXPECT_FALSE(CreateDirectoryA("C:\\x\\y", nullptr));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
    EXPECT_TRUE(win::CreateDirectoryTree("C:\\d\\e\\f\\g"));
    EXPECT_TRUE(std::filesystem::is_directory(home + "/d/e/f/g"));
    EXPECT_FALSE(RemoveDirectoryA("C:\\d\\e"));
    EXPECT_EQ(ERROR_DIR_NOT_EMPTY, GetLastError());
    EXPECT_FALSE(RemoveDirectoryA("C:\\b.txt"));
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
    EXPECT_TRUE(RemoveDirectoryA("C:\\D\\E\\F\\G"));
    EXPECT_FALSE(std::filesystem::exists(home + "/d/e/f/g"));
}

TEST(Errors, HostErrorsReadAsWindowsCodesPerThread)
{
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, win::ErrorFromErrno(ENOENT));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, win::ErrorFromErrno(ENOTDIR));
    EXPECT_EQ(ERROR_TOO_MANY_OPEN_FILES, win::ErrorFromErrno(EMFILE));
    EXPECT_EQ(ERROR_ACCESS_DENIED, win::ErrorFromErrno(EPERM));
    EXPECT_EQ(ERROR_ACCESS_DENIED, win::ErrorFromErrno(EACCES));
    EXPECT_EQ(ERROR_INVALID_HANDLE, win::ErrorFromErrno(EBADF));
    EXPECT_EQ(ERROR_NOT_ENOUGH_MEMORY, win::ErrorFromErrno(ENOMEM));
    EXPECT_EQ(ERROR_ALREADY_EXISTS, win::ErrorFromErrno(EEXIST));
    EXPECT_EQ(ERROR_FILE_EXISTS, win::ErrorFromErrno(EEXIST, ERROR_FILE_EXISTS));
    EXPECT_EQ(ERROR_DISK_FULL, win::ErrorFromErrno(ENOSPC));
    EXPECT_EQ(ERROR_DISK_FULL, win::ErrorFromErrno(EDQUOT));
    EXPECT_EQ(ERROR_FILENAME_EXCED_RANGE, win::ErrorFromErrno(ENAMETOOLONG));
    EXPECT_EQ(ERROR_DIR_NOT_EMPTY, win::ErrorFromErrno(ENOTEMPTY));

    SetLastError(ERROR_DISK_FULL);
    DWORD seenByOther = 1;
    std::thread([&] { seenByOther = GetLastError(); }).join();
    EXPECT_EQ(ERROR_SUCCESS, seenByOther);
    EXPECT_EQ(ERROR_DISK_FULL, GetLastError());
}

}  // namespace
