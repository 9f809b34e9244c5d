// The encode dialog: a file and the name of its UU, XX or Base64 text, for the main window's encoder.
#pragma once

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <string>

class TUUEncode;

class TfrmUUEncode : public vcl::TForm {
public:
    explicit TfrmUUEncode(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmUUEncode"; }

    // The encoder that "&OK" sets up and the file the main window shows now.
    void PrepareFor(TUUEncode& encoder, const std::string& currentArchive);
    // The parts size of Edit3 in KiB (digits only; a huge number stays the largest size).
    int KBytesPerFile() const;

    vcl::TEdit *Edit1, *Edit2, *Edit3;
    vcl::TButton *btnBrowse, *btnFolder;
    vcl::TRadioGroup* EncodeMethod1;
    vcl::TCheckBox* CheckBox1;
    vcl::TButton *btnOK, *btnClose;

private:
    bool filled_ = false;
    void BrowseInput();
    void ChooseOutputFolder();
    void MethodChanged();
    void OkClick();

    TUUEncode* encoder_ = nullptr;
    std::string currentArchive_;
};
