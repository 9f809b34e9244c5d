// The ACE extractor over our ACE library: the shared fixtures and archives made by the test-side
// ACE 1.0 writer extract to what the reference reader (acefile) extracts; damage and overwrite
// rules end with reports and never touch what should stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/plxUnAce.h"
#include "readers/support/AceWriter.h"
#include "support/HostTree.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

fs::path SharedRoot()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    return env ? fs::path(env).parent_path() : fs::path(TORVO_SOURCE_DIR) / ".." / "shared";
}

std::optional<fs::path> AceFixtures()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    const fs::path dir = (env ? fs::path(env) : SharedRoot() / "fixtures") / "ace";
    return fs::is_directory(dir) ? std::optional(dir) : std::nullopt;
}

std::optional<fs::path> AceOracle()
{
    const fs::path script = SharedRoot() / "oracles" / "acefile" / "acefile.py";
    return fs::exists(script) && HaveTool("python3") ? std::optional(script) : std::nullopt;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

class AceTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
    }

    void Bind(TUnACE& un)
    {
        un.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.OnBegin = [this](TObject*, const std::string&, int, bool&) { ++begins; };
        un.SetTempDir("C:\\tmp");
    }

    int Extract(const fs::path& archive, const std::string& out, const std::function<void(TUnACE&)>& setup = {})
    {
        reports.clear();
        ends.clear();
        begins = 0;
        TUnACE un;
        Bind(un);
        un.CreateStoredDirs = true;
        un.SetArchiveFile(archive.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
        if (setup)
            setup(un);
        return un.Extract();
    }

    std::map<std::string, std::string> OracleTree(const fs::path& archive, const std::string& out)
    {
        const fs::path dir = root + "/" + out;
        fs::create_directories(dir);
        const std::string command = "timeout 120 python3 " + ShellQuote(AceOracle()->string()) + " -x -d " +
                                    ShellQuote(dir.string()) + " " + ShellQuote(archive.string()) + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << archive;
        return HostTree(dir);
    }

    bool AllPassed() const
    {
        return !ends.empty() && std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; });
    }

    std::vector<int> reports;
    std::map<std::string, bool> ends;
    int begins = 0;
};

TEST_F(AceTest, FixturesExtractToWhatTheReferenceReaderExtracts)
{
    const auto fixtures = AceFixtures();
    if (!fixtures || !AceOracle())
        GTEST_SKIP() << "no ACE fixtures or no reference reader";
    int n = 0;
    for (const auto& e : fs::directory_iterator(*fixtures)) {
        SCOPED_TRACE(e.path().filename().string());
        const std::string out = "out" + std::to_string(++n);
        EXPECT_GT(Extract(e.path(), out), 0);
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        EXPECT_EQ(begins, int(ends.size()));
        EXPECT_EQ(HostTree(home + "/" + out), OracleTree(e.path(), "ref" + std::to_string(n)));
    }
}

TEST_F(AceTest, WrittenLz77ArchivesDecodeAsTheReferenceReaderDecodesThem)
{
    if (!AceOracle())
        GTEST_SKIP() << "no reference reader";
    std::string text;
    for (int i = 0; i < 4000; ++i)
        text += "line " + std::to_string(i % 97) + " of a text that repeats itself with small changes\n";
    std::vector<std::uint8_t> runs(70000, 'a');
    for (std::size_t i = 0; i < runs.size(); i += 1000)
        runs[i] = std::uint8_t(i / 1000);
    // Far copies (distances beyond 8 KiB) and repeated distances.
    std::vector<std::uint8_t> far = MixedBytes(20000, 3);
    const auto noise = far;
    far.insert(far.end(), noise.begin(), noise.end());
    far.insert(far.end(), noise.begin() + 100, noise.begin() + 9000);
    const std::vector<TAceTestMember> members = {
        {"text.txt", Bytes(text)},
        {"runs.bin", runs},
        {"dir\\far.bin", far},
        {"random.bin", MixedBytes(5000, 7)},
        {"one.txt", Bytes("x")},
        {"empty.txt", {}},
        {"stored.bin", MixedBytes(3000, 9), false},
    };
    int n = 0;
    for (int blockSymbols : {3000, 97}) {
        SCOPED_TRACE(blockSymbols);
        const fs::path archive = root + "/w" + std::to_string(++n) + ".ace";
        WriteWholeFile(archive, WriteAce10Archive(members, blockSymbols));
        const std::string out = "out" + std::to_string(n);
        EXPECT_EQ(Extract(archive, out), int(members.size()));
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        const auto ours = HostTree(home + "/" + out);
        EXPECT_EQ(ours, OracleTree(archive, "ref" + std::to_string(n)));
        EXPECT_EQ(ours.at("dir/far.bin"), std::string(far.begin(), far.end()));
        EXPECT_EQ(ours.at("text.txt"), text);
        if (HaveTool("unace")) {
            // The ACE 1.0 reader of the distribution agrees where it reads the archive.
            const fs::path dir = root + "/unace" + std::to_string(n);
            fs::create_directories(dir);
            if (std::system(("cd " + ShellQuote(dir.string()) + " && timeout 60 unace x -y " +
                             ShellQuote(archive.string()) + " >/dev/null 2>&1").c_str()) == 0) {
                EXPECT_EQ(HostTree(dir), ours);
            }
        }
    }
}

TEST_F(AceTest, DamageEndsWithAReportAndLeavesExistingFilesAlone)
{
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "some words " + std::to_string(i % 13) + "\n";
    std::vector<std::uint8_t> archive = WriteAce10Archive({{"a.txt", Bytes(text)}, {"b.txt", Bytes(text)}});
    // An existing target survives a member that fails its check.
    fs::create_directories(home + "/out");
    WriteWholeFile(home + "/out/a.txt", Bytes("keep me"));
    std::vector<std::uint8_t> flipped = archive;
    flipped[flipped.size() / 3] ^= 0x55;
    WriteWholeFile(root + "/flipped.ace", flipped);
    Extract(root + "/flipped.ace", "out");
    EXPECT_FALSE(reports.empty());
    EXPECT_FALSE(AllPassed());
    // Either the bad member failed its check (and its target was kept) or the stream ended.
    const auto after = ReadWholeFile(home + "/out/a.txt");
    if (!(ends.count("C:\\out\\a.txt") && ends["C:\\out\\a.txt"])) {
        EXPECT_EQ(std::string(after.begin(), after.end()), "keep me");
    }
    // Truncated anywhere: a report, nothing written beside the folder.
    for (std::size_t cut : {archive.size() - 7, archive.size() / 2, std::size_t(40), std::size_t(10)}) {
        WriteWholeFile(root + "/cut.ace", std::vector<std::uint8_t>(archive.begin(), archive.begin() + std::ptrdiff_t(cut)));
        Extract(root + "/cut.ace", "cut");
        EXPECT_FALSE(AllPassed() && reports.empty()) << cut;
    }
    for (const auto& e : fs::directory_iterator(home))
        EXPECT_TRUE(e.path().filename() == "out" || e.path().filename() == "cut" || e.path().filename() == "tmp")
            << e.path();
}

TEST_F(AceTest, OverwriteRulesNamesAndSelectionGoThroughTheDriver)
{
    const std::vector<std::uint8_t> archive =
        WriteAce10Archive({{"a.txt", Bytes("new a")}, {"sub\\b.txt", Bytes("new b")}, {"..\\evil.txt", Bytes("x")}});
    WriteWholeFile(root + "/x.ace", archive);
    fs::create_directories(home + "/out");
    WriteWholeFile(home + "/out/a.txt", Bytes("old a"));
    // omSkip keeps an existing target whole.
    Extract(root + "/x.ace", "out", [](TUnACE& un) { un.OverwriteMode = omSkip; });
    EXPECT_EQ(ReadWholeFile(home + "/out/a.txt"), Bytes("old a"));
    EXPECT_EQ(ReadWholeFile(home + "/out/sub/b.txt"), Bytes("new b"));
    EXPECT_FALSE(fs::exists(home + "/evil.txt"));
    EXPECT_NE(std::find(reports.begin(), reports.end(), E_INVALIDFILENAME), reports.end());
    // OnFileExists and OnRenameFile fire as for every extractor.
    int asked = 0;
    Extract(root + "/x.ace", "out", [&asked](TUnACE& un) {
        un.ConfirmOverwrites = true;
        un.OnFileExists = [&asked](TObject*, const std::string&, std::string&, TOverwriteMode& mode) {
            ++asked;
            mode = omOverwrite;
        };
        un.SetFileSpec({"a.txt"});
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadWholeFile(home + "/out/a.txt"), Bytes("new a"));
    EXPECT_EQ(int(ends.size()), 1);
    // A test writes nothing and still tells every entry's end.
    reports.clear();
    ends.clear();
    TUnACE un;
    Bind(un);
    un.SetArchiveFile(root + "/x.ace");
    un.SetFileSpec({"*.txt"});
    EXPECT_EQ(un.TestArchive(), 3);
    EXPECT_EQ(ends.size(), 3u);
}

}  // namespace
