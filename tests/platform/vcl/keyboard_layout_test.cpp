// Keyboard routes, anchors, placement and clipped text as the headless widget set shows them.
#include "platform/vcl/DemoForm.h"
#include "platform/vcl/Headless.h"

#include <gtest/gtest.h>

using namespace vcl;
using demo::TDemoForm;

namespace {
void UseHeadless()
{
    THeadlessWidgetSet* set = HeadlessWidgetSet();
    set->SetResponder(nullptr);
    set->SetAnswers({});
}
}  // namespace

TEST(VclKeyboard, TabOrderAcceleratorsAndDefaultAndCancelButtons)
{
    UseHeadless();
    TDemoForm form(nullptr);
    form.label->FocusControl = form.edit;
    form.check->Caption = "&Check";
    int okClicks = 0, cancelClicks = 0, speedClicks = 0;
    form.ok->OnClick = [&](TObject*) { ++okClicks; };
    form.cancel->OnClick = [&](TObject*) { ++cancelClicks; };
    form.speed->Caption = "&Run";
    form.speed->OnClick = [&](TObject*) { ++speedClicks; };
    form.Show();

    // Tab follows TabOrder, not creation order, and skips what cannot take the focus.
    form.ok->TabOrder = -2;
    form.cancel->TabOrder = -1;
    form.combo->Hide();
    form.ok->SetFocus();
    form.PressKey(VK_TAB);
    EXPECT_EQ(form.ActiveControl(), form.cancel);
    form.PressKey(VK_TAB, ssShift);
    EXPECT_EQ(form.ActiveControl(), form.ok);
    for (int i = 0; i < 20; ++i) {
        form.PressKey(VK_TAB);
        EXPECT_NE(form.ActiveControl(), form.combo);
    }

    // Alt+letter: a label hands the focus to its control, a check box toggles, a speed button
    // clicks; a letter nobody has does nothing.
    form.ok->SetFocus();
    form.PressKey('N', ssAlt);
    EXPECT_EQ(form.ActiveControl(), form.edit);
    form.PressKey('C', ssAlt);
    EXPECT_TRUE(form.check->Checked());
    EXPECT_EQ(form.ActiveControl(), form.check);
    form.PressKey('R', ssAlt);
    EXPECT_EQ(speedClicks, 1);
    form.PressKey('Q', ssAlt);
    EXPECT_EQ(form.ActiveControl(), form.check);
    form.check->SetEnabled(false);
    form.PressKey('C', ssAlt);  // disabled: no toggle
    EXPECT_TRUE(form.check->Checked());

    // Enter clicks the default button from an edit, Esc the cancel button; a focused button
    // answers Enter itself.
    form.edit->SetFocus();
    form.PressKey(VK_RETURN);
    EXPECT_EQ(okClicks, 1);
    form.PressKey(VK_ESCAPE);
    EXPECT_EQ(cancelClicks, 1);
    form.cancel->SetFocus();
    form.PressKey(VK_RETURN);
    EXPECT_EQ(cancelClicks, 2);
    EXPECT_EQ(okClicks, 1);
    form.ok->SetEnabled(false);  // a disabled default button is no default
    form.edit->SetFocus();
    form.PressKey(VK_RETURN);
    EXPECT_EQ(okClicks, 1);
    form.Hide();
}

TEST(VclLayout, AnchoredControlsFollowTheEdgesTheyAreAnchoredTo)
{
    UseHeadless();
    TForm form(nullptr);
    form.SetClientWidth(300);
    form.SetClientHeight(200);
    auto make = [&](TAnchors anchors) {
        auto* c = new TPanel(&form);
        c->SetParent(&form);
        c->SetBounds(100, 50, 40, 20);
        c->Anchors = anchors;
        return c;
    };
    TPanel* fixed = make(akLeft | akTop);
    TPanel* stretched = make(akLeft | akTop | akRight | akBottom);
    TPanel* corner = make(akRight | akBottom);
    TPanel* floating = make(0);
    form.EnsureCreated();  // anchors act once the design is loaded
    form.SetClientWidth(400);
    form.SetClientHeight(260);
    EXPECT_EQ(fixed->BoundsRect(), Bounds(100, 50, 40, 20));
    EXPECT_EQ(stretched->BoundsRect(), Bounds(100, 50, 140, 80));
    EXPECT_EQ(corner->BoundsRect(), Bounds(200, 110, 40, 20));
    EXPECT_EQ(floating->BoundsRect(), Bounds(150, 80, 40, 20));
    form.SetClientWidth(300);
    form.SetClientHeight(200);
    EXPECT_EQ(stretched->BoundsRect(), Bounds(100, 50, 40, 20));
    EXPECT_EQ(corner->BoundsRect(), Bounds(100, 50, 40, 20));
}

TEST(VclForms, PositionPlacesFormsOnTheScreenOrOverTheirOwner)
{
    UseHeadless();
    const int savedWidth = Screen->Width, savedHeight = Screen->Height;
    Screen->Width = 1000, Screen->Height = 800;
    TForm owner(nullptr);
    owner.SetBounds(500, 400, 400, 300);
    owner.Show();
    TForm dialog(&owner);
    dialog.SetBounds(0, 0, 200, 100);
    dialog.Position = poOwnerFormCenter;
    dialog.Show();
    dialog.PlaceByPosition();
    EXPECT_EQ(dialog.BoundsRect(), Bounds(600, 500, 200, 100));
    dialog.Hide();
    dialog.Position = poScreenCenter;
    dialog.Show();
    dialog.PlaceByPosition();
    EXPECT_EQ(dialog.BoundsRect(), Bounds(400, 350, 200, 100));
    dialog.Hide();
    // Centred over an owner near the screen's edge, the form stays on the screen.
    owner.SetBounds(900, 750, 400, 300);
    dialog.Position = poOwnerFormCenter;
    dialog.Show();
    dialog.PlaceByPosition();
    EXPECT_EQ(dialog.BoundsRect(), Bounds(800, 700, 200, 100));
    dialog.Hide();
    dialog.Position = poDesigned;
    dialog.SetBounds(5, 6, 200, 100);
    dialog.Show();
    dialog.PlaceByPosition();
    EXPECT_EQ(dialog.BoundsRect(), Bounds(5, 6, 200, 100));
    dialog.Hide();
    owner.Hide();
    Screen->Width = savedWidth, Screen->Height = savedHeight;
}

TEST(VclCanvas, TextThatDoesNotFitEndsInAnEllipsis)
{
    TBitmap bmp(200, 40);
    TCanvas& c = bmp.Canvas();
    const int width = c.TextWidth("abcdefghij");
    EXPECT_EQ(c.EllipsisText("abcdefghij", width), "abcdefghij");
    std::string cut = c.EllipsisText("abcdefghij", width - 1);
    EXPECT_EQ(cut.substr(cut.size() - 3), "\u2026");
    EXPECT_LE(c.TextWidth(cut), width - 1);
    EXPECT_EQ(c.EllipsisText("čšžřý", c.TextWidth("čš\u2026")), "čš\u2026");  // never half a character
    EXPECT_EQ(c.EllipsisText("abc", 0), "\u2026");

    // A label of fixed size that clips its caption says so; an auto-sized one never clips.
    TForm form(nullptr);
    auto* label = new TLabel(&form);
    label->SetParent(&form);
    label->AutoSize = false;
    label->SetBounds(0, 0, 30, 13);
    label->SetCaption("A caption far too long");
    form.SetClientWidth(100);
    form.SetClientHeight(20);
    TBitmap shot = form.RenderToBitmap();
    ASSERT_FALSE(shot.Texts().empty());
    const std::string shown = shot.Texts().back().Text;
    EXPECT_EQ(shown.substr(shown.size() - 3), "\u2026");
}
