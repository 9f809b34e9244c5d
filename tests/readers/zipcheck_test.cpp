// The integrity test against each format's own tester: archives made by the real tools, good and
// damaged, give the same pass or fail per member (or per archive where the format has only one
// check) as unzip, 7zz, lhasa, gzip, bzip2, tar, uncompress and uudecode.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/Err_Msgs.h"
#include "core/plxCrypt.h"
#include "platform/win/FsTestSupport.h"
#include "readers/ExtractorFor.h"
#include "readers/plxZipCheck.h"
#include "support/Reports.h"
#include "support/ToolRun.h"

namespace fs = std::filesystem;

namespace {

// unzip -t's line for Name: "testing: <name>", blanks, then "OK".
bool UnzipSaysOk(const std::string& Said, const std::string& Name)
{
    const std::string head = "testing: " + Name + " ";
    for (std::size_t at = Said.find(head); at != std::string::npos; at = Said.find(head, at + 1)) {
        const std::size_t word = Said.find_first_not_of(' ', at + head.size());
        if (word != std::string::npos && Said.compare(word, 2, "OK") == 0)
            return true;
    }
    return false;
}

// Member names as the tools print them: "/" between folders, no leading "./".
std::string ToolName(std::string Name)
{
    std::replace(Name.begin(), Name.end(), '\\', '/');
    return Name.starts_with("./") ? Name.substr(2) : Name;
}

struct TCheckResult {
    std::map<std::string, bool> Status;  // by ToolName
    std::vector<int> Reports;
    int Count = 0;
    bool AllPassed() const
    {
        return Reports.empty() && !Status.empty() &&
               std::all_of(Status.begin(), Status.end(), [](const auto& s) { return s.second; });
    }
};

// How the format's tool judges an archive: per member, or the archive as a whole.
struct TFormat {
    std::string Label;
    std::string File;    // made in the scratch folder's "src" parent
    std::string Make;    // shell command run in src
    std::string Tester;  // shell command, %s for the archive
    enum { Whole, UnzipLines, LhasaLines } Judge = Whole;
    bool Text = false;  // damage by letters, so the text stays text
};

class ZipCheckTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        fs::create_directories(home + "/tmp");
        src = home + "/src";
        WriteHostFile(src + "/a.txt", "hello\n");
        std::string lines;
        for (int i = 1; i <= 30000; ++i)
            lines += std::to_string(i) + "\n";
        WriteHostFile(src + "/sub/b.txt", lines);
        WriteHostFile(src + "/c.bin", RandomBytes(40000, 7));
    }

    TCheckResult Check(const std::string& Archive, TZipCheck* Configured = nullptr)
    {
        TZipCheck local;
        TZipCheck& z = Configured ? *Configured : local;
        TCheckResult r;
        z.SetTempDir("C:\\tmp");
        z.OnStatus = [&r](TObject*, const std::string& name, bool pass) { r.Status[ToolName(name)] = pass; };
        z.OnError = CollectCodes(r.Reports);
        z.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
        z.SetArchiveFile(Archive);
        r.Count = z.Activate();
        return r;
    }

    // Judges Archive both ways and compares; Label names the case in failures.
    void Compare(const TFormat& f, const std::string& Archive, const std::string& Label)
    {
        int rc = 0;
        std::string command = f.Tester;
        command.replace(command.find("%s"), 2, ShellQuote(Archive));
        const std::string said = CaptureCommand(command + " 2>&1", &rc);
        const TCheckResult ours = Check(Archive);
        SCOPED_TRACE(Label + "\n" + said);
        EXPECT_EQ(rc == 0, ours.AllPassed()) << "reports " << ours.Reports.size();
        if (f.Judge == TFormat::Whole)
            return;
        for (const std::string name : {"a.txt", "sub/b.txt", "c.bin"}) {
            const bool toolPass = f.Judge == TFormat::UnzipLines ? UnzipSaysOk(said, name)
                                                                 : said.find(name + "\t- Tested") != std::string::npos;
            const auto it = ours.Status.find(name);
            const bool ourPass = it != ours.Status.end() && it->second;
            EXPECT_EQ(toolPass, ourPass) << name;
        }
    }

    // A copy of Archive with damage at its middle: four bytes changed, or the second half cut off.
    std::string Damaged(const std::string& Archive, bool Cut, bool Text)
    {
        std::vector<std::uint8_t> bytes = ReadWholeFile(Archive);
        std::size_t at = bytes.size() / 2;
        if (Cut) {
            bytes.resize(at);
        } else if (Text) {
            // Inside a data line, with letters of every alphabet: no checksum can see it.
            while (at < bytes.size() && bytes[at] != '\n')
                ++at;
            for (std::size_t i = at + 10; i < at + 14 && i < bytes.size(); ++i)
                bytes[i] = bytes[i] == 'A' ? 'B' : 'A';
        } else {
            for (std::size_t i = at; i < at + 4; ++i)
                bytes[i] ^= 0x55;
        }
        const std::string copy = home + (Cut ? "/cut-" : "/changed-") + fs::path(Archive).filename().string();
        WriteWholeFile(copy, bytes);
        return copy;
    }

    std::string src;
};

TEST_F(ZipCheckTest, EachFormatPassesAndFailsAsItsOwnTesterSays)
{
    const std::vector<TFormat> formats = {
        {"zip", "t.zip", "zip -qr ../t.zip .", "unzip -t %s", TFormat::UnzipLines},
        {"jar", "t.jar", "zip -qr ../t.jar .", "unzip -t %s", TFormat::UnzipLines},
        {"lha", "t.lzh", "lha aq ../t.lzh a.txt sub/b.txt c.bin", "lhasa t %s", TFormat::LhasaLines},
        {"tar", "t.tar", "tar cf ../t.tar .", "tar tf %s"},
        {"arj", "t.arj", "arj a -r ../t.arj a.txt sub/b.txt c.bin >/dev/null", "arj t %s >/dev/null"},
        {"cab", "t.cab", "gcab -cz ../t.cab a.txt sub/b.txt c.bin", "cabextract -t %s >/dev/null"},
        {"tgz", "t.tgz", "tar czf ../t.tgz .", "gzip -t %s"},
        {"tbz", "t.tbz", "tar cjf ../t.tbz .", "bzip2 -t %s"},
        {"gz", "b.gz", "gzip -c sub/b.txt > ../b.gz", "gzip -t %s"},
        {"bz2", "b.bz2", "bzip2 -c sub/b.txt > ../b.bz2", "bzip2 -t %s"},
        {"Z", "b.Z", "compress -c sub/b.txt > ../b.Z", "uncompress -c %s >/dev/null"},
        {"uue", "b.uue", "uuencode sub/b.txt b.txt > ../b.uue", "uudecode -o /dev/null %s", TFormat::Whole, true},
        {"b64", "c.b64", "uuencode -m c.bin c.bin > ../c.b64", "uudecode -o /dev/null %s", TFormat::Whole, true},
    };
    for (const TFormat& f : formats) {
        const std::string tool = f.Make.substr(0, f.Make.find(' '));
        const std::string tester = f.Tester.substr(0, f.Tester.find(' '));
        if (!HaveTool(tool) || !HaveTool(tester)) {
            ADD_FAILURE() << f.Label << ": " << tool << " or " << tester << " missing";
            continue;
        }
        ASSERT_EQ(std::system(("cd " + ShellQuote(src) + " && " + f.Make).c_str()), 0) << f.Label;
        const std::string archive = home + "/" + f.File;
        const TCheckResult good = Check(archive);
        EXPECT_TRUE(good.AllPassed()) << f.Label;
        EXPECT_GE(good.Status.size(), 1u) << f.Label;
        Compare(f, archive, f.Label + " good");
        Compare(f, Damaged(archive, false, f.Text), f.Label + " changed");
        if (f.Text && f.Label == "uue") {
            // uudecode reads any character as some value of its alphabet; here a character
            // outside the alphabet is reported and the file fails rather than passing with its
            // bytes in doubt.
            const TCheckResult stray = Check(Damaged(archive, false, false));
            EXPECT_FALSE(stray.AllPassed());
            EXPECT_NE(std::find(stray.Reports.begin(), stray.Reports.end(), E_SKIPPEDILLEGALCHAR), stray.Reports.end());
        } else if (f.Text) {
            Compare(f, Damaged(archive, false, false), f.Label + " stray characters");
        }
        Compare(f, Damaged(archive, true, f.Text), f.Label + " cut");
    }
}

TEST_F(ZipCheckTest, SplitSetIsTestedAcrossItsVolumes)
{
    if (!HaveTool("zip") || !HaveTool("7zz"))
        GTEST_SKIP() << "zip or 7zz missing";
    WriteHostFile(src + "/r.bin", RandomBytes(300000, 3));
    ASSERT_EQ(std::system(("cd " + ShellQuote(src) + " && zip -q -s 100k ../sp.zip r.bin sub/b.txt").c_str()), 0);
    const std::string archive = home + "/sp.zip";
    ASSERT_TRUE(fs::exists(home + "/sp.z02"));
    const TCheckResult good = Check(archive);
    EXPECT_TRUE(good.AllPassed());
    EXPECT_EQ(good.Status.size(), 2u);

    std::vector<std::uint8_t> volume = ReadWholeFile(home + "/sp.z01");
    volume[volume.size() / 2] ^= 0x55;
    WriteWholeFile(home + "/sp.z01", volume);
    int rc = 0;
    const std::string said = CaptureCommand("7zz t " + ShellQuote(archive) + " 2>&1", &rc);
    ASSERT_NE(rc, 0) << said;
    const TCheckResult bad = Check(archive);
    EXPECT_FALSE(bad.Status.at("r.bin")) << said;
    EXPECT_TRUE(bad.Status.at("sub/b.txt")) << said;
    EXPECT_NE(said.find("r.bin"), std::string::npos);
}

TEST_F(ZipCheckTest, MembersWithoutAFittingPasswordFailAndCustomSeedsAreUsed)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    ASSERT_EQ(std::system(("cd " + ShellQuote(src) + " && zip -q -P secret ../p.zip a.txt c.bin").c_str()), 0);
    TZipCheck z;
    z.SetPassword("wrong");
    z.PasswordAttempts = 1;
    z.OnGetPassword = [](TObject*, const std::string&, std::string&, TSeedKeyRecord&, TSeedKeyRecord&, bool& tryAgain) {
        tryAgain = false;
    };
    const TCheckResult wrong = Check(home + "/p.zip", &z);
    EXPECT_EQ(wrong.Status.size(), 2u);
    EXPECT_FALSE(wrong.Status.at("a.txt"));
    EXPECT_FALSE(wrong.Status.at("c.bin"));

    // The process-wide seeds the host set stay in effect for the temporary extractor (the
    // archive was enciphered from the standard seeds, so other seeds must fail it).
    struct DefaultsAfter {
        ~DefaultsAfter() { TSeedKeys(kDataKeySet).Reset(); }
    } defaultsAfter;
    TZipCheck custom;
    custom.SeedDataKeys.SetKeys(1, 2, 3);
    custom.SetPassword("secret");
    custom.OnGetPassword = z.OnGetPassword;
    const TCheckResult seeded = Check(home + "/p.zip", &custom);
    EXPECT_FALSE(seeded.Status.empty() || seeded.Status.at("a.txt"));
    EXPECT_EQ(SeedKeysOf(kDataKeySet), (TKeyTriple{1, 2, 3}));
    TSeedKeys(kDataKeySet).Reset();
    TZipCheck standard;
    standard.SetPassword("secret");
    EXPECT_TRUE(Check(home + "/p.zip", &standard).AllPassed());
}

TEST_F(ZipCheckTest, ATarInsideGzipIsTestedMemberByMember)
{
    if (!HaveTool("tar"))
        GTEST_SKIP() << "tar missing";
    ASSERT_EQ(std::system(("cd " + ShellQuote(src) + " && tar czf ../t.tgz a.txt sub/b.txt").c_str()), 0);
    TZipCheck z;
    std::vector<TArcType> changed;
    z.OnChangeArchive = [&changed](TObject*, const std::string&, TArcType type) { changed.push_back(type); };
    const TCheckResult r = Check(home + "/t.tgz", &z);
    EXPECT_TRUE(r.AllPassed());
    EXPECT_EQ(r.Status.size(), 2u);
    EXPECT_TRUE(r.Status.count("sub/b.txt"));
    EXPECT_EQ(changed, std::vector<TArcType>{atTar});
}

TEST_F(ZipCheckTest, WhatCannotBeTestedIsReportedAndTestsNothing)
{
    // A type without an extractor (HA archives are listed, never extracted), a missing archive,
    // and no OnStatus.
    WriteHostFile(home + "/x.ha", "HA" + std::string(200, 'x'));
    ASSERT_EQ(NewExtractor(atHA), nullptr);
    TZipCheck z;
    const TCheckResult r = Check(home + "/x.ha", &z);
    EXPECT_EQ(r.Reports, std::vector<int>{E_UNSUPPORTEDARCTYPE});
    EXPECT_EQ(r.Count, 0);
    TZipCheck missing;
    EXPECT_EQ(Check(home + "/none.zip", &missing).Reports, std::vector<int>{E_FILENOTFOUND});

    WriteHostFile(src + "/../one.gz", "");
    std::vector<int> codes;
    TZipCheck silent;
    silent.OnError = [&codes](TObject*, const std::string&, const std::string& extended, const std::string&, int code) {
        codes.push_back(code);
        EXPECT_EQ(extended, "OnStatus");
    };
    silent.SetArchiveFile(home + "/one.gz");
    EXPECT_EQ(silent.Activate(), 0);
    EXPECT_EQ(codes, std::vector<int>{E_REQUIREDEVENT});
}

}  // namespace

// The GUI binds its per-member handler through a TZipCommon&: it must be the one the check fires,
// with the same result OnStatus gets.
TEST_F(ZipCheckTest, EndHandlerBoundThroughTheBaseFiresWithTheResult)
{
    ASSERT_EQ(std::system(("cd " + ShellQuote(src) + " && zip -qr ../t.zip .").c_str()), 0);
    const std::string archive = home + "/t.zip";
    for (const bool damaged : {false, true}) {
        TZipCheck check;
        std::map<std::string, bool> ended;
        TZipCommon& base = check;
        base.OnEnd = [&](TObject* sender, const std::string& name, bool pass) {
            EXPECT_EQ(sender, &check);
            ended[ToolName(name)] = pass;
        };
        const TCheckResult r = Check(damaged ? Damaged(archive, false, false) : archive, &check);
        EXPECT_EQ(ended, r.Status) << damaged;
        if (!damaged) {
            EXPECT_TRUE(r.AllPassed() && ended.size() == 3u);
        }
    }
}
