#include "platform/vcl/Graphics.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace vcl {

TSize FixedTextExtent(const std::string& text, const TFont& font)
{
    int chars = int(ToU32(text).size());
    int charWidth = (font.Size * 3 + 2) / 4;
    if (font.Style & fsBold)
        ++charWidth;
    return TSize{chars * charWidth, font.PixelHeight()};
}

void TCanvasDevice::DrawBitmap(const TRect& dest, const TBitmap& bmp, TColor transparentRgb, const TRect& clip)
{
    if (bmp.Empty() || dest.Empty())
        return;
    TRect area = IntersectRect(dest, clip);
    for (int y = area.Top; y < area.Bottom; ++y)
        for (int x = area.Left; x < area.Right; ++x) {
            int sx = (x - dest.Left) * bmp.Width() / dest.Width();
            int sy = (y - dest.Top) * bmp.Height() / dest.Height();
            TColor c = bmp.PixelAt(sx, sy);
            if (c != transparentRgb)
                SetPixel(x, y, c);
        }
}

void TCanvas::SetDevice(TCanvasDevice* device, TPoint origin, const TRect& clip)
{
    device_ = device;
    origin_ = origin;
    clip_ = clip;
}

void TCanvas::FillRect(const TRect& r)
{
    if (!device_ || Brush.Style == bsClear)
        return;
    TRect d =
        IntersectRect(Rect(r.Left + origin_.X, r.Top + origin_.Y, r.Right + origin_.X, r.Bottom + origin_.Y), clip_);
    if (!d.Empty())
        device_->FillRect(d, ColorToRGB(Brush.Color));
}

void TCanvas::FrameRect(const TRect& r)
{
    if (r.Empty())
        return;
    TBrushStyle saved = Brush.Style;
    Brush.Style = bsSolid;
    FillRect(Rect(r.Left, r.Top, r.Right, r.Top + 1));
    FillRect(Rect(r.Left, r.Bottom - 1, r.Right, r.Bottom));
    FillRect(Rect(r.Left, r.Top, r.Left + 1, r.Bottom));
    FillRect(Rect(r.Right - 1, r.Top, r.Right, r.Bottom));
    Brush.Style = saved;
}

void TCanvas::Rectangle(int l, int t, int r, int b)
{
    FillRect(Rect(l + 1, t + 1, r - 1, b - 1));
    if (Pen.Style == psClear)
        return;
    MoveTo(l, t);
    LineTo(r - 1, t);
    LineTo(r - 1, b - 1);
    LineTo(l, b - 1);
    LineTo(l, t);
}

void TCanvas::Ellipse(int l, int t, int r, int b)
{
    const double cx = (l + r) / 2.0, cy = (t + b) / 2.0, rx = (r - l) / 2.0, ry = (b - t) / 2.0;
    if (rx <= 0 || ry <= 0)
        return;
    // Pixels whose centre lies inside; those with a neighbour outside make the outline.
    const auto inside = [&](int x, int y) {
        const double dx = (x + 0.5 - cx) / rx, dy = (y + 0.5 - cy) / ry;
        return dx * dx + dy * dy <= 1.0;
    };
    const bool pen = Pen.Style != psClear;
    for (int y = t; y < b; ++y)
        for (int x = l; x < r; ++x) {
            if (!inside(x, y))
                continue;
            const bool edge = !inside(x - 1, y) || !inside(x + 1, y) || !inside(x, y - 1) || !inside(x, y + 1);
            if (edge && pen)
                SetPixel(x, y, Pen.Color);
            else if (Brush.Style != bsClear)
                SetPixel(x, y, Brush.Color);
        }
}

void TCanvas::Line(TPoint a, TPoint b)
{
    if (!device_ || Pen.Style == psClear)
        return;
    TColor rgb = ColorToRGB(Pen.Color);
    int dx = std::abs(b.X - a.X), dy = -std::abs(b.Y - a.Y);
    int sx = a.X < b.X ? 1 : -1, sy = a.Y < b.Y ? 1 : -1;
    int err = dx + dy, step = 0;
    TPoint p = a;
    while (p != b) {
        if (Pen.Style != psDot || step % 2 == 0)
            for (int w = 0; w < std::max(1, Pen.Width); ++w) {
                int px = p.X + origin_.X + (dy != 0 && dx == 0 ? w : 0);
                int py = p.Y + origin_.Y + (dx != 0 ? w : 0);
                if (clip_.Contains({px, py}))
                    device_->SetPixel(px, py, rgb);
            }
        ++step;
        int e2 = 2 * err;
        if (e2 >= dy)
            err += dy, p.X += sx;
        if (e2 <= dx)
            err += dx, p.Y += sy;
    }
}

void TCanvas::LineTo(int x, int y)
{
    Line(PenPos, {x, y});
    PenPos = {x, y};
}

TSize TCanvas::TextExtent(const std::string& text)
{
    return device_ ? device_->TextExtent(text, Font) : FixedTextExtent(text, Font);
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text)
{
    FillRect(r);
    if (!device_)
        return;
    TRect d =
        IntersectRect(Rect(r.Left + origin_.X, r.Top + origin_.Y, r.Right + origin_.X, r.Bottom + origin_.Y), clip_);
    if (!d.Empty())
        device_->DrawText(x + origin_.X, y + origin_.Y, text, Font, ColorToRGB(Font.Color), d);
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    TSize size = TextExtent(text);
    TextRect(Bounds(x, y, size.cx, size.cy), x, y, text);
    PenPos = {x + size.cx, y};
}

namespace {
std::vector<std::string> WrapLines(TCanvas& canvas, const std::string& text, int width, bool wrap)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string para = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!para.empty() && para.back() == '\r')
            para.pop_back();
        if (!wrap) {
            lines.push_back(para);
        } else {
            std::string line;
            size_t i = 0;
            while (i < para.size()) {
                size_t next = para.find(' ', i);
                std::string word = para.substr(i, next == std::string::npos ? std::string::npos : next - i + 1);
                if (!line.empty() && canvas.TextWidth(line + word) > width) {
                    while (!line.empty() && line.back() == ' ')
                        line.pop_back();
                    lines.push_back(line);
                    line.clear();
                }
                line += word;
                i = next == std::string::npos ? para.size() : next + 1;
            }
            while (!line.empty() && line.back() == ' ')
                line.pop_back();
            lines.push_back(line);
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}
}  // namespace

int TCanvas::DrawText(const TRect& r, const std::string& text, TTextFormat format)
{
    std::vector<std::string> lines = (format & tfSingleLine) ? std::vector<std::string>{text}
                                                             : WrapLines(*this, text, r.Width(), format & tfWordBreak);
    int lineHeight = TextHeight("Wg");
    int total = lineHeight * int(lines.size());
    int y = r.Top;
    if (format & tfVerticalCenter)
        y = r.Top + (r.Height() - total) / 2;
    else if (format & tfBottom)
        y = r.Bottom - total;
    TBrushStyle saved = Brush.Style;
    Brush.Style = bsClear;
    for (std::string line : lines) {
        if (format & tfEndEllipsis)
            line = EllipsisText(line, r.Width());
        int w = TextWidth(line);
        int x = r.Left;
        if (format & tfCenter)
            x = r.Left + (r.Width() - w) / 2;
        else if (format & tfRight)
            x = r.Right - w;
        TextRect(r, x, y, line);
        y += lineHeight;
    }
    Brush.Style = saved;
    return total;
}

std::string TCanvas::EllipsisText(const std::string& text, int width)
{
    if (TextWidth(text) <= width)
        return text;
    static const std::string ellipsis = "\u2026";
    std::u32string chars = ToU32(text);
    // Binary search on the kept length: widths grow with it.
    size_t low = 0, high = chars.size();
    while (low < high) {
        size_t mid = (low + high + 1) / 2;
        if (TextWidth(ToUtf8(chars.substr(0, mid)) + ellipsis) <= width)
            low = mid;
        else
            high = mid - 1;
    }
    return ToUtf8(chars.substr(0, low)) + ellipsis;
}

void TCanvas::DrawFocusRect(const TRect& r)
{
    auto invert = [&](int x, int y) {
        int dx = x + origin_.X, dy = y + origin_.Y;
        if (device_ && clip_.Contains({dx, dy}))
            device_->SetPixel(dx, dy, device_->GetPixel(dx, dy) ^ 0xFFFFFF);
    };
    for (int x = r.Left; x < r.Right; x += 2) {
        invert(x, r.Top);
        invert(x, r.Bottom - 1);
    }
    for (int y = r.Top + 2; y < r.Bottom - 1; y += 2) {
        invert(r.Left, y);
        invert(r.Right - 1, y);
    }
}

void TCanvas::Frame3D(TRect& r, TColor topLeft, TColor bottomRight, int width)
{
    TBrush saved = Brush;
    Brush.Style = bsSolid;
    for (int i = 0; i < width; ++i) {
        Brush.Color = topLeft;
        FillRect(Rect(r.Left, r.Top, r.Right - 1, r.Top + 1));
        FillRect(Rect(r.Left, r.Top, r.Left + 1, r.Bottom - 1));
        Brush.Color = bottomRight;
        FillRect(Rect(r.Left, r.Bottom - 1, r.Right, r.Bottom));
        FillRect(Rect(r.Right - 1, r.Top, r.Right, r.Bottom));
        InflateRect(r, -1, -1);
    }
    Brush = saved;
}

void TCanvas::DrawEdge(TRect& r, bool raised)
{
    if (raised) {
        Frame3D(r, clBtnHighlight, cl3DDkShadow, 1);
        Frame3D(r, cl3DLight, clBtnShadow, 1);
    } else {
        Frame3D(r, clBtnShadow, clBtnHighlight, 1);
        Frame3D(r, cl3DDkShadow, cl3DLight, 1);
    }
}

void TCanvas::Draw(int x, int y, const TBitmap& bmp)
{
    StretchDraw(Bounds(x, y, bmp.Width(), bmp.Height()), bmp);
}

void TCanvas::StretchDraw(const TRect& r, const TBitmap& bmp)
{
    if (!device_)
        return;
    TColor transparent = bmp.Transparent ? bmp.EffectiveTransparentColor() : clNone;
    device_->DrawBitmap(Rect(r.Left + origin_.X, r.Top + origin_.Y, r.Right + origin_.X, r.Bottom + origin_.Y), bmp,
                        transparent, clip_);
}

TColor TCanvas::Pixel(int x, int y)
{
    int dx = x + origin_.X, dy = y + origin_.Y;
    if (!device_ || !clip_.Contains({dx, dy}))
        return clNone;
    return device_->GetPixel(dx, dy);
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    int dx = x + origin_.X, dy = y + origin_.Y;
    if (device_ && clip_.Contains({dx, dy}))
        device_->SetPixel(dx, dy, ColorToRGB(color));
}

void TCanvas::FloodFill(int x, int y, TColor color, TFillStyle style)
{
    if (!device_)
        return;
    TColor target = ColorToRGB(color);
    TColor fill = ColorToRGB(Brush.Color);
    TColor start = Pixel(x, y);
    if (start == clNone)
        return;
    // fsSurface fills the area of colour `color`; fsBorder fills up to a border of that colour.
    auto fillable = [&](TColor c) {
        return c != clNone && (style == fsSurface ? c == target : c != target) && c != fill;
    };
    if (!fillable(start))
        return;
    std::vector<TPoint> stack{{x, y}};
    while (!stack.empty()) {
        TPoint p = stack.back();
        stack.pop_back();
        if (!fillable(Pixel(p.X, p.Y)))
            continue;
        SetPixel(p.X, p.Y, fill);
        stack.push_back({p.X + 1, p.Y});
        stack.push_back({p.X - 1, p.Y});
        stack.push_back({p.X, p.Y + 1});
        stack.push_back({p.X, p.Y - 1});
    }
}

TBitmap::TBitmap()
{
    ResetCanvas();
}

TBitmap::TBitmap(int width, int height, TColor fill)
{
    SetSize(width, height);
    std::fill(pixels_.begin(), pixels_.end(), ColorToRGB(fill));
}

TBitmap::TBitmap(const TBitmap& other) : TObject(), TCanvasDevice()
{
    *this = other;
}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    if (this != &other) {
        width_ = other.width_;
        height_ = other.height_;
        pixels_ = other.pixels_;
        texts_ = other.texts_;
        Transparent = other.Transparent;
        TransparentColor = other.TransparentColor;
        canvas_.Font = other.canvas_.Font;
        ResetCanvas();
    }
    return *this;
}

void TBitmap::SetSize(int width, int height)
{
    width_ = std::max(0, width);
    height_ = std::max(0, height);
    pixels_.assign(size_t(width_) * height_, ColorToRGB(clWhite));
    ResetCanvas();
}

void TBitmap::ResetCanvas()
{
    canvas_.SetDevice(this, {0, 0}, Rect(0, 0, width_, height_));
}

TColor TBitmap::PixelAt(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return clNone;
    return pixels_[size_t(y) * width_ + x];
}

TColor TBitmap::EffectiveTransparentColor() const
{
    return TransparentColor != clNone ? ColorToRGB(TransparentColor) : PixelAt(0, height_ - 1);
}

void TBitmap::FillRect(const TRect& r, TColor rgb)
{
    TRect a = IntersectRect(r, Rect(0, 0, width_, height_));
    for (int y = a.Top; y < a.Bottom; ++y)
        std::fill_n(pixels_.begin() + size_t(y) * width_ + a.Left, a.Width(), rgb);
}

void TBitmap::DrawText(int x, int y, const std::string& text, const TFont&, TColor rgb, const TRect&)
{
    texts_.push_back({x, y, text, rgb});
}

TSize TBitmap::TextExtent(const std::string& text, const TFont& font)
{
    return FixedTextExtent(text, font);
}

void TBitmap::SetPixel(int x, int y, TColor rgb)
{
    if (x >= 0 && y >= 0 && x < width_ && y < height_)
        pixels_[size_t(y) * width_ + x] = rgb & 0xFFFFFF;
}

}  // namespace vcl
