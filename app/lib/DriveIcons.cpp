#include "app/lib/DriveIcons.h"

#include <algorithm>

using namespace vcl;

namespace {

// Drawing on a 16 x 16 grid, scaled to the picture's size.
class TGridPainter {
public:
    explicit TGridPainter(TBitmap& bitmap) : bitmap_(bitmap), scale_(bitmap.Width() / 16.0) {}

    void Box(double l, double t, double r, double b, TColor colour)
    {
        bitmap_.Canvas().Brush.Color = colour;
        bitmap_.Canvas().FillRect(Rect(Px(l), Px(t), std::max(Px(r), Px(l) + 1), std::max(Px(b), Px(t) + 1)));
    }
    void Frame(double l, double t, double r, double b, TColor colour)
    {
        bitmap_.Canvas().Brush.Color = colour;
        bitmap_.Canvas().FrameRect(Rect(Px(l), Px(t), Px(r), Px(b)));
    }
    // A ring between the radii inner and outer around (cx, cy); inner 0 gives a disc.
    void Ring(double cx, double cy, double outer, double inner, TColor colour)
    {
        const int size = bitmap_.Width();
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const double dx = (x + 0.5) / scale_ - cx, dy = (y + 0.5) / scale_ - cy;
                const double d2 = dx * dx + dy * dy;
                if (d2 <= outer * outer && d2 >= inner * inner)
                    bitmap_.Canvas().SetPixel(x, y, colour);
            }
    }

private:
    int Px(double v) const { return int(v * scale_ + 0.5); }
    TBitmap& bitmap_;
    double scale_;
};

// The image list keeps white where a masked image is see-through, so white is the mask.
constexpr TColor Mask = clWhite;
constexpr TColor Dark = 0x303030, Grey = 0xA0A0A0, Light = 0xE0E0E0, Led = 0x00C000;

void DrawCase(TGridPainter& p)
{
    p.Box(1, 5, 15, 12, Grey);
    p.Box(1, 5, 15, 6, Light);
    p.Frame(1, 5, 15, 12, Dark);
}

void Draw(TGridPainter& p, TDriveIcon kind)
{
    switch (kind) {
    case diFloppy:
        p.Box(2, 2, 14, 14, 0x803000);
        p.Box(5, 2, 11, 6, Light);
        p.Box(8, 3, 10, 5, Dark);
        p.Box(4, 9, 12, 14, 0xF4F4F4);
        p.Frame(2, 2, 14, 14, Dark);
        break;
    case diCd:
        p.Ring(8, 8, 7, 0, 0xC8C8C8);
        p.Ring(8, 8, 5.5, 3, 0xF0E0C0);
        p.Ring(8, 8, 7, 6.3, Dark);
        p.Ring(8, 8, 1.6, 0, Mask);
        break;
    case diFixed:
        DrawCase(p);
        p.Box(11, 9, 13, 10, Led);
        break;
    case diNetwork:
        DrawCase(p);
        p.Box(11, 9, 13, 10, Led);
        p.Box(7.5, 12, 8.5, 14, Dark);
        p.Box(3, 14, 13, 15, Dark);
        break;
    case diRemovable:
        DrawCase(p);
        p.Box(4, 8, 12, 9, Dark);
        break;
    case diRamDisk:
        p.Box(1, 5, 15, 11, 0x208020);
        for (int i = 0; i < 4; ++i)
            p.Box(2 + i * 3.4, 6, 4.6 + i * 3.4, 9, Dark);
        for (int i = 0; i < 7; ++i)
            p.Box(2 + i * 2, 11, 3 + i * 2, 12, 0x40C0E0);
        break;
    case diFtp:
        p.Ring(8, 8, 7, 0, 0xD08040);
        p.Box(1.5, 7.5, 14.5, 8.5, 0x60C060);
        p.Box(7.5, 1.5, 8.5, 14.5, 0x60C060);
        p.Ring(8, 8, 7, 6.3, Dark);
        break;
    case diOther:
        DrawCase(p);
        p.Box(7, 7, 9, 10, Dark);
        break;
    }
}

}  // namespace

TBitmap DriveIcon(TDriveIcon kind, int size)
{
    TBitmap bitmap(size, size, Mask);
    bitmap.Transparent = true;
    bitmap.TransparentColor = Mask;
    TGridPainter painter(bitmap);
    Draw(painter, kind);
    return bitmap;
}

void FillTargetMenuImages(TImageList& images)
{
    images.Clear();
    const TDriveIcon order[] = {diFloppy, diCd,      diFixed,     diNetwork, diOther, diOther,
                                diOther,  diRamDisk, diRemovable, diOther,   diFtp};
    for (TDriveIcon kind : order)
        images.AddMasked(DriveIcon(kind, images.Width), Mask);
}

void FillTargetPictures(TImageList& images)
{
    images.Clear();
    for (TDriveIcon kind : {diFloppy, diCd, diFixed, diNetwork, diOther, diFtp})
        images.AddMasked(DriveIcon(kind, images.Width), Mask);
}
