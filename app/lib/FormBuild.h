// Building forms in code: a control named, parented and placed in one step.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <initializer_list>

template <class T>
T* Place(vcl::TWinControl* parent, T* control, const char* name, int left, int top, int width, int height)
{
    control->Name = name;
    control->SetParent(parent);
    control->SetBounds(left, top, width, height);
    return control;
}

inline vcl::TCheckBox* PlaceCheck(vcl::TWinControl* parent, const char* name, const char* caption, bool checked,
                                  int left, int top, int width = 200)
{
    vcl::TCheckBox* box = Place(parent, new vcl::TCheckBox(parent), name, left, top, width, 20);
    box->Caption = caption;
    box->SetChecked(checked);
    return box;
}

// A drop-down list with its label above it and the first item chosen.
inline vcl::TComboBox* PlaceList(vcl::TWinControl* parent, const char* name, const char* label, int left, int top,
                                 int width, std::initializer_list<const char*> items)
{
    auto* caption = Place(parent, new vcl::TLabel(parent), "", left, top, width, 16);
    caption->SetCaption(label);
    vcl::TComboBox* list = Place(parent, new vcl::TComboBox(parent), name, left, top + 18, width, 22);
    list->Style = vcl::csDropDownList;
    for (const char* item : items)
        list->Items.Add(item);
    list->SetItemIndex(0);
    return list;
}

// Puts controls (a dialog's closing buttons) after every other control in Tab order, in the order
// given, however late the form's other controls are made.
inline void TabLast(std::initializer_list<vcl::TWinControl*> controls)
{
    int order = 1000;
    for (vcl::TWinControl* control : controls)
        control->TabOrder = order++;
}
