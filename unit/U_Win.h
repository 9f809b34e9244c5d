// System and window routines: the host's version, drive types, window placement, activation.
#pragma once

#include "platform/win/WinTypes.h"

namespace vcl {
class TForm;
}

// The host is not Windows: the checks for old Windows versions are false.
bool IsWin95();
bool IsWinMajor6();
// GetDriveTypeA(letter + ":/") equals type; false for a letter without a drive.
bool IsDriveType(char letter, UINT type);
bool ForceForeground(HWND window);
// Posts WM_QUIT to the first window of the class.
bool CloseWindowByClass(const char* className);

// Bottom of the desktop's work area (the screen less its panels).
int WorkAreaBottom();
// Sizes the form for content of width x height (withBorder: the frame and caption come around
// it) and places it at left, top, which get the place taken: 0, 0 centres it on the work area;
// a negative value becomes 20 unless allowNegative; a form that would end below the work area
// goes up by its height. A form taller than the work area is cut to the work area less 100
// pixels, 20 pixels wider for a scroll bar. Nothing of it is left outside the work area.
void PlaceForm(int& left, int& top, vcl::TForm& form, bool withBorder, int width, int height,
               bool allowNegative = false);
// Keeps the form above other windows, where it is.
void SetTopMost(vcl::TForm& form);
