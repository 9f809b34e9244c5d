// The comment editor: the archive comment and each entry's comment of a ZIP archive, through the
// ZIP writer's comment operations; saved (after a question) when the dialog is left.
#pragma once

#include "core/plxConsts.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <string>

class TZipBase;

class TfrmEditComments : public vcl::TForm {
public:
    explicit TfrmEditComments(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmEditComments"; }

    // The writer whose comment operations edit `archive`, of the listing's type `type`.
    void PrepareFor(TZipBase& zip, const std::string& archive, TArcType type);
    bool EditingMain() const { return editingMain_; }

    vcl::TLabel *lblArchive, *lblFileName, *lblCount, *lblScroll;
    vcl::TScrollBar* ScrollBar1;
    vcl::TMemo* Memo1;
    vcl::TButton *btnOK, *btnCancel, *btnEditMain;

private:
    void Load();
    void ShowEntry(int index);
    void StoreEntry();
    void ToggleMain();
    void StoreMain();
    void OkClick();
    void Leave();

    TZipBase* zip_ = nullptr;
    std::string archive_;
    TArcType type_ = atNA;
    int count_ = 0;
    int current_ = -1;  // the entry the memo shows, -1 for none
    bool editingMain_ = false;
    bool loaded_ = false;
    std::string mainShown_;
};
