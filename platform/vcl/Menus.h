// Main and pop-up menus with shortcuts.
#pragma once

#include "platform/vcl/Classes.h"

#include <memory>
#include <vector>

namespace vcl {

// A key with its modifiers: the virtual key plus scShift, scCtrl, scAlt.
using TShortCut = WORD;
constexpr TShortCut scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000, scNone = 0;
TShortCut ShortCut(WORD key, TShiftState shift);
std::string ShortCutToText(TShortCut shortCut);
TShortCut TextToShortCut(const std::string& text);  // "Ctrl+O", "F5", "Shift+Del"; 0 when unknown

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(TComponent* owner);
    ~TMenuItem() override;
    std::string ClassName() const override { return "TMenuItem"; }
    std::string Caption;  // "-" is a separator
    TShortCut ShortCut = 0;
    bool Checked = false;
    bool Enabled = true;
    bool Visible = true;
    bool RadioItem = false;
    bool Default = false;
    int GroupIndex = 0;
    std::string Hint;
    int ImageIndex = -1;
    TNotifyEvent OnClick;

    int Count() const { return int(items_.size()); }
    TMenuItem* Items(int i) const { return items_.at(size_t(i)); }
    TMenuItem* operator[](int i) const { return Items(i); }
    TMenuItem* Parent() const { return parent_; }
    int MenuIndex() const;
    void Add(TMenuItem* item);
    void Insert(int index, TMenuItem* item);
    void Remove(TMenuItem* item);
    void Delete(int index);                             // frees the item
    void Clear();                                       // frees every item
    TMenuItem* Find(const std::string& caption) const;  // by caption without "&"
    bool IsLine() const { return Caption == "-"; }
    // Fires OnClick when enabled.
    virtual void Click();
    // The enabled item with this shortcut anywhere below, hidden parents included.
    TMenuItem* FindShortCut(TShortCut shortCut);

private:
    TMenuItem* parent_ = nullptr;
    std::vector<TMenuItem*> items_;
};

class TMenu : public TComponent {
public:
    explicit TMenu(TComponent* owner);
    TMenuItem* Items() const { return items_; }
    // Clicks the item whose shortcut is the key; clears the key when it did.
    bool IsShortCut(WORD& key, TShiftState shift);

private:
    TMenuItem* items_;
};

class TMainMenu : public TMenu {
public:
    using TMenu::TMenu;
    std::string ClassName() const override { return "TMainMenu"; }
};

class TPopupMenu : public TMenu {
public:
    using TMenu::TMenu;
    std::string ClassName() const override { return "TPopupMenu"; }
    TNotifyEvent OnPopup;
    TComponent* PopupComponent = nullptr;
    bool AutoPopup = true;
    // Fires OnPopup and shows the menu at the screen point; the chosen item's OnClick follows.
    void Popup(int x, int y);
};

// A new item as code builds menus: NewItem("&Open", ShortCut('O', ssCtrl), handler).
TMenuItem* NewItem(TComponent* owner, const std::string& caption, TShortCut shortCut = 0,
                   TNotifyEvent onClick = nullptr);

}  // namespace vcl
