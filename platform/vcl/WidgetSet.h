// The interface between the toolkit-neutral classes and what realises them: a headless set for
// tests and runs without a display, and the Qt set (platform/qt).
#pragma once

#include "platform/vcl/Controls.h"

#include <memory>

namespace vcl {

class TForm;
class TPopupMenu;

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

struct TMessageBoxParams {
    std::string Caption;
    std::string Text;
    TMsgDlgType Type = mtCustom;
    std::vector<TModalResult> Buttons;  // in display order
    int DefaultButton = 0;              // index into Buttons
};

struct TFileDialogParams {
    bool Save = false;
    std::string Title, Filter, InitialDir, DefaultExt, FileName;
    int FilterIndex = 1;
    bool MultiSelect = false;
    std::vector<std::string> Files;  // the chosen files
};

class TWidgetSet {
public:
    virtual ~TWidgetSet() = default;
    virtual std::string Name() const = 0;
    // Handles what is pending (window messages included); with wait, first waits a short while
    // for something to arrive.
    virtual void ProcessEvents(bool wait) = 0;
    // One step of a modal loop over the form: handle input (or ask the responder).
    virtual void ModalStep(TForm& form) = 0;
    virtual void FormShown(TForm&) {}
    virtual void FormHidden(TForm&) {}
    virtual void ControlChanged(TControl&) {}
    virtual void ControlDestroyed(TControl&) {}
    virtual void FocusChanged(TWinControl&) {}
    virtual TModalResult MessageBox(const TMessageBoxParams& params) = 0;
    virtual bool FileDialog(TFileDialogParams& params) = 0;
    virtual bool SelectDirectory(const std::string& caption, std::string& directory) = 0;
    virtual bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value) = 0;
    virtual void Popup(TPopupMenu& menu, int screenX, int screenY) = 0;
    // A client point of a control on the screen.
    virtual TPoint ClientToScreen(TControl& control, TPoint p);
    virtual TSize TextExtent(const std::string& text, const TFont& font) { return FixedTextExtent(text, font); }
    virtual void CursorChanged(TCursor) {}
    virtual void SetMinimized(bool) {}
    // Saves the form's client area as PNG; false where the set cannot.
    virtual bool SaveScreenshot(TForm&, const std::string&) { return false; }
};

// The widget set in use; the headless one until another is installed.
TWidgetSet& WidgetSet();
void SetWidgetSet(std::unique_ptr<TWidgetSet> set);
// Picks the set at start: headless when TORVO_WIDGETSET=headless, when there is no display or when
// no on-screen set can be made (qtFactory empty or returning null); says so on stderr when it
// falls back.
void ChooseWidgetSet(const std::function<std::unique_ptr<TWidgetSet>()>& qtFactory);

// Dispatches the window messages that are waiting (sent and posted). WM_QUIT terminates the
// application. Exceptions from handlers go to Application->HandleException.
void DispatchWindowMessages();

}  // namespace vcl
