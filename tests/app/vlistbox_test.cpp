#include "app/lib/VListBox.h"

#include <gtest/gtest.h>

using namespace vcl;

namespace {

class TListForm : public TForm {
public:
    explicit TListForm(TComponent* owner) : TForm(owner)
    {
        SetClientWidth(300);
        SetClientHeight(200);
        before = new TEdit(this);
        before->SetParent(this);
        before->SetBounds(5, 5, 100, 21);
        list = new TVListBox(this);
        list->SetParent(this);
        list->SetBounds(5, 30, 120, 100);
        list->ItemHeight = 16;
        after = new TEdit(this);
        after->SetParent(this);
        after->SetBounds(5, 140, 100, 21);
        for (const char* t : {"a.zip", "b.zip", "c.zip"})
            list->Items.Add(t);
    }
    TEdit *before, *after;
    TVListBox* list;
};

}  // namespace

TEST(VListBox, FocusAndDisabledColours)
{
    TListForm form(nullptr);
    TVListBox& list = *form.list;
    list.Color = clWhite;
    form.Show();
    std::vector<TColor> seenOnEnter, seenOnExit;
    list.OnEnter = [&](TObject*) { seenOnEnter.push_back(list.Color); };
    list.OnExit = [&](TObject*) { seenOnExit.push_back(list.Color); };
    list.SetFocus();
    EXPECT_EQ(list.Color, 0x99FFFF);
    // Owner drawing sees the focus colour as the list's background.
    list.Style = lbOwnerDrawFixed;
    std::vector<TColor> brushes;
    list.OnDrawItem = [&](TWinControl*, int, const TRect& r, TOwnerDrawState state) {
        if (!(state & odSelected))
            brushes.push_back(list.Canvas.Brush.Color);
        list.Canvas.FillRect(r);
    };
    TBitmap shot = form.RenderToBitmap();
    EXPECT_EQ(brushes, (std::vector<TColor>{0x99FFFF, 0x99FFFF, 0x99FFFF}));
    EXPECT_EQ(shot.PixelAt(5 + 60, 30 + 2 + 16 + 8), 0x99FFFF);
    form.after->SetFocus();
    EXPECT_EQ(list.Color, clWhite);
    EXPECT_EQ(seenOnEnter, (std::vector<TColor>{0x99FFFF}));
    EXPECT_EQ(seenOnExit, (std::vector<TColor>{clWhite}));

    list.ColorOnFocusActive = false;
    list.SetFocus();
    EXPECT_EQ(list.Color, clWhite);
    EXPECT_EQ(seenOnEnter.size(), 2u);  // the events fire all the same
    form.Hide();

    list.SetVersion("2.0");
    EXPECT_EQ(list.Version(), "1.18");

    // Disabled at loading: the disabled colour, kept when the list is enabled later.
    TVListBox disabled(nullptr);
    disabled.SetEnabled(false);
    disabled.BeginLoading();
    disabled.EndLoading();
    EXPECT_EQ(disabled.Color, clBtnFace);
    disabled.SetEnabled(true);
    EXPECT_EQ(disabled.Color, clBtnFace);
}

TEST(VListBox, ArrowsAndEnterMoveTheFocusOnlyAtTheEndsWhenInLine)
{
    TListForm form(nullptr);
    TVListBox& list = *form.list;
    form.Show();
    list.SetFocus();
    list.SetItemIndex(1);

    // Default [keyEnter, keyDownUp]: Enter is Down and never leaves the list.
    form.PressKey(VK_RETURN);
    EXPECT_EQ(list.ItemIndex(), 2);
    form.PressKey(VK_RETURN);
    form.PressKey(VK_DOWN);
    EXPECT_EQ(list.ItemIndex(), 2);
    EXPECT_EQ(form.ActiveControl(), &list);

    list.KeyLikeTab = keyInLine | keyEnter | keyDownUp;
    form.PressKey(VK_DOWN, ssCtrl);  // Ctrl keeps the keys inside the list
    EXPECT_EQ(form.ActiveControl(), &list);
    form.PressKey(VK_RETURN);  // on the last item: on to the next control
    EXPECT_EQ(form.ActiveControl(), form.after);

    list.SetFocus();
    list.SetItemIndex(1);
    form.PressKey(VK_UP);  // inside the list
    EXPECT_EQ(list.ItemIndex(), 0);
    EXPECT_EQ(form.ActiveControl(), &list);
    form.PressKey(VK_UP, ssCtrl);
    EXPECT_EQ(form.ActiveControl(), &list);
    form.PressKey(VK_UP);  // on the first item: back to the previous control
    EXPECT_EQ(form.ActiveControl(), form.before);

    // Without keyEnter, Enter is not an arrow; without keyDownUp the arrows never leave.
    list.SetFocus();
    list.KeyLikeTab = keyInLine | keyDownUp;
    list.SetItemIndex(2);
    form.PressKey(VK_RETURN);
    EXPECT_EQ(form.ActiveControl(), &list);
    list.KeyLikeTab = keyInLine | keyEnter;
    form.PressKey(VK_DOWN);
    EXPECT_EQ(form.ActiveControl(), &list);

    // An empty list hands the focus on at once.
    list.KeyLikeTab = keyInLine | keyDownUp;
    list.Items.Clear();
    form.PressKey(VK_DOWN);
    EXPECT_EQ(form.ActiveControl(), form.after);
    form.Hide();
}
