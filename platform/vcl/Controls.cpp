#include "platform/vcl/Controls.h"

#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/WidgetSet.h"

#include <algorithm>

namespace vcl {

TControl::TControl(TComponent* owner) : TComponent(owner)
{}

TControl::~TControl()
{
    ComponentState |= csDestroying;
    if (TForm* form = ParentForm();
        form && form != this && form->ActiveControl() &&
        (form->ActiveControl() == this ||
         (dynamic_cast<TWinControl*>(this) && static_cast<TWinControl*>(this)->ContainsControl(form->ActiveControl()))))
        form->SetActiveControl(nullptr);
    WidgetSet().ControlDestroyed(*this);
    // Only the unlinking is left to do: the derived parts that override it are gone.
    TControl::SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent)
{
    if (parent == parent_)
        return;
    if (parent_) {
        auto& list = parent_->controls_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        TWinControl* old = parent_;
        parent_ = nullptr;
        if (!(old->ComponentState & csDestroying))
            old->Realign();
    }
    parent_ = parent;
    if (parent) {
        if (auto* self = dynamic_cast<TWinControl*>(this)) {
            int count = 0;
            for (TControl* c : parent->controls_)
                count += dynamic_cast<TWinControl*>(c) != nullptr;
            self->TabOrder = count;
        }
        parent->controls_.push_back(this);
        parent->Realign();
    }
    Changed();
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    width = std::max(0, width);
    height = std::max(0, height);
    if (left == left_ && top == top_ && width == width_ && height == height_)
        return;
    bool resized = width != width_ || height != height_;
    left_ = left, top_ = top, width_ = width, height_ = height;
    if (parent_ && align_ != alNone)
        parent_->Realign();
    if (resized)
        Resize();
    Changed();
}

void TControl::Resize()
{
    if (OnResize && !IsLoading())
        OnResize(this);
}

TPoint TControl::FormOrigin() const
{
    TPoint p{0, 0};
    for (const TControl* c = this; c && c->parent_; c = c->parent_)
        p.X += c->left_, p.Y += c->top_;
    return p;
}

void TControl::SetAlign(TAlign align)
{
    if (align == align_)
        return;
    align_ = align;
    if (parent_)
        parent_->Realign();
    Changed();
}

void TControl::SetVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    if (!visible) {
        TForm* form = ParentForm();
        auto* self = dynamic_cast<TWinControl*>(this);
        if (form && form != this && form->ActiveControl() &&
            (form->ActiveControl() == this || (self && self->ContainsControl(form->ActiveControl()))))
            form->SetActiveControl(nullptr);
    }
    if (parent_ && align_ != alNone)
        parent_->Realign();
    Changed();
}

bool TControl::Showing() const
{
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->visible_)
            return false;
    return true;
}

void TControl::SetEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Changed();
}

bool TControl::EnabledWithParents() const
{
    for (const TControl* c = this; c; c = c->parent_)
        if (!c->enabled_)
            return false;
    return true;
}

void TControl::Click()
{
    if (OnClick)
        OnClick(this);
}

void TControl::DblClick()
{
    if (OnDblClick)
        OnDblClick(this);
}

void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (!EnabledWithParents())
        return;
    if (auto* self = dynamic_cast<TWinControl*>(this); self && self->CanFocus() && !self->Focused() && self->TabStop)
        self->SetFocus();
    if (button == mbLeft)
        pressed_ = true;
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
    if (button == mbLeft && (shift & ssDouble))
        DblClick();
}

void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (!EnabledWithParents())
        return;
    bool wasPressed = pressed_ && button == mbLeft;
    if (button == mbLeft)
        pressed_ = false;
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
    if (wasPressed && !(shift & ssDouble) && ClientRect().Contains({x, y}))
        Click();
    Invalidate();
    if (button == mbRight && ClientRect().Contains({x, y}))
        ShowPopupMenu({x, y});
}

bool TControl::ShowPopupMenu(TPoint at)
{
    // The nearest menu up the parents: a list inside a view offers the view's menu.
    TPoint p = at;
    for (TControl* c = this; c; c = c->parent_) {
        if (c->PopupMenu && c->PopupMenu->AutoPopup) {
            c->PopupMenu->PopupComponent = c;
            const TPoint screen = WidgetSet().ClientToScreen(*this, p);
            c->PopupMenu->Popup(screen.X, screen.Y);
            return true;
        }
    }
    return false;
}

void TControl::MouseMove(TShiftState shift, int x, int y)
{
    if (OnMouseMove && EnabledWithParents())
        OnMouseMove(this, shift, x, y);
}

void TControl::Paint()
{
    Canvas.Brush.Color = Color;
    Canvas.FillRect(ClientRect());
}

void TControl::PaintOn(TCanvasDevice* device, TPoint origin, const TRect& clip)
{
    Canvas.SetDevice(device, origin, clip);
    Canvas.Font = Font;
    Canvas.Brush = TBrush{Color, bsSolid};
    Canvas.Pen = TPen{};
    Paint();
    Canvas.SetDevice(nullptr, {}, {});
}

void TControl::Invalidate()
{
    Changed();
}

void NotifyControlChanged(TControl* control)
{
    if (control)
        control->Changed();
}

void TControl::Changed()
{
    if (!(ComponentState & csDestroying))
        WidgetSet().ControlChanged(*this);
}

TForm* TControl::ParentForm() const
{
    const TControl* c = this;
    while (c->parent_)
        c = c->parent_;
    return dynamic_cast<TForm*>(const_cast<TControl*>(c));
}

TWinControl::TWinControl(TComponent* owner) : TControl(owner)
{}

TWinControl::~TWinControl()
{
    ComponentState |= csDestroying;
    while (!controls_.empty())
        delete controls_.back();  // removes itself from controls_ and from its owner
}

bool TWinControl::CanFocus() const
{
    TForm* form = ParentForm();
    return form && form->Visible() && Showing() && EnabledWithParents();
}

bool TWinControl::Focused() const
{
    TForm* form = ParentForm();
    return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus()
{
    TForm* form = ParentForm();
    if (!CanFocus())
        throw EInvalidOperation("Cannot focus a disabled or invisible window");
    if (form != this)
        form->SetActiveControl(this);
}

void TWinControl::DoEnter()
{
    if (OnEnter)
        OnEnter(this);
}

void TWinControl::DoExit()
{
    if (OnExit)
        OnExit(this);
}

void TWinControl::KeyDown(WORD& key, TShiftState shift)
{
    if (OnKeyDown)
        OnKeyDown(this, key, shift);
}

void TWinControl::KeyPress(char32_t& key)
{
    if (OnKeyPress)
        OnKeyPress(this, key);
}

void TWinControl::KeyUp(WORD& key, TShiftState shift)
{
    if (OnKeyUp)
        OnKeyUp(this, key, shift);
}

void TWinControl::SetBounds(int left, int top, int width, int height)
{
    int oldWidth = ClientWidth(), oldHeight = ClientHeight();
    TControl::SetBounds(left, top, width, height);
    if (ClientWidth() != oldWidth || ClientHeight() != oldHeight) {
        AnchorChildren(ClientWidth() - oldWidth, ClientHeight() - oldHeight);
        Realign();
    }
}

void TWinControl::AnchorChildren(int dw, int dh)
{
    if (IsLoading())
        return;  // the design places the children for the design size
    // A control anchored on both sides stretches, on the far side only it moves, on neither
    // it keeps its place relative to the middle.
    auto shift = [](bool nearSide, bool farSide, int delta, int& pos, int& size) {
        if (nearSide && farSide)
            size += delta;
        else if (farSide)
            pos += delta;
        else if (!nearSide)
            pos += delta / 2;
    };
    for (TControl* c : std::vector<TControl*>(controls_)) {
        if (c->Align() != alNone || c->Anchors == (akLeft | akTop))
            continue;
        int left = c->Left(), top = c->Top(), width = c->Width(), height = c->Height();
        shift(c->Anchors & akLeft, c->Anchors & akRight, dw, left, width);
        shift(c->Anchors & akTop, c->Anchors & akBottom, dh, top, height);
        c->SetBounds(left, top, width, height);
    }
}

void TWinControl::Realign()
{
    if (aligning_)
        return;
    aligning_ = true;
    TRect area = AlignArea();
    auto placed = [&](TAlign align) {
        std::vector<TControl*> list;
        for (TControl* c : controls_)
            if (c->Visible() && c->Align() == align)
                list.push_back(c);
        // Controls that share an edge stack in the order of their position, nearest the edge first.
        std::stable_sort(list.begin(), list.end(), [align](TControl* a, TControl* b) {
            switch (align) {
            case alTop:
                return a->Top() < b->Top();
            case alBottom:
                return a->Top() + a->Height() > b->Top() + b->Height();
            case alLeft:
                return a->Left() < b->Left();
            case alRight:
                return a->Left() + a->Width() > b->Left() + b->Width();
            default:
                return false;
            }
        });
        return list;
    };
    for (TControl* c : placed(alTop)) {
        c->SetBounds(area.Left, area.Top, area.Width(), c->Height());
        area.Top += c->Height();
    }
    for (TControl* c : placed(alBottom)) {
        c->SetBounds(area.Left, area.Bottom - c->Height(), area.Width(), c->Height());
        area.Bottom -= c->Height();
    }
    for (TControl* c : placed(alLeft)) {
        c->SetBounds(area.Left, area.Top, c->Width(), std::max(0, area.Height()));
        area.Left += c->Width();
    }
    for (TControl* c : placed(alRight)) {
        c->SetBounds(area.Right - c->Width(), area.Top, c->Width(), std::max(0, area.Height()));
        area.Right -= c->Width();
    }
    for (TControl* c : placed(alClient))
        c->SetBounds(area.Left, area.Top, std::max(0, area.Width()), std::max(0, area.Height()));
    aligning_ = false;
}

std::vector<TWinControl*> TWinControl::TabList()
{
    std::vector<TWinControl*> children;
    for (TControl* c : controls_)
        if (auto* w = dynamic_cast<TWinControl*>(c))
            children.push_back(w);
    std::stable_sort(children.begin(), children.end(),
                     [](TWinControl* a, TWinControl* b) { return a->TabOrder < b->TabOrder; });
    std::vector<TWinControl*> out;
    for (TWinControl* w : children) {
        if (w->TabStop)
            out.push_back(w);
        for (TWinControl* inner : w->TabList())
            out.push_back(inner);
    }
    return out;
}

TControl* TWinControl::ControlAtPos(TPoint p)
{
    for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
        TControl* c = *it;
        if (c->Visible() && c->BoundsRect().Contains(p)) {
            if (auto* w = dynamic_cast<TWinControl*>(c))
                if (TControl* inner = w->ControlAtPos({p.X - c->Left(), p.Y - c->Top()}))
                    return inner;
            return c;
        }
    }
    return nullptr;
}

bool TWinControl::ContainsControl(const TControl* c) const
{
    for (; c; c = c->Parent())
        if (c == this)
            return true;
    return false;
}

}  // namespace vcl
