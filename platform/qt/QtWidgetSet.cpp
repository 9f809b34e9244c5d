#include "platform/qt/QtWidgetSet.h"

#include "platform/qt/QtConvert.h"
#include "platform/qt/QtMenus.h"
#include "platform/qt/QtPainted.h"
#include "platform/qt/QtPeers.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/win/Messages.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QTranslator>

#include <chrono>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace torvoqt {

using namespace vcl;

namespace {

// The top-level window of a form: tells the form when the user resizes, moves or closes it.
class FormWindow : public QWidget {
public:
    explicit FormWindow(TForm* ownerForm) : form(ownerForm) {}
    TForm* form;
    int menuHeight = 0;

protected:
    void resizeEvent(QResizeEvent*) override
    {
        if (!form)
            return;
        int w = width(), h = height() - menuHeight;
        if (w != form->ClientWidth() || h != form->ClientHeight())
            SafeCall([&] {
                form->SetClientWidth(w);
                form->SetClientHeight(h);
            });
    }
    void moveEvent(QMoveEvent*) override
    {
        if (form && isVisible() && (x() != form->Left() || y() != form->Top()))
            SafeCall([&] { form->SetBounds(x(), y(), form->Width(), form->Height()); });
    }
    void closeEvent(QCloseEvent* e) override
    {
        // The form decides: it hides itself (and so this window) when it may close.
        e->ignore();
        if (form)
            SafeCall([&] { form->Close(); });
    }
};

// The frame around the native widget that has the keyboard: Qt's own styles mark the focus of
// buttons and check boxes too faintly to be found after a Tab. Passes the mouse through.
class FocusMark : public QWidget {
public:
    explicit FocusMark(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QPen pen(palette().color(QPalette::Highlight), 2);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

struct FormPeer {
    QPointer<FormWindow> window;
    QPointer<QWidget> client;
    QPointer<QMenuBar> menuBar;
    TMainMenu* menu = nullptr;
    Qt::WindowFlags flags;
};

// The dialogs speak host paths, the program its own drive paths: converted here, once, both ways.
std::string HostPath(const std::string& path)
{
    std::string host;
    return path.empty() || !win::ToHostPath(path, host) ? path : host;
}

std::string ProgramPath(const std::string& host)
{
    const std::string path = win::ToWindowsPath(host);
    return path.empty() ? host : path;
}

// The caption of a window: captions padded with blanks for another system's title bar.
QString WindowTitle(const std::string& caption)
{
    return ToQ(caption).trimmed();
}

class QtWidgetSet;

// Sees every key press before the widget that has the focus: the form's keyboard rules (tab
// order, accelerators, default and cancel buttons, menu shortcuts) apply to native widgets too.
class KeyFilter : public QObject {
public:
    explicit KeyFilter(QtWidgetSet& set) : set_(set) {}
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A key in a text field: the control's handlers first, then Qt edits with what they leave.
    void FieldKey(TForm& form, TControl* control, QWidget* widget, QKeyEvent* e, WORD key, TShiftState shift);
    QtWidgetSet& set_;
    bool passing_ = false;  // a key the field's handlers let through, on its way to Qt's edit
};

class QtWidgetSet : public TWidgetSet {
public:
    QtWidgetSet() : keys_(*this)
    {
        // Qt has one application object per process; it outlives any widget set made over it.
        if (!QApplication::instance()) {
            static int argc = 1;
            static char name[] = "torvo";
            static char* argv[] = {name, nullptr};
            new QApplication(argc, argv);
        }
        // Standard buttons and dialogs in the user's language, from Qt's own catalogues.
        if (translator_.load(QLocale(), "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&translator_);
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            Screen->Width = screen->availableGeometry().width();
            Screen->Height = screen->availableGeometry().height();
            const QRect work = screen->availableGeometry();
            Screen->WorkArea = Rect(work.left(), work.top(), work.left() + work.width(), work.top() + work.height());
        }
        flushTimer_.setSingleShot(true);
        QObject::connect(&flushTimer_, &QTimer::timeout, [this] { busy_ ? FlushAtFrameRate() : Flush(); });
        qApp->installEventFilter(&keys_);
        focusConnection_ = QObject::connect(qApp, &QApplication::focusChanged,
                                            [this](QWidget*, QWidget* now) { QtFocusChanged(now); });
        WatchMessageDescriptors();
    }
    ~QtWidgetSet() override
    {
        QObject::disconnect(focusConnection_);
        qApp->removeEventFilter(&keys_);
        flushTimer_.stop();
        notifiers_.clear();
        for (auto& [control, widget] : widgets_)
            if (auto* painted = dynamic_cast<PaintedWidget*>(widget.data()))
                painted->control = nullptr;
        for (auto& [form, peer] : forms_)
            delete peer.window.data();
    }
    std::string Name() const override { return "qt"; }

    void ProcessEvents(bool wait) override
    {
        // While the hourglass shows, an operation pumps after every member or block: a pass costs
        // more than a small member, so input and messages are taken every few milliseconds,
        // which still answers Cancel at once.
        if (busy_ && !wait) {
            const auto now = std::chrono::steady_clock::now();
            if (now < nextBusyPass_)
                return;
            nextBusyPass_ = now + kBusyPass;
        }
        WatchMessageDescriptors();  // windows made since the last pass listen too
        QCoreApplication::processEvents(wait ? QEventLoop::WaitForMoreEvents : QEventLoop::AllEvents);
        DispatchMessages();
        // While the hourglass shows, an operation pumps after every member or block: the screen
        // takes our changes at most once a frame, or painting would cost more than the members
        // themselves (0.8 ms a member: for 100,000 tiny members 80 s against 1 s).
        if (busy_ && !wait)
            FlushAtFrameRate();
        else
            Flush();
    }
    void ModalStep(TForm&) override { ProcessEvents(true); }
    void FormShown(TForm& form) override
    {
        SafeCall([&] { form.PlaceByPosition(); });
        FormPeer& peer = Realise(form);
        Flush();
        peer.window->setWindowModality(form.IsModal() ? Qt::ApplicationModal : Qt::NonModal);
        peer.window->move(form.Left(), form.Top());
        if (form.WindowState == wsMaximized && form.Sizeable())
            peer.window->showMaximized();
        else
            peer.window->show();
        peer.window->activateWindow();
        if (TWinControl* focused = form.ActiveControl())
            FocusChanged(*focused);
    }
    void FormHidden(TForm& form) override
    {
        if (auto it = forms_.find(&form); it != forms_.end() && it->second.window) {
            it->second.window->hide();
            it->second.window->setWindowModality(Qt::NonModal);
        }
    }
    void ControlChanged(TControl& control) override
    {
        dirty_.insert(&control);
        if (!flushTimer_.isActive())
            flushTimer_.start(0);
    }
    void ControlDestroyed(TControl& control) override
    {
        dirty_.erase(&control);
        if (auto it = widgets_.find(&control); it != widgets_.end()) {
            if (auto* painted = dynamic_cast<PaintedWidget*>(it->second.data()))
                painted->control = nullptr;
            if (it->second) {
                controls_.erase(it->second.data());
                it->second->hide();
                it->second->deleteLater();
            }
            widgets_.erase(it);
        }
        // A form's own part is gone by now: find it by address, not by a cast.
        auto it = std::find_if(forms_.begin(), forms_.end(),
                               [&](auto& entry) { return static_cast<TControl*>(entry.first) == &control; });
        if (it != forms_.end()) {
            if (it->second.window) {
                it->second.window->form = nullptr;
                it->second.window->hide();
                it->second.window->deleteLater();
            }
            forms_.erase(it);
        }
    }
    void FocusChanged(TWinControl& control) override
    {
        QWidget* w = WidgetOf(&control);
        if (w && !w->hasFocus())
            w->setFocus(Qt::OtherFocusReason);
    }
    TModalResult MessageBox(const TMessageBoxParams& p) override
    {
        static const std::pair<TModalResult, QMessageBox::StandardButton> map[] = {
            {mrOk, QMessageBox::Ok},           {mrCancel, QMessageBox::Cancel},
            {mrAbort, QMessageBox::Abort},     {mrRetry, QMessageBox::Retry},
            {mrIgnore, QMessageBox::Ignore},   {mrYes, QMessageBox::Yes},
            {mrNo, QMessageBox::No},           {mrAll, QMessageBox::YesToAll},
            {mrNoToAll, QMessageBox::NoToAll}, {mrYesToAll, QMessageBox::YesToAll}};
        QMessageBox box(ActiveWindow());
        box.setWindowTitle(WindowTitle(p.Caption));
        box.setText(ToQ(p.Text));
        box.setIcon(p.Type == mtError          ? QMessageBox::Critical
                    : p.Type == mtWarning      ? QMessageBox::Warning
                    : p.Type == mtConfirmation ? QMessageBox::Question
                    : p.Type == mtInformation  ? QMessageBox::Information
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
        return p.Buttons.empty()
                   ? mrOk
                   : (std::find(p.Buttons.begin(), p.Buttons.end(), mrCancel) != p.Buttons.end() ? mrCancel
                                                                                                 : p.Buttons.back());
    }
    bool FileDialog(TFileDialogParams& p) override
    {
        // "Archives|*.zip;*.7z|All|*.*" -> "Archives (*.zip *.7z);;All (*.*)"
        QStringList parts = ToQ(p.Filter).split('|');
        QStringList filters;
        for (int i = 0; i + 1 < parts.size(); i += 2)
            filters << parts[i] + " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
        QString selected = filters.value(p.FilterIndex - 1);
        const std::string folder = HostPath(p.InitialDir);
        const std::string name = p.InitialDir.empty() ? HostPath(p.FileName) : win::ExtractFileName(p.FileName);
        QString start = ToQ(folder.empty() ? name : folder + "/" + name);
        QStringList chosen;
        QWidget* owner = ActiveWindow();
        if (p.Save) {
            QString f = QFileDialog::getSaveFileName(owner, WindowTitle(p.Title), start, filters.join(";;"), &selected);
            if (!f.isEmpty())
                chosen << f;
        } else if (p.MultiSelect) {
            chosen = QFileDialog::getOpenFileNames(owner, WindowTitle(p.Title), start, filters.join(";;"), &selected);
        } else {
            QString f = QFileDialog::getOpenFileName(owner, WindowTitle(p.Title), start, filters.join(";;"), &selected);
            if (!f.isEmpty())
                chosen << f;
        }
        p.Files.clear();
        for (const QString& f : chosen)
            p.Files.push_back(ProgramPath(FromQ(f)));
        p.FilterIndex = std::max(1, int(filters.indexOf(selected)) + 1);
        return !p.Files.empty();
    }
    bool SelectDirectory(const std::string& caption, std::string& directory) override
    {
        QString d = QFileDialog::getExistingDirectory(ActiveWindow(), WindowTitle(caption), ToQ(HostPath(directory)));
        if (d.isEmpty())
            return false;
        directory = ProgramPath(FromQ(d));
        return true;
    }
    bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) override
    {
        bool ok = false;
        QString v = QInputDialog::getText(ActiveWindow(), WindowTitle(caption), ToQ(prompt), QLineEdit::Normal,
                                          ToQ(value), &ok);
        if (ok)
            value = FromQ(v);
        return ok;
    }
    void Popup(TPopupMenu& menu, int x, int y) override
    {
        QMenu q;
        menus_.Fill(&q, menu.Items(), menu.Items());
        q.exec(QPoint(x, y));
    }
    TPoint ClientToScreen(TControl& control, TPoint p) override
    {
        QWidget* w = WidgetOf(&control);
        if (!w)
            return TWidgetSet::ClientToScreen(control, p);
        const QPoint global = w->mapToGlobal(QPoint(p.X, p.Y));
        return {global.x(), global.y()};
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
        busy_ = cursor == crHourGlass;
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
        FormPeer& peer = Realise(form);
        Flush();
        return peer.client && peer.client->grab().save(ToQ(path), "PNG");
    }

    // The key filter's view: the form whose window a widget is in, the control a widget shows.
    TForm* FormOf(QWidget* w) const
    {
        auto* window = w ? dynamic_cast<FormWindow*>(w->window()) : nullptr;
        return window ? window->form : nullptr;
    }
    TControl* ControlOf(QWidget* w) const
    {
        for (; w; w = w->parentWidget())
            if (auto it = controls_.find(w); it != controls_.end())
                return it->second;
        return nullptr;
    }
    // F10: the menu bar takes the keyboard with its first menu open.
    bool OpenMenuBar(TForm& form)
    {
        auto it = forms_.find(&form);
        if (it == forms_.end() || !it->second.menuBar)
            return false;
        for (QAction* a : it->second.menuBar->actions())
            if (a->isVisible() && a->isEnabled()) {
                it->second.menuBar->setActiveAction(a);
                return true;
            }
        return false;
    }
    void AfterInput()
    {
        if (!flushTimer_.isActive())
            flushTimer_.start(0);
    }
    // What a key changed reaches the widgets before the next key: a field emptied by Enter must
    // not take the following keys onto its old text.
    void AfterKey() { Flush(); }

private:
    QWidget* ActiveWindow() const
    {
        TForm* form = Screen->ActiveForm ? Screen->ActiveForm : Application->MainForm;
        auto it = forms_.find(form);
        return it != forms_.end() && it->second.window && it->second.window->isVisible() ? it->second.window.data()
                                                                                         : nullptr;
    }

    // Window messages wake the loop through their descriptors: nothing polls while idle.
    void WatchMessageDescriptors()
    {
        std::vector<int> wanted = MessageWaitDescriptors();
        for (auto it = notifiers_.begin(); it != notifiers_.end();) {
            if (std::find(wanted.begin(), wanted.end(), it->first) == wanted.end()) {
                it->second->setEnabled(false);
                it->second.release()->deleteLater();  // may be the one whose signal runs now
                it = notifiers_.erase(it);
            } else {
                ++it;
            }
        }
        for (int fd : wanted)
            if (auto it = notifiers_.find(fd); it == notifiers_.end() || !it->second->isEnabled()) {
                if (it != notifiers_.end())  // Qt gave up on an earlier descriptor of that number
                    it->second.release()->deleteLater();
                auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
                QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
                    DispatchMessages();
                    AfterInput();
                });
                notifiers_[fd] = std::move(notifier);
            }
    }
    void DispatchMessages()
    {
        DispatchWindowMessages();
        WatchMessageDescriptors();
    }

    // Native widgets get the frame; painted controls draw their own.
    void PlaceFocusMark()
    {
        QWidget* focused = QApplication::focusWidget();
        TControl* control = ControlOf(focused);
        auto it = control ? widgets_.find(control) : widgets_.end();
        QWidget* w = it != widgets_.end() ? it->second.data() : nullptr;
        if (!w || dynamic_cast<PaintedWidget*>(w) || !w->parentWidget() || !w->isVisible()) {
            if (focusMark_)
                focusMark_->hide();
            return;
        }
        if (!focusMark_ || focusMark_->parentWidget() != w->parentWidget()) {
            delete focusMark_.data();
            focusMark_ = new FocusMark(w->parentWidget());
        }
        const QRect around = w->geometry().adjusted(-2, -2, 2, 2);
        if (focusMark_->geometry() != around)
            focusMark_->setGeometry(around);
        focusMark_->show();
        focusMark_->raise();
    }

    void QtFocusChanged(QWidget* now)
    {
        PlaceFocusMark();
        auto* control = dynamic_cast<TWinControl*>(ControlOf(now));
        if (!control || control->Kind() == ckForm || control->Focused() || !control->CanFocus())
            return;
        SafeCall([&] { control->SetFocus(); });
    }

    // Pushes what changed since the last pass to the widgets: only the controls that changed.
    void FlushAtFrameRate()
    {
        const auto wait = lastFlush_ + kFrame - std::chrono::steady_clock::now();
        if (wait <= std::chrono::steady_clock::duration::zero()) {
            Flush();
            return;
        }
        // What changed meanwhile goes out when the frame is due.
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        if (!flushTimer_.isActive() || flushTimer_.remainingTime() > ms)
            flushTimer_.start(int(ms));
    }

    void Flush()
    {
        if (flushing_)
            return;
        flushing_ = true;
        lastFlush_ = std::chrono::steady_clock::now();
        for (int pass = 0; !dirty_.empty() && pass < 100000; ++pass) {
            TControl* c = *dirty_.begin();
            dirty_.erase(dirty_.begin());
            SafeCall([&] { Push(*c); });
        }
        // Captions and menu items are plain fields that announce no change: compare them here.
        for (auto& entry : forms_) {
            TForm* form = entry.first;
            FormPeer& peer = entry.second;
            if (peer.window)
                SafeCall([&] {
                    SyncTitle(*form, *peer.window);
                    SyncMenus(*form, peer);
                    SyncFocus(*form, *peer.window);
                });
        }
        PlaceFocusMark();  // the focused widget may have moved or gone
        WatchMessageDescriptors();
        flushing_ = false;
    }

    FormPeer& Realise(TForm& form)
    {
        FormPeer& peer = forms_[&form];
        if (peer.window)
            return peer;
        peer.window = new FormWindow(&form);
        peer.client = new PaintedWidget(&form, peer.window);
        peer.client->setFocusPolicy(Qt::NoFocus);
        widgets_[&form] = peer.client;
        controls_[peer.client] = &form;
        PushForm(form, peer);
        for (int i = 0; i < form.ControlCount(); ++i)
            PushTree(*form.Controls(i));
        return peer;
    }

    void Push(TControl& c)
    {
        if (c.Kind() == ckForm) {
            auto it = forms_.find(static_cast<TForm*>(&c));
            if (it != forms_.end() && it->second.window)
                PushForm(*it->first, it->second);
            return;
        }
        QWidget* parent = WidgetOf(c.Parent());
        auto it = widgets_.find(&c);
        if (!parent) {
            if (it != widgets_.end() && it->second)
                it->second->hide();
            return;
        }
        if (it == widgets_.end() || !it->second) {
            PushTree(c);
            return;
        }
        PushProperties(c, it->second, parent);
    }

    // The widget of a control, made (with its parents') when the form is realised.
    QWidget* WidgetOf(TControl* c)
    {
        if (!c)
            return nullptr;
        if (c->Kind() == ckForm) {
            auto it = forms_.find(static_cast<TForm*>(c));
            return it != forms_.end() ? it->second.client.data() : nullptr;
        }
        if (auto it = widgets_.find(c); it != widgets_.end() && it->second)
            return it->second;
        QWidget* parent = WidgetOf(c->Parent());
        if (!parent)
            return nullptr;
        QWidget* w = MakeWidget(c, parent);
        widgets_[c] = w;
        controls_[w] = c;
        PushProperties(*c, w, parent);
        return w;
    }

    void PushTree(TControl& c)
    {
        QWidget* parent = WidgetOf(c.Parent());
        if (!parent)
            return;
        PushProperties(c, WidgetOf(&c), parent);
        if (auto* win = dynamic_cast<TWinControl*>(&c))
            for (int i = 0; i < win->ControlCount(); ++i)
                PushTree(*win->Controls(i));
    }

    static Qt::WindowFlags FlagsOf(const TForm& form)
    {
        Qt::WindowFlags f = (form.BorderStyle == bsDialog ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint;
        if (form.BorderStyle == bsNone)
            f |= Qt::FramelessWindowHint;
        else
            f |= Qt::WindowTitleHint;
        if (form.BorderIcons & biSystemMenu)
            f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if ((form.BorderIcons & biMinimize) && form.BorderStyle != bsDialog)
            f |= Qt::WindowMinimizeButtonHint;
        if ((form.BorderIcons & biMaximize) && form.Sizeable())
            f |= Qt::WindowMaximizeButtonHint;
        if (form.FormStyleStayOnTop)
            f |= Qt::WindowStaysOnTopHint;
        return f;
    }

    // The keyboard goes where the form says: a control that had the focus while it (or a parent)
    // was hidden takes it again once it shows.
    void SyncFocus(TForm& form, QWidget& window)
    {
        TWinControl* active = form.ActiveControl();
        if (!active || !window.isVisible() || QApplication::activePopupWidget() || !active->Showing())
            return;
        auto it = widgets_.find(active);
        QWidget* w = it != widgets_.end() ? it->second.data() : nullptr;
        if (w && w->isVisible() && w->focusPolicy() != Qt::NoFocus && ControlOf(window.focusWidget()) != active)
            w->setFocus(Qt::OtherFocusReason);
        // A window shown again as soon as it hid (the password asked again after a wrong one) still
        // has the keyboard as the system sees it, so no activation is announced: its widgets would
        // take keys with no caret and no focus frame. Activated here, it gives the keyboard to the
        // control chosen above.
        if (QGuiApplication::focusWindow() && QGuiApplication::focusWindow() == window.windowHandle() &&
            QApplication::activeWindow() != &window)
            QApplication::setActiveWindow(&window);
    }

    static void SyncTitle(TForm& form, QWidget& window)
    {
        QString title = WindowTitle(form.Caption);
        if (window.windowTitle() != title)
            window.setWindowTitle(title);
    }

    void PushForm(TForm& form, FormPeer& peer)
    {
        FormWindow& window = *peer.window;
        Qt::WindowFlags flags = FlagsOf(form);
        if (flags != peer.flags) {
            bool shown = window.isVisible();
            window.setWindowFlags(flags);  // hides the window
            peer.flags = flags;
            if (shown)
                window.show();
        }
        SyncTitle(form, window);
        window.setFont(ToQFont(form.Font));
        SyncMenus(form, peer);
        window.menuHeight = peer.menuBar && !peer.menuBar->isHidden() ? peer.menuBar->sizeHint().height() : 0;
        QSize size(form.ClientWidth(), form.ClientHeight() + window.menuHeight);
        // Sizes the user may choose: the form's constraints, or exactly its size.
        auto limit = [&](int outer, int nonClientDelta, int none) {
            return outer > 0 ? std::max(0, outer - nonClientDelta) : none;
        };
        int dw = form.Width() - form.ClientWidth(), dh = form.Height() - form.ClientHeight() - window.menuHeight;
        QSize minimum = form.Sizeable()
                            ? QSize(limit(form.Constraints.MinWidth, dw, 0), limit(form.Constraints.MinHeight, dh, 0))
                            : size;
        QSize maximum = form.Sizeable() ? QSize(limit(form.Constraints.MaxWidth, dw, QWIDGETSIZE_MAX),
                                                limit(form.Constraints.MaxHeight, dh, QWIDGETSIZE_MAX))
                                        : size;
        if (window.minimumSize() != minimum)
            window.setMinimumSize(minimum);
        if (window.maximumSize() != maximum)
            window.setMaximumSize(maximum);
        if (window.size() != size && !window.isMaximized())
            window.resize(size);
        if (window.isVisible() && window.pos() != QPoint(form.Left(), form.Top()))
            window.move(form.Left(), form.Top());
        if (peer.menuBar)
            peer.menuBar->setGeometry(0, 0, window.width(), window.menuHeight);
        QRect client(0, window.menuHeight, window.width(), window.height() - window.menuHeight);
        if (peer.client->geometry() != client)
            peer.client->setGeometry(client);
        peer.client->update();
    }

    // Menus show what their items say now: the bar and open menus are refilled when their items
    // changed, every menu as it opens.
    void SyncMenus(TForm& form, FormPeer& peer)
    {
        if (form.Menu != peer.menu) {
            delete peer.menuBar.data();
            peer.menu = form.Menu;
            if (peer.menu) {
                peer.menuBar = new QMenuBar(peer.window);
                peer.menuBar->show();
            }
        }
        if (!peer.menu)
            return;
        QFont font = ToQFont(form.Font);
        if (peer.menuBar->font() != font)
            peer.menuBar->setFont(font);
        menus_.Sync(peer.menuBar, peer.menu->Items());
    }

    QTranslator translator_;
    KeyFilter keys_;
    QtMenus menus_{[this] { AfterInput(); }};
    QMetaObject::Connection focusConnection_;
    QPointer<FocusMark> focusMark_;
    QTimer flushTimer_;
    static constexpr std::chrono::milliseconds kFrame{15};
    static constexpr std::chrono::milliseconds kBusyPass{5};
    std::chrono::steady_clock::time_point nextBusyPass_{};
    std::chrono::steady_clock::time_point lastFlush_{};
    bool busy_ = false;  // the hourglass shows
    std::map<TForm*, FormPeer> forms_;
    std::unordered_map<TControl*, QPointer<QWidget>> widgets_;
    std::unordered_map<QWidget*, TControl*> controls_;
    std::unordered_set<TControl*> dirty_;
    std::map<int, std::unique_ptr<QSocketNotifier>> notifiers_;
    bool flushing_ = false;
};

bool KeyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (passing_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    TForm* form = set_.FormOf(widget);
    // Each key once, at the widget that has the focus (Qt offers it to its parents after).
    if (!form || widget != (widget->window()->focusWidget() ? widget->window()->focusWidget() : widget->window()))
        return false;
    auto* e = static_cast<QKeyEvent*>(event);
    const TShiftState shift = ShiftOf(e->modifiers());
    const WORD key = VirtualKey(e->key());
    if (event->type() == QEvent::ShortcutOverride) {
        // The form's own accelerators come before Qt's mnemonics (which would click a second time).
        if ((shift & ssAlt) && !(shift & ssCtrl) && form->AcceleratorControl(key)) {
            e->accept();
            return true;
        }
        return false;
    }
    TControl* control = set_.ControlOf(widget);
    const TControlKind kind = control ? control->Kind() : ckForm;
    bool handled = true;
    if (key == VK_TAB && !(shift & (ssCtrl | ssAlt))) {
        SafeCall([&] { form->SelectNext(!(shift & ssShift) && e->key() != Qt::Key_Backtab); });
    } else if (key == VK_F1 + 9 && !shift && set_.OpenMenuBar(*form)) {
        // F10 took the menu bar
    } else if (kind == ckEdit || kind == ckComboBox || kind == ckMemo) {
        // Text fields edit natively; the form takes what ends or leaves the field.
        // A read-only memo has no use for Enter: it goes to the dialog's default button.
        bool memoReturn =
            kind == ckMemo && static_cast<TMemo*>(control)->WantReturns && !static_cast<TMemo*>(control)->ReadOnly;
        WORD menuKey = key;
        bool formKey =
            (key == VK_RETURN && !memoReturn) || key == VK_ESCAPE || ((shift & ssAlt) && !(shift & ssCtrl)) ||
            (form->Menu && (shift & (ssCtrl | ssAlt)) && form->Menu->Items()->FindShortCut(ShortCut(menuKey, shift))) ||
            (form->Menu && key >= VK_F1 && key <= VK_F1 + 23 &&
             form->Menu->Items()->FindShortCut(ShortCut(menuKey, shift)));
        if (formKey)
            SafeCall([&] { form->PressKey(key, shift, 0); });
        else
            FieldKey(*form, control, widget, e, key, shift);
    } else if (key || !e->text().isEmpty()) {
        QString text = e->text();
        char32_t ch = text.isEmpty() ? 0 : char32_t(text.toUcs4().value(0));
        SafeCall([&] { form->PressKey(key, shift, ch < 32 && ch != 8 && ch != 13 && ch != 27 ? 0 : ch); });
    } else {
        handled = false;
    }
    if (handled)
        set_.AfterKey();
    return handled;
}

void KeyFilter::FieldKey(TForm& form, TControl* control, QWidget* widget, QKeyEvent* e, WORD key, TShiftState shift)
{
    auto* line = qobject_cast<QLineEdit*>(widget);
    if (line && control->Kind() == ckEdit)
        TakeSelection(*static_cast<TCustomEdit*>(control), line);
    // The character the key types, as the system's edit would get it: Ctrl+letter is a control
    // character (Ctrl+V is 22), keys that type nothing have none.
    char32_t ch = 0;
    const QList<uint> typed = e->text().toUcs4();
    if ((shift & ssCtrl) && !(shift & ssAlt))
        ch = key >= 'A' && key <= 'Z' ? char32_t(key - 'A' + 1) : 0;
    else if (key == VK_BACK)
        ch = 8;
    else if (!typed.isEmpty() && (typed[0] >= 32 || typed[0] == 13) && typed[0] != 127)
        ch = typed[0];
    // A key the library has no name for (a national letter) has no key-down of its own.
    WORD down = key;
    char32_t left = ch;
    SafeCall([&] {
        if (key)
            form.ControlKeyDown(down, shift);
        if ((down || !key) && left)
            form.ControlKeyPress(left);
    });
    const bool consumed = (key && !down) || (ch && !left);
    QPointer<QWidget> target(widget);
    if (!consumed && target && (left == ch || left >= 32)) {
        // Qt edits with what the handlers left: the key as it came, or the character they chose.
        const QString text = left == ch ? e->text() : QString::fromUcs4(&left, 1);
        QKeyEvent edit(QEvent::KeyPress, e->key(), e->modifiers(), e->nativeScanCode(), e->nativeVirtualKey(),
                       e->nativeModifiers(), text, e->isAutoRepeat(), ushort(e->count()));
        passing_ = true;
        QCoreApplication::sendEvent(target, &edit);
        passing_ = false;
    }
    if (key)
        SafeCall([&] { form.ControlKeyUp(key, shift); });
}

}  // namespace

std::unique_ptr<TWidgetSet> CreateQtWidgetSet()
{
    return std::make_unique<QtWidgetSet>();
}

}  // namespace torvoqt
