#include "core/ZipCommon.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/FsTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Report {
    std::string FileName, ExtendedMsg;
    int ECode;
};

class ZipCommonTest : public FsTest {
protected:
    void SetUp() override
    {
        FsTest::SetUp();
        zip.OnError = [this](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
            reports.push_back({f, x, code});
        };
    }
    void TearDown() override
    {
        ProcessMessagesHook = nullptr;
        FsTest::TearDown();
    }
    std::vector<int> Codes() const
    {
        std::vector<int> codes;
        for (const auto& r : reports)
            codes.push_back(r.ECode);
        return codes;
    }

    TZipCommon zip;
    std::vector<Report> reports;
};

TEST_F(ZipCommonTest, ErrorsAreReportedThenRaisedUntilCancelled)
{
    zip.DoError("a.txt", "more", 25136, "");
    EXPECT_EQ(Codes(), std::vector<int>{25136});
    EXPECT_EQ(reports[0].FileName, "a.txt");

    try {
        zip.RaiseError("b.txt", "", "", 25160);
        FAIL() << "nothing raised";
    } catch (const E_RAISE& e) {
        EXPECT_EQ(e.ECode, 25160);
        EXPECT_EQ(e.Message, "Disk full");
    }

    // Without OnError the report is silent, the raise is not.
    TZipCommon quiet;
    EXPECT_THROW(quiet.RaiseWriteError("x"), E_RAISE);

    // Cancelled: the cancel itself is reported, every number becomes 25443 but the permission
    // numbers, and RaiseError leaves its caller with the silent cancel only.
    reports.clear();
    zip.SetCancel(true);
    zip.DoError("c", "", 25136, "");
    zip.DoError("c", "", E_ACCESSPERMISSIONS, "");
    zip.DoError("c", "", E_REGISTRYPERMISSIONS, "");
    bool ranOn = false;
    try {
        zip.RaiseError("d", "", "", 25160);
        ranOn = true;
    } catch (const E_RAISE&) {
        FAIL() << "E_RAISE after cancel";
    } catch (const ECancel&) {
    }
    EXPECT_FALSE(ranOn);
    EXPECT_EQ(Codes(),
              (std::vector<int>{E_USERCANCEL, E_USERCANCEL, E_ACCESSPERMISSIONS, E_REGISTRYPERMISSIONS, E_USERCANCEL}));
}

TEST_F(ZipCommonTest, InnerComponentSharesTheOuterCancelFlag)
{
    TZipCommon inner;
    inner.CancelPtr = zip.CancelPtr;
    zip.SetCancel(true);
    EXPECT_TRUE(inner.GetCancel());
    EXPECT_THROW(inner.RaiseError("x", "", "", 25114), ECancel);
}

TEST_F(ZipCommonTest, MissingNextVolumeEventIsNamedBeforeTheCancel)
{
    WriteHostFile(root + "/set.zip", "PK");
    zip.SetArchiveFile(root + "/set.zip");
    std::unique_ptr<TStream32> stream;
    int volume = 0;
    zip.VolumeName.clear();
    EXPECT_FALSE(zip.DoNextVolume(stream, volume, 3));
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].ECode, E_REQUIREDEVENT);
    EXPECT_EQ(reports[0].ExtendedMsg, "OnNextVolume");
    EXPECT_EQ(reports[1].ECode, E_USERCANCEL);
    EXPECT_TRUE(zip.GetCancel());

    // Confirming a volume that is not there, with nobody to ask.
    reports.clear();
    zip.SetCancel(false);
    reports.clear();
    std::string name = root + "/missing.r00";
    EXPECT_FALSE(zip.ConfirmVolume(name, 1));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].ECode, E_REQUIREDEVENT);
    EXPECT_EQ(reports[0].ExtendedMsg, "OnNextVolume");

    reports.clear();
    EXPECT_FALSE(zip.ConfirmVolume(name, 1000));
    EXPECT_EQ(Codes(), std::vector<int>{25251});
}

TEST_F(ZipCommonTest, VolumePromptPumpsMessagesAndEndsOnCancel)
{
    int pumped = 0, asked = 0;
    ProcessMessagesHook = [&] { ++pumped; };
    zip.OnNextVolume = [&](TObject*, std::string&, int, bool exists, bool& cancel) {
        EXPECT_FALSE(exists);
        if (++asked == 3)
            cancel = true;
    };
    std::string name = root + "/absent.a05";
    EXPECT_FALSE(zip.ConfirmVolume(name, 5));
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(pumped, 2);
    EXPECT_TRUE(zip.GetCancel());
    EXPECT_EQ(Codes(), std::vector<int>{E_USERCANCEL});

    // A volume that turns up ends the prompt with success.
    zip.SetCancel(false);
    asked = 0;
    const int before = zip.VolumeCounter;
    zip.OnNextVolume = [&](TObject*, std::string& v, int, bool, bool&) {
        if (++asked == 2)
            WriteHostFile(root + "/later.a06", "x");
        v = root + "/later.a06";
    };
    name = root + "/later.a06";
    EXPECT_TRUE(zip.ConfirmVolume(name, 6));
    EXPECT_EQ(zip.VolumeCounter, before + 1);
}

TEST_F(ZipCommonTest, VolumeNames)
{
    zip.VolumeLetter = 'x';
    EXPECT_EQ(zip.GetVolumeName("C:\\d\\set.arj", 7), "C:\\d\\set.x07");
    EXPECT_EQ(zip.GetVolumeName("C:\\d\\set.arj", 42), "C:\\d\\set.x42");
    EXPECT_EQ(zip.GetVolumeName("C:\\d\\set.arj", 123), "C:\\d\\set.123");
    EXPECT_EQ(zip.GetVolumeName("", 1), "");
    EXPECT_EQ(zip.GetVolumeName("a.arj", -1), "");

    EXPECT_EQ(zip.NumberedSplitName("C:\\s\\big.zip", 3), "C:\\s\\big.z03");
    EXPECT_EQ(zip.NumberedSplitName("C:\\s\\big.zip", 100), "C:\\s\\big.z100");

    using Z = TZipCommon;
    EXPECT_EQ(Z::NumberedVolumeName("readme", 2, nvChangeExt, false), "readme2");
    EXPECT_EQ(Z::NumberedVolumeName("file.uue", 1, nvChangeExt, false), "file.uu1");
    EXPECT_EQ(Z::NumberedVolumeName("file.uue", 12, nvChangeExt, false), "file.u12");
    EXPECT_EQ(Z::NumberedVolumeName("file.uue", 123, nvChangeExt, false), "file.123");
    EXPECT_EQ(Z::NumberedVolumeName("longname.uue", 12, nvChangeFilename, false), "longna12.uue");
    EXPECT_EQ(Z::NumberedVolumeName("averylongname.uue", 3, nvChangeFilename, true), "averylo3.uue");
    // Only the file name changes, whatever dots the folders hold.
    EXPECT_EQ(Z::NumberedVolumeName("C:\\my.files\\readme", 2, nvChangeExt, false), "C:\\my.files\\readme2");
    EXPECT_EQ(Z::NumberedVolumeName("C:\\my.files\\readme", 12, nvChangeFilename, false), "C:\\my.files\\read12");
}

TEST_F(ZipCommonTest, FileSpecKeepsEveryEntryAndMatchingLeavesItAlone)
{
    std::vector<std::string> spec;
    for (int i = 0; i < 150; ++i)
        spec.push_back("dir\\file" + std::to_string(i) + ".txt");
    spec.push_back("readme");
    zip.SetFileSpec(spec);
    zip.SetExcludeSpec(std::vector<std::string>(120, "*.tmp"));
    ASSERT_EQ(zip.FileSpec().size(), 151u);
    EXPECT_EQ(zip.ExcludeSpec().size(), 120u);

    EXPECT_TRUE(zip.MatchesStoredName("dir/file140.txt", false));
    EXPECT_FALSE(zip.MatchesStoredName("dir/file150.txt", false));
    EXPECT_TRUE(zip.MatchesStoredName("readme.", false));  // dotless mask tried with a dot
    EXPECT_EQ(zip.FileSpec(), spec);

    int excluded = 0;
    zip.OnExcludeFile = [&](TObject*, const std::string&) { ++excluded; };
    zip.SetFileSpec({"*.*"});
    zip.SetExcludeSpec({"cache\\*.dat"});
    EXPECT_TRUE(zip.MatchesStoredName("keep.dat", true));
    EXPECT_FALSE(zip.MatchesStoredName("app\\cache\\x.dat", true));
    EXPECT_EQ(excluded, 1);
    EXPECT_FALSE(zip.MatchesStoredName("", true));

    // Without exclusions "*" and "*.*" take every name in every folder, dotless and folders too.
    for (const char* all : {"*", "*.*"}) {
        zip.SetFileSpec({all});
        zip.SetExcludeSpec({});
        for (const char* name : {"a\\b\\c.txt", "Makefile", "dir/", "x/.hidden"})
            EXPECT_TRUE(zip.MatchesStoredName(name, true)) << all << " " << name;
        EXPECT_FALSE(zip.MatchesStoredName("", true));
    }
}

TEST_F(ZipCommonTest, PasswordSwitchesEncryptionAndProgressIsBounded)
{
    zip.SetPassword("secret");
    EXPECT_EQ(zip.EncryptionMethod(), emZip_V2);
    zip.SetPassword("");
    EXPECT_EQ(zip.EncryptionMethod(), emNone);

    std::vector<std::pair<int, int>> seen;
    zip.OnProgress = [&](TObject*, std::uint8_t f, std::uint8_t a) { seen.push_back({f, a}); };
    zip.BytesToRead = 25;
    zip.DoProgress(10, 0, 100);
    zip.DoProgress(300, 200, 100);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(0, 75));
    EXPECT_EQ(seen[1].first, 100);

    // Rounded half up, and exact for sizes whose product with 100 leaves 64 bits.
    EXPECT_EQ(TZipCommon::Percent(1, 200), 1);
    EXPECT_EQ(TZipCommon::Percent(1, 201), 0);
    EXPECT_EQ(TZipCommon::Percent(2, 3), 67);
    EXPECT_EQ(TZipCommon::Percent(INT64_MAX - 1, INT64_MAX), 100);
    EXPECT_EQ(TZipCommon::Percent(INT64_MAX / 3, INT64_MAX), 33);
    // Either side of the size where the arithmetic widens, halves rounding up alike.
    constexpr std::int64_t kWide = std::int64_t(1) << 55;
    EXPECT_EQ(TZipCommon::Percent(kWide / 200, kWide - 1), 0);
    EXPECT_EQ(TZipCommon::Percent(kWide / 200 + 1, kWide - 1), 1);
    EXPECT_EQ(TZipCommon::Percent(kWide / 200, kWide), 0);
    EXPECT_EQ(TZipCommon::Percent(kWide / 200 + 1, kWide), 1);
}

TEST_F(ZipCommonTest, ExtractDirIsCreatedOrReported)
{
    zip.SetExtractDir(root + "/out/deep");
    EXPECT_TRUE(std::filesystem::is_directory(root + "/out/deep"));
    EXPECT_EQ(zip.ExtractDir().back(), '\\');
    EXPECT_TRUE(reports.empty());

    WriteHostFile(root + "/blocker", "x");
    zip.SetExtractDir(root + "/blocker/sub");
    EXPECT_EQ(Codes(), std::vector<int>{25150});
    EXPECT_EQ(reports[0].ExtendedMsg, "ExtractDir");
}

}  // namespace
