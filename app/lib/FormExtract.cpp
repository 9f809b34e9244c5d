#include "app/lib/FormExtract.h"

#include "platform/vcl/Dialogs.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"

using namespace vcl;

namespace {

template <class T>
T* Place(TForm* form, T* control, const char* name, int left, int top, int width, int height)
{
    control->Name = name;
    control->SetParent(form);
    control->SetBounds(left, top, width, height);
    return control;
}

TCheckBox* Check(TForm* form, const char* name, const char* caption, bool checked, int top)
{
    TCheckBox* box = Place(form, new TCheckBox(form), name, 200, top, 200, 20);
    box->Caption = caption;
    box->SetChecked(checked);
    return box;
}

}  // namespace

TfrmExtract::TfrmExtract(TComponent* owner) : TForm(owner)
{
    Name = "frmExtract";
    Caption = "Extract";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(410);
    SetClientHeight(250);
    Label1 = Place(this, new TLabel(this), "Label1", 8, 8, 120, 16);
    Label1->SetCaption("Extract &To:");
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 26, 330, 22);
    BitBtn4 = Place(this, new TBitBtn(this), "BitBtn4", 342, 26, 26, 22);
    BitBtn4->Caption = "...";
    BitBtn4->Hint = "Change directory...";
    BitBtn4->OnClick = [this](TObject*) {
        std::string folder = Edit1->Text();
        if (SelectDirectory("Change directory...", "", folder))
            Edit1->SetText(folder);
    };
    BitBtn3 = Place(this, new TBitBtn(this), "BitBtn3", 8, 54, 120, 26);
    BitBtn3->Caption = "Create &New Dir";
    BitBtn3->OnClick = [this](TObject*) {
        if (!Edit1->Text().empty())
            win::ForceDirectories(Edit1->Text());
    };
    Label2 = Place(this, new TLabel(this), "Label2", 8, 88, 120, 16);
    Label2->SetCaption("DateAttribute:");
    ComboBox1 = Place(this, new TComboBox(this), "ComboBox1", 8, 106, 150, 22);
    ComboBox1->Style = csDropDownList;
    for (const char* item : {"FileDate", "SystemDate", "MaxFileDate"})
        ComboBox1->Items.Add(item);
    ComboBox1->SetItemIndex(0);
    RadioGroup1 = Place(this, new TRadioGroup(this), "RadioGroup1", 8, 136, 180, 64);
    RadioGroup1->Caption = "Extract";
    RadioGroup1->Items.Add("&Selected Files");
    RadioGroup1->Items.Add("&All Files");
    RadioGroup1->SetItemIndex(0);
    CheckBox1 = Check(this, "CheckBox1", "&Restore original folders", true, 88);
    CheckBox2 = Check(this, "CheckBox2", "&Confirm file overwrites", true, 110);
    CheckBox3 = Check(this, "CheckBox3", "Restore File(s) Attribute", false, 132);
    CheckBox4 = Check(this, "CheckBox4", "Create stored &dirs", false, 154);
    CheckBox5 = Check(this, "CheckBox5", "Recurse sub-dirs", true, 176);
    BitBtn1 = Place(this, new TBitBtn(this), "BitBtn1", 230, 214, 84, 28);
    BitBtn1->Caption = "&Extract";
    BitBtn1->Default = true;
    BitBtn1->OnClick = [this](TObject*) { ExtractClick(); };
    BitBtn2 = Place(this, new TBitBtn(this), "BitBtn2", 318, 214, 84, 28);
    BitBtn2->Caption = "Cancel";
    BitBtn2->Cancel = true;
    BitBtn2->ModalResult = mrCancel;
    OnActivate = [this](TObject*) {
        if (!anySelected_)
            RadioGroup1->SetItemIndex(1);
    };
}

void TfrmExtract::PrepareFor(bool anySelected)
{
    anySelected_ = anySelected;
    RadioGroup1->SetItemIndex(anySelected ? 0 : 1);
}

void TfrmExtract::ExtractClick()
{
    std::string folder = win::IncludeTrailingPathDelimiter(Edit1->Text());
    if (!Edit1->Text().empty() && !win::DirectoryExists(folder)) {
        MessageDlg(folder + "\r\r ...not found.", mtError, mbOK);
        return;
    }
    ModalResult = mrOk;
}
