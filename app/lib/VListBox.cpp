#include "app/lib/VListBox.h"

using namespace vcl;

TVListBox::TVListBox(TComponent* owner) : TListBox(owner)
{}

void TVListBox::Loaded()
{
    TListBox::Loaded();
    if (!Enabled())
        Color = ColorOnDisabled;
}

void TVListBox::DoEnter()
{
    if (ColorOnFocusActive) {
        savedColor_ = Color;
        Color = ColorOnFocus;
        Invalidate();
    }
    TListBox::DoEnter();
}

void TVListBox::DoExit()
{
    if (ColorOnFocusActive) {
        Color = savedColor_;
        Invalidate();
    }
    TListBox::DoExit();
}

bool TVListBox::MoveFocus(bool forward)
{
    TForm* form = ParentForm();
    if (!form)
        return false;
    form->SelectNext(forward);
    return true;
}

void TVListBox::KeyDown(WORD& key, TShiftState shift)
{
    // Ctrl is read from the key's own shift state: a flag kept from an earlier Ctrl press would
    // stay set when Ctrl is released while another control has the focus.
    bool ctrl = (shift & ssCtrl) != 0;
    if ((KeyLikeTab & keyDownUp) && key == VK_RETURN && (KeyLikeTab & keyEnter))
        key = VK_DOWN;
    if ((KeyLikeTab & keyDownUp) && !ctrl) {
        int count = Items.Count();
        bool inLine = KeyLikeTab & keyInLine;
        if (inLine && key == VK_DOWN && (count == 0 || Selected(count - 1)) && MoveFocus(true)) {
            key = 0;
            return;
        }
        if (inLine && key == VK_UP && (count == 0 || Selected(0)) && MoveFocus(false)) {
            key = 0;
            return;
        }
    }
    TListBox::KeyDown(key, shift);
}
