#include "platform/qt/QtWidgetSet.h"

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Menus.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include <unordered_map>

namespace torvoqt {

using namespace vcl;

namespace {

QColor ToQColor(TColor c)
{
    TColor rgb = ColorToRGB(c);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QFont ToQFont(const TFont& f)
{
    QFont font(QString::fromStdString(f.Name));
    font.setPointSize(std::max(1, f.Size));
    font.setBold(f.Style & fsBold);
    font.setItalic(f.Style & fsItalic);
    font.setUnderline(f.Style & fsUnderline);
    font.setStrikeOut(f.Style & fsStrikeOut);
    return font;
}

QString ToQ(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
std::string FromQ(const QString& s) { return s.toUtf8().toStdString(); }
// Qt marks accelerators with "&" too; only "&&" differs in nothing, so captions pass as they are.

// Draws on a QImage through QPainter, so that owner drawing can also read pixels back.
class QtDevice : public TCanvasDevice {
public:
    explicit QtDevice(QImage& image) : image_(image), painter_(&image_) {}
    int DeviceWidth() const override { return image_.width(); }
    int DeviceHeight() const override { return image_.height(); }
    void FillRect(const TRect& r, TColor rgb) override
    {
        painter_.fillRect(QRect(r.Left, r.Top, r.Width(), r.Height()), ToQColor(rgb));
    }
    void DrawText(int x, int y, const std::string& text, const TFont& font, TColor rgb, const TRect& clip) override
    {
        painter_.save();
        painter_.setClipRect(QRect(clip.Left, clip.Top, clip.Width(), clip.Height()));
        painter_.setFont(ToQFont(font));
        painter_.setPen(ToQColor(rgb));
        QFontMetrics metrics(painter_.font());
        painter_.drawText(QPoint(x, y + metrics.ascent()), ToQ(text));
        painter_.restore();
    }
    TSize TextExtent(const std::string& text, const TFont& font) override
    {
        QFontMetrics metrics(ToQFont(font));
        return TSize{metrics.horizontalAdvance(ToQ(text)), metrics.height()};
    }
    TColor GetPixel(int x, int y) override
    {
        if (!image_.rect().contains(x, y))
            return clNone;
        QRgb p = image_.pixel(x, y);
        return RGB(qRed(p), qGreen(p), qBlue(p));
    }
    void SetPixel(int x, int y, TColor rgb) override
    {
        if (image_.rect().contains(x, y))
            image_.setPixel(x, y, qRgb(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
    }

private:
    QImage& image_;
    QPainter painter_;
};

// A control that draws itself: Paint runs on a QImage that is then shown.
class PaintedWidget : public QWidget {
public:
    PaintedWidget(TControl* control, QWidget* parent) : QWidget(parent), control(control)
    {
        setMouseTracking(true);
        if (auto* w = dynamic_cast<TWinControl*>(control); w && w->TabStop)
            setFocusPolicy(Qt::StrongFocus);
    }
    TControl* control;

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!control)
            return;
        QImage image(size(), QImage::Format_RGB32);
        image.fill(ToQColor(control->Color));
        {
            QtDevice device(image);
            SafeCall([&] { control->PaintOn(&device, {0, 0}, Rect(0, 0, width(), height())); });
        }
        QPainter(this).drawImage(0, 0, image);
    }
    static TShiftState Shift(QMouseEvent* e)
    {
        TShiftState s = 0;
        if (e->modifiers() & Qt::ShiftModifier)
            s |= ssShift;
        if (e->modifiers() & Qt::ControlModifier)
            s |= ssCtrl;
        if (e->modifiers() & Qt::AltModifier)
            s |= ssAlt;
        return s;
    }
    static TMouseButton Button(QMouseEvent* e)
    {
        return e->button() == Qt::RightButton ? mbRight : e->button() == Qt::MiddleButton ? mbMiddle : mbLeft;
    }
    void mousePressEvent(QMouseEvent* e) override
    {
        if (control)
            SafeCall([&] { control->MouseDown(Button(e), Shift(e), e->position().x(), e->position().y()); });
        update();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        if (control)
            SafeCall([&] { control->MouseDown(Button(e), Shift(e) | ssDouble, e->position().x(), e->position().y()); });
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        if (control)
            SafeCall([&] { control->MouseUp(Button(e), Shift(e), e->position().x(), e->position().y()); });
        update();
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (control)
            SafeCall([&] { control->MouseMove(Shift(e), e->position().x(), e->position().y()); });
    }
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent*) override
    {
        if (auto* w = dynamic_cast<TWinControl*>(control); w && !w->Focused() && w->CanFocus())
            SafeCall([&] { w->SetFocus(); });
        update();
    }
};

WORD VirtualKey(int qtKey)
{
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return WORD(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return WORD(VK_F1 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab: case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return: case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    default: return 0;
    }
}

void PaintedWidget::keyPressEvent(QKeyEvent* e)
{
    TForm* form = control ? control->ParentForm() : nullptr;
    if (!form)
        return;
    TShiftState s = 0;
    if (e->modifiers() & Qt::ShiftModifier)
        s |= ssShift;
    if (e->modifiers() & Qt::ControlModifier)
        s |= ssCtrl;
    if (e->modifiers() & Qt::AltModifier)
        s |= ssAlt;
    QString text = e->text();
    char32_t ch = text.isEmpty() ? 0 : char32_t(text.toUcs4().value(0));
    SafeCall([&] { form->PressKey(VirtualKey(e->key()), s, ch < 32 && ch != 8 && ch != 13 && ch != 27 ? 0 : ch); });
    update();
}

struct FormPeer {
    QPointer<QWidget> window;  // top level: menu bar and client
    QPointer<QWidget> client;
    QPointer<QMenuBar> menuBar;
};

class QtWidgetSet : public TWidgetSet {
public:
    QtWidgetSet()
    {
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "torvo";
            static char* argv[] = {name, nullptr};
            app_ = std::make_unique<QApplication>(argc, argv);
        }
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    ~QtWidgetSet() override
    {
        timer_.stop();
        for (auto& [control, widget] : widgets_)
            if (auto* painted = dynamic_cast<PaintedWidget*>(widget.data()))
                painted->control = nullptr;
        for (auto& [form, peer] : forms_)
            delete peer.window.data();
    }
    std::string Name() const override { return "qt"; }

    void ProcessEvents(bool wait) override
    {
        QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
        DispatchWindowMessages();
        SyncAll();
    }
    void ModalStep(TForm& form) override
    {
        if (auto it = forms_.find(&form); it != forms_.end() && it->second.window)
            it->second.window->setWindowModality(Qt::ApplicationModal);
        ProcessEvents(true);
    }
    void FormShown(TForm& form) override
    {
        Realise(form);
        FormPeer& peer = forms_[&form];
        SyncAll();
        peer.window->show();
    }
    void FormHidden(TForm& form) override
    {
        if (auto it = forms_.find(&form); it != forms_.end() && it->second.window) {
            it->second.window->setWindowModality(Qt::NonModal);
            it->second.window->hide();
        }
    }
    void ControlChanged(TControl&) override { dirty_ = true; }
    void ControlDestroyed(TControl& control) override
    {
        if (auto it = widgets_.find(&control); it != widgets_.end()) {
            if (auto* painted = dynamic_cast<PaintedWidget*>(it->second.data()))
                painted->control = nullptr;
            if (it->second) {
                it->second->hide();
                it->second->deleteLater();
            }
            widgets_.erase(it);
        }
        for (auto it = forms_.begin(); it != forms_.end(); ++it)
            if (static_cast<TControl*>(it->first) == &control) {
                if (it->second.window) {
                    it->second.window->hide();
                    it->second.window->deleteLater();
                }
                forms_.erase(it);
                break;
            }
    }
    void FocusChanged(TWinControl& control) override
    {
        if (auto it = widgets_.find(&control); it != widgets_.end() && it->second && !it->second->hasFocus())
            it->second->setFocus();
    }
    TModalResult MessageBox(const TMessageBoxParams& p) override
    {
        static const std::pair<TModalResult, QMessageBox::StandardButton> map[] = {
            {mrOk, QMessageBox::Ok},       {mrCancel, QMessageBox::Cancel}, {mrAbort, QMessageBox::Abort},
            {mrRetry, QMessageBox::Retry}, {mrIgnore, QMessageBox::Ignore}, {mrYes, QMessageBox::Yes},
            {mrNo, QMessageBox::No},       {mrAll, QMessageBox::YesToAll},  {mrNoToAll, QMessageBox::NoToAll},
            {mrYesToAll, QMessageBox::YesToAll}};
        QMessageBox box;
        box.setWindowTitle(ToQ(p.Caption));
        box.setText(ToQ(p.Text));
        box.setIcon(p.Type == mtError ? QMessageBox::Critical : p.Type == mtWarning ? QMessageBox::Warning
                    : p.Type == mtConfirmation ? QMessageBox::Question : p.Type == mtInformation ? QMessageBox::Information
                                                                                                : QMessageBox::NoIcon);
        std::vector<std::pair<QAbstractButton*, TModalResult>> buttons;
        for (size_t i = 0; i < p.Buttons.size(); ++i)
            for (auto [result, standard] : map)
                if (result == p.Buttons[i]) {
                    QAbstractButton* b = box.addButton(standard);
                    buttons.push_back({b, result});
                    if (int(i) == p.DefaultButton)
                        box.setDefaultButton(static_cast<QPushButton*>(b));
                    break;
                }
        box.exec();
        for (auto [button, result] : buttons)
            if (box.clickedButton() == button)
                return result;
        return p.Buttons.empty() ? mrOk : (std::find(p.Buttons.begin(), p.Buttons.end(), mrCancel) != p.Buttons.end() ? mrCancel : p.Buttons.back());
    }
    bool FileDialog(TFileDialogParams& p) override
    {
        // "Archives|*.zip;*.7z|All|*.*" -> "Archives (*.zip *.7z);;All (*.*)"
        QStringList parts = ToQ(p.Filter).split('|');
        QStringList filters;
        for (int i = 0; i + 1 < parts.size(); i += 2)
            filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
        QString selected = filters.value(p.FilterIndex - 1);
        QString start = ToQ(p.InitialDir.empty() ? p.FileName : p.InitialDir + "/" + p.FileName);
        QStringList chosen;
        if (p.Save) {
            QString f = QFileDialog::getSaveFileName(nullptr, ToQ(p.Title), start, filters.join(";;"), &selected);
            if (!f.isEmpty())
                chosen << f;
        } else if (p.MultiSelect) {
            chosen = QFileDialog::getOpenFileNames(nullptr, ToQ(p.Title), start, filters.join(";;"), &selected);
        } else {
            QString f = QFileDialog::getOpenFileName(nullptr, ToQ(p.Title), start, filters.join(";;"), &selected);
            if (!f.isEmpty())
                chosen << f;
        }
        p.Files.clear();
        for (const QString& f : chosen)
            p.Files.push_back(FromQ(f));
        p.FilterIndex = std::max(1, int(filters.indexOf(selected)) + 1);
        return !p.Files.empty();
    }
    bool SelectDirectory(const std::string& caption, std::string& directory) override
    {
        QString d = QFileDialog::getExistingDirectory(nullptr, ToQ(caption), ToQ(directory));
        if (d.isEmpty())
            return false;
        directory = FromQ(d);
        return true;
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        bool ok = false;
        QString v = QInputDialog::getText(nullptr, ToQ(caption), ToQ(prompt), QLineEdit::Normal, ToQ(value), &ok);
        if (ok)
            value = FromQ(v);
        return ok;
    }
    void Popup(TPopupMenu& menu, int x, int y) override
    {
        QMenu q;
        FillMenu(&q, menu.Items());
        q.exec(QPoint(x, y));
    }
    TSize TextExtent(const std::string& text, const TFont& font) override
    {
        QFontMetrics metrics(ToQFont(font));
        return TSize{metrics.horizontalAdvance(ToQ(text)), metrics.height()};
    }
    void CursorChanged(TCursor cursor) override
    {
        while (QApplication::overrideCursor())
            QApplication::restoreOverrideCursor();
        if (cursor == crHourGlass)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    void SetMinimized(bool minimized) override
    {
        for (auto& [form, peer] : forms_)
            if (peer.window && form->Visible())
                minimized ? peer.window->showMinimized() : peer.window->showNormal();
    }
    bool SaveScreenshot(TForm& form, const std::string& path) override
    {
        Realise(form);
        SyncAll();
        QWidget* client = forms_[&form].client;
        if (!client)
            return false;
        return client->grab().save(ToQ(path), "PNG");
    }

private:
    void Tick()
    {
        DispatchWindowMessages();
        SyncAll();
    }

    void FillMenu(QMenu* q, TMenuItem* items)
    {
        for (int i = 0; i < items->Count(); ++i) {
            TMenuItem* item = items->Items(i);
            if (!item->Visible)
                continue;
            if (item->IsLine()) {
                q->addSeparator();
            } else if (item->Count() > 0) {
                FillMenu(q->addMenu(ToQ(item->Caption)), item);
            } else {
                QAction* a = q->addAction(ToQ(item->Caption));
                a->setEnabled(item->Enabled);
                a->setCheckable(item->Checked);
                a->setChecked(item->Checked);
                if (item->ShortCut)
                    a->setShortcut(QKeySequence(ToQ(ShortCutToText(item->ShortCut))));
                a->setShortcutContext(Qt::WidgetShortcut);  // the form dispatches shortcuts itself
                QObject::connect(a, &QAction::triggered, [item] { SafeCall([&] { item->Click(); }); });
            }
        }
    }

    void Realise(TForm& form)
    {
        FormPeer& peer = forms_[&form];
        if (peer.window)
            return;
        peer.window = new QWidget(nullptr);
        peer.client = new PaintedWidget(&form, peer.window);
        peer.client->setFocusPolicy(Qt::StrongFocus);
        widgets_[&form] = peer.client;
    }

    QWidget* MakeWidget(TControl* c, QWidget* parent)
    {
        switch (c->Kind()) {
        case ckButton: {
            auto* b = new QPushButton(parent);
            QObject::connect(b, &QPushButton::clicked, [c] { SafeCall([&] { c->Click(); }); });
            return b;
        }
        case ckEdit: {
            auto* e = new QLineEdit(parent);
            auto* edit = static_cast<TCustomEdit*>(c);
            QObject::connect(e, &QLineEdit::textEdited, [edit](const QString& t) { SafeCall([&] { edit->SetText(FromQ(t)); }); });
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
        case ckProgressBar: return new QProgressBar(parent);
        case ckScrollBar: {
            auto* s = new QScrollBar(parent);
            auto* bar = static_cast<TScrollBar*>(c);
            QObject::connect(s, &QScrollBar::valueChanged, [bar](int v) { SafeCall([&] { bar->SetPosition(v); }); });
            return s;
        }
        default: return new PaintedWidget(c, parent);
        }
    }

    void SyncControl(TControl* c, QWidget* parentWidget)
    {
        QPointer<QWidget>& w = widgets_[c];
        if (!w) {
            w = MakeWidget(c, parentWidget);
        }
        if (w->parentWidget() != parentWidget)
            w->setParent(parentWidget);
        QRect r(c->Left(), c->Top(), c->Width(), c->Height());
        if (w->geometry() != r)
            w->setGeometry(r);
        if (w->isVisibleTo(parentWidget) != c->Visible())
            w->setVisible(c->Visible());
        if (w->isEnabled() != c->Enabled())
            w->setEnabled(c->Enabled());
        if (w->toolTip() != ToQ(c->ShowHint ? c->Hint : std::string()))
            w->setToolTip(ToQ(c->ShowHint ? c->Hint : std::string()));
        w->setCursor(c->Cursor == crHourGlass ? Qt::WaitCursor : c->Cursor == crHandPoint ? Qt::PointingHandCursor
                     : c->Cursor == crIBeam ? Qt::IBeamCursor : Qt::ArrowCursor);
        QSignalBlocker block(w.data());
        switch (c->Kind()) {
        case ckButton:
            static_cast<QPushButton*>(w.data())->setText(ToQ(c->Caption));
            static_cast<QPushButton*>(w.data())->setDefault(static_cast<TButton*>(c)->Default);
            break;
        case ckEdit: {
            auto* e = static_cast<QLineEdit*>(w.data());
            auto* edit = static_cast<TEdit*>(c);
            if (e->text() != ToQ(edit->Text()))
                e->setText(ToQ(edit->Text()));
            e->setMaxLength(edit->MaxLength > 0 ? edit->MaxLength : 32767);
            e->setReadOnly(edit->ReadOnly);
            e->setEchoMode(edit->PasswordChar ? QLineEdit::Password : QLineEdit::Normal);
            break;
        }
        case ckMemo: {
            auto* m = static_cast<QPlainTextEdit*>(w.data());
            auto* memo = static_cast<TMemo*>(c);
            if (FromQ(m->toPlainText()) != memo->Text())
                m->setPlainText(ToQ(memo->Text()));
            m->setReadOnly(memo->ReadOnly);
            break;
        }
        case ckCheckBox: {
            auto* b = static_cast<QCheckBox*>(w.data());
            b->setText(ToQ(c->Caption));
            b->setCheckState(static_cast<TCheckBox*>(c)->State() == cbChecked ? Qt::Checked
                             : static_cast<TCheckBox*>(c)->State() == cbGrayed ? Qt::PartiallyChecked
                                                                                : Qt::Unchecked);
            break;
        }
        case ckComboBox: {
            auto* b = static_cast<QComboBox*>(w.data());
            auto* combo = static_cast<TComboBox*>(c);
            QStringList items;
            for (int i = 0; i < combo->Items.Count(); ++i)
                items << ToQ(combo->Items[i]);
            QStringList current;
            for (int i = 0; i < b->count(); ++i)
                current << b->itemText(i);
            if (items != current) {
                b->clear();
                b->addItems(items);
            }
            b->setEditable(combo->Style != csDropDownList);
            b->setCurrentIndex(combo->ItemIndex());
            if (b->isEditable() && b->currentText() != ToQ(combo->Text()))
                b->setEditText(ToQ(combo->Text()));
            break;
        }
        case ckProgressBar: {
            auto* p = static_cast<QProgressBar*>(w.data());
            auto* bar = static_cast<TProgressBar*>(c);
            p->setRange(bar->Min, bar->Max);
            p->setValue(bar->Position());
            p->setTextVisible(false);
            break;
        }
        case ckScrollBar: {
            auto* s = static_cast<QScrollBar*>(w.data());
            auto* bar = static_cast<TScrollBar*>(c);
            s->setOrientation(bar->ScrollKind == sbHorizontal ? Qt::Horizontal : Qt::Vertical);
            s->setRange(bar->Min, bar->Max);
            s->setValue(bar->Position());
            s->setSingleStep(bar->SmallChange);
            s->setPageStep(std::max(1, bar->LargeChange));
            break;
        }
        default:
            w->update();
            break;
        }
        if (auto* win = dynamic_cast<TWinControl*>(c))
            for (int i = 0; i < win->ControlCount(); ++i)
                SyncControl(win->Controls(i), w);
    }

    void SyncForm(TForm& form, FormPeer& peer)
    {
        int menuHeight = form.Menu ? 20 : 0;
        if (form.Menu && !peer.menuBar) {
            peer.menuBar = new QMenuBar(peer.window);
            for (int i = 0; i < form.Menu->Items()->Count(); ++i) {
                TMenuItem* top = form.Menu->Items()->Items(i);
                if (top->Visible)
                    FillMenu(peer.menuBar->addMenu(ToQ(top->Caption)), top);
            }
        }
        if (peer.menuBar)
            peer.menuBar->setGeometry(0, 0, form.ClientWidth(), menuHeight);
        QSize size(form.ClientWidth(), form.ClientHeight() + menuHeight);
        if (peer.window->size() != size)
            peer.window->resize(size);
        if (form.BorderStyle == bsDialog || form.BorderStyle == bsSingle || form.BorderStyle == bsToolWindow)
            peer.window->setFixedSize(size);
        peer.window->setWindowTitle(ToQ(form.Caption));
        peer.window->setWindowFlag(Qt::WindowStaysOnTopHint, form.FormStyleStayOnTop);
        QRect client(0, menuHeight, form.ClientWidth(), form.ClientHeight());
        if (peer.client->geometry() != client)
            peer.client->setGeometry(client);
        peer.client->update();
        for (int i = 0; i < form.ControlCount(); ++i)
            SyncControl(form.Controls(i), peer.client);
    }

    void SyncAll()
    {
        if (syncing_)
            return;
        syncing_ = true;
        for (auto& entry : forms_) {
            TForm* form = entry.first;
            FormPeer& peer = entry.second;
            if (peer.window)
                SafeCall([&] { SyncForm(*form, peer); });
        }
        dirty_ = false;
        syncing_ = false;
    }

    std::unique_ptr<QApplication> app_;
    QTimer timer_;
    std::unordered_map<TForm*, FormPeer> forms_;
    std::unordered_map<TControl*, QPointer<QWidget>> widgets_;
    bool dirty_ = false;
    bool syncing_ = false;
};

}  // namespace

std::unique_ptr<TWidgetSet> CreateQtWidgetSet() { return std::make_unique<QtWidgetSet>(); }

}  // namespace torvoqt
