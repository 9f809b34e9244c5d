// Test support for the program's windows under the Qt widget set: finding the Qt widgets that show
// a form and its controls, and the main window with an archive listed in it.
#pragma once

#include "app/lib/FormTorvo.h"
#include "platform/qt/QtWidgetSet.h"
#include "readers/view/plxZipView.h"

#include <QApplication>
#include <QMenu>
#include <QPoint>
#include <QWidget>

#include <cstdlib>
#include <filesystem>

namespace qtwindows {

inline const std::filesystem::path Shots = std::filesystem::path(TORVO_BUILD_DIR) / "screenshots";

// Offscreen Qt; the screenshot folder exists.
inline void UseQt()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::filesystem::create_directories(Shots);
    if (vcl::WidgetSet().Name() != "qt")
        vcl::SetWidgetSet(torvoqt::CreateQtWidgetSet());
}

// The same, with Qt's runtime folder in a test's own scratch folder.
inline void UseQt(const std::filesystem::path& runtimeDir)
{
    setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    UseQt();
}

// The shown window of a form.
inline QWidget* WindowOf(vcl::TForm& form)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == QString::fromStdString(form.Caption).trimmed() &&
            !qobject_cast<QMenu*>(w))
            return w;
    return nullptr;
}

// The Qt widget that shows a control of a shown form.
inline QWidget* WidgetOf(vcl::TForm& form, vcl::TControl& control)
{
    QWidget* window = WindowOf(form);
    if (!window)
        return nullptr;
    const vcl::TPoint origin = control.FormOrigin();
    const int menuBar = window->height() - form.ClientHeight();
    return window->childAt(origin.X + 2, origin.Y + menuBar + 2);
}

// The main window, shown, with an archive listed.
struct Manager {
    explicit Manager(const std::filesystem::path& archive)
    {
        main = new TFormTorvo(nullptr);
        vcl::Application->MainForm = main;
        main->EnsureCreated();
        main->Show();
        main->DisplayFile(archive.string());
        vcl::Application->ProcessMessages();
    }
    ~Manager()
    {
        vcl::Application->MainForm = nullptr;
        delete main;
    }
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;
    QWidget* Window() { return WindowOf(*main); }
    QWidget* List() { return WidgetOf(*main, *main->ZipView1->ListBox()); }
    // A point inside a member's row, in the list widget's coordinates.
    QPoint Row(int i)
    {
        const vcl::TRect r = main->ZipView1->ListBox()->ItemRect(i);
        return QPoint(r.Left + 20, (r.Top + r.Bottom) / 2);
    }
    TFormTorvo* main;
};

}  // namespace qtwindows
