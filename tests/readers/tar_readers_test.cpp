// The TAR, GZip/.Z and bzip2 extractors against GNU tar, bsdtar, gzip, pigz, compress and bzip2:
// the same trees (bytes, names, times) as the tools give, nested TARs, unsafe names, damage.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/Crc.h"
#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "platform/win/TempFiles.h"
#include "readers/Pelix.h"
#include "readers/TarFormat.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnTar.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

struct TNode {
    char Type = '-';  // '-' file, 'd' folder, 'l' link
    std::string Bytes;
    std::int64_t MTime = 0;
    bool operator==(const TNode&) const = default;
};
using TTree = std::map<std::string, TNode>;
void PrintTo(const TNode& n, std::ostream* os)
{
    *os << n.Type << " " << n.Bytes.size() << "B t" << n.MTime;
}

TTree ReadTree(const std::string& folder, bool withTimes = true)
{
    TTree tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        TNode node;
        const auto status = e.symlink_status();
        const std::string rel = fs::relative(e.path(), folder).string();
        if (fs::is_symlink(status)) {
            node.Type = 'l';
        } else if (fs::is_directory(status)) {
            node.Type = 'd';
            struct stat st {};
            stat(e.path().c_str(), &st);
            node.MTime = withTimes ? st.st_mtime : 0;  // folder times are restored as tar does
        } else {
            node.Bytes = ReadText(e.path().string());
            struct stat st {};
            stat(e.path().c_str(), &st);
            node.MTime = withTimes ? st.st_mtime : 0;
        }
        tree[rel] = node;
    }
    return tree;
}

void Put(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    fs::create_directories(fs::path(path).parent_path());
    WriteWholeFile(path, bytes);
}

struct TReport {
    std::string Name;
    int Code;
};

class TarReadersTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
    }

    // A tree with a long folder and file name (together over 255 bytes), a UTF-8 name, an empty
    // file, an empty folder, a symbolic and a hard link; every time (folders' too) even, as a DOS
    // date keeps it.
    void MakeSource(const std::string& folder)
    {
        const std::string src = home + "/" + folder;
        const std::string longDir = std::string(140, 'd');
        const std::string longFile = std::string(130, 'f') + ".txt";
        Put(src + "/a.txt", MixedBytes(5000, 1));
        Put(src + "/sub/deep/b.bin", MixedBytes(200000, 2));
        Put(src + "/" + longDir + "/" + longFile, MixedBytes(700, 3));
        Put(src + "/\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD.txt", MixedBytes(33, 4));
        Put(src + "/empty", {});
        fs::create_directories(src + "/emptydir");
        fs::create_symlink("a.txt", src + "/link");
        fs::create_hard_link(src + "/a.txt", src + "/hard");
        // Folders last, as their files change them.
        std::int64_t t = 1600000000;
        for (bool folders : {false, true})
            for (const auto& e : fs::recursive_directory_iterator(src))
                if (!fs::is_symlink(e.symlink_status()) && fs::is_directory(e.status()) == folders)
                    Run("touch -h -d @" + std::to_string(t += 2) + " " + ShellQuote(e.path().string()));
        Run("touch -d @" + std::to_string(t += 2) + " " + ShellQuote(src));
    }

    void Run(const std::string& command)
    {
        ASSERT_EQ(dir.Run("cd " + ShellQuote(home) + " && " + command), 0) << command;
    }

    // What the real tool extracts, less what we pass over on purpose (and report): symbolic links.
    TTree ToolTree(const std::string& extractCommand, const std::string& archive)
    {
        const std::string ref = home + "/ref";
        fs::remove_all(ref);
        fs::create_directories(ref);
        Run("cd ref && " + extractCommand + " ../" + archive);
        TTree tree = ReadTree(ref);
        std::erase_if(tree, [](const auto& n) { return n.second.Type == 'l'; });
        return tree;
    }
    static int FilesIn(const TTree& tree)
    {
        return int(std::count_if(tree.begin(), tree.end(), [](const auto& n) { return n.second.Type == '-'; }));
    }
    // The only reports of a good archive: the symbolic links passed over.
    bool OnlyLinksReported() const
    {
        return std::all_of(reports.begin(), reports.end(),
                           [](const TReport& r) { return r.Code == E_SKIPPEDFILE && r.Name.ends_with("link"); });
    }

    template <class TComponent>
    void Bind(TComponent& un, const std::string& archive, const std::string& out)
    {
        un.OnError = [this](TObject*, const std::string& name, const std::string&, const std::string&, int code) {
            reports.push_back({name, code});
        };
        un.OnEnd = [this](TObject*, const std::string& name, bool pass) { ends[name] = pass; };
        un.OnNestedTarFile = [this](TObject*, const std::string&, bool& doUnTar) { doUnTar = unTar; };
        un.SetFileSpec({"*.*"});
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\tmp");
        un.SetArchiveFile("C:\\" + archive);
        un.SetExtractDir("C:\\" + out);
    }

    // Runs the extractor the archive's suffix calls for, with fresh reports.
    int RunOn(const std::string& archive, const std::string& out, bool test = false)
    {
        reports.clear();
        ends.clear();
        const auto run = [&](auto&& un) {
            Bind(un, archive, out);
            return test ? un.TestArchive() : un.Extract();
        };
        if (archive.ends_with("bz2"))
            return run(TUnBZip());
        if (archive.ends_with(".tar"))
            return run(TUnTar());
        return run(TUnGZip());
    }

    std::vector<int> Codes() const
    {
        std::vector<int> codes;
        for (const auto& r : reports)
            codes.push_back(r.Code);
        return codes;
    }
    bool AllPassed() const
    {
        return !ends.empty() && std::all_of(ends.begin(), ends.end(), [](const auto& e) { return e.second; });
    }

    TScratchDir dir;
    std::vector<TReport> reports;
    std::map<std::string, bool> ends;
    bool unTar = true;
};

TEST_F(TarReadersTest, TarFromEveryToolGivesTheToolsTree)
{
    MakeSource("src");
    const std::vector<std::pair<std::string, std::string>> makers = {
        {"gnu.tar", "tar --format=gnu -cf gnu.tar src"},
        {"posix.tar", "tar --format=posix -cf posix.tar src"},
        {"ustar.tar", "tar --format=ustar -cf ustar.tar src 2>/dev/null; test -s ustar.tar"},
        {"bsd.tar", "bsdtar -cf bsd.tar src"},
        {"bsdgnu.tar", "bsdtar --format=gnutar -cf bsdgnu.tar src"},
    };
    for (const auto& [archive, make] : makers) {
        SCOPED_TRACE(archive);
        Run(make);
        TTree expected = ToolTree("tar -xf", archive);
        // GNU tar leaves a long-named folder of bsdtar's undated; the source has its time.
        const TTree source = ReadTree(home, true);
        for (auto& [name, node] : expected)
            if (node.Type == 'd' && source.count(name))
                node.MTime = source.at(name).MTime;
        const int files = FilesIn(expected);
        EXPECT_EQ(RunOn(archive, "out-" + archive),
                  files);  // the files written, hard links among them; folders are not counted
        EXPECT_EQ(ReadTree(home + "/out-" + archive), expected);
        EXPECT_EQ(reports.size(), 1u);
        EXPECT_TRUE(OnlyLinksReported());
        EXPECT_EQ(int(ends.size()), files);
        EXPECT_TRUE(AllPassed());
        if (archive != "ustar.tar") {  // ustar cannot hold the long file name
            EXPECT_TRUE(fs::exists(home + "/out-" + archive + "/src/" + std::string(140, 'd') + "/" +
                                   std::string(130, 'f') + ".txt"));
        }
    }

    // Testing writes nothing and still reports every file.
    EXPECT_GT(RunOn("gnu.tar", "never", true), 0);
    EXPECT_TRUE(AllPassed());
    EXPECT_TRUE(fs::is_empty(home + "/never"));
}

TEST_F(TarReadersTest, UstarPrefixAndNameThatFillTheirFieldsExtractWhereTarPutsThem)
{
    // 155 bytes of folders in the prefix field and a 100-byte name: both fields full.
    const std::string prefix = std::string(77, 'p') + "/" + std::string(77, 'q');
    Put(home + "/" + prefix + "/" + std::string(96, 'n') + ".txt", MixedBytes(3000, 5));
    Run("tar --format=ustar -cf edge.tar " + prefix.substr(0, 77));
    const TTree expected = ToolTree("tar -xf", "edge.tar");
    ASSERT_EQ(FilesIn(expected), 1);
    EXPECT_EQ(RunOn("edge.tar", "out"), 1);
    EXPECT_EQ(ReadTree(home + "/out"), expected);
    EXPECT_TRUE(reports.empty()) << reports.size();
    EXPECT_TRUE(AllPassed());
}

TEST_F(TarReadersTest, CompressedFilesGiveTheToolsBytesNamesAndTimes)
{
    Put(home + "/data.bin", MixedBytes(300000, 7));
    Put(home + "/part2", MixedBytes(70000, 8));
    Run("touch -d @1500000000 data.bin");
    Run("gzip -N -c data.bin > named.gz && gzip -n -c data.bin > plain.gz");
    Run("pigz -c -C 'a comment' data.bin > commented.gz");
    Run("gzip -c part2 > p2.gz && cat named.gz p2.gz > joined.gz");
    Run("compress -b12 -c data.bin > c12.Z && compress -b16 -c data.bin > c16.Z");
    Run("bzip2 -c data.bin > data.bin.bz2 && bzip2 -c part2 > p2.bz2 && cat data.bin.bz2 p2.bz2 > joined.bz2");
    Run(": > empty && gzip -c empty > empty.gz && bzip2 -c empty > empty.bz2");
    // compress output of a few bytes: shorter than any archive header detection looks at.
    Run("compress -c empty > empty.Z && printf 'hello\\n' > hello && compress -c hello > hello.Z");
    const std::string data = ReadHostFile(home + "/data.bin");
    const std::string joined = data + ReadHostFile(home + "/part2");

    struct TCase {
        std::string Archive, OutName, Bytes;
        bool StoredTime;
    };
    const std::vector<TCase> cases = {
        {"named.gz", "data.bin", data, true},
        {"plain.gz", "plain", data, false},
        {"commented.gz", "data.bin", data, true},
        {"joined.gz", "data.bin", joined, true},
        {"c12.Z", "c12", data, false},
        {"c16.Z", "c16", data, false},
        {"data.bin.bz2", "data.bin", data, false},
        {"joined.bz2", "joined", joined, false},
        {"empty.gz", "empty", "", false},
        {"empty.bz2", "empty", "", false},
        {"empty.Z", "empty", "", false},
        {"hello.Z", "hello", "hello\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Archive);
        const std::string out = "out-" + c.Archive;
        EXPECT_EQ(RunOn(c.Archive, out), 1);
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(AllPassed());
        EXPECT_EQ(NamesIn(home + "/" + out), std::set<std::string>{c.OutName});
        EXPECT_TRUE(ReadHostFile(home + "/" + out + "/" + c.OutName) == c.Bytes);
        if (c.StoredTime) {
            EXPECT_EQ(fs::last_write_time(home + "/" + out + "/" + c.OutName), fs::last_write_time(home + "/data.bin"));
        }
    }
    // gzip itself restores the stored name and time alike.
    Run("mkdir ref && cd ref && cp ../named.gz x.gz && gzip -dN x.gz");
    EXPECT_EQ(ReadTree(home + "/ref"), ReadTree(home + "/out-named.gz"));
}

TEST_F(TarReadersTest, NestedTarGivesTheToolsTreeAndKeepsOtherFiles)
{
    MakeSource("src");
    Run("tar czf src.tgz src && tar cjf src.tar.bz2 src");
    for (const std::string archive : {"src.tgz", "src.tar.bz2"}) {
        SCOPED_TRACE(archive);
        const TTree expected = ToolTree("tar -xf", archive);
        const std::string out = "out-" + archive;
        // Files of the user's that look like our temporary names.
        WriteHostFile(home + "/src.tar~", "mine");
        WriteHostFile(home + "/" + out + "/src.tar~", "mine too");
        WriteHostFile(home + "/" + out + "/src.tar", "and this");
        const int count = RunOn(archive, out);
        EXPECT_TRUE(OnlyLinksReported());
        EXPECT_TRUE(AllPassed());
        EXPECT_EQ(count, FilesIn(expected));
        TTree got = ReadTree(home + "/" + out);
        EXPECT_EQ(got["src.tar~"].Bytes, "mine too");
        EXPECT_EQ(got["src.tar"].Bytes, "and this");
        got.erase("src.tar~");
        got.erase("src.tar");
        EXPECT_EQ(got, expected);
        EXPECT_EQ(ReadHostFile(home + "/src.tar~"), "mine");
        EXPECT_TRUE(fs::is_empty(home + "/tmp"));

        // The command-line tool picks the same extractor by the detected type.
        const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
        if (fs::exists(tool)) {
            Run(tool + " test " + archive + " >/dev/null");
            Run(tool + " extract " + archive + " tool-" + archive + " >/dev/null");
            EXPECT_EQ(ReadTree(home + "/tool-" + archive), expected);
        }
    }

    // Declined, the TAR itself comes out, named after the archive.
    unTar = false;
    TUnGZip plain;
    Bind(plain, "src.tgz", "out-plain");
    EXPECT_EQ(plain.Extract(), 1);
    Run("gzip -dc src.tgz > expected.tar");
    EXPECT_TRUE(ReadHostFile(home + "/out-plain/src.tar") == ReadHostFile(home + "/expected.tar"));
}

// The TAR of a .tgz or .tbz is staged whole in the temporary folder: a run killed after staging
// leaves it there for the next run of any kind to remove, and a temporary folder too small for it
// is a full disk on the staged file, not on the TAR's own name, which is never written.
TEST_F(TarReadersTest, AStagedTarGoesWithTheNextRunAndAFullTemporaryFolderNamesIt)
{
    Put(home + "/big/noise.bin", MixedBytes(300000, 9));
    Put(home + "/big/z.txt", MixedBytes(100, 10));
    Run("tar czf big.tgz big && tar cjf big.tbz big");
    for (const std::string archive : {"big.tgz", "big.tbz"}) {
        SCOPED_TRACE(archive);
        fs::remove_all(home + "/tmp");
        fs::create_directories(home + "/tmp");
        const pid_t child = fork();
        if (child == 0) {
            const auto killed = [this, &archive](auto&& un) {
                Bind(un, archive, "killed");
                un.OnBegin = [](TObject*, const std::string& name, int, bool&) {
                    if (name.ends_with("z.txt"))
                        _exit(9);  // as kill -9: no clean-up of any kind
                };
                un.Extract();
            };
            archive.ends_with("tbz") ? killed(TUnBZip()) : killed(TUnGZip());
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9) << status;
        ASSERT_EQ(NamesIn(home + "/tmp").size(), 1u);
        win::RemoveDeadOwnersLeftovers();  // what the next run of any kind does first
        EXPECT_TRUE(NamesIn(home + "/tmp").empty()) << *NamesIn(home + "/tmp").begin();
    }

    fs::create_directories(home + "/small");
    WriteHostFile(root + "/config/torvo/drives", "T: fixed capacity=100000 " + home + "/small\n");
    win::LoadDriveTable();
    for (const std::string archive : {"big.tgz", "big.tbz"}) {
        SCOPED_TRACE(archive);
        reports.clear();
        const auto run = [this, &archive](auto&& un) {
            Bind(un, archive, "full");
            un.SetTempDir("T:\\");
            return un.Extract();
        };
        EXPECT_EQ(archive.ends_with("tbz") ? run(TUnBZip()) : run(TUnGZip()), 0);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].Code, E_DISKFULL);
        EXPECT_TRUE(reports[0].Name.starts_with("T:\\tar")) << reports[0].Name;
        EXPECT_TRUE(NamesIn(home + "/small").empty());
        EXPECT_FALSE(fs::exists(home + "/full/big.tar"));
    }
}

TEST_F(TarReadersTest, ACutTarZIsReportedOnTheArchiveNotPassedAsAPlainFile)
{
    // .Z holds no length and no check: only what the data decodes to can show the cut.
    MakeSource("src");
    Run("tar cf - src | compress -c > whole.tar.Z && seq 100 | compress -c > notes.tar.Z");
    const std::vector<std::uint8_t> bytes = ReadWholeFile(home + "/whole.tar.Z");
    for (std::size_t cut = 5; cut < 320; cut += cut < 160 ? 1 : 7) {
        SCOPED_TRACE(cut);
        WriteWholeFile(home + "/cut.tar.Z",
                       std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
        RunOn("cut.tar.Z", "never", true);
        ASSERT_FALSE(reports.empty());
        EXPECT_EQ(reports.back().Code, E_UNEXPECTEDEOF);
        EXPECT_TRUE(reports.back().Name.ends_with("cut.tar.Z")) << reports.back().Name;
    }
    EXPECT_EQ(RunOn("cut.tar.Z", "out"), 0);
    EXPECT_EQ(Codes(), std::vector<int>{E_UNEXPECTEDEOF});
    EXPECT_FALSE(fs::exists(home + "/out/cut.tar"));
    // Text that is no TAR header stays a plain file whatever its name says.
    EXPECT_EQ(RunOn("notes.tar.Z", "notes"), 1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ReadHostFile(home + "/notes/notes.tar").substr(0, 4), "1\n2\n");
}

TEST_F(TarReadersTest, NestedTarFollowsTheCallersSettings)
{
    MakeSource("src");
    Run("tar cjf src.tbz2 src");
    WriteHostFile(home + "/out/src/a.txt", "keep me");
    TUnBZip un;
    Bind(un, "src.tbz2", "out");
    un.OverwriteMode = omSkip;
    un.SetExcludeSpec({"*.bin"});
    un.CreateStoredDirs = false;
    un.Extract();
    EXPECT_TRUE(OnlyLinksReported());
    EXPECT_EQ(ReadHostFile(home + "/out/src/a.txt"), "keep me");
    EXPECT_FALSE(fs::exists(home + "/out/src/sub/deep/b.bin"));
    EXPECT_FALSE(fs::exists(home + "/out/src/emptydir"));
    EXPECT_TRUE(fs::exists(home + "/out/src/empty"));

    // A test run goes through the TAR's entries and writes nothing.
    TUnBZip test;
    Bind(test, "src.tbz2", "never");
    ends.clear();
    EXPECT_GT(test.TestArchive(), 3);
    EXPECT_TRUE(AllPassed());
    EXPECT_TRUE(ends.count("src/empty"));
    EXPECT_TRUE(fs::is_empty(home + "/never"));
    EXPECT_TRUE(fs::is_empty(home + "/tmp"));
}

std::string TarOf(const std::vector<std::pair<std::string, std::string>>& files)
{
    std::string tar;
    for (const auto& [name, data] : files) {
        TTarWriteEntry e;
        e.Name = name;
        e.Size = std::int64_t(data.size());
        e.MTime = 1600000000;
        const auto h = EncodeTarHeaders(e);
        tar.append(h.begin(), h.end());
        tar += data;
        tar.append(std::size_t(TarDataPadding(e.Size)), '\0');
    }
    tar.append(std::size_t(TarEndingSize(std::int64_t(tar.size()))), '\0');
    return tar;
}

TEST_F(TarReadersTest, UnsafeNamesWriteNothingOutside)
{
    fs::create_directories(home + "/out");
    fs::create_directories(root + "/outside/sub");
    fs::create_symlink(root + "/outside", home + "/out/lnk");
    // A real folder behind a link is no way out either.
    WriteHostFile(home + "/evil.tar", TarOf({{"../up.txt", "x"},
                                             {root + "/abs.txt", "x"},
                                             {"a/../../up2.txt", "x"},
                                             {"lnk/through.txt", "x"},
                                             {"lnk/sub/deeper.txt", "x"},
                                             {"ok.txt", "fine"}}));
    TUnTar un;
    Bind(un, "evil.tar", "out");
    EXPECT_EQ(un.Extract(), 1);
    EXPECT_EQ(ReadHostFile(home + "/out/ok.txt"), "fine");
    EXPECT_FALSE(fs::exists(home + "/up.txt"));
    EXPECT_FALSE(fs::exists(root + "/abs.txt"));
    EXPECT_FALSE(fs::exists(home + "/out" + root + "/abs.txt"));
    EXPECT_FALSE(fs::exists(root + "/up2.txt"));
    EXPECT_EQ(NamesIn(root + "/outside"), std::set<std::string>{"sub"});
    EXPECT_TRUE(fs::is_empty(root + "/outside/sub"));
    EXPECT_EQ(reports.size(), 5u);

    // A gzip name with folders is taken as its file name only.
    std::string gz = "\x1f\x8b\x08\x08";
    gz += std::string(6, '\0') + "../../sub/evil.txt" + '\0';
    Run("printf hello | gzip -n | tail -c +11 > body");
    gz += ReadHostFile(home + "/body");
    WriteHostFile(home + "/named.gz", gz);
    TUnGZip g;
    Bind(g, "named.gz", "gzout");
    EXPECT_EQ(g.Extract(), 1);
    EXPECT_EQ(NamesIn(home + "/gzout"), std::set<std::string>{"evil.txt"});
    EXPECT_EQ(ReadHostFile(home + "/gzout/evil.txt"), "hello");
}

// New files are made relative to their folder, held open from one member to the next: a folder
// that another program swaps for a link meanwhile never sends a file outside, and one it removes
// is made again.
TEST_F(TarReadersTest, FoldersChangedBetweenMembersSendNothingOutside)
{
    fs::create_directories(root + "/outside");
    WriteHostFile(home + "/t.tar", TarOf({{"sub/a.txt", "a"},
                                          {"sub/b.txt", "b"},
                                          {"sub/deep/c.txt", "c"},
                                          {"gone/d.txt", "d"},
                                          {"gone/e.txt", "e"},
                                          {"dup.txt", "first"},
                                          {"dup.txt", "second"}}));
    TUnTar un;
    Bind(un, "t.tar", "out");
    const std::string out = home + "/out";
    un.OnBegin = [&](TObject*, const std::string& name, int, bool&) {
        if (name.ends_with("b.txt")) {
            fs::rename(out + "/sub", home + "/moved");
            fs::create_directory_symlink(root + "/outside", out + "/sub");
        } else if (name.ends_with("e.txt")) {
            fs::remove_all(out + "/gone");
        }
    };
    un.Extract();
    EXPECT_TRUE(fs::is_empty(root + "/outside"));
    EXPECT_EQ(ReadHostFile(home + "/moved/a.txt"), "a");
    EXPECT_EQ(NamesIn(out + "/gone"), std::set<std::string>{"e.txt"});
    EXPECT_EQ(ReadHostFile(out + "/gone/e.txt"), "e");
    EXPECT_EQ(ReadHostFile(out + "/dup.txt"), "second");  // a name made by the run is found as it is
    for (const auto& e : fs::recursive_directory_iterator(home))
        EXPECT_FALSE(e.path().filename().string().starts_with(".~")) << e.path();
}

TEST_F(TarReadersTest, DamagedInputsFailCleanly)
{
    Put(home + "/data.bin", MixedBytes(100000, 9));
    Run("gzip -c data.bin > d.gz && bzip2 -c data.bin > d.bz2 && tar cf d.tar data.bin && tar czf t.tgz data.bin");
    Run("cat d.gz d.gz > two.gz && bzip2 -c /etc/hostname > small.bz2 && cat d.bz2 small.bz2 > two.bz2");
    const auto cut = [&](const std::string& from, const std::string& to, std::int64_t keep) {
        Run("head -c " + std::to_string(keep) + " " + from + " > " + to);
    };
    const auto flip = [&](const std::string& from, const std::string& to, std::int64_t at) {
        std::string bytes = ReadHostFile(home + "/" + from);
        bytes[std::size_t(at < 0 ? std::int64_t(bytes.size()) + at : at)] ^= 0x55;
        WriteHostFile(home + "/" + to, bytes);
    };
    const std::int64_t gzSize = std::int64_t(fs::file_size(home + "/d.gz"));
    cut("d.gz", "cut.gz", gzSize - 4);
    flip("d.gz", "bad.gz", gzSize / 2);
    flip("two.gz", "crc1.gz", gzSize - 6);  // the first member's stored CRC
    cut("d.bz2", "cut.bz2", std::int64_t(fs::file_size(home + "/d.bz2")) / 2);
    flip("two.bz2", "bad.bz2", -20);  // inside the second stream
    cut("d.tar", "cut.tar", 30000);
    flip("d.tar", "badsum.tar", 10);
    cut("t.tgz", "cut.tgz", std::int64_t(fs::file_size(home + "/t.tgz")) - 100);
    std::string z = ReadHostFile(home + "/d.gz");
    z[1] = '\x9d';
    z[2] = char(0x70);  // reserved bits 5 and 6
    WriteHostFile(home + "/flags.Z", z);
    std::string part = ReadHostFile(home + "/d.gz");
    part[3] = 0x02;  // FHCRC set, but no header CRC stored
    WriteHostFile(home + "/hcrc.gz", part);

    struct TCase {
        std::string Archive;
        std::vector<int> Codes;  // one of them
        bool OutputExpected;
    };
    const std::vector<TCase> cases = {
        {"cut.gz", {25176}, true},         {"bad.gz", {25146, 25151}, true}, {"crc1.gz", {25151}, true},
        {"cut.bz2", {25176}, true},        {"bad.bz2", {25146}, true},       {"cut.tar", {25176}, false},
        {"badsum.tar", {25114}, false},    {"cut.tgz", {25176}, false},      {"flags.Z", {E_UNKNOWNERROR}, true},
        {"hcrc.gz", {E_HEADERCRC}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Archive);
        const std::string out = "out-" + c.Archive;
        const int count = RunOn(c.Archive, out);
        const std::vector<int> codes = Codes();
        EXPECT_TRUE(std::any_of(c.Codes.begin(), c.Codes.end(), [&](int code) {
            return std::count(codes.begin(), codes.end(), code) > 0;
        })) << testing::PrintToString(codes);
        for (const auto& [name, pass] : ends)
            EXPECT_FALSE(pass) << name;
        if (!c.OutputExpected) {
            EXPECT_EQ(count, 0);
            EXPECT_TRUE(!fs::exists(home + "/" + out) || fs::is_empty(home + "/" + out));
        }
        EXPECT_TRUE(fs::is_empty(home + "/tmp"));
    }
}

TEST_F(TarReadersTest, OutputNamesAndTheArchiveItself)
{
    EXPECT_EQ(BzipOutputName("x.tbz2"), "x.tar");
    EXPECT_EQ(BzipOutputName("x.TBZ"), "x.tar");
    EXPECT_EQ(BzipOutputName("x.Bz2"), "x");
    EXPECT_EQ(BzipOutputName("x.bzip2"), "x");
    EXPECT_EQ(BzipOutputName("x.dat"), "x.dat");

    // Extracting beside an archive whose output name is its own never writes over it.
    Put(home + "/data", MixedBytes(1000, 5));
    Run("bzip2 -c data > plain && cp plain copy");
    TUnBZip un;
    Bind(un, "plain", "");
    un.SetExtractDir("C:\\");
    EXPECT_EQ(un.Extract(), 0);
    EXPECT_EQ(Codes(), std::vector<int>{25191});
    EXPECT_EQ(ReadHostFile(home + "/plain"), ReadHostFile(home + "/copy"));

    // The host may choose another output name.
    reports.clear();
    un.OnGetOutFilename = [](TObject*, const std::string&, std::string& out) { out = "chosen.dat"; };
    EXPECT_EQ(un.Extract(), 1);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ReadHostFile(home + "/chosen.dat"), ReadHostFile(home + "/data"));
}

// A header of type Type (a link names Link) with a sealed checksum.
std::string LinkHeader(const std::string& name, char type, const std::string& link)
{
    TTarWriteEntry e;
    e.Name = name;
    e.MTime = 1600000000;
    auto h = EncodeTarHeaders(e);
    h[156] = std::uint8_t(type);
    std::memcpy(h.data() + 157, link.data(), std::min<std::size_t>(link.size(), 100));
    std::snprintf(reinterpret_cast<char*>(h.data() + 148), 8, "%06o", TarHeaderChecksum(h.data()));
    return std::string(h.begin(), h.end());
}

TEST_F(TarReadersTest, TarOfTheCurrentFolderExtractsAndTestsLikeTar)
{
    MakeSource("src");
    // The most common way to make a TAR: "./", "./a.txt", ...
    Run("cd src && tar cf ../dot.tar . && tar czf ../dot.tgz . && tar cjf ../dot.tbz2 .");
    for (const std::string archive : {"dot.tar", "dot.tgz", "dot.tbz2"}) {
        SCOPED_TRACE(archive);
        const TTree expected = ToolTree("tar -xf", archive);
        ASSERT_TRUE(expected.count("a.txt"));
        for (bool test : {false, true}) {
            EXPECT_EQ(RunOn(archive, test ? "never" : "out-" + archive, test), FilesIn(expected));
            EXPECT_EQ(reports.size(), 1u);  // the symbolic link
            EXPECT_TRUE(OnlyLinksReported());
            EXPECT_TRUE(AllPassed());
            EXPECT_FALSE(ends.count("./a.txt"));
        }
        const TTree got = ReadTree(home + "/out-" + archive);
        EXPECT_EQ(got, expected);
        for (const auto& [name, node] : got)
            EXPECT_TRUE(expected.count(name) && expected.at(name) == node) << name;
        EXPECT_TRUE(fs::is_empty(home + "/never"));
    }
}

TEST_F(TarReadersTest, DamagedLaterMembersOfParallelToolsFailTestAndExtract)
{
    Put(home + "/one", MixedBytes(300000, 21));
    Put(home + "/two", MixedBytes(2500, 22));
    Run("pigz -c one > a.gz && pigz -c two > b.gz && cat a.gz b.gz > good.gz");
    Run("lbzip2 -c one > a.bz2 && lbzip2 -c two > b.bz2 && cat a.bz2 b.bz2 > good.bz2");
    const std::string both = ReadHostFile(home + "/one") + ReadHostFile(home + "/two");
    for (const std::string ext : {".gz", ".bz2"}) {
        SCOPED_TRACE(ext);
        const std::string good = ReadHostFile(home + "/good" + ext);
        const std::size_t second = fs::file_size(home + "/a" + ext);
        std::string damaged = good;
        damaged[second + 1] ^= 0x11;  // the later member's magic
        WriteHostFile(home + "/damaged" + ext, damaged);
        WriteHostFile(home + "/padded" + ext, good + std::string(1536, '\0'));
        WriteHostFile(home + "/junk" + ext, good + "junk");
        // gzip refuses the damaged file too (the bzip2 tools take it for trailing garbage and
        // lose the later stream).
        if (ext == ".gz") {
            EXPECT_NE(dir.Run("cd " + ShellQuote(home) + " && gzip -t damaged.gz 2>/dev/null"), 0);
        }
        for (const std::string name : {"good", "padded", "damaged", "junk"}) {
            SCOPED_TRACE(name);
            const bool sound = name == "good" || name == "padded";
            for (bool test : {false, true}) {
                const std::string out = "out-" + name + ext + (test ? "-t" : "");
                EXPECT_EQ(RunOn(name + ext, out, test), sound ? 1 : 0);
                EXPECT_EQ(reports.empty(), sound);
                ASSERT_EQ(ends.size(), 1u);
                EXPECT_EQ(ends.begin()->second, sound);
                if (!test) {
                    // pigz stores the input's name; a .bz2 is named after the archive.
                    const std::string written = ext == ".gz" ? "one" : name;
                    EXPECT_EQ(NamesIn(home + "/" + out),
                              sound ? std::set<std::string>{written} : std::set<std::string>{});
                    if (sound) {
                        EXPECT_TRUE(ReadHostFile(home + "/" + out + "/" + written) == both);
                    }
                }
            }
        }
    }
}

TEST_F(TarReadersTest, SparseMembersOfEveryFormGiveTheWholeFile)
{
    // Data at the start, two islands in holes, and a hole at the end.
    Put(home + "/sp", {});
    Run("truncate -s 20M sp && head -c 5000 /etc/services | dd of=sp conv=notrunc status=none"
        " && printf island | dd of=sp bs=1 seek=5242880 conv=notrunc status=none"
        " && head -c 70000 /dev/urandom | dd of=sp bs=4096 seek=3000 conv=notrunc status=none");
    Run("tar --format=gnu -S -cf gnu.tar sp && tar --format=posix --sparse-version=0.0 -S -cf p00.tar sp"
        " && tar --format=posix --sparse-version=0.1 -S -cf p01.tar sp"
        " && tar --format=posix --sparse-version=1.0 -S -cf p10.tar sp && bsdtar --read-sparse -cf bsd.tar sp");
    const std::string whole = ReadHostFile(home + "/sp");
    for (const std::string archive : {"gnu.tar", "p00.tar", "p01.tar", "p10.tar", "bsd.tar"}) {
        SCOPED_TRACE(archive);
        ASSERT_LT(fs::file_size(home + "/" + archive), 1u << 20);  // stored sparse indeed
        EXPECT_EQ(RunOn(archive, "out-" + archive), 1);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(NamesIn(home + "/out-" + archive), std::set<std::string>{"sp"});
        EXPECT_TRUE(ReadHostFile(home + "/out-" + archive + "/sp") == whole);
        EXPECT_TRUE(AllPassed());
        struct stat st {};
        ASSERT_EQ(stat((home + "/out-" + archive + "/sp").c_str(), &st), 0);
        EXPECT_LT(st.st_blocks * 512, 1 << 20);  // the holes stay holes
    }

    // A map that reaches past the file's size is refused with a report; nothing is written.
    std::string bad = ReadHostFile(home + "/gnu.tar");
    ASSERT_EQ(bad[156], 'S');
    std::memcpy(bad.data() + 483, "00000001000", 11);  // real size 512
    std::snprintf(bad.data() + 148, 8, "%06o", TarHeaderChecksum(reinterpret_cast<std::uint8_t*>(bad.data())));
    WriteHostFile(home + "/badmap.tar", bad);
    EXPECT_EQ(RunOn("badmap.tar", "out-bad"), 0);
    EXPECT_EQ(Codes(), std::vector<int>{E_BADFILEHEADER});
    EXPECT_TRUE(!fs::exists(home + "/out-bad") || fs::is_empty(home + "/out-bad"));

    // A hole that ends past the largest file the folder's file system holds (16 TiB on ext4):
    // the member is written whole or reported, never dropped in silence.
    std::string far = ReadHostFile(home + "/gnu.tar");
    const std::uint64_t farSize = std::uint64_t(1) << 50;
    far[483] = char(0x80);
    for (int i = 0; i < 11; ++i)
        far[std::size_t(494 - i)] = char(i < 8 ? (farSize >> (8 * i)) & 0xFF : 0);
    std::snprintf(far.data() + 148, 8, "%06o", TarHeaderChecksum(reinterpret_cast<std::uint8_t*>(far.data())));
    WriteHostFile(home + "/far.tar", far);
    if (RunOn("far.tar", "out-far") == 1) {
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(fs::file_size(home + "/out-far/sp"), farSize);
    } else {
        EXPECT_EQ(Codes(), std::vector<int>{E_WRITEFILE});
    }
    fs::remove_all(home + "/out-far");
}

TEST_F(TarReadersTest, HardLinksAreCopiesInsideTheTargetAndEveryPassedOverEntryIsReported)
{
    std::string tar = TarOf({{"a.txt", "the data"}});
    tar.resize(1024);  // a.txt alone, without the end blocks
    tar += LinkHeader("copy.txt", '1', "./a.txt");
    tar += LinkHeader("sub/deep.txt", '1', "a.txt");
    tar += LinkHeader("stolen.txt", '1', "../../etc/passwd");
    tar += LinkHeader("../up.txt", '1', "a.txt");
    tar += LinkHeader("sym", '2', "/etc/passwd");
    tar += LinkHeader("fifo", '6', "");
    tar.append(10240 - tar.size() % 10240, '\0');
    WriteHostFile(home + "/links.tar", tar);
    TUnTar un;
    Bind(un, "links.tar", "out");
    EXPECT_EQ(un.Extract(), 3);
    EXPECT_EQ(ReadHostFile(home + "/out/copy.txt"), "the data");
    EXPECT_EQ(ReadHostFile(home + "/out/sub/deep.txt"), "the data");
    EXPECT_EQ(NamesIn(home + "/out"), (std::set<std::string>{"a.txt", "copy.txt", "sub"}));
    EXPECT_FALSE(fs::exists(home + "/up.txt"));
    // Links on disk as tar makes them: a thousand links to a big file cost no room.
    const auto inode = [](const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
    };
    EXPECT_EQ(inode(home + "/out/copy.txt"), inode(home + "/out/a.txt"));
    EXPECT_EQ(inode(home + "/out/sub/deep.txt"), inode(home + "/out/a.txt"));
    std::map<std::string, int> byName;
    for (const auto& r : reports)
        byName[r.Name] = r.Code;
    EXPECT_EQ(byName, (std::map<std::string, int>{{"stolen.txt", E_FILENOTFOUND},
                                                  {"../up.txt", E_INVALIDFILENAME},
                                                  {"sym", E_SKIPPEDFILE},
                                                  {"fifo", E_SKIPPEDFILE}}));

    // A link to a member that is not written in this run is a copy of its data.
    TUnTar only;
    Bind(only, "links.tar", "only");
    only.SetFileSpec({"copy.txt"});
    EXPECT_EQ(only.Extract(), 1);
    EXPECT_EQ(NamesIn(home + "/only"), std::set<std::string>{"copy.txt"});
    EXPECT_EQ(ReadHostFile(home + "/only/copy.txt"), "the data");
}

TEST_F(TarReadersTest, HardLinksFindFilesBeforeAndAfterTheFirstLinkUnderTheNamesTheyWereWrittenTo)
{
    const auto file = [](const std::string& name, const std::string& data) {
        std::string one = TarOf({{name, data}});
        one.resize(TarBlockSize + data.size() + std::size_t(TarDataPadding(std::int64_t(data.size()))));
        return one;
    };
    std::string tar = file("a.txt", "first a") + LinkHeader("l1.txt", '1', "a.txt") + file("b.txt", "b") +
                      LinkHeader("l2.txt", '1', "b.txt") + LinkHeader("l3.txt", '1', "l1.txt") +
                      file("a.txt", "newer a") + LinkHeader("l4.txt", '1', "a.txt");
    tar.append(10240 - tar.size() % 10240, '\0');
    WriteHostFile(home + "/chain.tar", tar);
    TUnTar un;
    Bind(un, "chain.tar", "out");
    un.OverwriteMode = omOverwrite;
    un.OnBegin = [](TObject*, const std::string&, int, bool&) {};
    un.OnRenameFile = [](TObject*, const std::string& name, std::string& newName) {
        if (name.size() >= 5 && name.substr(name.size() - 5) == "b.txt")
            newName = "bee.txt";
    };
    EXPECT_EQ(un.Extract(), 7);
    EXPECT_TRUE(reports.empty());
    const auto inode = [&](const std::string& name) {
        struct stat st {};
        return stat((home + "/out/" + name).c_str(), &st) == 0 ? st.st_ino : 0;
    };
    EXPECT_EQ(NamesIn(home + "/out"),
              (std::set<std::string>{"a.txt", "bee.txt", "l1.txt", "l2.txt", "l3.txt", "l4.txt"}));
    EXPECT_EQ(ReadHostFile(home + "/out/l1.txt"), "first a");
    EXPECT_EQ(ReadHostFile(home + "/out/l3.txt"), "first a");
    EXPECT_EQ(ReadHostFile(home + "/out/l4.txt"), "newer a");
    EXPECT_EQ(inode("l3.txt"), inode("l1.txt"));
    EXPECT_EQ(inode("l4.txt"), inode("a.txt"));
    EXPECT_EQ(inode("l2.txt"), inode("bee.txt"));

    // Without folders, a later member of the same name takes the linked member's file: the link
    // takes the data of the member it names, not of what lies there now.
    std::string two = file("x/a", "from x") + file("y/a", "from y") + LinkHeader("h", '1', "x/a");
    two.append(10240 - two.size() % 10240, '\0');
    WriteHostFile(home + "/two.tar", two);
    TUnTar flat;
    Bind(flat, "two.tar", "flat");
    flat.UseStoredDirs = false;
    reports.clear();
    EXPECT_EQ(flat.Extract(), 3);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(ReadHostFile(home + "/flat/a"), "from y");
    EXPECT_EQ(ReadHostFile(home + "/flat/h"), "from x");
}

TEST_F(TarReadersTest, GzipHeaderCrcAndUtf8NamesAreReadAsGzipReadsThem)
{
    const std::string name = "\xC5\xBElu\xC5\xA5ou\xC4\x8Dk\xC3\xBD.txt";
    Put(home + "/" + name, MixedBytes(40000, 31));
    Run("gzip -N -c " + ShellQuote(name) + " > named.gz");
    std::string gz = ReadHostFile(home + "/named.gz");
    // The same member with FHCRC: the low 16 bits of the CRC-32 of the header before it.
    const std::size_t headerEnd = 10 + name.size() + 1;
    std::string withCrc = gz.substr(0, headerEnd);
    withCrc[3] |= 0x02;
    const std::uint32_t crc = Crc32Of(withCrc);
    withCrc += char(crc & 0xFF);
    withCrc += char((crc >> 8) & 0xFF);
    withCrc += gz.substr(headerEnd);
    WriteHostFile(home + "/hcrc.gz", withCrc);
    Run("gzip -t hcrc.gz");
    for (const std::string archive : {"named.gz", "hcrc.gz"}) {
        SCOPED_TRACE(archive);
        EXPECT_EQ(RunOn(archive, "out-" + archive), 1);
        EXPECT_TRUE(reports.empty());
        EXPECT_EQ(NamesIn(home + "/out-" + archive), std::set<std::string>{name});
        EXPECT_TRUE(ReadHostFile(home + "/out-" + archive + "/" + name) == ReadHostFile(home + "/" + name));
        // The listing shows the name that is written.
        TPelix list;
        std::vector<std::string> listed;
        list.OnRead = [&](TObject*, std::int64_t, int) { listed.push_back(list.FileName); };
        list.SetArchiveFile("C:\\" + archive);
        list.Activate();
        EXPECT_EQ(listed, std::vector<std::string>{name});
    }
}

}  // namespace
