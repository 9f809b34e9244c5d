// The "Add File(s)" dialog: the files to add and the settings of the writer that adds them.
#pragma once

#include "core/plxBase.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"

#include <array>
#include <functional>
#include <vector>

class TfrmPassword1;

class TfrmAddFiles : public vcl::TForm {
public:
    explicit TfrmAddFiles(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmAddFiles"; }

    // Makes the writer of a type the current one; nullptr when there is none for it.
    std::function<TCompBase*(TArcType)> OnDefineCompressor;
    // The archive to write; with a type that may be updated it is added to as it stands,
    // otherwise the compressor is chosen by its extension.
    void PrepareFor(const std::string& archiveName, TArcType listedType);
    // The password dialog of the "&Password" button (one of the dialog's own when not set).
    TfrmPassword1* Password1 = nullptr;

    // Shows the writer's settings; OK writes the dialog's back into it.
    void ShowSettingsOf(TCompBase& writer);
    TCompBase* Writer() const { return writer_; }
    // The compressor list's index of an archive type; any other type is the ZIP entry.
    static int CompressorIndex(TArcType type);
    // The compressor list's index for an archive name's extension.
    static int CompressorIndexOfName(const std::string& archiveName);
    // Adds a name to the list in use: a FileSpec without a folder is taken from Default Dir.
    void AddFileSpec(const std::string& name);
    // The compressor list's choice, as a click on it.
    void ChooseCompressor(int index);
    void PasswordClick();

    vcl::TMainMenu* MainMenu1;
    vcl::TEdit *Edit2, *Edit1;
    vcl::TBitBtn *BitBtn1, *btnSelectDir;
    vcl::TComboBox *ComboBox6, *ComboBox1, *ComboBox2, *ComboBox3, *ComboBox4, *ComboBox5, *ComboBox7;
    vcl::TListBox *lstFileSpec, *lstExcludeSpec;
    vcl::TCheckBox *CheckBox2, *cbEncryptHeaders, *CheckBox1, *cbRecurseDirs, *cbIncludeHiddenDirs, *CheckBox3;
    vcl::TButton* btnPassword;
    vcl::TGroupBox *GroupBox1, *GroupBox2;
    // The attribute boxes in the order Archive, Read Only, Hidden, SysFile, Directory, ZeroAttr,
    // Encrypted, Reparse Points.
    std::array<vcl::TCheckBox*, 8> Attribute{}, AttributeEx{};
    vcl::TButton *btnOK, *btnClose;

private:
    vcl::TListBox* ListInUse() const;
    void SelectFiles();
    void OkClick();
    void ShowMethodChoice();
    TCompBase* writer_ = nullptr;
    std::string archiveName_;
    TArcType listedType_ = atNA;
    std::vector<TCompressMethod> methods_;
};
