// The ZIP writer, judged by the archivers of other makers: archives made by TZip and `plxtool add`
// must test clean and extract to the sources' bytes and times; updates must leave old entries
// exactly as they were.
#include "writers/plxZip.h"

#include "core/Crc.h"
#include "core/Endian.h"
#include "core/ZipRecords.h"
#include "core/plxRegister.h"
#include "support/Reports.h"
#include "support/ToolRun.h"
#include "support/ZipWalk.h"
#include "tests/platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const std::string kTool = std::string(TORVO_BUILD_DIR) + "/tools/plxtool";
const std::string kCzech = "žluťoučký kůň.txt";
const std::string kCzechCp852 = "\xA7lu\x9Cou\x9Fk\xEC k\x85\xE5.txt";

// Exit status and everything the command printed.
std::pair<int, std::string> Shell(const std::string& command)
{
    int status = -1;
    std::string output = CaptureCommand(command + " 2>&1", &status);
    return {status, output};
}

class ZipWriter : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        for (const char* tool : {"unzip", "zipinfo", "7zz", "zip"})
            if (Shell(std::string("command -v ") + tool).first != 0)
                GTEST_SKIP() << tool << " is not installed";
        if (!std::filesystem::exists(kTool))
            GTEST_SKIP() << "plxtool not built";
        src = root + "/src";
        Put("a.txt", "hello\n");
        Put("zero.txt", "");
        Put("sub/rand.bin", RandomBytes(70000, 1));
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += std::to_string(i) + " line of text\n";
        Put("sub/seq.txt", text);
        Put("sub/" + kCzech, "ahoj\n");
        Put("sub/日本.txt", "nihon\n");
    }

    void Put(const std::string& name, const std::string& content, int minute = 20)
    {
        const std::string path = src + "/" + name;
        WriteHostFile(path, content);
        // DOS times keep even seconds; a local time that every archiver reads back the same.
        std::tm tm{};
        tm.tm_year = 121, tm.tm_mon = 4, tm.tm_mday = 4, tm.tm_hour = 10, tm.tm_min = minute, tm.tm_sec = 30;
        tm.tm_isdst = -1;
        const timespec when[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), when, 0), 0);
    }

    int Tool(const std::string& args, std::string* output = nullptr)
    {
        auto [rc, out] = Shell(ShellQuote(kTool) + " " + args);
        if (output)
            *output = out;
        return rc;
    }

    // Every file below `from` (the Czech name excepted when told) is in `to` with its bytes and time.
    void ExpectSameTree(const std::string& from, const std::string& to, bool czech = true)
    {
        int files = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(from)) {
            if (!e.is_regular_file() || (!czech && e.path().filename() == kCzech))
                continue;
            ++files;
            const auto rel = std::filesystem::relative(e.path(), from);
            const std::string copy = to + "/" + rel.string();
            ASSERT_TRUE(std::filesystem::exists(copy)) << rel;
            EXPECT_EQ(ReadHostFile(copy), ReadHostFile(e.path())) << rel;
            EXPECT_EQ(std::filesystem::last_write_time(copy), std::filesystem::last_write_time(e.path())) << rel;
        }
        EXPECT_GT(files, 0);
    }

    std::string src;
};

TEST_F(ZipWriter, EveryMethodWithAndWithoutPasswordReadsBackInOtherArchivers)
{
    struct TCase {
        const char* Method;
        const char* Level;
        bool UnzipReads;  // Info-ZIP knows stored, deflated and bzip2 members
    };
    const TCase cases[] = {{"store", "N", true},   {"deflate", "S", true}, {"deflate", "F", true},
                           {"deflate", "N", true}, {"deflate", "X", true}, {"bzip2", "N", true},
                           {"ppmd", "N", false}};
    for (const auto& c : cases) {
        for (const std::string password : {"", "tajné heslo"}) {
            SCOPED_TRACE(std::string(c.Method) + " " + c.Level + " password '" + password + "'");
            const std::string zip = root + "/out.zip";
            std::filesystem::remove(zip);
            std::string out;
            ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src) + " -r -m " + c.Method + " -l " + c.Level +
                               (password.empty() ? "" : " -p " + ShellQuote(password)),
                           &out),
                      0)
                << out;
            const std::string p7 = password.empty() ? "" : " -p" + ShellQuote(password);
            auto [rc7, t7] = Shell("7zz t" + p7 + " " + ShellQuote(zip));
            EXPECT_EQ(rc7, 0) << t7;
            if (c.UnzipReads) {
                auto [rcu, tu] =
                    Shell("unzip -t" + (password.empty() ? "" : " -P " + ShellQuote(password)) + " " + ShellQuote(zip));
                EXPECT_EQ(rcu, 0) << tu;
            }
            const std::string dest = root + "/x";
            std::filesystem::remove_all(dest);
            auto [rcx, tx] = Shell("7zz x -y" + p7 + " -o" + ShellQuote(dest) + " " + ShellQuote(zip));
            ASSERT_EQ(rcx, 0) << tx;
            ExpectSameTree(src, dest);

            auto [rci, info] = Shell("zipinfo -v " + ShellQuote(zip));
            ASSERT_EQ(rci, 0) << info;
            // Names: CP852 where every character fits, UTF-8 (flag bit 11, NTFS host) where not.
            EXPECT_NE(ReadHostFile(zip).find("sub/" + kCzechCp852), std::string::npos);
            EXPECT_NE(info.find("sub/日本.txt"), std::string::npos);
            EXPECT_NE(info.find("file system or operating system of origin:      NTFS"), std::string::npos);
            EXPECT_NE(info.find("apparent file type:                             text"), std::string::npos)
                << "internal attributes 1 on every entry";
            const bool stored = std::string(c.Method) == "store" || std::string(c.Level) == "S";
            if (std::string(c.Method) == "deflate" && !stored) {
                const char* subtype = *c.Level == 'X' ? "maximum" : *c.Level == 'F' ? "fast" : "normal";
                EXPECT_NE(info.find(std::string("compression sub-type (deflation):               ") + subtype),
                          std::string::npos);
            }
            // The empty file is stored with CRC 0 and never enciphered.
            const auto zero = info.find("zero.txt");
            ASSERT_NE(zero, std::string::npos);
            const std::string zeroPart = info.substr(zero, 1500);
            EXPECT_NE(zeroPart.find("compression method:                             none (stored)"),
                      std::string::npos);
            EXPECT_NE(zeroPart.find("file security status:                           not encrypted"),
                      std::string::npos);
            EXPECT_NE(zeroPart.find("32-bit CRC value (hex):                         00000000"), std::string::npos);
            if (!password.empty()) {
                EXPECT_NE(info.find("file security status:                           encrypted"), std::string::npos);
            }
        }
    }
}

TEST_F(ZipWriter, CommentsSurviveUpdatesAndAreEditedInPlace)
{
    const std::string zip = root + "/c.zip";
    std::string out;
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src) + " -r -c 'first archive comment'", &out), 0)
        << out;

    TZip z;
    TReports reports;
    reports.Bind(z);
    z.SetArchiveFile(ZDrivePath(zip));
    const int count = z.ReadComments();
    ASSERT_EQ(count, 6);
    std::string name;
    std::vector<std::uint8_t> comment;
    z.GetFileComment(0, name, comment);
    EXPECT_EQ(name, "a.txt");
    z.SetFileComment(0, std::vector<std::uint8_t>{'n', 'o', 't', 'e'});
    z.SetFileComment(1, std::vector<std::uint8_t>(70000, 'x'));  // longer than a ZIP comment can be
    EXPECT_TRUE(reports.Has(25122));
    EXPECT_TRUE(z.CommentsModified());
    ASSERT_TRUE(z.SaveComments(true));
    auto [rc, info] = Shell("zipinfo -v " + ShellQuote(zip));
    EXPECT_NE(info.find("first archive comment"), std::string::npos);
    EXPECT_NE(info.find("------------------------- file comment begins ----------------------------\nnote"),
              std::string::npos)
        << info;
    EXPECT_EQ(Shell("unzip -tq " + ShellQuote(zip)).first, 0);

    // Only the archive comment, shorter: the file ends right after it.
    ASSERT_EQ(z.ReadComments(), 6);
    z.MainComment.SetComment("short", 5);
    ASSERT_TRUE(z.SaveComments(true));
    const std::string bytes = ReadHostFile(zip);
    EXPECT_EQ(bytes.substr(bytes.size() - 7), std::string("\x05\x00short", 7));
    EXPECT_EQ(Shell("unzip -tq " + ShellQuote(zip)).first, 0);

    // Adding a file and refreshing a changed one keep both kinds of comment.
    Put("new.txt", "new file\n");
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src + "/new.txt"), &out), 0) << out;
    Put("a.txt", "changed and newer\n", 40);
    TZip fresh;
    reports.Bind(fresh);
    fresh.Switch = swRefresh;
    fresh.StoredDirNames = sdRelative;
    fresh.SetFileSpec({ZDrivePath(src) + "\\*"});
    fresh.SetArchiveFile(ZDrivePath(zip));
    EXPECT_EQ(fresh.Compress(), 1);
    std::tie(rc, info) = Shell("zipinfo -v " + ShellQuote(zip));
    EXPECT_NE(info.find("short"), std::string::npos);
    EXPECT_NE(info.find("file comment begins ----------------------------\nnote"), std::string::npos) << info;
    EXPECT_NE(info.find("new.txt"), std::string::npos);
    const std::string dest = root + "/x";
    ASSERT_EQ(Shell("7zz x -y -o" + ShellQuote(dest) + " " + ShellQuote(zip)).first, 0);
    ExpectSameTree(src, dest);

    // A comment past 65535 bytes is refused and the archive stays as it was.
    const std::string before = ReadHostFile(zip);
    ASSERT_EQ(z.ReadComments(), 7);
    const std::string huge(70000, 'c');
    z.MainComment.SetSize64(0);
    z.MainComment.Write(huge.data(), std::int32_t(huge.size()));
    EXPECT_FALSE(z.SaveComments(true));
    EXPECT_EQ(ReadHostFile(zip), before);
}

TEST_F(ZipWriter, DeletesWriteTheActualOffsetsAndLeaveABareEndRecordWhenEmpty)
{
    const std::string zip = root + "/d.zip";
    std::string out;
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src) + " -r -p pw", &out), 0) << out;
    ASSERT_EQ(Tool("delete " + ShellQuote(zip) + " a.txt sub/seq.txt", &out), 0) << out;
    auto [rc, listing] = Shell("unzip -t -P pw " + ShellQuote(zip));
    EXPECT_EQ(rc, 0) << listing;
    EXPECT_EQ(listing.find("a.txt"), std::string::npos);
    EXPECT_EQ(listing.find("seq.txt"), std::string::npos);
    EXPECT_NE(listing.find("rand.bin"), std::string::npos);
    EXPECT_EQ(Shell("7zz t -ppw " + ShellQuote(zip)).first, 0);
    EXPECT_NE(Tool("delete " + ShellQuote(zip) + " nothing-like-this", &out), 0);
    EXPECT_NE(out.find("plxtool:"), std::string::npos);

    ASSERT_EQ(Tool("delete " + ShellQuote(zip) + " '*'", &out), 0) << out;
    EXPECT_EQ(ReadHostFile(zip), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src + "/a.txt"), &out), 0) << out;
    EXPECT_EQ(Shell("unzip -tq " + ShellQuote(zip)).first, 0);
}

TEST_F(ZipWriter, From65535EntriesTheEndCarriesZip64RecordsThatOtherArchiversRead)
{
    const std::string many = root + "/many";
    for (int i = 0; i < 0xFFFF; ++i)
        WriteHostFile(many + "/d" + std::to_string(i / 1000) + "/f" + std::to_string(i), i % 3 ? "x" : "");
    const std::string zip = root + "/many.zip";
    std::string out;
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(many) + " -r", &out), 0) << out;
    const auto expectRead = [&](int entries) {
        const std::string bytes = ReadHostFile(zip);
        ASSERT_GT(bytes.size(), kLargeEndSize);
        const auto* tail = reinterpret_cast<const std::uint8_t*>(bytes.data() + bytes.size() - kLargeEndSize);
        EXPECT_EQ(GetLE32(tail), kSigZip64End);
        EXPECT_EQ(GetLE64(tail + 32), std::uint64_t(entries));
        EXPECT_EQ(GetLE32(tail + TZip64EndRecord::Size), kSigZip64Locator);
        EXPECT_EQ(GetLE64(tail + TZip64EndRecord::Size + 8), bytes.size() - kLargeEndSize);
        EXPECT_EQ(GetLE16(tail + kLargeEndSize - TEndRecord::Size + 10), std::min(entries, 0xFFFF));
        auto [rc, tested] = Shell("unzip -tq " + ShellQuote(zip));
        EXPECT_EQ(rc, 0) << tested;
        EXPECT_NE(Shell("7zz t " + ShellQuote(zip)).second.find("Files: " + std::to_string(entries)),
                  std::string::npos);
        EXPECT_EQ(Tool("test " + ShellQuote(zip), &out), 0);
        EXPECT_NE(out.find("tested " + std::to_string(entries) + ", passed " + std::to_string(entries)),
                  std::string::npos);
    };
    expectRead(0xFFFF);
    // An update whose list still counts 65535 keeps the Zip64 form with the true count.
    ASSERT_EQ(Tool("delete " + ShellQuote(zip) + " d0/f1", &out), 0) << out;
    expectRead(0xFFFE);
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src + "/a.txt"), &out), 0) << out;
    expectRead(0xFFFF);
}

TEST_F(ZipWriter, OldEntriesWithDescriptorsOrBehindAStubAreKeptIntact)
{
    // Members with data descriptors, written by Info-ZIP from a pipe.
    const std::string dd = root + "/dd.zip";
    auto [rc, out] = Shell("cd " + ShellQuote(src) + " && cat sub/seq.txt | zip -q " + ShellQuote(dd) +
                           " - && zip -q -fd " + ShellQuote(dd) + " a.txt");
    ASSERT_EQ(rc, 0) << out;
    ASSERT_EQ(Tool("add " + ShellQuote(dd) + " " + ShellQuote(src + "/sub/rand.bin"), &out), 0) << out;
    std::tie(rc, out) = Shell("unzip -t " + ShellQuote(dd));
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(Shell("7zz t " + ShellQuote(dd)).first, 0);
    EXPECT_EQ(Shell("unzip -p " + ShellQuote(dd) + " -").second, ReadHostFile(src + "/sub/seq.txt"));
    ASSERT_EQ(Tool("delete " + ShellQuote(dd) + " rand.bin", &out), 0) << out;
    EXPECT_EQ(Shell("unzip -p " + ShellQuote(dd) + " a.txt").second, "hello\n");

    // A self-extracting stub in front, offsets adjusted by Info-ZIP.
    const std::string stub = "MZ" + RandomBytes(3000, 5);
    const std::string plain = root + "/p.zip", sfx = root + "/s.exe";
    ASSERT_EQ(Shell("cd " + ShellQuote(src) + " && zip -q -r " + ShellQuote(plain) + " a.txt sub").first, 0);
    WriteHostFile(sfx, stub + ReadHostFile(plain));
    ASSERT_EQ(Shell("zip -q -A " + ShellQuote(sfx)).first, 0);
    ASSERT_EQ(Tool("add " + ShellQuote(sfx) + " " + ShellQuote(src + "/zero.txt"), &out), 0) << out;
    const std::string after = ReadHostFile(sfx);
    EXPECT_EQ(after.substr(0, stub.size()), stub);
    std::tie(rc, out) = Shell("unzip -t " + ShellQuote(sfx));
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("zero.txt"), std::string::npos);
    const std::string dest = root + "/x";
    ASSERT_EQ(Shell("unzip -q " + ShellQuote(sfx) + " -d " + ShellQuote(dest)).first, 1 - 1);
    EXPECT_EQ(ReadHostFile(dest + "/sub/seq.txt"), ReadHostFile(src + "/sub/seq.txt"));

    // Comment edits are refused for it, and leave it untouched.
    TZip z;
    TReports reports;
    reports.Bind(z);
    z.SetArchiveFile(ZDrivePath(sfx));
    ASSERT_GT(z.ReadComments(), 0);
    z.MainComment.SetComment("x", 1);
    EXPECT_FALSE(z.SaveComments(true));
    EXPECT_TRUE(reports.Has(25244));
    EXPECT_EQ(ReadHostFile(sfx), after);
}

TEST_F(ZipWriter, AFullMediumLeavesTheOldArchive)
{
    AddRemovableDrive('E', "media", 40000);

    TZip z;
    TReports reports;
    reports.Bind(z);
    z.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                         std::int64_t, int, int, bool& Replace) { Replace = true; };
    z.SetFileSpec({ZDrivePath(src) + "\\a.txt"});
    z.SetArchiveFile("E:\\small.zip");
    ASSERT_EQ(z.Compress(), 1);
    const std::string before = ReadHostFile(root + "/media/small.zip");

    z.SetFileSpec({ZDrivePath(src) + "\\sub\\rand.bin"});
    z.SetArchiveFile("E:\\small.zip");
    EXPECT_EQ(z.Compress(), 0);
    EXPECT_FALSE(reports.Codes.empty());
    EXPECT_EQ(ReadHostFile(root + "/media/small.zip"), before);
    EXPECT_EQ(NamesIn(root + "/media"), std::set<std::string>{"small.zip"});
}

// A file that changed but can no longer be read (here: gone between the scan and its turn) must
// not cost the archive the copy it already holds, whether the run adds or refreshes.
TEST_F(ZipWriter, AnUnreadableReplacementKeepsTheOldEntry)
{
    const std::string zip = root + "/k.zip";
    std::string out;
    ASSERT_EQ(Tool("add " + ShellQuote(zip) + " " + ShellQuote(src) + " -r", &out), 0) << out;
    const auto vanishOnBegin = [this, &zip](TZip& z, const std::string& victim) {
        z.OnBegin = [this, victim](TObject*, const std::string& name, int, bool&) {
            if (name == victim)  // the stored name
                std::filesystem::remove(src + "/" + victim);
        };
        z.OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                             std::int64_t, int, int, bool& Replace) { Replace = true; };
        z.StoredDirNames = sdRelative;
        z.SetFileSpec({ZDrivePath(src) + "\\*"});
        z.SetArchiveFile(ZDrivePath(zip));
    };

    for (const TSwitch mode : {swAdd, swRefresh}) {
        SCOPED_TRACE(mode == swAdd ? "add" : "refresh");
        Put("a.txt", "changed\n", mode == swAdd ? 40 : 50);
        Put("zero.txt", mode == swAdd ? "one" : "two", mode == swAdd ? 40 : 50);
        TZip z;
        TReports reports;
        reports.Bind(z);
        z.Switch = mode;
        vanishOnBegin(z, "a.txt");
        EXPECT_EQ(z.Compress(), 1);
        EXPECT_TRUE(reports.Has(25235));
        EXPECT_EQ(Shell("unzip -tq " + ShellQuote(zip)).first, 0);
        EXPECT_EQ(Shell("unzip -p " + ShellQuote(zip) + " a.txt").second, "hello\n");
        EXPECT_EQ(Shell("unzip -p " + ShellQuote(zip) + " zero.txt").second, mode == swAdd ? "one" : "two");
    }
}

TEST_F(ZipWriter, EncipheredHeadersAndNamesReadBackThroughOurReader)
{
    // Our own header cipher: no other archiver reads it, our directory reader does.
    TZip z;
    TReports reports;
    reports.Bind(z);
    z.EncryptHeaders = true;
    z.SetPassword("pw");
    z.StoredDirNames = sdRelative;
    z.SetFileSpec({ZDrivePath(src) + "\\*"});
    z.SetArchiveFile(ZDrivePath(root + "/h.zip"));
    ASSERT_EQ(z.Compress(), 6) << reports.Codes.size();
    const std::string bytes = ReadHostFile(root + "/h.zip");
    EXPECT_EQ(bytes.find("a.txt"), std::string::npos) << "names are enciphered";
    TZipEnding ending;
    const auto read = MemoryZipReader(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ASSERT_GE(FindZipEnding(read, std::int64_t(bytes.size()), ending), 0);
    std::set<std::string> names;
    WalkCentralDirectory(read, std::int64_t(bytes.size()), ending, [&](const TZipEntry& entry) {
        names.insert(entry.Name);
        TZipCipher cipher(kHeaderKeySet);
        TZipLocalEntry local;
        EXPECT_TRUE(ReadLocalEntry(read, std::int64_t(bytes.size()), std::int64_t(entry.Sizes.LocalOffset), cipher,
                                   local, entry.Header.VersionMadeBy));
        EXPECT_EQ(local.Name, entry.Name);
        return true;
    });
    EXPECT_EQ(names, (std::set<std::string>{"a.txt", "zero.txt", "sub\\rand.bin", "sub\\seq.txt", "sub\\" + kCzech,
                                            "sub\\日本.txt"}));
}

// `plxtool test` writes a line per member: a plain name as it is, a control character in caret form
// and a C1 control in hex, so that a hostile name cannot drive the terminal; the totals last.
TEST_F(ZipWriter, TestLinesShowPlainNamesAsTheyAreAndControlsEscaped)
{
    for (const auto& [name, shown] : std::vector<std::pair<std::string, std::string>>{
             {"plain name.txt", "plain name.txt"},
             {"bell\x07 esc\x1b[31m.txt", "bell^G esc^[[31m.txt"},
             {"csi\xC2\x9B" "2J \xC5\xBEluv.txt", "csi\\x9B2J \xC5\xBEluv.txt"}}) {
        SCOPED_TRACE(shown);
        TZipWalkEntry entry;
        entry.Name = name;
        entry.Flags = kFlagUtf8;
        const std::string text = "member\n";
        entry.Data.assign(text.begin(), text.end());
        entry.UncompressedSize = text.size();
        entry.Crc = Crc32Of(text.data(), std::int64_t(text.size()));
        const std::string zip = root + "/shown.zip";
        const auto bytes = OneEntryZip(entry);
        WriteHostFile(zip, std::string(bytes.begin(), bytes.end()));
        std::string out;
        EXPECT_EQ(Tool("test " + ShellQuote(zip) + " > " + ShellQuote(root + "/lines.txt"), &out), 0) << out;
        EXPECT_EQ(ReadHostFile(root + "/lines.txt"), "ok\t" + shown + "\ntested 1, passed 1, reports 0\n");
    }
}

}  // namespace
