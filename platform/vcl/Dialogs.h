// File and folder dialogs, message dialogs and input boxes.
#pragma once

#include "platform/vcl/Forms.h"

namespace vcl {

using TOpenOptions = unsigned;
constexpr TOpenOptions ofReadOnly = 1, ofOverwritePrompt = 2, ofHideReadOnly = 4, ofAllowMultiSelect = 8,
                       ofPathMustExist = 16, ofFileMustExist = 32, ofNoChangeDir = 64;

class TOpenDialog : public TComponent {
public:
    explicit TOpenDialog(TComponent* owner) : TComponent(owner) {}
    std::string ClassName() const override { return "TOpenDialog"; }
    std::string FileName, Filter, InitialDir, Title, DefaultExt;
    int FilterIndex = 1;
    TOpenOptions Options = ofHideReadOnly;
    TStringList Files;  // every chosen file (one without ofAllowMultiSelect)
    // Shows the dialog; true when the user chose.
    virtual bool Execute();

protected:
    bool save_ = false;
};

class TSaveDialog : public TOpenDialog {
public:
    explicit TSaveDialog(TComponent* owner) : TOpenDialog(owner) { save_ = true; }
    std::string ClassName() const override { return "TSaveDialog"; }
};

// The folder browser; directory is the start folder and receives the choice.
bool SelectDirectory(const std::string& caption, const std::string& root, std::string& directory);

using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64,
                         mbAll = 128, mbNoToAll = 256, mbYesToAll = 512;
constexpr TMsgDlgButtons mbYesNoCancel = mbYes | mbNo | mbCancel, mbOKCancel = mbOK | mbCancel,
                         mbAbortRetryIgnore = mbAbort | mbRetry | mbIgnore;

TModalResult MessageDlg(const std::string& msg, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext = 0);
void ShowMessage(const std::string& msg);
std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& defaultValue);
bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value);

}  // namespace vcl
