#include "platform/vcl/DemoForm.h"
#include "platform/vcl/Headless.h"
#include "platform/win/Messages.h"
#include "support/Child.h"

#include "support/HeadlessUi.h"
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using namespace vcl;
using demo::TDemoForm;

namespace {

class TDialog : public TForm {
public:
    explicit TDialog(TComponent* owner) : TForm(owner)
    {
        Caption = "Question";
        text = new TLabel(this);
        text->SetParent(this);
        text->SetCaption("Go on?");
        okButton = new TButton(this);
        okButton->SetParent(this);
        okButton->Caption = "&Go";
        okButton->ModalResult = mrOk;
        cancelButton = new TButton(this);
        cancelButton->SetParent(this);
        cancelButton->Caption = "Stop";
        cancelButton->ModalResult = mrCancel;
        cancelButton->Cancel = true;
    }
    TLabel* text;
    TButton *okButton, *cancelButton;
};

}  // namespace

TEST(VclLayout, AlignedControlsFillTheirEdgesOnEveryResize)
{
    Headless();
    TDemoForm form(nullptr);
    form.EnsureCreated();
    EXPECT_EQ(form.top->BoundsRect(), Rect(0, 0, 400, 40));
    EXPECT_EQ(form.bottom->BoundsRect(), Rect(0, 281, 400, 300));
    EXPECT_EQ(form.left->BoundsRect(), Rect(0, 40, 60, 281));
    EXPECT_EQ(form.right->BoundsRect(), Rect(350, 40, 400, 281));
    EXPECT_EQ(form.client->BoundsRect(), Rect(60, 40, 350, 281));

    int resized = 0;
    form.client->OnResize = [&](TObject*) { ++resized; };
    form.SetClientWidth(500);
    form.SetClientHeight(400);
    EXPECT_EQ(form.right->BoundsRect(), Rect(450, 40, 500, 381));
    EXPECT_EQ(form.client->BoundsRect(), Rect(60, 40, 450, 381));
    EXPECT_EQ(resized, 2);

    form.left->Hide();  // a hidden control gives its room to the client control
    EXPECT_EQ(form.client->Left(), 0);
    form.Constraints.MaxHeight = 200;
    form.SetHeight(900);
    EXPECT_EQ(form.Height(), 200);
}

TEST(VclForms, LoadingStateEndsOnceWithLoadedAndOnCreate)
{
    struct TProbe : TComponent {
        using TComponent::TComponent;
        bool wasLoading = false;
        int loaded = 0;
        void Loaded() override { wasLoading = IsLoading() || true, ++loaded; }
    };
    struct TProbeForm : TForm {
        explicit TProbeForm(TComponent* o) : TForm(o), probe(new TProbe(this))
        {
            OnCreate = [this](TObject*) { ++created; };
        }
        TProbe* probe;
        int created = 0;
    };
    Headless();
    TProbeForm* form = nullptr;
    TForm* previousMain = Application->MainForm;
    Application->MainForm = nullptr;
    Application->CreateForm(form);
    EXPECT_EQ(Application->MainForm, form);
    EXPECT_FALSE(form->probe->IsLoading());
    EXPECT_EQ(form->probe->loaded, 1);
    EXPECT_EQ(form->created, 1);
    form->Show();
    form->Hide();
    EXPECT_EQ(form->created, 1);
    auto* later = new TProbe(form);  // made after loading: never loading
    EXPECT_FALSE(later->IsLoading());
    delete form;
    EXPECT_EQ(Application->MainForm, nullptr);
    Application->MainForm = previousMain;
}

TEST(VclModal, ScriptedAnswersOperateTheFormAndAreTranscribed)
{
    THeadlessWidgetSet& ws = Headless();
    char path[] = "/tmp/vcl_transcriptXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ws.SetTranscriptFile(path);
    ws.SetAnswers({"OK", "Stop", "Esc", "0", "Nonsense", "Yes"});
    TDialog dialog(nullptr);
    int shows = 0, activates = 0;
    dialog.OnShow = [&](TObject*) { ++shows; };
    dialog.OnActivate = [&](TObject*) { ++activates; };
    EXPECT_EQ(dialog.ShowModal(), mrOk);  // "OK": the button with that result
    EXPECT_FALSE(dialog.Visible());
    EXPECT_EQ(dialog.ShowModal(), mrCancel);  // by caption
    EXPECT_EQ(dialog.ShowModal(), mrCancel);  // Esc reaches the Cancel button
    EXPECT_EQ(dialog.ShowModal(), mrOk);      // the first button
    EXPECT_EQ(dialog.ShowModal(), mrCancel);  // no such control
    EXPECT_EQ(Application->MessageBox("Really?", "Ask", MB_YESNO), IDYES);
    EXPECT_EQ(dialog.ShowModal(), mrCancel);  // no answer left
    EXPECT_EQ(Application->MessageBox("Sure?", "Ask", MB_YESNOCANCEL | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(shows, 6);
    EXPECT_EQ(activates, 6);

    ASSERT_EQ(ws.Transcript().size(), 8u);
    EXPECT_EQ(ws.Transcript()[0].Text, "Go on?\nGo\nStop");
    EXPECT_EQ(ws.Transcript()[4].Answer, "Nonsense (no such control; Cancel)");
    EXPECT_EQ(ws.Transcript()[6].Answer, "Cancel (no answer)");
    EXPECT_EQ(ws.Transcript()[7].Answer, "No (no answer)");
    std::ifstream in(path);
    std::stringstream all;
    all << in.rdbuf();
    std::remove(path);
    ws.SetTranscriptFile("");
    std::string text = all.str();
    EXPECT_NE(text.find("Form\tQuestion\tGo on?\\nGo\\nStop\tOK\n"), std::string::npos) << text;
    EXPECT_NE(text.find("MessageBox\tAsk\tReally?\tYes\n"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
}

TEST(VclModal, CloseQueryAndOnCloseCanKeepTheFormOpen)
{
    THeadlessWidgetSet& ws = Headless();
    TDialog dialog(nullptr);
    int queries = 0;
    dialog.OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++queries > 1; };
    TCloseAction seen = caNone;
    dialog.OnClose = [&](TObject*, TCloseAction& action) { seen = action; };
    ws.SetAnswers({"OK", "Go"});
    EXPECT_EQ(dialog.ShowModal(), mrOk);
    EXPECT_EQ(queries, 2);
    EXPECT_EQ(seen, caHide);
    ws.SetAnswers({});
    dialog.Show();
    EXPECT_THROW(dialog.ShowModal(), EInvalidOperation);
    dialog.Hide();
}

TEST(VclModal, InProcessResponderCanOperateTheFormAndDefer)
{
    THeadlessWidgetSet& ws = Headless();
    TDemoForm form(nullptr);
    int asked = 0;
    ws.SetResponder([&](const TShown& shown) -> std::optional<std::string> {
        if (++asked < 3)
            return std::nullopt;  // the loop keeps running meanwhile
        auto* f = static_cast<TDemoForm*>(shown.Form);
        f->edit->SetFocus();
        f->TypeChar(U'a');
        f->TypeChar(U'b');
        return "OK";
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(form.edit->Text(), "ab");
    ws.SetResponder(nullptr);
}

TEST(VclDialogs, MessageDialogsFileDialogsAndInput)
{
    THeadlessWidgetSet& ws = Headless();
    ws.SetAnswers({"Esc", "1", "C:\\a.zip|C:\\b.zip", "Cancel", "new text", "Cancel", "D:\\Data", "Esc"});
    EXPECT_EQ(MessageDlg("Delete?", mtConfirmation, mbYesNoCancel), mrCancel);
    EXPECT_EQ(MessageDlg("Delete?", mtConfirmation, mbYes | mbNo), mrNo);
    TOpenDialog open(nullptr);
    open.Options |= ofAllowMultiSelect;
    open.Filter = "Archives|*.zip";
    ASSERT_TRUE(open.Execute());
    EXPECT_EQ(open.Files.Count(), 2);
    EXPECT_EQ(open.FileName, "C:\\a.zip");
    TSaveDialog save(nullptr);
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(InputBox("Name", "Enter:", "old"), "new text");
    EXPECT_EQ(InputBox("Name", "Enter:", "old"), "old");
    std::string dir = "C:\\";
    EXPECT_TRUE(SelectDirectory("Folder", "", dir));
    EXPECT_EQ(dir, "D:\\Data");
    ShowMessage("Done");  // Esc on a lone OK is OK
    EXPECT_EQ(ws.Transcript().back().Answer, "Esc");
    EXPECT_EQ(ws.Transcript()[0].Caption, "Confirm");
    EXPECT_EQ(ws.Transcript()[2].Kind, "OpenDialog");
    ShowMessage("Nobody answers");
    EXPECT_EQ(ws.Transcript().back().Answer, "OK (no answer)");
}

TEST(VclInput, FocusKeysShortcutsAndEditRules)
{
    Headless();
    TDemoForm form(nullptr);
    std::vector<std::string> events;
    form.edit->OnEnter = [&](TObject*) { events.push_back("enter edit"); };
    form.edit->OnExit = [&](TObject*) { events.push_back("exit edit"); };
    form.edit->OnChange = [&](TObject*) { events.push_back("change " + form.edit->Text()); };
    EXPECT_FALSE(form.edit->CanFocus());  // the form is not shown yet
    EXPECT_THROW(form.edit->SetFocus(), EInvalidOperation);
    form.Show();
    form.edit->SetFocus();
    EXPECT_TRUE(form.edit->Focused());
    for (char32_t c : std::u32string(U"abcdefg"))
        form.TypeChar(c);
    EXPECT_EQ(form.edit->Text(), "abcde");  // MaxLength counts characters
    form.edit->SetText("čřžýá!");
    EXPECT_EQ(form.edit->Text(), "čřžýá");
    form.edit->ReadOnly = true;
    form.TypeChar(U'x');
    EXPECT_EQ(form.edit->Text(), "čřžýá");
    form.PressKey(VK_TAB);
    EXPECT_EQ(form.ActiveControl(), form.check);
    EXPECT_EQ(events.back(), "exit edit");

    form.PressKey(VK_SPACE);
    EXPECT_TRUE(form.check->Checked());

    // The form sees keys first with KeyPreview, and can swallow them.
    form.KeyPreview = true;
    form.OnKeyPress = [](TObject*, char32_t& key) {
        if (key == U' ')
            key = 0;
    };
    form.PressKey(VK_SPACE);
    EXPECT_TRUE(form.check->Checked());

    // A shortcut works even while its menu is hidden.
    form.Menu->Items()->Items(0)->Visible = false;
    form.PressKey('O', ssCtrl);
    EXPECT_EQ(form.opened, 1);
    form.Menu->Items()->Items(0)->Items(0)->Enabled = false;
    form.PressKey('O', ssCtrl);
    EXPECT_EQ(form.opened, 1);

    form.labelled->PasswordChar = U'*';
    form.labelled->SetText("pw");
    EXPECT_EQ(form.labelled->ShownText(), "**");
    EXPECT_EQ(form.labelled->EditLabel()->Top(), 250 - 13 - 3);
    form.labelled->SetLeft(10);
    EXPECT_EQ(form.labelled->EditLabel()->Left(), 10);
    form.labelled->Hide();
    EXPECT_FALSE(form.labelled->EditLabel()->Visible());
    form.Hide();
}

TEST(VclLists, ListBoxSelectionSortingAndOwnerDraw)
{
    Headless();
    TDemoForm form(nullptr);
    TListBox* list = form.list;
    list->SetSorted(true);
    EXPECT_EQ(list->Items[0], "alpha");
    list->Items.Add("Gamma");
    list->Items.Add("delta");
    EXPECT_EQ(list->Items.CommaText(), "alpha,beta,delta,Gamma");
    EXPECT_EQ(list->ItemAtPos({5, 2 + 16 * 1 + 3}, true), 1);
    EXPECT_EQ(list->ItemAtPos({5, 2 + 16 * 4 + 3}, true), -1);  // below the last item
    EXPECT_EQ(list->VisibleItems(), 3);
    list->SetItemIndex(3);  // scrolled into view
    EXPECT_EQ(list->TopIndex(), 1);
    EXPECT_EQ(list->SelCount(), -1);
    list->MultiSelect = true;
    list->ClearSelection();
    list->SetSelected(0, true);
    list->SetSelected(2, true);
    EXPECT_EQ(list->SelCount(), 2);
    EXPECT_THROW(list->Selected(9), std::out_of_range);

    std::vector<int> drawn;
    list->OnDrawItem = [&](TWinControl*, int index, const TRect& r, TOwnerDrawState state) {
        drawn.push_back(index);
        EXPECT_EQ(r.Height(), 16);
        EXPECT_EQ(bool(state & odSelected), list->Selected(index));
    };
    form.RenderToBitmap();
    EXPECT_EQ(drawn, (std::vector<int>{1, 2, 3}));

    int clicks = 0;
    form.Show();
    list->OnClick = [&](TObject*) { ++clicks; };
    list->MultiSelect = false;
    list->SetFocus();
    list->SetItemIndex(0);
    form.PressKey(VK_DOWN);
    form.PressKey(VK_END);
    EXPECT_EQ(list->ItemIndex(), 3);
    EXPECT_EQ(clicks, 2);
    form.Hide();
}

TEST(VclLists, ListViewCountedUpdatesSortingAndColumnClicks)
{
    Headless();
    TDemoForm form(nullptr);
    TListView* view = form.view;
    int changes = 0;
    view->OnChange = [&](TObject*) { ++changes; };
    view->BeginUpdate();
    view->BeginUpdate();
    for (const char* name : {"b.txt", "a.txt", "c.txt"}) {
        TListItem* item = view->AddItem();
        item->Caption = name;
        item->SubItems.Add(std::to_string(std::string(name)[0] - 'a'));
    }
    view->EndUpdate();
    EXPECT_EQ(changes, 0);
    view->EndUpdate();
    EXPECT_EQ(changes, 1);
    view->CustomSort(
        [](TListItem* a, TListItem* b, int descending) {
            int c = a->Caption.compare(b->Caption);
            return descending ? -c : c;
        },
        1);
    EXPECT_EQ(view->Items(0)->Caption, "c.txt");
    EXPECT_FALSE(view->CustomSort(nullptr, 0));

    view->MultiSelect = true;
    view->Items(0)->SetSelected(true);
    view->Items(2)->SetSelected(true);
    EXPECT_EQ(view->SelCount(), 2);
    EXPECT_EQ(view->Selected(), view->Items(0));
    view->MultiSelect = false;
    view->Items(1)->SetSelected(true);
    EXPECT_EQ(view->SelCount(), 1);

    TListColumn* clicked = nullptr;
    view->OnColumnClick = [&](TObject*, TListColumn* column) { clicked = column; };
    view->MouseDown(mbLeft, 0, 110, 5);
    ASSERT_NE(clicked, nullptr);
    EXPECT_EQ(clicked->Caption, "Size");
    view->MouseDown(mbLeft, 0, 20, 2 + 19 + 19 * 2 + 3);  // third row
    EXPECT_EQ(view->Selected(), view->Items(2));
    EXPECT_EQ(view->ShownText(), "c.txt\t2\nb.txt\t1\na.txt\t0\n");

    THeaderSection* section = nullptr;
    form.header->OnSectionClick = [&](THeaderControl*, THeaderSection* s) { section = s; };
    form.header->MouseDown(mbLeft, 0, 40, 5);
    form.header->MouseUp(mbLeft, 0, 40, 5);
    ASSERT_NE(section, nullptr);
    EXPECT_EQ(section->Text, "B");
}

TEST(VclControls, ValuesStayInRangeAndFireTheirEvents)
{
    THeadlessWidgetSet& ws = Headless();
    TDemoForm form(nullptr);
    form.EnsureCreated();
    int radioClicks = 0, scrollChanges = 0, comboChanges = 0;
    form.radio->OnClick = [&](TObject*) { ++radioClicks; };
    form.radio->SetItemIndex(1);
    form.radio->SetItemIndex(1);
    form.radio->MouseDown(mbLeft, 0, form.radio->ItemRect(0).Left + 2, form.radio->ItemRect(0).Top + 2);
    EXPECT_EQ(form.radio->ItemIndex(), 0);
    EXPECT_EQ(radioClicks, 2);
    form.scroll->OnChange = [&](TObject*) { ++scrollChanges; };
    form.scroll->SetPosition(500);
    EXPECT_EQ(form.scroll->Position(), 100);
    form.progress->SetPosition(-5);
    EXPECT_EQ(form.progress->Position(), 0);
    form.combo->OnChange = [&](TObject*) { ++comboChanges; };
    form.combo->SetText("two");
    form.combo->SetText("three");  // a drop-down list keeps to its items
    EXPECT_EQ(form.combo->ItemIndex(), 1);
    form.combo->SelectFromList(0);
    EXPECT_EQ(form.combo->Text(), "one");
    EXPECT_EQ(comboChanges, 1);
    form.memo->Lines.Add("x");
    form.memo->Lines.Add("y");
    EXPECT_EQ(form.memo->Text(), "x\r\ny");
    form.memo->SetText("1\n2\n3");
    EXPECT_EQ(form.memo->Lines.Count(), 3);
    form.bottom->SimplePanel = true;
    form.bottom->SimpleText = "Working";
    EXPECT_EQ(form.bottom->ShownText(), "Working");

    TPopupMenu popup(nullptr);
    int chosen = 0;
    popup.Items()->Add(NewItem(&popup, "&Copy", 0, [&](TObject*) { chosen = 1; }));
    popup.Items()->Add(NewItem(&popup, "&Paste", 0, [&](TObject*) { chosen = 2; }));
    ws.SetAnswers({"Paste"});
    popup.Popup(0, 0);
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(TextToShortCut("Ctrl+O"), ShortCut('O', ssCtrl));
    EXPECT_EQ(ShortCutToText(ShortCut(VK_DELETE, ssShift)), "Shift+Del");
    Screen->SetCursor(crHourGlass);
    EXPECT_EQ(Screen->Cursor(), crHourGlass);
    Screen->SetCursor(crDefault);
}

TEST(VclCanvas, DrawingPrimitivesOnABitmap)
{
    TBitmap bmp(20, 20, clWhite);
    TCanvas& c = bmp.Canvas();
    c.Brush.Color = clRed;
    c.FrameRect(Rect(2, 2, 10, 10));
    EXPECT_EQ(bmp.PixelAt(2, 2), clRed);
    EXPECT_EQ(bmp.PixelAt(9, 9), clRed);
    EXPECT_EQ(bmp.PixelAt(5, 5), clWhite);
    c.Brush.Color = clBlue;
    c.FloodFill(5, 5, clRed, fsBorder);  // fills inside the frame only
    EXPECT_EQ(bmp.PixelAt(5, 5), clBlue);
    EXPECT_EQ(bmp.PixelAt(15, 15), clWhite);
    c.Pen.Color = clBlack;
    c.MoveTo(0, 15);
    c.LineTo(20, 15);
    EXPECT_EQ(bmp.PixelAt(19, 15), clBlack);
    TColor before = bmp.PixelAt(12, 12);
    c.DrawFocusRect(Rect(12, 12, 18, 18));
    EXPECT_NE(bmp.PixelAt(12, 12), before);
    c.DrawFocusRect(Rect(12, 12, 18, 18));  // drawn twice, it is gone
    EXPECT_EQ(bmp.PixelAt(12, 12), before);
    c.Brush.Color = clBtnFace;  // system colours resolve
    c.FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(bmp.PixelAt(0, 0), ColorToRGB(clBtnFace));
    c.Font.Color = clGreen;
    c.TextOut(1, 1, "Hi");
    ASSERT_EQ(bmp.Texts().size(), 1u);
    EXPECT_EQ(bmp.Texts()[0].Color, clGreen);
    EXPECT_EQ(c.TextWidth("Hi"), 12);
    EXPECT_EQ(c.DrawText(Rect(0, 0, 40, 100), "one two three four", tfWordBreak), 4 * c.TextHeight("W"));

    TImageList images(nullptr);
    images.Width = images.Height = 4;
    images.Add(TBitmap(4, 4, clRed));
    TBitmap target(10, 4, clWhite);
    images.Draw(target.Canvas(), 0, 0, 0, true);
    images.Draw(target.Canvas(), 5, 0, 0, false);
    images.Draw(target.Canvas(), 5, 0, 7, false);  // no such image: nothing
    EXPECT_EQ(target.PixelAt(1, 1), clRed);
    TColor grey = target.PixelAt(6, 1);
    EXPECT_TRUE(GetRValue(grey) == GetGValue(grey) && GetGValue(grey) == GetBValue(grey)) << std::hex << grey;
}

TEST(VclRender, TheFormDrawsItsControlsWhereTheyAre)
{
    Headless();
    TDemoForm form(nullptr);
    TBitmap bmp = form.RenderToBitmap();
    ASSERT_EQ(bmp.Width(), 400);
    EXPECT_EQ(bmp.PixelAt(200, 20), clRed);                           // top panel
    EXPECT_EQ(bmp.PixelAt(30, 150), clLime);                          // left panel
    EXPECT_EQ(bmp.PixelAt(375, 150), clBlue);                         // right panel
    EXPECT_EQ(bmp.PixelAt(60 + 200, 40 + 60), clYellow);              // client panel between its children
    EXPECT_EQ(bmp.PixelAt(60 + 8 + 10, 40 + 30 + 2 + 5), clFuchsia);  // owner-drawn list item 0
    EXPECT_EQ(bmp.PixelAt(60 + 8 + 10, 40 + 30 + 2 + 21), clAqua);    // item 1
    EXPECT_EQ(bmp.PixelAt(60 + 255, 40 + 205), clTeal);               // paint box
    EXPECT_EQ(bmp.PixelAt(60 + 268, 40 + 188), clNavy);               // image
}

namespace {
class TCopyForm : public TForm {
public:
    using TForm::TForm;
    std::string ClassName() const override { return "TVclTestCopyForm"; }
    void WMCopyData(TWMCopyData& m) override
    {
        received.assign(static_cast<const char*>(m.CopyDataStruct->lpData), m.CopyDataStruct->cbData);
        m.Result = 42;
        if (IsModal())
            ModalResult = mrOk;  // a request that arrives ends the dialog
    }
    void WndProc(TMessage& m) override
    {
        if (m.Msg == WM_USER + 1)
            throw std::runtime_error("Handler failed");
        TForm::WndProc(m);
    }
    std::string received;
};

testsupport::Child StartSender(const std::string& text)
{
    return testsupport::Child({std::string(TORVO_TEST_BIN_DIR) + "/copydata_sender", "TVclTestCopyForm", text},
                              testsupport::Child::Output::Capture);
}

// The sender waits for our answer, so our windows are served while it finishes.
std::string FinishSender(testsupport::Child& sender)
{
    const auto code = sender.Wait(testsupport::PeerDeadline, [] {
        Application->ProcessMessages();
        WaitMessageFor(5);
    });
    return (code ? std::to_string(*code) : "still running") + ":" + sender.Output();
}
}  // namespace

TEST(VclMessages, CopyDataFromAnotherProcessReachesTheFormInsideShowModalAndProcessMessages)
{
    THeadlessWidgetSet& ws = Headless();
    TCopyForm form(nullptr);
    form.Handle();
    testsupport::Child sender = StartSender("inside modal");
    ASSERT_TRUE(sender.Started());
    // The dialog waits for the request, but gives up when the sender is gone or too slow.
    const auto end = std::chrono::steady_clock::now() + testsupport::PeerDeadline;
    ws.SetResponder([&](const TShown&) -> std::optional<std::string> {
        if (std::chrono::steady_clock::now() > end || !sender.Running())
            return "Cancel";
        return std::nullopt;
    });
    EXPECT_EQ(form.ShowModal(), mrOk);  // ended by the handler
    ws.SetResponder(nullptr);
    EXPECT_EQ(form.received, "inside modal");
    EXPECT_EQ(FinishSender(sender), "0:42\n");

    form.received.clear();
    sender = StartSender("inside pump");
    EXPECT_TRUE(testsupport::Eventually([&] { return !form.received.empty(); }, testsupport::PeerDeadline,
                                        [] {
                                            Application->ProcessMessages();
                                            WaitMessageFor(5);
                                        }));
    EXPECT_EQ(form.received, "inside pump");
    EXPECT_EQ(FinishSender(sender), "0:42\n");
}

TEST(VclMessages, AnExceptionReachingTheLoopIsShownAndTheLoopGoesOn)
{
    THeadlessWidgetSet& ws = Headless();
    Application->Title = "Tester";
    TCopyForm form(nullptr);
    PostMessageA(form.Handle(), WM_USER + 1, 0, 0);
    PostMessageA(form.Handle(), WM_CLOSE, 0, 0);
    form.Show();
    Application->ProcessMessages();
    ASSERT_EQ(ws.Transcript().size(), 1u);
    EXPECT_EQ(ws.Transcript()[0].Kind, "MessageBox");
    EXPECT_EQ(ws.Transcript()[0].Caption, "Tester");
    EXPECT_EQ(ws.Transcript()[0].Text, "Handler failed");
    EXPECT_FALSE(form.Visible());  // the WM_CLOSE after it was handled

    // WM_QUIT ends Run.
    Application->ResetTerminated();
    PostQuitMessage(0);
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    Application->ResetTerminated();
}

TEST(VclKeyboard, TabOrderAcceleratorsAndDefaultAndCancelButtons)
{
    Headless();
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
    Headless();
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
    Headless();
    const int savedWidth = Screen->Width, savedHeight = Screen->Height;
    Screen->Width = 1000, Screen->Height = 800;
    TForm owner(nullptr);
    owner.SetBounds(500, 400, 400, 300);
    owner.Show();
    TForm dialog(&owner);
    dialog.SetBounds(0, 0, 200, 100);
    const auto placed = [&dialog](auto position) {
        dialog.Position = position;
        dialog.Show();
        dialog.PlaceByPosition();
        const auto bounds = dialog.BoundsRect();
        dialog.Hide();
        return bounds;
    };
    EXPECT_EQ(placed(poOwnerFormCenter), Bounds(600, 500, 200, 100));
    EXPECT_EQ(placed(poScreenCenter), Bounds(400, 350, 200, 100));
    // Centred over an owner near the screen's edge, the form stays on the screen.
    owner.SetBounds(900, 750, 400, 300);
    EXPECT_EQ(placed(poOwnerFormCenter), Bounds(800, 700, 200, 100));
    dialog.SetBounds(5, 6, 200, 100);
    EXPECT_EQ(placed(poDesigned), Bounds(5, 6, 200, 100));
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
