#include "platform/vcl/StdCtrls.h"

#include "platform/win/Utf8.h"

#include <algorithm>

namespace vcl {

namespace {
void DrawCaption(TControl& c, const TRect& r, TAlignment alignment, TTextFormat extra)
{
    TTextFormat f = extra | (alignment == taCenter ? tfCenter : alignment == taRightJustify ? tfRight : tfLeft);
    if (!c.EnabledWithParents())
        c.Canvas.Font.Color = clGrayText;
    c.Canvas.DrawText(r, StripHotkey(c.Caption), f);
}

// The line under the accelerator letter of a caption drawn from `left` at `top`, within `clip`.
void UnderlineHotkey(TCanvas& canvas, const TRect& clip, int top, const std::string& caption)
{
    size_t at = std::string::npos;
    for (size_t i = 0; i + 1 < caption.size(); ++i)
        if (caption[i] == '&') {
            if (caption[i + 1] != '&') {
                at = i;
                break;
            }
            ++i;
        }
    if (at == std::string::npos)
        return;
    const std::string before = StripHotkey(caption.substr(0, at));
    const std::u32string rest = ToU32(caption.substr(at + 1));
    const int x = clip.Left + canvas.TextWidth(before);
    const int right = std::min(int(clip.Right), x + canvas.TextWidth(ToUtf8(rest.substr(0, 1))));
    const int y = top + canvas.TextHeight("Wg") - 2;
    if (x >= right || y >= clip.Bottom)
        return;
    canvas.Pen.Color = canvas.Font.Color;
    canvas.MoveTo(x, y);
    canvas.LineTo(right, y);
}
}  // namespace

TPanel::TPanel(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 185, 41);
}

TRect TPanel::AlignArea() const
{
    int edge = BorderWidth + (BevelOuter != bvNone ? BevelWidth : 0) + (BevelInner != bvNone ? BevelWidth : 0);
    return Rect(edge, edge, ClientWidth() - edge, ClientHeight() - edge);
}

void TPanel::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    if (BevelOuter != bvNone)
        Canvas.Frame3D(r, BevelOuter == bvRaised ? clBtnHighlight : clBtnShadow,
                       BevelOuter == bvRaised ? clBtnShadow : clBtnHighlight, BevelWidth);
    InflateRect(r, -BorderWidth, -BorderWidth);
    if (BevelInner != bvNone)
        Canvas.Frame3D(r, BevelInner == bvRaised ? clBtnHighlight : clBtnShadow,
                       BevelInner == bvRaised ? clBtnShadow : clBtnHighlight, BevelWidth);
    DrawCaption(*this, r, Alignment, tfVerticalCenter | tfSingleLine);
}

TLabel::TLabel(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 65, 13);
}

void TLabel::SetCaption(const std::string& caption)
{
    Caption = caption;
    if (AutoSize && !WordWrap) {
        TSize size = WidgetSet().TextExtent(StripHotkey(caption), Font);
        SetBounds(Left(), Top(), size.cx, size.cy);
    }
    Invalidate();
}

bool TLabel::Accelerate(char)
{
    if (!FocusControl || !FocusControl->CanFocus())
        return false;
    FocusControl->SetFocus();
    return true;
}

void TLabel::Paint()
{
    if (!Transparent) {
        Canvas.Brush.Color = Color;
        Canvas.FillRect(ClientRect());
    }
    TTextFormat layout = Layout == tlCenter ? tfVerticalCenter : Layout == tlBottom ? tfBottom : 0;
    // A label cut by its size shows that it is cut.
    TTextFormat fit = WordWrap ? tfWordBreak : AutoSize ? 0 : tfEndEllipsis;
    DrawCaption(*this, ClientRect(), Alignment, layout | fit);
}

TButton::TButton(TComponent* owner) : TWinControl(owner)
{
    TabStop = true;
    SetBounds(0, 0, 75, 25);
}

void TButton::Click()
{
    if (TForm* form = ParentForm(); form && ModalResult != mrNone)
        form->ModalResult = ModalResult;
    TWinControl::Click();
}

bool TButton::Accelerate(char)
{
    if (TabStop && CanFocus())
        SetFocus();
    Click();
    return true;
}

void TButton::KeyDown(WORD& key, TShiftState shift)
{
    TWinControl::KeyDown(key, shift);
    if (key == VK_SPACE || key == VK_RETURN) {
        keyPressed_ = true;
        Invalidate();
    }
}

void TButton::KeyUp(WORD& key, TShiftState shift)
{
    TWinControl::KeyUp(key, shift);
    if ((key == VK_SPACE || key == VK_RETURN) && keyPressed_) {
        keyPressed_ = false;
        Invalidate();
        Click();
    }
}

void TButton::Paint()
{
    if (OwnerDrawStyle) {
        DrawButton(Pressed(), Focused());
        return;
    }
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, !Pressed());
    if (Focused())
        Canvas.DrawFocusRect(Rect(4, 4, Width() - 4, Height() - 4));
    DrawCaption(*this, r, taCenter, tfVerticalCenter | tfSingleLine);
}

void TButton::DrawButton(bool down, bool)
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, !down);
    DrawCaption(*this, r, taCenter, tfVerticalCenter | tfSingleLine);
}

TBitBtn::TBitBtn(TComponent* owner) : TButton(owner)
{}

void TBitBtn::SetKind(TBitBtnKind kind)
{
    static const std::pair<const char*, TModalResult> kinds[] = {
        {"", mrNone},        {"OK", mrOk},          {"Cancel", mrCancel}, {"&Help", mrNone},
        {"&Yes", mrYes},     {"&No", mrNo},         {"&Close", mrNone},   {"Abort", mrAbort},
        {"&Retry", mrRetry}, {"&Ignore", mrIgnore}, {"&All", mrAll}};
    kind_ = kind;
    if (kind == bkCustom)
        return;
    Caption = kinds[kind].first;
    ModalResult = kinds[kind].second;
    Default = kind == bkOK || kind == bkYes;
    Cancel = kind == bkCancel || kind == bkNo;
    Invalidate();
}

TSpeedButton::TSpeedButton(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 23, 22);
}

void TSpeedButton::Click()
{
    if (GroupIndex != 0) {
        if (Down && AllowAllUp)
            Down = false;
        else if (!Down) {
            Down = true;
            if (Parent())
                for (int i = 0; i < Parent()->ControlCount(); ++i)
                    if (auto* other = dynamic_cast<TSpeedButton*>(Parent()->Controls(i));
                        other && other != this && other->GroupIndex == GroupIndex)
                        other->Down = false, other->Invalidate();
        }
    }
    Invalidate();
    TGraphicControl::Click();
}

bool TSpeedButton::Accelerate(char)
{
    Click();
    return true;
}

void TSpeedButton::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    bool down = Down || pressed_;
    if (!Flat || down)
        Canvas.DrawEdge(r, !down);
    if (!Glyph.Empty()) {
        int x = (Width() - Glyph.Width()) / 2 + (down ? 1 : 0), y = (Height() - Glyph.Height()) / 2 + (down ? 1 : 0);
        Canvas.Draw(x, y, Glyph);
    } else {
        DrawCaption(*this, r, taCenter, tfVerticalCenter | tfSingleLine);
    }
}

TCustomEdit::TCustomEdit(TComponent* owner) : TWinControl(owner)
{
    TabStop = true;
    Color = clWindow;
    SetBounds(0, 0, 121, 21);
}

void TCustomEdit::SetText(const std::string& text)
{
    std::string value = text;
    if (CharCase == ecUpperCase)
        value = win::UpperCase(value);
    else if (CharCase == ecLowerCase)
        value = win::LowerCase(value);
    if (MaxLength > 0) {
        std::u32string chars = ToU32(value);
        if (int(chars.size()) > MaxLength)
            value = ToUtf8(chars.substr(0, size_t(MaxLength)));
    }
    if (value == text_)
        return;
    text_ = value;
    int length = int(ToU32(text_).size());
    SelStart = std::min(SelStart, length);
    SelLength = 0;
    Invalidate();
    Change();
}

void TCustomEdit::Change()
{
    if (OnChange && !IsLoading())
        OnChange(this);
}

void TCustomEdit::SelectAll()
{
    SelStart = 0;
    SelLength = int(ToU32(text_).size());
}

void TCustomEdit::TypeText(const std::string& typed)
{
    if (ReadOnly)
        return;
    std::u32string chars = ToU32(text_);
    size_t start = std::min(size_t(std::max(0, SelStart)), chars.size());
    size_t length = std::min(size_t(std::max(0, SelLength)), chars.size() - start);
    std::u32string insert = ToU32(typed);
    if (insert == U"\b") {
        if (length == 0 && start > 0)
            --start, length = 1;
        insert.clear();
    }
    if (MaxLength > 0) {
        size_t room = size_t(MaxLength) - std::min(size_t(MaxLength), chars.size() - length);
        insert.resize(std::min(insert.size(), room));
    }
    chars.replace(start, length, insert);
    SetText(ToUtf8(chars));
    SelStart = int(start + insert.size());
    SelLength = 0;
}

TEdit::TEdit(TComponent* owner) : TCustomEdit(owner)
{}

std::string TEdit::ShownText() const
{
    if (!PasswordChar)
        return text_;
    std::string out;
    for (size_t i = 0; i < ToU32(text_).size(); ++i)
        out += ToUtf8(PasswordChar);
    return out;
}

TCustomLabeledEdit::TCustomLabeledEdit(TComponent* owner) : TEdit(owner), label_(new TLabel(this))
{
    label_->Name = "SubLabel";
    label_->FocusControl = this;
}

void TCustomLabeledEdit::PlaceLabel()
{
    if (!label_)
        return;
    int lh = label_->Height(), lw = label_->Width();
    switch (labelPosition_) {
    case lpAbove:
        label_->SetBounds(Left(), Top() - lh - labelSpacing_, lw, lh);
        break;
    case lpBelow:
        label_->SetBounds(Left(), Top() + Height() + labelSpacing_, lw, lh);
        break;
    case lpLeft:
        label_->SetBounds(Left() - lw - labelSpacing_, Top() + (Height() - lh) / 2, lw, lh);
        break;
    case lpRight:
        label_->SetBounds(Left() + Width() + labelSpacing_, Top() + (Height() - lh) / 2, lw, lh);
        break;
    }
}

void TCustomLabeledEdit::SetLabelPosition(TLabelPosition p)
{
    labelPosition_ = p;
    PlaceLabel();
}

void TCustomLabeledEdit::SetLabelSpacing(int spacing)
{
    labelSpacing_ = spacing;
    PlaceLabel();
}

void TCustomLabeledEdit::SetBounds(int left, int top, int width, int height)
{
    TEdit::SetBounds(left, top, width, height);
    PlaceLabel();
}

void TCustomLabeledEdit::SetParent(TWinControl* parent)
{
    TEdit::SetParent(parent);
    if (label_ && !(label_->ComponentState & csDestroying))
        label_->SetParent(parent);
    PlaceLabel();
}

void TCustomLabeledEdit::SetVisible(bool visible)
{
    TEdit::SetVisible(visible);
    label_->SetVisible(visible);
}

void TCustomLabeledEdit::SetEnabled(bool enabled)
{
    TEdit::SetEnabled(enabled);
    label_->SetEnabled(enabled);
}

TMemo::TMemo(TComponent* owner) : TCustomEdit(owner)
{
    SetBounds(0, 0, 185, 89);
    Lines.OnChange = [this](TObject*) {
        if (syncing_)
            return;
        std::string text = Lines.Text();
        if (text.size() >= 2)
            text.resize(text.size() - 2);  // no line break after the last line
        syncing_ = true;
        TCustomEdit::SetText(text);
        syncing_ = false;
    };
}

void TMemo::SetText(const std::string& text)
{
    TCustomEdit::SetText(text);
    if (syncing_)
        return;
    syncing_ = true;
    Lines.SetText(text_);
    syncing_ = false;
}

TCheckBox::TCheckBox(TComponent* owner) : TWinControl(owner)
{
    TabStop = true;
    SetBounds(0, 0, 97, 17);
}

void TCheckBox::SetState(TCheckBoxState state)
{
    if (state == state_)
        return;
    state_ = state;
    Invalidate();
    if (!clicking_ && !IsLoading())
        TWinControl::Click();
}

void TCheckBox::Toggle()
{
    SetState(state_ == cbUnchecked ? cbChecked
             : state_ == cbChecked ? (AllowGrayed ? cbGrayed : cbUnchecked)
                                   : cbUnchecked);
}

void TCheckBox::Click()
{
    Toggle();
}  // the user's click toggles; the change fires OnClick

bool TCheckBox::Accelerate(char)
{
    if (CanFocus())
        SetFocus();
    Toggle();
    return true;
}

void TCheckBox::KeyPress(char32_t& key)
{
    TWinControl::KeyPress(key);
    if (key == U' ') {
        Toggle();
        key = 0;
    }
}

void TCheckBox::Paint()
{
    Canvas.Brush.Color = Color;
    Canvas.FillRect(ClientRect());
    int box = 13, y = (Height() - box) / 2;
    TRect r = Bounds(0, y, box, box);
    Canvas.Brush.Color = clWindow;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, false);
    if (state_ != cbUnchecked) {
        Canvas.Brush.Color = state_ == cbGrayed ? clGrayText : clWindowText;
        Canvas.FillRect(Rect(4, y + 4, box - 4, y + box - 4));
    }
    DrawCaption(*this, Rect(box + 4, 0, Width(), Height()), taLeftJustify, tfVerticalCenter | tfSingleLine);
}

TGroupBox::TGroupBox(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 185, 105);
}

TRect TGroupBox::AlignArea() const
{
    return Rect(2, 15, ClientWidth() - 2, ClientHeight() - 2);
}

void TGroupBox::Paint()
{
    Canvas.Brush.Color = Color;
    Canvas.FillRect(ClientRect());
    TRect frame = Rect(0, 6, Width(), Height());
    Canvas.Frame3D(frame, clBtnShadow, clBtnHighlight, 1);
    if (!Caption.empty()) {
        int w = Canvas.TextWidth(StripHotkey(Caption));
        Canvas.Brush.Color = Color;
        Canvas.TextRect(Rect(8, 0, 8 + w + 2, 14), 9, 0, StripHotkey(Caption));
    }
}

TRadioGroup::TRadioGroup(TComponent* owner) : TGroupBox(owner)
{
    TabStop = true;
    Items.OnChange = [this](TObject*) {
        if (itemIndex_ >= Items.Count())
            itemIndex_ = -1;
        Invalidate();
    };
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index < -1 || index >= Items.Count())
        index = -1;
    if (index == itemIndex_)
        return;
    itemIndex_ = index;
    Invalidate();
    if (!IsLoading())
        Click();
}

TRect TRadioGroup::ItemRect(int index) const
{
    int columns = std::max(1, Columns);
    int rows = (Items.Count() + columns - 1) / columns;
    if (rows == 0)
        return TRect{};
    int col = index / rows, row = index % rows;
    int colWidth = (Width() - 16) / columns;
    int rowHeight = std::max(1, (Height() - 22) / rows);
    return Bounds(8 + col * colWidth, 16 + row * rowHeight, colWidth, rowHeight);
}

void TRadioGroup::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    TGroupBox::MouseDown(button, shift, x, y);
    if (button != mbLeft || !EnabledWithParents())
        return;
    for (int i = 0; i < Items.Count(); ++i)
        if (ItemRect(i).Contains({x, y}))
            SetItemIndex(i);
}

void TRadioGroup::KeyDown(WORD& key, TShiftState shift)
{
    TGroupBox::KeyDown(key, shift);
    if ((key == VK_DOWN || key == VK_RIGHT) && itemIndex_ + 1 < Items.Count())
        SetItemIndex(itemIndex_ + 1), key = 0;
    else if ((key == VK_UP || key == VK_LEFT) && itemIndex_ > 0)
        SetItemIndex(itemIndex_ - 1), key = 0;
}

bool TRadioGroup::HasAccelerator(char key) const
{
    if (!key)
        return false;
    for (int i = 0; i < Items.Count(); ++i)
        if (HotkeyOf(Items[i]) == key)
            return true;
    return TGroupBox::HasAccelerator(key);
}

bool TRadioGroup::Accelerate(char key)
{
    for (int i = 0; i < Items.Count(); ++i)
        if (HotkeyOf(Items[i]) == key) {
            if (CanFocus())
                SetFocus();
            SetItemIndex(i);
            return true;
        }
    if (!TGroupBox::HasAccelerator(key) || !CanFocus())
        return false;
    SetFocus();
    return true;
}

void TRadioGroup::Paint()
{
    TGroupBox::Paint();
    for (int i = 0; i < Items.Count(); ++i) {
        TRect r = ItemRect(i);
        int y = r.Top + (r.Height() - 12) / 2;
        // Round, so one choice of several never passes for a check box.
        Canvas.Pen.Color = EnabledWithParents() ? clBtnShadow : clGrayText;
        Canvas.Brush.Color = clWindow;
        Canvas.Ellipse(r.Left, y, r.Left + 12, y + 12);
        if (i == itemIndex_) {
            Canvas.Pen.Color = Canvas.Brush.Color = EnabledWithParents() ? clWindowText : clGrayText;
            Canvas.Ellipse(r.Left + 3, y + 3, r.Left + 9, y + 9);
        }
        Canvas.Brush.Style = bsClear;
        const TRect text = Rect(r.Left + 16, r.Top, r.Right, r.Bottom);
        const int textTop = r.Top + (r.Height() - Canvas.TextHeight("Wg")) / 2;
        Canvas.TextRect(text, text.Left, textTop, StripHotkey(Items[i]));
        UnderlineHotkey(Canvas, text, textTop, Items[i]);
        Canvas.Brush.Style = bsSolid;
    }
}

std::string TRadioGroup::ShownText() const
{
    std::string out = StripHotkey(Caption);
    for (int i = 0; i < Items.Count(); ++i)
        out += std::string(out.empty() ? "" : "\n") + (i == itemIndex_ ? "(*) " : "( ) ") + StripHotkey(Items[i]);
    return out;
}

TComboBox::TComboBox(TComponent* owner) : TCustomEdit(owner)
{
    Items.OnChange = [this](TObject*) {
        if (itemIndex_ >= Items.Count())
            itemIndex_ = -1;
        Invalidate();
    };
}

void TComboBox::SetItemIndex(int index)
{
    if (index < -1 || index >= Items.Count())
        index = -1;
    itemIndex_ = index;
    std::string text = index >= 0 ? Items[index] : std::string();
    if (text != text_) {
        text_ = text;  // set from code: no OnChange
        SelStart = SelLength = 0;
    }
    Invalidate();
}

void TComboBox::SelectFromList(int index)
{
    if (index < 0 || index >= Items.Count())
        return;
    itemIndex_ = index;
    if (Items[index] != text_) {
        text_ = Items[index];
        Change();
    }
    Invalidate();
    if (OnSelect)
        OnSelect(this);
}

void TComboBox::SetText(const std::string& text)
{
    if (Style == csDropDownList) {
        int index = Items.IndexOf(text);
        if (index >= 0)
            SetItemIndex(index);
        return;
    }
    TCustomEdit::SetText(text);
    itemIndex_ = Items.IndexOf(text_);
}

void TComboBox::KeyDown(WORD& key, TShiftState shift)
{
    TCustomEdit::KeyDown(key, shift);
    if (key == VK_DOWN && itemIndex_ + 1 < Items.Count())
        SelectFromList(itemIndex_ + 1), key = 0;
    else if (key == VK_UP && itemIndex_ > 0)
        SelectFromList(itemIndex_ - 1), key = 0;
}

TListBox::TListBox(TComponent* owner) : TCustomControl(owner)
{
    TabStop = true;
    Color = clWindow;
    SetBounds(0, 0, 121, 97);
    Items.OnChange = [this](TObject*) { ItemsChanged(); };
}

void TListBox::ItemsChanged()
{
    selected_.assign(size_t(Items.Count()), false);
    if (itemIndex_ >= Items.Count())
        itemIndex_ = -1;
    if (itemIndex_ >= 0)
        selected_[size_t(itemIndex_)] = true;
    topIndex_ = std::clamp(topIndex_, 0, std::max(0, Items.Count() - 1));
    Invalidate();
}

void TListBox::SetSorted(bool sorted)
{
    Items.SetSorted(sorted);
}

void TListBox::SetItemIndex(int index)
{
    if (index < -1 || index >= Items.Count())
        index = -1;
    if (!MultiSelect || index < 0)
        std::fill(selected_.begin(), selected_.end(), false);
    itemIndex_ = index;
    if (index >= 0) {
        selected_[size_t(index)] = true;
        MakeVisible(index);
    }
    Invalidate();
}

bool TListBox::Selected(int index) const
{
    if (index < 0 || index >= int(selected_.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return selected_[size_t(index)];
}

void TListBox::SetSelected(int index, bool selected)
{
    if (index < 0 || index >= int(selected_.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    if (!MultiSelect) {
        SetItemIndex(selected ? index : (index == itemIndex_ ? -1 : itemIndex_));
        return;
    }
    selected_[size_t(index)] = selected;
    Invalidate();
}

int TListBox::SelCount() const
{
    if (!MultiSelect)
        return -1;  // as the list box control answers for single selection
    return int(std::count(selected_.begin(), selected_.end(), true));
}

void TListBox::ClearSelection()
{
    std::fill(selected_.begin(), selected_.end(), false);
    if (!MultiSelect)
        itemIndex_ = -1;
    Invalidate();
}

int TListBox::VisibleItems() const
{
    return std::max(1, (ClientHeight() - 4) / std::max(1, ItemHeight));
}

void TListBox::SetTopIndex(int index)
{
    topIndex_ = std::clamp(index, 0, std::max(0, Items.Count() - 1));
    Invalidate();
}

void TListBox::MakeVisible(int index)
{
    if (index < topIndex_)
        topIndex_ = index;
    else if (index >= topIndex_ + VisibleItems())
        topIndex_ = index - VisibleItems() + 1;
}

TRect TListBox::ItemRect(int index) const
{
    int y = 2 + (index - topIndex_) * ItemHeight;
    return Rect(2, y, Width() - 2, y + ItemHeight);
}

int TListBox::ItemAtPos(TPoint p, bool existing) const
{
    if (p.X >= 0 && p.X < Width() && p.Y >= 2) {
        int index = topIndex_ + (p.Y - 2) / std::max(1, ItemHeight);
        if (index < Items.Count())
            return index;
    }
    return existing ? -1 : Items.Count();
}

void TListBox::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, false);
    TRect inner = Rect(2, 2, Width() - 2, Height() - 2);
    for (int i = topIndex_; i < Items.Count(); ++i) {
        TRect ir = ItemRect(i);
        if (ir.Top >= inner.Bottom)
            break;
        TOwnerDrawState state = 0;
        if (selected_[size_t(i)])
            state |= odSelected;
        if (i == itemIndex_ && Focused())
            state |= odFocused;
        if (!EnabledWithParents())
            state |= odDisabled;
        Canvas.Font = Font;
        Canvas.Brush = TBrush{Color, bsSolid};
        if (state & odSelected) {
            Canvas.Brush.Color = clHighlight;
            Canvas.Font.Color = clHighlightText;
        }
        DrawItem(i, ir, state);
    }
}

void TListBox::DrawItem(int index, const TRect& rect, TOwnerDrawState state)
{
    if (Style != lbStandard && OnDrawItem) {
        OnDrawItem(this, index, rect, state);
        return;
    }
    Canvas.FillRect(rect);
    std::string text = Items[index];
    if (TabStops || text.find('\t') != std::string::npos) {
        int step = TabWidth > 0 ? TabWidth : Canvas.TextWidth("0") * 8;
        int x = rect.Left + 2;
        size_t start = 0;
        for (;;) {
            size_t tab = text.find('\t', start);
            std::string part = text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            // TextRect fills its rectangle: each part gets the row from its own column on, so it
            // does not wipe the parts before it.
            Canvas.TextRect(TRect{std::min(x, rect.Right), rect.Top, rect.Right, rect.Bottom}, x, rect.Top, part);
            if (tab == std::string::npos)
                break;
            x = rect.Left + 2 + ((x + Canvas.TextWidth(part) - rect.Left - 2) / step + 1) * step;
            start = tab + 1;
        }
    } else {
        Canvas.TextRect(rect, rect.Left + 2, rect.Top, text);
    }
    if (state & odFocused)
        Canvas.DrawFocusRect(rect);
}

void TListBox::SelectOnly(int index)
{
    std::fill(selected_.begin(), selected_.end(), false);
    anchor_ = index;
    SetItemIndex(index);
}

void TListBox::SelectRange(int index)
{
    if (anchor_ < 0 || anchor_ >= Items.Count())
        anchor_ = itemIndex_ >= 0 ? itemIndex_ : index;
    std::fill(selected_.begin(), selected_.end(), false);
    for (int i = std::min(index, anchor_); i <= std::max(index, anchor_); ++i)
        selected_[size_t(i)] = true;
    itemIndex_ = index;
    MakeVisible(index);
    Invalidate();
}

TPoint TListBox::PopupPoint() const
{
    if (itemIndex_ < topIndex_ || itemIndex_ >= topIndex_ + VisibleItems())
        return TCustomControl::PopupPoint();
    const TRect r = ItemRect(itemIndex_);
    return {r.Left + 8, r.Bottom};
}

void TListBox::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    int index = ItemAtPos({x, y}, true);
    const bool extended = MultiSelect && ExtendedSelect;
    if (button == mbLeft && index >= 0 && EnabledWithParents() && !(shift & ssDouble)) {
        if (MultiSelect && ((shift & ssCtrl) || !ExtendedSelect)) {
            selected_[size_t(index)] = !selected_[size_t(index)];
            itemIndex_ = anchor_ = index;
            Invalidate();
        } else if (extended && (shift & ssShift)) {
            SelectRange(index);
        } else {
            // A plain click picks this row alone: the commands act on what is shown selected.
            SelectOnly(index);
        }
    } else if (button == mbRight && index >= 0 && EnabledWithParents() && !selected_[size_t(index)]) {
        // The pop-up menu acts on the row under the pointer, as the desktop's lists do.
        SelectOnly(index);
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void TListBox::KeyDown(WORD& key, TShiftState shift)
{
    TCustomControl::KeyDown(key, shift);
    int count = Items.Count();
    if (count == 0)
        return;
    const bool extended = MultiSelect && ExtendedSelect;
    if (key == VK_SPACE && MultiSelect && (!ExtendedSelect || (shift & ssCtrl)) && itemIndex_ >= 0) {
        key = 0;
        selected_[size_t(itemIndex_)] = !selected_[size_t(itemIndex_)];
        anchor_ = itemIndex_;
        Invalidate();
        TCustomControl::Click();
        return;
    }
    int target = itemIndex_;
    switch (key) {
    case VK_DOWN:
        target = std::min(count - 1, itemIndex_ + 1);
        break;
    case VK_UP:
        target = std::max(0, itemIndex_ - 1);
        break;
    case VK_HOME:
        target = 0;
        break;
    case VK_END:
        target = count - 1;
        break;
    case VK_NEXT:
        target = std::min(count - 1, std::max(0, itemIndex_) + VisibleItems() - 1);
        break;
    case VK_PRIOR:
        target = std::max(0, itemIndex_ - VisibleItems() + 1);
        break;
    default:
        return;
    }
    key = 0;
    if (extended && (shift & ssShift)) {
        SelectRange(target);
        TCustomControl::Click();
    } else if (extended && (shift & ssCtrl)) {
        // Ctrl moves the caret only; Ctrl+Space then toggles the row there.
        itemIndex_ = target;
        MakeVisible(target);
        Invalidate();
    } else if (extended) {
        const bool alone = SelCount() == 1 && target == itemIndex_;
        if (!alone) {
            SelectOnly(target);
            TCustomControl::Click();  // a list box reports a changed selection as a click
        }
    } else if (target != itemIndex_) {
        SetItemIndex(target);
        TCustomControl::Click();
    }
}

TScrollBar::TScrollBar(TComponent* owner) : TWinControl(owner)
{
    TabStop = true;
    SetBounds(0, 0, 121, 17);
}

void TScrollBar::SetPosition(int position)
{
    position = std::clamp(position, Min, std::max(Min, Max - std::max(0, PageSize - 1)));
    if (position == position_)
        return;
    position_ = position;
    Invalidate();
    if (OnChange && !IsLoading())
        OnChange(this);
}

void TScrollBar::SetParams(int position, int min, int max)
{
    Min = min;
    Max = std::max(min, max);
    SetPosition(position);
}

void TScrollBar::KeyDown(WORD& key, TShiftState shift)
{
    TWinControl::KeyDown(key, shift);
    switch (key) {
    case VK_LEFT:
    case VK_UP:
        SetPosition(position_ - SmallChange);
        break;
    case VK_RIGHT:
    case VK_DOWN:
        SetPosition(position_ + SmallChange);
        break;
    case VK_PRIOR:
        SetPosition(position_ - LargeChange);
        break;
    case VK_NEXT:
        SetPosition(position_ + LargeChange);
        break;
    case VK_HOME:
        SetPosition(Min);
        break;
    case VK_END:
        SetPosition(Max);
        break;
    default:
        return;
    }
    key = 0;
}

TScrollBox::TScrollBox(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 185, 41);
}

TRect TScrollBox::AlignArea() const
{
    int edge = BorderSingle ? 2 : 0;
    return Rect(edge, edge, ClientWidth() - edge, ClientHeight() - edge);
}

void TScrollBox::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    if (BorderSingle)
        Canvas.DrawEdge(r, false);
}

TBevel::TBevel(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 50, 50);
}

void TBevel::Paint()
{
    TColor first = Style == bsLowered ? clBtnShadow : clBtnHighlight;
    TColor second = Style == bsLowered ? clBtnHighlight : clBtnShadow;
    TRect r = ClientRect();
    auto hline = [&](int y) {
        Canvas.Brush.Color = first;
        Canvas.FillRect(Rect(0, y, Width(), y + 1));
        Canvas.Brush.Color = second;
        Canvas.FillRect(Rect(0, y + 1, Width(), y + 2));
    };
    auto vline = [&](int x) {
        Canvas.Brush.Color = first;
        Canvas.FillRect(Rect(x, 0, x + 1, Height()));
        Canvas.Brush.Color = second;
        Canvas.FillRect(Rect(x + 1, 0, x + 2, Height()));
    };
    switch (Shape) {
    case bsBox:
        Canvas.Frame3D(r, first, second, 1);
        break;
    case bsFrame: {
        TRect outer = Rect(0, 0, Width() - 1, Height() - 1), inner = Rect(1, 1, Width(), Height());
        Canvas.Frame3D(inner, second, second, 1);
        Canvas.Frame3D(outer, first, first, 1);
        break;
    }
    case bsTopLine:
        hline(0);
        break;
    case bsBottomLine:
        hline(Height() - 2);
        break;
    case bsLeftLine:
        vline(0);
        break;
    case bsRightLine:
        vline(Width() - 2);
        break;
    case bsSpacer:
        break;
    }
}

TImage::TImage(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 105, 105);
}

void TImage::Paint()
{
    if (Picture.Empty())
        return;
    Picture.Transparent = Transparent;
    if (Stretch)
        Canvas.StretchDraw(ClientRect(), Picture);
    else if (Center)
        Canvas.Draw((Width() - Picture.Width()) / 2, (Height() - Picture.Height()) / 2, Picture);
    else
        Canvas.Draw(0, 0, Picture);
}

TPaintBox::TPaintBox(TComponent* owner) : TGraphicControl(owner)
{
    SetBounds(0, 0, 105, 105);
}

void TPaintBox::Paint()
{
    if (OnPaint)
        OnPaint(this);
}

}  // namespace vcl
