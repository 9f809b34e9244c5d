#include "app/lib/FormPassword.h"

#include "app/lib/FormBuild.h"
#include "core/UnBase.h"
#include "platform/vcl/Dialogs.h"

using namespace vcl;

TPasswordForm::TPasswordForm(TComponent* owner) : TForm(owner)
{
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(360);
    Place(this, new TLabel(this), "Label1", 8, 8, 200, 16)->SetCaption("Enter password / phrase:");
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 26, 240, 22);
    Place(this, new TLabel(this), "Label2", 8, 54, 200, 16)->SetCaption("Confirm password / phrase");
    Edit2 = Place(this, new TEdit(this), "Edit2", 8, 72, 240, 22);
    CheckBox1 = PlaceCheck(this, "CheckBox1", "Mask pass phrase", false, 8, 100);
    CheckBox1->OnClick = [this](TObject*) { SetMasked(CheckBox1->Checked()); };
    Edit1->OnChange = [this](TObject*) {
        if (!CheckBox1->Checked())
            Edit2->SetText(Edit1->Text());
    };
    Button1 = Place(this, new TButton(this), "Button1", 268, 26, 84, 26);
    Button1->Caption = "&Ok";
    Button1->Default = true;
    Button1->OnClick = [this](TObject*) { OkClick(); };
    Button2 = Place(this, new TButton(this), "Button2", 268, 58, 84, 26);
    Button2->Caption = "&Cancel";
    Button2->Cancel = true;
    Button2->ModalResult = mrCancel;
    TabLast({Button1, Button2});  // the fields of the derived dialogs come before them
    OnShow = [this](TObject*) {
        Edit1->Clear();
        Edit2->Clear();
        SetMasked(CheckBox1->Checked());
        SetActiveControl(Edit1);
    };
    SetMasked(false);
}

void TPasswordForm::SetMasked(bool masked)
{
    Edit1->PasswordChar = masked ? U'*' : 0;
    Edit2->PasswordChar = masked ? U'*' : 0;
    Edit2->ReadOnly = !masked;
    Edit2->TabStop = masked;  // unmasked it only echoes the first edit
    Edit2->Color = masked ? clWindow : clBtnFace;
    if (!masked)
        Edit2->SetText(Edit1->Text());
    Edit1->Invalidate();
    Edit2->Invalidate();
}

void TPasswordForm::OkClick()
{
    if (CheckBox1->Checked() && Edit1->Text() != Edit2->Text()) {
        MessageDlg("Please verify pass phrase", mtWarning, mbOK);
        SetActiveControl(Edit2);
        return;
    }
    ModalResult = Edit1->Text().empty() ? mrCancel : mrOk;
}

TButton* TPasswordForm::SeedKeysButton(const char* name, int left, int top)
{
    TButton* button = Place(this, new TButton(this), name, left, top, 130, 26);
    button->Caption = "Change SeedKeys...";
    button->OnClick = [this](TObject*) {
        if (OnChangeSeedKeys)
            OnChangeSeedKeys();
    };
    return button;
}

TfrmPassword1::TfrmPassword1(TComponent* owner) : TPasswordForm(owner)
{
    Name = "frmPassword1";
    Caption = "Encrypt added files...";
    SetClientHeight(250);
    RadioGroup1 = Place(this, new TRadioGroup(this), "RadioGroup1", 8, 126, 240, 50);
    RadioGroup1->Caption = "Encryption Method";
    RadioGroup1->Items.Add("Zip 2.0 compatible");
    RadioGroup1->SetItemIndex(0);
    Button3 = SeedKeysButton("Button3", 8, 184);
    Panel1 = Place(this, new TPanel(this), "Panel1", 8, 216, 344, 28);
    Panel1->BevelOuter = bvLowered;
    Panel1->Alignment = taLeftJustify;
    Panel1->Caption = "NOTE: Zip 2.0 compatible encryption only.";
}

TfrmPassword2::TfrmPassword2(TComponent* owner) : TPasswordForm(owner)
{
    Name = "frmPassword2";
    Caption = "Enter password...";
    SetClientHeight(200);
    Place(this, new TLabel(this), "Label3", 8, 126, 200, 16)->SetCaption("Filename: ");
    Edit3 = Place(this, new TEdit(this), "Edit3", 8, 144, 344, 22);
    Edit3->ReadOnly = true;
    Edit3->Color = clBtnFace;
    Edit3->TabStop = false;
    Button5 = SeedKeysButton("Button5", 8, 170);
}

void TfrmPassword2::SetFileNameFor(const ::TObject* reader, const std::string& eventName)
{
    const auto* extractor = dynamic_cast<const TDecompressClass*>(reader);
    SetFileName(extractor && !extractor->StoredName.empty() ? extractor->StoredName : eventName);
}
