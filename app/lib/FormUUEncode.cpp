#include "app/lib/FormUUEncode.h"
#include "platform/win/ShownPath.h"

#include "app/lib/FormBuild.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Utf8.h"
#include "writers/plxUUEncode.h"

#include <climits>

using namespace vcl;

namespace {

constexpr const char* MethodExtensions[] = {".uue", ".xxe", ".mim"};
constexpr TCompressMethod Methods[] = {cmUUEncode, cmXXEncode, cmBase64};

}  // namespace

TfrmUUEncode::TfrmUUEncode(TComponent* owner) : TForm(owner)
{
    Name = "frmUUEncode";
    Caption = "UUEncode / XXEncode";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(420);
    SetClientHeight(250);
    const auto fileRow = [this](const char* name, const char* label, int top, TButton*& button,
                                const char* buttonName) {
        auto* caption = Place(this, new TLabel(this), "", 8, top, 300, 16);
        caption->SetCaption(label);
        TEdit* edit = Place(this, new TEdit(this), name, 8, top + 18, 372, 22);
        caption->FocusControl = edit;
        button = Place(this, new TButton(this), buttonName, 384, top + 18, 28, 22);
        button->Caption = "...";
        return edit;
    };
    Edit1 = fileRow("Edit1", "File to Encrypt:", 8, btnBrowse, "btnBrowse");
    Edit2 = fileRow("Edit2", "Output encrypted file:", 54, btnFolder, "btnFolder");
    btnFolder->Hint = "Change directory...";
    EncodeMethod1 = Place(this, new TRadioGroup(this), "EncodeMethod1", 8, 104, 150, 90);
    EncodeMethod1->Caption = "Encode Method";
    for (const char* item : {"UUencode", "XXencode", "Base64"})
        EncodeMethod1->Items.Add(item);
    EncodeMethod1->SetItemIndex(0);
    auto* sizeLabel = Place(this, new TLabel(this), "", 170, 106, 150, 16);
    sizeLabel->SetCaption("Max kbytes per file:");
    Edit3 = Place(this, new TEdit(this), "Edit3", 170, 124, 100, 22);
    Edit3->SetText("0");
    sizeLabel->FocusControl = Edit3;
    CheckBox1 = PlaceCheck(this, "CheckBox1", "Write Decode Table To File-header", false, 170, 156, 240);
    btnOK = Place(this, new TButton(this), "btnOK", 240, 212, 84, 28);
    btnOK->Caption = "&OK";
    btnOK->Default = true;
    btnOK->SetEnabled(false);
    btnClose = Place(this, new TButton(this), "btnClose", 328, 212, 84, 28);
    btnClose->Caption = "&Cancel";
    btnClose->Cancel = true;
    btnClose->ModalResult = mrCancel;

    btnBrowse->OnClick = [this](TObject*) { BrowseInput(); };
    btnFolder->OnClick = [this](TObject*) { ChooseOutputFolder(); };
    EncodeMethod1->OnClick = [this](TObject*) { MethodChanged(); };
    Edit1->OnChange = [this](TObject*) { btnOK->SetEnabled(!Edit1->Text().empty()); };
    Edit3->OnKeyPress = [](TObject*, char32_t& key) {
        // Digits and the clipboard's control keys only; Enter and Esc stay the dialog's.
        if (!(key >= '0' && key <= '9') && key != 3 && key != 8 && key != 22 && key != 24 && key != U'\r' && key != 27)
            key = 0;
    };
    btnOK->OnClick = [this](TObject*) { OkClick(); };
    OnActivate = [this](TObject*) {
        // Once per use: the form is activated again when the file dialog closes, and the file
        // picked there must stay.
        if (filled_)
            return;
        filled_ = true;
        Edit1->SetText(ShownPath(currentArchive_));
        if (Edit2->Text().empty() && !currentArchive_.empty())
            Edit2->SetText(
                win::ChangeFileExt(Edit1->Text(), MethodExtensions[std::max(0, EncodeMethod1->ItemIndex())]));
    };
}

void TfrmUUEncode::PrepareFor(TUUEncode& encoder, const std::string& currentArchive)
{
    encoder_ = &encoder;
    currentArchive_ = currentArchive;
    filled_ = false;
}

int TfrmUUEncode::KBytesPerFile() const
{
    long long value = 0;
    for (char c : Edit3->Text()) {
        if (c < '0' || c > '9')
            continue;
        value = std::min<long long>(INT_MAX, value * 10 + (c - '0'));
    }
    return int(value);
}

void TfrmUUEncode::BrowseInput()
{
    TOpenDialog dialog(this);
    dialog.Title = "Select file to encode...";
    dialog.FileName = TypedPath(Edit1->Text());
    if (!dialog.Execute())
        return;
    Edit1->SetText(ShownPath(dialog.FileName));
    Edit2->SetText(win::ChangeFileExt(Edit1->Text(), ".ENC"));
}

void TfrmUUEncode::ChooseOutputFolder()
{
    std::string folder = TypedPath(win::ExtractFilePath(Edit2->Text()));
    if (!SelectDirectory("Change directory...", "", folder))
        return;
    folder = ShownPath(folder);
    const std::string name = win::ExtractFileName(Edit2->Text().empty() ? Edit1->Text() : Edit2->Text());
    Edit2->SetText(win::IncludeTrailingPathDelimiter(folder) + name);
}

void TfrmUUEncode::MethodChanged()
{
    const std::string ext = MethodExtensions[std::max(0, EncodeMethod1->ItemIndex())];
    const std::string& from = Edit2->Text().empty() ? Edit1->Text() : Edit2->Text();
    if (!from.empty())
        Edit2->SetText(win::ChangeFileExt(from, ext));
}

void TfrmUUEncode::OkClick()
{
    if (Edit1->Text().empty() || !encoder_)
        return;
    if (win::SameText(Edit1->Text(), Edit2->Text())) {
        MessageDlg("Error: infile and outfile are the same", mtError, mbOK);
        Edit1->Clear();
        Edit2->Clear();
        return;
    }
    Screen->SetCursor(crHourGlass);
    // Before the input is named: a new default extension renames the component's archive name.
    encoder_->SetDefaultExt(MethodExtensions[std::max(0, EncodeMethod1->ItemIndex())]);
    encoder_->SetArchiveFile(TypedPath(Edit1->Text()));
    encoder_->SetOutFilename(Edit2->Text().empty() ? "." : TypedPath(Edit2->Text()));
    encoder_->CompressMethod = Methods[std::max(0, EncodeMethod1->ItemIndex())];
    encoder_->KBytesPerVolume = KBytesPerFile();
    encoder_->WriteTableToFile = CheckBox1->Checked();
    Screen->SetCursor(crDefault);
    ModalResult = mrOk;
}
