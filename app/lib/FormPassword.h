// The password dialogs: one asked when files are added encrypted, one when a member asks for its
// password while it is read.
#pragma once

#include "core/plxConsts.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <functional>

// What both dialogs share: the phrase, its confirmation and the mask switch.
class TPasswordForm : public vcl::TForm {
public:
    explicit TPasswordForm(vcl::TComponent* owner);

    std::string Password() const { return Edit1->Text(); }
    // Masked, both edits show "*" and the confirmation is typed; unmasked it follows the phrase.
    void SetMasked(bool masked);
    // Shows the seed-key editor (the "Change SeedKeys..." button).
    std::function<void()> OnChangeSeedKeys;

    vcl::TEdit *Edit1, *Edit2;
    vcl::TCheckBox* CheckBox1;
    vcl::TButton *Button1, *Button2;

protected:
    vcl::TButton* SeedKeysButton(const char* name, int left, int top);

private:
    void OkClick();
};

class TfrmPassword1 : public TPasswordForm {
public:
    explicit TfrmPassword1(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmPassword1"; }

    // Only the traditional cipher is written: the AES items are never offered.
    TEncryptionMethod Method() const { return emZip_V2; }

    vcl::TRadioGroup* RadioGroup1;
    vcl::TButton* Button3;
    vcl::TPanel* Panel1;
};

class TfrmPassword2 : public TPasswordForm {
public:
    explicit TfrmPassword2(vcl::TComponent* owner);
    std::string ClassName() const override { return "TfrmPassword2"; }

    // The member whose password is asked for, shown read-only.
    void SetFileName(const std::string& name) { Edit3->SetText(name); }
    // The same for a reader's password event: the member as stored in the archive (the event's
    // own name is where it would be written), else the event's name.
    void SetFileNameFor(const ::TObject* reader, const std::string& eventName);

    vcl::TEdit* Edit3;
    vcl::TButton* Button5;
};
