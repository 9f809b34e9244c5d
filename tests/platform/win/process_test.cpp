#include "FsTestSupport.h"
#include "platform/win/Library.h"
#include "platform/win/Paths.h"
#include "platform/win/Process.h"
#include "platform/win/Time.h"
#include "platform/win/Version.h"
#include "support/Child.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

namespace {

const std::string kHelper = std::string(TORVO_TEST_BIN_DIR) + "/argv_dump";
constexpr DWORD kExitLimitMs = 60000;

// Children still running are reaped in the background once they end: wait until none is left.
bool NoChildLeft()
{
    return testsupport::Eventually([] {
        siginfo_t info{};  // WNOWAIT: a zombie is seen, not reaped by the check itself
        return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == -1 && errno == ECHILD;
    });
}

// The helper writes its file complete (renamed into place): it is readable once it exists.
Args LinesOf(const std::string& file)
{
    testsupport::Eventually([&] { return fs::exists(file); });
    std::ifstream in(file);
    Args lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class ProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        out_ = fs::temp_directory_path() / ("torvo-argv-" + std::to_string(getpid()));
        fs::remove(out_);
        setenv("ARGV_DUMP_FILE", out_.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("ARGV_DUMP_FILE");
        unsetenv("TORVO_OPEN_PROGRAM");
        fs::remove(out_);
    }
    Args Dumped() { return LinesOf(out_); }
    fs::path out_;
};

}  // namespace

TEST(CommandLine, SplitsAsTheWindowsRuntime)
{
    EXPECT_EQ((Args{"C:\\Program Files\\x.exe", "a b", "c"}),
              win::SplitCommandLine(R"("C:\Program Files\x.exe" "a b" c)"));
    EXPECT_EQ((Args{"prog", "say \"hi\"", "a\\\\b", "\\\"", "x\"y", ""}),
              win::SplitCommandLine(R"(prog "say \"hi\"" a\\b \\\" "x""y" "")"));
    EXPECT_EQ((Args{"p", "a\\"}), win::SplitCommandLine(R"(p "a\\")"));
    EXPECT_EQ((Args{"ab cd"}), win::SplitParameters(R"(a"b c"d)"));
    EXPECT_TRUE(win::SplitCommandLine("   ").empty());
}

TEST(CommandLine, QuotedArgumentsReadBackWhole)
{
    for (const std::string arg : {"", "plain", "a b", "say \"hi\"", "a\\b", "end\\", "\\\"", "x\" --evil \"y",
                                  "/tmp/torvo-run-1-abc/it's \"odd\" \\ name\\\\"}) {
        EXPECT_EQ((Args{arg}), win::SplitParameters(win::QuoteArgument(arg))) << arg;
        EXPECT_EQ((Args{"p", arg, "next"}), win::SplitParameters("p " + win::QuoteArgument(arg) + " next")) << arg;
    }
}

TEST_F(ProcessTest, ArgumentsWithSpacesAndQuotesArriveWholeAndExitCodeIsSeen)
{
    SHELLEXECUTEINFOA info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    const std::string exe = kHelper + ".exe";  // resolves to the program without the suffix
    info.lpFile = exe.c_str();
    info.lpParameters = R"("C:\Moje data\a b.zip" "say \"hi\"" --exit=7)";
    ASSERT_TRUE(ShellExecuteExA(&info));
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(info.hInstApp), 32u);
    ASSERT_NE(nullptr, info.hProcess);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, kExitLimitMs));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(7u, code);
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_FALSE(CloseHandle(info.hProcess));
    EXPECT_EQ((Args{"C:\\Moje data\\a b.zip", "say \"hi\"", "--exit=7"}), Dumped());
}

TEST_F(ProcessTest, TimeoutThenNoZombieAfterClose)
{
    SHELLEXECUTEINFOA info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = kHelper.c_str();
    info.lpParameters = "--sleep=300";
    ASSERT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 20));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(STILL_ACTIVE, code);
    EXPECT_TRUE(CloseHandle(info.hProcess));  // still running: reaped in the background
    EXPECT_TRUE(NoChildLeft());               // not even a zombie
}

TEST_F(ProcessTest, WinExecSearchesTheProgramFolderAndReportsMissingPrograms)
{
    EXPECT_GT(WinExec(R"(argv_dump.exe "two words" plain)", SW_SHOWNORMAL), 31u);
    EXPECT_EQ((Args{"two words", "plain"}), Dumped());
    EXPECT_EQ(SE_ERR_FNF, WinExec("no-such-program-here.exe x", SW_SHOWNORMAL));
    EXPECT_EQ(SE_ERR_FNF, WinExec("", SW_SHOWNORMAL));
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(ProcessTest, OpenVerbOnADocumentUsesTheOpener)
{
    const fs::path doc = fs::temp_directory_path() / ("torvo doc " + std::to_string(getpid()) + ".txt");
    std::ofstream(doc) << "x";
    setenv("TORVO_OPEN_PROGRAM", kHelper.c_str(), 1);
    const auto rc =
        reinterpret_cast<std::uintptr_t>(ShellExecuteA(0, "open", doc.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    EXPECT_GT(rc, 32u);
    EXPECT_EQ((Args{doc.string()}), Dumped());
    fs::remove(out_);

    SHELLEXECUTEINFOA info;  // the "Open with" route of the original shell
    info.lpFile = "rundll32";
    const std::string params = "shell32.dll,OpenAs_RunDLL \"" + doc.string() + "\"";
    info.lpParameters = params.c_str();
    EXPECT_TRUE(ShellExecuteExA(&info));
    EXPECT_EQ((Args{doc.string()}), Dumped());
    fs::remove(doc);

    EXPECT_EQ(SE_ERR_FNF, reinterpret_cast<std::uintptr_t>(ShellExecuteA(0, "open", doc.c_str(), nullptr, nullptr, 1)));
    EXPECT_EQ(SE_ERR_NOASSOC,
              reinterpret_cast<std::uintptr_t>(ShellExecuteA(0, "print", kHelper.c_str(), nullptr, nullptr, 1)));
    info.lpFile = "/nonexistent/file.txt";
    info.lpParameters = nullptr;
    EXPECT_FALSE(ShellExecuteExA(&info));
    EXPECT_EQ(SE_ERR_FNF, GetLastError());
}

TEST(Library, LoadsSystemLibrariesAndReportsMissingOnes)
{
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadLibraryA("plxNoSuchLibrary.dll"));
    EXPECT_EQ(ERROR_MOD_NOT_FOUND, GetLastError());
    HMODULE z = LoadLibraryA("libz.so.1");
    ASSERT_NE(nullptr, z);
    using VersionFn = const char* (*)();
    auto zlibVersion = reinterpret_cast<VersionFn>(GetProcAddress(z, "zlibVersion"));
    ASSERT_NE(nullptr, zlibVersion);
    EXPECT_EQ('1', zlibVersion()[0]);
    EXPECT_EQ(nullptr, GetProcAddress(z, "NoSuchEntry"));
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, GetLastError());
    EXPECT_TRUE(FreeLibrary(z));
    HMODULE z2 = LoadLibraryA("z.dll");  // "name.dll" finds "libname.so" on the loader's path
    if (z2) {
        EXPECT_TRUE(FreeLibrary(z2));
    }
}

TEST(VersionInfo, OwnProgramCarriesTheBuildVersion)
{
    EXPECT_EQ("0.1.0.0", win::FourPartVersion("0.1.0"));
    EXPECT_EQ("1.2.3.4", win::FourPartVersion("1.2.3.4"));
    const std::string self = win::ExecutablePath();
    char module[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, module, sizeof module), 0u);
    for (const std::string& name :
         {self, std::string(module), std::string("C:\\Torvo\\") + fs::path(self).filename().string() + ".EXE"}) {
        DWORD handle = 1;
        const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &handle);
        ASSERT_GT(size, 0u) << name;
        std::vector<char> block(size);
        ASSERT_TRUE(GetFileVersionInfoA(name.c_str(), handle, size, block.data()));
        void* value = nullptr;
        UINT length = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", &value, &length));
        const auto* words = static_cast<const WORD*>(value);
        char key[64];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04X%04X\\FileVersion", words[0], words[1]);
        ASSERT_TRUE(VerQueryValueA(block.data(), key, &value, &length));
        EXPECT_EQ(win::FourPartVersion(TORVO_VERSION), static_cast<const char*>(value));
        EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040504E2\\CompanyName", &value, &length));
        ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
        EXPECT_EQ(0xFEEF04BDu, static_cast<const VS_FIXEDFILEINFO*>(value)->dwSignature);
    }
    EXPECT_EQ(0u, GetFileVersionInfoSizeA("/bin/true", nullptr));
    EXPECT_EQ(ERROR_RESOURCE_TYPE_NOT_FOUND, GetLastError());
}

class ProcessOnDrives : public FsTest {
protected:
    void TearDown() override
    {
        unsetenv("ARGV_DUMP_FILE");
        FsTest::TearDown();
    }
    static Args Lines(const std::string& hostFile) { return LinesOf(hostFile); }
};

TEST_F(ProcessOnDrives, ProgramsAndFoldersGivenAsWindowsPathsGoThroughTheDriveTable)
{
    const std::string drive = root + "/prog drive";
    fs::create_directories(drive + "/Tools");
    fs::create_directories(drive + "/Work Dir");
    fs::copy_file(kHelper, drive + "/Tools/argv_dump");
    WriteHostFile(win::DriveTableFile(), "P: fixed " + drive + "\n");
    win::LoadDriveTable();

    // Names differ in case from the host's, and "X.EXE" runs "X"; the folder is the child's.
    setenv("ARGV_DUMP_FILE", "argv.txt", 1);
    SHELLEXECUTEINFOA info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.lpFile = "P:\\TOOLS\\ARGV_DUMP.EXE";
    info.lpParameters = R"("C:\a b.zip" --exit=3)";
    info.lpDirectory = "p:\\work dir";
    ASSERT_TRUE(ShellExecuteExA(&info));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, kExitLimitMs));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(3u, code);
    EXPECT_EQ((Args{"C:\\a b.zip", "--exit=3"}), Lines(drive + "/Work Dir/argv.txt"));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(info.hProcess, 0));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    setenv("ARGV_DUMP_FILE", (root + "/winexec.txt").c_str(), 1);
    EXPECT_GT(WinExec(R"("P:\Tools\argv_dump.exe" one "two three")", SW_SHOWNORMAL), 31u);
    EXPECT_EQ((Args{"one", "two three"}), Lines(root + "/winexec.txt"));

    // Unknown drives and missing folders are errors, not programs started elsewhere.
    EXPECT_EQ(SE_ERR_FNF, WinExec("Q:\\Tools\\argv_dump.exe", SW_SHOWNORMAL));
    EXPECT_EQ(SE_ERR_FNF, reinterpret_cast<std::uintptr_t>(
                              ShellExecuteA(0, "open", "P:\\Tools\\none.exe", nullptr, nullptr, SW_SHOWNORMAL)));
    EXPECT_EQ(SE_ERR_PNF, reinterpret_cast<std::uintptr_t>(
                              ShellExecuteA(0, "open", "P:\\Tools\\argv_dump.exe", nullptr, "Q:\\", SW_SHOWNORMAL)));
    EXPECT_TRUE(NoChildLeft());
}
