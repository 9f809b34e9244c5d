#include "platform/vcl/WidgetSet.h"

#include "platform/vcl/Forms.h"
#include "platform/vcl/Headless.h"
#include "platform/win/Messages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vcl {

namespace {
TWidgetSet* current = nullptr;  // lives as long as the process unless replaced
}

TWidgetSet& WidgetSet()
{
    if (!current)
        current = new THeadlessWidgetSet();
    return *current;
}

void SetWidgetSet(std::unique_ptr<TWidgetSet> set)
{
    delete current;
    current = set.release();
}

void ChooseWidgetSet(const std::function<std::unique_ptr<TWidgetSet>()>& qtFactory)
{
    const char* requested = std::getenv("TORVO_WIDGETSET");
    if (requested && std::strcmp(requested, "headless") == 0) {
        SetWidgetSet(std::make_unique<THeadlessWidgetSet>());
        return;
    }
    auto has = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    bool display = has("DISPLAY") || has("WAYLAND_DISPLAY") || has("QT_QPA_PLATFORM");
    std::unique_ptr<TWidgetSet> set;
    if (display && qtFactory)
        set = qtFactory();
    if (!set) {
        std::fputs(display ? "torvo: the Qt widget set is not available; using the headless widget set\n"
                           : "torvo: no display; using the headless widget set\n",
                   stderr);
        set = std::make_unique<THeadlessWidgetSet>();
    }
    SetWidgetSet(std::move(set));
}

TPoint TWidgetSet::ClientToScreen(TControl& control, TPoint p)
{
    const TPoint origin = control.FormOrigin();
    const TForm* form = control.ParentForm();
    return {p.X + origin.X + (form ? form->Left() : 0), p.Y + origin.Y + (form ? form->Top() : 0)};
}

void DispatchWindowMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, 0, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            Application->Terminate();
            continue;
        }
        SafeCall([&] { DispatchMessageA(&msg); });
    }
}

}  // namespace vcl
