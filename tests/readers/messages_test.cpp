// What a person is told: a wrong password is said as one, a member split over volumes passes
// once and keeps its date, a missing volume is named once, and a name the host cannot take says
// why.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysFiles.h"
#include "readers/ExtractorFor.h"
#include "readers/plxUnCab.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnZIP.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

struct TReport {
    std::string File, Extended;
    int Code;
};

class MessagesTest : public FsTest {
protected:
    void Bind(TUnBase& un)
    {
        reports.clear();
        passed = failed = 0;
        un.OnError = [this](TObject*, const std::string& file, const std::string& extended, const std::string&,
                            int code) {
            reports.push_back({file, extended, code});
        };
        un.OnEnd = [this](TObject*, const std::string&, bool pass) { (pass ? passed : failed) += 1; };
        un.OnNextVolume = [](TObject*, std::string& volume, int, bool exists, bool& cancel) {
            cancel = !exists && !win::FileExists(volume);
        };
    }
    int Count(int code) const
    {
        return int(std::count_if(reports.begin(), reports.end(), [code](const TReport& r) { return r.Code == code; }));
    }
    void Run(const std::string& command)
    {
        ASSERT_EQ(std::system(("cd " + ShellQuote(home) + " && { " + command + "; } >/dev/null 2>&1").c_str()), 0)
            << command;
    }

    std::vector<TReport> reports;
    int passed = 0, failed = 0;
};

TEST_F(MessagesTest, WrongZipPasswordIsSaidAsOneAndNothingCounts)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteHostFile(home + "/" + name, std::string(200, name[0]));
    Run("zip -q -P secret enc.zip a.txt b.txt c.txt");
    TUnZip un;
    Bind(un);
    un.SetPassword("wrong");
    un.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&,
                          bool& tryAgain) { tryAgain = false; };
    un.SetArchiveFile("C:\\enc.zip");
    un.SetExtractDir("C:\\out");
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(Count(E_CRC), 0);
    EXPECT_EQ(Count(E_PASSWORDFAILED), 3);
    EXPECT_EQ(failed, 3);
    EXPECT_FALSE(fs::exists(home + "/out/b.txt"));
}

TEST_F(MessagesTest, ArjMemberSplitOverVolumesPassesOnceAndKeepsItsDate)
{
    if (!HaveTool("arj"))
        GTEST_SKIP() << "arj missing";
    WriteWholeFile(home + "/big.bin", MixedBytes(30000, 7));
    WriteHostFile(home + "/small.txt", "small\n");
    Run("touch -d '2019-05-03 10:20:30' big.bin small.txt && arj a -v12K -y vol.arj big.bin small.txt");
    ASSERT_TRUE(fs::exists(home + "/vol.a01"));
    std::unique_ptr<TUnBase> un = NewExtractor(atArj);
    Bind(*un);
    un->SetArchiveFile("C:\\vol.arj");
    EXPECT_EQ(un->TestArchive(), 2);
    EXPECT_EQ(passed, 2);
    EXPECT_TRUE(reports.empty());
    un = NewExtractor(atArj);
    Bind(*un);
    un->SetArchiveFile("C:\\vol.arj");
    un->SetExtractDir("C:\\out");
    EXPECT_EQ(un->Extract(), 2);
    EXPECT_EQ(passed, 2);
    EXPECT_EQ(ReadWholeFile(home + "/out/big.bin"), ReadWholeFile(home + "/big.bin"));
    struct stat ours {
    }, theirs{};
    ASSERT_EQ(stat((home + "/out/big.bin").c_str(), &ours), 0);
    ASSERT_EQ(stat((home + "/big.bin").c_str(), &theirs), 0);
    EXPECT_NEAR(double(ours.st_mtime), double(theirs.st_mtime), 2.0);
}

TEST_F(MessagesTest, AMissingVolumeIsNamedOnce)
{
    const fs::path fixtures = FixtureRoot();
    const fs::path rar = fixtures / "rar" / "libarchive" / "test_rar_multivolume_single_file.part1.rar";
    const fs::path cab = fixtures / "cab" / "libarchive" / "test_read_format_cab_multi.p1.cab";
    if (!fs::exists(rar) || !fs::exists(cab))
        GTEST_SKIP() << "no fixtures";
    fs::copy_file(rar, home + "/set.part1.rar");
    fs::copy_file(cab, home + "/set.p1.cab");
    struct TCase {
        std::unique_ptr<TUnBase> Extractor;
        std::string Archive, Missing;
    };
    TCase cases[] = {{std::make_unique<TUnRar>(), "set.part1.rar", "set.part2.rar"},
                     {std::make_unique<TUnCab>(), "set.p1.cab", "test_read_format_cab_multi.p2.cab"}};
    for (TCase& c : cases) {
        SCOPED_TRACE(c.Archive);
        if (auto* r = dynamic_cast<TUnRar*>(c.Extractor.get()); r && !TUnRar::LibraryLoaded())
            continue;
        Bind(*c.Extractor);
        c.Extractor->SetArchiveFile("C:\\" + c.Archive);
        c.Extractor->TestArchive();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].Code, E_USERCANCEL);
        EXPECT_NE(reports[0].File.find(c.Missing), std::string::npos) << reports[0].File;
    }
}

TEST_F(MessagesTest, ANameTheHostCannotTakeSaysWhy)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    WriteHostFile(home + "/src/what?.txt", "x");
    WriteHostFile(home + "/src/fine.txt", "y");
    Run("cd src && zip -q ../names.zip 'what?.txt' fine.txt");
    TUnZip un;
    Bind(un);
    un.SetArchiveFile("C:\\names.zip");
    un.SetExtractDir("C:\\out");
    EXPECT_EQ(un.Extract(), 1);
    ASSERT_EQ(Count(E_INVALIDFILENAME), 1);
    EXPECT_NE(reports[0].Extended.find('?'), std::string::npos) << reports[0].Extended;
    EXPECT_TRUE(fs::exists(home + "/out/fine.txt"));
}

}  // namespace
