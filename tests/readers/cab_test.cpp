// The cabinet extractor against the cabinet tools: cabinets of gcab (stored and MSZIP, folders,
// Czech names) and the shared fixtures (LZX, a two-cabinet set, malformed) extract to what
// cabextract extracts; damage ends with a report and nothing written outside the target.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/SysFiles.h"
#include "readers/plxUnCab.h"
#include "support/HostTree.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> CabFixtures()
{
    const char* env = std::getenv("TORVO_FIXTURES");
    const fs::path root = env ? fs::path(env) : fs::path(TORVO_SOURCE_DIR) / ".." / "shared" / "fixtures";
    if (!fs::is_directory(root / "cab"))
        return std::nullopt;
    return root / "cab";
}

// Contents only, for names that the two readers decode differently.
std::multiset<std::string> Contents(const std::map<std::string, std::string>& tree)
{
    std::multiset<std::string> out;
    for (const auto& [name, bytes] : tree)
        if (name.empty() || name.back() != '/')
            out.insert(bytes);
    return out;
}

// An extractor whose cabinet library is absent.
class TUnCabWithoutLibrary : public TUnCab {
public:
    TUnCabWithoutLibrary() { FLibrary = &Absent; }
    static inline const TCabinetLibrary Absent{};
};

class CabReaderTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
    }

    void Bind(TUnCab& un, const fs::path& archive, const std::string& out)
    {
        reports.clear();
        ends.clear();
        un.OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int code) {
            reports.push_back(code);
        };
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.OnNextVolume = [](TObject*, std::string& volume, int, bool exists, bool& cancel) {
            cancel = !exists && !win::FileExists(volume);
        };
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\tmp");
        un.SetArchiveFile(archive.string());
        un.SetExtractDir("C:\\" + out);
        fs::create_directories(home + "/" + out);
    }

    int Extract(const fs::path& archive, const std::string& out)
    {
        TUnCab un;
        Bind(un, archive, out);
        return un.Extract();
    }

    // What cabextract extracts from Archive into home/Out; its exit status in Status.
    std::map<std::string, std::string> CabextractTree(const fs::path& archive, const std::string& out, int& status)
    {
        const fs::path ref = fs::path(home) / out;
        fs::remove_all(ref);
        fs::create_directories(ref);
        status = std::system(("cd " + ShellQuote(ref.string()) + " && timeout 20 cabextract -q " +
                              ShellQuote(archive.string()) + " >/dev/null 2>&1")
                                 .c_str());
        return HostTree(ref);
    }

    void MakeSource()
    {
        const fs::path src = fs::path(home) / "src";
        fs::create_directories(src / "sub" / "hluboko");
        WriteWholeFile(src / "text.txt", MixedBytes(150000, 1));
        const std::string noise = RandomBytes(70000, 2);
        WriteWholeFile(src / "noise.bin", std::vector<std::uint8_t>(noise.begin(), noise.end()));
        WriteWholeFile(src / "sub" / "žluťoučký kůň.txt", MixedBytes(3000, 3));
        WriteWholeFile(src / "sub" / "hluboko" / "prázdný", {});
    }

    std::vector<int> reports;
    std::map<std::string, bool> ends;
};

TEST_F(CabReaderTest, GcabCabinetsExtractAsCabextractExtractsThem)
{
    if (!HaveTool("gcab") || !HaveTool("cabextract"))
        GTEST_SKIP() << "gcab or cabextract missing";
    MakeSource();
    const std::string files = "text.txt noise.bin 'sub/žluťoučký kůň.txt' sub/hluboko/prázdný";
    for (const std::string options : {"-c", "-cz"}) {
        SCOPED_TRACE(options);
        const fs::path cab = fs::path(home) / ("gcab" + options + ".cab");
        ASSERT_EQ(std::system(("cd " + ShellQuote(home + "/src") + " && gcab " + options + " " +
                               ShellQuote(cab.string()) + " " + files)
                                  .c_str()),
                  0);
        int status = 0;
        const auto expected = CabextractTree(cab, "ref", status);
        ASSERT_EQ(status, 0);
        ASSERT_EQ(expected.size(), 6u);
        fs::remove_all(home + "/out");
        EXPECT_EQ(Extract(cab, "out"), 4);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(HostTree(fs::path(home) / "out"), expected);
        EXPECT_EQ(ends.size(), 4u);
        EXPECT_TRUE(std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; }));
        // A test decodes everything and writes nothing.
        TUnCab tester;
        Bind(tester, cab, "tested");
        EXPECT_EQ(tester.TestArchive(), 4);
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(fs::is_empty(fs::path(home) / "tested"));
    }
}

// One extractor over a cabinet that is replaced between runs under the same name: every run reads
// the cabinet as it is then, not the headers an earlier pass read.
TEST_F(CabReaderTest, AReusedExtractorReadsTheCabinetAsItIsNow)
{
    if (!HaveTool("gcab"))
        GTEST_SKIP() << "gcab missing";
    MakeSource();
    const fs::path cab = fs::path(home) / "same.cab", first = fs::path(home) / "first.cab";
    const auto make = [&](const fs::path& to, const std::string& names) {
        return std::system(
            ("cd " + ShellQuote(home + "/src") + " && gcab -cz " + ShellQuote(to.string()) + " " + names).c_str());
    };
    ASSERT_EQ(make(first, "text.txt noise.bin"), 0);
    ASSERT_EQ(make(cab, "'sub/žluťoučký kůň.txt'"), 0);
    fs::rename(cab, fs::path(home) / "second.cab");
    fs::copy_file(first, cab);
    TUnCab un;
    Bind(un, cab, "one");
    EXPECT_EQ(un.TestArchive(), 2);
    EXPECT_EQ(un.Extract(), 2);
    fs::copy_file(fs::path(home) / "second.cab", cab, fs::copy_options::overwrite_existing);
    Bind(un, cab, "two");
    EXPECT_EQ(un.Extract(), 1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(HostTree(fs::path(home) / "one").size(), 2u);
    const auto two = HostTree(fs::path(home) / "two");
    ASSERT_EQ(two.size(), 2u);  // the file and its folder
    EXPECT_EQ(two.begin()->first, "sub/");
}

TEST_F(CabReaderTest, SelectionStubsAndAbsentLibrary)
{
    if (!HaveTool("gcab"))
        GTEST_SKIP() << "gcab missing";
    MakeSource();
    const fs::path cab = fs::path(home) / "z.cab";
    ASSERT_EQ(std::system(("cd " + ShellQuote(home + "/src") + " && gcab -cz " + ShellQuote(cab.string()) +
                           " text.txt noise.bin 'sub/žluťoučký kůň.txt'")
                              .c_str()),
              0);
    // An excluded file is neither counted nor written.
    {
        TUnCab un;
        Bind(un, cab, "sel");
        un.SetExcludeSpec({"*.bin"});
        EXPECT_EQ(un.Extract(), 2);
        EXPECT_FALSE(fs::exists(home + "/sel/noise.bin"));
        EXPECT_TRUE(fs::exists(home + "/sel/text.txt"));
    }
    // Behind a stub of another program the cabinet starts at its offset; the stub is never read as one.
    {
        std::vector<std::uint8_t> bytes(5000, 0);
        bytes[0] = 'M';
        bytes[1] = 'Z';
        const std::vector<std::uint8_t> body = ReadWholeFile(cab);
        bytes.insert(bytes.end(), body.begin(), body.end());
        WriteWholeFile(fs::path(home) / "sfx.exe", bytes);
        TUnCab un;
        Bind(un, fs::path(home) / "sfx.exe", "sfx");
        EXPECT_EQ(un.ArcType(), atCabExe);
        EXPECT_EQ(un.Extract(), 3);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(ReadWholeFile(fs::path(home) / "sfx" / "text.txt"), MixedBytes(150000, 1));
    }
    // Without the library every run reports that and writes nothing.
    {
        TUnCabWithoutLibrary un;
        Bind(un, cab, "nolib");
        EXPECT_EQ(un.Extract(), 0);
        EXPECT_EQ(reports, std::vector<int>{E_CABINETDLL});
        EXPECT_TRUE(fs::is_empty(fs::path(home) / "nolib"));
    }
}

TEST_F(CabReaderTest, DamagedDataFailsTheFileAndLeavesNothing)
{
    if (!HaveTool("gcab"))
        GTEST_SKIP() << "gcab missing";
    MakeSource();
    const fs::path cab = fs::path(home) / "z.cab";
    ASSERT_EQ(
        std::system(
            ("cd " + ShellQuote(home + "/src") + " && gcab -cz " + ShellQuote(cab.string()) + " text.txt").c_str()),
        0);
    std::vector<std::uint8_t> bytes = ReadWholeFile(cab);
    bytes[bytes.size() / 2] ^= 0x55;
    WriteWholeFile(cab, bytes);
    EXPECT_EQ(Extract(cab, "out"), 0);
    EXPECT_EQ(reports, std::vector<int>{E_CORRUPTINPUT});
    EXPECT_EQ(ends, (std::map<std::string, bool>{{"C:\\out\\text.txt", false}}));
    EXPECT_TRUE(fs::is_empty(fs::path(home) / "out"));
    // Not a cabinet at all.
    WriteWholeFile(cab, std::vector<std::uint8_t>(100, 'x'));
    EXPECT_EQ(Extract(cab, "none"), 0);
    EXPECT_EQ(reports, std::vector<int>{E_CORRUPTINPUT});
}

TEST_F(CabReaderTest, ACancelRaisedWhileAFileIsWrittenEndsTheRunAndLeavesNothing)
{
    // Raised inside the library's decoding (a full disk, a host's cancel): it reaches the run, the
    // library frees what it holds (the sanitizer's leak check), and no part of the file stays.
    if (!HaveTool("gcab"))
        GTEST_SKIP() << "gcab missing";
    MakeSource();
    const fs::path cab = fs::path(home) / "z.cab";
    ASSERT_EQ(std::system(("cd " + ShellQuote(home + "/src") + " && gcab -cz " + ShellQuote(cab.string()) +
                           " text.txt noise.bin")
                              .c_str()),
              0);
    TUnCab un;
    Bind(un, cab, "out");
    un.OnProgress = [](TObject*, std::uint8_t, std::uint8_t) { throw ECancel(); };
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(fs::is_empty(fs::path(home) / "out"));
}

// One stored file in one folder, byte by byte; FilesOffset where the file table is said to be.
std::string StoredCabinet(const std::string& Data, std::uint32_t FilesOffset)
{
    const std::string name = "a.txt";
    const std::uint32_t dataAt = 36 + 8 + 16 + std::uint32_t(name.size()) + 1;
    std::string cab = "MSCF";
    AppendLE(cab, std::uint32_t(0));
    AppendLE(cab, std::uint32_t(dataAt + 8 + Data.size()));
    AppendLE(cab, std::uint32_t(0));
    AppendLE(cab, FilesOffset);
    AppendLE(cab, std::uint32_t(0));
    cab += "\x03\x01";                // version 1.3
    AppendLE(cab, std::uint16_t(1));  // folders
    AppendLE(cab, std::uint16_t(1));  // files
    AppendLE(cab, std::uint32_t(0));  // flags, set id
    AppendLE(cab, std::uint16_t(0));  // cabinet index
    AppendLE(cab, dataAt);            // the folder's first data block
    AppendLE(cab, std::uint32_t(1));  // one block, stored
    AppendLE(cab, std::uint32_t(Data.size()));
    AppendLE(cab, std::uint32_t(0));           // offset in the folder
    AppendLE(cab, std::uint16_t(0));           // folder
    AppendLE(cab, std::uint32_t(0x5A8B6000));  // date and time
    AppendLE(cab, std::uint16_t(0x20));
    cab += name + '\0';
    AppendLE(cab, std::uint32_t(0));  // no checksum
    AppendLE(cab, std::uint16_t(Data.size()));
    AppendLE(cab, std::uint16_t(Data.size()));
    return cab + Data;
}

TEST_F(CabReaderTest, AFileTableOffsetPastTwoGigabytesEndsCleanly)
{
    const fs::path cab = fs::path(home) / "h.cab";
    WriteText(cab, StoredCabinet("hand made\n", 44));
    EXPECT_EQ(Extract(cab, "sound"), 1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ReadText(fs::path(home) / "sound" / "a.txt"), "hand made\n");
    // Read as a signed offset it once made the span check's size overflow. The file table follows
    // the folder as always: either it is read from there or the cabinet is refused, nothing else.
    WriteText(cab, StoredCabinet("hand made\n", 0x8000002C));
    const int extracted = Extract(cab, "out");
    if (reports.empty())
        EXPECT_EQ(ReadText(fs::path(home) / "out" / "a.txt"), "hand made\n");
    else
        EXPECT_TRUE(extracted == 0 && fs::is_empty(fs::path(home) / "out"));
}

TEST_F(CabReaderTest, FixturesExtractAsCabextractOrFailCleanly)
{
    const auto fixtures = CabFixtures();
    TORVO_NEED_FIXTURES(fixtures && HaveTool("cabextract"), "no CAB fixtures or no cabextract");
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(*fixtures)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path cab = entry.path();
        const std::string name = cab.filename().string();
        SCOPED_TRACE(name);
        if (name.find(".p2.") != std::string::npos)
            continue;  // the second of a set: below
        // Copied so that a run's output beside the archive would show.
        const fs::path box = fs::path(home) / "box";
        fs::remove_all(box);
        fs::create_directories(box);
        fs::copy_file(cab, box / name);
        if (name.find(".p1.") != std::string::npos)
            fs::copy_file(cab.parent_path() / std::string(name).replace(name.find(".p1."), 4, ".p2."),
                          box / std::string(name).replace(name.find(".p1."), 4, ".p2."));
        int status = 0;
        const auto expected = CabextractTree(box / name, "ref", status);
        fs::remove_all(home + "/out");
        Extract(box / name, "out");
        const auto got = HostTree(fs::path(home) / "out");
        if (status == 0 && name.find("cp932") != std::string::npos) {
            EXPECT_EQ(Contents(got), Contents(expected));  // names in a code page neither reader knows
        } else if (status == 0) {
            EXPECT_EQ(got, expected);
            EXPECT_TRUE(reports.empty());
        } else {
            EXPECT_FALSE(reports.empty());  // damaged: reported, and only whole files stay
            for (const auto& [file, bytes] : got)
                EXPECT_TRUE(expected.count(file)) << file;
        }
        EXPECT_EQ(fs::directory_iterator(box) == fs::directory_iterator(), false);
        EXPECT_EQ(std::distance(fs::directory_iterator(box), fs::directory_iterator()),
                  name.find(".p1.") != std::string::npos ? 2 : 1);
        ++checked;
    }
    EXPECT_GE(checked, 10);
}

TEST_F(CabReaderTest, SecondCabinetOfASetAloneAsksForTheFirst)
{
    const auto fixtures = CabFixtures();
    TORVO_NEED_FIXTURES(fixtures, "no CAB fixtures");
    const fs::path second = *fixtures / "libarchive" / "test_read_format_cab_multi.p2.cab";
    TORVO_NEED_FIXTURES(fs::exists(second), "the two-cabinet set is missing");
    EXPECT_EQ(Extract(second, "out"), 0);
    EXPECT_EQ(reports, std::vector<int>{E_CABNEEDSFIRSTDISK});
    EXPECT_TRUE(fs::is_empty(fs::path(home) / "out"));
}

}  // namespace

TEST(CabNames, StoredNamesInTheProgramsForm)
{
    std::string out = "a longer name left from the entry before";
    CabNameToProgram("dir/sub/file.txt", 0, out);
    EXPECT_EQ(out, "dir\\sub\\file.txt");
    CabNameToProgram("x", 0, out);
    EXPECT_EQ(out, "x");
    // OEM (code page 852): 0x81 is u with diaeresis, 0xA7 z with caron.
    CabNameToProgram("d\x81/\xA7.txt", 0, out);
    EXPECT_EQ(out, "d\xC3\xBC\\\xC5\xBE.txt");
    CabNameToProgram("d\xC3\xBC/\xC5\xBE.txt", CAB_A_NAME_IS_UTF, out);
    EXPECT_EQ(out, "d\xC3\xBC\\\xC5\xBE.txt");
    CabNameToProgram("", 0, out);
    EXPECT_EQ(out, "");
}
