// Keys typed into the program's text fields on a real display: the field's own handlers see each
// key first (filters, case, masks, keys that move on), and the native edit types what they leave.
#include "app/lib/FormComm.h"
#include "app/lib/FormSplitArchive.h"
#include "app/lib/VColButton.h"
#include "app/lib/VEdit.h"
#include "app/qt/ManagerWindows.h"
#include "platform/qt/QtConvert.h"
#include "platform/qt/QtPainted.h"
#include "support/ToolRun.h"
#include "writers/plxZipSplitter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vcl;
using namespace qtwindows;

namespace {

// Shows a dialog modally and acts on it once its window is up.
TModalResult RunModal(TForm& form, const std::function<void()>& act)
{
    QTimer timer;
    int ticks = 0;
    bool acted = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (!form.IsModal() || !WindowOf(form))
            return;
        if (++ticks > 250) {
            // Still open: the keys did not close it.
            ADD_FAILURE() << form.Caption << " was left open";
            form.OnCloseQuery = nullptr;
            form.ModalResult = mrAbort;
            return;
        }
        if (!acted) {
            acted = true;
            act();
        }
    });
    timer.start(20);
    return form.ShowModal();
}

QLineEdit* LineOf(TForm& form, TControl& control)
{
    return qobject_cast<QLineEdit*>(WidgetOf(form, control));
}

// Keys where the keyboard is now, as a person types them.
void Type(TForm& form, const QString& text)
{
    for (QChar c : text) {
        QWidget* w = WindowOf(form)->focusWidget();
        if (c.unicode() < 0x80)
            QTest::keyClick(w, char(c.unicode()));
        else  // a letter of a Czech keyboard's own key: Qt names it by its capital
            QTest::sendKeyEvent(QTest::Click, w, Qt::Key(c.toUpper().unicode()), QString(c), Qt::NoModifier);
    }
    Application->ProcessMessages();
}

void Press(TForm& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(WindowOf(form)->focusWidget(), key, modifiers);
    Application->ProcessMessages();
}

class TFieldsForm : public TForm {
public:
    explicit TFieldsForm(TComponent* owner) : TForm(owner)
    {
        Caption = "Fields";
        SetClientWidth(320);
        SetClientHeight(260);
        int top = 20;
        for (TVLabeledEdit** field : {&filtered, &upper, &date, &combo, &last}) {
            *field = new TVLabeledEdit(this);
            (*field)->SetParent(this);
            (*field)->SetBounds(8, top, 200, 22);
            (*field)->TabOrder = (top - 20) / 48;
            top += 48;
        }
        filtered->StringEdit.Filtr = "0123456789ABC";
        filtered->StringEdit.FiltrUse = true;
        upper->CaseMode = cmUpperCase;
        date->EditType = teMask;
        date->MaskEdit.Mask = "!99.99.9999";
        combo->EditType = teComboBox;
        combo->ComboBox.Items = "Praha|Brno";
    }
    TVLabeledEdit *filtered, *upper, *date, *combo, *last;
};

}  // namespace

// "Other Size" takes digits, Backspace and the clipboard's keys, nothing else; the volume size is
// what was typed.
TEST(FieldKeys, OtherSizeTakesDigitsAndTheClipboardKeysOnly)
{
    TScratchDir dir;
    UseQt(dir.Path());
    TZipSplitter writer;
    writer.Splitter().ArchiveSize = 3'000'000;
    writer.Splitter().PartType = ptOtherSize;
    TfrmSplitArchive split(nullptr);
    split.Splitter = &writer;
    split.EnsureCreated();
    QString shown, afterEdits;
    RunModal(split, [&] {
        QLineEdit* line = LineOf(split, *split.Edit3);
        ASSERT_NE(line, nullptr);
        split.Edit3->SetFocus();
        Application->ProcessMessages();
        line->selectAll();
        Type(split, "100,000.5xab,7");
        shown = line->text();
        Press(split, Qt::Key_Backspace);
        Press(split, Qt::Key_Home, Qt::ShiftModifier);
        Press(split, Qt::Key_C, Qt::ControlModifier);
        Press(split, Qt::Key_End);
        Press(split, Qt::Key_V, Qt::ControlModifier);
        afterEdits = line->text();
        // Esc asks whether to give up the archive: yes.
        QTimer::singleShot(50, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Yes)->click();
        });
        Press(split, Qt::Key_Escape);
    });
    EXPECT_EQ("10000057", shown.toStdString());
    EXPECT_EQ("10000051000005", afterEdits.toStdString());
    EXPECT_EQ("10000051000005", split.Edit3->Text());
    EXPECT_EQ(10000051000005, writer.Splitter().PartSize);
}

// The labelled edit's rules run on a real display: its filter, its case, its date mask, its combo
// keys, and Down that moves on to the next field.
TEST(FieldKeys, TheLabelledEditsRulesRunOnTheNativeField)
{
    TScratchDir dir;
    UseQt(dir.Path());
    TFieldsForm form(nullptr);
    form.Show();
    form.SetActiveControl(form.filtered);
    Application->ProcessMessages();
    ASSERT_NE(WindowOf(form), nullptr);
    Type(form, "12abC3,x");
    EXPECT_EQ("12C3", LineOf(form, *form.filtered)->text().toStdString());
    Press(form, Qt::Key_Down);
    EXPECT_EQ(form.upper, form.ActiveControl());
    EXPECT_EQ(LineOf(form, *form.upper), WindowOf(form)->focusWidget());
    Type(form, "jan novák");
    EXPECT_EQ("JAN NOVÁK", LineOf(form, *form.upper)->text().toStdString());
    EXPECT_EQ("JAN NOVÁK", form.upper->Text());
    Press(form, Qt::Key_Down);
    EXPECT_EQ(form.date, form.ActiveControl());
    QLineEdit* date = LineOf(form, *form.date);
    EXPECT_EQ("__.__.____", date->text().toStdString());
    Type(form, "3x1052");
    EXPECT_EQ("31.05.2___", date->text().toStdString());
    Press(form, Qt::Key_Backspace);
    EXPECT_EQ("31.05.____", date->text().toStdString());
    Type(form, "7");
    EXPECT_EQ("31.05.7___", date->text().toStdString());
    Press(form, Qt::Key_Up);
    EXPECT_EQ(form.upper, form.ActiveControl());
    Press(form, Qt::Key_Down);
    Press(form, Qt::Key_Down);
    EXPECT_EQ(form.combo, form.ActiveControl());
    Type(form, "Brno");
    EXPECT_EQ("Brno", LineOf(form, *form.combo)->text().toStdString());
    Press(form, Qt::Key_Backspace);  // empties a combo field
    EXPECT_EQ("", LineOf(form, *form.combo)->text().toStdString());
    EXPECT_EQ("", form.combo->Text());
    form.Hide();
}

// In the backup's comment dialog Down leaves the text for the OK button and Enter there keeps
// what was typed.
TEST(FieldKeys, TheCommentFieldMovesOnWithDown)
{
    TScratchDir dir;
    UseQt(dir.Path());
    TfrmComm comm(nullptr);
    comm.EnsureCreated();
    std::string focusedAfterDown;
    TControl* shownFocused = nullptr;
    QColor leftColour;
    const TModalResult result = RunModal(comm, [&] {
        Type(comm, "Zaloha pred uzaverkou");
        Press(comm, Qt::Key_Down);
        focusedAfterDown = comm.ActiveControl() ? comm.ActiveControl()->Name : "(none)";
        leftColour = LineOf(comm, *comm.leComment)->palette().color(QPalette::Base);
        if (auto* painted = dynamic_cast<torvoqt::PaintedWidget*>(WindowOf(comm)->focusWidget()))
            shownFocused = painted->control;
        Press(comm, Qt::Key_Return);
    });
    EXPECT_EQ("btnOK", focusedAfterDown);
    EXPECT_EQ(comm.btnOK, shownFocused);
    // The field left wears its own colour again, not the focus colour.
    EXPECT_EQ(torvoqt::ToQColor(clWindow), leftColour);
    EXPECT_EQ(mrOk, result);
    EXPECT_EQ("Zaloha pred uzaverkou", comm.leComment->Text());
}
