// The widget of one control: native for the kinds Qt has, painted by the control otherwise.
#pragma once

#include "platform/vcl/Controls.h"

class QLineEdit;
class QWidget;

namespace vcl {
class TCustomEdit;
}

namespace torvoqt {

// A new widget for the control; Qt's signals from it come back as the control's events.
QWidget* MakeWidget(vcl::TControl* c, QWidget* parent);
// Pushes the control's state to its widget, changing only what differs.
void PushProperties(vcl::TControl& c, QWidget* w, QWidget* parent);
// The control takes the caret and selection the user left in its line edit.
void TakeSelection(vcl::TCustomEdit& edit, QLineEdit* e);

}  // namespace torvoqt
