// An interactive backup driven by the keyboard alone reaches the same archive as one driven by
// the mouse; pictures of its windows at scale 1 (here) and 2 (a child run) for a person to look at.
#include "app/lib/FormMenu.h"
#include "app/lib/FormTorvo.h"
#include "platform/qt/QtWidgetSet.h"
#include "platform/win/Messages.h"
#include "readers/view/plxZipView.h"
#include "support/Child.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
namespace fs = std::filesystem;

namespace {

const fs::path Shots = fs::path(TORVO_BUILD_DIR) / "screenshots";

std::string Scale()
{
    return std::getenv("QT_SCALE_FACTOR") ? "_2x" : "";
}

void SaveWindow(QWidget* w, const std::string& name)
{
    fs::create_directories(Shots);
    w->grab().save(QString::fromStdString((Shots / (name + Scale() + ".png")).string()), "PNG");
}

QWidget* WindowOf(TForm& form)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QString::fromStdString(form.Caption).trimmed())
            return w;
    return nullptr;
}

void KeyTo(TForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* window = WindowOf(form);
    if (!window)
        return;
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key, modifiers);
}

// The user at the menus of one interactive backup: the first menu's first item, then drive A:.
class User {
public:
    explicit User(bool keyboard) : keyboard_(keyboard)
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Act(); });
        timer_.start(30);
    }
    int menusAnswered = 0;

private:
    void Act()
    {
        if (busy_)
            return;
        busy_ = true;
        auto* menu = dynamic_cast<TFormMenu*>(Screen->ActiveForm);
        if (menu && menu->IsModal() && WindowOf(*menu) && menu->ActiveControl())
            Answer(*menu);
        busy_ = false;
    }
    void Answer(TFormMenu& menu)
    {
        const bool target = menusAnswered == 1;
        SaveWindow(WindowOf(menu),
                   keyboard_ ? (target ? "torvo_target_menu" : "torvo_first_menu") : "torvo_menu_mouse");
        int wanted = 0;
        if (target)
            for (size_t i = 0; i < menu.Buttons().size(); ++i)
                if (StripHotkey(menu.Buttons()[i]->Caption).find("(A:)") != std::string::npos)
                    wanted = int(i);
        ++menusAnswered;
        TButton* button = menu.Buttons().at(size_t(wanted));
        if (!keyboard_) {
            QTest::mouseClick(
                WindowOf(menu)->childAt(button->FormOrigin().X + 5,
                                        button->FormOrigin().Y + 5 + (WindowOf(menu)->height() - menu.ClientHeight())),
                Qt::LeftButton);
            return;
        }
        KeyTo(menu, Qt::Key_Home);
        for (int i = 0; i < 30 && menu.ActiveControl() != button; ++i)
            KeyTo(menu, Qt::Key_Tab);
        KeyTo(menu, Qt::Key_Return);
    }
    bool keyboard_;
    bool busy_ = false;
    QTimer timer_;
};

// Pictures of the main window after a backup: resized by the user with its list filling it, the
// first menu of its menu bar, and a message box.
void ShootMainWindow(TFormTorvo& main)
{
    QWidget* window = WindowOf(main);
    ASSERT_NE(window, nullptr);
    const int menuBar = window->height() - main.ClientHeight();
    window->resize(1000, 700 + menuBar);
    Application->ProcessMessages();
    EXPECT_EQ(main.ClientWidth(), 1000);
    EXPECT_EQ(main.ZipView1->Width(), 1000);
    SaveWindow(window, "torvo_main_resized");
    KeyTo(main, Qt::Key_F10);
    Application->ProcessMessages();
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    SaveWindow(popup, "torvo_menubar_menu");
    popup->close();
    QTimer::singleShot(50, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            SaveWindow(box, "torvo_message_box");
            box->button(QMessageBox::No)->click();
        }
    });
    EXPECT_EQ(IDNO, Application->MessageBox("Přepsat archiv?", "  Archivace", MB_YESNOCANCEL | MB_ICONQUESTION));
}

// One run of the program for one interactive backup as the maker's program asks for it; returns
// the archive made.
fs::path BackUp(bool keyboard, const fs::path& a)
{
    const size_t before =
        fs::exists(a / "ZALOHY") ? size_t(std::distance(fs::directory_iterator(a / "ZALOHY"), {})) : 0;
    auto* main = new TFormTorvo(nullptr);
    Application->MainForm = main;
    main->EnsureCreated();
    main->Show();
    Application->ProcessMessages();
    User user(keyboard);
    testsupport::Child caller({std::string(TORVO_BUILD_DIR) + "/tests/app/torvo-caller", "--command", "1", "--mode",
                               "0", "--folder", "C:\\data\\", "--timeout", "60"});
    EXPECT_TRUE(caller.Started());
    const auto pump = [] { Application->ProcessMessages(); };
    const fs::path archive = a / "ZALOHY" / ("Ucto (00" + std::to_string(before + 1) + ").ZIP");
    EXPECT_TRUE(testsupport::Eventually(
        [&] {
            return user.menusAnswered == 2 && fs::exists(archive) && !main->IsModal() && Screen->ActiveForm == main;
        },
        testsupport::PeerDeadline, pump));
    if (keyboard)
        ShootMainWindow(*main);
    // The finish ends the request and the run.
    testsupport::Child finish(
        {std::string(TORVO_BUILD_DIR) + "/tests/app/torvo-caller", "--command", "999", "--timeout", "5"});
    finish.Wait(testsupport::PeerDeadline, pump);
    caller.Wait(testsupport::PeerDeadline, pump);
    Application->ResetTerminated();
    Application->MainForm = nullptr;
    delete main;
    return archive;
}

}  // namespace

TEST(KeyboardBackup, KeysAloneMakeTheSameArchiveAsTheMouse)
{
    if (!std::getenv("TORVO_TEST_SCALED")) {
        // The same run at twice the scale, for its pictures.
        setenv("TORVO_TEST_SCALED", "1", 1);
        setenv("QT_SCALE_FACTOR", "2", 1);
        testsupport::Child child({"/proc/self/exe", "--gtest_filter=KeyboardBackup.*"});
        unsetenv("TORVO_TEST_SCALED");
        unsetenv("QT_SCALE_FACTOR");
        EXPECT_TRUE(child.Started());
        EXPECT_EQ(child.Wait(), 0);
    }
    const fs::path home = std::getenv("HOME"), dir = home.parent_path() / ("kb" + Scale());
    setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("LANG", "cs_CZ.UTF-8", 1);
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
    const fs::path a = dir / "a";
    fs::create_directories(a);
    WriteText(fs::path(std::getenv("XDG_CONFIG_HOME")) / "torvo" / "drives", "A: removable " + a.string() + "\n");
    WriteText(home / "data" / "archivace.dta",
              "[MENUARCHIV]C:\\data\\menu.txt\r\n[PATHARCHIVDRV]A:\\ZALOHY\\\r\n[PATHARCHIV]C:\\ZALOHY\\\r\n"
              "[PATHARCHIVACE]C:\\data\\*.dta\r\n[COMMENT1]Zaloha\r\n");
    WriteText(home / "data" / "menu.txt", "[Menu]\r\n{0}Archivace\r\n[Archivace] Archivace dat\r\n~Data|Data\x87"
                                          "0<x>\r\n[Seznam]\r\n"
                                          "{0}Ucto\x87Ucto\r\n[Ucto]\r\n{1}kniha.dat\x87"
                                          "a\r\n");
    WriteText(home / "data" / "kniha.dat", std::string(50000, 'k'));

    const fs::path byMouse = BackUp(false, a);
    const fs::path byKeys = BackUp(true, a);
    ASSERT_TRUE(fs::exists(byMouse));
    ASSERT_TRUE(fs::exists(byKeys));
    int status = -1;
    const std::string extracted =
        CaptureCommand("cd " + ShellQuote(dir.string()) + " && unzip -qq -o -d m " + ShellQuote(byMouse.string()) +
                           " && unzip -qq -o -d k " + ShellQuote(byKeys.string()) + " && diff -r m k && ls k",
                       &status);
    EXPECT_EQ(0, status) << extracted;
    EXPECT_NE(std::string::npos, extracted.find("kniha.dat")) << extracted;

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}
