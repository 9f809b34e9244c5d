#include "platform/qt/QtMenus.h"

#include "platform/qt/QtConvert.h"
#include "platform/vcl/Forms.h"

#include <QMenu>
#include <QMenuBar>

namespace torvoqt {

using namespace vcl;

namespace {

// What a menu shows of its items, so that it is refilled only when that changed.
QString Signature(TMenuItem* parent)
{
    std::string s;
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem* item = parent->Items(i);
        s += std::to_string(reinterpret_cast<uintptr_t>(item)) + '\x1f' + item->Caption + '\x1f' +
             std::to_string(item->ShortCut) + char('0' + item->Enabled) + char('0' + item->Visible) +
             char('0' + item->Checked) + char('0' + item->RadioItem) + char('0' + (item->Count() > 0)) + '\x1e';
    }
    return ToQ(s);
}

bool Holds(TMenuItem* root, TMenuItem* item)
{
    for (int i = 0; i < root->Count(); ++i)
        if (root->Items(i) == item || Holds(root->Items(i), item))
            return true;
    return false;
}

TMenuItem* ItemOf(QObject* menu)
{
    return reinterpret_cast<TMenuItem*>(menu->property("torvoItem").value<quintptr>());
}

}  // namespace

void QtMenus::Fill(QMenuBar* bar, TMenuItem* parent, TMenuItem* root)
{
    FillAny(bar, parent, root);
}
void QtMenus::Fill(QMenu* menu, TMenuItem* parent, TMenuItem* root)
{
    FillAny(menu, parent, root);
}

void QtMenus::Sync(QMenuBar* bar, TMenuItem* root)
{
    if (bar->property("torvoSignature").toString() != Signature(root))
        Fill(bar, root, root);
    for (QMenu* open : bar->findChildren<QMenu*>())
        if (TMenuItem* item = ItemOf(open); open->isVisible() && item && Holds(root, item) &&
                                            open->property("torvoSignature").toString() != Signature(item))
            Fill(open, item, root);
}

template <class Menu>
void QtMenus::FillAny(Menu* q, TMenuItem* parent, TMenuItem* root)
{
    for (QMenu* old : q->template findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    q->clear();
    q->setProperty("torvoItem", quintptr(parent));
    q->setProperty("torvoSignature", Signature(parent));
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem* item = parent->Items(i);
        if (!item->Visible)
            continue;
        if (item->IsLine()) {
            q->addSeparator();
            continue;
        }
        QAction* action;
        if (item->Count() > 0) {
            QMenu* sub = q->addMenu(ToQ(item->Caption));
            sub->setFont(q->font());
            sub->setProperty("torvoItem", quintptr(item));
            QObject::connect(sub, &QMenu::aboutToShow, [this, sub, item, root] {
                if (Holds(root, item))
                    Fill(sub, item, root);
            });
            action = sub->menuAction();
        } else {
            QString text = ToQ(item->Caption);
            if (item->ShortCut)
                text += '\t' + ToQ(ShortCutToText(item->ShortCut));  // shown; the form handles the key
            action = q->addAction(text);
            action->setCheckable(item->Checked || item->RadioItem);
            action->setChecked(item->Checked);
            QObject::connect(action, &QAction::triggered, [this, item, root] {
                if (Holds(root, item))
                    SafeCall([&] { item->Click(); });
                afterClick_();
            });
        }
        action->setEnabled(item->Enabled);
    }
}

}  // namespace torvoqt
