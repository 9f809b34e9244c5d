// Qt menus that show what the library's menu items say now.
#pragma once

#include "platform/vcl/Menus.h"

#include <functional>

class QMenu;
class QMenuBar;

namespace torvoqt {

class QtMenus {
public:
    // afterClick runs after every chosen item, so that what the click changed is shown.
    explicit QtMenus(std::function<void()> afterClick) : afterClick_(std::move(afterClick)) {}
    // Fills a menu bar or menu with the visible items below parent (root: the menu's top, which
    // must still hold an item when it is chosen); submenus refill as they open.
    void Fill(QMenuBar* bar, vcl::TMenuItem* parent, vcl::TMenuItem* root);
    void Fill(QMenu* menu, vcl::TMenuItem* parent, vcl::TMenuItem* root);
    // Refills the bar and its open menus where their items changed since they were filled.
    void Sync(QMenuBar* bar, vcl::TMenuItem* root);

private:
    template <class Menu>
    void FillAny(Menu* q, vcl::TMenuItem* parent, vcl::TMenuItem* root);
    std::function<void()> afterClick_;
};

}  // namespace torvoqt
