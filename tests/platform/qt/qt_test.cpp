// The Qt widget set as a user meets it: pictures of the controls where they stand, keys, menus,
// resizing, language, scale and requests from other processes.
#include "platform/qt/QtWidgetSet.h"
#include "platform/vcl/DemoForm.h"
#include "readers/view/plxZipView.h"
#include "support/Child.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

using namespace vcl;
using demo::TDemoForm;

namespace {

void UseQt()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (WidgetSet().Name() != "qt")
        SetWidgetSet(torvoqt::CreateQtWidgetSet());
}

QWidget* WindowOf(TForm& form)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QString::fromStdString(form.Caption))
            return w;
    return nullptr;
}

TColor PixelOf(const QImage& image, int x, int y)
{
    QRgb p = image.pixel(x, y);
    return RGB(qRed(p), qGreen(p), qBlue(p));
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        Application->ProcessMessages();
}

// Sends a key where the user's key would go: the focused widget of the form's window.
void Key(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, key, modifiers);
    Settle();
}

}  // namespace

TEST(QtPeers, NothingIsRedrawnWhileNothingChanges)
{
    UseQt();
    TDemoForm form(nullptr);
    int paints = 0;
    form.paint->OnPaint = [&](TObject*) { ++paints; };
    form.Show();
    Settle();
    QTest::qWait(50);
    Settle();
    const int settled = paints;
    for (int i = 0; i < 20; ++i) {
        QTest::qWait(10);
        Application->ProcessMessages();
    }
    EXPECT_EQ(paints, settled);
    form.paint->Invalidate();  // a change repaints that control
    Settle();
    QTest::qWait(50);
    Settle();
    EXPECT_GT(paints, settled);

    // A native control shows a change of its own state at once.
    form.edit->SetText("abc");
    Settle();
    auto* edit = WindowOf(form)->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "abc");
    form.Hide();
}

TEST(QtPeers, KeyboardReachesEveryControlAndTheFormsButtons)
{
    UseQt();
    TDemoForm form(nullptr);
    form.label->FocusControl = form.edit;
    form.check->Caption = "&Check";
    int okClicks = 0, cancelClicks = 0;
    form.ok->OnClick = [&](TObject*) { ++okClicks; };
    form.cancel->OnClick = [&](TObject*) { ++cancelClicks; };
    form.Show();
    Settle();
    QWidget* window = WindowOf(form);
    ASSERT_NE(window, nullptr);

    // Tab moves the form's focus and Qt's together.
    form.edit->SetFocus();
    Settle();
    EXPECT_EQ(window->focusWidget(), window->findChild<QLineEdit*>());
    Key(window, Qt::Key_Tab);
    EXPECT_EQ(form.ActiveControl(), form.check);
    EXPECT_EQ(window->focusWidget(), window->findChild<QCheckBox*>());
    Key(window, Qt::Key_Space);
    EXPECT_TRUE(form.check->Checked());
    Key(window, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(form.ActiveControl(), form.edit);

    // Typing edits natively; Enter in the edit clicks the default button, Esc the cancel one.
    QTest::keyClicks(window->focusWidget(), "xy");
    Settle();
    EXPECT_EQ(form.edit->Text(), "xy");
    Key(window, Qt::Key_Return);
    EXPECT_EQ(okClicks, 1);
    Key(window, Qt::Key_Escape);
    EXPECT_EQ(cancelClicks, 1);

    // Alt+letter: the check box toggles and takes the focus, the label gives it to the edit.
    Key(window, Qt::Key_C, Qt::AltModifier);
    EXPECT_FALSE(form.check->Checked());
    EXPECT_EQ(form.ActiveControl(), form.check);
    Key(window, Qt::Key_N, Qt::AltModifier);
    EXPECT_EQ(form.ActiveControl(), form.edit);

    // A menu's shortcut works from a native edit, and while the menu is hidden.
    Key(window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(form.opened, 1);
    form.Menu->Items()->Items(0)->Visible = false;
    Key(window, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(form.opened, 2);
    form.Hide();
}

TEST(QtPeers, MenusShowTheirItemsStateAtOnceAndF10OpensTheBar)
{
    UseQt();
    TDemoForm form(nullptr);
    TMenuItem* file = form.Menu->Items()->Items(0);
    TMenuItem* open = file->Items(0);
    auto* more = NewItem(&form, "&More");
    form.Menu->Items()->Add(more);
    more->Add(NewItem(&form, "&Checked"));
    form.Show();
    Settle();
    QWidget* window = WindowOf(form);
    auto* bar = window->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->font().pointSize(), form.Font.Size);  // the form's font, not a larger default

    file->Caption = "&Soubor";
    more->Enabled = false;
    Settle();
    EXPECT_EQ(bar->actions()[0]->text(), "&Soubor");
    EXPECT_FALSE(bar->actions()[1]->isEnabled());
    more->Visible = false;
    Settle();
    EXPECT_EQ(bar->actions().size(), 1);

    // F10 opens the first menu; its items say what the program set just before.
    open->Enabled = false;
    Settle();
    Key(window, Qt::Key_F10);
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    ASSERT_EQ(popup->actions().size(), 1);
    EXPECT_TRUE(popup->actions()[0]->text().startsWith("&Open\t"));
    EXPECT_FALSE(popup->actions()[0]->isEnabled());
    popup->close();
    Settle();

    // A click on a menu item runs it; an item the program removed meanwhile does nothing.
    open->Enabled = true;
    Key(window, Qt::Key_F10);
    popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(popup, nullptr);
    QAction* action = popup->actions()[0];
    action->trigger();
    Settle();
    EXPECT_EQ(form.opened, 1);
    delete open;
    action->trigger();
    Settle();
    EXPECT_EQ(form.opened, 1);
    if (QApplication::activePopupWidget())
        QApplication::activePopupWidget()->close();
    form.Hide();
}

TEST(QtPeers, TheUserResizesASizeableFormAndItsLayoutFollows)
{
    UseQt();
    TDemoForm form(nullptr);
    form.Constraints.MinWidth = 300;
    form.Show();
    Settle();
    QWidget* window = WindowOf(form);
    const int menu = window->height() - form.ClientHeight();
    EXPECT_GT(menu, 0);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    window->resize(1000, 700 + menu);
    Settle();
    EXPECT_EQ(form.ClientWidth(), 1000);
    EXPECT_EQ(form.ClientHeight(), 700);
    EXPECT_EQ(form.client->BoundsRect(), Rect(60, 40, 950, 700 - form.bottom->Height()));
    EXPECT_EQ(window->minimumWidth(), 300 - (form.Width() - form.ClientWidth()));
    form.Hide();

    // A dialog keeps its size and shows no maximise button.
    TDemoForm dialog(nullptr);
    dialog.Caption = "Dialog";
    dialog.BorderStyle = bsDialog;
    dialog.Show();
    Settle();
    QWidget* fixed = WindowOf(dialog);
    EXPECT_EQ(fixed->minimumSize(), fixed->maximumSize());
    EXPECT_FALSE(fixed->windowFlags() & Qt::WindowMaximizeButtonHint);
    dialog.Hide();
}

TEST(QtPeers, StandardButtonsSpeakTheUsersLanguage)
{
    UseQt();
    std::vector<QString> texts;
    auto answer = [&] {
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QAbstractButton* b : box->buttons())
                texts.push_back(b->text());
            box->button(QMessageBox::No)->click();
        });
        return Application->MessageBox("Pokračovat?", "  Otázka", MB_YESNOCANCEL | MB_ICONQUESTION);
    };
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic));
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
    EXPECT_EQ(answer(), IDNO);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "&Ano"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "&Ne"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Zrušit"), texts.end());

    texts.clear();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    SetWidgetSet(torvoqt::CreateQtWidgetSet());
    EXPECT_EQ(answer(), IDNO);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "&Yes"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Cancel"), texts.end());
}

// At twice the scale the painted controls are drawn at the screen's pixels, not enlarged.
TEST(QtPeers, PaintingIsCrispAtTwiceTheScale)
{
    if (!std::getenv("TORVO_TEST_SCALED")) {
        setenv("TORVO_TEST_SCALED", "1", 1);
        setenv("QT_SCALE_FACTOR", "2", 1);
        testsupport::Child child({"/proc/self/exe", "--gtest_filter=QtPeers.PaintingIsCrispAtTwiceTheScale"});
        unsetenv("TORVO_TEST_SCALED");
        unsetenv("QT_SCALE_FACTOR");
        ASSERT_TRUE(child.Started());
        EXPECT_EQ(child.Wait(), 0);
        return;
    }
    UseQt();
    TDemoForm form(nullptr);
    form.Show();
    Settle();
    const std::string path = (std::filesystem::temp_directory_path() / "demo_form_2x.png").string();
    ASSERT_TRUE(form.SaveScreenshot(path));
    QImage image(QString::fromStdString(path));
    ASSERT_EQ(image.width(), 800);
    ASSERT_EQ(image.height(), 600);
    // The label's text: enlarged from 1x, every even column would equal the next odd one.
    bool finer = false;
    for (int x = 2 * 68; x < 2 * 128 && !finer; x += 2)
        for (int y = 2 * 44; y < 2 * 57 && !finer; ++y)
            finer = image.pixel(x, y) != image.pixel(x + 1, y);
    EXPECT_TRUE(finer);
    form.Hide();
}

// A few rows of the archive list view on screen, saved for a person to look at.
TEST(QtZipView, ScreenshotOfAFewRows)
{
    UseQt();
    TForm form(nullptr);
    form.Caption = "Archive";
    form.SetClientWidth(640);
    form.SetClientHeight(160);
    auto* view = new TZipView(&form);
    view->SetParent(&form);
    view->SetAlign(alClient);
    view->Items.AddFields({"readme.txt", "05.03.24  13:45", "812", "2035", "60%", "Deflated", "_a___ (32)", "docs\\"});
    view->Items.AddFields(
        {"backup;2024.zip", "31.12.23  23:59", "5000000000", "5000000000", "0%", "Stored", "_a___ (32)"});
    view->Items.AddFields({"logo.png", "01.01.24  08:00", "4096", "4100", "0%", "Stored", "_a___ (32)", "img\\"});
    view->Items.AddFields({"setup.exe", "02.02.24  12:00", "100000", "250000", "60%", "Deflated", "_a___ (32)"});
    view->SetSelected(1, true);
    form.Show();
    Application->ProcessMessages();
    std::string path = std::string(TORVO_BUILD_DIR) + "/zipview.png";
    ASSERT_TRUE(form.SaveScreenshot(path));
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 640);
    // The selected second row is green across its cells.
    int y = 2 + 21 + 2 + 16 + 8;
    EXPECT_EQ(PixelOf(image, 300, y), 0x008000);
    form.Hide();
}

TEST(QtWidgetSet, ScreenshotShowsTheControlsAtTheirPositions)
{
    UseQt();
    ASSERT_EQ(WidgetSet().Name(), "qt");
    demo::TDemoForm form(nullptr);
    form.Show();
    form.edit->SetText("typed");
    Application->ProcessMessages();
    std::string path = (std::filesystem::temp_directory_path() / "demo_form.png").string();
    ASSERT_TRUE(form.SaveScreenshot(path));
    QImage image(QString::fromStdString(path));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.width(), 400);
    ASSERT_EQ(image.height(), 300);
    EXPECT_EQ(PixelOf(image, 200, 20), clRed);
    EXPECT_EQ(PixelOf(image, 30, 150), clLime);
    EXPECT_EQ(PixelOf(image, 375, 150), clBlue);
    EXPECT_EQ(PixelOf(image, 60 + 200, 40 + 60), clYellow);
    EXPECT_EQ(PixelOf(image, 60 + 8 + 85, 40 + 30 + 2 + 5), clFuchsia);  // owner drawn through QPainter
    EXPECT_EQ(PixelOf(image, 60 + 8 + 85, 40 + 30 + 2 + 21), clAqua);
    EXPECT_EQ(PixelOf(image, 60 + 255, 40 + 205), clTeal);
    EXPECT_EQ(PixelOf(image, 60 + 268, 40 + 188), clNavy);
    // A native edit sits where the edit is: not the yellow of its panel.
    EXPECT_NE(PixelOf(image, 60 + 70 + 50, 40 + 4 + 10), clYellow);
    form.Hide();
}

namespace {
class TQtCopyForm : public TForm {
public:
    using TForm::TForm;
    std::string ClassName() const override { return "TQtTestCopyForm"; }
    void WMCopyData(TWMCopyData& m) override
    {
        received.assign(static_cast<const char*>(m.CopyDataStruct->lpData), m.CopyDataStruct->cbData);
        m.Result = 5;
        ModalResult = mrYes;
    }
    std::string received;
};
}  // namespace

TEST(QtWidgetSet, CopyDataFromAnotherProcessEndsAModalForm)
{
    UseQt();
    TQtCopyForm form(nullptr);
    form.Handle();
    testsupport::Child sender(
        {std::string(TORVO_BUILD_DIR) + "/tests/platform/vcl/copydata_sender", "TQtTestCopyForm", "from afar"});
    ASSERT_TRUE(sender.Started());
    // The form waits for the request, but not after the sender is gone or too slow.
    const auto end = std::chrono::steady_clock::now() + testsupport::PeerDeadline;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (form.ModalResult == mrNone && (std::chrono::steady_clock::now() > end || !sender.Running()))
            form.ModalResult = mrAbort;
    });
    watchdog.start(50);
    EXPECT_EQ(form.ShowModal(), mrYes);
    watchdog.stop();
    EXPECT_EQ(form.received, "from afar");
    EXPECT_EQ(sender.Wait(), 0);
}

// Font configuration keeps caches for the life of the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
