// Fonts, brushes, pens, the canvas and an in-memory bitmap. A canvas draws through a device: the
// bitmap device here (used headless and for images) or a widget set's own.
#pragma once

#include "platform/vcl/Types.h"

#include <memory>
#include <vector>

namespace vcl {

using TFontStyles = unsigned;
constexpr TFontStyles fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8;

class TFont {
public:
    std::string Name = "Sans Serif";
    int Size = 8;  // points
    TColor Color = clWindowText;
    TFontStyles Style = 0;
    // Pixel height of a line of this font at 96 dpi.
    int PixelHeight() const { return Size * 4 / 3 + 2; }
    bool operator==(const TFont&) const = default;
};

enum TBrushStyle { bsSolid, bsClear };
class TBrush {
public:
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

enum TPenStyle { psSolid, psDot, psClear };
class TPen {
public:
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
};

class TBitmap;

// What a widget set must provide to draw. Coordinates are device coordinates; the canvas has
// already translated and clipped them. Colours arrive resolved (0x00BBGGRR).
class TCanvasDevice {
public:
    virtual ~TCanvasDevice() = default;
    virtual int DeviceWidth() const = 0;
    virtual int DeviceHeight() const = 0;
    virtual void FillRect(const TRect& r, TColor rgb) = 0;
    virtual void DrawText(int x, int y, const std::string& text, const TFont& font, TColor rgb, const TRect& clip) = 0;
    virtual TSize TextExtent(const std::string& text, const TFont& font) = 0;
    virtual TColor GetPixel(int x, int y) = 0;
    virtual void SetPixel(int x, int y, TColor rgb) = 0;
    virtual void DrawBitmap(const TRect& dest, const TBitmap& bmp, TColor transparentRgb, const TRect& clip);
};

// Text sizes of the headless widget set: fixed per character, so that layouts are predictable.
TSize FixedTextExtent(const std::string& text, const TFont& font);

// Text layout flags of DrawText.
using TTextFormat = unsigned;
constexpr TTextFormat tfLeft = 0, tfCenter = 1, tfRight = 2, tfVerticalCenter = 4, tfBottom = 8, tfWordBreak = 16,
                      tfSingleLine = 32, tfEndEllipsis = 64;

enum TFillStyle { fsSurface, fsBorder };

class TCanvas {
public:
    TCanvas() = default;
    explicit TCanvas(TCanvasDevice* device) : device_(device) {}
    TFont Font;
    TBrush Brush;
    TPen Pen;
    TPoint PenPos;

    TCanvasDevice* Device() const { return device_; }
    // Where (0,0) of this canvas is on the device, and the device area it may touch.
    void SetDevice(TCanvasDevice* device, TPoint origin, const TRect& clip);
    bool HasDevice() const { return device_ != nullptr; }

    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);              // one pixel, in the brush colour
    void Rectangle(int l, int t, int r, int b);  // pen frame, brush inside
    void Ellipse(int l, int t, int r, int b);    // likewise, round
    void MoveTo(int x, int y) { PenPos = {x, y}; }
    void LineTo(int x, int y);  // the end point is not drawn
    void TextOut(int x, int y, const std::string& text);
    void TextRect(const TRect& r, int x, int y, const std::string& text);
    // Aligned, optionally word-wrapped text inside r; returns the height used.
    int DrawText(const TRect& r, const std::string& text, TTextFormat format);
    TSize TextExtent(const std::string& text);
    // The text cut at its end with "…" so that it fits the width (the whole text when it fits).
    std::string EllipsisText(const std::string& text, int width);
    int TextWidth(const std::string& text) { return TextExtent(text).cx; }
    int TextHeight(const std::string& text) { return TextExtent(text).cy; }
    void DrawFocusRect(const TRect& r);  // dotted, inverting: a second call removes it
    void Frame3D(TRect& r, TColor topLeft, TColor bottomRight, int width);  // shrinks r
    void DrawEdge(TRect& r, bool raised);                                   // two-line 3-D edge
    void Draw(int x, int y, const TBitmap& bmp);
    void StretchDraw(const TRect& r, const TBitmap& bmp);
    void FloodFill(int x, int y, TColor color, TFillStyle style);
    TColor Pixel(int x, int y);
    void SetPixel(int x, int y, TColor color);

private:
    void Line(TPoint a, TPoint b);
    TCanvasDevice* device_ = nullptr;
    TPoint origin_;
    TRect clip_;
};

// A 24-bit image in memory with a canvas that draws on it (text is recorded, not rasterised).
class TBitmap : public TObject, private TCanvasDevice {
public:
    TBitmap();
    TBitmap(int width, int height, TColor fill = clWhite);
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetSize(int width, int height);
    bool Empty() const { return width_ == 0 || height_ == 0; }
    TColor PixelAt(int x, int y) const;  // 0x00BBGGRR; clNone outside
    TCanvas& Canvas() { return canvas_; }
    bool Transparent = false;
    TColor TransparentColor = clNone;  // clNone: the bottom-left pixel, as usual for glyphs
    TColor EffectiveTransparentColor() const;
    struct TTextRecord {
        int X, Y;
        std::string Text;
        TColor Color;
    };
    const std::vector<TTextRecord>& Texts() const { return texts_; }

private:
    int DeviceWidth() const override { return width_; }
    int DeviceHeight() const override { return height_; }
    void FillRect(const TRect& r, TColor rgb) override;
    void DrawText(int x, int y, const std::string& text, const TFont& font, TColor rgb, const TRect& clip) override;
    TSize TextExtent(const std::string& text, const TFont& font) override;
    TColor GetPixel(int x, int y) override { return PixelAt(x, y); }
    void SetPixel(int x, int y, TColor rgb) override;
    void ResetCanvas();

    int width_ = 0, height_ = 0;
    std::vector<TColor> pixels_;
    std::vector<TTextRecord> texts_;
    TCanvas canvas_;
};

}  // namespace vcl
