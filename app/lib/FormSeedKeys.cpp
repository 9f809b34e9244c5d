#include "app/lib/FormSeedKeys.h"

#include "app/lib/FormBuild.h"
#include "platform/vcl/Dialogs.h"

using namespace vcl;

namespace {

// "4294967295": every 32-bit key fits.
constexpr int KeyDigits = 10;

void ShowKeys(const std::array<TEdit*, 3>& edits, const TKeyTriple& keys)
{
    for (size_t i = 0; i < edits.size(); ++i)
        edits[i]->SetText(std::to_string(keys[i]));
}

TKeyTriple KeysOf(const std::array<TEdit*, 3>& edits, const TKeyTriple& defaults)
{
    TKeyTriple keys = defaults;
    for (size_t i = 0; i < edits.size(); ++i)
        if (auto key = ParseSeedKey(edits[i]->Text()))
            keys[i] = *key;
    return keys;
}

}  // namespace

std::optional<std::uint32_t> ParseSeedKey(const std::string& text)
{
    if (text.empty() || text.size() > size_t(KeyDigits))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + std::uint64_t(c - '0');
    }
    if (value > UINT32_MAX)
        return std::nullopt;
    return std::uint32_t(value);
}

TfrmSeedKeys::TfrmSeedKeys(TComponent* owner) : TForm(owner)
{
    Name = "frmSeedKeys";
    Caption = "Seed-key editor...";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(420);
    SetClientHeight(330);
    Label1 = Place(this, new TLabel(this), "Label1", 8, 8, 300, 16);
    Label1->SetCaption("ZipV2 Encryption - Seed Keys");
    Memo1 = Place(this, new TMemo(this), "Memo1", 8, 28, 404, 64);
    Memo1->ReadOnly = true;
    Memo1->TabStop = false;  // a note: the dialog opens at the first key
    Memo1->SetText("Archives written with other seed keys can be read only with the same keys. "
                   "Keep the default values to exchange archives with other programs.");
    const auto column = [this](const char* heading, const char* prefix, int left, std::array<TEdit*, 3>& edits) {
        Place(this, new TLabel(this), "", left, 100, 190, 16)->SetCaption(heading);
        for (int i = 0; i < 3; ++i) {
            const std::string index = std::to_string(i);
            Place(this, new TLabel(this), "", left, 126 + i * 30, 50, 16)->SetCaption("Key " + index + ": ");
            const std::string name = prefix + index;
            edits[size_t(i)] = Place(this, new TEdit(this), name.c_str(), left + 50, 122 + i * 30, 120, 22);
            edits[size_t(i)]->MaxLength = KeyDigits;
        }
    };
    column("Header Seed-Keys", "edtHeaderKey", 8, edtHeaderKey);
    column("Data Seed-Keys", "edtDataKey", 216, edtDataKey);
    btnResetHeader = Place(this, new TButton(this), "btnResetHeader", 8, 216, 170, 26);
    btnResetHeader->Caption = "Reset default values";
    btnResetHeader->OnClick = [this](TObject*) { ResetHeaderKeys(); };
    btnResetData = Place(this, new TButton(this), "btnResetData", 216, 216, 170, 26);
    btnResetData->Caption = "Reset default values";
    btnResetData->OnClick = [this](TObject*) { ResetDataKeys(); };
    btnOk = Place(this, new TButton(this), "btnOk", 236, 292, 84, 28);
    btnOk->Caption = "&Ok";
    btnOk->Default = true;
    btnOk->OnClick = [this](TObject*) { OkClick(); };
    btnClose = Place(this, new TButton(this), "btnClose", 328, 292, 84, 28);
    btnClose->Caption = "&Close";
    btnClose->Cancel = true;
    btnClose->ModalResult = mrCancel;
    ResetHeaderKeys();
    ResetDataKeys();
}

void TfrmSeedKeys::ResetHeaderKeys()
{
    ShowKeys(edtHeaderKey, kDefaultHeaderKeys);
}
void TfrmSeedKeys::ResetDataKeys()
{
    ShowKeys(edtDataKey, kDefaultDataKeys);
}
TKeyTriple TfrmSeedKeys::HeaderKeys() const
{
    return KeysOf(edtHeaderKey, kDefaultHeaderKeys);
}
TKeyTriple TfrmSeedKeys::DataKeys() const
{
    return KeysOf(edtDataKey, kDefaultDataKeys);
}

void TfrmSeedKeys::OkClick()
{
    // A key that would not fit in 32 bits is refused, never cut to some other key.
    for (TEdit* edit :
         {edtHeaderKey[0], edtHeaderKey[1], edtHeaderKey[2], edtDataKey[0], edtDataKey[1], edtDataKey[2]}) {
        if (!ParseSeedKey(edit->Text())) {
            MessageDlg("\"" + edit->Text() + "\": a seed key is a number from 0 to 4294967295.", mtError, mbOK);
            SetActiveControl(edit);
            return;
        }
    }
    ModalResult = mrOk;
}
