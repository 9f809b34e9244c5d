// Temporary files name their owner: a later run removes those of dead owners and leaves those of
// living ones; the names work in folders whose paths are longer than MAX_PATH.
#include "FsTestSupport.h"

#include "platform/win/Errors.h"
#include "platform/win/TempFiles.h"

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>

using win::DriveEntry;

namespace {

class TempFilesTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        win::SetDriveTable({DriveEntry{'C', {}, {}, DRIVE_FIXED, home, 0, {}, false}});
    }

    // A child process that makes one temporary file in the folder, writes its name to a pipe and
    // then exits or waits for its pipe to close; answers the child's pid and the file's name.
    static std::pair<pid_t, std::string> ChildWithTempFile(const std::string& folder, const std::string& prefix,
                                                           bool stayAlive, int& holdOpen)
    {
        int names[2], hold[2];
        if (pipe(names) != 0 || pipe(hold) != 0)
            return {-1, {}};
        const pid_t pid = fork();
        if (pid == 0) {
            close(names[0]);
            close(hold[1]);
            const std::string name = win::CreateOwnedTempFile(folder, prefix);
            if (write(names[1], name.data(), name.size()) < 0)
                _exit(2);
            close(names[1]);
            char c;
            if (stayAlive)
                while (read(hold[0], &c, 1) > 0) {
                }
            _exit(0);
        }
        close(names[1]);
        close(hold[0]);
        std::string name;
        char buffer[512];
        for (ssize_t n; (n = read(names[0], buffer, sizeof buffer)) > 0;)
            name.append(buffer, std::size_t(n));
        close(names[0]);
        holdOpen = hold[1];
        if (!stayAlive) {
            close(holdOpen);
            holdOpen = -1;
            waitpid(pid, nullptr, 0);
        }
        return {pid, name};
    }

    static std::string BaseName(const std::string& windowsPath)
    {
        return windowsPath.substr(windowsPath.find_last_of('\\') + 1);
    }
};

TEST_F(TempFilesTest, ALaterRunRemovesDeadOwnersFilesAndNeverALivingOnes)
{
    const std::string folder = home + "/target";
    std::filesystem::create_directories(folder);
    int unused = -1, living = -1;
    const auto [livePid, liveName] = ChildWithTempFile("C:\\target", ".~x", true, living);
    const auto [deadPid, deadName] = ChildWithTempFile("C:\\target", ".~x", false, unused);
    ASSERT_FALSE(deadName.empty());
    ASSERT_FALSE(liveName.empty());
    const auto [otherPid, otherPrefixName] = ChildWithTempFile("C:\\target", "plx", false, unused);
    ASSERT_FALSE(otherPrefixName.empty());
    EXPECT_TRUE(win::IsDeadOwnersTempName(BaseName(deadName), ".~x"));
    EXPECT_FALSE(win::IsDeadOwnersTempName(BaseName(liveName), ".~x"));

    // Names that are not ours to judge: the old numbered form, another system's, a user's file.
    WriteHostFile(folder + "/.~xBEEF.tmp", "old form");
    const std::string live = BaseName(liveName);
    std::string foreign = live;
    const std::size_t tag = foreign.find('-', foreign.find('-') + 1) + 1;
    foreign[tag] = foreign[tag] == '0' ? '1' : '0';
    WriteHostFile(folder + "/" + foreign, "another system");
    WriteHostFile(folder + "/.~xnotes.tmp", "user");
    EXPECT_FALSE(win::IsDeadOwnersTempName(foreign, ".~x"));
    EXPECT_FALSE(win::IsDeadOwnersTempName(".~x1-2-3.tmp", ".~x"));
    EXPECT_FALSE(win::IsDeadOwnersTempName("", ".~x"));

    // This process's first temporary file in the folder sweeps it.
    const std::string ours = win::CreateOwnedTempFile("C:\\target\\", ".~x");
    ASSERT_FALSE(ours.empty());
    const auto names = NamesIn(folder);
    EXPECT_EQ(0u, names.count(BaseName(deadName)));
    EXPECT_EQ(1u, names.count(live));
    EXPECT_EQ(1u, names.count(BaseName(ours)));
    EXPECT_EQ(1u, names.count(".~xBEEF.tmp"));
    EXPECT_EQ(1u, names.count(foreign));
    EXPECT_EQ(1u, names.count(".~xnotes.tmp"));

    // Once its owner is gone, the living child's file goes at the next run's sweep.
    close(living);
    waitpid(livePid, nullptr, 0);
    EXPECT_TRUE(win::IsDeadOwnersTempName(live, ".~x"));
    EXPECT_FALSE(win::IsDeadOwnersTempName(BaseName(ours), ".~x"));
    (void)deadPid;
    (void)otherPid;
}

TEST_F(TempFilesTest, DeadOwnersFoldersGoWholeWithoutFollowingLinks)
{
    std::filesystem::create_directories(home + "/tmp");
    std::filesystem::create_directories(home + "/keep");
    WriteHostFile(home + "/keep/precious", "mine");
    int unused = -1;
    const auto [pid, name] = ChildWithTempFile("C:\\tmp", "tar", false, unused);
    ASSERT_FALSE(name.empty());
    // A dead run's work folder: the temporary name turned into a folder with files and a link.
    const std::string work = home + "/tmp/" + BaseName(name);
    std::filesystem::remove(work);
    WriteHostFile(work + "/deep/file", "left over");
    std::filesystem::create_directory_symlink(home + "/keep", work + "/link");
    ASSERT_FALSE(win::CreateOwnedTempFile("C:\\tmp", "tar").empty());
    EXPECT_FALSE(std::filesystem::exists(work));
    EXPECT_EQ("mine", ReadHostFile(home + "/keep/precious"));
    (void)pid;
}

// A run that died while it replaced a set left a journal: the next run puts the kept files back
// when the set's last file was not replaced yet, keeps the new set when it was, and touches
// nothing for a journal the run did not finish writing (no file had been replaced then).
TEST_F(TempFilesTest, ADeadRunsSetReplacementIsPutBackOrKept)
{
    const std::string folder = home + "/set";
    int unused = -1;
    const auto deadFile = [&](const std::string& prefix, const std::string& content) {
        const std::string path = folder + "/" + BaseName(ChildWithTempFile("C:\\set", prefix, false, unused).second);
        WriteHostFile(path, content);
        return path;
    };
    const auto inodeOf = [](const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino);
    };
    for (const std::string state : {"unfinished", "not replaced", "replaced"}) {
        SCOPED_TRACE(state);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        WriteHostFile(folder + "/set.zip", "old last");
        WriteHostFile(folder + "/set.z01", "new first");
        WriteHostFile(folder + "/set.z02", "new second");
        // One dead owner's kept copy and journal, as one run makes them (a second child would
        // sweep the first one's file before the journal is there).
        const std::string kept = deadFile("kept", "old first");
        const std::string journalPath = folder + "/setj" + kept.substr(folder.size() + 5);
        const std::string lastId = state == "replaced" ? "1 1" : inodeOf(folder + "/set.zip");
        std::string journal = "set-replacement-1\nlast " + lastId + " " + folder + "/set.zip\nkeep " + kept + " " +
                              folder + "/set.z01\nnew " + folder + "/set.z02\n";
        if (state != "unfinished")
            journal += "end\n";
        WriteHostFile(journalPath, journal);

        win::RemoveDeadOwnersLeftovers();
        if (state == "not replaced") {
            EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"set.z01", "set.zip"}));
            EXPECT_EQ(ReadHostFile(folder + "/set.z01"), "old first");
        } else {
            EXPECT_EQ(NamesIn(folder), (std::set<std::string>{"set.z01", "set.z02", "set.zip"}));
            EXPECT_EQ(ReadHostFile(folder + "/set.z01"), "new first");
        }
    }
}

TEST_F(TempFilesTest, AnyLaterRunRemovesDeadOwnersFilesWhereverTheyWereMade)
{
    for (const char* folder : {"a", "b", "c"})
        std::filesystem::create_directories(home + "/" + folder);
    int unused = -1, living = -1;
    // Prefixes that end in hex digits, as "cab" and "uue" do, must not confuse the owner.
    const auto dead = {ChildWithTempFile("C:\\a", "cab", false, unused).second,
                       ChildWithTempFile("C:\\b", ".archive.zip.", false, unused).second,
                       ChildWithTempFile("C:\\b", "uue", false, unused).second};
    const auto [livePid, liveName] = ChildWithTempFile("C:\\c", "abc", true, living);
    for (const auto& name : dead)
        EXPECT_TRUE(win::IsDeadOwnersTempName(BaseName(name))) << name;
    EXPECT_FALSE(win::IsDeadOwnersTempName(BaseName(liveName)));
    EXPECT_FALSE(win::IsDeadOwnersTempName("notes.tmp"));
    EXPECT_FALSE(win::IsDeadOwnersTempName("backup-1-2-3.tmp"));
    WriteHostFile(home + "/b/mine-1-2-deadbeef-3.tmp", "user");  // another system's tag, or a user's name
    WriteHostFile(home + "/b/notes.tmp", "user");

    win::RemoveDeadOwnersLeftovers();
    EXPECT_TRUE(NamesIn(home + "/a").empty());
    EXPECT_EQ(NamesIn(home + "/b"), (std::set<std::string>{"mine-1-2-deadbeef-3.tmp", "notes.tmp"}));
    EXPECT_EQ(NamesIn(home + "/c"), std::set<std::string>{BaseName(liveName)});
    // Only the folder with a living owner's file stays listed.
    EXPECT_EQ(ReadHostFile(win::TempFolderListPath()), home + "/c\n");

    close(living);
    waitpid(livePid, nullptr, 0);
    win::RemoveDeadOwnersLeftovers();
    EXPECT_TRUE(NamesIn(home + "/c").empty());
    EXPECT_EQ(ReadHostFile(win::TempFolderListPath()), "");
}

TEST_F(TempFilesTest, ATerminatingSignalRemovesTheRunsOwnTemporaryFilesAndFolders)
{
    std::filesystem::create_directories(home + "/t");
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        if (child == 0) {
            close(ready[0]);
            win::CreateOwnedTempFile("C:\\t", "plx");
            // A work folder with files in it, as the cabinet and TAR writers make.
            const std::string work = win::CreateOwnedTempFile("C:\\t", "cab");
            DeleteFileA(work.c_str());
            CreateDirectoryA(work.c_str(), nullptr);
            CreateDirectoryA((work + "\\old").c_str(), nullptr);
            for (const char* name : {"\\a", "\\old\\b"}) {
                HANDLE h = CreateFileA((work + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
                CloseHandle(h);
            }
            if (write(ready[1], "x", 1) != 1)
                _exit(2);
            for (;;)
                pause();
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
        EXPECT_EQ(NamesIn(home + "/t").size(), 2u);
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;  // ended as by the signal
        EXPECT_TRUE(NamesIn(home + "/t").empty());
    }
}

TEST_F(TempFilesTest, LongFolderPathsTakeTemporaryFiles)
{
    // Host paths far beyond MAX_PATH, in names of 100 bytes each.
    std::string windows = "C:", host = home;
    for (int level = 0; level < 8; ++level) {
        const std::string part = "level" + std::to_string(level) + std::string(94, 'x');
        windows += "\\" + part;
        host += "/" + part;
    }
    std::filesystem::create_directories(host);
    ASSERT_GT(host.size(), 800u);
    char limited[MAX_PATH + 1] = {};
    EXPECT_EQ(0u, GetTempFileNameA(windows.c_str(), "plx", 0, limited));  // the API keeps its limit
    const std::string name = win::CreateOwnedTempFile(windows, ".~x");
    ASSERT_FALSE(name.empty()) << GetLastError();
    EXPECT_EQ(windows + "\\", name.substr(0, windows.size() + 1));
    EXPECT_EQ(0u, GetFileAttributesA(name.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(std::filesystem::exists(host + "/" + name.substr(windows.size() + 1)));

    EXPECT_TRUE(win::CreateOwnedTempFile("C:\\no-such", ".~x").empty());
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
}

}  // namespace
