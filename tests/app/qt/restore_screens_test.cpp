// Pictures of the main window with a backup archive listed and with the restore list.
#include "app/lib/FormTorvo.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"
#include "writers/plxZip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The program's own form of a host path (the Z: drive is the root).
std::string WinPath(const fs::path& path)
{
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

}  // namespace

TEST(Screens, BackupArchiveInTheListViewAndTheRestoreList)
{
    char pattern[] = "/tmp/torvo-restore-screens-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path dir = pattern;
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (WidgetSet().Name() != "qt")
        SetWidgetSet(torvoqt::CreateQtWidgetSet());
    const fs::path shots = fs::path(TORVO_BUILD_DIR) / "screenshots";
    fs::create_directories(shots);
    WriteFile(dir / "data" / "kniha.dat", std::string(70000, 'k'));
    WriteFile(dir / "data" / "Účtování.dat", "účtování");
    WriteFile(dir / "data" / "Šťáva.txt", "šťáva");
    const fs::path archives = dir / "ZALOHY";
    fs::create_directories(archives);

    auto* main = new TFormTorvo(nullptr);
    main->EnsureCreated();
    main->Target().TargetFolder = WinPath(archives) + "\\";
    const char* comments[] = {"Záloha před uzávěrkou", "Po uzávěrce"};
    for (int i = 0; i < 2; ++i) {
        const std::string name = "Ucto (00" + std::to_string(i + 1) + ").ZIP";
        main->Zip1->SetFileSpec({WinPath(dir / "data") + "\\*.*"});
        main->Zip1->SetArchiveFile(WinPath(archives / name));
        ASSERT_EQ(3 - i, main->Zip1->Compress());
        main->RunComment = comments[i];
        main->WriteArchiveComment(name);
        fs::remove(dir / "data" / "kniha.dat");
    }

    main->Show();
    main->ShowControlsForMode(0);
    main->PanelMess->Caption = "Archivace na disk C:  ... ";
    main->LabelMess->SetCaption("Archivace dat licence 10001");
    ASSERT_TRUE(main->RefreshList(WinPath(archives / "Ucto (001).ZIP")));
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
    fs::remove_all(dir);
}
