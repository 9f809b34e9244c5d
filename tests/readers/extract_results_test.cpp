// What every extractor answers and tells along the way: the count is the entries really written
// (or passed in a test), OnBegin carries each entry's own number, folders get their stored times
// back as unzip and tar give them, and no name an archive carries writes outside the extraction
// folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/Err_Msgs.h"
#include "platform/win/FsTestSupport.h"
#include "readers/ExtractorFor.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnTar.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "support/ZipWalk.h"

namespace fs = std::filesystem;

namespace {

std::int64_t MTimeOf(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : -1;
}

class ExtractResultsTest : public FsTest {
protected:
    void Run(const std::string& command)
    {
        ASSERT_EQ(dir.Run("cd " + ShellQuote(home) + " && " + command), 0) << command;
    }

    // Runs one extraction of the archive in home into out and keeps what the events told.
    template <class TComponent>
    int Extract(const std::string& archive, const std::string& out, bool test = false,
                const std::function<void(TComponent&)>& setup = {})
    {
        TComponent un;
        return Extract(un, archive, out, test, setup);
    }
    template <class TComponent>
    int Extract(TComponent& un, const std::string& archive, const std::string& out, bool test = false,
                const std::function<void(TComponent&)>& setup = {})
    {
        begins.clear();
        ends.clear();
        codes.clear();
        un.OnError = CollectCodes(codes);
        un.OnBegin = [this](TObject*, const std::string&, int count, bool& extract) {
            begins.push_back(count);
            extract = extract && !declined.count(int(begins.size()));
        };
        un.OnEnd = [this](TObject*, const std::string&, bool pass) { ends.push_back(pass); };
        un.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        un.CreateStoredDirs = true;
        un.SetTempDir("C:\\");
        un.SetArchiveFile("C:\\" + archive);
        un.SetExtractDir("C:\\" + out);
        if (setup)
            setup(un);
        return test ? un.TestArchive() : un.Extract();
    }

    TScratchDir dir;
    std::vector<int> begins;
    std::vector<bool> ends;
    std::vector<int> codes;
    std::set<int> declined;  // entries (by order of OnBegin) the host declines
};

TEST_F(ExtractResultsTest, CountsAreWhatWasWrittenAndEachEntryHasItsOwnNumber)
{
    WriteHostFile(home + "/src/a.txt", "first");
    WriteHostFile(home + "/src/b.txt", "second");
    WriteHostFile(home + "/src/sub/c.txt", "third");
    Run("cd src && ln -s a.txt link && tar cf ../t.tar a.txt b.txt sub link");

    // A TAR: the folder, the declined entry, the kept file and the link are not counted.
    WriteHostFile(home + "/out/sub/c.txt", "mine");
    declined = {2};
    EXPECT_EQ(Extract<TUnTar>("t.tar", "out", false, [](TUnTar& un) { un.OverwriteMode = omSkip; }), 1);
    EXPECT_EQ(begins, (std::vector<int>{1, 2, 4}));  // a.txt, b.txt, (the folder sub/), sub/c.txt
    EXPECT_EQ(ReadHostFile(home + "/out/sub/c.txt"), "mine");
    EXPECT_EQ(codes, std::vector<int>{E_SKIPPEDFILE});
    declined.clear();
    EXPECT_EQ(Extract<TUnTar>("t.tar", "never", true), 3);

    // A .gz and a .bz2 whose data fails its check: nothing written, nothing counted.
    WriteHostFile(home + "/data", std::string(50000, 'x') + "tail");
    Run("gzip -c data > d.gz && bzip2 -c data > d.bz2");
    std::string gz = ReadHostFile(home + "/d.gz");
    gz[gz.size() - 8] ^= 1;  // the stored CRC
    WriteHostFile(home + "/bad.gz", gz);
    EXPECT_EQ(Extract<TUnGZip>("bad.gz", "gz"), 0);
    EXPECT_EQ(begins, std::vector<int>{1});
    EXPECT_EQ(ends, std::vector<bool>{false});
    EXPECT_EQ(Extract<TUnGZip>("bad.gz", "gz", true), 0);
    EXPECT_EQ(Extract<TUnBZip>("d.bz2", "bz"), 1);
    EXPECT_EQ(begins, std::vector<int>{1});

    // A ZIP with one damaged member of three.
    Run("cd src && zip -q0 ../z.zip a.txt b.txt sub/c.txt");
    std::string zip = ReadHostFile(home + "/z.zip");
    const std::size_t at = zip.find("second");
    ASSERT_NE(at, std::string::npos);
    zip[at] ^= 0x20;
    WriteHostFile(home + "/z.zip", zip);
    EXPECT_EQ(Extract<TUnZip>("z.zip", "zip"), 2);
    EXPECT_EQ(begins, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ends, (std::vector<bool>{true, false, true}));
    EXPECT_EQ(Extract<TUnZip>("z.zip", "never", true), 2);

    // The command-line tool prints the same count.
    const std::string tool = std::string(TORVO_TEST_BIN_DIR) + "/../../tools/plxtool";
    if (fs::exists(tool)) {
        const std::string said =
            dir.Capture("cd " + ShellQuote(home) + " && " + tool + " extract z.zip cli 2>/dev/null");
        EXPECT_EQ(said, "extracted 2, reports 1\n");
    }
}

// A .Z header with flag bit 5 or 6 is no stream of the format (an unknown error, unlike a width
// out of range, a bad header); a compressed file whose output would be the archive itself says
// so (25191) whether or not overwriting is allowed, and the archive stays as it was.
TEST_F(ExtractResultsTest, ReservedZFlagsAndAnOutputNamedAsTheArchiveAreTold)
{
    const auto z = [this](std::uint8_t flags) {
        const std::string bytes{'\x1F', '\x9D', char(flags), 'a', '\0', '\0'};
        WriteHostFile(home + "/r.Z", bytes);
        const int n = Extract<TUnGZip>("r.Z", "z");
        EXPECT_FALSE(fs::exists(home + "/z/r"));
        return n == 0 ? codes : std::vector<int>{-1};
    };
    EXPECT_EQ(z(0x90 | 0x20), std::vector<int>{E_UNKNOWNERROR});
    EXPECT_EQ(z(0x90 | 0x40), std::vector<int>{E_UNKNOWNERROR});
    EXPECT_EQ(z(0x80 | 17), std::vector<int>{E_BADFILEHEADER});

    WriteHostFile(home + "/data", std::string(5000, 'x'));
    Run("bzip2 -c data > plain && mv plain data && cp data keep.bz2 && gzip -nc keep.bz2 > gdata");
    const std::string archive = ReadHostFile(home + "/data");
    for (const auto mode : {omSkip, omOverwrite}) {
        EXPECT_EQ(Extract<TUnBZip>("data", "", false, [mode](TUnBZip& un) { un.OverwriteMode = mode; }), 0);
        EXPECT_EQ(codes, std::vector<int>{E_SAMEINOUTNAMES}) << mode;
        EXPECT_EQ(ReadHostFile(home + "/data"), archive);
    }
    // Also when the host names the archive as the output; a test run writes nothing and passes.
    EXPECT_EQ(Extract<TUnBZip>("keep.bz2", "", false,
                               [](TUnBZip& un) {
                                   un.OnGetOutFilename = [](TObject*, const std::string&, std::string& out) {
                                       out = "keep.bz2";
                                   };
                               }),
              0);
    EXPECT_EQ(codes, std::vector<int>{E_SAMEINOUTNAMES});
    EXPECT_EQ(Extract<TUnBZip>("data", "", true), 1);
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(Extract<TUnGZip>("gdata", ""), 0);
    EXPECT_EQ(codes, std::vector<int>{E_SAMEINOUTNAMES});
}

// A member with no place to go is reported, never passed over in silence: a file whose name is a
// folder's (made by the same run or found there), whether existing files are kept or replaced; a
// ZIP member whose name was lost, by the test as by the extraction.
TEST_F(ExtractResultsTest, AMemberWithNoPlaceToGoIsReportedNotPassedOver)
{
    WriteHostFile(home + "/src/sub/a.txt", "in the folder");
    WriteHostFile(home + "/src/subfile", "a file named as the folder");
    Run("cd src && tar cf ../t.tar sub/a.txt subfile --transform 's/^subfile$/sub/'");
    for (const TOverwriteMode mode : {omSkip, omOverwrite}) {
        SCOPED_TRACE(int(mode));
        const std::string out = mode == omSkip ? "kept" : "replaced";
        EXPECT_EQ(Extract<TUnTar>("t.tar", out, false, [mode](TUnTar& un) { un.OverwriteMode = mode; }), 1);
        EXPECT_EQ(codes, std::vector<int>{E_FILEISDIRECTORY});
        EXPECT_EQ(ReadHostFile(home + "/" + out + "/sub/a.txt"), "in the folder");
    }
    if (HaveTool("zip") && HaveTool("zipnote")) {
        Run("cd src && zip -q ../z.zip sub/a.txt subfile && printf '@ subfile\\n@=sub\\n' | zipnote -w ../z.zip");
        EXPECT_EQ(Extract<TUnZip>("z.zip", "zip"), 1);
        EXPECT_EQ(codes, std::vector<int>{E_FILEISDIRECTORY});

        std::string zip = ReadHostFile(home + "/z.zip");
        const std::size_t last = zip.rfind(std::string("PK\x01\x02", 4));
        ASSERT_NE(last, std::string::npos);
        zip[last + 28] = zip[last + 29] = '\0';  // the last central record's name length
        WriteHostFile(home + "/nameless.zip", zip);
        for (const bool test : {true, false}) {
            SCOPED_TRACE(test);
            EXPECT_EQ(Extract<TUnZip>("nameless.zip", "nameless", test), 1);
            EXPECT_EQ(codes, std::vector<int>{E_INVALIDFILENAME});
        }
    }
}

TEST_F(ExtractResultsTest, FolderTimesComeBackFromZipAndTarFolderEntries)
{
    WriteHostFile(home + "/src/top/mid/leaf/f.txt", "data");
    WriteHostFile(home + "/src/top/g.txt", "more");
    fs::create_directories(home + "/src/top/empty");
    std::int64_t t = 1500000000;
    for (const char* folder : {"src/top/mid/leaf", "src/top/mid", "src/top/empty", "src/top"})
        Run("touch -d @" + std::to_string(t += 1000) + " " + folder);
    Run("cd src && zip -qr ../f.zip top && tar cf ../f.tar top");
    Run("mkdir ref-zip && cd ref-zip && unzip -q ../f.zip");
    Run("mkdir ref-tar && cd ref-tar && tar xf ../f.tar");

    Extract<TUnZip>("f.zip", "out-zip");
    Extract<TUnTar>("f.tar", "out-tar");
    for (const char* folder : {"top/mid/leaf", "top/mid", "top/empty", "top"}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(MTimeOf(home + "/out-zip/" + folder), MTimeOf(home + "/ref-zip/" + folder));
        EXPECT_EQ(MTimeOf(home + "/out-tar/" + folder), MTimeOf(home + "/ref-tar/" + folder));
        EXPECT_EQ(MTimeOf(home + "/out-tar/" + folder), MTimeOf(home + "/src/" + folder));
    }
}

// Every path under Root but those in Skip, with what would show a write: kind, inode, content.
std::map<std::string, std::string> TreeOutside(const std::string& Root, const std::string& Skip)
{
    std::map<std::string, std::string> tree;
    for (auto it = fs::recursive_directory_iterator(Root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string path = it->path().string();
        // The list of folders that held temporary files is the program's state, not a file written.
        if (path == Skip || path == Root + "/state") {
            it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        lstat(path.c_str(), &st);
        std::string seen = std::to_string(st.st_mode) + ":" + std::to_string(st.st_ino);
        if (S_ISREG(st.st_mode))
            seen += ":" + ReadText(path);
        tree[path] = seen;
    }
    return tree;
}

TEST_F(ExtractResultsTest, NoArchiveNameWritesOutsideTheExtractionFolder)
{
    // What the real tools store as given: climbing, absolute, drive and share names, a link
    // entry with a file behind it, a hard link to a file outside, a name through a link to
    // outside that already stands in the extraction folder, and a path deeper than any host's.
    const std::string up = "../outside/secret";
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "d/";
    deep += "x";
    WriteHostFile(home + "/outside/secret", "secret");
    for (const char* name : {"e1", "e2", "e3", "e4", "e5", "e6", "e7", "e8", "e9"})
        WriteHostFile(home + "/src/" + name, "evil");
    WriteHostFile(home + "/src/good.txt", "good");
    fs::create_directories(home + "/src/sub");
    Run("cd src && ln -s ../outside sl && ln e5 h5");

    Run("cd src && zip -qy ../a.zip good.txt e1 e2 e3 e4 e5 sl e6 e7 e8");
    std::string notes = dir.Capture("cd " + ShellQuote(home) + " && zipnote a.zip");
    for (const auto& [from, to] : std::map<std::string, std::string>{{"e1", "../evil1"},
                                                                     {"e2", "/evil2"},
                                                                     {"e3", "a/../../evil3"},
                                                                     {"e4", "C:\\..\\evil4"},
                                                                     {"e5", "lnk/evil5"},
                                                                     {"e6", "sl/evil6"},
                                                                     {"e7", "..\\evil7"},
                                                                     {"e8", "//server/share/evil8"}}) {
        const std::size_t at = notes.find("@ " + from + "\n");
        ASSERT_NE(at, std::string::npos) << from;
        notes.insert(at + from.size() + 3, "@=" + to + "\n");
    }
    WriteHostFile(home + "/notes", notes);
    Run("zipnote -w a.zip < notes");

    Run("cd src && tar -P --transform='s|^e1$|../evil1|;s|^e2$|sl/evil2|;s|^e3$|" + root +
        "/evil3|;"
        "s|^e4$|lnk/evil4|;s|^e5$|" +
        up + "|;s|^e9$|" + deep + "|' -cf ../a.tar sl good.txt e1 e2 e3 e4 e5 h5 e9");
    Run("gzip -c a.tar > a.tgz");
    Run("cd src && lha aq ../a.lzh good.txt " + up + " " + ShellQuote(home + "/src/e1") + " >/dev/null");
    Run("cd src && gcab -c ../a.cab good.txt sub/../" + up);
    Run("cd src && uuencode good.txt ../" + up + " > ../a.uue && uuencode e1 .. > ../b.uue");
    // A gzip header name with folders, and single files named by their extension alone.
    std::string gz = dir.Capture("cd " + ShellQuote(home) + "/src && gzip -c good.txt");
    const std::size_t name = gz.find("good.txt");
    ASSERT_NE(name, std::string::npos);
    WriteHostFile(home + "/long.gz", std::string(gz).replace(name, 8, std::string(256, 'L')));
    WriteHostFile(home + "/named.gz", gz.replace(name, 8, up));
    Run("gzip -nc src/good.txt > .gz && bzip2 -c src/good.txt > .bz2");
    // A tree stored from inside: its first entry "./" is the extraction folder itself.
    WriteHostFile(home + "/dot/f.txt", "f");
    Run("cd dot && lha aq ../dot.lzh . && tar cf ../dot.tar .");
    TZipWalkEntry nameless;
    nameless.Data = {'l', 'o', 's', 't'};
    nameless.Crc = Crc32Of(nameless.Data);
    nameless.UncompressedSize = nameless.Data.size();
    std::vector<std::uint8_t> zip = OneEntryZip(nameless);
    WriteWholeFile(home + "/nameless.zip", zip);
    zip.resize(30 + nameless.Data.size());  // its local header and data alone
    WriteWholeFile(home + "/nameless-local.zip", zip);

    struct TCase {
        std::string archive;
        TArcType type;
        std::map<std::string, std::string> written;  // below the extraction folder
        std::size_t refused;                         // entries reported at the least
    };
    const std::map<std::string, std::string> good{{"good.txt", "good"}};
    for (const TCase& c : std::vector<TCase>{
             // The link entry is passed over: the file behind it lands in a folder of that name.
             {"a.zip",
              atZip,
              {{"good.txt", "good"}, {"evil2", "evil"}, {"server/share/evil8", "evil"}, {"sl/evil6", "evil"}},
              6},
             // The hard link's data is its member's, read from the archive, never the file it names.
             {"a.tar", atTar, {{"good.txt", "good"}, {"sl/evil2", "evil"}, {"h5", "evil"}}, 6},
             {"a.tgz", atGZip, {{"good.txt", "good"}, {"sl/evil2", "evil"}, {"h5", "evil"}}, 6},
             {"a.lzh", atLha, {{"good.txt", "good"}, {home.substr(1) + "/src/e1", "evil"}}, 1},
             {"a.cab", atCab, good, 1},
             {"a.uue", atUUE, {{"secret", "good"}}, 0},
             {"b.uue", atUUE, {}, 1},
             {"named.gz", atGZip, {{"secret", "good"}}, 0},
             {"long.gz", atGZip, {}, 1},  // a name longer than the host takes
             {".gz", atGZip, {}, 1},
             {"nameless.zip", atZip, {}, 1},
             {"nameless-local.zip", atZip, {}, 1},
             {".bz2", atBz2, {}, 1},
             {"dot.lzh", atLha, {{"f.txt", "f"}}, 0},
             {"dot.tar", atTar, {{"f.txt", "f"}}, 0}}) {
        SCOPED_TRACE(c.archive);
        const std::string out = home + "/out" + c.archive;
        fs::create_directories(out);
        fs::create_directory_symlink(home + "/outside", out + "/lnk");
        const auto before = TreeOutside(root, out);
        std::unique_ptr<TUnBase> un = NewExtractor(c.type);
        ASSERT_TRUE(un);
        Extract<TUnBase>(*un, c.archive, "out" + c.archive);
        EXPECT_EQ(TreeOutside(root, out), before);
        std::map<std::string, std::string> written;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.is_regular_file() && !e.is_symlink())
                written[fs::relative(e.path(), out).string()] = ReadHostFile(e.path().string());
        EXPECT_EQ(written, c.written);
        EXPECT_FALSE(fs::exists(out + "/d"));  // refused before a folder is made
        EXPECT_GE(codes.size(), c.refused);
        if (c.refused == 0) {
            EXPECT_TRUE(codes.empty()) << codes.front();
        }
        for (int code : codes)
            EXPECT_TRUE(code == E_INVALIDFILENAME || code == E_OVERWRITEATTRIB || code == E_SKIPPEDFILE ||
                        code == E_FILENOTFOUND || code == E_OPENFILE)
                << code;
    }
}

}  // namespace
