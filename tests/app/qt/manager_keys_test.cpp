// The archive manager by keyboard and by eye: where the focus is and whether it shows, what Tab,
// Enter and Esc do in the dialogs, and whether what the windows show can be read whole.
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormComm.h"
#include "app/lib/FormComment.h"
#include "app/lib/FormEditComments.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormInput.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/FormUUEncode.h"
#include "app/qt/ManagerWindows.h"
#include "platform/qt/QtConvert.h"
#include "platform/qt/QtPainted.h"
#include "platform/qt/QtWidgetSet.h"
#include "platform/win/Paths.h"
#include "readers/plxUnZIP.h"
#include "readers/view/plxZipView.h"
#include "support/ToolRun.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"

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

using namespace vcl;
using namespace qtwindows;
namespace fs = std::filesystem;

namespace {

QImage Grab(QWidget* w, const std::string& name)
{
    QImage image = w->grab().toImage();
    fs::create_directories(Shots);
    image.save(QString::fromStdString((Shots / (name + ".png")).string()), "PNG");
    return image;
}

// A key where the keyboard is now: the focused widget of the form's window.
void Key(TForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QWidget* window = WindowOf(form);
    ASSERT_NE(window, nullptr) << form.Caption;
    QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key, modifiers);
}

// Shows a dialog modally and acts on it once its window is up; gives up after a few seconds.
TModalResult RunModal(TForm& form, const std::function<void()>& act)
{
    QTimer timer;
    int ticks = 0;
    bool acted = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (acted || !form.IsModal() || !WindowOf(form))
            return;
        if (++ticks > 250) {
            ADD_FAILURE() << form.Caption << " was left open";
            form.ModalResult = mrAbort;
            return;
        }
        acted = true;
        act();
    });
    timer.start(20);
    return form.ShowModal();
}

std::string NameOf(TControl* c)
{
    return c ? c->Name : std::string("(none)");
}

// The control whose widget has the keyboard in the form's window.
std::string QtFocusName(TForm& form)
{
    QWidget* window = WindowOf(form);
    QWidget* focused = window ? window->focusWidget() : nullptr;
    for (TControl* c : form.AllControls())
        if (QWidget* w = WidgetOf(form, *c); focused && w && (w == focused || focused->isAncestorOf(w)))
            return c->Name;
    return "(none)";
}

// A native widget with the keyboard has a frame drawn around it (painted controls draw their own).
bool FocusFramed(QWidget* focused)
{
    if (!focused || dynamic_cast<torvoqt::PaintedWidget*>(focused) || !focused->parentWidget())
        return true;
    for (QWidget* sibling : focused->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (sibling != focused && sibling->isVisible() && sibling->testAttribute(Qt::WA_TransparentForMouseEvents) &&
            sibling->geometry().contains(focused->geometry()) && sibling->geometry() != focused->geometry())
            return true;
    return false;
}

struct DialogCase {
    TForm* form;
    const char* first;  // the field the dialog opens at
    bool enterCloses;   // the default button is live with the dialog as it opens
};

}  // namespace

// Every dialog opens at its first field (also when it was left elsewhere), Tab walks its fields
// before its buttons, Esc cancels, Enter takes the default button, and Cancel has its own key.
TEST(ManagerKeys, DialogsOpenAtTheirFirstFieldAndAnswerEnterAndEsc)
{
    TScratchDir dir;
    UseQt(dir.Path());
    TfrmExtract extract(nullptr);
    TfrmAddFiles add(nullptr);
    TfrmPassword1 password1(nullptr);
    TfrmPassword2 password2(nullptr);
    TfrmSeedKeys seedKeys(nullptr);
    TfrmComm comm(nullptr);
    TfrmComment comment(nullptr);
    comment.Memo1->SetText("A comment\r\non two lines");
    comment.Memo1->ReadOnly = true;
    TfrmInput input(nullptr);
    input.Caption = "Rename current archive...";
    const fs::path archive = dir.Path() / "m.zip";
    std::ofstream(dir.Path() / "a.txt") << "a";
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) + " && zip -q m.zip a.txt");
    TfrmTestArchive test(nullptr);
    test.PrepareFor(archive.string(), {});
    TUUEncode encoder;
    TfrmUUEncode encode(nullptr);
    encode.PrepareFor(encoder, "");
    TZip zip;
    TfrmEditComments comments(nullptr);
    comments.PrepareFor(zip, archive.string(), atZip);
    const DialogCase cases[] = {
        {&extract, "Edit1", true},
        {&add, "Edit2", false},
        {&password1, "Edit1", true},
        {&password2, "Edit1", true},
        {&seedKeys, "edtHeaderKey0", true},
        {&comm, "leComment", true},
        {&comment, "Memo1", true},
        {&input, "Edit1", true},
        {&test, "Edit3", false},
        {&encode, "Edit1", false},
        {&comments, "ScrollBar1", false},
    };
    for (const DialogCase& c : cases) {
        TForm& form = *c.form;
        SCOPED_TRACE(form.Caption);
        form.EnsureCreated();
        TButton* cancel = nullptr;
        for (TControl* control : form.AllControls())
            if (auto* b = dynamic_cast<TButton*>(control); b && b->Cancel && !cancel)
                cancel = b;
        ASSERT_NE(cancel, nullptr);
        std::string opened, shown, afterTab;
        bool framed = false;
        const TModalResult first = RunModal(form, [&] {
            opened = NameOf(form.ActiveControl());
            shown = QtFocusName(form);
            Key(form, Qt::Key_Tab);
            Application->ProcessMessages();
            framed = FocusFramed(QApplication::focusWidget());
            afterTab = NameOf(form.ActiveControl());
            Key(form, Qt::Key_Tab);
            Key(form, Qt::Key_Escape);
        });
        EXPECT_EQ(cancel->ModalResult, first);
        EXPECT_EQ(c.first, opened);
        EXPECT_EQ(c.first, shown);
        EXPECT_NE(c.first, afterTab);
        EXPECT_TRUE(framed);

        // Opened again after the focus was left on another control.
        std::string reopened, reshown;
        bool closedByEnter = false;
        RunModal(form, [&] {
            reopened = NameOf(form.ActiveControl());
            reshown = QtFocusName(form);
            if (c.enterCloses) {
                Key(form, Qt::Key_Return);
                closedByEnter = form.ModalResult != mrNone;
            }
            if (form.ModalResult == mrNone)
                Key(form, Qt::Key_Escape);
        });
        EXPECT_EQ(c.first, reopened);
        EXPECT_EQ(c.first, reshown);
        EXPECT_EQ(c.enterCloses, closedByEnter);

        // Tab order: the fields first, the closing buttons last; Cancel answers its own key.
        std::vector<TWinControl*> order;
        form.Show();
        Application->ProcessMessages();
        for (TWinControl* w : form.TabList())
            if (w->CanFocus())
                order.push_back(w);
        TButton *defaultButton = nullptr, *cancelButton = nullptr;
        for (TControl* control : form.AllControls())
            if (auto* b = dynamic_cast<TButton*>(control); b && b->Showing()) {
                if (b->Default && !defaultButton)
                    defaultButton = b;
                if (b->Cancel && !cancelButton)
                    cancelButton = b;
            }
        ASSERT_NE(cancelButton, nullptr);
        ASSERT_FALSE(order.empty());
        EXPECT_EQ(cancelButton, order.back()) << NameOf(order.back());
        if (defaultButton && defaultButton != cancelButton && defaultButton->CanFocus()) {
            ASSERT_GE(order.size(), 2u);
            EXPECT_EQ(defaultButton, order[order.size() - 2]) << NameOf(order[order.size() - 2]);
        }
        const char hotkey = HotkeyOf(cancelButton->Caption);
        EXPECT_NE(0, hotkey) << cancelButton->Caption;
        if (hotkey) {
            EXPECT_EQ(cancelButton, form.AcceleratorControl(WORD(hotkey))) << cancelButton->Caption;
        }
        Grab(WindowOf(form), "keys_dialog_" + form.Name);
        form.Hide();
    }
}

namespace {

fs::path MakeZip(const fs::path& dir, int files, std::size_t bigSize = 0)
{
    std::string args;
    for (int i = 1; i <= files; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        std::ofstream(dir / name) << std::string(std::size_t(1000 * i), char('a' + i % 26));
        args += " " + name;
    }
    if (bigSize) {
        std::ofstream(dir / "big.dat") << std::string(bigSize, '\0');
        args += " big.dat";
    }
    CaptureCommand("cd " + ShellQuote(dir.string()) + " && zip -q m.zip" + args);
    return dir / "m.zip";
}

bool IsColour(const QImage& image, int x, int y, const QColor& colour)
{
    return image.rect().contains(x, y) && QColor(image.pixel(x, y)) == colour;
}

}  // namespace

// The archive list has the keyboard as soon as an archive is shown: arrows select rows at once,
// Tab does not wander to the frame around the rows, and the focus is plain to see.
TEST(ManagerKeys, TheListTakesTheArrowsAtOnceAndShowsItsFocus)
{
    TScratchDir dir;
    UseQt(dir.Path());
    Manager m(MakeZip(dir.Path(), 3));
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    ASSERT_NE(m.Window(), nullptr);
    EXPECT_EQ(list, m.Window()->focusWidget());
    Key(*m.main, Qt::Key_Down);
    Key(*m.main, Qt::Key_Down);
    Application->ProcessMessages();
    EXPECT_EQ(1, m.main->ZipView1->GetSelCount());
    EXPECT_TRUE(m.main->ZipView1->GetSelected(1));
    Key(*m.main, Qt::Key_Tab);
    Application->ProcessMessages();
    EXPECT_EQ(m.main->ZipView1->ListBox(), m.main->ActiveControl());
    EXPECT_EQ(list, m.Window()->focusWidget());

    // A frame in the highlight colour, unbroken, along the list's edge.
    const QImage image = Grab(list, "keys_list_focused");
    const QColor highlight = list->palette().color(QPalette::Highlight);
    int marked = 0, rows = 0;
    for (int y = image.height() / 4; y < image.height() * 3 / 4; ++y, ++rows)
        marked += IsColour(image, 0, y, highlight) && IsColour(image, 1, y, highlight);
    EXPECT_EQ(rows, marked);
}

// "Index:" in the status bar names the row the list is at, however the person got there.
TEST(ManagerKeys, TheIndexPanelFollowsTheRowByMouseAndKeys)
{
    TScratchDir dir;
    UseQt(dir.Path());
    Manager m(MakeZip(dir.Path(), 30));
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    const std::string& shown = m.main->StatusBar1->Panels[5].Text;
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(2));
    Application->ProcessMessages();
    EXPECT_EQ("Index: 3", shown);
    const int count = m.main->ZipView1->Items.Count();
    const int page = m.main->ZipView1->ListBox()->VisibleItems() - 1;
    const struct {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int row;
    } steps[] = {{Qt::Key_Down, {}, 4},
                 {Qt::Key_Up, {}, 3},
                 {Qt::Key_End, {}, count},
                 {Qt::Key_Home, {}, 1},
                 {Qt::Key_PageDown, {}, 1 + page},
                 {Qt::Key_PageUp, {}, 1},
                 {Qt::Key_Down, Qt::ControlModifier, 2},
                 {Qt::Key_Down, Qt::ShiftModifier, 3}};
    for (const auto& step : steps) {
        Key(*m.main, step.key, step.modifiers);
        Application->ProcessMessages();
        EXPECT_EQ("Index: " + std::to_string(step.row), shown) << int(step.key);
    }
    EXPECT_FALSE(m.main->StatusBar1->SimplePanel);
}

// Nothing a person must read is cut: status panels hold their numbers, the attributes fit their
// column, numbers end at their column's right edge, "Konec" keeps to the right edge when the
// window grows, and the choices of a radio group are round.
TEST(ManagerKeys, WhatTheWindowShowsCanBeReadWhole)
{
    TScratchDir dir;
    UseQt(dir.Path());
    Manager m(MakeZip(dir.Path(), 20, 7'104'000));
    TFormTorvo& main = *m.main;
    ASSERT_EQ(21, main.ZipView1->Items.Count());
    ASSERT_FALSE(main.StatusBar1->SimplePanel);
    for (const TStatusPanel& panel : main.StatusBar1->Panels) {
        // The panel's frame and margins take 8 pixels.
        EXPECT_LE(WidgetSet().TextExtent(panel.Text, main.StatusBar1->Font).cx, panel.Width - 8) << panel.Text;
    }
    TplxListBox& rows = *main.ZipView1->ListBox();
    for (int i = 0; i < main.ZipView1->Items.Count(); ++i) {
        const std::string attributes = main.ZipView1->GetColumnText(i, zcAttributes);
        EXPECT_LE(WidgetSet().TextExtent(attributes, rows.Font).cx,
                  main.ZipView1->HeaderSection(zcAttributes)->Width - 3)
            << attributes;
    }

    // Row 1 (not focused, not selected): where the dark pixels of its size cells lie.
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    const QImage image = Grab(list, "keys_list_columns");
    const TRect row = rows.ItemRect(1);
    const QColor background = torvoqt::ToQColor(rows.Color);
    for (int col : {zcPacked, zcUnpacked, zcRatio}) {
        const THeaderSection& section = *main.ZipView1->HeaderSection(col);
        int first = -1, last = -1;
        for (int x = section.Left; x < section.Left + section.Width - 1; ++x)
            for (int y = row.Top + 2; y < row.Bottom - 2; ++y)
                if (QColor(image.pixel(x, y)).lightness() < 128 && QColor(image.pixel(x, y)) != background) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
        ASSERT_GE(first, 0) << section.Text;
        EXPECT_GT(last, section.Left + section.Width - 10) << section.Text;
        EXPECT_GT(first, section.Left + 10) << section.Text;
    }

    // The status bar is the window's last line: nothing of the window shows under it (the line
    // a window manager draws below a resizable window is its own).
    const int statusTop = main.StatusBar1->Top();
    EXPECT_EQ(main.ClientHeight(), statusTop + main.StatusBar1->Height());
    for (int i = 0; i < main.ControlCount(); ++i) {
        TControl* c = main.Controls(i);
        if (c != main.StatusBar1 && c->Visible()) {
            EXPECT_LE(c->Top() + c->Height(), statusTop) << c->Name;
        }
    }

    // "Konec" keeps its distance to the right edge when the window grows.
    QWidget* window = m.Window();
    QWidget* exit = WidgetOf(main, *main.sbExit);
    ASSERT_NE(exit, nullptr);
    const int gap = exit->parentWidget()->width() - exit->geometry().right();
    window->resize(window->width() + 200, window->height());
    Application->ProcessMessages();
    EXPECT_EQ(gap, exit->parentWidget()->width() - exit->geometry().right());
    Grab(window, "keys_main_wider");

    // A radio choice is a circle: its corners are the group's colour, its rim is not.
    TfrmExtract extract(nullptr);
    extract.EnsureCreated();
    extract.Show();
    Application->ProcessMessages();
    QWidget* group = WidgetOf(extract, *extract.RadioGroup1);
    ASSERT_NE(group, nullptr);
    const QImage radio = Grab(group, "keys_radio_group");
    const TRect item = extract.RadioGroup1->ItemRect(0);
    const int top = item.Top + (item.Height() - 12) / 2;
    const QColor face(radio.pixel(item.Left + 40, item.Top + 1));
    EXPECT_EQ(face, QColor(radio.pixel(item.Left, top)));
    EXPECT_EQ(face, QColor(radio.pixel(item.Left + 11, top + 11)));
    EXPECT_NE(face, QColor(radio.pixel(item.Left + 6, top)));
    EXPECT_NE(face, QColor(radio.pixel(item.Left + 6, top + 6)));
    extract.Hide();
}

// Enter in the add dialog's file field puts the name in the list and empties the field, so the
// next name typed is a name of its own.
TEST(ManagerKeys, TheAddDialogTakesOneNamePerEnter)
{
    TScratchDir dir;
    UseQt(dir.Path());
    TfrmAddFiles add(nullptr);
    add.EnsureCreated();
    const std::string first = (dir.Path() / "one.txt").string(), second = (dir.Path() / "two.txt").string(),
                      third = (dir.Path() / "three.txt").string();
    QString shownAfterEnter = "(not seen)", shownAtOnce;
    std::string heldAtOnce;
    RunModal(add, [&] {
        auto* field = qobject_cast<QLineEdit*>(WidgetOf(add, *add.Edit2));
        ASSERT_NE(field, nullptr);
        field->setFocus();
        QTest::keyClicks(field, QString::fromStdString(first));
        QTest::keyClick(field, Qt::Key_Return);
        Application->ProcessMessages();
        shownAfterEnter = field->text();
        QTest::keyClicks(field, QString::fromStdString(second));
        QTest::keyClick(field, Qt::Key_Return);
        // Typed at once, before the window has had a chance to update: still a name of its own.
        QTest::keyClicks(field, QString::fromStdString(third));
        shownAtOnce = field->text();
        heldAtOnce = add.Edit2->Text();
        QTest::keyClick(field, Qt::Key_Return);
        Key(add, Qt::Key_Escape);
    });
    EXPECT_EQ("", shownAfterEnter.toStdString());
    EXPECT_EQ(third, shownAtOnce.toStdString());
    EXPECT_EQ(third, heldAtOnce);
    ASSERT_EQ(3, add.lstFileSpec->Items.Count());
    for (int i = 0; i < 3; ++i) {
        const std::string line = add.lstFileSpec->Items[i];
        int names = 0;
        for (const char* name : {"one.txt", "two.txt", "three.txt"})
            names += line.find(name) != std::string::npos;
        EXPECT_EQ(1, names) << line;
    }
}

// Paths reach the person in the host's form, one kind of separator, whatever form the program
// holds them in; what the person types in that form is taken back.
TEST(ManagerKeys, PathsAreShownInTheHostsForm)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), 2);
    const std::string programForm = win::ToWindowsPath(archive.string());
    ASSERT_NE(std::string::npos, programForm.find('\\')) << programForm;
    Manager m(programForm);
    ASSERT_NE(m.Window(), nullptr);
    EXPECT_EQ(archive.string(), m.Window()->windowTitle().toStdString());
    ASSERT_TRUE(m.main->UnZip1->OnError);
    m.main->UnZip1->OnError(m.main->UnZip1.get(), programForm, "", "", 25151);
    const std::string row = m.main->ErrorList()->ListView1->Items(0)->Caption;
    EXPECT_NE(std::string::npos, row.find(archive.string())) << row;
    EXPECT_EQ(std::string::npos, row.find('\\')) << row;

    TfrmAddFiles add(nullptr);
    add.EnsureCreated();
    std::string folderShown;
    RunModal(add, [&] {
        auto* folder = qobject_cast<QLineEdit*>(WidgetOf(add, *add.Edit1));
        auto* field = qobject_cast<QLineEdit*>(WidgetOf(add, *add.Edit2));
        ASSERT_TRUE(folder && field);
        folderShown = folder->text().toStdString();
        field->setFocus();
        QTest::keyClicks(field, "two.txt");
        QTest::keyClick(field, Qt::Key_Return);
        Application->ProcessMessages();
        QTest::keyClicks(field, QString::fromStdString((dir.Path() / "one.txt").string()));
        QTest::keyClick(field, Qt::Key_Return);
        Key(add, Qt::Key_Escape);
    });
    EXPECT_EQ('/', folderShown.empty() ? 0 : folderShown[0]) << folderShown;
    ASSERT_EQ(2, add.lstFileSpec->Items.Count());
    for (int i = 0; i < 2; ++i) {
        const std::string line = add.lstFileSpec->Items[i];
        EXPECT_EQ('/', line[0]) << line;
        EXPECT_EQ(std::string::npos, line.find('\\')) << line;
    }
    EXPECT_EQ((dir.Path() / "one.txt").string(), add.lstFileSpec->Items[0]);

    // The comment editor names the archive as the window's title does.
    TfrmEditComments comments(nullptr);
    comments.EnsureCreated();
    comments.PrepareFor(*m.main->Zip1, programForm, atZip);
    std::string archiveShown;
    RunModal(comments, [&] {
        archiveShown = comments.lblArchive->Caption;
        Key(comments, Qt::Key_Escape);
    });
    EXPECT_EQ(archive.string(), archiveShown);
}

// F2 offers the open archive in its own folder, wherever the working folder is: Enter on the
// offered name opens it again.
TEST(ManagerKeys, OpenStartsInTheFolderOfTheOfferedArchive)
{
    TScratchDir dir;
    UseQt(dir.Path());
    fs::create_directories(dir.Path() / "sub");
    const fs::path archive = MakeZip(dir.Path() / "sub", 2);
    Manager m(archive);
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
    std::string folderOffered, nameOffered;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* files = qobject_cast<QFileDialog*>(w); files && files->isVisible()) {
                if (folderOffered.empty()) {
                    folderOffered = files->directory().absolutePath().toStdString();
                    if (auto* name = files->findChild<QLineEdit*>("fileNameEdit"))
                        nameOffered = name->text().toStdString();
                }
                // Enter on what is offered; a dialog that offers nothing is left with Esc.
                QTimer::singleShot(0, files, [files, nameOffered] {
                    QMetaObject::invokeMethod(files, nameOffered.empty() ? "reject" : "accept");
                });
            }
    });
    timer.start(20);
    Key(*m.main, Qt::Key_F2);
    Application->ProcessMessages();
    EXPECT_EQ((dir.Path() / "sub").string(), folderOffered);
    EXPECT_EQ("m.zip", nameOffered);
    EXPECT_EQ(archive.string(), m.Window()->windowTitle().toStdString());
    EXPECT_EQ(2, m.main->ZipView1->Items.Count());
}
