// The letters a keyboard user presses on a real display: Alt with a radio item's letter chooses
// it (and the letter is underlined), and every menu has one item per letter.
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormTorvo.h"
#include "app/qt/ManagerWindows.h"
#include "platform/vcl/Menus.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

using namespace vcl;
using namespace qtwindows;
namespace fs = std::filesystem;

namespace {

// Answers what opens on screen while the code under test waits in a modal loop.
class Answerer {
public:
    using Rule = std::function<void(QWidget* modal, QMenu* popup)>;
    explicit Answerer(Rule rule) : rule_(std::move(rule))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (busy_)
                return;
            busy_ = true;
            rule_(QApplication::activeModalWidget(), qobject_cast<QMenu*>(QApplication::activePopupWidget()));
            busy_ = false;
        });
        timer_.start(20);
    }

private:
    Rule rule_;
    QTimer timer_;
    bool busy_ = false;
};

// A key at the focused widget of a window, after the current event: what it opens runs in a
// loop of its own.
void KeyLater(QWidget* window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTimer::singleShot(0, window, [window, key, modifiers] {
        QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key, modifiers);
    });
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path MakeZip(const fs::path& dir)
{
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        std::ofstream(dir / name) << std::string(2000, name[0]) << name;
    CaptureCommand("cd " + ShellQuote(dir.string()) + " && zip -q m.zip a.txt b.txt c.txt");
    return dir / "m.zip";
}

// The items of one menu level whose letter another item of the level has too.
std::string SharedLetters(TMenuItem* parent, const std::string& where)
{
    std::string shared, seen;
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem* item = parent->Items(i);
        const char key = HotkeyOf(item->Caption);
        if (key && seen.find(key) != std::string::npos)
            shared += where + ": " + item->Caption + "\n";
        if (key)
            seen += key;
        shared += SharedLetters(item, where + " > " + StripHotkey(item->Caption));
    }
    return shared;
}

}  // namespace

// Alt+A in the extract dialog chooses "All Files" (its A underlined): with one member selected,
// every member is extracted.
TEST(Mnemonics, AltWithARadioItemsLetterChoosesIt)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path());
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    Manager m(archive);
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    Application->ProcessMessages();
    ASSERT_EQ(1, m.main->ZipView1->GetSelCount());

    int chosenBefore = -1, chosen = -1;
    std::string focused;
    QImage group;
    TfrmExtract* extract = nullptr;
    Answerer user([&](QWidget* modal, QMenu*) {
        auto* form = dynamic_cast<TfrmExtract*>(Screen->ActiveForm);
        if (!modal || !form || !form->IsModal() || extract)
            return;
        extract = form;
        auto* field = qobject_cast<QLineEdit*>(WidgetOf(*form, *form->Edit1));
        ASSERT_NE(field, nullptr);
        field->selectAll();
        QTest::keyClicks(field, QString::fromStdString(out.string()));
        chosenBefore = form->RadioGroup1->ItemIndex();
        QTest::keyClick(field, Qt::Key_A, Qt::AltModifier);
        Application->ProcessMessages();
        chosen = form->RadioGroup1->ItemIndex();
        focused = form->ActiveControl() ? form->ActiveControl()->Name : "(none)";
        group = WidgetOf(*form, *form->RadioGroup1)->grab().toImage();
        KeyLater(modal, Qt::Key_Return);
    });
    QTest::keyClick(list, Qt::Key_E, Qt::ControlModifier);
    Application->ProcessMessages();
    ASSERT_NE(extract, nullptr);
    EXPECT_EQ(0, chosenBefore);
    EXPECT_EQ(1, chosen);
    EXPECT_EQ("RadioGroup1", focused);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        EXPECT_TRUE(fs::exists(out / name)) << name;
        EXPECT_EQ(Read(dir.Path() / name), Read(out / name)) << name;
    }

    // The line under "A" of "All Files", and none under the rest of the word.
    ASSERT_FALSE(group.isNull());
    const TRect item = extract->RadioGroup1->ItemRect(1);
    const TFont& font = extract->RadioGroup1->Font;
    const int lineHeight = WidgetSet().TextExtent("Wg", font).cy;
    const int y = item.Top + (item.Height() - lineHeight) / 2 + lineHeight - 2;
    const int left = item.Left + 16, width = WidgetSet().TextExtent("A", font).cx;
    const QColor face(group.pixel(item.Right - 2, item.Top + 1));
    int under = 0, beyond = 0;
    for (int x = left + 1; x < left + width - 1; ++x)
        under += QColor(group.pixel(x, y)) != face;
    for (int x = left + width + 2; x < left + width + 12; ++x)
        beyond += QColor(group.pixel(x, y)) != face;
    EXPECT_EQ(width - 2, under);
    EXPECT_EQ(0, beyond);
}

// Every menu the program builds has one item per letter; in the list's pop-up menu a letter runs
// its item at once ("N" New, "R" Rename: the archive takes the new name) and a letter of no item
// does nothing.
TEST(Mnemonics, EveryMenuHasOneItemPerLetter)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path());
    Manager m(archive);
    TfrmAddFiles add(nullptr);
    TfrmExtract extract(nullptr);
    EXPECT_EQ("", SharedLetters(m.main->MainMenu1->Items(), "main menu"));
    EXPECT_EQ("", SharedLetters(m.main->PopupMenu1->Items(), "pop-up menu"));
    EXPECT_EQ("", SharedLetters(add.MainMenu1->Items(), "add dialog"));
    EXPECT_EQ("", SharedLetters(extract.MainMenu1->Items(), "extract dialog"));

    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    int step = 0;
    bool stayedAfterZ = false, newAsked = false, renameAsked = false;
    Answerer user([&](QWidget* modal, QMenu* popup) {
        if (popup && step == 0) {
            ++step;
            KeyLater(popup, Qt::Key_Z);
        } else if (popup && step == 1) {
            stayedAfterZ = true;
            ++step;
            KeyLater(popup, Qt::Key_N);
        } else if (popup && step == 2) {
            popup->close();  // N ran nothing
            ++step;
        } else if (auto* files = qobject_cast<QFileDialog*>(modal); files && step == 2) {
            newAsked = files->windowTitle() == "New Archive...";
            QTimer::singleShot(0, files, [files] { files->reject(); });
            ++step;
        } else if (popup && step == 3) {
            ++step;
            KeyLater(popup, Qt::Key_R);
        } else if (popup && step == 4) {
            popup->close();  // R ran nothing
            ++step;
        } else if (modal && step == 4 && Screen->ActiveForm && Screen->ActiveForm->IsModal()) {
            TForm& input = *Screen->ActiveForm;
            renameAsked = input.Caption == "Rename current archive...";
            ++step;
            QTimer::singleShot(0, modal, [modal] {
                QTest::keyClick(modal->focusWidget(), Qt::Key_A, Qt::ControlModifier);
                QTest::keyClicks(modal->focusWidget(), "renamed.zip");
                QTest::keyClick(modal->focusWidget(), Qt::Key_Return);
            });
        }
    });
    QTest::keyClick(list, Qt::Key_Menu);
    Application->ProcessMessages();
    EXPECT_TRUE(stayedAfterZ);
    EXPECT_TRUE(newAsked);
    if (step == 3) {
        QTest::keyClick(m.List(), Qt::Key_Menu);
        Application->ProcessMessages();
    }
    EXPECT_TRUE(renameAsked);
    EXPECT_TRUE(fs::exists(dir.Path() / "renamed.zip"));
    EXPECT_FALSE(fs::exists(archive));
    int status = -1;
    CaptureCommand("unzip -tq " + ShellQuote((dir.Path() / "renamed.zip").string()), &status);
    EXPECT_EQ(0, status);
}
