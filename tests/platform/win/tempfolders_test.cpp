// Private working folders: closed to other users, and removed only once their owner has ended.
#include "FsTestSupport.h"
#include "platform/win/Paths.h"
#include "platform/win/TempFolders.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {
class TempFoldersTest : public FsTest {};
}  // namespace

TEST_F(TempFoldersTest, OwnedTempFoldersAreOwnedPrivateAndSweptOnlyWhenTheirOwnerIsGone)
{
    fs::create_directories(home + "/tmp");
    const std::string a = win::CreateOwnedTempFolder("C:\\tmp", "run-");
    const std::string b = win::CreateOwnedTempFolder("C:\\tmp", "run-");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.back(), '\\');
    std::string host;
    ASSERT_TRUE(win::ToHostPath(a, host));
    struct stat st {};
    ASSERT_EQ(stat(host.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::path(host).filename().string().starts_with("run-" + std::to_string(getpid()) + "-"));

    const pid_t dead = fork();
    if (dead == 0)
        _exit(0);
    waitpid(dead, nullptr, 0);
    const std::string orphan = home + "/tmp/run-" + std::to_string(dead) + "-zzzzzz";
    WriteHostFile(orphan + "/f", "x");
    // A link of that form is not followed.
    WriteHostFile(home + "/keep/f", "precious");
    fs::create_directory_symlink(home + "/keep", home + "/tmp/run-" + std::to_string(dead) + "-link00");
    WriteHostFile(home + "/tmp/run-x-zzzzzz/f", "not ours by name");
    win::RemoveOrphanedTempFolders("C:\\tmp", "run-");
    EXPECT_FALSE(fs::exists(orphan));
    EXPECT_TRUE(fs::exists(host));  // this process's own
    EXPECT_TRUE(fs::exists(home + "/tmp/run-x-zzzzzz/f"));
    EXPECT_EQ(ReadHostFile(home + "/keep/f"), "precious");

    EXPECT_TRUE(win::RemoveFolderTree(a));
    EXPECT_FALSE(fs::exists(host));
    fs::create_directory_symlink(home + "/keep", home + "/tmp/link");
    EXPECT_TRUE(win::RemoveFolderTree("C:\\tmp\\link\\"));
    EXPECT_EQ(ReadHostFile(home + "/keep/f"), "precious");
}
