// How a new archive takes the old one's place: it keeps the old file's mode, owner and group, an
// update through a symbolic link rewrites the file the link names, a process killed at any step
// of a split or a parted encoding leaves either the old archive or the whole new set, and a
// file-size limit fails a run as a full disk does.
#include "core/Err_Msgs.h"
#include "platform/win/Files.h"
#include "platform/win/TempFiles.h"
#include "readers/plxUnGZip.h"
#include "support/Reports.h"
#include "tests/platform/win/FsTestSupport.h"
#include "tests/support/Child.h"
#include "tests/support/HostTree.h"
#include "tests/support/ToolRun.h"
#include "writers/FormatWriters.h"
#include "writers/plxArchiveSplitter.h"
#include "writers/plxUUEncode.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace fs = std::filesystem;

namespace {

const std::string kTool = std::string(TORVO_BUILD_DIR) + "/tools/plxtool";

std::string EnginePathOf(const fs::path& host)
{
    return win::ToWindowsPath(host.string());
}

struct stat StatOf(const fs::path& path)
{
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

class CommitSafety : public FsTest {
protected:
    int Tool(const std::string& args)
    {
        int rc = -1;
        const std::string out = CaptureCommand(ShellQuote(kTool) + " " + args + " 2>&1", &rc);
        EXPECT_EQ(rc, 0) << args << "\n" << out;
        return rc;
    }

    // The runs killed, for the sweep's record (the test's XML output).
    void TearDown() override
    {
        if (killedRuns > 0)
            RecordProperty("killed_runs", killedRuns);
        FsTest::TearDown();
    }

    // Runs Work in a child that dies without any clean-up at the Step-th rename into place (as
    // kill -9 would); answers whether the work ended before that step came.
    bool RunKilledAtRename(int Step, const std::function<bool()>& Work)
    {
        ++killedRuns;
        const pid_t child = fork();
        if (child == 0) {
            int renames = 0;
            win::TestHooks().beforeRename = [&](const std::string&, const std::string&) {
                if (renames++ == Step)
                    _exit(9);
            };
            _exit(Work() ? 0 : 1);
        }
        int status = 0;
        EXPECT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_NE(WEXITSTATUS(status), 1) << "the work failed at step " << Step;
        return WEXITSTATUS(status) == 0;
    }

    // A ZIP of four 50,000-byte members of noise, made by zip: four volumes of 64 KiB when split.
    fs::path ZipOfFourNoiseFiles()
    {
        const fs::path src = fs::path(root) / "src";
        for (int i = 0; i < 4; ++i)
            WriteHostFile((src / ("noise" + std::to_string(i) + ".bin")).string(), RandomBytes(50000, unsigned(i + 7)));
        EXPECT_EQ(std::system(("cd " + ShellQuote(src.string()) + " && zip -qr ../source.zip .").c_str()), 0);
        return fs::path(root) / "source.zip";
    }

    int killedRuns = 0;

    static bool SplitInto64KiBVolumes(const fs::path& Source, const fs::path& Set)
    {
        TArchiveSplitter splitter;
        splitter.SetArchiveFile(EnginePathOf(Source));
        splitter.SplitArchiveFile = EnginePathOf(Set);
        splitter.PartSize = 65536;
        splitter.OnSplitFileExists = [](TObject*, const std::string&, bool& overwrite) { overwrite = true; };
        splitter.OnSplitDeleteVolume = [](TObject*, const std::string&, bool& toBin) { toBin = false; };
        return splitter.SplitZip();
    }
};

TEST_F(CommitSafety, UpdatesKeepModeOwnerAndGroupAndWriteThroughLinks)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    const fs::path src = fs::path(root) / "src";
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        WriteHostFile((src / name).string(), std::string("text of ") + name + "\n");
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    const bool chownable = geteuid() == 0 && nobody && nogroup;

    struct TType {
        std::string Type, Check;  // Check: a real tool's test of "%s" that lists member names
        bool Deletes;
    };
    std::vector<TType> types = {{"zip", "unzip -l %s", true},      {"tar", "tar -tvf %s", true},
                                {"tgz", "tar -tzvf %s", false},    {"tbz", "tar -tjvf %s", false},
                                {"lha", "lhasa l %s", true},       {"bh", "", true},
                                {"cab", "cabextract -l %s", false}};
    for (const auto& t : types) {
        SCOPED_TRACE(t.Type);
        const std::string tool = t.Check.substr(0, t.Check.find(' '));
        if (!tool.empty() && !HaveTool(tool))
            continue;
        const auto listing = [&](const fs::path& archive) {
            if (t.Check.empty())
                return CaptureCommand(ShellQuote(kTool) + " list " + ShellQuote(archive.string()));
            std::string command = t.Check;
            command.replace(command.find("%s"), 2, ShellQuote(archive.string()));
            int rc = -1;
            const std::string out = CaptureCommand(command + " 2>&1", &rc);
            EXPECT_EQ(rc, 0) << out;
            return out;
        };
        const std::string in = " -t " + t.Type + " ";

        // A private archive stays private through add and delete.
        const fs::path archive = fs::path(root) / ("private." + t.Type);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " " + ShellQuote((src / "a.txt").string()) + in), 0);
        ASSERT_EQ(::chmod(archive.c_str(), 0640), 0);
        if (chownable) {
            ASSERT_EQ(::chown(archive.c_str(), nobody->pw_uid, nogroup->gr_gid), 0);
        }
        const struct stat before = StatOf(archive);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " " + ShellQuote((src / "b.txt").string()) + in), 0);
        struct stat after = StatOf(archive);
        EXPECT_NE(after.st_ino, before.st_ino);  // rewritten, not patched
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_gid, before.st_gid);
        EXPECT_NE(listing(archive).find("b.txt"), std::string::npos);
        if (t.Deletes) {
            ASSERT_EQ(Tool("delete " + ShellQuote(archive.string()) + " a.txt"), 0);
            after = StatOf(archive);
            EXPECT_EQ(after.st_mode & 07777, 0640u);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_gid, before.st_gid);
            const std::string left = listing(archive);
            EXPECT_EQ(left.find("a.txt"), std::string::npos) << left;
            EXPECT_NE(left.find("b.txt"), std::string::npos) << left;
        }

        // An archive reached through a link is updated where the link points; the link stays.
        const fs::path real = fs::path(root) / "real" / ("linked." + t.Type);
        const fs::path link = fs::path(root) / "links" / ("linked." + t.Type);
        fs::create_directories(real.parent_path());
        fs::create_directories(link.parent_path());
        ASSERT_EQ(Tool("add " + ShellQuote(real.string()) + " " + ShellQuote((src / "a.txt").string()) + in), 0);
        ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
        fs::create_symlink(fs::path("..") / "real" / real.filename(), link);
        ASSERT_EQ(Tool("add " + ShellQuote(link.string()) + " " + ShellQuote((src / "c.txt").string()) + in), 0);
        EXPECT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::read_symlink(link), fs::path("..") / "real" / real.filename());
        EXPECT_EQ(StatOf(real).st_mode & 07777, 0600u);
        const std::string through = listing(real);
        EXPECT_NE(through.find("a.txt"), std::string::npos) << through;
        EXPECT_NE(through.find("c.txt"), std::string::npos) << through;
        for (const auto& entry : fs::directory_iterator(link.parent_path()))
            EXPECT_TRUE(fs::is_symlink(entry.path())) << entry.path();  // nothing written beside the links
    }
}

// The new volumes that a dead run renamed into place before the archive's own name go with the
// next run of any kind, beside an old single archive as for a set made where there was none.
TEST_F(CommitSafety, AKillAtAnyStepOfASplitLeavesTheOldArchiveOrTheWholeNewSet)
{
    if (!HaveTool("zip") || !HaveTool("7zz"))
        GTEST_SKIP() << "zip or 7zz is not installed";
    const fs::path source = ZipOfFourNoiseFiles();
    const fs::path set = fs::path(root) / "out" / "set.zip";
    const auto split = [&] { return SplitInto64KiBVolumes(source, set); };
    for (const std::string old : {"an old archive that must survive", ""}) {
        SCOPED_TRACE(old.empty() ? "new set" : "over a single archive");
        bool finished = false;
        for (int step = 0; !finished && step < 20; ++step) {
            SCOPED_TRACE(step);
            fs::remove_all(set.parent_path());
            fs::create_directories(set.parent_path());
            if (!old.empty()) {
                WriteHostFile(set.string(), old);
                ::chmod(set.c_str(), 0600);
            }
            finished = RunKilledAtRename(step, split);
            win::RemoveDeadOwnersLeftovers();  // what the next run of any kind does first
            const auto got = HostTree(set.parent_path());
            if (!fs::exists(set) || ReadHostFile(set.string()) == old) {
                // The old state stands whole, with nothing of the new set beside it.
                EXPECT_EQ(got.size(), old.empty() ? 0u : 1u);
                for (const auto& entry : got)
                    EXPECT_EQ(entry.first, "set.zip");
                continue;
            }
            int rc = -1;
            const std::string tested = CaptureCommand("7zz t " + ShellQuote(set.string()) + " 2>&1", &rc);
            EXPECT_EQ(rc, 0) << tested;
            EXPECT_NE(tested.find("Files: 4"), std::string::npos) << tested;
            for (const auto& [name, bytes] : got) {
                EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
                if (!old.empty()) {
                    EXPECT_EQ(StatOf(set.parent_path() / name).st_mode & 0777, 0600u) << name;
                }
            }
        }
        EXPECT_TRUE(finished);
    }
}

// An earlier split set shares its volume names with the new one, so its volumes are replaced before
// the archive's own name is: the next run of any kind puts them back when the run died before that.
TEST_F(CommitSafety, AKillWhileASplitSetIsSplitAgainLeavesTheOldSetOrTheWholeNewOne)
{
    if (!HaveTool("zip") || !HaveTool("7zz"))
        GTEST_SKIP() << "zip or 7zz is not installed";
    const fs::path source = ZipOfFourNoiseFiles();
    const fs::path set = fs::path(root) / "out" / "set.zip";
    const auto split = [&] { return SplitInto64KiBVolumes(source, set); };
    // Old sets of fewer and of more volumes than the new one (four).
    for (const int oldKiB : {100, 330}) {
        SCOPED_TRACE(oldKiB);
        const fs::path old = fs::path(root) / ("old" + std::to_string(oldKiB));
        WriteHostFile((old / "src" / "old.bin").string(), RandomBytes(std::size_t(oldKiB) * 1024, unsigned(oldKiB)));
        ASSERT_EQ(std::system(("cd " + ShellQuote(old.string()) + " && zip -q -0 -s 64k -r set.zip src").c_str()), 0);
        fs::remove_all(old / "src");
        const auto oldSet = HostTree(old);
        ASSERT_GT(oldSet.size(), 1u);
        bool finished = false;
        for (int step = 0; !finished && step < 20; ++step) {
            SCOPED_TRACE(step);
            fs::remove_all(set.parent_path());
            fs::copy(old, set.parent_path());
            finished = RunKilledAtRename(step, split);

            win::RemoveDeadOwnersLeftovers();  // what the next run of any kind does first
            const auto got = HostTree(set.parent_path());
            for (const auto& entry : got)
                EXPECT_EQ(entry.first.find(".tmp"), std::string::npos) << entry.first;
            if (got == oldSet)
                continue;  // the old set stands whole
            int rc = -1;
            const std::string tested = CaptureCommand("7zz t " + ShellQuote(set.string()) + " 2>&1", &rc);
            EXPECT_EQ(rc, 0) << tested;
            EXPECT_NE(tested.find("Files: 4"), std::string::npos) << tested;
        }
        EXPECT_TRUE(finished);
    }
}

// kill -9 at every rename of an add, a delete and a .tgz extraction: after the next run of any
// kind the old archive or the whole new one stands alone, and an extraction leaves whole files
// and nothing of its own (the staged TAR included).
TEST_F(CommitSafety, AKillAtAnyRenameOfAnAddADeleteOrATgzExtractionLeavesNoHalfOfIt)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    const fs::path src = fs::path(root) / "src";
    WriteHostFile((src / "a.txt").string(), RandomBytes(30000, 1));
    WriteHostFile((src / "b.txt").string(), RandomBytes(30000, 2));
    int oldStood = 0, newStood = 0;
    const auto testedFiles = [](const fs::path& archive) {
        int rc = -1;
        const std::string said =
            CaptureCommand(ShellQuote(kTool) + " test " + ShellQuote(archive.string()) + " 2>&1", &rc);
        return rc == 0 ? said.substr(said.rfind("tested ")) : "failed: " + said;
    };
    for (const std::string type : {"zip", "tar", "tgz", "tbz", "lha", "bh", "cab"}) {
        const bool deletes = type != "tgz" && type != "tbz" && type != "cab";
        for (const bool remove : {false, true}) {
            if (remove && !deletes)
                continue;
            SCOPED_TRACE(type + (remove ? " delete" : " add"));
            const fs::path dir = fs::path(root) / "sweep";
            const fs::path archive = dir / ("a." + type);
            const auto work = [&] {
                const auto writer = WriterByName(type)->New();
                writer->DeleteOptions = doFinal;
                writer->OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime,
                                           std::int64_t, std::int64_t, int, int, bool& Replace) { Replace = true; };
                if (remove) {
                    writer->Switch = swDelete;
                    writer->SetFileSpec({"a.txt"});
                } else {
                    writer->SetFileSpec({EnginePathOf(src / "b.txt")});
                }
                writer->SetArchiveFile(EnginePathOf(archive));
                return writer->Compress() > 0;
            };
            const auto start = [&] {
                fs::remove_all(dir);
                fs::create_directories(dir);
                return Tool("add " + ShellQuote(archive.string()) + " " + ShellQuote((src / "a.txt").string()) +
                            (remove ? " " + ShellQuote((src / "b.txt").string()) : "") + " -t " + type);
            };
            ASSERT_EQ(start(), 0);
            ASSERT_TRUE(work());
            const std::string want = testedFiles(archive);
            bool finished = false;
            for (int step = 0; !finished && step < 10; ++step) {
                SCOPED_TRACE(step);
                ASSERT_EQ(start(), 0);
                const std::string old = ReadHostFile(archive.string());  // its time is in the bytes
                finished = RunKilledAtRename(step, work);
                win::RemoveDeadOwnersLeftovers();  // what the next run of any kind does first
                EXPECT_EQ(HostTree(dir).size(), 1u);
                if (ReadHostFile(archive.string()) == old) {
                    ++oldStood;
                    continue;
                }
                ++newStood;
                EXPECT_EQ(testedFiles(archive), want);
            }
            EXPECT_TRUE(finished);
        }
    }

    // A .tgz extracted over older files: every file is the old one or the new one, whole.
    ASSERT_EQ(std::system(("cd " + ShellQuote(root) + " && tar czf a.tgz src").c_str()), 0);
    const fs::path temp = fs::path(root) / "temp";
    const fs::path out = fs::path(root) / "x";
    bool finished = false;
    for (int step = 0; !finished && step < 10; ++step) {
        SCOPED_TRACE(step);
        fs::remove_all(temp);
        fs::remove_all(out);
        fs::create_directories(temp);
        WriteHostFile((out / "src" / "a.txt").string(), "old a");
        WriteHostFile((out / "src" / "b.txt").string(), "old b");
        finished = RunKilledAtRename(step, [&] {
            TUnGZip z;
            z.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
            z.SetArchiveFile(EnginePathOf(fs::path(root) / "a.tgz"));
            z.SetTempDir(EnginePathOf(temp));
            z.SetExtractDir(EnginePathOf(out));
            z.CreateStoredDirs = true;
            z.UseStoredDirs = true;
            z.OverwriteMode = omOverwrite;
            return z.Extract() > 0;
        });
        win::RemoveDeadOwnersLeftovers();
        EXPECT_TRUE(HostTree(temp).empty());
        EXPECT_EQ(FilesOnly(HostTree(out)).size(), 2u);
        for (const char* name : {"a.txt", "b.txt"}) {
            const std::string bytes = ReadHostFile((out / "src" / name).string());
            EXPECT_TRUE(bytes == std::string("old ") + name[0] || bytes == ReadHostFile((src / name).string())) << name;
        }
        (ReadHostFile((out / "src" / "b.txt").string()) == "old b" ? oldStood : newStood) += 1;
    }
    EXPECT_TRUE(finished);
    RecordProperty("old_stood", oldStood);
    RecordProperty("new_stood", newStood);
}

TEST_F(CommitSafety, AKillAtAnyStepOfAPartedEncodingLeavesTheOldOutputOrEveryNewPart)
{
    const fs::path input = fs::path(root) / "data.bin";
    WriteHostFile(input.string(), RandomBytes(5000, 3));
    const auto encode = [&](const fs::path& output) {
        return [output, &input] {
            TUUEncode z;
            z.SetArchiveFile(EnginePathOf(input));
            z.SetOutFilename(EnginePathOf(output));
            z.OverwriteMode = omOverwrite;
            z.KBytesPerVolume = 1;
            return z.Compress() > 0;
        };
    };
    const fs::path reference = fs::path(root) / "ref" / "out.uue";
    fs::create_directories(reference.parent_path());
    ASSERT_TRUE(encode(reference)());
    const auto want = HostTree(reference.parent_path());
    ASSERT_GT(want.size(), 3u);

    const fs::path output = fs::path(root) / "out" / "out.uue";
    const std::string old = "begin 644 old\r\nend\r\n";
    bool finished = false;
    for (int step = 0; !finished && step < 20; ++step) {
        SCOPED_TRACE(step);
        fs::remove_all(output.parent_path());
        WriteHostFile(output.string(), old);
        finished = RunKilledAtRename(step, encode(output));
        win::RemoveDeadOwnersLeftovers();
        if (ReadHostFile(output.string()) == old) {
            EXPECT_EQ(HostTree(output.parent_path()).size(), 1u);  // no new part beside the old output
            continue;
        }
        auto got = HostTree(output.parent_path());
        for (auto it = got.begin(); it != got.end();)
            it = it->first.find(".tmp") != std::string::npos ? got.erase(it) : std::next(it);  // the dead run's
        EXPECT_EQ(got, want);
    }
    EXPECT_TRUE(finished);

    // An earlier parted output of more parts shares the new parts' names: after the next run it
    // stands whole again, or the new set does (with the earlier set's extra parts beside it).
    const fs::path bigger = fs::path(root) / "bigger.bin";
    WriteHostFile(bigger.string(), RandomBytes(9000, 4));
    const fs::path earlier = fs::path(root) / "earlier" / "out.uue";
    fs::create_directories(earlier.parent_path());
    ASSERT_TRUE([&] {
        TUUEncode z;
        z.SetArchiveFile(EnginePathOf(bigger));
        z.SetOutFilename(EnginePathOf(earlier));
        z.KBytesPerVolume = 1;
        return z.Compress() > 0;
    }());
    const auto oldSet = HostTree(earlier.parent_path());
    ASSERT_GT(oldSet.size(), want.size());
    finished = false;
    for (int step = 0; !finished && step < 20; ++step) {
        SCOPED_TRACE(step);
        fs::remove_all(output.parent_path());
        fs::copy(earlier.parent_path(), output.parent_path());
        finished = RunKilledAtRename(step, encode(output));
        win::RemoveDeadOwnersLeftovers();  // what the next run of any kind does first
        const auto got = HostTree(output.parent_path());
        if (got == oldSet)
            continue;
        for (const auto& [name, bytes] : want) {
            ASSERT_EQ(got.count(name), 1u) << name;
            EXPECT_EQ(got.at(name), bytes) << name;
        }
        for (const auto& entry : got)
            EXPECT_TRUE(want.count(entry.first) || oldSet.count(entry.first)) << entry.first;
    }
    EXPECT_TRUE(finished);
}

// An encoding of an endless input stands for any long run: it is ended while its temporary file
// grows beside the output.
TEST_F(CommitSafety, AnEndedRunLeavesNoTemporaryFileBehind)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    const fs::path out = fs::path(root) / "out";
    fs::create_directories(out);
    const auto tempFiles = [&] {
        int n = 0;
        for (const auto& entry : fs::directory_iterator(out))
            n += entry.path().extension() == ".tmp";
        return n;
    };
    for (const int signal : {SIGTERM, SIGINT, SIGKILL}) {
        SCOPED_TRACE(signal);
        testsupport::Child run({kTool, "add", (out / "zero.uue").string(), "/dev/zero", "-t", "uue"});
        ASSERT_TRUE(run.Started());
        if (!testsupport::Eventually([&] { return tempFiles() > 0 || !run.Running(); }))
            FAIL() << "no temporary file appeared";
        if (!run.Running())
            GTEST_SKIP() << "the endless input was refused";
        ::kill(run.Pid(), signal);
        EXPECT_EQ(run.Wait(), 128 + signal);
        if (signal == SIGKILL) {
            EXPECT_EQ(tempFiles(), 1);  // nothing could run; the next run of any kind removes it
            CaptureCommand(ShellQuote(kTool) + " type " + ShellQuote((out / "none").string()) + " 2>&1");
        }
        EXPECT_EQ(tempFiles(), 0);
        EXPECT_FALSE(fs::exists(out / "zero.uue"));
    }
}

// Under a file-size limit (ulimit -f) a write fails as on a full disk: add and extract report
// 25160 "Disk full" on the member that did not fit and end with their counts, leaving no cut
// file, no temporary file and the old archive as it was.
TEST_F(CommitSafety, AFileSizeLimitFailsAddAndExtractAsAFullDisk)
{
    if (!fs::exists(kTool))
        GTEST_SKIP() << "plxtool not built";
    const fs::path src = fs::path(root) / "src";
    WriteHostFile((src / "small.txt").string(), "a small file\n");
    WriteHostFile((src / "big.bin").string(), RandomBytes(700000, 5));
    // 256 blocks: 128 KiB in dash's units, 256 KiB in bash's; the big file outgrows either.
    const auto limited = [](const std::string& args, int& rc) {
        return CaptureCommand("ulimit -f 256; " + ShellQuote(kTool) + " " + args + " 2>&1", &rc);
    };
    for (const std::string type : {"zip", "tar", "tgz", "lha", "bh", "cab"}) {
        SCOPED_TRACE(type);
        const fs::path out = fs::path(root) / ("out-" + type);
        fs::create_directories(out);
        const fs::path archive = out / ("a." + type);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " " + ShellQuote((src / "small.txt").string()) +
                       " -t " + type),
                  0);
        const std::string old = ReadHostFile(archive.string());
        int rc = -1;
        std::string said =
            limited("add " + ShellQuote(archive.string()) + " " + ShellQuote(src.string()) + " -t " + type, rc);
        EXPECT_EQ(rc, 1) << said;  // not 128 + SIGXFSZ
        EXPECT_NE(said.find("25160"), std::string::npos) << said;
        EXPECT_NE(said.find("big.bin"), std::string::npos) << said;
        EXPECT_EQ(ReadHostFile(archive.string()), old);
        EXPECT_EQ(HostTree(out).size(), 1u);

        // An archive made without the limit, then extracted under it.
        fs::remove(archive);
        ASSERT_EQ(Tool("add " + ShellQuote(archive.string()) + " " + ShellQuote(src.string()) + " -t " + type), 0);
        const fs::path target = fs::path(root) / ("x-" + type);
        said = limited("extract " + ShellQuote(archive.string()) + " " + ShellQuote(target.string()), rc);
        EXPECT_EQ(rc, 1) << said;
        EXPECT_NE(said.find("25160"), std::string::npos) << said;
        // A .tgz stages its TAR first: that is the file that did not fit.
        EXPECT_NE(said.find(type == "tgz" ? ".tmp" : "big.bin"), std::string::npos) << said;
        EXPECT_NE(said.find("extracted "), std::string::npos) << said;
        const auto got = HostTree(target);
        for (const auto& [name, bytes] : got)
            EXPECT_EQ(name.find("big.bin"), std::string::npos) << name;  // no cut file under any name
    }
}

}  // namespace
