// Pictures of the program's forms on the Qt widget set, for a person to look at: the main form,
// a menu form, a backup archive listed and the restore list.
#include "app/lib/FormMenu.h"
#include "app/lib/FormTorvo.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"
#include "support/ToolRun.h"
#include "writers/plxZip.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

// The Qt widget set off screen over private settings in Dir; answers where the pictures go.
fs::path OnQtOffscreen(const fs::path& dir)
{
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (WidgetSet().Name() != "qt")
        SetWidgetSet(torvoqt::CreateQtWidgetSet());
    const fs::path shots = fs::path(TORVO_BUILD_DIR) / "screenshots";
    fs::create_directories(shots);
    return shots;
}

}  // namespace

TEST(Screens, MainFormAndMenuForm)
{
    TScratchDir dir;
    const fs::path folder = OnQtOffscreen(dir.Path());
    ASSERT_EQ("qt", WidgetSet().Name());

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Show();
    main->PanelMess->Caption = "Archivace na disk E:  ... ";
    main->LabelMess->SetCaption("Archivace dat licence 10001");
    Application->ProcessMessages();
    const fs::path mainShot = folder / "torvo_main.png";
    ASSERT_TRUE(main->SaveScreenshot(mainShot.string()));
    EXPECT_GT(fs::file_size(mainShot), 0u);
    main->Hide();
    delete main;

    TFormMenu menu(nullptr);
    menu.EnsureCreated();
    ASSERT_TRUE(menu.Build("", 6, "~Skupina|A‡5<x>|B‡6<y>", "Ukázka"));
    menu.Show();
    Application->ProcessMessages();
    const fs::path menuShot = folder / "torvo_menu.png";
    ASSERT_TRUE(menu.SaveScreenshot(menuShot.string()));
    EXPECT_GT(fs::file_size(menuShot), 0u);
    menu.Hide();
}

TEST(Screens, BackupArchiveInTheListViewAndTheRestoreList)
{
    TScratchDir scratch;
    const fs::path dir = scratch.Path();
    const fs::path shots = OnQtOffscreen(dir);
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

    main->Show();
    main->ShowControlsForMode(0);
    main->PanelMess->Caption = "Archivace na disk C:  ... ";
    main->LabelMess->SetCaption("Archivace dat licence 10001");
    ASSERT_TRUE(main->RefreshList(ZDrivePath(archives / "Ucto (001).ZIP")));
    EXPECT_EQ(3, main->ZipView1->Items.Count());
    Application->ProcessMessages();
    ASSERT_TRUE(main->SaveScreenshot((shots / "torvo_backup_listed.png").string()));

    main->ShowControlsForMode(1);
    main->State().ArchiveBaseName = "Ucto";
    main->PanelMess->Caption = "Z disku C: vyberte soubor k obnově dat a stiskněte klávesu Enter";
    main->LabelMess->SetCaption("Obnova dat licence 10001");
    main->ListTargetArchives();
    ASSERT_EQ(2, main->lstFileSpec->Items.Count());
    EXPECT_EQ("Ucto (002).ZIP\t2\tPo uzávěrce", main->lstFileSpec->Items[1]);
    EXPECT_EQ(1, main->lstFileSpec->ItemIndex());
    Application->ProcessMessages();
    ASSERT_TRUE(main->SaveScreenshot((shots / "torvo_restore_list.png").string()));
    main->Hide();
    delete main;
}

// Fontconfig keeps its caches until exit.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
