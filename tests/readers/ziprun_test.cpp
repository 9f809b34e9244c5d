// Extract-and-run: a member is opened from a private folder that exists while the program that
// was handed it runs, is gone after a wait on that program, is kept while a desktop opener's viewer
// may still read it, and names that climb out of the folder are refused.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/Paths.h"
#include "readers/plxZipRun.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "support/ZipWalk.h"

namespace fs = std::filesystem;

namespace {

class ZipRunTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        tmp = home + "/tmp";
        fs::create_directories(tmp);
        WriteHostFile(home + "/src/sub/doc.txt", "the member's text\n");
        WriteHostFile(home + "/src/other.txt", "beside it\n");
        if (!HaveTool("zip"))
            GTEST_SKIP() << "zip missing";
        ASSERT_EQ(std::system(("cd " + ShellQuote(home + "/src") + " && zip -qr ../a.zip .").c_str()), 0);
        record = home + "/record";
        viewer = home + "/bin/viewer";
        // Records what it was given and whether the file was there, then stays a while.
        WriteHostFile(viewer,
                      "#!/bin/sh\n{ echo \"$1\"; if [ -f \"$1\" ]; then echo there; cat \"$1\"; else echo missing; "
                      "fi; } > " +
                          ShellQuote(record) + ".part && mv " + ShellQuote(record) + ".part " + ShellQuote(record) +
                          "\nsleep ${VIEWER_SLEEP:-0.3}\n");
        fs::permissions(viewer, fs::perms::owner_all);
    }

    void TearDown() override
    {
        unsetenv("TORVO_OPEN_PROGRAM");
        unsetenv("VIEWER_SLEEP");
        MessageBoxHook = nullptr;
        ProcessMessagesHook = nullptr;
        FsTest::TearDown();
    }

    // Prepares Z to open Member with the recording viewer.
    void PrepareForViewer(TZipRun& z, const std::string& Member)
    {
        Prepare(z, Member);
        z.OpenMethod = omOpenWithFile;
        z.CommandLineParams = viewer;
    }
    void Prepare(TZipRun& z, const std::string& Member)
    {
        z.SetTempDir("C:\\tmp");
        z.OnError = CollectCodes(reports);
        z.SetArchiveFile(home + "/a.zip");
        z.SetFileSpec({Member});
    }

    std::vector<std::string> RunFolders() const
    {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(tmp))
            if (e.path().filename().string().starts_with("torvo-run-"))
                found.push_back(e.path().string());
        return found;
    }

    // The record's lines once the viewer wrote it (it runs on after a desktop opener returns).
    std::vector<std::string> Record(int WaitMs = 3000) const
    {
        for (int waited = 0; !fs::exists(record) && waited < WaitMs; waited += 20)
            usleep(20000);
        std::vector<std::string> lines;
        std::istringstream in(ReadHostFile(record));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::string tmp, record, viewer;
    std::vector<int> reports;
};

TEST_F(ZipRunTest, AChosenProgramGetsTheFileAndTheFolderGoesAfterTheWait)
{
    TZipRun z;
    PrepareForViewer(z, "sub/doc.txt");
    std::vector<std::string> removed;
    z.OnRemoveTempfile = [&removed](TObject*, const std::string& name) { removed.push_back(name); };
    ASSERT_TRUE(z.Activate());
    const std::vector<std::string> lines = Record(0);
    ASSERT_EQ(lines.size(), 3u);
    std::string host;
    ASSERT_TRUE(win::ToHostPath(z.RunFile(), host));
    EXPECT_EQ(lines[0], host);
    EXPECT_TRUE(lines[0].starts_with(tmp + "/torvo-run-")) << lines[0];
    EXPECT_EQ(lines[1], "there");
    EXPECT_EQ(lines[2], "the member's text");
    EXPECT_EQ(removed, std::vector<std::string>{z.RunFile()});
    EXPECT_TRUE(RunFolders().empty());
    EXPECT_TRUE(reports.empty());
}

TEST_F(ZipRunTest, PlxtoolRunsAMemberAndRefusesNamesThatClimbOut)
{
    const std::string tool = std::string(TORVO_BUILD_DIR) + "/tools/plxtool";
    if (!fs::exists(tool))
        GTEST_SKIP() << "plxtool missing";
    const std::string env = "TMPDIR=" + ShellQuote(tmp) + " ";
    int rc = 0;
    const std::string out = CaptureCommand(env + tool + " run " + ShellQuote(home + "/a.zip") +
                                               " sub/doc.txt --wait --with " + ShellQuote(viewer) + " 2>&1",
                                           &rc);
    EXPECT_EQ(rc, 0) << out;
    const std::vector<std::string> lines = Record(0);
    ASSERT_EQ(lines.size(), 3u) << out;
    EXPECT_TRUE(lines[0].starts_with(tmp + "/torvo-run-") && lines[0].ends_with("/sub/doc.txt")) << lines[0];
    EXPECT_EQ(lines[1], "there");
    EXPECT_TRUE(RunFolders().empty());

    TZipWalkEntry evil;
    evil.Name = "../x";
    const std::string text = "escaped";
    evil.Data.assign(text.begin(), text.end());
    evil.UncompressedSize = text.size();
    evil.Crc = 0x0F2D2C0E;  // not checked: the name is refused first
    WriteWholeFile(home + "/evil.zip", OneEntryZip(evil));
    fs::remove(record);
    const std::string refused = CaptureCommand(env + tool + " run " + ShellQuote(home + "/evil.zip") +
                                                   " ../x --wait --with " + ShellQuote(viewer) + " 2>&1",
                                               &rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(refused.find(std::to_string(E_INVALIDFILENAME)), std::string::npos) << refused;
    EXPECT_FALSE(fs::exists(record));
    // Asked by its file name, the stored "../x" is refused by the extractor.
    const std::string byName = CaptureCommand(env + tool + " run " + ShellQuote(home + "/evil.zip") +
                                                  " x --wait --with " + ShellQuote(viewer) + " 2>&1",
                                              &rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(byName.find(std::to_string(E_INVALIDFILENAME)), std::string::npos) << byName;
    EXPECT_FALSE(fs::exists(record));
    EXPECT_FALSE(fs::exists(tmp + "/x"));
    EXPECT_FALSE(fs::exists(home + "/x"));
    EXPECT_TRUE(RunFolders().empty());
}

TEST_F(ZipRunTest, ADesktopOpenersFileStaysUntilTheComponentGoes)
{
    setenv("TORVO_OPEN_PROGRAM", viewer.c_str(), 1);
    setenv("VIEWER_SLEEP", "0", 1);
    std::string runFile;
    {
        TZipRun z;
        Prepare(z, "doc.txt");  // no folder: found in any
        ASSERT_TRUE(z.Activate());
        runFile = z.RunFile();
        EXPECT_EQ(Record()[1], "there");
        // The opener has ended, but a viewer it started could still be reading.
        ASSERT_EQ(RunFolders().size(), 1u);
        std::string host;
        ASSERT_TRUE(win::ToHostPath(runFile, host));
        EXPECT_EQ(ReadHostFile(host), "the member's text\n");
    }
    EXPECT_TRUE(RunFolders().empty());

    // Kept for a later start: removed once no process of the owner's id runs any more.
    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string orphan = tmp + "/torvo-run-" + std::to_string(dead) + "-abcdef";
    const std::string living = tmp + "/torvo-run-" + std::to_string(getppid()) + "-abcdef";
    WriteHostFile(orphan + "/old.txt", "x");
    WriteHostFile(living + "/old.txt", "x");
    fs::remove(record);
    {
        TZipRun z;
        Prepare(z, "doc.txt");
        z.ExecutionMethod = emExecuteNoWait;
        ASSERT_TRUE(z.Activate());
        Record();
        z.KeepRunFolders();
    }
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(living));
    EXPECT_EQ(RunFolders().size(), 2u);  // the living owner's and the kept one
}

TEST_F(ZipRunTest, CancelEndsTheWaitAndLeavesTheFileToTheProgram)
{
    setenv("VIEWER_SLEEP", "3", 1);
    TZipRun z;
    PrepareForViewer(z, "sub/doc.txt");
    int pumped = 0;
    ProcessMessagesHook = [&] {
        if (++pumped == 5)
            z.SetCancel(true);
    };
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(z.Activate());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    std::string host;
    ASSERT_TRUE(win::ToHostPath(z.RunFile(), host));
    EXPECT_TRUE(fs::exists(host));
    EXPECT_EQ(reports, std::vector<int>{E_USERCANCEL});
}

TEST_F(ZipRunTest, NothingStartsWhenTheHostSaysNoOrTheProgramIsMissing)
{
    TZipRun z;
    PrepareForViewer(z, "sub/doc.txt");
    z.OnBeforeExecute = [](TObject*, const std::string&, bool& execute) { execute = false; };
    EXPECT_FALSE(z.Activate());
    std::string host;
    ASSERT_TRUE(win::ToHostPath(z.RunFile(), host));
    EXPECT_EQ(ReadHostFile(host), "the member's text\n");  // the host's to use
    EXPECT_FALSE(fs::exists(record));

    std::vector<std::string> boxes;
    MessageBoxHook = [&boxes](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return IDOK;
    };
    TZipRun missing;
    Prepare(missing, "sub/doc.txt");
    missing.OpenMethod = omOpenWithFile;
    missing.CommandLineParams = home + "/bin/no-such-viewer";
    EXPECT_FALSE(missing.Activate());
    EXPECT_EQ(reports, std::vector<int>{E_COMMANDEXEC});
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_EQ(RunFolders().size(), 1u);  // only the first one's, which its host kept

    // A member that is not in the archive, and no member at all.
    reports.clear();
    TZipRun absent;
    Prepare(absent, "nothing.txt");
    EXPECT_FALSE(absent.Activate());
    EXPECT_TRUE(absent.RunFile().empty());
    EXPECT_EQ(RunFolders().size(), 1u);
    absent.SetFileSpec({});
    EXPECT_FALSE(absent.Activate());
}

}  // namespace
