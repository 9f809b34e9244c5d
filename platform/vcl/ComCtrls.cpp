#include "platform/vcl/ComCtrls.h"

#include <algorithm>

namespace vcl {

int TImageList::Add(const TBitmap& image)
{
    TBitmap scaled(Width, Height);
    scaled.Canvas().StretchDraw(Rect(0, 0, Width, Height), image);
    scaled.Transparent = image.Transparent;
    scaled.TransparentColor = image.TransparentColor;
    images_.push_back(scaled);
    return Count() - 1;
}

int TImageList::AddMasked(const TBitmap& image, TColor maskColor)
{
    TBitmap copy = image;
    copy.Transparent = true;
    copy.TransparentColor = maskColor;
    return Add(copy);
}

void TImageList::Draw(TCanvas& canvas, int x, int y, int index, bool enabled) const
{
    if (index < 0 || index >= Count())
        return;
    const TBitmap& image = images_[size_t(index)];
    if (enabled) {
        canvas.Draw(x, y, image);
        return;
    }
    TBitmap grey = image;
    TColor transparent = image.Transparent ? image.EffectiveTransparentColor() : clNone;
    for (int py = 0; py < grey.Height(); ++py)
        for (int px = 0; px < grey.Width(); ++px) {
            TColor c = image.PixelAt(px, py);
            if (c == transparent)
                continue;
            int lum = (GetRValue(c) * 30 + GetGValue(c) * 59 + GetBValue(c) * 11) / 100;
            int light = 128 + lum / 2;  // greyed and lightened, as disabled images look
            grey.Canvas().SetPixel(px, py, RGB(light, light, light));
        }
    canvas.Draw(x, y, grey);
}

void TListItem::SetSelected(bool selected)
{
    if (selected == selected_)
        return;
    if (selected && owner_ && !owner_->MultiSelect)
        owner_->ClearSelection();
    selected_ = selected;
    if (owner_)
        owner_->ItemSelectionChanged(this);
}

int TListItem::Index() const
{
    if (!owner_)
        return -1;
    for (int i = 0; i < owner_->ItemCount(); ++i)
        if (owner_->Items(i) == this)
            return i;
    return -1;
}

TListView::TListView(TComponent* owner) : TCustomControl(owner)
{
    TabStop = true;
    Color = clWindow;
    SetBounds(0, 0, 250, 150);
}

TListView::~TListView() = default;

TListColumn& TListView::AddColumn(const std::string& caption, int width, TAlignment alignment)
{
    Columns.push_back(TListColumn{caption, width, alignment});
    Invalidate();
    return Columns.back();
}

TListItem* TListView::AddItem()
{
    return InsertItem(ItemCount());
}

TListItem* TListView::InsertItem(int index)
{
    index = std::clamp(index, 0, ItemCount());
    auto item = std::make_unique<TListItem>();
    item->owner_ = this;
    TListItem* raw = item.get();
    items_.insert(items_.begin() + index, std::move(item));
    Changed();
    return raw;
}

void TListView::DeleteItem(int index)
{
    if (index < 0 || index >= ItemCount())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    if (ItemFocused == Items(index))
        ItemFocused = nullptr;
    items_.erase(items_.begin() + index);
    topIndex_ = std::min(topIndex_, std::max(0, ItemCount() - 1));
    Changed();
}

void TListView::Clear()
{
    items_.clear();
    ItemFocused = nullptr;
    topIndex_ = 0;
    Changed();
}

int TListView::SelCount() const
{
    return int(std::count_if(items_.begin(), items_.end(), [](const auto& i) { return i->Selected(); }));
}

TListItem* TListView::Selected() const
{
    for (const auto& i : items_)
        if (i->Selected())
            return i.get();
    return nullptr;
}

void TListView::SetSelected(TListItem* item)
{
    ClearSelection();
    if (item) {
        item->SetSelected(true);
        ItemFocused = item;
    }
}

void TListView::ClearSelection()
{
    for (auto& i : items_)
        if (i->selected_) {
            i->selected_ = false;
            ItemSelectionChanged(i.get());
        }
}

void TListView::ItemSelectionChanged(TListItem* item)
{
    Invalidate();
    if (OnSelectItem && !Updating())
        OnSelectItem(this, item, item->Selected());
}

void TListView::Changed()
{
    if (updateCount_ > 0) {
        changedInUpdate_ = true;
        return;
    }
    Invalidate();
    if (OnChange)
        OnChange(this);
}

void TListView::EndUpdate()
{
    if (updateCount_ > 0 && --updateCount_ == 0 && changedInUpdate_) {
        changedInUpdate_ = false;
        Changed();
    }
}

bool TListView::CustomSort(const TLVCustomSort& fn, int data)
{
    if (!fn && !OnCompare)
        return false;
    auto compare = [&](TListItem* a, TListItem* b) {
        if (fn)
            return fn(a, b, data);
        int result = 0;
        OnCompare(this, a, b, data, result);
        return result;
    };
    std::stable_sort(items_.begin(), items_.end(),
                     [&](const auto& a, const auto& b) { return compare(a.get(), b.get()) < 0; });
    Changed();
    return true;
}

TListItem* TListView::GetItemAt(int, int y) const
{
    if (y < HeaderHeight() + 2)
        return nullptr;
    int index = topIndex_ + (y - HeaderHeight() - 2) / RowHeight();
    return index < ItemCount() ? Items(index) : nullptr;
}

void TListView::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, false);
    int x = 2;
    for (const TListColumn& col : Columns) {
        if (ShowColumnHeaders) {
            TRect h = Rect(x, 2, x + col.Width, 2 + HeaderHeight());
            Canvas.Brush.Color = clBtnFace;
            Canvas.FillRect(h);
            TRect edge = h;
            Canvas.Frame3D(edge, clBtnHighlight, clBtnShadow, 1);
            Canvas.Font = Font;
            Canvas.DrawText(Rect(h.Left + 4, h.Top, h.Right - 4, h.Bottom), col.Caption,
                            tfVerticalCenter | tfSingleLine);
        }
        x += col.Width;
    }
    int y = 2 + HeaderHeight();
    for (int i = topIndex_; i < ItemCount() && y < Height() - 2; ++i, y += RowHeight()) {
        TListItem* item = Items(i);
        bool selected = item->Selected();
        Canvas.Brush.Color = selected ? clHighlight : Color;
        Canvas.Font = Font;
        Canvas.Font.Color = selected ? clHighlightText : Font.Color;
        int right = RowSelect ? Width() - 2 : 2 + (Columns.empty() ? Width() : Columns[0].Width);
        Canvas.FillRect(Rect(2, y, right, y + RowHeight()));
        int cx = 2;
        for (size_t c = 0; c < std::max<size_t>(1, Columns.size()); ++c) {
            int w = Columns.empty() ? Width() - 4 : Columns[c].Width;
            std::string text = c == 0                                ? item->Caption
                               : int(c) - 1 < item->SubItems.Count() ? item->SubItems[int(c) - 1]
                                                                     : std::string();
            int icon = 0;
            if (c == 0 && SmallImages && item->ImageIndex >= 0) {
                SmallImages->Draw(Canvas, cx + 2, y + (RowHeight() - SmallImages->Height) / 2, item->ImageIndex);
                icon = SmallImages->Width + 2;
            }
            TAlignment a = Columns.empty() ? taLeftJustify : Columns[c].Alignment;
            Canvas.Brush.Style = bsClear;
            Canvas.DrawText(Rect(cx + 4 + icon, y, cx + w - 4, y + RowHeight()), text,
                            tfVerticalCenter | tfSingleLine | tfEndEllipsis |
                                (a == taRightJustify ? tfRight
                                 : a == taCenter     ? tfCenter
                                                     : 0));
            Canvas.Brush.Style = bsSolid;
            if (GridLines) {
                Canvas.Brush.Color = clSilver;
                Canvas.FillRect(Rect(cx + w - 1, y, cx + w, y + RowHeight()));
            }
            cx += w;
        }
        if (item == ItemFocused && Focused())
            Canvas.DrawFocusRect(Rect(2, y, right, y + RowHeight()));
    }
}

void TListView::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (EnabledWithParents() && button == mbLeft && ShowColumnHeaders && y >= 2 && y < 2 + HeaderHeight()) {
        int cx = 2;
        for (TListColumn& col : Columns) {
            if (x >= cx && x < cx + col.Width) {
                if (OnColumnClick)
                    OnColumnClick(this, &col);
                break;
            }
            cx += col.Width;
        }
    } else if (EnabledWithParents() && !(shift & ssDouble)) {
        TListItem* item = GetItemAt(x, y);
        if (item && MultiSelect && (shift & ssCtrl)) {
            item->SetSelected(!item->Selected());
        } else if (item && MultiSelect && (shift & ssShift) && ItemFocused) {
            int a = ItemFocused->Index(), b = item->Index();
            ClearSelection();
            for (int i = std::min(a, b); i <= std::max(a, b); ++i)
                Items(i)->SetSelected(true);
        } else if (item || button == mbLeft) {
            SetSelected(item);
        }
        if (item)
            ItemFocused = item;
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void TListView::KeyDown(WORD& key, TShiftState shift)
{
    TCustomControl::KeyDown(key, shift);
    if (ItemCount() == 0 || (key != VK_DOWN && key != VK_UP && key != VK_HOME && key != VK_END))
        return;
    int index = ItemFocused ? ItemFocused->Index() : -1;
    int target = key == VK_DOWN   ? std::min(ItemCount() - 1, index + 1)
                 : key == VK_UP   ? std::max(0, index - 1)
                 : key == VK_HOME ? 0
                                  : ItemCount() - 1;
    SetSelected(Items(target));
    int visible = std::max(1, (Height() - 4 - HeaderHeight()) / RowHeight());
    if (target < topIndex_)
        topIndex_ = target;
    else if (target >= topIndex_ + visible)
        topIndex_ = target - visible + 1;
    key = 0;
}

std::string TListView::ShownText() const
{
    std::string out;
    for (const auto& item : items_) {
        out += item->Caption;
        for (int i = 0; i < item->SubItems.Count(); ++i)
            out += "\t" + item->SubItems[i];
        out += "\n";
    }
    return out;
}

THeaderControl::THeaderControl(TComponent* owner) : TCustomControl(owner)
{
    SetBounds(0, 0, 200, 17);
    SetAlign(alTop);
}

THeaderControl::~THeaderControl() = default;

THeaderSection* THeaderControl::AddSection(const std::string& text, int width)
{
    auto section = std::make_unique<THeaderSection>();
    section->Text = text;
    section->Width = width;
    section->Index = SectionCount();
    sections_.push_back(std::move(section));
    UpdateLefts();
    return sections_.back().get();
}

void THeaderControl::ClearSections()
{
    sections_.clear();
    pressedSection_ = -1;
    Invalidate();
}

void THeaderControl::UpdateLefts()
{
    int x = 0;
    for (auto& s : sections_) {
        s->Left = x;
        x += s->Width;
    }
    Invalidate();
}

void THeaderControl::SetSectionWidth(int index, int width)
{
    THeaderSection* s = Sections(index);
    width = std::clamp(width, s->MinWidth, std::max(s->MinWidth, s->MaxWidth));
    if (width == s->Width)
        return;
    s->Width = width;
    UpdateLefts();
    if (OnSectionResize)
        OnSectionResize(this, s);
}

int THeaderControl::TotalWidth() const
{
    int total = 0;
    for (const auto& s : sections_)
        total += s->Width;
    return total;
}

int THeaderControl::SectionAt(int x) const
{
    for (const auto& s : sections_)
        if (x >= s->Left && x < s->Left + s->Width)
            return s->Index;
    return -1;
}

void THeaderControl::Paint()
{
    Canvas.Brush.Color = Color;
    Canvas.FillRect(ClientRect());
    for (const auto& s : sections_) {
        TRect r = Rect(s->Left, 0, s->Left + s->Width, Height());
        bool pressed = s->Index == pressedSection_;
        if (OnDrawSection) {
            OnDrawSection(this, s.get(), r, pressed);
            continue;
        }
        TRect edge = r;
        Canvas.Frame3D(edge, pressed ? clBtnShadow : clBtnHighlight, pressed ? clBtnHighlight : clBtnShadow, 1);
        TTextFormat f = tfVerticalCenter | tfSingleLine | tfEndEllipsis |
                        (s->Alignment == taCenter         ? tfCenter
                         : s->Alignment == taRightJustify ? tfRight
                                                          : 0);
        Canvas.Font = Font;
        Canvas.DrawText(Rect(r.Left + 4, r.Top, r.Right - 4, r.Bottom), s->Text, f);
    }
}

void THeaderControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (button == mbLeft && EnabledWithParents()) {
        int index = SectionAt(x);
        if (index >= 0 && Sections(index)->AllowClick)
            pressedSection_ = index;
        Invalidate();
    }
    TCustomControl::MouseDown(button, shift, x, y);
}

void THeaderControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    int pressed = pressedSection_;
    pressedSection_ = -1;
    TCustomControl::MouseUp(button, shift, x, y);
    if (button == mbLeft && pressed >= 0 && pressed == SectionAt(x) && OnSectionClick)
        OnSectionClick(this, Sections(pressed));
    Invalidate();
}

std::string THeaderControl::ShownText() const
{
    std::string out;
    for (const auto& s : sections_)
        out += (out.empty() ? "" : "\t") + s->Text;
    return out;
}

TStatusBar::TStatusBar(TComponent* owner) : TWinControl(owner)
{
    SetBounds(0, 0, 200, 19);
    SetAlign(alBottom);
}

TStatusPanel& TStatusBar::AddPanel(const std::string& text, int width)
{
    TStatusPanel panel;
    panel.Text = text;
    panel.Width = width;
    Panels.push_back(panel);
    Panels.back().Text.SetOwner(this);
    Invalidate();
    return Panels.back();
}

void TStatusBar::Paint()
{
    Canvas.Brush.Color = Color;
    Canvas.FillRect(ClientRect());
    if (SimplePanel) {
        Canvas.DrawText(Rect(4, 2, Width() - 4, Height()), SimpleText, tfVerticalCenter | tfSingleLine);
        return;
    }
    int x = 0;
    for (size_t i = 0; i < Panels.size(); ++i) {
        const TStatusPanel& p = Panels[i];
        int w = i + 1 == Panels.size() ? std::max(p.Width, Width() - x) : p.Width;
        TRect r = Rect(x, 2, x + w - 2, Height());
        if (p.Bevel != pbNone)
            Canvas.Frame3D(r, p.Bevel == pbLowered ? clBtnShadow : clBtnHighlight,
                           p.Bevel == pbLowered ? clBtnHighlight : clBtnShadow, 1);
        TTextFormat f = tfVerticalCenter | tfSingleLine | tfEndEllipsis |
                        (p.Alignment == taCenter         ? tfCenter
                         : p.Alignment == taRightJustify ? tfRight
                                                         : 0);
        Canvas.DrawText(Rect(r.Left + 2, r.Top, r.Right - 2, r.Bottom), p.Text, f);
        x += w;
    }
}

std::string TStatusBar::ShownText() const
{
    if (SimplePanel)
        return SimpleText;
    std::string out;
    for (const TStatusPanel& p : Panels)
        out += (out.empty() ? "" : "\t") + p.Text;
    return out;
}

TProgressBar::TProgressBar(TComponent* owner) : TWinControl(owner)
{
    SetBounds(0, 0, 150, 16);
}

void TProgressBar::SetPosition(int position)
{
    position = std::clamp(position, Min, std::max(Min, Max));
    if (position == position_)
        return;
    position_ = position;
    Invalidate();
}

void TProgressBar::Paint()
{
    TRect r = ClientRect();
    Canvas.Brush.Color = Color;
    Canvas.FillRect(r);
    Canvas.DrawEdge(r, false);
    int range = std::max(1, Max - Min);
    int filled = (r.Width()) * (position_ - Min) / range;
    Canvas.Brush.Color = BarColor;
    Canvas.FillRect(Rect(r.Left, r.Top, r.Left + filled, r.Bottom));
}

}  // namespace vcl
