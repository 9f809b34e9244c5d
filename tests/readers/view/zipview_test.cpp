#include "readers/view/plxZipView.h"

#include "platform/vcl/Headless.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace vcl;
using vcl::THeaderSection;

namespace {

class TViewForm : public TForm {
public:
    explicit TViewForm(TComponent* owner) : TForm(owner)
    {
        SetClientWidth(600);
        SetClientHeight(200);
        view = new TZipView(this);
        view->SetParent(this);
        view->SetAlign(alClient);
    }
    TZipView* view;
};

std::vector<std::string> Column(const TZipView& view, int col)
{
    std::vector<std::string> out;
    for (int i = 0; i < view.Items.Count(); ++i)
        out.push_back(view.GetColumnText(i, col));
    return out;
}

// Clicks a section with the mouse, as the user would.
void ClickSection(TZipView& view, int index)
{
    THeaderSection* s = view.HeaderSection(index);
    view.Header()->MouseDown(mbLeft, 0, s->Left + 3, 5);
    view.Header()->MouseUp(mbLeft, 0, s->Left + 3, 5);
}

// The host's rule: the date column as dates, sizes, ratio and offset as numbers.
void SortLikeTheMainWindow(TZipView& view)
{
    view.OnHeaderClick = [&view](THeaderControl*, THeaderSection* s) {
        int c = s->Index;
        view.SortKind = c == zcDateTime                                                       ? skDateTime
                        : (c == zcPacked || c == zcUnpacked || c == zcRatio || c == zcOffset) ? skInteger
                                                                                              : skText;
        view.Sort();
    };
    view.OnSortCompare = [](TObject*, std::string& a, std::string& b, int col) {
        if (col == zcRatio) {
            a = a.substr(0, a.size() - 1);
            b = b.substr(0, b.size() - 1);
        }
    };
}

}  // namespace

TEST(ZipView, FieldsStayInTheirColumnsAndCellsOutsideAreEmpty)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    ASSERT_EQ(view.SectionCount(), int(zcColumnCount));
    EXPECT_EQ(view.HeaderSection(zcVolume)->Text, "Volume ID");
    EXPECT_EQ(view.HeaderSection(zcComment)->Text, "File Comment");

    view.Items.AddFields({"a;b.txt", "01.02.24  10:00", "5", "10", "50%"});
    view.Items.Add("plain.txt;;7");
    EXPECT_EQ(view.GetColumnText(0, zcName), "a;b.txt");
    EXPECT_EQ(view.GetColumnText(0, zcPacked), "5");
    EXPECT_EQ(view.GetColumnText(1, zcDateTime), "");  // two delimiters side by side
    EXPECT_EQ(view.GetColumnText(1, zcPacked), "7");
    EXPECT_EQ(view.Items[1], "plain.txt;;7");
    EXPECT_EQ(view.GetColumnText(0, zcComment), "");
    EXPECT_EQ(view.GetColumnText(0, view.SectionCount()), "");
    EXPECT_EQ(view.GetColumnText(2, 0), "");
    EXPECT_EQ(view.GetColumnText(-1, 0), "");
    EXPECT_EQ(view.GetColumnText(0, -1), "");
}

TEST(ZipView, HeaderClicksToggleTheDirectionAndOnlyFireWithRows)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    int fired = 0;
    view.OnHeaderClick = [&](THeaderControl*, THeaderSection*) { ++fired; };
    ClickSection(view, zcPacked);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(view.SortColumn, -1);

    view.Items.Add("x;;1");
    ClickSection(view, zcPacked);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(view.SortColumn, int(zcPacked));
    EXPECT_EQ(view.SortDirection, 0);
    ClickSection(view, zcPacked);
    EXPECT_EQ(view.SortDirection, 1);
    ClickSection(view, zcPacked);
    EXPECT_EQ(view.SortDirection, 0);
    ClickSection(view, zcPacked);
    ClickSection(view, zcName);
    EXPECT_EQ(view.SortColumn, int(zcName));
    EXPECT_EQ(view.SortDirection, 0);

    view.HeaderEnabled = false;
    ClickSection(view, zcPacked);
    EXPECT_EQ(view.SortColumn, int(zcName));
    view.HeaderEnabled = true;
    view.Clear();
    EXPECT_EQ(view.SortColumn, -1);
    EXPECT_EQ(fired, 5);
}

TEST(ZipView, SortsEachColumnKindBothWays)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    SortLikeTheMainWindow(view);
    //                 name       date                packed         unpacked       ratio
    view.Items.AddFields({"b.txt", "05.03.24  13:45", "5000000000", "4294967297", "9%"});
    view.Items.AddFields({"A.txt", "31.12.99  23:59", "4294967296", "100", "10%"});
    view.Items.AddFields({"c;d.txt", "05.03.24  08:00", "17", "9000000000", "100%"});
    view.Items.AddFields({"Čert", "01.01.80  00:00", "", "0", "0%"});

    ClickSection(view, zcPacked);  // beyond 32 bits; an empty size sorts first, nothing is lost
    EXPECT_EQ(Column(view, zcPacked), (std::vector<std::string>{"", "17", "4294967296", "5000000000"}));
    ClickSection(view, zcPacked);
    EXPECT_EQ(Column(view, zcPacked), (std::vector<std::string>{"5000000000", "4294967296", "17", ""}));
    ClickSection(view, zcUnpacked);
    EXPECT_EQ(Column(view, zcUnpacked), (std::vector<std::string>{"0", "100", "4294967297", "9000000000"}));
    ClickSection(view, zcRatio);  // "%" stripped by the host's compare hook, then numbers
    EXPECT_EQ(Column(view, zcRatio), (std::vector<std::string>{"0%", "9%", "10%", "100%"}));
    ClickSection(view, zcDateTime);  // two-digit years: 80 and 99 are of the last century
    EXPECT_EQ(Column(view, zcName), (std::vector<std::string>{"Čert", "A.txt", "c;d.txt", "b.txt"}));
    ClickSection(view, zcName);  // text without case
    EXPECT_EQ(Column(view, zcName), (std::vector<std::string>{"A.txt", "b.txt", "c;d.txt", "Čert"}));
    ClickSection(view, zcName);
    EXPECT_EQ(Column(view, zcName), (std::vector<std::string>{"Čert", "c;d.txt", "b.txt", "A.txt"}));
    // Rows move whole: the fields of a row stay together.
    EXPECT_EQ(view.Items.Fields(1),
              (std::vector<std::string>{"c;d.txt", "05.03.24  08:00", "17", "9000000000", "100%"}));

    view.OnHeaderClick = nullptr;
    view.SortColumn = zcMethod;
    view.SortDirection = 0;
    view.Items.Clear();
    for (const char* t : {"12:00:01;;;;;2,5", "9:30;;;;;-1", "23:59;;;;;10"})
        view.Items.Add(t);
    view.SortKind = skTime;
    view.SortColumn = zcName;
    view.Sort();
    EXPECT_EQ(Column(view, zcName), (std::vector<std::string>{"9:30", "12:00:01", "23:59"}));
    view.SortKind = skFloat;  // decimal comma of the settings
    view.SortColumn = zcMethod;
    view.Sort();
    EXPECT_EQ(Column(view, zcMethod), (std::vector<std::string>{"-1", "2,5", "10"}));
}

TEST(ZipView, SelectionDeletionAndTheRowUnderTheMouse)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    form.Show();
    for (const char* name : {"one", "two", "three", "four"})
        view.Items.AddFields({name, "", "1"});
    TplxListBox* list = view.ListBox();
    list->MouseDown(mbLeft, 0, 10, 2 + 16 * 1 + 4);
    list->MouseDown(mbLeft, ssCtrl, 10, 2 + 16 * 3 + 4);
    EXPECT_EQ(view.GetSelCount(), 2);
    EXPECT_TRUE(view.GetSelected(1));
    EXPECT_EQ(view.GetItemIndex(), 3);
    EXPECT_EQ(view.ItemAtPos({10, 2 + 16 * 2 + 1}), 2);
    EXPECT_EQ(view.ItemAtPos({10, 2 + 16 * 9}), -1);
    EXPECT_EQ(view.ColumnAtPos(0), int(zcName));
    EXPECT_EQ(view.ColumnAtPos(125), int(zcDateTime));
    EXPECT_EQ(view.ColumnAtPos(100000), -1);

    int clicks = 0;
    view.OnClick = [&](TObject* sender) {
        EXPECT_EQ(sender, &view);
        ++clicks;
    };
    list->MouseDown(mbLeft, 0, 10, 4);
    list->MouseUp(mbLeft, 0, 10, 4);
    EXPECT_EQ(clicks, 1);
    list->MouseDown(mbLeft, ssShift, 10, 2 + 16 * 2 + 4);  // one to three
    EXPECT_EQ(view.DeleteSelected(), 3);
    EXPECT_EQ(Column(view, zcName), (std::vector<std::string>{"four"}));
    form.Hide();
}

TEST(ZipView, RowsAreDrawnWithIconsSeparatorsAndTheSelectColour)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    view.BorderSingle = false;
    view.SetHeaderHeight(20);
    view.Items.AddFields({"data.zip", "01.02.24  10:00", "5"});
    view.Items.AddFields({"", "01.02.24  10:00", "0"});
    view.Items.AddFields({"notes.xyz", "01.02.24  10:00", "7"});
    view.SetSelected(2, true);
    EXPECT_EQ(view.GetIconIndex(0), FileTypeIconIndex("x.ZIP"));
    EXPECT_EQ(view.GetIconIndex(1), FileTypeIconIndex("folder\\"));
    EXPECT_NE(view.GetIconIndex(0), view.GetIconIndex(1));
    EXPECT_EQ(view.GetIconIndex(2), FileTypeIconIndex("unknown"));  // an unknown type: the plain icon
    EXPECT_EQ(view.GetIconIndex(-3), -3);

    TBitmap shot = form.RenderToBitmap();
    int rowTop = 20 + 2;                                             // header, then the list box's edge
    EXPECT_EQ(shot.PixelAt(300, rowTop + 2 * 16 + 8), 0x008000);     // selected row
    EXPECT_EQ(shot.PixelAt(300, rowTop + 8), ColorToRGB(clWindow));  // plain row
    EXPECT_EQ(shot.PixelAt(120 - 1, rowTop + 8), 0xC0C0C0);          // after the first column
    EXPECT_EQ(shot.PixelAt(3 + 8, rowTop + 16 + 8), clYellow);       // the folder icon
    bool nameDrawn = false, selectedWhite = false;
    for (const auto& t : shot.Texts()) {
        nameDrawn |= t.Text == "data.zip" && t.X >= 18;
        selectedWhite |= t.Text == "notes.xyz" && t.Color == clWhite;
    }
    EXPECT_TRUE(nameDrawn);
    EXPECT_TRUE(selectedWhite);
}

TEST(ZipView, ACutOffCellShowsItsWholeTextUnderTheMouse)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    std::string longName(60, 'n');
    view.Items.AddFields({"short", "x"});
    view.Items.AddFields({longName, "x"});
    TplxListBox* list = view.ListBox();
    list->MouseMove(0, 30, 2 + 4);
    EXPECT_EQ(view.LongEdit(), nullptr);
    list->MouseMove(0, 30, 2 + 16 + 4);
    ASSERT_NE(view.LongEdit(), nullptr);
    EXPECT_EQ(view.LongEdit()->Text(), longName);
    EXPECT_GT(view.LongEdit()->Width(), 120);
    list->MouseMove(0, 130, 2 + 16 + 4);  // the date column fits
    EXPECT_EQ(view.LongEdit(), nullptr);
}

TEST(ZipView, DroppedFoldersStandForTheirFilesThatMatchTheMask)
{
    TViewForm form(nullptr);
    TZipView& view = *form.view;
    TScratchDir scratch;
    const std::string dir = scratch.Path().string();
    std::filesystem::create_directories(dir + "/sub");
    WriteText(dir + "/a.txt", "abc");
    std::vector<std::string> got;
    std::vector<DWORD> sizes;
    int ends = 0;
    view.OnDroppedFilesStart = [](TObject*, std::string& mask) {
        EXPECT_EQ(mask, "*.*");
        mask = "*.txt";
    };
    view.OnDroppedFiles = [&](TObject*, TStringList* list) {
        for (int i = 0; i < list->Count(); ++i) {
            got.push_back((*list)[i]);
            sizes.push_back(static_cast<TFoundData*>(list->Objects(i))->FindData.nFileSizeLow);
        }
    };
    view.OnDroppedFilesEnd = [&](TObject*) { ++ends; };
    view.DropFiles({ZDrivePath(dir + "/a.txt"), ZDrivePath(dir + "/sub")});
    EXPECT_EQ(got, (std::vector<std::string>{ZDrivePath(dir + "/a.txt"), ZDrivePath(dir + "/sub") + "\\*.txt"}));
    EXPECT_EQ(sizes, (std::vector<DWORD>{3, 0}));
    EXPECT_EQ(ends, 1);

    got.clear();
    view.OnDroppedFilesStart = [](TObject*, std::string& mask) { mask.clear(); };  // empty: all files
    view.DropFiles({ZDrivePath(dir + "/sub")});
    EXPECT_EQ(got, (std::vector<std::string>{ZDrivePath(dir + "/sub") + "\\*.*"}));
    view.DropFiles({});
    EXPECT_EQ(got.size(), 1u);
    EXPECT_EQ(ends, 3);
}
