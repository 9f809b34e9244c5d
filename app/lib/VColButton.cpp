#include "app/lib/VColButton.h"

using namespace vcl;

TVColButton::TVColButton(TComponent* owner) : TButton(owner), highlight_(ColorOnFocus)
{
    OwnerDrawStyle = true;
}

void TVColButton::SetImagesIndex(const std::string& text)
{
    imagesIndex_ = text;
    imageNumbers_.clear();
    std::size_t i = 0;
    while (i < text.size() && imageNumbers_.size() < 4) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        int value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (value < 100000)
                value = value * 10 + (text[i] - '0');
            ++i;
        }
        imageNumbers_.push_back(value);
    }
    Invalidate();
}

TColor TVColButton::FaceColor() const
{
    return Default || Focused() ? highlight_ : Color;
}

void TVColButton::Loaded()
{
    TButton::Loaded();
    if (!Enabled())
        Color = ColorOnDisabled;
}

bool TVColButton::PressColouring() const
{
    return (Options & cbLikeButtonDown) && !(Options & (cbViewLikePressDown | cbViewLikePressUp));
}

void TVColButton::PressStarted()
{
    if (!PressColouring())
        return;
    highlight_ = ColorOnFocusDown;
    Font.Color = ColorTextOnFocusDown;
    Invalidate();
}

void TVColButton::PressEnded()
{
    if (!PressColouring())
        return;
    highlight_ = ColorOnFocus;
    Invalidate();
}

bool TVColButton::MoveFocusTo(TWinControl* target)
{
    if (target == nullptr || !target->CanFocus() || !target->Visible())
        return false;
    target->SetFocus();
    return true;
}

void TVColButton::KeyDown(WORD& key, TShiftState shift)
{
    TWinControl* target = nullptr;
    switch (key) {
    case VK_PRIOR:
        target = FocusControl.PgUp;
        break;
    case VK_NEXT:
        target = FocusControl.PgDown;
        break;
    case VK_LEFT:
        target = FocusControl.Left;
        break;
    case VK_UP:
        target = FocusControl.Up;
        break;
    case VK_RIGHT:
        target = FocusControl.Right;
        break;
    case VK_DOWN:
        target = FocusControl.Down;
        break;
    default:
        break;
    }
    if (target && MoveFocusTo(target)) {
        key = 0;
        return;
    }
    if (key == VK_TAB && !KeyTabOnKeyPress) {
        key = 0;
        if (TForm* form = ParentForm())
            form->SelectNext(!(shift & ssShift));
        return;
    }
    if (key == VK_RETURN || key == VK_SPACE)
        PressStarted();
    TButton::KeyDown(key, shift);
}

void TVColButton::KeyUp(WORD& key, TShiftState shift)
{
    if (key == VK_RETURN || key == VK_SPACE)
        PressEnded();
    TButton::KeyUp(key, shift);
}

void TVColButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (button == mbLeft)
        PressStarted();
    TButton::MouseDown(button, shift, x, y);
}

void TVColButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (button == mbLeft)
        PressEnded();
    TButton::MouseUp(button, shift, x, y);
}

std::vector<int> TVColButton::DrawnImages() const
{
    std::vector<int> drawn;
    if (Images == nullptr)
        return drawn;
    for (int n : imageNumbers_)
        if (n >= 0 && n < Images->Count())
            drawn.push_back(n);
    return drawn;
}

void TVColButton::DrawButton(bool down, bool focused)
{
    bool pressed = down;
    if (Options & cbViewLikePressUp)
        pressed = false;
    if (Options & cbViewLikePressDown)
        pressed = true;
    if (Font.Color == clWindowText)
        highlight_ = ColorOnFocus;

    TRect r = ClientRect();
    if (Options & cbLiteButton) {
        Canvas.Brush.Color = pressed ? clBtnShadow : clWindowFrame;
        Canvas.FrameRect(r);
        InflateRect(r, -1, -1);
    } else {
        Canvas.Brush.Color = clWindowFrame;
        Canvas.FrameRect(r);
        InflateRect(r, -1, -1);
        Canvas.DrawEdge(r, !pressed);
    }
    Canvas.Brush.Color = Default || focused ? highlight_ : Color;
    Canvas.FillRect(r);
    if ((Options & cbDottedBox) && focused && Default)
        Canvas.DrawFocusRect(Rect(3, 3, Width() - 3, Height() - 3));

    const int shift = pressed ? 1 : 0;
    TRect content = Rect(r.Left + 2 + shift, r.Top + 1 + shift, r.Right - 2 + shift, r.Bottom - 1 + shift);
    const std::vector<int> images = DrawnImages();
    if (!images.empty()) {
        const int iw = Images->Width, ih = Images->Height;
        const int total = int(images.size()) * (iw + ImagesSpace);
        const bool vertical = ImagesLayout == imImageTop || ImagesLayout == imImageBottom;
        int x = ImagesLayout == imImageRight ? content.Right - total : content.Left + 2;
        int y = content.Top + (content.Height() - ih) / 2;
        if (vertical) {
            x = content.Left + (content.Width() - total) / 2;
            y = ImagesLayout == imImageTop ? content.Top : content.Bottom - ih;
        }
        for (int n : images) {
            Images->Draw(Canvas, x, y, n, EnabledWithParents());
            x += iw + ImagesSpace;
        }
        if (ImagesLayout == imImageLeft)
            content.Left += total + 4;
        else if (ImagesLayout == imImageRight)
            content.Right -= total + 4;
        else if (ImagesLayout == imImageTop)
            content.Top += ih;
        else
            content.Bottom -= ih;
    }
    if (Options & cbMultiLine) {
        if (Alignment == taLeftJustify)
            content.Left += 8;
        else if (Alignment == taRightJustify)
            content.Right -= 8;
    }
    const TTextFormat align = Alignment == taLeftJustify ? tfLeft : Alignment == taRightJustify ? tfRight : tfCenter;
    const TTextFormat lines = (Options & cbMultiLine) ? tfWordBreak : tfSingleLine;
    Canvas.Font = Font;
    Canvas.Brush.Style = bsClear;
    // The accelerator's "&" marks a key; it is not shown.
    const std::string caption = vcl::StripHotkey(Caption);
    if (EnabledWithParents()) {
        Canvas.DrawText(content, caption, align | lines | tfVerticalCenter);
    } else {
        TRect embossed = content;
        embossed.Left += 1;
        embossed.Top += 1;
        Canvas.Font.Color = clBtnHighlight;
        Canvas.DrawText(embossed, caption, align | lines | tfVerticalCenter);
        Canvas.Font.Color = clGrayText;
        Canvas.DrawText(content, caption, align | lines | tfVerticalCenter);
    }
    Canvas.Brush.Style = bsSolid;
}
