#include "app/lib/FormComment.h"

#include "app/lib/FormBuild.h"

using namespace vcl;

TfrmComment::TfrmComment(TComponent* owner) : TForm(owner)
{
    Name = "frmComment";
    Caption = "Archive Comment...";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(420);
    SetClientHeight(230);
    Memo1 = Place(this, new TMemo(this), "Memo1", 8, 8, 404, 176);
    Memo1->ScrollBars = ssVertical;
    btnOK = Place(this, new TButton(this), "btnOK", 168, 194, 84, 28);
    btnOK->Caption = "&Ok";
    // One button closes it whatever key is used: Enter and Esc alike.
    btnOK->Default = true;
    btnOK->Cancel = true;
    btnOK->ModalResult = mrCancel;
}
