#include "unit/U_Win.h"

#include "platform/vcl/Forms.h"
#include "platform/win/Drives.h"
#include "platform/win/Messages.h"

#include <algorithm>
#include <string>

bool IsWin95()
{
    return false;
}

bool IsWinMajor6()
{
    return false;
}

bool IsDriveType(char letter, UINT type)
{
    const std::string root = std::string(1, letter) + ":/";
    return GetDriveTypeA(root.c_str()) == type;
}

bool ForceForeground(HWND window)
{
    return window != 0 && SetForegroundWindow(window) != FALSE;
}

bool CloseWindowByClass(const char* className)
{
    return PostMessageToClass(className, WM_QUIT, 0, 0) != FALSE;
}

int WorkAreaBottom()
{
    return vcl::Screen->WorkArea.Bottom;
}

void PlaceForm(int& left, int& top, vcl::TForm& form, bool withBorder, int width, int height, bool allowNegative)
{
    const vcl::TRect area = vcl::Screen->WorkArea;
    if (withBorder) {
        form.SetClientWidth(width);
        form.SetClientHeight(height);
    } else {
        form.SetWidth(width);
        form.SetHeight(height);
    }
    // A form that does not fit with this much to spare gets the work area's height less 100.
    constexpr int Reserve = 50;
    if (form.Height() + Reserve > area.Height()) {
        if (form.BorderStyle == vcl::bsSizeable)
            form.BorderStyle = vcl::bsSingle;
        form.SetHeight(std::max(0, area.Height() - 100));
        form.SetWidth(form.Width() + 20);
    }
    if (left == 0 && top == 0) {
        left = area.Left + (area.Width() - form.Width()) / 2;
        top = area.Top + (area.Height() - form.Height()) / 2;
    }
    if (!allowNegative) {
        if (left < 0)
            left = 20;
        if (top < 0)
            top = 20;
    }
    if (top + form.Height() > WorkAreaBottom())
        top -= form.Height();
    // The caption stays reachable and the form whole on the work area.
    left = std::max(area.Left, std::min(left, area.Right - form.Width()));
    top = std::max(area.Top, std::min(top, area.Bottom - form.Height()));
    form.SetBounds(left, top, form.Width(), form.Height());
}

void SetTopMost(vcl::TForm& form)
{
    if (form.FormStyleStayOnTop)
        return;
    form.FormStyleStayOnTop = true;
    form.Invalidate();
}
