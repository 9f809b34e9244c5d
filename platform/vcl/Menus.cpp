#include "platform/vcl/Menus.h"

#include "platform/vcl/WidgetSet.h"
#include "platform/win/Utf8.h"

#include <algorithm>

namespace vcl {

TShortCut ShortCut(WORD key, TShiftState shift)
{
    TShortCut s = key & 0xFF;
    if (shift & ssShift)
        s |= scShift;
    if (shift & ssCtrl)
        s |= scCtrl;
    if (shift & ssAlt)
        s |= scAlt;
    return s;
}

namespace {
struct KeyName {
    WORD key;
    const char* name;
};
const KeyName keyNames[] = {{VK_BACK, "BkSp"},   {VK_TAB, "Tab"},    {VK_RETURN, "Enter"}, {VK_ESCAPE, "Esc"},
                            {VK_SPACE, "Space"}, {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"},    {VK_END, "End"},
                            {VK_HOME, "Home"},   {VK_LEFT, "Left"},  {VK_UP, "Up"},        {VK_RIGHT, "Right"},
                            {VK_DOWN, "Down"},   {VK_INSERT, "Ins"}, {VK_DELETE, "Del"}};

std::string KeyToText(WORD key)
{
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return std::string(1, char(key));
    if (key >= VK_F1 && key <= VK_F1 + 23)
        return "F" + std::to_string(key - VK_F1 + 1);
    for (const KeyName& k : keyNames)
        if (k.key == key)
            return k.name;
    return "";
}
}  // namespace

std::string ShortCutToText(TShortCut s)
{
    std::string name = KeyToText(s & 0xFF);
    if (name.empty())
        return "";
    std::string out;
    if (s & scShift)
        out += "Shift+";
    if (s & scCtrl)
        out += "Ctrl+";
    if (s & scAlt)
        out += "Alt+";
    return out + name;
}

TShortCut TextToShortCut(const std::string& text)
{
    std::string rest = text;
    TShortCut mods = 0;
    for (;;) {
        size_t plus = rest.find('+');
        if (plus == std::string::npos || plus + 1 == rest.size())
            break;
        std::string mod = rest.substr(0, plus);
        if (win::SameText(mod, "Shift"))
            mods |= scShift;
        else if (win::SameText(mod, "Ctrl"))
            mods |= scCtrl;
        else if (win::SameText(mod, "Alt"))
            mods |= scAlt;
        else
            return 0;
        rest = rest.substr(plus + 1);
    }
    for (int key = 1; key < 0x100; ++key) {
        std::string name = KeyToText(WORD(key));
        if (!name.empty() && win::SameText(name, rest))
            return TShortCut(key | mods);
    }
    return 0;
}

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner)
{}

TMenuItem::~TMenuItem()
{
    if (parent_)
        parent_->Remove(this);
    for (TMenuItem* item : items_)
        item->parent_ = nullptr;  // freed by their owner
}

int TMenuItem::MenuIndex() const
{
    if (!parent_)
        return -1;
    auto& list = parent_->items_;
    return int(std::find(list.begin(), list.end(), this) - list.begin());
}

void TMenuItem::Add(TMenuItem* item)
{
    Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item)
{
    if (item->parent_)
        item->parent_->Remove(item);
    index = std::clamp(index, 0, Count());
    items_.insert(items_.begin() + index, item);
    item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item)
{
    items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
    item->parent_ = nullptr;
}

void TMenuItem::Delete(int index)
{
    delete Items(index);
}

void TMenuItem::Clear()
{
    while (!items_.empty())
        delete items_.back();
}

TMenuItem* TMenuItem::Find(const std::string& caption) const
{
    for (TMenuItem* item : items_)
        if (win::SameText(StripHotkey(item->Caption), StripHotkey(caption)))
            return item;
    return nullptr;
}

void TMenuItem::Click()
{
    if (Enabled && OnClick)
        OnClick(this);
}

TMenuItem* TMenuItem::FindShortCut(TShortCut s)
{
    for (TMenuItem* item : items_) {
        if (item->ShortCut == s && item->Enabled && !item->IsLine())
            return item;
        if (TMenuItem* inner = item->FindShortCut(s))
            return inner;
    }
    return nullptr;
}

TMenu::TMenu(TComponent* owner) : TComponent(owner), items_(new TMenuItem(this))
{}

bool TMenu::IsShortCut(WORD& key, TShiftState shift)
{
    TShortCut s = ShortCut(key, shift);
    if ((s & 0xFF) == 0)
        return false;
    TMenuItem* item = items_->FindShortCut(s);
    if (!item)
        return false;
    key = 0;
    item->Click();
    return true;
}

void TPopupMenu::Popup(int x, int y)
{
    if (OnPopup)
        OnPopup(this);
    WidgetSet().Popup(*this, x, y);
}

TMenuItem* NewItem(TComponent* owner, const std::string& caption, TShortCut shortCut, TNotifyEvent onClick)
{
    auto* item = new TMenuItem(owner);
    item->Caption = caption;
    item->ShortCut = shortCut;
    item->OnClick = std::move(onClick);
    return item;
}

}  // namespace vcl
