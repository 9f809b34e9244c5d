// The program's forms on the Qt widget set as the user meets them: the main form, a menu form, a
// backup archive listed and the restore list; what each shows, the Qt window showing just that,
// and a picture of it for a person to look at.
#include "app/lib/FormMenu.h"
#include "app/lib/FormTorvo.h"
#include "app/qt/ShownOnScreen.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"
#include "support/ToolRun.h"
#include "writers/plxZip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include <cstdlib>
#include <filesystem>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

// The Qt widget set off screen over private settings in Dir.
void OnQtOffscreen(const fs::path& dir)
{
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    qtwindows::UseQt(dir);
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        Application->ProcessMessages();
}

using qtwindows::CheckAndShoot;

// The request side's commands as the toolbar and the "Servis" menu show them.
void ExpectCommandsOf(TFormTorvo& main, bool backupSide)
{
    for (const auto& [button, item, on] :
         {std::tuple{main.sbArchiv, "Nabídka &archivace dat", backupSide},
          std::tuple{main.sbObnova, "Nabídka &obnova dat", !backupSide},
          std::tuple{main.sbUnZip, "Data obnovit - &rozbalit", !backupSide}}) {
        EXPECT_EQ(on, button->Enabled()) << item;
        EXPECT_EQ(std::optional<bool>(on), qtwindows::MenuItemEnabled(main, "Servis", item)) << item;
    }
}

}  // namespace

TEST(Screens, MainFormAndMenuForm)
{
    TScratchDir dir;
    OnQtOffscreen(dir.Path());
    ASSERT_EQ("qt", WidgetSet().Name());

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Show();
    main->PanelMess->Caption = "Archivace na disk E:  ... ";
    main->LabelMess->SetCaption("Archivace dat licence 10001");
    Settle();
    // The Czech toolbar; the manager's controls stay hidden until a request or command shows them.
    EXPECT_EQ((std::vector<std::string>{"&Konec", "&Archivace", "&Obnova", "&Rozbalit", "&Poznámka", "&E-mail"}),
              (std::vector<std::string>{main->sbExit->Caption, main->sbArchiv->Caption, main->sbObnova->Caption,
                                        main->sbUnZip->Caption, main->sbComment->Caption, main->sbEmail->Caption}));
    for (TControl* hidden : std::initializer_list<TControl*>{main->ZipView1, main->ListView1, main->Edit1,
                                                             main->Edit2, main->ComboBox1, main->CheckBox1})
        EXPECT_FALSE(hidden->Showing()) << hidden->Name;
    EXPECT_TRUE(main->PanelMess->Showing());
    CheckAndShoot(*main, "torvo_main.png");
    main->Hide();
    delete main;

    // One group label and two items; the in/out number 6 picks the second.
    TFormMenu menu(nullptr);
    menu.EnsureCreated();
    ASSERT_TRUE(menu.Build("", 6, "~Skupina|A‡5<x>|B‡6<y>", "Ukázka"));
    menu.Show();
    Settle();
    EXPECT_EQ("  Ukázka", menu.Caption);
    ASSERT_EQ(1u, menu.Labels().size());
    ASSERT_EQ(2u, menu.Buttons().size());
    EXPECT_EQ("Skupina", menu.Labels()[0]->Caption);
    const TVColButton& a = *menu.Buttons()[0];
    const TVColButton& b = *menu.Buttons()[1];
    EXPECT_EQ("A", a.Caption);
    EXPECT_EQ("B", b.Caption);
    // Items one per row from the left edge, the default height apart, the label above them.
    EXPECT_EQ(5, menu.Labels()[0]->Left());
    EXPECT_EQ(5, a.Left());
    EXPECT_EQ(5, b.Left());
    EXPECT_EQ(a.Width(), b.Width());
    EXPECT_EQ(25, a.Height());
    EXPECT_EQ(a.Top() + 25, b.Top());
    EXPECT_LT(menu.Labels()[0]->Top(), a.Top());
    EXPECT_EQ(1, menu.PreselectIndex());
    EXPECT_EQ(1, menu.DefaultIndex());
    CheckAndShoot(menu, "torvo_menu.png");
    menu.Hide();
}

TEST(Screens, BackupArchiveInTheListViewAndTheRestoreList)
{
    TScratchDir scratch;
    const fs::path dir = scratch.Path();
    OnQtOffscreen(dir);
    WriteText(dir / "data" / "kniha.dat", std::string(70000, 'k'));
    WriteText(dir / "data" / "Účtování.dat", "účtování");
    WriteText(dir / "data" / "Šťáva.txt", "šťáva");
    const fs::path archives = dir / "ZALOHY";
    fs::create_directories(archives);

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Target().TargetFolder = ZDrivePath(archives) + "\\";
    const char* comments[] = {"Záloha před uzávěrkou", "Po uzávěrce"};
    for (int i = 0; i < 2; ++i) {
        const std::string name = "Ucto (00" + std::to_string(i + 1) + ").ZIP";
        main->Zip1->SetFileSpec({ZDrivePath(dir / "data") + "\\*.*"});
        main->Zip1->SetArchiveFile(ZDrivePath(archives / name));
        ASSERT_EQ(3 - i, main->Zip1->Compress());
        main->RunComment = comments[i];
        main->WriteArchiveComment(name);
        fs::remove(dir / "data" / "kniha.dat");
    }

    // Mode 0: the archive list view in the client area, the backup commands on.
    main->Show();
    main->ShowControlsForMode(0);
    main->PanelMess->Caption = "Archivace na disk C:  ... ";
    main->LabelMess->SetCaption("Archivace dat licence 10001");
    ASSERT_TRUE(main->RefreshList(ZDrivePath(archives / "Ucto (001).ZIP")));
    Settle();
    ASSERT_EQ(3, main->ZipView1->Items.Count());
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i)
        names.push_back(main->ZipView1->Items.Fields(i)[0]);
    std::sort(names.begin(), names.end());
    EXPECT_EQ((std::vector<std::string>{"kniha.dat", "Účtování.dat", "Šťáva.txt"}), names);
    EXPECT_TRUE(main->ZipView1->Showing());
    EXPECT_EQ(alClient, main->ZipView1->Align());
    EXPECT_FALSE(main->lstFileSpec->Showing());
    ExpectCommandsOf(*main, true);
    CheckAndShoot(*main, "torvo_backup_listed.png");

    // Mode 1: the list of the target's archives in its place, the restore commands on.
    main->ShowControlsForMode(1);
    main->State().ArchiveBaseName = "Ucto";
    main->PanelMess->Caption = "Z disku C: vyberte soubor k obnově dat a stiskněte klávesu Enter";
    main->LabelMess->SetCaption("Obnova dat licence 10001");
    main->ListTargetArchives();
    Settle();
    ASSERT_EQ(2, main->lstFileSpec->Items.Count());
    EXPECT_EQ("Ucto (002).ZIP\t2\tPo uzávěrce", main->lstFileSpec->Items[1]);
    EXPECT_EQ(1, main->lstFileSpec->ItemIndex());
    EXPECT_TRUE(main->lstFileSpec->Showing());
    EXPECT_EQ(alClient, main->lstFileSpec->Align());
    EXPECT_FALSE(main->ZipView1->Showing());
    ExpectCommandsOf(*main, false);
    CheckAndShoot(*main, "torvo_restore_list.png");
    main->Hide();
    delete main;
}

// Fontconfig keeps its caches until exit.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
