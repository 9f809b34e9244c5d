// The main window from one archive or run to the next, by keyboard through the Qt widgets: what a
// person gave for one archive stays with it, a restore's LED and status tell the truth until its
// result is read, and the window cannot be made so small that its controls cover each other.
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormTorvo.h"
#include "app/qt/ManagerWindows.h"
#include "platform/qt/QtConvert.h"
#include "platform/win/Paths.h"
#include "readers/view/plxZipView.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

using namespace vcl;
using namespace qtwindows;
namespace fs = std::filesystem;

namespace {

void Grab(QWidget* w, const std::string& name)
{
    fs::create_directories(Shots);
    w->grab().save(QString::fromStdString((Shots / (name + ".png")).string()), "PNG");
}

// What the person does at each window that opens, in turn; the keys go in after the handler that
// opened the window has returned to its modal loop.
class Person {
public:
    // Acts on the modal widget and the program's modal form (null for Qt's own dialogs); false
    // when the step waits for another window.
    using Step = std::function<bool(QWidget* modal, TForm* form)>;
    Person()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            TForm* form = Screen->ActiveForm;
            if (!modal || steps_.empty())
                return;
            if (form && !form->IsModal())
                form = nullptr;
            if (steps_.front()(modal, form))
                steps_.pop_front();
        });
        timer_.start(20);
    }
    void Then(Step step) { steps_.push_back(std::move(step)); }
    bool Done() const { return steps_.empty(); }

private:
    std::deque<Step> steps_;
    QTimer timer_;
};

// The window of the program's modal dialog (the main window may bear the same title).
QWidget* DialogWindow(TForm& form)
{
    QWidget* modal = QApplication::activeModalWidget();
    return form.IsModal() && modal && modal->windowTitle() == QString::fromStdString(form.Caption).trimmed() ? modal
                                                                                                              : nullptr;
}

// The Qt widget of a control of a dialog.
QWidget* DialogWidget(TForm& form, TControl& control)
{
    QWidget* window = DialogWindow(form);
    if (!window)
        return nullptr;
    const TPoint origin = control.FormOrigin();
    return window->childAt(origin.X + 2, origin.Y + window->height() - form.ClientHeight() + 2);
}

void Later(QWidget* context, std::function<void()> keys)
{
    QTimer::singleShot(0, context, std::move(keys));
}

QWidget* Focused(TForm& form)
{
    QWidget* window = DialogWindow(form);
    return window && window->focusWidget() ? window->focusWidget() : window;
}

// The dialog is up and ready for keys: its first field has the keyboard.
bool HasKeyboard(TForm& form, TControl& field)
{
    QWidget* widget = DialogWidget(form, field);
    return widget && widget == QApplication::focusWidget() && widget->window()->isActiveWindow();
}

void Type(TForm& form, const std::string& text)
{
    QTest::keyClicks(Focused(form), QString::fromStdString(text));
}

void Press(TForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(Focused(form), key, modifiers);
}

// A full name in Qt's file dialog, taken with Enter.
Person::Step NameInFileDialog(const fs::path& name)
{
    return [name](QWidget* modal, TForm*) {
        auto* files = qobject_cast<QFileDialog*>(modal);
        auto* edit = files ? files->findChild<QLineEdit*>("fileNameEdit") : nullptr;
        if (!edit)
            return false;
        // Set, not typed: the completer's list would take the Enter.
        Later(files, [edit, name] {
            edit->setFocus();
            edit->setText(QString::fromStdString(name.string()));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        return true;
    };
}

// The add dialog as it opens: what its fields show, then the person's keys.
struct AddDialogSeen {
    std::string defaultDir, passwordButton;
    int files = -1;
};

Person::Step AtAddDialog(AddDialogSeen& seen, std::function<void(TfrmAddFiles&)> keys)
{
    return [&seen, keys](QWidget*, TForm* form) {
        auto* add = dynamic_cast<TfrmAddFiles*>(form);
        if (!add || !HasKeyboard(*add, *add->Edit2))
            return false;
        auto* dir = qobject_cast<QLineEdit*>(DialogWidget(*add, *add->Edit1));
        auto* password = qobject_cast<QAbstractButton*>(DialogWidget(*add, *add->btnPassword));
        seen.defaultDir = dir ? dir->text().toStdString() : "(no field)";
        seen.passwordButton = password ? password->text().toStdString() : "(no button)";
        seen.files = add->lstFileSpec->Items.Count();
        Later(DialogWindow(*add), [add, keys] { keys(*add); });
        return true;
    };
}

// The password dialog: the phrase typed, Enter.
Person::Step GivePassword(const std::string& phrase)
{
    return [phrase](QWidget*, TForm* form) {
        if (!form || form->Name != "frmPassword1" || !HasKeyboard(*form, *static_cast<TEdit*>(form->FindComponent("Edit1"))))
            return false;
        Later(DialogWindow(*form), [form, phrase] {
            Type(*form, phrase);
            Press(*form, Qt::Key_Return);
        });
        return true;
    };
}

// A name typed into the add dialog's file field and taken with Enter; the field has the keyboard
// as the dialog opens.
void AddName(TfrmAddFiles& add, const fs::path& file)
{
    Type(add, file.string());
    Press(add, Qt::Key_Return);
}

bool Encrypted(const fs::path& archive)
{
    return CaptureCommand("7zz l -slt -p- " + ShellQuote(archive.string()) + " 2>&1").find("Encrypted = +") !=
           std::string::npos;
}

std::string Names(const fs::path& archive)
{
    return CaptureCommand("unzip -Z1 " + ShellQuote(archive.string()));
}

int Tested(const fs::path& archive, const std::string& password)
{
    int code = -1;
    CaptureCommand("unzip -tq -P " + ShellQuote(password) + " " + ShellQuote(archive.string()) + " >/dev/null 2>&1",
                   &code);
    return code;
}

// Runs a command of the window by its keys; answers once the person has done every step.
void RunByKeys(Manager& m, Person& person, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m.List(), key, modifiers);
    Application->ProcessMessages();
    EXPECT_TRUE(person.Done()) << "a window the person waited for did not open";
}

void ChooseFromPopup(Manager& m, Person& person, const QString& command)
{
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!popup)
            return;
        timer.stop();
        for (QAction* a : popup->actions())
            if (a->text().remove('&') == command)
                Later(popup, [popup, a] {
                    popup->setActiveAction(a);
                    QTest::keyClick(popup, Qt::Key_Return);
                });
    });
    timer.start(20);
    RunByKeys(m, person, Qt::Key_Menu, Qt::NoModifier);
}

}  // namespace

// A password, file list and folder given for one archive stay with it: the next New starts
// clean, so does an Add to another archive opened meanwhile (Enter there at once adds nothing),
// while an Add to the same archive keeps them; the add dialog starts in the shown archive's folder.
TEST(WindowRuns, WhatIsGivenForAnArchiveStaysWithIt)
{
    if (!HaveTool("7zz") || !HaveTool("zip"))
        GTEST_SKIP() << "7zz or zip missing";
    TScratchDir dir;
    UseQt(dir.Path());
    for (const char* folder : {"src", "A", "B"})
        fs::create_directories(dir.Path() / folder);
    const fs::path a = dir.Path() / "src" / "a.txt", b = dir.Path() / "src" / "b.txt";
    std::ofstream(a) << std::string(5000, 'a');
    std::ofstream(b) << std::string(5000, 'b');
    std::ofstream(dir.Path() / "B" / "c.txt") << "c";
    CaptureCommand("cd " + ShellQuote((dir.Path() / "B").string()) + " && zip -q other.zip c.txt");
    const fs::path other = dir.Path() / "B" / "other.zip", first = dir.Path() / "A" / "first.zip",
                   second = dir.Path() / "A" / "second.zip";
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));  // where the program was started
    Manager m(other);

    // Opening an archive makes its folder the one the add dialog starts in.
    AddDialogSeen seen;
    {
        Person person;
        person.Then(AtAddDialog(seen, [](TfrmAddFiles& add) { Press(add, Qt::Key_Escape); }));
        RunByKeys(m, person, Qt::Key_A, Qt::ControlModifier);
    }
    EXPECT_EQ((dir.Path() / "B").string(), seen.defaultDir);

    // New, a file and a password.
    std::string afterPassword;
    {
        Person person;
        person.Then(NameInFileDialog(first));
        person.Then(AtAddDialog(seen, [&](TfrmAddFiles& add) {
            AddName(add, a);
            Press(add, Qt::Key_P, Qt::AltModifier);
            afterPassword = qobject_cast<QAbstractButton*>(DialogWidget(add, *add.btnPassword))->text().toStdString();
            Press(add, Qt::Key_O, Qt::AltModifier);
        }));
        person.Then(GivePassword("secret"));
        ChooseFromPopup(m, person, "New");
    }
    EXPECT_EQ("&Password", seen.passwordButton);
    EXPECT_EQ("&PROTECTED", afterPassword);  // Alt+P still reaches it
    EXPECT_EQ("a.txt\n", Names(first));
    EXPECT_TRUE(Encrypted(first));
    EXPECT_EQ(0, Tested(first, "secret"));

    // The same archive, still shown: its add dialog keeps the password and the list.
    {
        Person person;
        person.Then(AtAddDialog(seen, [](TfrmAddFiles& add) { Press(add, Qt::Key_Escape); }));
        RunByKeys(m, person, Qt::Key_A, Qt::ControlModifier);
    }
    EXPECT_EQ("&PROTECTED", seen.passwordButton);
    EXPECT_EQ(1, seen.files);

    // The next New starts clean and writes what it is given, in the clear.
    {
        Person person;
        person.Then(NameInFileDialog(second));
        person.Then(AtAddDialog(seen, [&](TfrmAddFiles& add) {
            AddName(add, b);
            Press(add, Qt::Key_O, Qt::AltModifier);
        }));
        ChooseFromPopup(m, person, "New");
    }
    EXPECT_EQ("&Password", seen.passwordButton);
    EXPECT_EQ(0, seen.files);
    EXPECT_EQ("b.txt\n", Names(second));
    EXPECT_FALSE(Encrypted(second));

    // A password given for the second archive (the add then left with Esc) ...
    {
        Person person;
        person.Then(AtAddDialog(seen, [](TfrmAddFiles& add) {
            Press(add, Qt::Key_P, Qt::AltModifier);
            Press(add, Qt::Key_Escape);
        }));
        person.Then(GivePassword("zweite"));
        RunByKeys(m, person, Qt::Key_A, Qt::ControlModifier);
    }
    // ... stays with it when another archive is opened: Enter at once there adds nothing.
    {
        Person person;
        person.Then(NameInFileDialog(other));
        RunByKeys(m, person, Qt::Key_F2, Qt::NoModifier);
    }
    ASSERT_EQ(other.string(), m.Window()->windowTitle().toStdString());
    {
        Person person;
        person.Then(AtAddDialog(seen, [](TfrmAddFiles& add) {
            Press(add, Qt::Key_O, Qt::AltModifier);
            // An empty list keeps the dialog open.
            if (add.IsModal())
                Press(add, Qt::Key_Escape);
        }));
        RunByKeys(m, person, Qt::Key_A, Qt::ControlModifier);
    }
    EXPECT_EQ((dir.Path() / "B").string(), seen.defaultDir);
    EXPECT_EQ("&Password", seen.passwordButton);
    EXPECT_EQ(0, seen.files);
    EXPECT_EQ("c.txt\n", Names(other));
    EXPECT_FALSE(Encrypted(other));
    EXPECT_EQ(0, Tested(other, ""));
    EXPECT_EQ(0, Tested(first, "secret"));
    EXPECT_EQ("b.txt\n", Names(second));
}

namespace {

int FilesIn(const fs::path& dir)
{
    return int(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// The colour the LED shows on screen.
QColor LedShown(QWidget* led)
{
    return led->grab().toImage().pixelColor(led->width() / 2, led->height() / 2);
}

// The main window at the restore list of a request, the backup archive chosen.
struct RestoreWindow {
    RestoreWindow(const fs::path& archives, const fs::path& data)
    {
        main = new TFormTorvo(nullptr);
        Application->MainForm = main;
        main->EnsureCreated();
        main->Show();
        main->ShowControlsForMode(1);
        main->State().BackupSide = false;
        main->State().ArchiveBaseName = "Ucto";
        main->State().DataFolder = ZDrivePath(data) + "\\";
        main->Target().TargetFolder = ZDrivePath(archives) + "\\";
        main->Target().Letter = "Z";
        main->ListTargetArchives();
        Application->ProcessMessages();
    }
    ~RestoreWindow()
    {
        Application->MainForm = nullptr;
        delete main;
    }
    RestoreWindow(const RestoreWindow&) = delete;
    RestoreWindow& operator=(const RestoreWindow&) = delete;
    TFormTorvo* main;
};

}  // namespace

// The LED stays red while a restore's result is on screen and turns green once it has been read;
// once a restore stopped at the LED has stopped, the status no longer says "Ukončení...", and it ends
// on the list's folder as the person knows it.
TEST(WindowRuns, ARestoreIsRedUntilItsResultIsRead)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    TScratchDir dir;
    UseQt(dir.Path());
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    const fs::path source = dir.Path() / "src", data = dir.Path() / "data", archives = dir.Path() / "ZALOHY";
    for (const fs::path& folder : {source, data, archives})
        fs::create_directories(folder);
    constexpr int files = 1500;
    for (int i = 0; i < files; ++i)
        std::ofstream(source / ("f" + std::to_string(i) + ".dat")) << "record " << i << "\n";
    CaptureCommand("cd " + ShellQuote(source.string()) + " && zip -q " +
                   ShellQuote((archives / "Ucto (001).ZIP").string()) + " *");
    RestoreWindow w(archives, data);
    TFormTorvo& main = *w.main;
    ASSERT_EQ(1, main.lstFileSpec->Items.Count());
    QWidget* list = WidgetOf(main, *main.lstFileSpec);
    QWidget* led = WidgetOf(main, *main.pbxLed);
    ASSERT_TRUE(list && led);

    std::string caption;
    TColor ledAtResult = clBlack;
    QColor ledShownAtResult;
    const auto atResult = [&](QWidget* modal, TForm*) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box)
            return false;
        caption = box->windowTitle().toStdString();
        ledAtResult = main.LedColour();
        ledShownAtResult = LedShown(led);
        Later(box, [box] { QTest::keyClick(box, Qt::Key_Return); });
        return true;
    };
    {
        Person person;
        person.Then(atResult);
        QTest::keyClick(list, Qt::Key_Return);
        Application->ProcessMessages();
        EXPECT_TRUE(person.Done());
    }
    EXPECT_EQ("Data rozbalena", caption);
    EXPECT_EQ(clRed, ledAtResult);
    EXPECT_EQ(torvoqt::ToQColor(clRed), ledShownAtResult);
    EXPECT_EQ(clGreen, main.LedColour());
    Application->ProcessMessages();
    EXPECT_EQ(torvoqt::ToQColor(clGreen), LedShown(led));
    int code = -1;
    CaptureCommand("diff -r " + ShellQuote(source.string()) + " " + ShellQuote(data.string()), &code);
    EXPECT_EQ(0, code);

    // Stopped at the LED after a few hundred files.
    fs::remove_all(data);
    fs::create_directories(data);
    bool clicked = false;
    QTimer person;
    QObject::connect(&person, &QTimer::timeout, [&] {
        if (!clicked && !QApplication::activeModalWidget() && main.LedColour() == clRed && FilesIn(data) >= 200) {
            clicked = true;
            QTest::mouseClick(led, Qt::LeftButton);
        }
    });
    person.start(5);
    std::string statusAfterClick;
    {
        Person reader;
        reader.Then([&](QWidget*, TForm* form) {
            auto* errors = dynamic_cast<TfrmErrorMsgs*>(form);
            if (!errors)
                return false;
            statusAfterClick = main.StatusBar1->SimpleText;
            Later(DialogWindow(*errors), [errors] { Press(*errors, Qt::Key_Escape); });
            return true;
        });
        reader.Then(atResult);
        QTest::keyClick(list, Qt::Key_Return);
        Application->ProcessMessages();
        EXPECT_TRUE(reader.Done());
    }
    EXPECT_TRUE(clicked);
    EXPECT_EQ("Data nerozbalena", caption);
    EXPECT_EQ(clRed, ledAtResult);
    EXPECT_LT(FilesIn(data), files);
    EXPECT_EQ(clGreen, main.LedColour());
    // The stop has happened by the time its result is on screen; then the list's folder shows.
    EXPECT_NE(CancellingStatus, statusAfterClick);
    EXPECT_EQ(archives.string(), std::string(main.StatusBar1->SimpleText));
}

// The window cannot be made so small that a control is cut or covers another: at its smallest
// "Konec" stands just clear of the path label (shown by a click on the toolbar) and of "Poznámka"
// and "E-mail", the target picture and the list's header and rows are whole; any wider, it keeps to
// the right edge.
TEST(WindowRuns, TheSmallestWindowCutsNoControl)
{
    if (!HaveTool("zip"))
        GTEST_SKIP() << "zip missing";
    TScratchDir dir;
    UseQt(dir.Path());
    std::ofstream(dir.Path() / "a.txt") << "a";
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) + " && zip -q m.zip a.txt");
    Manager m(dir.Path() / "m.zip");
    TFormTorvo& main = *m.main;
    QWidget* window = m.Window();
    ASSERT_NE(window, nullptr);
    window->resize(200, 100);  // the person drags the corner far in
    Application->ProcessMessages();
    QTest::mouseClick(WidgetOf(main, *main.Panel1), Qt::LeftButton, {}, QPoint(2, main.Panel1->Height() - 2));
    Application->ProcessMessages();
    ASSERT_TRUE(main.LabelPath->Visible());
    EXPECT_EQ(window->minimumSize(), window->size());
    EXPECT_EQ(window->width(), main.ClientWidth());
    Grab(window, "window_runs_smallest");

    // Every shown control lies whole in its panel and apart from the others there.
    for (TWinControl* panel : {static_cast<TWinControl*>(main.Panel1), static_cast<TWinControl*>(main.PanelMess),
                               static_cast<TWinControl*>(main.pnlStatus)}) {
        EXPECT_EQ(main.ClientWidth(), panel->Width()) << panel->Name;
        for (int i = 0; i < panel->ControlCount(); ++i) {
            TControl& c = *panel->Controls(i);
            if (!c.Visible())
                continue;
            EXPECT_GE(c.Left(), 0) << c.Name;
            EXPECT_LE(c.Left() + c.Width(), panel->Width()) << c.Name;
            EXPECT_LE(c.Top() + c.Height(), panel->Height()) << c.Name;
            for (int j = 0; j < i; ++j) {
                TControl& o = *panel->Controls(j);
                const bool apart = !o.Visible() || c.Left() >= o.Left() + o.Width() || o.Left() >= c.Left() + c.Width() ||
                                   c.Top() >= o.Top() + o.Height() || o.Top() >= c.Top() + c.Height();
                EXPECT_TRUE(apart) << c.Name << " over " << o.Name;
            }
        }
    }
    // Smallest: a pixel narrower and "Konec" would touch the path label.
    EXPECT_EQ(main.LabelPath->Left() + main.LabelPath->Width() + 5, main.sbExit->Left());
    // The list shows its header and a row beside its scroll bar.
    const TZipView& list = *main.ZipView1;
    EXPECT_GE(list.ListBox()->Height(), list.ItemHeight());
    EXPECT_TRUE(list.Header()->Visible());

    // Wider, "Konec" keeps its distance to the right edge.
    window->resize(window->width() + 150, window->height() + 50);
    Application->ProcessMessages();
    EXPECT_EQ(main.ClientWidth() - 5, main.sbExit->Left() + main.sbExit->Width());
}
