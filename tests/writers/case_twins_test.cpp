// Names that differ only in case are different files on the host: every writer keeps them as
// two entries, every reader writes each under its own name, and a delete or an update touches
// only the entry that carries the name exactly.
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";

void Put(const fs::path& File, const std::string& Bytes)
{
    fs::create_directories(File.parent_path());
    std::ofstream(File, std::ios::binary) << Bytes;
}

class CaseTwins : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!fs::exists(kTool))
            GTEST_SKIP() << "plxtool not built";
        Put(src / "README.TXT", "upper\n");
        Put(src / "readme.txt", "lower\n");
        Put(src / "Dir" / "x.txt", "Dir x\n");
        Put(src / "dir" / "x.txt", "dir x\n");
        Put(src / "Dir" / "Y", "Dir Y\n");
        Put(src / "dir" / "y", "dir y\n");
    }

    // plxtool in the source tree: exit status and output.
    int Tool(const std::string& Args, std::string* Output = nullptr) const
    {
        int code = -1;
        const std::string out =
            CaptureCommand("cd " + ShellQuote(src.string()) + " && " + ShellQuote(kTool) + " " + Args + " 2>&1", &code);
        if (Output)
            *Output = out;
        return code;
    }

    std::map<std::string, std::string> Extracted(const fs::path& Archive, const std::string& Folder,
                                                 const std::string& Options = "") const
    {
        const fs::path to = scratch / Folder;
        fs::create_directories(to);
        EXPECT_EQ(Tool("extract " + ShellQuote(Archive.string()) + " " + ShellQuote(to.string()) + Options), 0);
        return HostTree(to);
    }

    TScratchDir scratch;
    fs::path src = scratch / "src";
};

TEST_F(CaseTwins, EveryWriterAndReaderKeepsTwinsApart)
{
    for (const std::string type : {"zip", "jar", "tar", "tgz", "tbz", "lha", "bh", "cab"}) {
        SCOPED_TRACE(type);
        const fs::path archive = scratch / ("a." + type);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " '*' -r -t " + type), 0);
        const auto tree = HostTree(src);
        EXPECT_EQ(Extracted(archive, "x-" + type), tree);

        // A second run skips what exists and overwrites only what carries the member's name.
        const fs::path again = scratch / ("x-" + type);
        Put(again / "README.TXT", "stale\n");
        Put(again / "dir" / "y", "stale\n");
        EXPECT_EQ(Extracted(archive, "x-" + type)[std::string("README.TXT")], "stale\n");
        EXPECT_EQ(Extracted(archive, "x-" + type, " --overwrite"), tree);
    }
}

TEST_F(CaseTwins, DeleteAndUpdateTouchOnlyTheExactName)
{
    for (const std::string type : {"zip", "tar", "lha", "bh"}) {
        SCOPED_TRACE(type);
        const fs::path archive = scratch / ("u." + type);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " '*' -r -t " + type), 0);
        ASSERT_EQ(Tool("delete " + ShellQuote(archive.string()) + " readme.txt"), 0);
        auto want = HostTree(src);
        want.erase("readme.txt");
        EXPECT_EQ(Extracted(archive, "d-" + type), want);

        // A changed twin goes back in beside the other; the other stays as it was.
        Put(src / "readme.txt", "lower, changed\n");
        Put(src / "dir" / "x.txt", "dir x, changed\n");
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " '*' -r -t " + type), 0);
        EXPECT_EQ(Extracted(archive, "r-" + type), HostTree(src));
        Put(src / "readme.txt", "lower\n");
        Put(src / "dir" / "x.txt", "dir x\n");
    }
}

TEST_F(CaseTwins, PeerArchivesExtractWhole)
{
    struct TPeer {
        const char* Tool;
        const char* Name;
        const char* Make;
    };
    const TPeer peers[] = {
        {"zip", "z.zip", "zip -qr ../z.zip ."},
        {"tar", "t.tar", "tar cf ../t.tar ."},
        {"lha", "l.lzh", "lha aq ../l.lzh README.TXT readme.txt Dir dir"},
        {"7zz", "s.zip", "7zz a -bd -bso0 ../s.zip ."},
    };
    const auto tree = HostTree(src);
    for (const TPeer& peer : peers) {
        SCOPED_TRACE(peer.Name);
        if (!HaveTool(peer.Tool))
            continue;
        ASSERT_EQ(scratch.Run("cd src && " + std::string(peer.Make) + " >/dev/null 2>&1"), 0);
        EXPECT_EQ(FilesOnly(Extracted(scratch / peer.Name, std::string("p-") + peer.Name)), FilesOnly(tree));
    }
}

}  // namespace
