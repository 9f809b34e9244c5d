#include "unit/U_Win.h"

#include "platform/win/Drives.h"
#include "platform/win/Messages.h"

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
