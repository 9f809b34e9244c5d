#include "platform/qt/QtPeers.h"

#include "platform/qt/QtConvert.h"
#include "platform/qt/QtPainted.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/StdCtrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPoint>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>

namespace torvoqt {

using namespace vcl;

namespace {

Qt::CursorShape CursorOf(TCursor cursor)
{
    return cursor == crHourGlass   ? Qt::WaitCursor
           : cursor == crHandPoint ? Qt::PointingHandCursor
           : cursor == crIBeam     ? Qt::IBeamCursor
                                   : Qt::ArrowCursor;
}

// Positions in a line edit are UTF-16 units; the control counts characters.
int Characters(const QString& text, int units)
{
    return int(text.left(units).toUcs4().size());
}
int Units(const QString& text, int characters)
{
    qsizetype units = 0;
    for (int c = 0; c < characters && units < text.size(); ++c)
        units += text.at(units).isHighSurrogate() && units + 1 < text.size() ? 2 : 1;
    return int(units);
}

// The selection the control last saw of its widget: the program moved the caret when the
// control's differs.
constexpr const char* kSeenSelection = "torvoSelection";

}  // namespace

void TakeSelection(TCustomEdit& edit, QLineEdit* e)
{
    const QString text = e->text();
    if (e->hasSelectedText()) {
        edit.SelStart = Characters(text, e->selectionStart());
        edit.SelLength = Characters(text, e->selectionEnd()) - edit.SelStart;
    } else {
        edit.SelStart = Characters(text, e->cursorPosition());
        edit.SelLength = 0;
    }
    e->setProperty(kSeenSelection, QPoint(edit.SelStart, edit.SelLength));
}

QWidget* MakeWidget(TControl* c, QWidget* parent)
{
    switch (c->Kind()) {
    case ckButton: {
        auto* b = new QPushButton(parent);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, [c] { SafeCall([&] { c->Click(); }); });
        return b;
    }
    case ckEdit: {
        auto* e = new QLineEdit(parent);
        auto* edit = static_cast<TCustomEdit*>(c);
        // A control that never placed its caret leaves it where Qt puts it.
        e->setProperty(kSeenSelection, QPoint(edit->SelStart, edit->SelLength));
        QObject::connect(e, &QLineEdit::textEdited, [edit, e](const QString& t) {
            SafeCall([&] {
                edit->SetText(FromQ(t));
                TakeSelection(*edit, e);
            });
        });
        // The key handlers read the caret (masks, "caret at the start" rules): it is kept current.
        QObject::connect(e, &QLineEdit::cursorPositionChanged, [edit, e] { TakeSelection(*edit, e); });
        QObject::connect(e, &QLineEdit::selectionChanged, [edit, e] { TakeSelection(*edit, e); });
        return e;
    }
    case ckMemo: {
        auto* m = new QPlainTextEdit(parent);
        auto* memo = static_cast<TMemo*>(c);
        QObject::connect(m, &QPlainTextEdit::textChanged, [memo, m] {
            std::string t = FromQ(m->toPlainText());
            if (t != memo->Text())
                SafeCall([&] { memo->SetText(t); });
        });
        return m;
    }
    case ckCheckBox: {
        auto* b = new QCheckBox(parent);
        auto* box = static_cast<TCheckBox*>(c);
        QObject::connect(b, &QCheckBox::clicked, [box](bool on) { SafeCall([&] { box->SetChecked(on); }); });
        return b;
    }
    case ckComboBox: {
        auto* b = new QComboBox(parent);
        auto* combo = static_cast<TComboBox*>(c);
        QObject::connect(b, &QComboBox::activated, [combo](int i) { SafeCall([&] { combo->SelectFromList(i); }); });
        return b;
    }
    case ckProgressBar: {
        auto* p = new QProgressBar(parent);
        p->setTextVisible(false);
        return p;
    }
    case ckScrollBar: {
        auto* s = new QScrollBar(parent);
        auto* bar = static_cast<TScrollBar*>(c);
        QObject::connect(s, &QScrollBar::valueChanged, [bar](int v) { SafeCall([&] { bar->SetPosition(v); }); });
        return s;
    }
    default:
        return new PaintedWidget(c, parent);
    }
}

void PushProperties(TControl& c, QWidget* w, QWidget* parent)
{
    if (w->parentWidget() != parent)
        w->setParent(parent);
    QRect r(c.Left(), c.Top(), c.Width(), c.Height());
    if (w->geometry() != r)
        w->setGeometry(r);
    if (w->isVisibleTo(parent) != c.Visible())
        w->setVisible(c.Visible());
    if (w->isEnabled() != c.Enabled())
        w->setEnabled(c.Enabled());
    QString tip = ToQ(c.ShowHint ? c.Hint : std::string());
    if (w->toolTip() != tip)
        w->setToolTip(tip);
    if (w->cursor().shape() != CursorOf(c.Cursor))
        w->setCursor(CursorOf(c.Cursor));
    auto* win = dynamic_cast<TWinControl*>(&c);
    Qt::FocusPolicy focus = !win ? Qt::NoFocus : win->TabStop ? Qt::StrongFocus : Qt::ClickFocus;
    if (w->focusPolicy() != focus)
        w->setFocusPolicy(focus);
    if (c.Kind() == ckPainted) {
        w->update();
        return;
    }
    QFont font = ToQFont(c.Font);
    if (w->font() != font)
        w->setFont(font);
    if (c.Kind() == ckEdit || c.Kind() == ckMemo || c.Kind() == ckComboBox) {
        // The field's own colour (focus and disabled colours of the edits that have them).
        const QColor base = ToQColor(c.Color);
        if (w->palette().color(QPalette::Base) != base) {
            QPalette palette = w->palette();
            palette.setColor(QPalette::Base, base);
            w->setPalette(palette);
        }
    }
    QSignalBlocker block(w);
    switch (c.Kind()) {
    case ckButton: {
        auto* b = static_cast<QPushButton*>(w);
        if (b->text() != ToQ(c.Caption))
            b->setText(ToQ(c.Caption));
        b->setDefault(static_cast<TButton&>(c).Default);
        break;
    }
    case ckEdit: {
        auto* e = static_cast<QLineEdit*>(w);
        auto& edit = static_cast<TEdit&>(c);
        // The caret is the control's when it placed it, or when it changed the text it has the
        // keyboard in (a mask, a field's rule); Qt's (the end) for a text set while away.
        bool caretMoved = e->property(kSeenSelection).toPoint() != QPoint(edit.SelStart, edit.SelLength);
        if (e->text() != ToQ(edit.Text())) {
            e->setText(ToQ(edit.Text()));
            caretMoved = caretMoved || edit.Focused();
        }
        e->setMaxLength(edit.MaxLength > 0 ? edit.MaxLength : 32767);
        e->setReadOnly(edit.ReadOnly);
        e->setEchoMode(edit.PasswordChar ? QLineEdit::Password : QLineEdit::Normal);
        if (caretMoved) {
            const QString text = e->text();
            const int start = Units(text, edit.SelStart), end = Units(text, edit.SelStart + edit.SelLength);
            if (end > start)
                e->setSelection(start, end - start);
            else
                e->setCursorPosition(start);
        }
        TakeSelection(edit, e);
        break;
    }
    case ckMemo: {
        auto* m = static_cast<QPlainTextEdit*>(w);
        auto& memo = static_cast<TMemo&>(c);
        if (FromQ(m->toPlainText()) != memo.Text())
            m->setPlainText(ToQ(memo.Text()));
        m->setReadOnly(memo.ReadOnly);
        break;
    }
    case ckCheckBox: {
        auto* b = static_cast<QCheckBox*>(w);
        auto state = static_cast<TCheckBox&>(c).State();
        if (b->text() != ToQ(c.Caption))
            b->setText(ToQ(c.Caption));
        b->setCheckState(state == cbChecked ? Qt::Checked : state == cbGrayed ? Qt::PartiallyChecked : Qt::Unchecked);
        break;
    }
    case ckComboBox: {
        auto* b = static_cast<QComboBox*>(w);
        auto& combo = static_cast<TComboBox&>(c);
        QStringList items;
        for (int i = 0; i < combo.Items.Count(); ++i)
            items << ToQ(combo.Items[i]);
        QStringList current;
        for (int i = 0; i < b->count(); ++i)
            current << b->itemText(i);
        if (items != current) {
            b->clear();
            b->addItems(items);
        }
        b->setEditable(combo.Style != csDropDownList);
        b->setCurrentIndex(combo.ItemIndex());
        if (b->isEditable() && b->currentText() != ToQ(combo.Text()))
            b->setEditText(ToQ(combo.Text()));
        break;
    }
    case ckProgressBar: {
        auto* p = static_cast<QProgressBar*>(w);
        auto& bar = static_cast<TProgressBar&>(c);
        if (p->minimum() != bar.Min || p->maximum() != bar.Max)
            p->setRange(bar.Min, bar.Max);
        p->setValue(bar.Position());
        break;
    }
    case ckScrollBar: {
        auto* s = static_cast<QScrollBar*>(w);
        auto& bar = static_cast<TScrollBar&>(c);
        s->setOrientation(bar.ScrollKind == sbHorizontal ? Qt::Horizontal : Qt::Vertical);
        s->setRange(bar.Min, bar.Max);
        s->setValue(bar.Position());
        s->setSingleStep(bar.SmallChange);
        s->setPageStep(std::max(1, bar.LargeChange));
        break;
    }
    default:
        break;
    }
}

}  // namespace torvoqt
