// The controls that the arrow and page keys of a control hand the focus to, where assigned.
#pragma once

#include "platform/vcl/Controls.h"

struct TFocusControl {
    vcl::TWinControl* Left = nullptr;
    vcl::TWinControl* PgDown = nullptr;
    vcl::TWinControl* PgUp = nullptr;
    vcl::TWinControl* Right = nullptr;
    vcl::TWinControl* Up = nullptr;
    vcl::TWinControl* Down = nullptr;
};
