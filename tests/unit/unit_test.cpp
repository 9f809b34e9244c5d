#include "platform/vcl/Forms.h"
#include "platform/win/Messages.h"
#include "unit/U_FileUtils.h"
#include "unit/U_OneInst.h"
#include "unit/U_String.h"
#include "unit/U_Win.h"
#include "unit/XFiles.h"

#include "platform/win/SysStrings.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

TEST(UString, ReplaceAndCut)
{
    std::string text = "a-b-c";
    ReplaceAll(text, "-", "--");  // holds the old text: each old occurrence once, and it ends
    EXPECT_EQ("a--b--c", text);
    ReplaceAll(text, "--", "--");
    EXPECT_EQ("a--b--c", text);
    ReplaceChar(text, "-");
    EXPECT_EQ("abc", text);
    ReplaceChar(text, "b", "‡");
    EXPECT_EQ("a‡c", text);

    std::string line = "{12}Zaloha dat";
    std::string part;
    EXPECT_TRUE(ExtractBetween(line, "{", "}", part));
    EXPECT_EQ("12", part);
    EXPECT_EQ("Zaloha dat", line);
    line = "x}y{z}";
    EXPECT_TRUE(ExtractBetween(line, "{", "}", part, 1, 1));  // a close before the open does not count
    EXPECT_EQ("{z}", part);
    EXPECT_EQ("x}y{z}", line);
    line = "a'b'c'";
    EXPECT_TRUE(ExtractBetween(line, "'", "'", part));
    EXPECT_EQ("b", part);
    EXPECT_EQ("ac'", line);
    EXPECT_FALSE(ExtractBetween(line, "(", ")", part));

    std::string tokens = "a;b;c";
    std::string head;
    CutToken(tokens, ";", head);
    EXPECT_EQ("a", head);
    EXPECT_EQ("b;c", tokens);
    tokens = "solo";
    CutToken(tokens, ";", head);
    EXPECT_EQ("solo", head);
    EXPECT_EQ("solo", tokens);

    EXPECT_EQ("<b>", CopyBetween("a<b>c>", "<", ">"));
    EXPECT_EQ("", CopyBetween("abc", "<", ">"));
    EXPECT_EQ("a<b>", CopyBetween("a<b>c", "", ">"));
    EXPECT_EQ("<b>c", CopyBetween("a<b>c", "<", ""));
}

TEST(UString, NumbersAndFlags)
{
    EXPECT_EQ(1234567, StrToIntSafe("1 234 567"));
    EXPECT_EQ(1234567, StrToIntSafe("1\u00A0234\u00A0567"));
    EXPECT_EQ(-42, StrToIntSafe(" -4 2"));
    EXPECT_EQ(0, StrToIntSafe("12a"));
    EXPECT_EQ(0, StrToIntSafe(""));
    EXPECT_THROW(StrToIntSafe("2 147 483 648"), win::EConvertError);
    EXPECT_THROW(StrToIntSafe("99999999999999999999999"), win::EConvertError);
    EXPECT_EQ(2147483647, StrToIntSafe("2147483647"));

    EXPECT_EQ("12", FormatNumber(12, 2));
    EXPECT_EQ("1\u00A0234,50", FormatNumber(1234.5, 0));
    EXPECT_EQ("1234,50", FormatNumber(1234.5, 3));

    EXPECT_TRUE(IsTrueFlag("true"));
    EXPECT_TRUE(IsTrueFlag("-"));
    EXPECT_FALSE(IsTrueFlag("yes"));
    EXPECT_FALSE(IsTrueFlag(""));
    EXPECT_EQ("007", PadLeft("7", 3, '0'));
    EXPECT_EQ("1234", PadLeft("1234", 3, '0'));
    EXPECT_EQ("ab", DeleteSpaces(" a\u00A0b "));
    EXPECT_EQ("a b", NbspToSpace("a\u00A0b"));
    EXPECT_EQ("ab\nc", RemoveLineBreaks("a\r\nb\nc"));
    EXPECT_EQ("x", CutAtTab("x\ty\tz"));
}

class Folder : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        fs::create_directories(dir + "/src");
        fs::create_directories(dir + "/dst");
    }
    std::size_t Entries(const std::string& folder)
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }
    TScratchDir scratch;
    const std::string dir = scratch.Path().string();
};

TEST_F(Folder, ReplaceFileViaTempKeepsTheOldFileOnFailure)
{
    WriteText(dir + "/src/data.dbf", "new contents");
    WriteText(dir + "/dst/data.dbf", "old contents");
    EXPECT_TRUE(ReplaceFileViaTemp(dir + "/src", dir + "/dst", "data.dbf"));
    EXPECT_EQ("new contents", ReadText(dir + "/dst/data.dbf"));
    EXPECT_EQ(1u, Entries(dir + "/dst"));  // no temporary left behind

    WriteText(dir + "/dst/data.dbf", "old contents");
    EXPECT_FALSE(ReplaceFileViaTemp(dir + "/src", dir + "/dst", "missing.dbf"));
    // A source that cannot be copied (here a folder) fails after the temporary file was made.
    fs::remove(dir + "/src/data.dbf");
    fs::create_directories(dir + "/src/data.dbf");
    EXPECT_FALSE(ReplaceFileViaTemp(dir + "/src", dir + "/dst", "data.dbf"));
    EXPECT_EQ("old contents", ReadText(dir + "/dst/data.dbf"));
    EXPECT_EQ(1u, Entries(dir + "/dst"));
}

TEST_F(Folder, EraseFileNeverDestroysAnExistingFile)
{
    WriteText(dir + "/dst/keep.txt", "precious");
    EXPECT_TRUE(EraseFile(dir + "/dst/keep.txt"));
    EXPECT_EQ("precious", ReadText(dir + "/dst/keep.txt"));
    EXPECT_TRUE(EraseFile(dir + "/dst/probe.tmp"));
    EXPECT_EQ(1u, Entries(dir + "/dst"));
    EXPECT_FALSE(EraseFile(dir + "/nowhere/probe.tmp"));
}

TEST_F(Folder, SizesListingsCopiesAndDeletes)
{
    WriteText(dir + "/src/a.zip", "12345");
    WriteText(dir + "/src/b.ZIP", "");
    WriteText(dir + "/src/.hidden.zip", "x");
    WriteText(dir + "/src/c.txt", "x");
    fs::create_directories(dir + "/src/sub.zip");
    EXPECT_EQ(5, FileSizeByName(dir + "/src/a.zip"));
    EXPECT_EQ(-1, FileSizeByName(dir + "/src/none"));
    EXPECT_EQ(-1, FileSizeByName(dir + "/src/sub.zip"));

    std::vector<std::string> names;
    EXPECT_TRUE(ListFilesByExt(dir + "/src", "zip", names));
    EXPECT_EQ(std::vector<std::string>({"a.zip", "b.ZIP"}), names);
    names.clear();
    EXPECT_TRUE(ListFiles(dir + "/src/*.zip", 0x12, names));
    EXPECT_EQ(4u, names.size());
    names.clear();
    EXPECT_TRUE(ListFiles(dir + "/src/*.none", 0, names));
    EXPECT_TRUE(names.empty());

    std::vector<std::string> messages;
    EXPECT_TRUE(CopyFileChecked(dir + "/src", dir + "/dst", "a.zip", "copy.zip",
                                [&](const std::string& m) { messages.push_back(m); }));
    EXPECT_EQ("12345", ReadText(dir + "/dst/copy.zip"));
    fs::permissions(dir + "/dst/copy.zip", fs::perms::all, fs::perm_options::remove);
    fs::permissions(dir + "/dst/copy.zip", fs::perms::owner_read, fs::perm_options::add);
    EXPECT_TRUE(DeleteFileForced(dir + "/dst/copy.zip"));
    EXPECT_FALSE(fs::exists(dir + "/dst/copy.zip"));
    EXPECT_TRUE(messages.empty());

    EXPECT_EQ("ab.txt", StripBadFileNameChars("a\"'/:;<>*?\\b.txt\r\n"));
    WriteText(dir + "/src/list.ini", "[One]\r\nx=1\r\n[SEZNAM]\r\n{1}A\x87"
                                     "a\r\n{2}B\x87"
                                     "b\r\n[Three]\r\n");
    std::vector<std::string> section;
    EXPECT_TRUE(ReadIniSection(dir + "/src/list.ini", "Seznam", section));
    EXPECT_EQ(std::vector<std::string>({"{1}A‡a", "{2}B‡b"}), section);
}

TEST_F(Folder, SingleInstanceGuardAndVersion)
{
    SetInstanceClassName("TFormUnitGuard");
    EXPECT_FALSE(OtherInstanceRunning());
    const HWND window =
        CreateWindowA("TFormUnitGuard", "guard", [](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    ASSERT_NE(0u, window);
    EXPECT_TRUE(OtherInstanceRunning());
    EXPECT_EXIT(CheckSingleInstance(), ::testing::ExitedWithCode(0), "");
    DestroyWindow(window);
    EXPECT_FALSE(OtherInstanceRunning());
    EXPECT_FALSE(IsDriveType('Q', 3) && IsDriveType('Q', 2));
    EXPECT_FALSE(XFileVersion1().empty());
}

}  // namespace

TEST(UWin, PlaceFormKeepsTheFormOnTheWorkArea)
{
    const vcl::TRect saved = vcl::Screen->WorkArea;
    vcl::Screen->WorkArea = vcl::Rect(0, 30, 1000, 730);  // a panel above
    EXPECT_EQ(730, WorkAreaBottom());
    vcl::TForm form(nullptr);
    form.BorderStyle = vcl::bsDialog;
    // 0, 0 centres; the frame comes around the content.
    int left = 0, top = 0;
    PlaceForm(left, top, form, true, 200, 100);
    EXPECT_EQ(200, form.ClientWidth());
    EXPECT_EQ(100, form.ClientHeight());
    EXPECT_EQ((1000 - form.Width()) / 2, left);
    EXPECT_EQ(30 + (700 - form.Height()) / 2, top);
    EXPECT_EQ(left, form.Left());
    // Negative places become 20, and the top stays below the panel.
    left = -5, top = -5;
    PlaceForm(left, top, form, false, 200, 100);
    EXPECT_EQ(20, left);
    EXPECT_EQ(30, top);
    // A form that would end below the work area goes up by its height.
    left = 100, top = 700;
    PlaceForm(left, top, form, false, 200, 100);
    EXPECT_EQ(600, top);
    // Too tall for the work area: its height less 100, room for a scroll bar.
    left = 10, top = 10;
    PlaceForm(left, top, form, false, 200, 900);
    EXPECT_EQ(600, form.Height());
    EXPECT_EQ(220, form.Width());
    EXPECT_EQ(30, top);
    SetTopMost(form);
    EXPECT_TRUE(form.FormStyleStayOnTop);
    vcl::Screen->WorkArea = saved;
}
