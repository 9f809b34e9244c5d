#include "app/lib/FormExtract.h"
#include "platform/win/ShownPath.h"

#include "app/lib/FormBuild.h"

#include "platform/vcl/Dialogs.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"

using namespace vcl;

TfrmExtract::TfrmExtract(TComponent* owner) : TForm(owner)
{
    Name = "frmExtract";
    Caption = "Extract";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(410);
    SetClientHeight(272);  // the menu bar takes its line from the client area
    Label1 = Place(this, new TLabel(this), "Label1", 8, 8, 120, 16);
    Label1->SetCaption("Extract &To:");
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 26, 330, 22);
    BitBtn4 = Place(this, new TBitBtn(this), "BitBtn4", 342, 26, 26, 22);
    BitBtn4->Caption = "...";
    BitBtn4->Hint = "Change directory...";
    BitBtn4->OnClick = [this](TObject*) {
        std::string folder = Edit1->Text();
        if (SelectDirectory("Change directory...", "", folder))
            Edit1->SetText(ShownPath(folder));
    };
    BitBtn3 = Place(this, new TBitBtn(this), "BitBtn3", 8, 54, 120, 26);
    BitBtn3->Caption = "Create &New Dir";
    BitBtn3->OnClick = [this](TObject*) {
        if (!Edit1->Text().empty())
            win::ForceDirectories(Edit1->Text());
    };
    ComboBox1 = PlaceList(this, "ComboBox1", "DateAttribute:", 8, 88, 150, {"FileDate", "SystemDate", "MaxFileDate"});
    RadioGroup1 = Place(this, new TRadioGroup(this), "RadioGroup1", 8, 136, 180, 64);
    RadioGroup1->Caption = "Extract";
    RadioGroup1->Items.Add("&Selected Files");
    RadioGroup1->Items.Add("&All Files");
    RadioGroup1->SetItemIndex(0);
    CheckBox1 = PlaceCheck(this, "CheckBox1", "&Restore original folders", true, 200, 88);
    CheckBox2 = PlaceCheck(this, "CheckBox2", "&Confirm file overwrites", true, 200, 110);
    CheckBox3 = PlaceCheck(this, "CheckBox3", "Restore File(s) Attribute", false, 200, 132);
    CheckBox4 = PlaceCheck(this, "CheckBox4", "Create stored &dirs", false, 200, 154);
    CheckBox5 = PlaceCheck(this, "CheckBox5", "Recurse sub-dirs", true, 200, 176);
    BitBtn1 = Place(this, new TBitBtn(this), "BitBtn1", 230, 214, 84, 28);
    BitBtn1->Caption = "&Extract";
    BitBtn1->Default = true;
    BitBtn1->OnClick = [this](TObject*) { ExtractClick(); };
    BitBtn2 = Place(this, new TBitBtn(this), "BitBtn2", 318, 214, 84, 28);
    BitBtn2->Caption = "Cance&l";  // C belongs to "&Confirm file overwrites"
    BitBtn2->Cancel = true;
    BitBtn2->ModalResult = mrCancel;
    MainMenu1 = new TMainMenu(this);
    mnuSeedKeys = NewItem(this, "SeedKeys", 0, [this](TObject*) {
        if (OnChangeSeedKeys)
            OnChangeSeedKeys();
    });
    MainMenu1->Items()->Add(mnuSeedKeys);
    Menu = MainMenu1;
    OnActivate = [this](TObject*) {
        if (!anySelected_)
            RadioGroup1->SetItemIndex(1);
        // Every opening starts in the folder field, so typed text never goes astray.
        if (Edit1->CanFocus())
            SetActiveControl(Edit1);
    };
}

void TfrmExtract::PrepareFor(bool anySelected)
{
    anySelected_ = anySelected;
    RadioGroup1->SetItemIndex(anySelected ? 0 : 1);
}

void TfrmExtract::ExtractClick()
{
    const std::string typed = Edit1->Text();
    if (!typed.empty() && !win::DirectoryExists(win::IncludeTrailingPathDelimiter(typed))) {
        // Named as it was typed, ended by a separator of its own kind.
        const char separator = typed[0] == '/' ? '/' : '\\';
        MessageDlg((typed.back() == separator ? typed : typed + separator) + "\r\r ...not found.", mtError, mbOK);
        return;
    }
    ModalResult = mrOk;
}
