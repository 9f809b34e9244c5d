// Pictures of the program's forms on the Qt widget set, for a person to look at.
#include "app/lib/FormMenu.h"
#include "app/lib/FormTorvo.h"
#include "platform/qt/QtWidgetSet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace vcl;
namespace fs = std::filesystem;

TEST(Screens, MainFormAndMenuForm)
{
    char pattern[] = "/tmp/torvo-screens-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    setenv("XDG_RUNTIME_DIR", pattern, 1);
    setenv("XDG_CONFIG_HOME", pattern, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
    ASSERT_EQ("qt", WidgetSet().Name());
    const fs::path folder = fs::path(TORVO_BUILD_DIR) / "screenshots";
    fs::create_directories(folder);

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
    fs::remove_all(pattern);
}

// Fontconfig keeps its caches until exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
