// The "Add File(s)" dialog: the files to add and the settings of the writer that adds them.
#pragma once

#include "core/plxBase.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

class TfrmAddFiles : public vcl::TForm {
public:
    explicit TfrmAddFiles(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmAddFiles"; }

    // Shows the writer's settings; OK writes the dialog's back into it.
    void ShowSettingsOf(TCompBase& writer);
    // The compressor list's index of an archive type; any other type is the ZIP entry.
    static int CompressorIndex(TArcType type);
    // Adds a name to the FileSpec list: one without a folder is taken from Default Dir.
    void AddFileSpec(const std::string& name);

    vcl::TEdit *Edit2, *Edit1;
    vcl::TBitBtn *BitBtn1, *btnSelectDir;
    vcl::TComboBox *ComboBox6, *ComboBox2, *ComboBox3, *ComboBox4, *ComboBox5, *ComboBox7;
    vcl::TListBox* lstFileSpec;
    vcl::TCheckBox *CheckBox1, *cbRecurseDirs, *cbIncludeHiddenDirs, *CheckBox3;
    vcl::TButton *btnOK, *btnClose;

private:
    void OkClick();
    TCompBase* writer_ = nullptr;
};
