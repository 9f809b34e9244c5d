// What a shown form's window really holds, compared with the form: every control that shows has a
// Qt widget at its place and of its size, enabled as the control is, and the native ones show the
// control's text and state. Painted controls are checked for place and state only.
#pragma once

#include "app/qt/ManagerWindows.h"
#include "platform/vcl/StdCtrls.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

#include <functional>
#include <optional>
#include <string>

namespace qtwindows {

// The widget of a control: the visible widget of the window with the control's place and size,
// of the control's native class when it has one.
inline QWidget* ShownWidget(QWidget* window, int menuBar, vcl::TControl& control)
{
    const vcl::TPoint origin = control.FormOrigin();
    const QRect place(origin.X, origin.Y + menuBar, control.Width(), control.Height());
    QWidget* found = nullptr;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() || QRect(w->mapTo(window, QPoint(0, 0)), w->size()) != place)
            continue;
        const bool native = qobject_cast<QPushButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                            qobject_cast<QCheckBox*>(w) || qobject_cast<QPlainTextEdit*>(w);
        const bool wantNative = control.Kind() == vcl::ckButton || control.Kind() == vcl::ckEdit ||
                                control.Kind() == vcl::ckCheckBox || control.Kind() == vcl::ckMemo;
        if (native == wantNative || control.Kind() == vcl::ckComboBox || control.Kind() == vcl::ckScrollBar ||
            control.Kind() == vcl::ckProgressBar)
            found = w;
    }
    return found;
}

// Every control of the shown form against its widget; answers how many were compared.
inline int ExpectWindowShowsForm(vcl::TForm& form)
{
    QWidget* window = WindowOf(form);
    if (!window) {
        ADD_FAILURE() << "no window shows \"" << form.Caption << "\"";
        return 0;
    }
    const int menuBar = window->height() - form.ClientHeight();
    EXPECT_EQ(window->width(), form.ClientWidth()) << form.Caption;
    EXPECT_GE(menuBar, 0) << form.Caption;
    int compared = 0;
    std::function<void(vcl::TWinControl&)> walk = [&](vcl::TWinControl& parent) {
        for (int i = 0; i < parent.ControlCount(); ++i) {
            vcl::TControl& c = *parent.Controls(i);
            if (!c.Showing() || c.Width() <= 0 || c.Height() <= 0)
                continue;
            const std::string what = c.ClassName() + " " + c.Name + " \"" + c.Caption + "\"";
            QWidget* w = ShownWidget(window, menuBar, c);
            if (!w) {
                ADD_FAILURE() << what << " is not on the screen where the form has it";
                continue;
            }
            ++compared;
            EXPECT_EQ(w->isEnabled(), c.EnabledWithParents()) << what;
            if (auto* b = qobject_cast<QPushButton*>(w)) {
                EXPECT_EQ(b->text().toStdString(), c.Caption) << what;
            } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
                EXPECT_EQ(e->text().toStdString(), static_cast<vcl::TCustomEdit&>(c).Text()) << what;
                EXPECT_EQ(e->isReadOnly(), static_cast<vcl::TCustomEdit&>(c).ReadOnly) << what;
            } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
                // Qt ends its lines with LF alone.
                EXPECT_EQ(m->toPlainText(), QString::fromStdString(static_cast<vcl::TCustomEdit&>(c).Text())
                                                .replace(QStringLiteral("\r\n"), QStringLiteral("\n")))
                    << what;
            } else if (auto* x = qobject_cast<QCheckBox*>(w)) {
                EXPECT_EQ(x->text().toStdString(), c.Caption) << what;
                EXPECT_EQ(x->isChecked(), static_cast<vcl::TCheckBox&>(c).Checked()) << what;
            }
            if (auto* inner = dynamic_cast<vcl::TWinControl*>(&c))
                walk(*inner);
        }
    };
    walk(form);
    return compared;
}

// The enabled state of an item of a menu of the window's menu bar as the opened menu shows it;
// nullopt when there is no such item.
inline std::optional<bool> MenuItemEnabled(vcl::TForm& form, const std::string& menu, const std::string& item)
{
    QWidget* window = WindowOf(form);
    auto* bar = window ? window->findChild<QMenuBar*>() : nullptr;
    if (!bar)
        return std::nullopt;
    for (QAction* top : bar->actions()) {
        if (top->text().toStdString() != menu || !top->menu())
            continue;
        top->menu()->popup(window->mapToGlobal(QPoint(0, 0)));
        vcl::Application->ProcessMessages();
        std::optional<bool> enabled;
        for (QAction* a : top->menu()->actions())
            if (a->text().section('\t', 0, 0).toStdString() == item)
                enabled = a->isEnabled();
        top->menu()->close();
        vcl::Application->ProcessMessages();
        return enabled;
    }
    return std::nullopt;
}

// What the window shows is what the form holds; the picture of it is kept for a person to look at.
inline void CheckAndShoot(vcl::TForm& form, const std::string& file)
{
    SCOPED_TRACE(form.Caption);
    EXPECT_GT(ExpectWindowShowsForm(form), 0);
    const std::filesystem::path shot = Shots / file;
    ASSERT_TRUE(form.SaveScreenshot(shot.string()));
    EXPECT_EQ(QImage(QString::fromStdString(shot.string())).width(), form.ClientWidth());
}

}  // namespace qtwindows
