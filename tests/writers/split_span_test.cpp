// Split sets and spanned disks, judged by 7-Zip, Info-ZIP and our own reader: every set must test
// clean and extract to the source; a failure at any point leaves the old archive and the volumes
// of an older set as they were.
#include "readers/plxUnZIP.h"
#include "support/Reports.h"
#include "tests/platform/win/FsTestSupport.h"
#include "tests/support/FloppyDrive.h"
#include "tests/support/HostTree.h"
#include "tests/support/PromptDriver.h"
#include "tests/support/ToolRun.h"
#include "writers/DiskSpan.h"
#include "writers/plxArchiveSplitter.h"
#include "writers/plxZipSplitter.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_BUILD_DIR) + "/tools/plxtool";

std::string EnginePathOf(const fs::path& host)
{
    return win::ToWindowsPath(host.string());
}

class SplitSpan : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        for (const char* tool : {"zip", "unzip", "7zz"})
            if (!HaveTool(tool))
                GTEST_SKIP() << tool << " is not installed";
    }

    // Folders, Czech names and text and noise files of at most FileSize bytes.
    fs::path MakeTree(const std::string& name, std::size_t FileSize, int Files)
    {
        const fs::path src = fs::path(root) / name;
        WriteHostFile((src / "a.txt").string(), "hello\n");
        WriteHostFile((src / "Účetnictví" / "žluťoučký kůň.txt").string(), "ódy\n");
        std::string text;
        for (std::size_t i = 0; text.size() < FileSize; ++i)
            text += std::to_string(i * 7919 % 10007) + (i % 11 ? " " : "\n");
        WriteHostFile((src / "sub" / "deep" / "text.txt").string(), text.substr(0, FileSize));
        for (int i = 0; i < Files; ++i)
            WriteHostFile((src / "sub" / ("noise" + std::to_string(i) + ".bin")).string(),
                          RandomBytes(FileSize, unsigned(i + 1)));
        return src;
    }

    static int Volumes(const fs::path& zip)
    {
        int n = 1;
        while (fs::exists(fs::path(zip).replace_extension(".z" + std::string(n < 10 ? "0" : "") + std::to_string(n))))
            ++n;
        return n;
    }

    // Our reader over the set; folders and files as extracted.
    std::map<std::string, std::string> ReadBack(const fs::path& zip, const std::string& password = {})
    {
        const fs::path out = fs::path(root) / ("ours-" + zip.stem().string());
        TUnZip unzip;
        TReports reports;
        reports.Bind(unzip);
        unzip.SetPassword(password);
        unzip.SetArchiveFile(EnginePathOf(zip));
        unzip.SetExtractDir(EnginePathOf(out));
        unzip.CreateStoredDirs = true;
        unzip.Extract();
        EXPECT_TRUE(reports.Codes.empty()) << reports.Codes.front();
        return HostTree(out);
    }

    // 7-Zip tests and extracts the set; Info-ZIP joins it and tests the whole.
    // plxtool's split set of src in a folder of its own; empty when plxtool failed (reported).
    fs::path AddSplitSet(const fs::path& src, const std::string& dir, const std::string& options)
    {
        const fs::path zip = fs::path(root) / dir / "set.zip";
        fs::create_directories(zip.parent_path());
        int rc = -1;
        const std::string out = CaptureCommand(ShellQuote(kTool) + " add " + ShellQuote(zip.string()) + " " +
                                                   ShellQuote(src.string()) + " -r " + options + " 2>&1",
                                               &rc);
        EXPECT_EQ(rc, 0) << out;
        return rc == 0 ? zip : fs::path();
    }

    void ExpectToolsAccept(const fs::path& zip, const fs::path& src, const std::string& password, bool join)
    {
        const std::string p = password.empty() ? "" : " -p" + password;
        int rc = -1;
        const std::string tested = CaptureCommand("7zz t" + p + " " + ShellQuote(zip.string()) + " 2>&1", &rc);
        EXPECT_EQ(rc, 0) << tested;
        EXPECT_NE(tested.find("Everything is Ok"), std::string::npos) << tested;
        const fs::path out = fs::path(root) / ("7zz-" + zip.stem().string());
        CaptureCommand("7zz x -y" + p + " -o" + ShellQuote(out.string()) + " " + ShellQuote(zip.string()), &rc);
        EXPECT_EQ(rc, 0);
        // Our CP852 names read differently elsewhere; every other file must match.
        auto got = FilesOnly(HostTree(out)), want = FilesOnly(HostTree(src));
        EXPECT_EQ(got.size(), want.size());
        for (const auto& [name, bytes] : want)
            if (name.find("Účet") == std::string::npos) {
                EXPECT_TRUE(got.count(name) && got[name] == bytes) << name;
            }
        if (!join)
            return;
        const fs::path joined = fs::path(root) / ("joined-" + zip.stem().string() + ".zip");
        EXPECT_EQ(
            std::system(("zip -q -s 0 " + ShellQuote(zip.string()) + " --out " + ShellQuote(joined.string())).c_str()),
            0);
        const std::string unzipP = password.empty() ? "" : " -P " + password;
        const std::string tested2 =
            CaptureCommand("unzip -tq" + unzipP + " " + ShellQuote(joined.string()) + " 2>&1", &rc);
        EXPECT_EQ(rc, 0) << tested2;
    }
};

TEST_F(SplitSpan, SplitSetsOfPlxtoolPassTheOtherArchiversAndMatchZipsLayout)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    // Every file below one volume, so that Info-ZIP's join (which mishandles members crossing
    // two volume ends) can judge the set too.
    const fs::path src = MakeTree("src", 50000, 5);
    const fs::path zip = AddSplitSet(src, "s64", "--split 64k -p secret -c 'the set'");
    ASSERT_FALSE(zip.empty());
    const std::string first = ReadHostFile(fs::path(zip).replace_extension(".z01").string());
    EXPECT_EQ(first.substr(0, 4), std::string("PK\x07\x08", 4));
    for (int i = 1; i < Volumes(zip); ++i) {
        char ext[16];
        std::snprintf(ext, sizeof ext, ".z%02d", i);
        EXPECT_EQ(fs::file_size(fs::path(zip).replace_extension(ext)), 65536u) << ext;
    }
    ExpectToolsAccept(zip, src, "secret", true);
    EXPECT_NE(CaptureCommand("unzip -z " + ShellQuote((fs::path(root) / "joined-set.zip").string())).find("the set"),
              std::string::npos);
    auto ours = ReadBack(zip, "secret");
    EXPECT_EQ(FilesOnly(ours), FilesOnly(HostTree(src)));

    // Info-ZIP cuts the same tree into about as many volumes.
    ASSERT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && zip -qr -s 64k ../ref.zip .").c_str()), 0);
    EXPECT_LE(std::abs(Volumes(zip) - Volumes(fs::path(root) / "ref.zip")), 1);
}

TEST_F(SplitSpan, ADirectoryLongerThanAVolumeKeepsEachRecordWhole)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    // Three thousand small members: a directory of about three volumes, with record ends
    // falling wherever the names put them.
    const fs::path src = MakeTree("many", 20, 3000);
    const fs::path zip = AddSplitSet(src, "dir", "--split 64k");
    ASSERT_FALSE(zip.empty());
    ASSERT_GE(Volumes(zip), 4);
    ExpectToolsAccept(zip, src, "", true);
    EXPECT_EQ(FilesOnly(ReadBack(zip)), FilesOnly(HostTree(src)));
}

TEST_F(SplitSpan, TheSplitterCarriesDescriptorsCommentsAndMembersAcrossManyVolumes)
{
    // A source made with data descriptors, a comment and members far larger than a volume.
    const fs::path src = MakeTree("big", 4'000'000, 3);
    const fs::path source = fs::path(root) / "source.zip";
    ASSERT_EQ(
        std::system(
            ("cd " + ShellQuote(src.string()) + " && echo 'kept comment' | zip -qr -fd -z ../source.zip .").c_str()),
        0);
    ASSERT_NE(CaptureCommand("zipinfo -v " + ShellQuote(source.string()))
                  .find("extended local header:                          yes"),
              std::string::npos);
    struct TCase {
        TPartType Part;
        std::int64_t Size;
        TCustomSizeType Unit;
        const char* Name;
        bool Join;  // Info-ZIP joins sets whose members cross at most one volume end
    };
    for (const TCase c :
         {TCase{ptFloppy_144mb, 0, stBytes, "floppy", false}, TCase{ptOtherSize, 10, stMB, "mb", true}}) {
        SCOPED_TRACE(c.Name);
        const fs::path zip = fs::path(root) / c.Name / "set.zip";
        fs::create_directories(zip.parent_path());
        TArchiveSplitter splitter;
        TReports reports;
        reports.Bind(splitter);
        splitter.SetArchiveFile(EnginePathOf(source));
        splitter.SplitArchiveFile = EnginePathOf(zip);
        splitter.PartType = c.Part;
        splitter.PartSize = c.Size;
        splitter.CustomSizeType = c.Unit;
        std::vector<std::string> named;
        splitter.OnSplitNewVolume = [&](TObject*, std::uint32_t, const std::string& name) { named.push_back(name); };
        std::uint32_t ended = 0;
        splitter.OnSplitEnd = [&](TObject*, std::uint32_t n) { ended = n; };
        // The count offered before the run is the count of files the run makes.
        const std::uint32_t counted = splitter.CountVolumeFiles();
        ASSERT_TRUE(splitter.SplitZip()) << (reports.Codes.empty() ? 0 : reports.Codes.front());
        EXPECT_EQ(int(counted), Volumes(zip));
        EXPECT_EQ(int(ended) + 1, Volumes(zip));
        EXPECT_EQ(named.size(), std::size_t(Volumes(zip)));
        const std::int64_t volume = splitter.GetVolumeSize(c.Part);
        EXPECT_EQ(fs::file_size(fs::path(zip).replace_extension(".z01")), std::uint64_t(volume));
        ExpectToolsAccept(zip, src, "", c.Join);
        EXPECT_EQ(FilesOnly(ReadBack(zip)), FilesOnly(HostTree(src)));
        EXPECT_NE(CaptureCommand("7zz l " + ShellQuote(zip.string())).find("kept comment"), std::string::npos);
    }
}

TEST_F(SplitSpan, AFailedSplitLeavesTheOldSetAndAFinishedOneRemovesItsLeftovers)
{
    const fs::path src = MakeTree("src", 60000, 4);
    const fs::path source = fs::path(root) / "source.zip";
    ASSERT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && zip -qr ../source.zip .").c_str()), 0);
    const fs::path set = fs::path(root) / "out" / "set.zip";
    fs::create_directories(set.parent_path());
    auto makeOldSet = [&] {
        for (const char* ext : {".z01", ".z02", ".z03", ".z04", ".z05", ".z06", ".z07", ".zip"})
            WriteHostFile(fs::path(set).replace_extension(ext).string(), std::string("old ") + ext);
    };
    auto split = [&](const fs::path& from, TReports& reports, std::int64_t size = 65536,
                     TCustomSizeType unit = stBytes) {
        TArchiveSplitter splitter;
        reports.Bind(splitter);
        splitter.SetArchiveFile(EnginePathOf(from));
        splitter.SplitArchiveFile = EnginePathOf(set);
        splitter.PartSize = size;
        splitter.CustomSizeType = unit;
        splitter.OnSplitFileExists = [](TObject*, const std::string&, bool& overwrite) { overwrite = true; };
        splitter.OnSplitDeleteVolume = [](TObject*, const std::string&, bool& toBin) { toBin = false; };
        return splitter.SplitZip();
    };

    // Sizes: the size asked for is judged, 64 KiB in any unit is enough.
    {
        TReports r;
        EXPECT_FALSE(split(source, r, 65535));
        EXPECT_TRUE(r.Has(25298));
        TArchiveSplitter s;
        s.PartType = ptOtherSize;
        s.PartSize = 64;
        s.CustomSizeType = stKB;
        EXPECT_EQ(s.RequestedVolumeSize(ptOtherSize), 65536);
        s.PartSize = 5000;
        s.CustomSizeType = stMB;
        EXPECT_EQ(s.RequestedVolumeSize(ptOtherSize), 5'120'000'000);  // 64 bits, never wrapped
    }

    // A member whose local header is damaged fails the run; nothing of the old set changes.
    makeOldSet();
    const auto before = HostTree(set.parent_path());
    std::string bytes = ReadHostFile(source.string());
    const std::size_t second = bytes.find("PK\x03\x04", 4);
    ASSERT_NE(second, std::string::npos);
    bytes[second + 2] = 9;
    WriteHostFile((fs::path(root) / "damaged.zip").string(), bytes);
    TReports damaged;
    EXPECT_FALSE(split(fs::path(root) / "damaged.zip", damaged));
    EXPECT_TRUE(damaged.Has(25115));
    EXPECT_EQ(HostTree(set.parent_path()), before);

    // A cancel half-way changes nothing either.
    TReports cancelled;
    {
        TArchiveSplitter splitter;
        cancelled.Bind(splitter);
        splitter.SetArchiveFile(EnginePathOf(source));
        splitter.SplitArchiveFile = EnginePathOf(set);
        splitter.OnSplitFileExists = [](TObject*, const std::string&, bool& overwrite) { overwrite = true; };
        splitter.ProgressProc = [&](std::uint8_t, std::uint8_t) { splitter.SetCancel(true); };
        EXPECT_FALSE(splitter.SplitZip());
    }
    EXPECT_EQ(HostTree(set.parent_path()), before);

    // A medium that fills up half-way keeps the old set as it was, and no temporary volume.
    {
        TFloppyDrive small('E', fs::path(root) / "small", 200000);
        const fs::path target = fs::path(root) / "small" / "set.zip";
        WriteHostFile(target.string(), "old set");
        WriteHostFile(fs::path(target).replace_extension(".z01").string(), "old volume");
        const auto old = HostTree(target.parent_path());
        TArchiveSplitter splitter;
        TReports full;
        full.Bind(splitter);
        splitter.SetArchiveFile(EnginePathOf(source));
        splitter.SplitArchiveFile = "E:\\set.zip";
        splitter.OnSplitFileExists = [](TObject*, const std::string&, bool& overwrite) { overwrite = true; };
        EXPECT_FALSE(splitter.SplitZip());
        EXPECT_FALSE(full.Codes.empty());
        EXPECT_EQ(HostTree(target.parent_path()), old);
    }

    // A finished set replaces the old one; the old set's further volumes go.
    TReports good;
    ASSERT_TRUE(split(source, good));
    const int volumes = Volumes(set);
    EXPECT_LT(volumes, 8);
    for (int i = volumes; i <= 7; ++i)
        EXPECT_FALSE(fs::exists(fs::path(set).replace_extension(".z0" + std::to_string(i)))) << i;
    EXPECT_EQ(FilesOnly(ReadBack(set)), FilesOnly(HostTree(src)));

    // The splitting writer without a split leaves one archive and no stale volume beside it.
    TZipSplitter writer;
    TReports whole;
    whole.Bind(writer);
    writer.SetFileSpec({EnginePathOf(src) + "\\*"});
    writer.RecurseDirs = true;
    writer.StoredDirNames = sdRelative;
    writer.RelativeDir = byItem;
    writer.OnSplitDeleteVolume = [](TObject*, const std::string&, bool& toBin) { toBin = false; };
    fs::remove(set);
    writer.SetArchiveFile(EnginePathOf(set));
    EXPECT_GT(writer.Compress(), 0);
    EXPECT_TRUE(whole.Codes.empty());
    EXPECT_EQ(Volumes(set), 1);
    EXPECT_EQ(FilesOnly(ReadBack(set)), FilesOnly(HostTree(src)));

    // Asked to split, it refuses a size below 64 KiB and writes nothing; an archive that fits
    // one volume is written whole.
    writer.OnSplitBegin = [](TObject*, const std::string&, const std::string&, bool& cancel) { cancel = false; };
    writer.SetPartType(ptOtherSize);
    writer.SetPartSize(65535);
    fs::remove(set);
    whole.Codes.clear();
    EXPECT_EQ(writer.Compress(), 0);
    EXPECT_TRUE(whole.Has(25298));
    EXPECT_FALSE(fs::exists(set));
    writer.SetPartSize(100 * 1024 * 1024);
    whole.Codes.clear();
    fs::remove(set);
    EXPECT_GT(writer.Compress(), 0);
    EXPECT_TRUE(whole.Codes.empty());
    EXPECT_EQ(Volumes(set), 1);
}

// Spanning onto a 1.44 MB removable drive of the drive table; each prompt swaps the folder's
// content and label, as a user swaps diskettes.
class Spanning : public SplitSpan {
protected:
    void SetUp() override
    {
        SplitSpan::SetUp();
        if (IsSkipped())
            return;
        src = MakeTree("data", 1'300'000, 3);  // about 4 MB of noise: three disks
        floppy = std::make_unique<TFloppyDrive>('A', fs::path(root) / "floppy", 1'457'664);
        floppy->Insert("");
    }

    // The writer with the prompts: a blank disk at each prompt, the written ones kept aside.
    void Bind(TZip& zip, TReports& reports)
    {
        reports.Bind(zip);
        zip.SetFileSpec({EnginePathOf(src) + "\\*"});
        zip.RecurseDirs = true;
        zip.StoredDirNames = sdRelative;
        zip.RelativeDir = byItem;
        zip.SetArchiveFile("A:\\set.zip");
        zip.OnInsertDisk = [&](TObject*, const std::string& volume, bool& cancel) {
            asked.push_back(volume);
            cancel = answer ? !answer(std::stoi(volume)) : false;
            if (cancel)
                return;
            const TFloppyDrive::TDisk disk = floppy->Eject();
            if (disk.Files.count("set.zip"))
                disks.push_back(disk);
            floppy->Insert(blankLabel);
        };
        zip.OnDiskSpanFileExists = [&](TObject*, const std::string&, TDateTime, TOverwriteMode& mode) {
            ++foreignAsked;
            mode = foreignAnswer;
        };
    }

    fs::path src;
    std::unique_ptr<TFloppyDrive> floppy;
    std::vector<std::string> asked;
    std::vector<TFloppyDrive::TDisk> disks;
    std::function<bool(int)> answer;
    std::string blankLabel;
    int foreignAsked = 0;
    TOverwriteMode foreignAnswer = omOverwrite;
};

TEST_F(Spanning, ABackupLargerThanADisketteSpansLabelledDisksThatReadBackWhole)
{
    TZip zip;
    TReports reports;
    Bind(zip, reports);
    zip.LeaveSpaceOnFirstDisk = 50000;
    EXPECT_TRUE(zip.SpansTo("A:\\set.zip"));
    EXPECT_GT(zip.Compress(), 0);
    EXPECT_TRUE(reports.Codes.empty()) << reports.Codes.front();
    disks.push_back(floppy->Eject());
    ASSERT_GE(disks.size(), 3u);
    std::vector<std::string> numbers;
    for (std::size_t i = 1; i <= disks.size(); ++i)
        numbers.push_back(std::to_string(i));
    EXPECT_EQ(asked, numbers);
    for (std::size_t i = 0; i < disks.size(); ++i) {
        EXPECT_EQ(disks[i].Label, PkBackLabel(int(i) + 1));
        EXPECT_LE(disks[i].Files["set.zip"].size(), 1'457'664u);
    }
    EXPECT_EQ(disks[0].Files["set.zip"].substr(0, 4), std::string("PK\x07\x08", 4));
    EXPECT_LE(disks[0].Files["set.zip"].size(), 1'457'664u - 50000u);  // room left on the first disk
    EXPECT_GT(disks[1].Files["set.zip"].size(), 1'457'664u - 50000u);

    // Renamed to a split set, the disks pass the other archivers.
    const fs::path set = fs::path(root) / "renamed" / "set.zip";
    for (std::size_t i = 0; i < disks.size(); ++i) {
        char ext[16];
        std::snprintf(ext, sizeof ext, ".z%02d", int(i) + 1);
        WriteHostFile(i + 1 == disks.size() ? set.string() : fs::path(set).replace_extension(ext).string(),
                      disks[i].Files["set.zip"]);
    }
    ExpectToolsAccept(set, src, "", false);

    // Our reader asks for the last disk, then the first, then each next one.
    floppy->Insert(disks[0].Label, disks[0].Files);
    std::vector<std::string> requests;
    auto insert = [&](int n) { floppy->Insert(disks[std::size_t(n - 1)].Label, disks[std::size_t(n - 1)].Files); };
    TUnZip unzip;
    TReports read;
    read.Bind(unzip);
    unzip.OnGetZipLastDisk = [&](TObject*, bool& cancel) {
        requests.push_back("last");
        insert(int(disks.size()));
        cancel = false;
    };
    unzip.OnGetZipFirstDisk = [&](TObject*, bool& cancel) {
        requests.push_back("1");
        insert(1);
        cancel = false;
    };
    unzip.OnGetZipNextDisk = [&](TObject*, const std::string& v, bool& cancel) {
        requests.push_back(v);
        insert(std::stoi(v));
        cancel = false;
    };
    unzip.SetArchiveFile("A:\\set.zip");
    ASSERT_EQ(unzip.ArcType(), atZipDS);
    unzip.SetExtractDir(EnginePathOf(fs::path(root) / "restored"));
    unzip.CreateStoredDirs = true;
    EXPECT_GT(unzip.Extract(), 0);
    EXPECT_TRUE(read.Codes.empty()) << read.Codes.front();
    EXPECT_EQ(requests.front(), "last");
    EXPECT_EQ(FilesOnly(HostTree(fs::path(root) / "restored")), FilesOnly(HostTree(src)));
}

TEST_F(Spanning, DisksOfAnotherSetAndCancelledPromptsAreNeverTakenSilently)
{
    // The disk just written, left in the drive, is asked for again, never written over.
    {
        TZip zip;
        TReports reports;
        Bind(zip, reports);
        int unchanged = 0;
        zip.OnInsertDisk = [&, swap = zip.OnInsertDisk](TObject* s, const std::string& v, bool& cancel) {
            if (v == "2" && unchanged++ == 0) {
                cancel = false;  // OK pressed without a swap
                return;
            }
            swap(s, v, cancel);
        };
        EXPECT_GT(zip.Compress(), 0);
        EXPECT_TRUE(reports.Codes.empty());
        EXPECT_EQ(unchanged, 2);
        ASSERT_FALSE(disks.empty());
        EXPECT_EQ(disks[0].Label, PkBackLabel(1));
        EXPECT_EQ(disks[0].Files["set.zip"].substr(0, 4), std::string("PK\x07\x08", 4));
    }

    // Adding to a spanned set is refused before anything is written.
    {
        TZip zip;
        TReports reports;
        Bind(zip, reports);
        EXPECT_EQ(zip.Compress(), 0);
        EXPECT_TRUE(reports.Has(25244));
        EXPECT_TRUE(asked.empty() || asked.back() != "1" || asked.size() > 1);
    }

    // A disk of another spanned set is cleared only with the user's yes.
    floppy->Insert("");
    asked.clear();
    disks.clear();
    blankLabel = "PKBACK# 002";
    foreignAnswer = omSkip;
    {
        TZip zip;
        TReports reports;
        Bind(zip, reports);
        EXPECT_EQ(zip.Compress(), 0);
        EXPECT_EQ(foreignAsked, 1);
        EXPECT_FALSE(reports.Codes.empty());

        EXPECT_EQ(floppy->Label(), "PKBACK# 002");  // left as it was
    }

    // A cancel at the second prompt ends the run with a report; the first disk stays written.
    floppy->Insert("");
    asked.clear();
    disks.clear();
    blankLabel = "";
    answer = [](int n) { return n < 2; };
    {
        TZip zip;
        TReports reports;
        Bind(zip, reports);
        EXPECT_EQ(zip.Compress(), 0);
        EXPECT_TRUE(reports.Has(25443));
        EXPECT_EQ(asked, (std::vector<std::string>{"1", "2"}));
        EXPECT_EQ(floppy->Label(), PkBackLabel(1));
    }
}

TEST_F(Spanning, PlxtoolSpansThreeDisksAndAnotherRunReadsThemBack)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    // Each run is a process of its own, which sees a swapped disk only in the drive table file.
    const std::string target = (fs::path(root) / "floppy" / "set.zip").string();
    const fs::path output = fs::path(root) / "plxtool.out";
    const fs::path source = MakeTree("three", 1'000'000, 3);  // about 3.4 MB packed: three disks
    int written = 0;
    {
        TPromptDriver user(fs::path(root) / "answers");
        testsupport::Child add({kTool, "add", target, source.string(), "-r", "--span"},
                               testsupport::Child::Output::File, output.string(), user.Fifo().string());
        const int rc = user.Run(add, output, [&](const std::string& line) -> std::optional<std::string> {
            if (line.rfind("Insert disk ", 0) != 0 || ++written > 5)
                return std::nullopt;
            const TFloppyDrive::TDisk disk = floppy->Eject();
            if (disk.Files.count("set.zip"))
                disks.push_back(disk);
            floppy->Insert("");
            return "";
        });
        EXPECT_EQ(rc, 0) << user.Seen();
    }
    disks.push_back(floppy->Eject());
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(written, 3);
    for (std::size_t i = 0; i < disks.size(); ++i)
        EXPECT_EQ(disks[i].Label, PkBackLabel(int(i) + 1));
    const fs::path set = fs::path(root) / "renamed" / "set.zip";
    for (std::size_t i = 0; i < disks.size(); ++i) {
        char ext[16];
        std::snprintf(ext, sizeof ext, ".z%02d", int(i) + 1);
        WriteHostFile(i + 1 == disks.size() ? set.string() : fs::path(set).replace_extension(ext).string(),
                      disks[i].Files["set.zip"]);
    }
    int rc = -1;
    const std::string tested = CaptureCommand("7zz t " + ShellQuote(set.string()) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;

    // Another run restores from the disks, each put in as it is asked for.
    floppy->Insert(disks[0].Label, disks[0].Files);
    const fs::path restored = fs::path(root) / "restored";
    std::vector<std::string> prompts;
    TPromptDriver user(fs::path(root) / "answers");
    testsupport::Child extract({kTool, "extract", target, restored.string()}, testsupport::Child::Output::File,
                               output.string(), user.Fifo().string());
    rc = user.Run(extract, output, [&](const std::string& line) -> std::optional<std::string> {
        if (line.rfind("Insert ", 0) != 0 || prompts.size() > 8)
            return std::nullopt;
        prompts.push_back(line.substr(0, line.find('.')));
        const std::size_t wanted = line.find("last") != std::string::npos    ? disks.size()
                                   : line.find("first") != std::string::npos ? 1
                                                                             : std::stoul(line.substr(12));
        floppy->Insert(disks[wanted - 1].Label, disks[wanted - 1].Files);
        return "";
    });
    EXPECT_EQ(rc, 0) << user.Seen();
    EXPECT_EQ(prompts, (std::vector<std::string>{"Insert the last disk of the set", "Insert the first disk of the set",
                                                 "Insert disk 2", "Insert disk 3"}));
    EXPECT_EQ(FilesOnly(HostTree(restored)), FilesOnly(HostTree(source)));
}

TEST_F(Spanning, PlxtoolSpansOntoARemovableDriveAfterEachConfirmation)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    // Small enough for one disk: one prompt, one labelled disk without the spanning marker.
    const fs::path small = MakeTree("small", 40000, 2);
    const std::string target = (fs::path(root) / "floppy" / "set.zip").string();
    int rc = -1;
    const std::string out = CaptureCommand("printf '\\n' | " + ShellQuote(kTool) + " add " + ShellQuote(target) + " " +
                                               ShellQuote(small.string()) + " -r --span 2>&1",
                                           &rc);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("Insert disk 1."), std::string::npos) << out;
    win::LoadDriveTable();
    EXPECT_EQ(floppy->Label(), PkBackLabel(1));
    EXPECT_EQ(ReadHostFile(target).substr(0, 4), std::string("PK\x03\x04", 4));
    const std::string tested = CaptureCommand("7zz t " + ShellQuote(target) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;

    // A cancelled prompt (end of input) fails and writes nothing; a fixed drive is refused.
    floppy->Insert("");
    CaptureCommand("printf 'q\\n' | " + ShellQuote(kTool) + " add " + ShellQuote(target) + " " +
                       ShellQuote(small.string()) + " -r --span 2>&1",
                   &rc);
    EXPECT_NE(rc, 0);
    EXPECT_FALSE(fs::exists(target));
    CaptureCommand(ShellQuote(kTool) + " add " + ShellQuote(root + "/fixed.zip") + " " + ShellQuote(small.string()) +
                       " --span 2>&1",
                   &rc);
    EXPECT_EQ(rc, 2);
}

}  // namespace
