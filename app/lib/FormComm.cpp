#include "app/lib/FormComm.h"

#include <memory>

using namespace vcl;

TfrmComm::TfrmComm(TComponent* owner) : TForm(owner)
{
    Name = "frmComm";
    Caption = "Poznámka";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(380);
    SetClientHeight(96);
    leComment = new TVLabeledEdit(this);
    leComment->Name = "leComment";
    leComment->SetParent(this);
    leComment->EditLabel()->SetCaption("Zadejte poznámku k pakovanému souboru:");
    leComment->MaxLength = MaxCommentLength;
    // Enter confirms the dialog rather than moving on to its buttons.
    leComment->KeyLikeTab = keyDownUp;
    leComment->SetBounds(8, 28, 364, 22);
    btnOK = new TVColButton(this);
    btnOK->Name = "btnOK";
    btnOK->SetParent(this);
    btnOK->Caption = "OK";
    btnOK->ModalResult = mrOk;
    btnOK->Default = true;
    btnOK->SetBounds(212, 62, 76, 26);
    btnBack = new TVColButton(this);
    btnBack->Name = "btnBack";
    btnBack->SetParent(this);
    btnBack->Caption = "&Zpět";
    btnBack->ModalResult = mrCancel;
    btnBack->Cancel = true;
    btnBack->SetBounds(296, 62, 76, 26);
    SetActiveControl(leComment);
}

std::optional<std::string> EditArchiveComment(TComponent* owner, const std::string& comment)
{
    const std::unique_ptr<TfrmComm> dialog = std::make_unique<TfrmComm>(owner);
    dialog->leComment->SetText(comment);
    if (dialog->ShowModal() != mrOk)
        return std::nullopt;
    return dialog->leComment->Text();
}
