#include "platform/qt/QtPeers.h"

#include "platform/qt/QtConvert.h"
#include "platform/qt/QtPainted.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/StdCtrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
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

}  // namespace

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
        QObject::connect(e, &QLineEdit::textEdited,
                         [edit](const QString& t) { SafeCall([&] { edit->SetText(FromQ(t)); }); });
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
        if (e->text() != ToQ(edit.Text()))
            e->setText(ToQ(edit.Text()));
        e->setMaxLength(edit.MaxLength > 0 ? edit.MaxLength : 32767);
        e->setReadOnly(edit.ReadOnly);
        e->setEchoMode(edit.PasswordChar ? QLineEdit::Password : QLineEdit::Normal);
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
