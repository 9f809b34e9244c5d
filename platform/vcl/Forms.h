// Forms, the application object and the screen.
#pragma once

#include "platform/vcl/Controls.h"
#include "platform/vcl/WidgetSet.h"
#include "platform/win/WinTypes.h"

namespace vcl {

class TMainMenu;
class TButton;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
using TBorderIcons = unsigned;
constexpr TBorderIcons biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8;

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

struct TSizeConstraints {
    int MinWidth = 0, MinHeight = 0, MaxWidth = 0, MaxHeight = 0;  // 0: no limit
};

// The WM_COPYDATA message as a handler sees it.
struct TWMCopyData {
    UINT Msg = WM_COPYDATA;
    HWND From = 0;
    const COPYDATASTRUCT* CopyDataStruct = nullptr;
    LRESULT Result = 0;
};
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;
    std::string ClassName() const override { return "TForm"; }
    TControlKind Kind() const override { return ckForm; }

    TFormBorderStyle BorderStyle = bsSizeable;
    TBorderIcons BorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition Position = poDesigned;
    bool KeyPreview = false;
    TMainMenu* Menu = nullptr;
    TSizeConstraints Constraints;
    TWindowState WindowState = wsNormal;
    TModalResult ModalResult = mrNone;
    bool FormStyleStayOnTop = false;

    TNotifyEvent OnCreate, OnDestroy, OnShow, OnHide, OnActivate, OnDeactivate;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;

    // Borders and caption around the client area, so Width/Height are the outer size.
    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientWidth(int v) override;
    void SetClientHeight(int v) override;
    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    // Whether the user may change the size (and, with biMaximize, maximise the form).
    bool Sizeable() const { return BorderStyle == bsSizeable || BorderStyle == bsSizeToolWin; }
    // Moves the form where Position asks: centred on the screen, the main form or its owner.
    // On-screen widget sets do it as the form is shown; the headless one keeps forms where they are.
    void PlaceByPosition();

    // Ends construction: Loaded for every component built in the constructor, then OnCreate.
    // Run by CreateForm, Show and ShowModal, once.
    void EnsureCreated();
    TModalResult ShowModal();
    bool IsModal() const { return modal_; }
    // Asks OnCloseQuery and OnClose; hides the form (or ends ShowModal with mrCancel).
    void Close();
    void Release();  // freed at the next message-loop pass
    bool Active() const { return active_; }
    TWinControl* ActiveControl() const { return activeControl_; }
    void SetActiveControl(TWinControl* control);
    // Moves the focus to the next (or previous) control in tab order.
    void SelectNext(bool forward);
    // Keyboard input as the widget set delivers it to the focused control.
    void PressKey(WORD key, TShiftState shift = 0, char32_t ch = 0);
    void TypeChar(char32_t ch);
    // The steps of a key at the focused control, for a widget set whose native field edits with
    // what they leave: key down, then its character, through the form (with KeyPreview) and the
    // control's handlers, each zeroed when consumed; key up after the edit.
    void ControlKeyDown(WORD& key, TShiftState shift);
    void ControlKeyPress(char32_t& ch);
    void ControlKeyUp(WORD key, TShiftState shift);
    // The control whose accelerator is the key (Alt+key), or nullptr.
    TControl* AcceleratorControl(WORD key);
    // The window behind the form, made on first use; its messages come to WndProc.
    HWND Handle();
    bool HandleAllocated() const { return handle_ != 0; }
    // The class name the window is published under (FindWindowA); the form's class name.
    virtual std::string WindowClassName() const { return ClassName(); }
    virtual void WMCopyData(TWMCopyData& message);
    virtual void WndProc(TMessage& message);
    // All controls of the form depth first, in creation order.
    std::vector<TControl*> AllControls();
    bool SaveScreenshot(const std::string& pngPath) { return WidgetSet().SaveScreenshot(*this, pngPath); }
    // Paints the form and every visible control onto a bitmap of the client size (headless look).
    TBitmap RenderToBitmap();

protected:
    TRect AlignArea() const override { return ClientRect(); }

private:
    friend class TApplication;
    bool HandleDialogKey(WORD key, TShiftState shift);
    bool AccelerateKey(WORD key);
    bool CloseModal();
    int NonClientWidth() const;
    int NonClientHeight() const;
    bool created_ = false;
    bool modal_ = false;
    bool active_ = false;
    HWND handle_ = 0;
    TWinControl* activeControl_ = nullptr;
};

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
public:
    explicit TApplication(TComponent* owner);
    ~TApplication() override;
    std::string ClassName() const override { return "TApplication"; }

    std::string Title = "torvo";
    TForm* MainForm = nullptr;
    bool ShowMainForm = true;
    TExceptionEvent OnException;
    TNotifyEvent OnMinimize, OnRestore;

    void Initialize() {}
    // Creates a form owned by the application; the first becomes MainForm.
    template <class T>
    void CreateForm(T*& reference)
    {
        T* form = new T(this);
        reference = form;
        if (!MainForm)
            MainForm = form;
        form->EnsureCreated();
    }
    // Shows the main form and handles messages until Terminate, WM_QUIT or the main form closes.
    void Run();
    void Terminate();
    bool Terminated() const { return terminated_; }
    void ResetTerminated() { terminated_ = false; }
    void ProcessMessages();
    void HandleMessage();
    void Minimize();
    void Restore();
    bool Minimized() const { return minimized_; }
    // The message box of the Windows API: flags MB_*, result ID*.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
    // Shows the exception in a message box (or gives it to OnException).
    void HandleException(const std::exception& e);
    void HandleException();  // the current exception, from inside a catch block
    void ReleaseLater(TForm* form);
    void FreeReleased();

private:
    bool terminated_ = false;
    bool minimized_ = false;
    std::vector<TForm*> released_;
};

class TScreen : public TComponent {
public:
    using TComponent::TComponent;
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor cursor);
    TForm* ActiveForm = nullptr;
    int Width = 1024, Height = 768;
    // The desktop less its panels, in screen coordinates.
    TRect WorkArea = Rect(0, 0, 1024, 768);

private:
    TCursor cursor_ = crDefault;
};

extern TApplication* Application;
extern TScreen* Screen;

// While a dialog waits for an answer the arrow shows, whatever an operation that asks set; its
// cursor comes back when the dialog ends.
class TDialogCursor {
public:
    TDialogCursor() : saved_(Screen->Cursor()) { Screen->SetCursor(crDefault); }
    ~TDialogCursor() { Screen->SetCursor(saved_); }
    TDialogCursor(const TDialogCursor&) = delete;
    TDialogCursor& operator=(const TDialogCursor&) = delete;

private:
    TCursor saved_;
};

// Runs fn; an exception goes to Application->HandleException, as when it reaches the message loop.
void SafeCall(const std::function<void()>& fn);

// The message box's styles and answers are the platform's (WinTypes.h).
using ::IDABORT;
using ::IDCANCEL;
using ::IDIGNORE;
using ::IDNO;
using ::IDOK;
using ::IDRETRY;
using ::IDYES;
using ::MB_ABORTRETRYIGNORE;
using ::MB_DEFBUTTON1;
using ::MB_DEFBUTTON2;
using ::MB_DEFBUTTON3;
using ::MB_ICONASTERISK;
using ::MB_ICONERROR;
using ::MB_ICONEXCLAMATION;
using ::MB_ICONHAND;
using ::MB_ICONINFORMATION;
using ::MB_ICONQUESTION;
using ::MB_ICONSTOP;
using ::MB_ICONWARNING;
using ::MB_OK;
using ::MB_OKCANCEL;
using ::MB_RETRYCANCEL;
using ::MB_SYSTEMMODAL;
using ::MB_TOPMOST;
using ::MB_YESNO;
using ::MB_YESNOCANCEL;

}  // namespace vcl
