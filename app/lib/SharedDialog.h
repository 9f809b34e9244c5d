// The application's one instance of a dialog (created at start), or one of the owner's own when the
// application has none, as in a window built alone.
#pragma once

#include "platform/vcl/Forms.h"

template <class T>
T* SharedDialog(vcl::TComponent* owner)
{
    for (int i = 0; i < vcl::Application->ComponentCount(); ++i)
        if (auto* dialog = dynamic_cast<T*>(vcl::Application->Components(i)))
            return dialog;
    for (int i = 0; i < owner->ComponentCount(); ++i)
        if (auto* dialog = dynamic_cast<T*>(owner->Components(i)))
            return dialog;
    return new T(owner);
}
