// Basic value types of the GUI class library: colours (BGR, as stored), geometry, keys, results.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace vcl {

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// 0x00BBGGRR; 0xFF0000nn are the system colours, resolved by ColorToRGB.
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080, clNavy = 0x800000,
                 clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080, clSilver = 0xC0C0C0, clRed = 0x0000FF,
                 clLime = 0x00FF00, clYellow = 0x00FFFF, clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00,
                 clWhite = 0xFFFFFF, clMoneyGreen = 0xC0DCC0, clSkyBlue = 0xF0CAA6, clCream = 0xF0FBFF,
                 clMedGray = 0xA4A0A0;
constexpr TColor SystemColor(int index)
{
    return TColor(0xFF000000u | unsigned(index));
}
constexpr TColor clScrollBar = SystemColor(0), clBackground = SystemColor(1), clActiveCaption = SystemColor(2),
                 clInactiveCaption = SystemColor(3), clMenu = SystemColor(4), clWindow = SystemColor(5),
                 clWindowFrame = SystemColor(6), clMenuText = SystemColor(7), clWindowText = SystemColor(8),
                 clCaptionText = SystemColor(9), clActiveBorder = SystemColor(10), clInactiveBorder = SystemColor(11),
                 clAppWorkSpace = SystemColor(12), clHighlight = SystemColor(13), clHighlightText = SystemColor(14),
                 clBtnFace = SystemColor(15), clBtnShadow = SystemColor(16), clGrayText = SystemColor(17),
                 clBtnText = SystemColor(18), clInactiveCaptionText = SystemColor(19), clBtnHighlight = SystemColor(20),
                 cl3DDkShadow = SystemColor(21), cl3DLight = SystemColor(22), clInfoText = SystemColor(23),
                 clInfoBk = SystemColor(24);
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;

// The colour as 0x00BBGGRR, system colours replaced by their fixed values.
TColor ColorToRGB(TColor color);
inline int GetRValue(TColor c)
{
    return c & 0xFF;
}
inline int GetGValue(TColor c)
{
    return (c >> 8) & 0xFF;
}
inline int GetBValue(TColor c)
{
    return (c >> 16) & 0xFF;
}
constexpr TColor RGB(int r, int g, int b)
{
    return TColor(r | (g << 8) | (b << 16));
}

struct TPoint {
    int X = 0, Y = 0;
    bool operator==(const TPoint&) const = default;
};
struct TSize {
    int cx = 0, cy = 0;
};
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool Contains(TPoint p) const { return p.X >= Left && p.X < Right && p.Y >= Top && p.Y < Bottom; }
    bool Empty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};
inline TRect Rect(int l, int t, int r, int b)
{
    return TRect{l, t, r, b};
}
inline TRect Bounds(int l, int t, int w, int h)
{
    return TRect{l, t, l + w, t + h};
}
inline TPoint Point(int x, int y)
{
    return TPoint{x, y};
}
TRect IntersectRect(const TRect& a, const TRect& b);
inline void InflateRect(TRect& r, int dx, int dy)
{
    r.Left -= dx;
    r.Top -= dy;
    r.Right += dx;
    r.Bottom += dy;
}

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

using TShiftState = unsigned;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64;
enum TMouseButton { mbLeft, mbRight, mbMiddle };

enum TCursor { crDefault = 0, crArrow = -2, crIBeam = -4, crHourGlass = -11, crHandPoint = -21 };

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
                       mrAll = 8, mrNoToAll = 9, mrYesToAll = 10;
// The name a responder and the transcript use for a result ("OK", "Cancel", ...); empty for none.
std::string ModalResultName(TModalResult r);
TModalResult ModalResultFromName(const std::string& name);  // mrNone when the name is none of them

// Virtual keys as the program compares them.
constexpr WORD VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
               VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24,
               VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
               VK_APPS = 0x5D, VK_F1 = 0x70, VK_F2 = 0x71, VK_F3 = 0x72, VK_F4 = 0x73, VK_F5 = 0x74, VK_F10 = 0x79,
               VK_F12 = 0x7B;

class EInvalidOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Shared UTF-8 helpers of the library.
std::u32string ToU32(const std::string& s);
std::string ToUtf8(const std::u32string& s);
std::string ToUtf8(char32_t c);
// The caption without its accelerator marks ("&Open" -> "Open", "&&" -> "&").
std::string StripHotkey(const std::string& caption);
// The accelerator key of a caption ("E&xit" -> 'X', upper case ASCII); 0 when it has none.
char HotkeyOf(const std::string& caption);
// The caption with its accelerator moved to its first letter or digit not in `taken` (upper
// case), so that two items of one menu never share one; without one when none is free.
std::string WithFreeHotkey(const std::string& caption, const std::string& taken);

}  // namespace vcl
