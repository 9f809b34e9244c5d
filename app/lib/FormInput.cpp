#include "app/lib/FormInput.h"

#include "app/lib/FormBuild.h"

using namespace vcl;

TfrmInput::TfrmInput(TComponent* owner) : TForm(owner)
{
    Name = "frmInput";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(360);
    SetClientHeight(100);
    Label1 = Place(this, new TLabel(this), "Label1", 8, 8, 344, 16);
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 28, 344, 22);
    Label1->FocusControl = Edit1;
    btnOK = Place(this, new TButton(this), "btnOK", 180, 64, 84, 28);
    btnOK->Caption = "&Ok";
    btnOK->Default = true;
    btnOK->ModalResult = mrOk;
    btnCancel = Place(this, new TButton(this), "btnCancel", 268, 64, 84, 28);
    btnCancel->Caption = "&Cancel";
    btnCancel->Cancel = true;
    btnCancel->ModalResult = mrCancel;
}

std::optional<std::string> TfrmInput::Ask(const std::string& caption, const std::string& prompt,
                                          const std::string& value)
{
    Caption = caption;
    Label1->SetCaption(prompt);
    Edit1->SetText(value);
    if (ShowModal() != mrOk)
        return std::nullopt;
    return Edit1->Text();
}
