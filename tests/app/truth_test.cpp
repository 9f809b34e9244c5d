// The program tells the person what happens: the engine's prompts reach the GUI, errors are listed,
// the LED shows and cancels the running component, and the comment command edits an archive.
#include "app/lib/BackupNames.h"
#include "app/lib/EngineHooks.h"
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormComm.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/Settings.h"
#include "core/plxHooks.h"
#include "platform/vcl/Headless.h"
#include "platform/win/Messages.h"
#include "support/ToolRun.h"
#include "writers/plxZip.h"

#include "support/HeadlessUi.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

TEST(EngineHooks, PromptsAndInputOfTheEngineReachTheWidgetSet)
{
    THeadlessWidgetSet& ui = Headless();
    InstallEngineHooks();
    ui.SetAnswers({"Retry", "Cancel", "heslo"});
    EXPECT_EQ(::IDRETRY, ShowMessageBox("E:\\ is not accessible", "", ::MB_RETRYCANCEL | ::MB_ICONSTOP));
    EXPECT_EQ(::IDCANCEL, ShowMessageBox("E:\\ is not accessible", "", ::MB_RETRYCANCEL | ::MB_ICONSTOP));
    std::string password;
    EXPECT_TRUE(ShowInputQuery("OnGetPassword event", "Enter password", password));
    EXPECT_EQ("heslo", password);
    ASSERT_EQ(3u, ui.Transcript().size());
    EXPECT_EQ("MessageBox", ui.Transcript()[0].Kind);
    EXPECT_EQ(Application->Title, ui.Transcript()[0].Caption);  // the engine leaves it to us
    EXPECT_EQ("E:\\ is not accessible", ui.Transcript()[0].Text);
    EXPECT_EQ("InputBox", ui.Transcript()[2].Kind);
    // The engine's pump is the application's.
    bool pumped = false;
    PostMessageA(0, WM_USER + 99, 0, 0);
    ASSERT_TRUE(ProcessMessagesHook);
    ProcessMessages();
    MSG msg;
    pumped = !PeekMessageA(&msg, 0, WM_USER + 99, WM_USER + 99, PM_NOREMOVE);
    EXPECT_TRUE(pumped);
    ProcessMessagesHook = nullptr;
    MessageBoxHook = nullptr;
    InputQueryHook = nullptr;
    BrowseForDirHook = nullptr;
}

TEST(ErrorList, RowsAndDeletion)
{
    TfrmErrorMsgs list(nullptr);
    list.AddError("OnError event\r\rClassName: TZip\rECode:     25151");
    list.AddError("second");
    list.AddError("third");
    ASSERT_EQ(3, list.ListView1->ItemCount());
    EXPECT_EQ("OnError event | ClassName: TZip | ECode:     25151", list.ListView1->Items(0)->Caption);
    // The row that takes the deleted one's place is selected, or the new last one.
    list.ListView1->SetSelected(list.ListView1->Items(1));
    list.DeleteSelected();
    ASSERT_EQ(2, list.ListView1->ItemCount());
    EXPECT_EQ("third", list.ListView1->Selected()->Caption);
    list.DeleteSelected();
    ASSERT_EQ(1, list.ListView1->ItemCount());
    EXPECT_EQ(list.ListView1->Items(0), list.ListView1->Selected());
    list.DeleteSelected();
    EXPECT_EQ(0, list.ListView1->ItemCount());
    list.DeleteSelected();  // nothing selected: nothing happens
}

TEST(BackupNames, SetFilesSplitByTheDataFolder)
{
    const TBackupSpecs specs = SplitBackupSpecs(
        {"C:\\ZALOHY\\*.dta", "C:\\Data\\kniha.dat", "c:\\data\\SUB\\kniha.dat", "C:\\DataX\\x.dat", "C:\\*.dta"},
        "C:\\data");
    EXPECT_EQ((std::vector<std::string>{"C:\\ZALOHY\\*.dta", "C:\\DataX\\x.dat", "C:\\*.dta"}), specs.Elsewhere);
    ASSERT_EQ(3u, specs.InsideDataFolder.size());
    EXPECT_EQ("C:\\Data\\kniha.dat", specs.InsideDataFolder[0]);
    // Last, at the data folder's own level, so that it is the writer's list base.
    EXPECT_EQ("C:\\data\\", specs.InsideDataFolder[2].substr(0, 8));
    EXPECT_EQ(std::string::npos, specs.InsideDataFolder[2].find('\\', 8));
    EXPECT_TRUE(SplitBackupSpecs({"C:\\ZALOHY\\*.dta"}, "C:\\data\\").InsideDataFolder.empty());
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        Headless().SetAnswers({});
        form = new TFormTorvo(nullptr);
        form->EnsureCreated();
    }
    void TearDown() override
    {
        delete form;
        Headless().SetResponder(nullptr);
        Application->ResetTerminated();
    }
    TScratchDir scratch;
    const std::string dir = scratch.Path().string();
    TFormTorvo* form = nullptr;
};

TEST_F(MainWindow, TheLedShowsAndCancelsTheWorkingComponent)
{
    EXPECT_EQ(clGreen, form->LedColour());
    form->pbxLedClick();  // nothing works: nothing to cancel, nothing said
    EXPECT_NE("Ukončení...", form->StatusBar1->SimpleText);
    form->Zip1->OnActivate(form->Zip1.get());
    EXPECT_EQ(clRed, form->LedColour());
    EXPECT_FALSE(form->Zip1->GetCancel());
    form->pbxLed->OnClick(form->pbxLed);
    EXPECT_TRUE(form->Zip1->GetCancel());
    EXPECT_EQ("Ukončení...", form->StatusBar1->SimpleText);
    form->Zip1->OnDeactivate(form->Zip1.get());
    EXPECT_EQ(clGreen, form->LedColour());
    form->ApplicationWaiting();  // one too many stays harmless
    EXPECT_EQ(clGreen, form->LedColour());
    form->Show();
    const TBitmap drawn = form->RenderToBitmap();
    const int x = form->pnlStatus->Left() + form->pbxLed->Left() + 5;
    const int y = form->pnlStatus->Top() + form->pbxLed->Top() + 5;
    EXPECT_EQ(clGreen, drawn.PixelAt(x, y));
    form->Hide();
}

TEST_F(MainWindow, CommentCommandRewritesTheChosenArchivesComment)
{
    fs::create_directories(dir + "/zal");
    std::ofstream(dir + "/zal/a.txt") << "data";
    CaptureCommand("cd " + dir + "/zal && zip -q 'Ucto (001).ZIP' a.txt && echo 'stara' | zip -qz 'Ucto (001).ZIP'");
    std::string folder = "Z:" + dir + "/zal/";
    std::replace(folder.begin(), folder.end(), '/', '\\');
    form->State().BackupSide = false;
    form->Target().TargetFolder = folder;
    form->lstFileSpec->Items.Add("Ucto (001).ZIP\t1\tstara");
    form->lstFileSpec->SetItemIndex(0);

    std::string shown;
    Headless().SetResponder([&](const TShown& s) -> std::optional<std::string> {
        auto* dialog = dynamic_cast<TfrmComm*>(s.Form);
        if (!dialog)
            return "OK";
        shown = dialog->leComment->Text();
        dialog->leComment->SetText(std::string(60, 'n'));
        return "OK";
    });
    form->mnuCommentClick();
    EXPECT_EQ("stara", shown.substr(0, 5));
    const std::string expected(TfrmComm::MaxCommentLength, 'n');
    EXPECT_NE(std::string::npos, CaptureCommand("unzip -z '" + dir + "/zal/Ucto (001).ZIP'").find(expected));
    EXPECT_EQ("Ucto (001).ZIP\t1\t" + expected, form->lstFileSpec->Items[0]);

    // "Zpět" leaves the archive as it is.
    Headless().SetResponder([](const TShown&) -> std::optional<std::string> { return "Zpět"; });
    form->mnuCommentClick();
    EXPECT_NE(std::string::npos, CaptureCommand("unzip -z '" + dir + "/zal/Ucto (001).ZIP'").find(expected));
}

TEST_F(MainWindow, ABackupStoppedAtTheLedLeavesNoArchiveAndNoErrorReport)
{
    const std::string data = dir + "/data/", target = dir + "/zal/";
    fs::create_directories(data);
    fs::create_directories(target);
    std::ofstream(data + "velky.dat") << std::string(4 << 20, 'v');
    std::ofstream(dir + "/jinde.dta") << "elsewhere";
    const auto windows = [](std::string path) {
        std::replace(path.begin(), path.end(), '/', '\\');
        return "Z:" + path;
    };
    form->State().DataFolder = windows(data);
    form->Target().TargetFolder = windows(target);
    form->Target().Letter = "Z";
    form->lstFileSpec->Items.Add(windows(dir + "/*.dta"));
    form->lstFileSpec->Items.Add(windows(data + "velky.dat"));
    const auto progress = form->Zip1->OnProgress;
    form->Zip1->OnProgress = [&](::TObject* sender, std::uint8_t file, std::uint8_t archive) {
        progress(sender, file, archive);
        form->pbxLed->OnClick(form->pbxLed);  // the person clicks the red LED
    };
    Headless().ClearTranscript();
    EXPECT_FALSE(form->BackupToDisk());
    EXPECT_EQ("Archivace přerušena", form->PanelMess->Caption);
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_TRUE(Headless().Transcript().empty());
    EXPECT_EQ(clGreen, form->LedColour());
}

}  // namespace
