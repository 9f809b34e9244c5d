// Controls: geometry and Align layout, visibility, focus, keyboard and mouse events, self-drawing.
#pragma once

#include "platform/vcl/Classes.h"
#include "platform/vcl/Graphics.h"

#include <vector>

namespace vcl {

class TWinControl;
class TForm;
class TPopupMenu;

using TKeyEvent = std::function<void(TObject* Sender, WORD& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char32_t& Key)>;
using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)>;

// How a widget set realises a control: natively for the kinds it knows, else as a widget that the
// control paints itself (Paint).
// Which edges of its parent a control keeps its distance to when the parent is resized.
using TAnchors = unsigned;
constexpr TAnchors akLeft = 1, akTop = 2, akRight = 4, akBottom = 8;

class TControl;

// A text that tells its control when it is assigned another value, so the widget set shows it at
// once; it reads as the string it holds.
void NotifyControlChanged(TControl* control);
class TControlText : public std::string {
public:
    explicit TControlText(TControl* owner = nullptr) : owner_(owner) {}
    TControlText(const std::string& s) : std::string(s) {}  // NOLINT: panels are built from texts
    TControlText(const char* s) : std::string(s) {}         // NOLINT
    TControlText(const TControlText&) = default;
    TControlText& operator=(const TControlText& v) { return Set(v); }
    TControlText& operator=(const std::string& v) { return Set(v); }
    TControlText& operator=(std::string&& v) { return Set(std::move(v)); }
    TControlText& operator=(const char* v) { return Set(std::string(v)); }
    TControlText& operator+=(const std::string& v) { return Set(*this + v); }
    void SetOwner(TControl* owner) { owner_ = owner; }

private:
    TControlText& Set(std::string v)
    {
        if (static_cast<const std::string&>(*this) == v)
            return *this;
        std::string::operator=(std::move(v));
        NotifyControlChanged(owner_);
        return *this;
    }
    TControl* owner_ = nullptr;
};

// A value of the same kind (a colour, a flag).
template <class T>
class TControlValue {
public:
    TControlValue(TControl* owner, T value) : owner_(owner), value_(value) {}
    TControlValue(const TControlValue&) = delete;
    operator T() const { return value_; }
    TControlValue& operator=(T v)
    {
        if (!(v == value_)) {
            value_ = v;
            NotifyControlChanged(owner_);
        }
        return *this;
    }
    TControlValue& operator=(const TControlValue& v) { return *this = T(v); }

private:
    TControl* owner_;
    T value_;
};

enum TControlKind { ckPainted, ckForm, ckButton, ckEdit, ckMemo, ckCheckBox, ckComboBox, ckProgressBar, ckScrollBar };

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;
    std::string ClassName() const override { return "TControl"; }
    virtual TControlKind Kind() const { return ckPainted; }

    TWinControl* Parent() const { return parent_; }
    virtual void SetParent(TWinControl* parent);
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
    virtual int ClientWidth() const { return width_; }
    virtual int ClientHeight() const { return height_; }
    virtual void SetClientWidth(int v) { SetWidth(v); }
    virtual void SetClientHeight(int v) { SetHeight(v); }
    TRect ClientRect() const { return Rect(0, 0, ClientWidth(), ClientHeight()); }
    // Top-left corner of this control's client area in its form's client coordinates.
    TPoint FormOrigin() const;

    TAlign Align() const { return align_; }
    void SetAlign(TAlign align);
    bool Visible() const { return visible_; }
    virtual void SetVisible(bool visible);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Showing() const;  // visible together with every parent
    bool Enabled() const { return enabled_; }
    virtual void SetEnabled(bool enabled);
    bool EnabledWithParents() const;

    TControlValue<TColor> Color{this, clBtnFace};
    TFont Font;
    TControlText Caption{this};
    std::string Hint;
    bool ShowHint = false;
    TCursor Cursor = crDefault;
    TPopupMenu* PopupMenu = nullptr;
    TAnchors Anchors = akLeft | akTop;  // for controls without Align
    TCanvas Canvas;                     // set to the paint device while Paint runs

    TNotifyEvent OnClick, OnDblClick, OnResize;
    TMouseEvent OnMouseDown, OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    virtual void Click();
    virtual void DblClick();
    // The widget set's mouse input; coordinates are client coordinates. A left press and release
    // inside the control is a click.
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    // Whether Alt+key is this control's accelerator (the letter after "&" in its caption).
    virtual bool HasAccelerator(char key) const { return key && HotkeyOf(Caption) == key; }
    // The user pressed this control's accelerator: does what the control does for it; false when
    // the control takes none.
    virtual bool Accelerate(char /*key*/) { return false; }
    // Opens the pop-up menu of this control or of the nearest parent that has one, at a client
    // point (right-click, Shift+F10, the Menu key); false when there is none.
    bool ShowPopupMenu(TPoint at);
    // Where the keyboard opens the pop-up menu, in client coordinates.
    virtual TPoint PopupPoint() const { return {4, 4}; }

    // Draws the control (client coordinates) on Canvas. Owner-drawn controls override it.
    virtual void Paint();
    // Runs Paint with Canvas on the device at origin, clipped.
    void PaintOn(TCanvasDevice* device, TPoint origin, const TRect& clip);
    void Invalidate();
    void Repaint() { Invalidate(); }
    TForm* ParentForm() const;
    // The text this control shows (for transcripts and screen readers of the headless set).
    virtual std::string ShownText() const { return StripHotkey(Caption); }

    void* Peer = nullptr;  // the widget set's object for this control

protected:
    virtual void Resize();
    friend void NotifyControlChanged(TControl* control);
    void Changed();  // tells the widget set that state changed
    bool pressed_ = false;

private:
    friend class TWinControl;
    TWinControl* parent_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    TAlign align_ = alNone;
    bool visible_ = true;
    bool enabled_ = true;
};

class TGraphicControl : public TControl {
public:
    using TControl::TControl;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;
    std::string ClassName() const override { return "TWinControl"; }

    int ControlCount() const { return int(controls_.size()); }
    TControl* Controls(int i) const { return controls_.at(size_t(i)); }
    bool TabStop = false;
    int TabOrder = 0;
    TNotifyEvent OnEnter, OnExit;
    TKeyEvent OnKeyDown, OnKeyUp;
    TKeyPressEvent OnKeyPress;

    virtual bool CanFocus() const;
    bool Focused() const;
    void SetFocus();  // EInvalidOperation when the control cannot take the focus
    virtual void DoEnter();
    virtual void DoExit();
    // Key handlers of this control: fire the events; derived controls add their own handling.
    // Clearing Key (0) consumes it.
    virtual void KeyDown(WORD& key, TShiftState shift);
    virtual void KeyPress(char32_t& key);
    virtual void KeyUp(WORD& key, TShiftState shift);

    // Lays the aligned children out in the client area (called on every resize).
    void Realign();
    void SetBounds(int left, int top, int width, int height) override;
    // Child controls that take part in Tab navigation, in tab order, depth first.
    std::vector<TWinControl*> TabList();
    // The visible child at a client point (deepest), or nullptr.
    TControl* ControlAtPos(TPoint p);
    bool ContainsControl(const TControl* c) const;

protected:
    virtual TRect AlignArea() const { return ClientRect(); }

private:
    friend class TControl;
    void AnchorChildren(int dw, int dh);
    std::vector<TControl*> controls_;
    bool aligning_ = false;
};

class TCustomControl : public TWinControl {
public:
    using TWinControl::TWinControl;
};

}  // namespace vcl
