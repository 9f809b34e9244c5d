// The archive manager used as a person uses it: mouse and keys through the Qt widgets, results
// read from what the widgets show and from the archive files.
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormTorvo.h"
#include "app/lib/FormUUEncode.h"
#include "app/qt/ManagerWindows.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/Pelix.h"
#include "readers/plxZipCheck.h"
#include "readers/view/plxZipView.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <utility>
#include <vector>

using namespace vcl;
using namespace qtwindows;
namespace fs = std::filesystem;

namespace {

void Save(QWidget* w, const std::string& name)
{
    fs::create_directories(Shots);
    if (w)
        w->grab().save(QString::fromStdString((Shots / (name + ".png")).string()), "PNG");
}

// Answers what opens on screen while the code under test waits in a modal loop.
class Answerer {
public:
    // Returns true when it dealt with the widget.
    using Rule = std::function<bool(QWidget* modal, QMenu* popup)>;
    explicit Answerer(Rule rule) : rule_(std::move(rule))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (busy_)
                return;
            busy_ = true;
            if (rule_(QApplication::activeModalWidget(), qobject_cast<QMenu*>(QApplication::activePopupWidget())))
                ++answered;
            busy_ = false;
        });
        timer_.start(20);
    }
    int answered = 0;

private:
    Rule rule_;
    QTimer timer_;
    bool busy_ = false;
};

bool Trigger(QMenu* popup, const QString& text)
{
    for (QAction* a : popup->actions())
        if (a->text().remove('&') == text) {
            // Later: what the item opens runs inside this key press.
            QTimer::singleShot(0, popup, [popup, a] {
                popup->setActiveAction(a);
                QTest::keyClick(popup, Qt::Key_Return);
            });
            return true;
        }
    return false;
}

bool ClickMessageButton(QWidget* modal, QMessageBox::StandardButton which)
{
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box || !box->button(which))
        return false;
    QTimer::singleShot(0, box, [box, which] { box->button(which)->click(); });
    return true;
}

std::string Listing(const fs::path& archive)
{
    return CaptureCommand("unzip -Z1 " + ShellQuote(archive.string()));
}

fs::path MakeZip(const fs::path& dir, std::initializer_list<const char*> names)
{
    std::string args;
    for (const char* name : names) {
        std::ofstream(dir / name) << std::string(3000, name[0]);
        args += " " + ShellQuote(name);
    }
    CaptureCommand("cd " + ShellQuote(dir.string()) + " && zip -q m.zip" + args);
    return dir / "m.zip";
}

}  // namespace

// The status bar describes the row the pop-up menu acts on.
TEST(ManagerUse, TheStatusBarDescribesTheRightClickedRow)
{
    TScratchDir dir;
    UseQt(dir.Path());
    Manager m(MakeZip(dir.Path(), {"a.txt", "b.txt", "c.txt"}));
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    Application->ProcessMessages();
    std::string shownAtPopup;
    Answerer user([&](QWidget*, QMenu* popup) {
        if (!popup)
            return false;
        shownAtPopup = m.main->StatusBar1->Panels[5].Text;
        popup->close();
        return true;
    });
    QTest::mouseClick(list, Qt::RightButton, {}, m.Row(2));
    Application->ProcessMessages();
    EXPECT_EQ("Index: 3", shownAtPopup);
}

// Click one row, then another, then Delete from the pop-up menu: only the row shown selected goes.
TEST(ManagerUse, PlainClicksSelectOneRowAndThePopupDeletesIt)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt", "b.txt", "c.txt"});
    Manager m(archive);
    ASSERT_EQ(3, m.main->ZipView1->Items.Count());
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(1));
    Application->ProcessMessages();
    Save(WindowOf(*m.main), "manager_two_clicks");

    bool popupSeen = false;
    Answerer user([&](QWidget* modal, QMenu* popup) {
        if (popup) {
            popupSeen = true;
            Save(popup, "manager_popup");
            return Trigger(popup, "Delete");
        }
        return ClickMessageButton(modal, QMessageBox::Yes);
    });
    QTest::mouseClick(list, Qt::RightButton, {}, m.Row(1));
    Application->ProcessMessages();
    EXPECT_TRUE(popupSeen);
    EXPECT_EQ("a.txt\nc.txt\n", Listing(archive));

    // Ctrl adds a row, Shift extends from the anchor, arrows move a single selection.
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    QTest::mouseClick(list, Qt::LeftButton, Qt::ControlModifier, m.Row(1));
    EXPECT_EQ(2, m.main->ZipView1->GetSelCount());
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(1, m.main->ZipView1->GetSelCount());
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(2, m.main->ZipView1->GetSelCount());
}

// The keyboard opens the same pop-up menu over the list (Menu key, Shift+F10); every command of
// the manager is in it.
TEST(ManagerUse, KeyboardOpensThePopupWithEveryCommand)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt", "b.txt"});
    Manager m(archive);
    QWidget* list = m.List();
    ASSERT_NE(list, nullptr);
    QTest::mouseClick(list, Qt::LeftButton, {}, m.Row(0));
    QStringList shown;
    int popups = 0;
    Answerer user([&](QWidget*, QMenu* popup) {
        if (!popup)
            return false;
        ++popups;
        shown.clear();
        for (QAction* a : popup->actions())
            if (!a->isSeparator())
                shown << a->text().remove('&');
        popup->close();
        return true;
    });
    QTest::keyClick(list, Qt::Key_Menu);
    Application->ProcessMessages();
    QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
    Application->ProcessMessages();
    EXPECT_EQ(2, popups);
    for (const char* command :
         {"Add Files", "Delete", "Extract", "Refresh", "Add/Edit file comment", "Test Archive", "View / Run", "New",
          "Open", "Close", "Save As...", "Rename Archive", "Encode (uue,xxe,b64)", "Blank Directories", "Sort",
          "Display ElapsedTime", "Error Messages"})
        EXPECT_TRUE(shown.contains(command)) << command << " in " << shown.join(", ").toStdString();
}

namespace {

// A key at the focused widget of a form's window, later (the form is modal now).
void KeyLater(TForm& form, Qt::Key key)
{
    QWidget* window = WindowOf(form);
    if (!window)
        return;
    QTimer::singleShot(0, window,
                       [window, key] { QTest::keyClick(window->focusWidget() ? window->focusWidget() : window, key); });
}

void EnterLater(TForm& form)
{
    KeyLater(form, Qt::Key_Return);
}

}  // namespace

// A member that fails its check: Extract ends with the error list on screen and says so.
TEST(ManagerUse, ExtractOfADamagedMemberShowsTheErrorList)
{
    TScratchDir dir;
    UseQt(dir.Path());
    std::ofstream(dir.Path() / "d.txt") << std::string(5000, 'd');
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) + " && zip -q -0 m.zip d.txt");
    const fs::path archive = dir.Path() / "m.zip";
    {
        std::fstream f(archive, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(30 + 5 + 1000);  // inside the stored data
        f.put('X');
    }
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    Manager m(archive);
    std::string errorsShown;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!modal || !form || !form->IsModal())
            return false;
        if (form->Name == "frmExtract") {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(out.string());
            EnterLater(*form);
            return true;
        }
        if (auto* list = dynamic_cast<TfrmErrorMsgs*>(form)) {
            Save(WindowOf(*form), "manager_extract_errors");
            for (int i = 0; i < list->ListView1->ItemCount(); ++i)
                errorsShown += list->ListView1->Items(i)->Caption + "\n";
            KeyLater(*form, Qt::Key_Escape);
            return true;
        }
        return ClickMessageButton(modal, QMessageBox::Yes);
    });
    QTest::keyClick(m.List(), Qt::Key_E, Qt::ControlModifier);
    Application->ProcessMessages();
    EXPECT_NE(std::string::npos, errorsShown.find("25151")) << errorsShown;
    EXPECT_NE(std::string::npos, errorsShown.find("d.txt")) << errorsShown;
    EXPECT_NE(std::string::npos, m.main->StatusBar1->SimpleText.find("errors: 1")) << m.main->StatusBar1->SimpleText;
    // The screen takes changes once a frame while an operation runs: wait for that frame, not longer.
    const QList<QProgressBar*> bars = WindowOf(*m.main)->findChildren<QProgressBar*>();
    EXPECT_EQ(bars.size(), 2);
    EXPECT_TRUE(QTest::qWaitFor(
        [&bars] { return std::none_of(bars.begin(), bars.end(), [](QProgressBar* b) { return b->isVisible(); }); },
        2000))
        << "a progress bar still shows after the extraction";
}

// Extracting over files that are there: the question names the file as the person knows it, and
// Cancel ends the run there, the old file kept and nothing after it written.
TEST(ManagerUse, TheOverwriteQuestionNamesTheHostPathAndCancelStops)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt", "b.txt"});
    const fs::path out = dir.Path() / "out dir";
    fs::create_directories(out);
    std::ofstream(out / "a.txt") << "old";
    Manager m(archive);
    std::string asked;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (form && form->IsModal() && form->Name == "frmExtract") {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(out.string());
            EnterLater(*form);
            return true;
        }
        if (auto* list = dynamic_cast<TfrmErrorMsgs*>(form)) {
            KeyLater(*list, Qt::Key_Escape);
            return true;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || !asked.empty())
            return false;
        asked = box->text().toStdString();
        return ClickMessageButton(modal, QMessageBox::Cancel);
    });
    QTest::keyClick(m.List(), Qt::Key_E, Qt::ControlModifier);
    Application->ProcessMessages();
    EXPECT_NE(std::string::npos, asked.find((out / "a.txt").string())) << asked;
    EXPECT_EQ(std::string::npos, asked.find('\\')) << asked;
    EXPECT_EQ("old", ReadText(out / "a.txt"));
    EXPECT_FALSE(fs::exists(out / "b.txt"));
}

// A password for a type without a cipher is refused at once, not shown as "PROTECTED" over files
// written in the clear; a ZIP takes one.
TEST(ManagerUse, APasswordIsTakenOnlyForATypeThatEncrypts)
{
    if (!HaveTool("lha"))
        GTEST_SKIP() << "lha not installed";
    TScratchDir dir;
    UseQt(dir.Path());
    std::ofstream(dir.Path() / "a.txt") << "a";
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) + " && lha aq m.lzh a.txt");
    for (const char* archive : {"m.lzh", "m.zip"}) {
        if (std::string(archive) == "m.zip")
            MakeZip(dir.Path(), {"b.txt"});
        Manager m(dir.Path() / archive);
        std::string refusal, captionAfter;
        bool clicked = false, passwordAsked = false;
        Answerer user([&](QWidget* modal, QMenu*) {
            TForm* form = Screen->ActiveForm;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                refusal = box->text().toStdString();
                return ClickMessageButton(modal, QMessageBox::Ok);
            }
            if (!modal || !form || !form->IsModal())
                return false;
            if (auto* add = dynamic_cast<TfrmAddFiles*>(form)) {
                if (!std::exchange(clicked, true)) {
                    QTimer::singleShot(0, modal, [add] { add->btnPassword->Click(); });
                    return true;
                }
                captionAfter = add->btnPassword->Caption;
                QTimer::singleShot(0, modal, [add] { add->btnClose->Click(); });
                return true;
            }
            if (form->Name == "frmPassword1") {
                passwordAsked = true;
                auto* ask = static_cast<TfrmPassword1*>(form);
                ask->Edit1->SetText("secret");
                EnterLater(*form);
                return true;
            }
            return false;
        });
        QTest::keyClick(m.List(), Qt::Key_A, Qt::ControlModifier);
        Application->ProcessMessages();
        if (std::string(archive) == "m.lzh") {
            EXPECT_EQ("Encryption is not supported for this type of archive.", refusal);
            EXPECT_FALSE(passwordAsked);
            EXPECT_EQ("&Password", captionAfter);
        } else {
            EXPECT_EQ("", refusal);
            EXPECT_TRUE(passwordAsked);
            EXPECT_EQ("&PROTECTED", captionAfter);
        }
    }
}

// A folder that is not there keeps the extract dialog open and is named as it was typed.
TEST(ManagerUse, AMissingExtractFolderIsNamedAsTyped)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt"});
    const fs::path missing = dir.Path() / "not here";
    Manager m(archive);
    std::string said;
    bool typed = false;
    Answerer user([&](QWidget* modal, QMenu*) {
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            said = box->text().toStdString();
            return ClickMessageButton(modal, QMessageBox::Ok);
        }
        TForm* form = Screen->ActiveForm;
        if (!modal || !form || !form->IsModal() || form->Name != "frmExtract")
            return false;
        if (!std::exchange(typed, true)) {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(missing.string());
            EnterLater(*form);
        } else {
            KeyLater(*form, Qt::Key_Escape);
        }
        return true;
    });
    QTest::keyClick(m.List(), Qt::Key_E, Qt::ControlModifier);
    Application->ProcessMessages();
    EXPECT_NE(std::string::npos, said.find(missing.string() + "/")) << said;
    EXPECT_NE(std::string::npos, said.find("...not found.")) << said;
    EXPECT_EQ(std::string::npos, said.find('\\')) << said;
    EXPECT_FALSE(fs::exists(missing));
}

// Adding a file through the dialogs, Enter at every question: the archive stays one .zip file.
TEST(ManagerUse, AddWithEnterKeepsOneZipFile)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt"});
    CaptureCommand("head -c 400000 /dev/urandom > " + ShellQuote((dir.Path() / "big.bin").string()));
    Manager m(archive);
    bool splitAsked = false;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!modal || !form || !form->IsModal())
            return false;
        if (form->Name == "frmAddFiles") {
            static_cast<TfrmAddFiles*>(form)->AddFileSpec((dir.Path() / "big.bin").string());
            QWidget* window = WindowOf(*form);
            QTimer::singleShot(0, window, [form] { static_cast<TfrmAddFiles*>(form)->btnOK->Click(); });
            return true;
        }
        if (form->Name == "frmSplitArchive") {
            splitAsked = true;
            Save(WindowOf(*form), "manager_split_question");
            EnterLater(*form);
            return true;
        }
        return ClickMessageButton(modal, QMessageBox::Yes);
    });
    QTest::keyClick(m.List(), Qt::Key_A, Qt::ControlModifier);
    Application->ProcessMessages();
    EXPECT_TRUE(splitAsked);
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir.Path()))
        if (e.path().filename().string().rfind("m.", 0) == 0)
            files.push_back(e.path().filename().string());
    EXPECT_EQ(std::vector<std::string>{"m.zip"}, files);
    int status = -1;
    CaptureCommand("unzip -tq " + ShellQuote(archive.string()), &status);
    EXPECT_EQ(0, status);
    EXPECT_NE(std::string::npos, Listing(archive).find("big.bin"));
}

namespace {

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

}  // namespace

// A text set in code is on screen at the next pump: status texts and panels, captions of native
// buttons and labels, an edit's colour; no resize needed.
TEST(ManagerUse, TextsReachTheScreenWhenTheyChange)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt"});
    Manager m(archive);
    QWidget* status = WidgetOf(*m.main, *m.main->StatusBar1);
    ASSERT_NE(status, nullptr);
    PaintCounter counter;
    status->installEventFilter(&counter);
    for (int i = 0; i < 5; ++i)
        Application->ProcessMessages();
    const int before = counter.paints;
    m.main->StatusBar1->SimpleText = "Files Extracted: 7";
    m.main->StatusBar1->SimplePanel = true;
    for (int i = 0; i < 5; ++i)
        Application->ProcessMessages();
    EXPECT_GT(counter.paints, before);
    const int afterSimple = counter.paints;
    m.main->StatusBar1->SimplePanel = false;
    Application->ProcessMessages();
    m.main->StatusBar1->Panels[1].Text = "Soubory: 12345";
    for (int i = 0; i < 5; ++i)
        Application->ProcessMessages();
    EXPECT_GT(counter.paints, afterSimple);
    status->removeEventFilter(&counter);

    TfrmExtract extract(nullptr);
    extract.EnsureCreated();
    extract.Show();
    Application->ProcessMessages();
    extract.BitBtn1->Caption = "&Go";
    extract.Edit1->Color = clYellow;
    Application->ProcessMessages();
    auto* button = qobject_cast<QAbstractButton*>(WidgetOf(extract, *extract.BitBtn1));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ("&Go", button->text().toStdString());
    QWidget* edit = WidgetOf(extract, *extract.Edit1);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(QColor(Qt::yellow), edit->palette().color(QPalette::Base));
    extract.Hide();
}

// A test run from the manager: its gauges move while it runs and are empty again once it has
// ended, in the Qt widgets themselves.
TEST(ManagerUse, ProgressBarsAreClearedWhenARunEnds)
{
    TScratchDir dir;
    UseQt(dir.Path());
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) +
                   " && head -c 3000000 /dev/urandom > r.bin && seq 200000 > s.txt && zip -q m.zip r.bin s.txt");
    Manager m(dir.Path() / "m.zip");
    bool clicked = false;
    int highest = 0;
    std::vector<int> shownAfter;
    Answerer user([&](QWidget* modal, QMenu*) {
        auto* test = dynamic_cast<TfrmTestArchive*>(Screen->ActiveForm);
        if (!modal || !test)
            return false;
        auto* gauge1 = qobject_cast<QProgressBar*>(WidgetOf(*test, *test->Gauge1));
        auto* gauge2 = qobject_cast<QProgressBar*>(WidgetOf(*test, *test->Gauge2));
        if (!gauge1 || !gauge2)
            return false;
        if (!clicked) {
            clicked = true;
            // The bars did move: empty afterwards is their clearing, not a run without progress.
            test->ZipCheck1->OnProgress = [&highest, test, shown = test->ZipCheck1->OnProgress](
                                              ::TObject* sender, std::uint8_t byFile, std::uint8_t byArchive) {
                shown(sender, byFile, byArchive);
                highest = std::max({highest, test->Gauge1->Position(), test->Gauge2->Position()});
            };
            QTimer::singleShot(0, modal, [test] { test->Button1->Click(); });
            return true;
        }
        if (test->StatusBar1->SimpleText.rfind("File(s) tested:", 0) != 0 || !shownAfter.empty())
            return false;
        shownAfter = {gauge1->value(), gauge2->value(), test->Gauge1->Position(), test->Gauge2->Position()};
        Save(WindowOf(*test), "manager_test_ended");
        KeyLater(*test, Qt::Key_Escape);
        return true;
    });
    m.main->TestClick();
    Application->ProcessMessages();
    EXPECT_GT(highest, 0);
    EXPECT_EQ((std::vector<int>{0, 0, 0, 0}), shownAfter);
}

// Adding a folder of many files from the manager: its progress bars show; while the run pumps
// after every file the hourglass shows, so the widgets are painted at most once a frame, not once
// a file; the question asked meanwhile shows the arrow; at the end the hourglass is gone and the
// window shows the finished archive.
TEST(ManagerUse, AddingManyFilesPaintsAtAFrameRateAndEndsOnTheResult)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt"});
    const fs::path source = dir.Path() / "many";
    fs::create_directories(source);
    constexpr int files = 800;  // an archive past the 64 KiB that the split question starts at
    for (int i = 0; i < files; ++i)
        std::ofstream(source / ("f" + std::to_string(i) + ".txt")) << "small file " << i << "\n";
    Manager m(archive);
    QWidget* status = WidgetOf(*m.main, *m.main->StatusBar1);
    ASSERT_NE(status, nullptr);
    int begun = 0, underHourglass = 0, barsShown = 0;
    bool chosen = false, splitAsked = false, arrowAtSplit = false;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!modal || !form || !form->IsModal())
            return false;
        if (auto* add = dynamic_cast<TfrmAddFiles*>(form); add && add->Writer()) {
            if (std::exchange(chosen, true))
                return false;  // OK is on its way
            add->AddFileSpec((source / "*").string());
            TCompBase& writer = *add->Writer();
            writer.OnBegin = [&, shown = writer.OnBegin](::TObject* sender, const std::string& file, int n, bool& go) {
                shown(sender, file, n, go);
                ++begun;
                const QCursor* cursor = QApplication::overrideCursor();
                underHourglass += cursor && cursor->shape() == Qt::WaitCursor;
                // The run's progress is on screen, as an extraction's is.
                auto* bar = qobject_cast<QProgressBar*>(WidgetOf(*m.main, *m.main->ProgressBar2));
                barsShown += bar && bar->isVisible();
            };
            QTimer::singleShot(0, WindowOf(*form), [add] { add->btnOK->Click(); });
            return true;
        }
        if (form->Name == "frmSplitArchive") {
            // The question asked in the middle of the run shows the arrow, not the hourglass.
            splitAsked = true;
            arrowAtSplit = QApplication::overrideCursor() == nullptr;
            EnterLater(*form);
            return true;
        }
        return ClickMessageButton(modal, QMessageBox::Yes);
    });
    PaintCounter counter;
    status->installEventFilter(&counter);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(m.List(), Qt::Key_A, Qt::ControlModifier);
    Application->ProcessMessages();
    const qint64 elapsed = clock.elapsed();
    status->removeEventFilter(&counter);

    EXPECT_EQ(files, begun);
    EXPECT_EQ(begun, underHourglass);
    EXPECT_GT(barsShown, begun / 2);
    EXPECT_TRUE(splitAsked && arrowAtSplit);
    // A frame is 15 ms; the dialogs opening and closing paint a few times besides.
    EXPECT_LE(counter.paints, elapsed / 15 + 20) << "in " << elapsed << " ms";
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(files + 1, m.main->ZipView1->Items.Count());
    EXPECT_EQ("Přidané/aktualizované soubory: " + std::to_string(files), m.main->StatusBar1->SimpleText);
    for (vcl::TProgressBar* bar : {m.main->ProgressBar1, m.main->ProgressBar2}) {
        auto* shown = qobject_cast<QProgressBar*>(WidgetOf(*m.main, *bar));
        EXPECT_TRUE(!shown || !shown->isVisible() || shown->value() == 0);
    }
    EXPECT_EQ(std::to_string(files + 1) + "\n",
              CaptureCommand("unzip -Z1 " + ShellQuote(archive.string()) + " | wc -l"));
}

namespace {

// Counts the passes over the event loop made while the hourglass shows: a timer of no interval
// runs once a pass.
class BusyPassCounter {
public:
    BusyPassCounter()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const QCursor* cursor = QApplication::overrideCursor();
            passes += cursor && cursor->shape() == Qt::WaitCursor;
        });
        timer_.start(0);
    }
    int passes = 0;

private:
    QTimer timer_;
};

int FilesIn(const fs::path& dir)
{
    return int(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

// Extracting and testing many small members from the manager: the run pumps after every member,
// but input is taken every few milliseconds and the widgets painted at most once a frame, not once
// a member; a click on the LED still stops the run at once, and the window ends on the result.
TEST(ManagerUse, ManyMembersTakeInputAtAHumanRateAndEndOnTheResult)
{
    TScratchDir dir;
    UseQt(dir.Path());
    constexpr int files = 2000;
    const fs::path source = dir.Path() / "many";
    fs::create_directories(source);
    for (int i = 0; i < files; ++i)
        std::ofstream(source / ("f" + std::to_string(i) + ".txt")) << "small file " << i << "\n";
    CaptureCommand("cd " + ShellQuote(source.string()) + " && zip -q ../m.zip *");
    Manager m(dir.Path() / "m.zip");
    ASSERT_EQ(files, m.main->ZipView1->Items.Count());
    QWidget* status = WidgetOf(*m.main, *m.main->StatusBar1);
    QWidget* led = WidgetOf(*m.main, *m.main->pbxLed);
    ASSERT_TRUE(status && led);
    fs::path out;
    bool cancelAfter200 = false, ledClicked = false, testStarted = false;
    int rowsListed = -1;
    std::string testStatus, errorsShown;
    // What the window shows during a run: the member in the status bar, the archive's bar rising.
    QProgressBar* archiveBar = nullptr;
    for (QProgressBar* bar : m.Window()->findChildren<QProgressBar*>())
        if (!archiveBar || bar->x() > archiveBar->x())
            archiveBar = bar;
    ASSERT_NE(archiveBar, nullptr);
    std::vector<int> archiveBarSeen;
    int memberShown = 0;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!modal && !cancelAfter200 && m.main->LedColour() == clRed) {
            if (archiveBar->isVisible())
                archiveBarSeen.push_back(archiveBar->value());
            const std::string& text = m.main->StatusBar1->SimpleText;
            memberShown += m.main->StatusBar1->SimplePanel && text.rfind("Extracting: " + (out / "f").string(), 0) == 0;
            return false;
        }
        if (!modal && cancelAfter200 && !ledClicked && m.main->LedColour() == clRed && FilesIn(out) >= 200) {
            ledClicked = true;
            QTest::mouseClick(led, Qt::LeftButton);
            return true;
        }
        if (modal && form && form->Name == "frmExtract") {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(out.string());
            EnterLater(*form);
            return true;
        }
        if (auto* list = dynamic_cast<TfrmErrorMsgs*>(form); modal && list) {
            for (int i = 0; i < list->ListView1->ItemCount(); ++i)
                errorsShown += list->ListView1->Items(i)->Caption + "\n";
            KeyLater(*form, Qt::Key_Escape);
            return true;
        }
        if (auto* test = dynamic_cast<TfrmTestArchive*>(form); modal && test) {
            if (!std::exchange(testStarted, true)) {
                QTimer::singleShot(0, modal, [test] { test->Button1->Click(); });
                return true;
            }
            if (test->StatusBar1->SimpleText.rfind("File(s) tested:", 0) != 0 || rowsListed >= 0)
                return false;
            testStatus = test->StatusBar1->SimpleText;
            rowsListed = test->ListView1->ItemCount();
            KeyLater(*test, Qt::Key_Escape);
            return true;
        }
        return false;
    });
    const auto run = [&](Qt::Key key, qint64& elapsed, int& paints, int& passes) {
        PaintCounter counter;
        status->installEventFilter(&counter);
        const BusyPassCounter pumped;
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(m.List(), key, Qt::ControlModifier);
        Application->ProcessMessages();
        elapsed = clock.elapsed();
        status->removeEventFilter(&counter);
        paints = counter.paints;
        passes = pumped.passes;
    };
    qint64 elapsed = 0;
    int paints = 0, passes = 0;

    out = dir.Path() / "all";
    fs::create_directories(out);
    run(Qt::Key_E, elapsed, paints, passes);
    EXPECT_EQ(files, FilesIn(out));
    EXPECT_EQ("small file 1234\n", ReadText(out / "f1234.txt"));
    EXPECT_EQ("Files Extracted: " + std::to_string(files), m.main->StatusBar1->SimpleText);
    // A pass at most every 5 ms and a paint every 15 ms; the dialogs opening and closing add a few.
    EXPECT_LE(passes, elapsed / 5 + 20) << "in " << elapsed << " ms";
    EXPECT_LE(paints, elapsed / 15 + 20) << "in " << elapsed << " ms";
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
    ASSERT_FALSE(archiveBarSeen.empty());
    EXPECT_TRUE(std::is_sorted(archiveBarSeen.begin(), archiveBarSeen.end()));
    EXPECT_GT(archiveBarSeen.back(), 0);
    EXPECT_GT(memberShown, 0);
    EXPECT_FALSE(archiveBar->isVisible());

    out = dir.Path() / "cancelled";
    fs::create_directories(out);
    cancelAfter200 = true;
    run(Qt::Key_E, elapsed, paints, passes);
    EXPECT_TRUE(ledClicked);
    EXPECT_NE(std::string::npos, errorsShown.find("User canceled")) << errorsShown;
    const int written = FilesIn(out);
    EXPECT_GE(written, 199);  // the member under way at the click is removed, not left half-written
    EXPECT_LT(written, files);
    EXPECT_EQ("Files Extracted: " + std::to_string(written) + ", errors: 1", m.main->StatusBar1->SimpleText);
    for (const auto& entry : fs::directory_iterator(out)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ("small file " + name.substr(1, name.size() - 5) + "\n", ReadText(entry.path())) << name;
    }
    EXPECT_EQ(nullptr, QApplication::overrideCursor());
    EXPECT_EQ(clGreen, m.main->LedColour());

    run(Qt::Key_T, elapsed, paints, passes);
    EXPECT_EQ("File(s) tested:  " + std::to_string(files), testStatus);
    EXPECT_EQ(files, rowsListed);
    EXPECT_LE(passes, elapsed / 5 + 20) << "in " << elapsed << " ms";
}

// The status bar names members at a human rate; a long member that begins right after a short one
// is still named while it is written, not the short one before it.
TEST(ManagerUse, ALongMemberIsNamedWhileItIsWritten)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path source = dir.Path() / "src";
    fs::create_directories(source);
    for (int i = 0; i < 20; ++i)
        std::ofstream(source / ("a" + std::to_string(i) + ".txt")) << "small file " << i << "\n";
    CaptureCommand("cd " + ShellQuote(source.string()) +
                   " && head -c 100000000 /dev/zero > z.bin && zip -q -0 ../m.zip a*.txt z.bin");
    Manager m(dir.Path() / "m.zip");
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    std::vector<std::string> shownDuringBig;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!modal && m.main->LedColour() == clRed && fs::exists(out / "z.bin")) {
            shownDuringBig.push_back(m.main->StatusBar1->SimpleText);
            return false;
        }
        if (modal && form && form->Name == "frmExtract") {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(out.string());
            EnterLater(*form);
            return true;
        }
        return false;
    });
    QTest::keyClick(m.List(), Qt::Key_E, Qt::ControlModifier);
    Application->ProcessMessages();
    EXPECT_EQ("Files Extracted: 21", m.main->StatusBar1->SimpleText);
    ASSERT_FALSE(shownDuringBig.empty());
    EXPECT_EQ("Extracting: " + (out / "z.bin").string(), shownDuringBig.back());
}

// A file picked in the Qt file dialog (a host path) is encoded beside itself, and decodes back.
TEST(ManagerUse, EncodeOfAFilePickedInTheDialogRoundTrips)
{
    TScratchDir dir;
    UseQt(dir.Path());
    const fs::path archive = MakeZip(dir.Path(), {"a.txt"});
    const fs::path picked = dir.Path() / "pick me.bin";
    CaptureCommand("head -c 20000 /dev/urandom > " + ShellQuote(picked.string()));
    const fs::path home = std::getenv("HOME");
    const auto strayBefore = fs::exists(home / "C:") || fs::exists(home / "C:\\tmp");
    Manager m(archive);
    int messageBoxes = 0;
    bool browsed = false;
    std::string shownInput;
    Answerer user([&](QWidget* modal, QMenu*) {
        QFileDialog* files = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible())
                files = d;
        if (files) {
            QTimer::singleShot(0, files, [files, picked] {
                // Typed, as a person does: the folder view fills itself later.
                if (auto* name = files->findChild<QLineEdit*>("fileNameEdit"))
                    name->setText(QString::fromStdString(picked.string()));
                QMetaObject::invokeMethod(files, "accept");
            });
            return true;
        }
        if (qobject_cast<QMessageBox*>(modal)) {
            ++messageBoxes;
            return ClickMessageButton(modal, QMessageBox::Ok);
        }
        TForm* form = Screen->ActiveForm;
        if (!modal || !form || !form->IsModal() || form->Name != "frmUUEncode")
            return false;
        auto* encode = static_cast<TfrmUUEncode*>(form);
        if (!browsed) {
            browsed = true;
            QTimer::singleShot(0, WindowOf(*form), [encode] { encode->btnBrowse->Click(); });
            return true;
        }
        if (encode->Edit1->Text().find("pick me") == std::string::npos)
            return false;
        shownInput = encode->Edit1->Text();
        Save(WindowOf(*form), "manager_encode");
        EnterLater(*form);
        return true;
    });
    m.main->EncodeClick();
    Application->ProcessMessages();
    EXPECT_EQ(0, messageBoxes);
    // The host's own form of the path, one kind of separator.
    EXPECT_EQ(picked.string(), shownInput);
    const fs::path encoded = dir.Path() / "pick me.ENC";
    ASSERT_TRUE(fs::exists(encoded)) << m.main->StatusBar1->SimpleText;
    EXPECT_EQ("Encoded: " + encoded.string(), m.main->StatusBar1->SimpleText);
    int status = -1;
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) + " && uudecode -o back.bin " +
                       ShellQuote(encoded.string()) + " && cmp back.bin " + ShellQuote(picked.string()),
                   &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(strayBefore, fs::exists(home / "C:") || fs::exists(home / "C:\\tmp"));
}

// The window closed while a large member is extracted: the extraction is cancelled, nothing is
// left half-written, and the request is finished (the program ends) right after it.
TEST(ManagerUse, ClosingTheWindowDuringAnExtractionCancelsItAndFinishes)
{
    TScratchDir dir;
    UseQt(dir.Path());
    CaptureCommand("cd " + ShellQuote(dir.Path().string()) +
                   " && truncate -s 150M big.bin && zip -q -0 m.zip big.bin && rm big.bin");
    const fs::path archive = dir.Path() / "m.zip";
    const fs::path out = dir.Path() / "out";
    fs::create_directories(out);
    Manager m(archive);
    bool closed = false, errorListShown = false;
    Answerer user([&](QWidget* modal, QMenu*) {
        TForm* form = Screen->ActiveForm;
        if (!closed && !modal && m.main->OperationRunning() && m.main->LedColour() == clRed) {
            closed = true;
            Save(WindowOf(*m.main), "manager_closing_during_extract");
            WindowOf(*m.main)->close();
            return true;
        }
        if (modal && form && form->Name == "frmExtract") {
            static_cast<TEdit*>(form->FindComponent("Edit1"))->SetText(out.string());
            EnterLater(*form);
            return true;
        }
        if (modal && dynamic_cast<TfrmErrorMsgs*>(form)) {
            errorListShown = true;
            KeyLater(*form, Qt::Key_Escape);
            return true;
        }
        return ClickMessageButton(modal, QMessageBox::Cancel) || ClickMessageButton(modal, QMessageBox::No);
    });
    QTest::keyClick(m.List(), Qt::Key_E, Qt::ControlModifier);
    for (int i = 0; i < 20 && !Application->Terminated(); ++i)
        Application->ProcessMessages();
    EXPECT_TRUE(closed);
    EXPECT_FALSE(errorListShown);
    EXPECT_TRUE(Application->Terminated());
    EXPECT_FALSE(m.main->OperationRunning());
    EXPECT_FALSE(fs::exists(out / "big.bin"));
    Application->ResetTerminated();
}
