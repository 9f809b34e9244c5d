// System and window routines that need no form: the host's version, drive types, activation.
#pragma once

#include "platform/win/WinTypes.h"

// The host is not Windows: the checks for old Windows versions are false.
bool IsWin95();
bool IsWinMajor6();
// GetDriveTypeA(letter + ":/") equals type; false for a letter without a drive.
bool IsDriveType(char letter, UINT type);
bool ForceForeground(HWND window);
// Posts WM_QUIT to the first window of the class.
bool CloseWindowByClass(const char* className);
