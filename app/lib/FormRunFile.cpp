#include "app/lib/FormRunFile.h"

#include "app/lib/FormBuild.h"
#include "platform/vcl/Dialogs.h"
#include "readers/plxZipRun.h"

using namespace vcl;

TfrmRunFile::TfrmRunFile(TComponent* owner) : TForm(owner)
{
    Name = "frmRunFile";
    Caption = "Execute file (TZipRun demo)";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(470);
    SetClientHeight(330);
    auto* listLabel = Place(this, new TLabel(this), "", 8, 8, 200, 16);
    listLabel->SetCaption("Select file to run...");
    ListBox1 = Place(this, new TListBox(this), "ListBox1", 8, 26, 454, 110);
    listLabel->FocusControl = ListBox1;
    RadioGroup1 = Place(this, new TRadioGroup(this), "RadioGroup1", 8, 144, 180, 64);
    RadioGroup1->Caption = "Support files to 'extract'";
    RadioGroup1->Items.Add("All files in archive");
    RadioGroup1->Items.Add("Files in list");
    RadioGroup1->SetItemIndex(1);
    RadioGroup2 = Place(this, new TRadioGroup(this), "RadioGroup2", 196, 144, 266, 100);
    RadioGroup2->Caption = "OpenMethod Property";
    for (const char* item : {"Registry Association (omRegisterAssoc)", "CommandLine (omCmdLine)",
                             "OpenWith (omOpenWith)", "OpenWithFile (omOpenWithFile)"})
        RadioGroup2->Items.Add(item);
    RadioGroup2->SetItemIndex(0);
    ComboBox1 = Place(this, new TComboBox(this), "ComboBox1", 8, 216, 180, 22);
    ComboBox1->Items.Add("Wordpad.exe");
    ComboBox1->Items.Add("Notepad.exe");
    ComboBox1->SetItemIndex(0);
    Edit1 = Place(this, new TEdit(this), "Edit1", 8, 252, 360, 22);
    btnBrowse = Place(this, new TButton(this), "btnBrowse", 372, 252, 90, 22);
    btnBrowse->Caption = "&Browse...";
    btnOK = Place(this, new TButton(this), "btnOK", 290, 292, 84, 28);
    btnOK->Caption = "&Ok";
    btnOK->Default = true;
    btnCancel = Place(this, new TButton(this), "btnCancel", 378, 292, 84, 28);
    btnCancel->Caption = "&Cancel";
    btnCancel->Cancel = true;
    btnCancel->ModalResult = mrCancel;
    OpenMethodChanged();

    RadioGroup2->OnClick = [this](TObject*) { OpenMethodChanged(); };
    btnBrowse->OnClick = [this](TObject*) {
        TOpenDialog dialog(this);
        dialog.Title = "&Browse...";
        dialog.FileName = Edit1->Text();
        if (dialog.Execute())
            Edit1->SetText(dialog.FileName);
    };
    btnOK->OnClick = [this](TObject*) { OkClick(); };
    OnActivate = [this](TObject*) {
        if (ListBox1->Items.Count() == 0) {
            ShowMessage("No files selected");
            ModalResult = mrCancel;
            return;
        }
        ListBox1->SetItemIndex(0);
    };
}

void TfrmRunFile::PrepareFor(TZipRun& run, const std::string& archive, const std::vector<std::string>& selected)
{
    run_ = &run;
    archive_ = archive;
    ListBox1->Items.Clear();
    for (const std::string& name : selected)
        ListBox1->Items.Add(name);
}

void TfrmRunFile::OpenMethodChanged()
{
    const bool openWith = RadioGroup2->ItemIndex() >= omOpenWith;
    ComboBox1->SetEnabled(openWith);
    Edit1->SetEnabled(openWith);
    btnBrowse->SetEnabled(openWith);
}

void TfrmRunFile::OkClick()
{
    const int chosen = ListBox1->ItemIndex();
    if (chosen < 0 || !run_) {
        ShowMessage("Select a file to run");
        return;
    }
    TZipRun& z = *run_;
    z.SetArchiveFile(archive_);
    // The component opens the member its first entry names; the others are extracted beside it.
    std::vector<std::string> spec{ListBox1->Items[chosen]};
    const bool allFiles = RadioGroup1->ItemIndex() == 0;
    if (allFiles) {
        spec.push_back("*.*");
    } else {
        for (int i = 0; i < ListBox1->Items.Count(); ++i)
            if (i != chosen)
                spec.push_back(ListBox1->Items[i]);
    }
    z.SetFileSpec(spec);
    z.ExactFileSpec = !allFiles;
    z.OpenMethod = TOpenMethod(std::max(0, RadioGroup2->ItemIndex()));
    z.CommandLineParams.clear();
    if (z.OpenMethod >= omOpenWith)
        z.CommandLineParams = Edit1->Text().empty() ? ComboBox1->Text() : Edit1->Text();
    ModalResult = mrOk;
}
