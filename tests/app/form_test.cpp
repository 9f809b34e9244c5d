#include "app/lib/FormMenu.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/RequestRecord.h"
#include "app/lib/Settings.h"
#include "platform/vcl/Headless.h"
#include "platform/win/Messages.h"
#include "support/ToolRun.h"
#include "unit/XFiles.h"

#include "support/HeadlessUi.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace vcl;

namespace {

const std::string ABMenu = "~Skupina|A‡5<x>|B‡6<y>";

TEST(FormMenu, ChoosingCancellingAndEmptyMenus)
{
    THeadlessWidgetSet& ui = Headless();
    ui.SetAnswers({"1", "B", "Esc"});
    int number = 0;
    std::string text, caption;
    EXPECT_EQ(1, ShowMenu("", number, text, ABMenu, "Titul", caption));
    EXPECT_EQ(6, number);
    EXPECT_EQ("y", text);
    EXPECT_EQ("B", caption);
    ASSERT_EQ(1u, ui.Transcript().size());
    EXPECT_EQ("  Titul", ui.Transcript()[0].Caption);
    EXPECT_EQ("Skupina\nA\nB", ui.Transcript()[0].Text);
    EXPECT_EQ("TFormMenu", MenuForm()->ClassName());
    EXPECT_TRUE(MenuForm()->Buttons().empty());

    number = 0;
    EXPECT_EQ(1, ShowMenu("", number, text, ABMenu, "Titul"));  // by caption
    number = 77;
    text = "kept";
    EXPECT_EQ(MenuCancelled, ShowMenu("", number, text, ABMenu, "Titul"));
    EXPECT_EQ(77, number);
    EXPECT_EQ("kept", text);
    const std::size_t shown = ui.Transcript().size();
    EXPECT_EQ(MenuEmpty, ShowMenu("", number, text, "~~~", "Titul"));
    EXPECT_EQ(shown, ui.Transcript().size());  // nothing shown
}

TEST(FormMenu, AMenuTallerThanTheWorkAreaKeepsEveryItem)
{
    THeadlessWidgetSet& ui = Headless();
    const TRect saved = Screen->WorkArea;
    Screen->WorkArea = Rect(0, 20, 800, 220);
    std::string menu = "~Disky";
    for (char c = 'A'; c <= 'L'; ++c)
        menu += std::string("|Disk (") + c + "):‡" + c + "<" + c + ">";
    int top = -1, clientHeight = 0, lastBottom = 0;
    ui.SetResponder([&](const TShown& shown) -> std::optional<std::string> {
        auto* form = static_cast<TFormMenu*>(shown.Form);
        top = form->Top();
        clientHeight = form->ClientHeight();
        lastBottom = form->Buttons().back()->Top() + form->Buttons().back()->Height();
        return "Esc";
    });
    int number = 0;
    std::string text;
    EXPECT_EQ(MenuCancelled, ShowMenu("", number, text, menu, "Disky"));
    ui.SetResponder(nullptr);
    Screen->WorkArea = saved;
    EXPECT_EQ(20, top);
    EXPECT_GE(clientHeight, lastBottom);
}

TEST(FormMenu, PreselectionAcceleratorsAndCheckBoxes)
{
    THeadlessWidgetSet& ui = Headless();
    std::vector<std::string> seen;
    int step = 0;
    TFormMenu* form = nullptr;
    ui.SetResponder([&](const TShown& shown) -> std::optional<std::string> {
        form = static_cast<TFormMenu*>(shown.Form);
        auto* active = form->ActiveControl();
        const auto& buttons = form->Buttons();
        const int focused = int(std::find(buttons.begin(), buttons.end(), active) - buttons.begin());
        seen.push_back(std::to_string(focused) + "/" + std::to_string(form->DefaultIndex()));
        ++step;
        if (step == 1)
            return "Esc";
        if (step == 2)
            return "Esc";
        if (step == 3) {  // #24: the accelerator only focuses; Enter then chooses
            form->TypeChar(U'b');
            if (form->ModalResult != mrNone)
                return "Esc";
            seen.push_back("focus " + std::to_string(form->FocusedIndex()));
            form->PressKey(VK_RETURN);
            return std::nullopt;
        }
        if (step == 4) {  // without #24 the accelerator chooses at once
            form->TypeChar(U'B');
            return std::nullopt;
        }
        form->CheckBoxes()[0]->Toggle();
        return "A";
    });
    int number = 6;
    std::string text;
    const std::string accelerated = "^aAlfa‡5<x>|^bBeta‡6<y>|^cGama‡7<z>";
    // The option string's index, replaced by the item whose number is the in/out number.
    ShowMenu("2", number, text, accelerated, "t");
    number = 0;
    ShowMenu("2", number, text, accelerated, "t");
    number = 6;
    ShowMenu(std::string("\x0E\x18") + "0", number, text, accelerated, "t");
    EXPECT_EQ("y", text);
    number = 0;
    EXPECT_EQ(1, ShowMenu("", number, text, accelerated, "t"));
    EXPECT_EQ(std::vector<std::string>({"1/1", "2/-1", "0/-1", "focus 1", "0/-1"}), seen);

    number = 0;
    EXPECT_EQ(0, ShowMenu("", number, text, "A‡1<a>|°Zalohovat i mzdy<m>|°Jen dnes<d>", "t"));
    EXPECT_EQ("a‡m", text);
    ui.SetResponder(nullptr);
}

TEST(VColButton, ImagesVersionKeysAndPressColours)
{
    TForm form(nullptr);
    auto* button = new TVColButton(&form);
    button->SetParent(&form);
    auto* next = new TVColButton(&form);
    next->SetParent(&form);
    next->SetTop(30);
    // An accelerator's "&" is not drawn.
    button->Caption = "&Zpět";
    button->SetBounds(0, 0, 80, 25);
    form.EnsureCreated();
    const TBitmap drawn = form.RenderToBitmap();
    ASSERT_FALSE(drawn.Texts().empty());
    EXPECT_EQ("Zpět", drawn.Texts().front().Text);
    button->SetImagesIndex("3,1;;7 x 2 9");
    EXPECT_EQ(std::vector<int>({3, 1, 7, 2}), button->ImageNumbers());
    button->SetVersion("2.0");
    EXPECT_EQ("1.36", button->Version());

    form.Show();
    button->SetFocus();
    button->FocusControl.Down = next;
    next->Hide();
    WORD key = VK_DOWN;
    button->KeyDown(key, 0);
    EXPECT_EQ(VK_DOWN, key);  // a hidden target leaves the key to the usual handling
    next->Show();
    button->KeyDown(key, 0);
    EXPECT_EQ(0, key);
    EXPECT_TRUE(next->Focused());

    button->SetFocus();
    button->Options = cbLikeButtonDown;
    button->MouseDown(mbLeft, 0, 1, 1);
    EXPECT_EQ(button->ColorOnFocusDown, button->FaceColor());
    EXPECT_EQ(clMaroon, button->Font.Color);
    button->MouseUp(mbLeft, 0, 1, 1);
    EXPECT_EQ(clLime, button->FaceColor());
    button->Options = cbLikeButtonDown | cbViewLikePressDown;
    button->MouseDown(mbLeft, 0, 1, 1);
    EXPECT_EQ(clLime, button->FaceColor());
    button->MouseUp(mbLeft, 0, 1, 1);
    next->SetFocus();
    EXPECT_EQ(button->Color, button->FaceColor());

    auto* disabled = new TVColButton(nullptr);
    disabled->SetEnabled(false);
    disabled->BeginLoading();
    disabled->EndLoading();
    EXPECT_EQ(clBtnFace, disabled->Color);
    delete disabled;
    form.Hide();
}

class MainForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        SetSettingsRoot(HKEY_CURRENT_USER);
        SetProgramSubKey();
        Headless().SetAnswers({});
        form = new TFormTorvo(nullptr);
        form->EnsureCreated();
    }
    void TearDown() override
    {
        delete form;
        Application->ResetTerminated();
    }
    TScratchDir scratch;
    const std::string dir = scratch.Path().string();
    TFormTorvo* form = nullptr;
};

TEST_F(MainForm, CaptionsAndFirstActivation)
{
    form->Show();
    const std::string version = XFileVersion1();
    EXPECT_EQ(" TORVO " + version + " ", form->Caption);
    EXPECT_FALSE(form->sbArchiv->Enabled());
    EXPECT_EQ(form->Panel1->Width() - form->sbExit->Width() - 5, form->sbExit->Left());
    EXPECT_NE(0, FindWindowA("TFormTorvo", nullptr));

    form->State().Mode = 17;
    form->State().Definition.NoteFirma = "Firma s.r.o.";
    form->SetModeCaption(true);
    EXPECT_EQ(" TORVO " + version + " automatická archivace na FTP - Firma s.r.o.", form->Caption);
    form->State().Mode = 50;
    form->SetModeCaption(false);
    EXPECT_EQ(" TORVO " + version + " zpakování výplatních pásek", form->Caption);

    // Coming back to the window keeps the run's choices.
    form->Target().RememberedLetter = "E";
    form->Hide();
    form->Show();
    EXPECT_EQ("E", form->Target().RememberedLetter);
    form->Hide();
}

TEST_F(MainForm, FinishRepliesChecksTheInstallPathAndTerminates)
{
    double reply = 0;
    const HWND caller = CreateWindowA("TFormTestCaller", "", [&](HWND, UINT msg, WPARAM, LPARAM l) -> LRESULT {
        if (msg == WM_COPYDATA)
            if (auto r = DecodeRequestRecord(reinterpret_cast<const COPYDATASTRUCT*>(l)->lpData, 565))
                reply = r->ModeValue;
        return 1;
    });
    form->State().ReplyWindow = caller;
    THeadlessWidgetSet& ui = Headless();
    form->FinishRequest();
    for (int i = 0; i < 50 && reply == 0; ++i)
        Application->ProcessMessages();
    EXPECT_EQ(99.0, reply);  // no request accepted: mode -1
    EXPECT_TRUE(Application->Terminated());
    EXPECT_TRUE(ui.Transcript().empty());  // first run: no question
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        EXPECT_NE("-", RegReadString(root, "Software\\Vimo\\Torvo", "InstallPath", "-"));
        EXPECT_EQ(XFileVersion1(), RegReadString(root, "Software\\Vimo\\Torvo", "InstallVersion", "-"));
    }

    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        RegWriteString(root, "Software\\Vimo\\Torvo", "InstallPath", "C:\\Jinde");
        RegWriteString(root, "Software\\Vimo\\Torvo", "InstallVersion", "0.0");
    }
    ui.SetAnswers({"Cancel"});
    form->FinishRequest();
    ASSERT_EQ(1u, ui.Transcript().size());
    EXPECT_EQ("Torvo instalovaný vícekrát...", ui.Transcript()[0].Caption);
    EXPECT_EQ("C:\\Jinde", RegReadString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Torvo", "InstallPath", "-"));
    EXPECT_EQ(XFileVersion1(), RegReadString(HKEY_LOCAL_MACHINE, "Software\\Vimo\\Torvo", "InstallVersion", "-"));
    DestroyWindow(caller);
}

TEST_F(MainForm, ModeSevenDownloadsOnlyFromANamedFtpEntry)
{
    THeadlessWidgetSet& ui = Headless();
    form->DriveType = [](char) { return UINT(DRIVE_FIXED); };
    TRequestState& s = form->State();
    s.Mode = 7;
    s.BackupSide = false;
    s.Network.Text = "C:\\Zalohy\\";
    form->DispatchRequest();
    EXPECT_TRUE(ui.Transcript().empty());  // no drive, no FTP entry: nothing runs

    s.FtpEntry = true;
    s.Network.Text = "0";
    form->DispatchRequest();
    ASSERT_EQ(1u, ui.Transcript().size());
    // The download was tried: with no internet program installed it says so.
    EXPECT_EQ("Spojení s internetem?", ui.Transcript()[0].Caption);
    EXPECT_EQ(5, form->ShownTargetImage());
}

}  // namespace
