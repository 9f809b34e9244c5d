// Extraction beside the target in folders with long host paths, and the clean-up of the temporary
// files that a killed extraction left there.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win/TempFiles.h"
#include "readers/plxUnZIP.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

// Field 22 of the process's stat record, as the temporary names carry it.
unsigned long long OwnStartTime()
{
    std::string stat = ReadText("/proc/self/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        fields >> field;
    return std::stoull(field);
}

class UnZipPathsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("command -v zip >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "zip missing";
        WriteText(root / "src" / "a.txt", "first file\n");
        WriteText(root / "src" / "Sub" / "b.bin", std::string(70000, '\x5a'));
        ASSERT_EQ(0, std::system(("cd '" + (root / "src").string() + "' && zip -qrD ../a.zip .").c_str()));
    }

    int Extract(const fs::path& dir, std::vector<int>* errors = nullptr)
    {
        TUnZip z;
        z.OnError = [&](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            if (errors)
                errors->push_back(code);
        };
        z.SetArchiveFile((root / "a.zip").string());
        z.SetExtractDir(dir.string());
        z.CreateStoredDirs = true;
        return z.Extract();
    }

    TScratchDir scratch;
    const fs::path root = scratch.Path();
};

TEST_F(UnZipPathsTest, FilesExtractIntoFoldersWithLongHostPaths)
{
    // 246 bytes used to be the end; the host's own limit is the only one now.
    for (const std::size_t length : {std::size_t(246), std::size_t(260), std::size_t(1500)}) {
        SCOPED_TRACE(length);
        fs::path dir = root / "out";
        while (dir.string().size() + 101 < length)
            dir /= std::string(100, char('a' + dir.string().size() % 26));
        dir /= std::string(length - dir.string().size() - 1, 'z');
        ASSERT_EQ(length, dir.string().size());
        std::vector<int> errors;
        EXPECT_EQ(2, Extract(dir, &errors));
        EXPECT_TRUE(errors.empty()) << errors.front();
        EXPECT_EQ("first file\n", ReadText(dir / "a.txt"));
        EXPECT_TRUE(std::string(70000, '\x5a') == ReadText(dir / "Sub" / "b.bin"));
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            names.insert(e.path().filename().string());
        EXPECT_EQ((std::set<std::string>{"Sub", "a.txt"}), names);
        fs::remove_all(root / "out");
    }
}

TEST_F(UnZipPathsTest, AnExtractionRemovesWhatAKilledOneLeftAndKeepsALivingOnes)
{
    const fs::path out = root / "out";
    fs::create_directories(out);
    // A run that was killed while writing: its temporary file stays behind, its process is gone.
    const pid_t killed = fork();
    if (killed == 0) {
        const std::string name = win::CreateOwnedTempFile(out.string(), ".~x");
        if (!name.empty()) {
            std::ofstream(out / name.substr(name.find_last_of('\\') + 1), std::ios::app) << "half written";
        }
        raise(SIGKILL);
        _exit(1);
    }
    ASSERT_GT(killed, 0);
    waitpid(killed, nullptr, 0);
    std::set<std::string> leftOver;
    for (const auto& e : fs::directory_iterator(out))
        leftOver.insert(e.path().filename().string());
    ASSERT_EQ(1u, leftOver.size());
    // The file of a run still going (this process stands in for one) must survive.
    const std::string& dead = *leftOver.begin();
    const std::size_t tag = dead.find('-', dead.find('-') + 1);
    std::ostringstream living;
    living << ".~x" << std::hex << ::getpid() << '-' << OwnStartTime() << dead.substr(tag, 9) << "-abc.tmp";
    WriteText(out / living.str(), "busy");

    ASSERT_EQ(2, Extract(out));
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(out))
        names.insert(e.path().filename().string());
    EXPECT_EQ(0u, names.count(*leftOver.begin()));
    EXPECT_EQ(1u, names.count(living.str()));
    EXPECT_EQ(1u, names.count("a.txt"));
    EXPECT_EQ(1u, names.count("Sub"));
    EXPECT_EQ(3u, names.size());
}

}  // namespace
