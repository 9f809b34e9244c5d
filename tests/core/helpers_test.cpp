#include <gtest/gtest.h>

#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxRegister.h"
#include "platform/win/SysDates.h"
#include "platform/win/Time.h"
#include "tests/platform/win/FsTestSupport.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

namespace {

std::string Stamp(TDateTime value)
{
    return win::FormatDateTime("yyyy-mm-dd hh:nn:ss", value);
}

// Runs the body with the host zone set to TZ, the engine's zone record read again.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            saved = old;
        hadOld = std::getenv("TZ") != nullptr;
        setenv("TZ", tz, 1);
        tzset();
        ReloadTimeZoneInformation();
    }
    ~ZoneScope()
    {
        if (hadOld)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        ReloadTimeZoneInformation();
    }

private:
    std::string saved;
    bool hadOld = false;
};

}  // namespace

TEST(PathRules, BackslashesJoinsAndQuotes)
{
    EXPECT_EQ(AppendBackslash("C:"), "C:\\");
    EXPECT_EQ(AppendBackslash("C:\\"), "C:\\");
    EXPECT_EQ(AppendBackslash(""), "");
    EXPECT_EQ(AppendBackslash("C:\\Vimo\\\xC5\xA1"), "C:\\Vimo\\\xC5\xA1\\");
    EXPECT_EQ(RemoveBackslash("C:\\a\\"), "C:\\a");
    EXPECT_EQ(JoinPath("C:\\a\\", "\\b.txt"), "C:\\a\\b.txt");
    EXPECT_EQ(JoinPath("C:\\a", "b.txt"), "C:\\a\\b.txt");
    EXPECT_EQ(JoinPath("", "\\b.txt"), "\\b.txt");
    // Joined into a buffer that held a longer path: nothing of it stays.
    std::string joined = "C:\\a much longer folder\\and a longer name.txt";
    JoinPathInto(joined, "C:\\x", "\\\\y");
    EXPECT_EQ(joined, "C:\\x\\y");
    JoinPathInto(joined, "", "z");
    EXPECT_EQ(joined, "z");
    EXPECT_TRUE(IsUncPath("\\\\s"));
    EXPECT_FALSE(IsUncPath("\\\\"));
    EXPECT_EQ(QuoteIfSpaced("  C:\\my dir\\x "), "\"C:\\my dir\\x\"");
    EXPECT_EQ(QuoteIfSpaced("\"C:\\my dir\\x"), "\"C:\\my dir\\x\"");
    EXPECT_EQ(QuoteIfSpaced("C:\\dir"), "C:\\dir");
    EXPECT_EQ(TrimPathComponents("a. \\b..\\c"), "a\\b\\c\\");
}

TEST(PathRules, EntryNamesAreUtf8NotDoubleByte)
{
    // "ř" is C5 99 in UTF-8: as an 8-bit lead byte C5 would have swallowed the "/" after "Š" (C5 A0).
    EXPECT_EQ(NormalizeEntryPath(" dir/\xC5\xA0/\xC5\x99.txt\r\n"), "dir\\\xC5\xA0\\\xC5\x99.txt");
    EXPECT_EQ(NormalizeEntryPath(std::string("a\xFF"
                                             "b")),
              "a\\b");
    EXPECT_EQ(NormalizeEntryPath("\t \x01"), "");
    EXPECT_EQ(ToUnixSeparators("a\\b\\c"), "a/b/c");
    EXPECT_EQ(ToDosSeparators("a/b/c"), "a\\b\\c");
}

TEST(PathRules, SplittingAndTokens)
{
    std::string text = "key=value=x", head;
    SplitAtSeparator(text, "=", head);
    EXPECT_EQ(head, "key");
    EXPECT_EQ(text, "value=x");
    SplitAtSeparator(text, ";", head);
    EXPECT_EQ(head, "value=x");
    EXPECT_EQ(text, "");

    std::vector<std::string> list;
    SplitDelimited(" a ,;; b c;d", list);
    EXPECT_EQ(list, (std::vector<std::string>{"a", "b c", "d"}));
    list.clear();
    SplitQuotedList("\"C:\\a b\" \"x\" \"open", list);
    EXPECT_EQ(list, (std::vector<std::string>{"C:\\a b", "x"}));

    const std::string buffer = "first\r\nsecond";
    std::size_t pos = 0;
    std::string token;
    ReadTokenFromBuffer(buffer.data(), buffer.size(), pos, token);
    EXPECT_EQ(token, "first");
    EXPECT_EQ(pos, buffer.size());
    const std::string longText(300, 'x');
    pos = 0;
    ReadTokenFromBuffer(longText.data(), longText.size(), pos, token);
    EXPECT_EQ(token.size(), 255u);
    EXPECT_EQ(pos, 255u);
}

TEST(PathRules, FolderSpecMatching)
{
    std::string matched;
    EXPECT_TRUE(FolderMatchesSpec("\\data\\2024\\", "data\\20*", matched, false));
    EXPECT_EQ(matched, "data\\2024\\");
    EXPECT_FALSE(FolderMatchesSpec("data\\x", "data\\20*", matched, false));
    EXPECT_TRUE(FolderMatchesSpec("data\\x", "data\\20*", matched, true));
    EXPECT_EQ(matched, "data\\");
}

TEST(OemNames, RoundTripDecidesTheCodePage)
{
    // "Žluťoučký" fits CP852; the euro sign and Japanese text do not.
    const std::string czech = "\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD.txt";
    const std::string euro = "cena \xE2\x82\xAC.txt";
    EXPECT_TRUE(IsOemSafeName(czech));
    EXPECT_FALSE(IsOemSafeName(euro));
    EXPECT_EQ(VersionMadeByForName(czech, 0), 20);
    EXPECT_EQ(VersionMadeByForName(euro, 0), 0x0B14);
    EXPECT_EQ(VersionMadeByForName(euro, 2), 20);

    std::string out;
    AnsiToOemName(0, out, czech);
    EXPECT_EQ(out, "\xA6lu\x9Cou\x9F"
                   "k\xEC.txt");
    AnsiToOemName(0, out, euro);
    EXPECT_EQ(out, euro);  // stays UTF-8, never "?"
    AnsiToOemName(1, out, czech);
    EXPECT_EQ(out, czech);

    OemToAnsiName(atZip, 20, out,
                  "dir/\xA6lu\x9Cou\x9F"
                  "k\xEC.txt");
    EXPECT_EQ(out, "dir\\" + czech);
    OemToAnsiName(atZip, 0x0B14, out, "\x8Elu\x9Dou\xE8k\xFD.txt");  // CP1250 bytes
    EXPECT_EQ(out, czech);
    OemToAnsiName(atZip, 0x0B14, out, euro, true);
    EXPECT_EQ(out, euro);
    OemToAnsiName(atArj, 0x0B14, out, "\xA6");  // not a ZIP: always OEM
    EXPECT_EQ(out, "\xC5\xBD");
}

TEST(DosTime, FallbacksAndClampedFields)
{
    EXPECT_EQ(Stamp(DosDateTimeToDateTime(0)), "1980-01-01 00:01:00");
    // Month 13, time 00:00:00: the fallback date.
    EXPECT_EQ(Stamp(DosDateTimeToDateTime((1u << 25 | 13u << 21 | 5u << 16))), "1980-01-01 00:01:00");
    // Hour 31, minute 63, seconds 62: clamped, never raised.
    const std::uint32_t wild = (44u << 25) | (2u << 21) | (29u << 16) | (31u << 11) | (63u << 5) | 31u;
    EXPECT_EQ(Stamp(DosDateTimeToDateTime(wild)), "2024-02-29 23:59:58");
    const std::uint32_t good = (44u << 25) | (7u << 21) | (14u << 16) | (13u << 11) | (45u << 5) | 15u;
    EXPECT_EQ(Stamp(DosDateTimeToDateTime(good)), "2024-07-14 13:45:30");
    EXPECT_EQ(SwapWords(0x12345678), 0x56781234u);

    TDateTime date = 0;
    EXPECT_FALSE(CheckedEncodeDate(2023, 2, 29, date));
    EXPECT_TRUE(CheckedEncodeDate(2000, 2, 29, date));
    EXPECT_TRUE(IsLeapYearW(2000));
    EXPECT_FALSE(IsLeapYearW(1900));
    EXPECT_EQ(Stamp(IncMonthEx(win::EncodeDate(2024, 1, 31) + 0.5, 1)), "2024-02-29 12:00:00");
    EXPECT_EQ(Stamp(IncMonthEx(win::EncodeDate(2024, 3, 31), -13)), "2023-02-28 00:00:00");
}

TEST(UnixTime, EdgesInUtc)
{
    ZoneScope zone("UTC");
    EXPECT_EQ(Stamp(UnixToDateTime(0)), "1980-01-01 00:01:00");
    EXPECT_EQ(Stamp(UnixToDateTime(86400)), "1970-01-02 00:00:00");
    EXPECT_EQ(Stamp(UnixToDateTime(86401)), "1970-01-02 00:00:01");
    // Unsigned 32-bit fields past 2038, and 64-bit fields, read forward in time.
    EXPECT_EQ(Stamp(UnixToDateTime(0xFFFFFFFFll)), "2106-02-07 06:28:15");
    EXPECT_EQ(Stamp(UnixToDateTime(-86400)), "1969-12-31 00:00:00");
    EXPECT_EQ(DateTimeToUnix(win::EncodeDate(2106, 2, 7) + win::EncodeTime(6, 28, 15, 0)), 0xFFFFFFFFll);
    EXPECT_EQ(DateTimeToUnix(win::EncodeDate(1969, 12, 31)), -86400);
    EXPECT_FALSE(IsDaylightTime(win::EncodeDate(2024, 7, 1)));
}

TEST(UnixTime, ValueIsTheEncodedDateAndTimeOnBothSidesOfTheEpochs)
{
    // Before 1899-12-30 a time of day counts away from the epoch; years beyond 1 to 9999 have no
    // value. Checked against the date and time encoded as a person would.
    ZoneScope zone("UTC");
    const auto encoded = [](std::int64_t seconds) {
        std::int64_t days = seconds / 86400, rest = seconds % 86400;
        if (rest < 0) {
            rest += 86400;
            --days;
        }
        std::int64_t year = 0;
        unsigned month = 0, day = 0;
        win::CivilFromDays(days, year, month, day);
        TDateTime date = 0;
        if (year < 1 || year > 9999 || !win::TryEncodeDate(int(year), int(month), int(day), date))
            return UnixToDateTime(0);
        const int s = int(rest);
        return win::ComposeDateTime(date, win::EncodeTime(s / 3600, s / 60 % 60, s % 60, 0));
    };
    const std::int64_t edges[] = {-62135596800 - 1, -62135596800, -2209161600 - 1, -2209161600, -2209161600 + 43200,
                                  -1, 1, 1700000001, 253402300799, 253402300799 + 1};
    for (const std::int64_t s : edges)
        EXPECT_EQ(UnixToDateTime(s), encoded(s)) << s;
    for (std::int64_t s = -70000000000; s < 260000000000; s += 987654321 + s % 7)
        EXPECT_EQ(UnixToDateTime(s), encoded(s)) << s;
}

TEST(UnixTime, DaylightRulesOfTheZone)
{
    ZoneScope zone("Europe/Prague");
    const TDateTime july = win::EncodeDate(2024, 7, 1) + win::EncodeTime(12, 0, 0, 0);
    const TDateTime january = win::EncodeDate(2024, 1, 15) + win::EncodeTime(12, 0, 0, 0);
    EXPECT_TRUE(IsDaylightTime(july));
    EXPECT_FALSE(IsDaylightTime(january));
    EXPECT_EQ(DateTimeToUnix(july), 1719828000);     // 10:00 UTC
    EXPECT_EQ(DateTimeToUnix(january), 1705316400);  // 11:00 UTC
    EXPECT_EQ(Stamp(UnixToDateTime(1719828000)), "2024-07-01 12:00:00");
    EXPECT_EQ(Stamp(UtcToLocal(LocalToUtc(january))), "2024-01-15 12:00:00");
}

TEST(OctalFields, WidthsPaddingAndOverflow)
{
    char field[12];
    ASSERT_TRUE(IntToOctalField(420, 8, true, '0', field));
    EXPECT_EQ(std::string(field, 8), std::string("0000644\0", 8));
    ASSERT_TRUE(IntToOctalField(420, 8, false, ' ', field));
    EXPECT_EQ(std::string(field, 8), "    644 ");
    ASSERT_TRUE(IntToOctalField(0, 2, true, ' ', field));
    EXPECT_EQ(std::string(field, 2), std::string("0\0", 2));
    // 8 GiB needs 12 digits: a 12-byte field holds only 11, and the value must not lose its top.
    EXPECT_FALSE(IntToOctalField(8ull << 30, 12, true, '0', field));
    EXPECT_TRUE(IntToOctalField((8ull << 30) - 1, 12, true, '0', field));
    EXPECT_EQ(std::string(field, 11), "77777777777");

    EXPECT_EQ(OctalToInt("0000644 "), 420u);
    EXPECT_EQ(OctalToInt("   644"), 420u);
    EXPECT_EQ(OctalToInt(std::string("644\0"
                                     "777",
                                     7)),
              420u);                         // stops at NUL
    EXPECT_EQ(OctalToInt("644 777"), 420u);  // and at a blank after digits
    EXPECT_EQ(OctalToInt("6x4"), 52u);       // other characters skipped
    bool overflow = false;
    EXPECT_EQ(OctalToInt("1777777777777777777777", &overflow), UINT64_MAX);  // 2^64 - 1
    EXPECT_FALSE(overflow);
    EXPECT_EQ(OctalToInt("2000000000000000000000", &overflow), UINT64_MAX);  // 2^64
    EXPECT_TRUE(overflow);
}

TEST(Ratios, RoundingCapsAndHugeSizes)
{
    EXPECT_EQ(Percent32(1, 3), 33);
    EXPECT_EQ(Percent32(2, 3), 67);
    EXPECT_EQ(Percent32(5, 0), 0);
    EXPECT_EQ(Percent32(250, 100), 100);
    EXPECT_EQ(Percent32(-1, 3), 0);
    EXPECT_EQ(Percent32(1, 200), 0);  // 0.5 rounds to even
    EXPECT_EQ(Percent32(3, 200), 2);  // 1.5 rounds to even
    const std::int64_t huge = INT64_MAX / 2;
    EXPECT_EQ(Percent64(huge, INT64_MAX), 50);  // Part * 100 would overflow 64 bits
    EXPECT_EQ(Percent64(INT64_MAX, INT64_MAX), 100);
    EXPECT_EQ(RatioPercent64(1000, 250), 75);
    EXPECT_EQ(RatioPercent64(100, 150), 0);
    EXPECT_EQ(RatioPercent64(INT64_MAX, 0), 100);
    EXPECT_EQ(RatioPercentFloat(1000.0, 250.0), 75);
}

TEST(ArchiveTypes, SetsAndTexts)
{
    // Every set by its members, checked over every type, so that a type moved between rows of
    // the table fails even when the counts still match.
    using TTypes = std::set<TArcType>;
    const auto fromAceExcept = [](const TTypes& left) {
        TTypes all;
        for (int t = atAce; t <= atZoo; ++t)
            if (!left.count(TArcType(t)))
                all.insert(TArcType(t));
        return all;
    };
    const struct {
        const char* Name;
        bool (*Test)(TArcType);
        TTypes Members;
    } sets[] = {
        {"archive", IsArchiveType, fromAceExcept({})},
        {"ZIP or JAR", IsZipOrJarType, {atJar, atJarExe, atZip, atZipExe}},
        {"ZIP family", IsZipFamilyType, {atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV}},
        {"ZIP cipher", IsZipCipherType, {atBh, atBhExe, atJar, atJarExe, atZip, atZipExe, atZipDS, atZipMV}},
        {"encryptable", IsEncryptableType, {atBh, atJar, atZip, atZipMV}},
        {"writable",
         IsWritableType,
         {atBh, atBz2, atCab, atGZip, atJar, atLha, atLzh, atTar, atTarGz, atTarBz, atZip, atZipMV}},
        {"testable", IsTestableType, fromAceExcept({atHA, atMsGZ, atPak, atPakExe, atJarExe})},
        {"checkable", IsCheckableType,
         fromAceExcept({atCab, atCabExe, atTarGz, atTarBz, atHA, atMsGZ, atPak, atPakExe})},
    };
    for (const auto& set : sets)
        for (int t = 0; t < TEnumCount<TArcType>::value; ++t)
            EXPECT_EQ(set.Members.count(TArcType(t)) == 1, set.Test(TArcType(t))) << set.Name << " type " << t;

    EXPECT_EQ(CompressMethodName(8, 3), "DFLT-X");
    EXPECT_EQ(CompressMethodName(12, 0), "BZip2-N");
    EXPECT_EQ(EncryptionMethodName(emZip_V2), "ZipV2");
    EXPECT_EQ(EncryptionMethodName(emPkAes2_256), "PkAes2-256");
    EXPECT_EQ(EncryptionMethodName(emNone), "");
    EXPECT_EQ(EncryptionMethodName(emUnsupported), "Unsupported");
    EXPECT_EQ(EncryptionMethodName(77), "Unknown");
}

TEST(ArchiveTypes, VolumesExtensionsAndMagic)
{
    char letter = '?';
    int number = -1;
    NextVolumeName("C:\\x\\set.a05", atArj, letter, number);
    EXPECT_EQ(letter, 'a');
    EXPECT_EQ(number, 6);
    NextVolumeName("set.arj", atArj, letter, number);
    EXPECT_EQ(number, 1);
    NextVolumeName("set.jar", atJar, letter, number);
    EXPECT_EQ(number, 0);
    NextVolumeName("set.c00", atZip, letter, number);
    EXPECT_EQ(number, 0);
    EXPECT_THROW(NextVolumeName("set.a99999999999", atArj, letter, number), win::EConvertError);

    std::vector<std::string> extensions;
    LoadArchiveExtensions(extensions);
    ASSERT_FALSE(extensions.empty());
    EXPECT_EQ(extensions.front(), ".ace");
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), ".zip"), extensions.end());

    const std::uint8_t bz[10] = {'B', 'Z', 'h', '9', 0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
    EXPECT_TRUE(IsBZip2Header(bz));
    EXPECT_TRUE(IsCompressedStreamMagic(0x8B1F));
    EXPECT_FALSE(IsCompressedStreamMagic(0x8B1E));
    EXPECT_TRUE(IsHeaderStateEmpty(HeaderBit(htSfx)));
    EXPECT_FALSE(IsHeaderStateEmpty(HeaderBit(htLocal)));
    EXPECT_EQ(AttributeSetToWin(DefaultAttributes), 0x01u | 0x20 | 0x800 | 0x4000);
    EXPECT_EQ(FilterFileAttr(0xFFFF), 0x40BFu);
    EXPECT_EQ(ClampZipCmntBufSize(40000), 32767);
    EXPECT_EQ(ClampZipCmntBufSize(10), 2000);
}

class FolderHelpers : public FsTest {};

TEST_F(FolderHelpers, CreateTestAndDeleteTrees)
{
    EXPECT_THROW(ForceDirs(""), win::Exception);
    ASSERT_TRUE(ForceDirs("C:\\a\\b\\c\\"));
    EXPECT_TRUE(DirExists("C:\\a\\b\\c"));
    EXPECT_TRUE(IsDirTreeEmpty("C:\\a"));  // only empty subfolders
    WriteHostFile(home + "/a/b/.hidden/f", "x");
    EXPECT_TRUE(IsDirTreeEmpty("C:\\a"));  // dot folders are not looked into
    WriteHostFile(home + "/a/b/c/f.txt", "x");
    EXPECT_FALSE(IsDirTreeEmpty("C:\\a"));
    EXPECT_TRUE(IsFile("C:\\a\\b\\c\\f.txt"));
    EXPECT_FALSE(IsFile("C:\\a\\b"));
    EXPECT_TRUE(IsPlainFile("C:\\a\\b\\c\\f.txt"));
    EXPECT_TRUE(IsDirWritable("C:\\a"));
    EXPECT_TRUE(IsDirWritable("C:\\new\\deep"));
    EXPECT_FALSE(DirExists("C:\\new"));  // made to try, then removed

    // A link inside the tree to a folder outside it: the tree goes, the outside folder stays.
    WriteHostFile(home + "/outside/keep.txt", "keep");
    std::filesystem::create_directory_symlink(home + "/outside", home + "/a/b/link");
    std::filesystem::create_directory_symlink(home + "/a", home + "/a/b/loop");
    std::filesystem::permissions(home + "/a/b/c/f.txt", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_TRUE(DeleteDirTree("C:\\a"));
    EXPECT_FALSE(std::filesystem::exists(home + "/a"));
    EXPECT_EQ(ReadHostFile(home + "/outside/keep.txt"), "keep");
}

TEST_F(FolderHelpers, DeletingFilesTempNames)
{
    WriteHostFile(home + "/d/a.txt", "a");
    WriteHostFile(home + "/d/b.doc", "b");
    std::filesystem::create_directory(home + "/d/sub");
    EXPECT_FALSE(DeleteFileEx("C:\\d\\sub", doFinal));
    EXPECT_FALSE(DeleteFileEx("C:\\d\\none.txt", doFinal));
    EXPECT_TRUE(DeleteFilesInDir("C:\\d", "*.txt"));
    EXPECT_EQ(NamesIn(home + "/d"), (std::set<std::string>{"b.doc", "sub"}));
    EXPECT_TRUE(DeleteFileEx("C:\\d\\b.doc", doAllowUndo));
    EXPECT_FALSE(std::filesystem::exists(home + "/d/b.doc"));

    const std::string temp = MakeTempFileName("C:\\d");
    EXPECT_EQ(temp.rfind("C:\\d\\plx", 0), 0u) << temp;
    EXPECT_TRUE(IsFile(temp));
    EXPECT_TRUE(DeleteFilesInDir("C:\\missing", "*"));
    RemoveEmptyDirs("C:\\d\\sub");
    EXPECT_FALSE(std::filesystem::exists(home + "/d/sub"));
    EXPECT_TRUE(std::filesystem::exists(home + "/d"));  // still holds the temp file
}

TEST_F(FolderHelpers, DialogsAnswerCancelledUnlessConfirmed)
{
    // Without an application nobody can answer: cancelled, the values untouched.
    std::string value = "proposed", dir = "C:\\start";
    EXPECT_FALSE(InputQueryText("Caption", "Prompt", value));
    EXPECT_FALSE(BrowseForDir("Folder", dir));
    EXPECT_EQ(value, "proposed");
    EXPECT_EQ(dir, "C:\\start");

    // A dialog that edits and then cancels changes nothing either.
    InputQueryHook = [](const std::string& caption, const std::string& prompt, std::string& v) {
        EXPECT_EQ(caption + "|" + prompt + "|" + v, "Caption|Prompt|proposed");
        v = "typed";
        return false;
    };
    EXPECT_FALSE(InputQueryText("Caption", "Prompt", value));
    EXPECT_EQ(value, "proposed");
    InputQueryHook = [](const std::string&, const std::string&, std::string& v) { return v = "typed", true; };
    EXPECT_TRUE(InputQueryText("Caption", "Prompt", value));
    EXPECT_EQ(value, "typed");

    // The chosen folder becomes the current one; a folder that cannot is no choice.
    std::filesystem::create_directories(home + "/chosen");
    std::string answer = "C:\\chosen";
    BrowseForDirHook = [&](const std::string&, std::string& d) { return d = answer, true; };
    EXPECT_TRUE(BrowseForDir("Folder", dir));
    EXPECT_EQ(dir, "C:\\chosen");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(home + "/chosen"));
    answer = "C:\\missing";
    EXPECT_FALSE(BrowseForDir("Folder", dir));
    EXPECT_EQ(dir, "C:\\chosen");
    InputQueryHook = nullptr;
    BrowseForDirHook = nullptr;
}
