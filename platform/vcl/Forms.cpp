#include "platform/vcl/Forms.h"

#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/win/Messages.h"

#include <algorithm>

namespace vcl {

TApplication* Application = new TApplication(nullptr);  // lives as long as the process
TScreen* Screen = new TScreen(nullptr);

void SafeCall(const std::function<void()>& fn)
{
    try {
        fn();
    } catch (...) {
        Application->HandleException();
    }
}

TForm::TForm(TComponent* owner) : TWinControl(owner)
{
    TControl::SetVisible(false);
    ComponentState |= csLoading;  // components built in the constructor load with the form
    TForm::SetBounds(0, 0, 320, 240);
}

TForm::~TForm()
{
    ComponentState |= csDestroying;
    if (OnDestroy)
        SafeCall([&] { OnDestroy(this); });
    if (Screen->ActiveForm == this)
        Screen->ActiveForm = nullptr;
    if (Application->MainForm == this)
        Application->MainForm = nullptr;
    if (handle_)
        DestroyWindow(handle_);
}

int TForm::NonClientWidth() const
{
    return BorderStyle == bsNone ? 0 : 8;
}
int TForm::NonClientHeight() const
{
    int caption = BorderStyle == bsNone ? 0 : (BorderStyle >= bsToolWindow ? 18 : 27);
    return caption + (BorderStyle == bsNone ? 0 : 4) + (Menu ? 20 : 0);
}
int TForm::ClientWidth() const
{
    return std::max(0, Width() - NonClientWidth());
}
int TForm::ClientHeight() const
{
    return std::max(0, Height() - NonClientHeight());
}
void TForm::SetClientWidth(int v)
{
    SetWidth(v + NonClientWidth());
}
void TForm::SetClientHeight(int v)
{
    SetHeight(v + NonClientHeight());
}

void TForm::SetBounds(int left, int top, int width, int height)
{
    if (Constraints.MinWidth > 0)
        width = std::max(width, Constraints.MinWidth);
    if (Constraints.MaxWidth > 0)
        width = std::min(width, Constraints.MaxWidth);
    if (Constraints.MinHeight > 0)
        height = std::max(height, Constraints.MinHeight);
    if (Constraints.MaxHeight > 0)
        height = std::min(height, Constraints.MaxHeight);
    TWinControl::SetBounds(left, top, width, height);
}

void TForm::EnsureCreated()
{
    if (created_)
        return;
    created_ = true;
    EndLoading();
    if (OnCreate)
        OnCreate(this);
}

HWND TForm::Handle()
{
    if (!handle_) {
        std::string cls = WindowClassName();
        handle_ = CreateWindowA(cls.c_str(), Caption.c_str(), [this](HWND, UINT msg, WPARAM w, LPARAM l) {
            TMessage m{msg, w, l, 0};
            SafeCall([&] { WndProc(m); });
            return m.Result;
        });
    }
    return handle_;
}

void TForm::WndProc(TMessage& m)
{
    switch (m.Msg) {
    case WM_COPYDATA: {
        TWMCopyData cd{m.Msg, HWND(m.WParam), reinterpret_cast<const COPYDATASTRUCT*>(m.LParam), 0};
        WMCopyData(cd);
        m.Result = cd.Result;
        break;
    }
    case WM_CLOSE:
        Close();
        break;
    default:
        break;
    }
}

void TForm::WMCopyData(TWMCopyData&)
{}

void TForm::SetVisible(bool visible)
{
    if (visible == Visible())
        return;
    if (visible) {
        EnsureCreated();
        Handle();
        TControl::SetVisible(true);
        if (OnShow)
            OnShow(this);
        WidgetSet().FormShown(*this);
        active_ = true;
        Screen->ActiveForm = this;
        if (!activeControl_)
            for (TWinControl* c : TabList())
                if (c->CanFocus()) {
                    SetActiveControl(c);
                    break;
                }
        if (OnActivate)
            OnActivate(this);
    } else {
        if (active_) {
            active_ = false;
            if (OnDeactivate)
                OnDeactivate(this);
        }
        if (OnHide)
            OnHide(this);
        if (Screen->ActiveForm == this)
            Screen->ActiveForm = nullptr;
        TControl::SetVisible(false);
        WidgetSet().FormHidden(*this);
    }
}

void TForm::PlaceByPosition()
{
    TForm* over = nullptr;
    switch (Position) {
    case poScreenCenter:
    case poDesktopCenter:
        break;
    case poMainFormCenter:
        over = Application->MainForm;
        break;
    case poOwnerFormCenter:
        over = dynamic_cast<TForm*>(Owner());
        if (!over)
            over = Application->MainForm;
        break;
    default:
        return;
    }
    if (over == this || (over && !over->Visible()))
        over = nullptr;
    TRect area = over ? over->BoundsRect() : Rect(0, 0, Screen->Width, Screen->Height);
    int left = area.Left + (area.Width() - Width()) / 2;
    int top = area.Top + (area.Height() - Height()) / 2;
    // Never off the screen's top-left: the caption must stay reachable.
    left = std::max(0, std::min(left, Screen->Width - Width()));
    top = std::max(0, std::min(top, Screen->Height - Height()));
    SetBounds(left, top, Width(), Height());
}

TModalResult TForm::ShowModal()
{
    EnsureCreated();
    if (modal_ || Visible())
        throw EInvalidOperation("Cannot make a visible window modal");
    ModalResult = mrNone;
    modal_ = true;
    // A dialog opens at its first field, however it was left last time.
    SetActiveControl(nullptr);
    TForm* previous = Screen->ActiveForm;
    const TDialogCursor arrow;
    try {
        Show();
        for (;;) {
            if (ModalResult == mrNone) {
                WidgetSet().ModalStep(*this);
                Application->FreeReleased();
                if (Application->Terminated() && ModalResult == mrNone)
                    ModalResult = mrCancel;
                continue;
            }
            if (CloseModal())
                break;
        }
    } catch (...) {
        modal_ = false;
        Hide();
        throw;
    }
    modal_ = false;
    Hide();
    if (previous && previous != this && previous->Visible())
        Screen->ActiveForm = previous;
    return ModalResult;
}

bool TForm::CloseModal()
{
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    TCloseAction action = caHide;
    if (canClose && OnClose)
        OnClose(this, action);
    if (!canClose || action == caNone) {
        ModalResult = mrNone;
        return false;
    }
    if (action == caFree)
        Release();
    return true;
}

void TForm::Close()
{
    if (modal_) {
        ModalResult = mrCancel;
        return;
    }
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    TCloseAction action = Application->MainForm == this ? caFree : caHide;
    if (OnClose)
        OnClose(this, action);
    if (action == caNone)
        return;
    if (action == caMinimize) {
        Application->Minimize();
        return;
    }
    Hide();
    if (Application->MainForm == this)
        Application->Terminate();
    else if (action == caFree)
        Release();
}

void TForm::Release()
{
    Application->ReleaseLater(this);
}

void TForm::SetActiveControl(TWinControl* control)
{
    if (control == activeControl_)
        return;
    TWinControl* old = activeControl_;
    activeControl_ = control;
    if (old)
        old->DoExit();
    if (control && activeControl_ == control) {
        control->DoEnter();
        WidgetSet().FocusChanged(*control);
    }
}

void TForm::SelectNext(bool forward)
{
    std::vector<TWinControl*> list;
    for (TWinControl* c : TabList())
        if (c->CanFocus())
            list.push_back(c);
    if (list.empty())
        return;
    auto it = std::find(list.begin(), list.end(), activeControl_);
    size_t index;
    if (it == list.end())
        index = forward ? 0 : list.size() - 1;
    else if (forward)
        index = (size_t(it - list.begin()) + 1) % list.size();
    else
        index = (size_t(it - list.begin()) + list.size() - 1) % list.size();
    list[index]->SetFocus();
}

namespace {
char32_t CharOfKey(WORD key)
{
    switch (key) {
    case VK_RETURN:
        return U'\r';
    case VK_ESCAPE:
        return 27;
    case VK_BACK:
        return 8;
    case VK_SPACE:
        return U' ';
    default:
        if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
            return key;
        return 0;
    }
}

TButton* FindButton(TForm& form, bool wantDefault)
{
    for (TControl* c : form.AllControls())
        if (auto* b = dynamic_cast<TButton*>(c))
            if ((wantDefault ? b->Default : b->Cancel) && b->Showing() && b->EnabledWithParents())
                return b;
    return nullptr;
}
}  // namespace

void TForm::PressKey(WORD key, TShiftState shift, char32_t ch)
{
    TWinControl* target = activeControl_ ? activeControl_ : this;
    WORD k = key;
    if (Menu && Menu->IsShortCut(k, shift))
        return;
    ControlKeyDown(k, shift);
    if ((k == VK_APPS && !shift) || (k == VK_F10 && shift == ssShift)) {
        // The keyboard's way to the pop-up menu: at the control's caret row or its corner.
        if (target != this && target->ShowPopupMenu(target->PopupPoint()))
            return;
    }
    if (!ch && !(shift & (ssCtrl | ssAlt)))
        ch = CharOfKey(key);
    if (ch == U'\t')
        ch = 0;
    bool consumed = k == 0;
    if (!consumed && ch) {
        char32_t c = ch;
        ControlKeyPress(c);
        consumed = c == 0;
    }
    if (!consumed)
        HandleDialogKey(key, shift);
    ControlKeyUp(key, shift);
}

void TForm::ControlKeyDown(WORD& key, TShiftState shift)
{
    TWinControl* target = activeControl_ ? activeControl_ : this;
    if (KeyPreview && target != this && key)
        KeyDown(key, shift);
    if (key)
        target->KeyDown(key, shift);
}

void TForm::ControlKeyPress(char32_t& ch)
{
    TWinControl* target = activeControl_ ? activeControl_ : this;
    if (KeyPreview && target != this && ch)
        KeyPress(ch);
    if (ch)
        target->KeyPress(ch);
}

void TForm::ControlKeyUp(WORD key, TShiftState shift)
{
    TWinControl* target = activeControl_ ? activeControl_ : this;
    WORD up = key;
    if (KeyPreview && target != this)
        KeyUp(up, shift);
    if (up)
        target->KeyUp(up, shift);
}

void TForm::TypeChar(char32_t ch)
{
    TWinControl* target = activeControl_ ? activeControl_ : this;
    char32_t c = ch;
    ControlKeyPress(c);
    if (c)
        if (auto* edit = dynamic_cast<TCustomEdit*>(target))
            edit->TypeText(ToUtf8(c));
}

TControl* TForm::AcceleratorControl(WORD key)
{
    if (!((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')))
        return nullptr;
    for (TControl* c : AllControls())
        if (c->HasAccelerator(char(key)) && c->Showing() && c->EnabledWithParents())
            return c;
    return nullptr;
}

bool TForm::AccelerateKey(WORD key)
{
    TControl* c = AcceleratorControl(key);
    return c && c->Accelerate(char(key));
}

bool TForm::HandleDialogKey(WORD key, TShiftState shift)
{
    if ((shift & ssAlt) && !(shift & ssCtrl) && AccelerateKey(key))
        return true;
    if (key == VK_TAB && !(shift & (ssCtrl | ssAlt))) {
        SelectNext(!(shift & ssShift));
        return true;
    }
    if (key == VK_RETURN) {
        if (dynamic_cast<TButton*>(activeControl_))
            return false;  // the focused button clicks itself
        if (TButton* b = FindButton(*this, true)) {
            b->Click();
            return true;
        }
    }
    if (key == VK_ESCAPE)
        if (TButton* b = FindButton(*this, false)) {
            b->Click();
            return true;
        }
    return false;
}

std::vector<TControl*> TForm::AllControls()
{
    std::vector<TControl*> out;
    std::function<void(TWinControl*)> walk = [&](TWinControl* w) {
        for (int i = 0; i < w->ControlCount(); ++i) {
            out.push_back(w->Controls(i));
            if (auto* inner = dynamic_cast<TWinControl*>(w->Controls(i)))
                walk(inner);
        }
    };
    walk(this);
    return out;
}

namespace {
void PaintTree(TControl* c, TCanvasDevice* device, TPoint origin, const TRect& clip)
{
    if (!c->Visible())
        return;
    TRect area = IntersectRect(clip, Bounds(origin.X, origin.Y, c->Width(), c->Height()));
    if (area.Empty())
        return;
    c->PaintOn(device, origin, area);
    if (auto* w = dynamic_cast<TWinControl*>(c))
        for (int i = 0; i < w->ControlCount(); ++i) {
            TControl* child = w->Controls(i);
            PaintTree(child, device, {origin.X + child->Left(), origin.Y + child->Top()}, area);
        }
}
}  // namespace

TBitmap TForm::RenderToBitmap()
{
    TBitmap bmp(ClientWidth(), ClientHeight(), Color);
    TCanvasDevice* device = bmp.Canvas().Device();
    PaintOn(device, {0, 0}, ClientRect());
    for (int i = 0; i < ControlCount(); ++i)
        PaintTree(Controls(i), device, {Controls(i)->Left(), Controls(i)->Top()}, ClientRect());
    return bmp;
}

TApplication::TApplication(TComponent* owner) : TComponent(owner)
{}
TApplication::~TApplication() = default;

void TApplication::Run()
{
    if (MainForm && ShowMainForm && !MainForm->Visible())
        SafeCall([&] { MainForm->Show(); });
    while (!terminated_)
        HandleMessage();
}

void TApplication::Terminate()
{
    terminated_ = true;
}

void TApplication::HandleMessage()
{
    WidgetSet().ProcessEvents(true);
    FreeReleased();
}

void TApplication::ProcessMessages()
{
    WidgetSet().ProcessEvents(false);
    FreeReleased();
}

void TApplication::Minimize()
{
    if (minimized_)
        return;
    minimized_ = true;
    WidgetSet().SetMinimized(true);
    if (OnMinimize)
        OnMinimize(this);
}

void TApplication::Restore()
{
    if (!minimized_)
        return;
    minimized_ = false;
    WidgetSet().SetMinimized(false);
    if (OnRestore)
        OnRestore(this);
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    static const std::vector<TModalResult> buttonSets[] = {
        {mrOk},        {mrOk, mrCancel},   {mrAbort, mrRetry, mrIgnore}, {mrYes, mrNo, mrCancel},
        {mrYes, mrNo}, {mrRetry, mrCancel}};
    TMessageBoxParams p;
    p.Text = text;
    p.Caption = caption.empty() ? std::string("Error") : caption;
    p.Buttons = buttonSets[std::min<unsigned>(flags & 0xF, 5)];
    switch (flags & 0xF0) {
    case MB_ICONSTOP:
        p.Type = mtError;
        break;
    case MB_ICONQUESTION:
        p.Type = mtConfirmation;
        break;
    case MB_ICONWARNING:
        p.Type = mtWarning;
        break;
    case MB_ICONINFORMATION:
        p.Type = mtInformation;
        break;
    default:
        p.Type = mtCustom;
        break;
    }
    p.DefaultButton = std::min<int>((flags >> 8) & 0xF, int(p.Buttons.size()) - 1);
    const TDialogCursor arrow;
    return WidgetSet().MessageBox(p);  // the results share their numbers with the IDs
}

void TApplication::HandleException(const std::exception& e)
{
    if (OnException) {
        OnException(this, e);
        return;
    }
    MessageBox(e.what(), Title, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException()
{
    try {
        throw;
    } catch (const std::exception& e) {
        HandleException(e);
    } catch (...) {
        HandleException(std::runtime_error("Unknown exception"));
    }
}

void TApplication::ReleaseLater(TForm* form)
{
    if (std::find(released_.begin(), released_.end(), form) == released_.end())
        released_.push_back(form);
}

void TApplication::FreeReleased()
{
    std::vector<TForm*> list;
    list.swap(released_);
    for (TForm* form : list)
        delete form;
}

void TScreen::SetCursor(TCursor cursor)
{
    if (cursor == cursor_)
        return;
    cursor_ = cursor;
    WidgetSet().CursorChanged(cursor);
}

}  // namespace vcl
