// The extract dialog of the archive manager: target folder, date attribute and the extract options.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"

#include <functional>

class TfrmExtract : public vcl::TForm {
public:
    explicit TfrmExtract(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmExtract"; }

    // Sets the "Extract" choice by the main window's selection: all files when none is selected.
    void PrepareFor(bool anySelected);
    bool SelectedFilesOnly() const { return RadioGroup1->ItemIndex() == 0; }

    vcl::TLabel* Label1;
    vcl::TEdit* Edit1;
    vcl::TBitBtn *BitBtn4, *BitBtn3, *BitBtn1, *BitBtn2;
    vcl::TComboBox* ComboBox1;
    vcl::TCheckBox *CheckBox1, *CheckBox2, *CheckBox3, *CheckBox4, *CheckBox5;
    vcl::TRadioGroup* RadioGroup1;
    vcl::TMainMenu* MainMenu1;
    vcl::TMenuItem* mnuSeedKeys;
    // Shows the seed-key editor (the "SeedKeys" menu item).
    std::function<void()> OnChangeSeedKeys;

private:
    void ExtractClick();
    bool anySelected_ = true;
};
