// The program's list box: another background while it has the focus or is disabled, and arrow
// keys or Enter that hand the focus on as Tab would.
#pragma once

#include "platform/vcl/StdCtrls.h"

enum TKeyLikeTabItem { keyInLine = 1, keyEnter = 2, keyDownUp = 4 };
using TKeyLikeTab = unsigned;  // a set of TKeyLikeTabItem

class TVListBox : public vcl::TListBox {
public:
    explicit TVListBox(vcl::TComponent* owner);
    std::string ClassName() const override { return "TVListBox"; }

    vcl::TColor ColorOnDisabled = vcl::clBtnFace;
    vcl::TColor ColorOnFocus = 0x99FFFF;
    bool ColorOnFocusActive = true;
    TKeyLikeTab KeyLikeTab = keyEnter | keyDownUp;
    const std::string& Version() const { return version_; }
    void SetVersion(const std::string&) { version_ = "1.18"; }  // fixed: the control's own version

    void Loaded() override;
    void DoEnter() override;
    void DoExit() override;
    void KeyDown(WORD& key, vcl::TShiftState shift) override;

private:
    // Moves the focus to the next or previous control of the form; false when there is no form.
    bool MoveFocus(bool forward);
    std::string version_ = "1.18";
    vcl::TColor savedColor_ = vcl::clWindow;
};
