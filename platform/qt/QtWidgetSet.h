// The Qt 6 Widgets widget set: realises the forms of platform/vcl as Qt widgets.
#pragma once

#include "platform/vcl/WidgetSet.h"

#include <memory>

namespace torvoqt {

// Makes the Qt widget set (and the QApplication when there is none yet).
std::unique_ptr<vcl::TWidgetSet> CreateQtWidgetSet();

}  // namespace torvoqt
