// The view/run dialog: which selected member to open, what else to extract beside it, and how
// to open it; "&Ok" sets up the main window's extract-and-run component.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <string>
#include <vector>

class TZipRun;

class TfrmRunFile : public vcl::TForm {
public:
    explicit TfrmRunFile(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmRunFile"; }

    // The component to set up, the archive and its selected members (folder and name).
    void PrepareFor(TZipRun& run, const std::string& archive, const std::vector<std::string>& selected);

    vcl::TListBox* ListBox1;
    vcl::TRadioGroup *RadioGroup1, *RadioGroup2;
    vcl::TComboBox* ComboBox1;
    vcl::TEdit* Edit1;
    vcl::TButton *btnBrowse, *btnOK, *btnCancel;

private:
    void OpenMethodChanged();
    void OkClick();

    TZipRun* run_ = nullptr;
    std::string archive_;
};
