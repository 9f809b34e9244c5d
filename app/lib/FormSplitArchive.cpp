#include "app/lib/FormSplitArchive.h"

#include "app/lib/FormBuild.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/SysStrings.h"
#include "writers/plxZipSplitter.h"

#include <limits>

using namespace vcl;

namespace {

std::string Grouped(std::int64_t value)
{
    return win::Format("%.0n", {double(value)});
}

}  // namespace

std::int64_t PartSizeFromText(const std::string& text)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (char c : text) {
        if (c == '.')
            break;
        if (c < '0' || c > '9')
            continue;
        const int digit = c - '0';
        if (value > (Max - digit) / 10)
            return Max;
        value = value * 10 + digit;
    }
    return value;
}

TfrmSplitArchive::TfrmSplitArchive(TComponent* owner) : TForm(owner)
{
    Name = "frmSplitArchive";
    Caption = "TArchiveSplitter demo... (OnSplitBegin event)";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(440);
    SetClientHeight(330);
    RadioGroup2 = Place(this, new TRadioGroup(this), "RadioGroup2", 8, 8, 200, 270);
    RadioGroup2->Caption = "PartType Property";
    RadioGroup1 = Place(this, new TRadioGroup(this), "RadioGroup1", 220, 8, 210, 90);
    RadioGroup1->Caption = "CustomSizeType Property";
    RadioGroup1->Hint = "CustomSizeType property...";
    for (const char* item : {"Bytes", "KB", "MB"})
        RadioGroup1->Items.Add(item);
    RadioGroup1->SetItemIndex(0);
    Label9 = Place(this, new TLabel(this), "Label9", 220, 108, 100, 16);
    Label9->SetCaption("Other Size");
    Edit3 = Place(this, new TEdit(this), "Edit3", 220, 126, 150, 22);
    Edit3->SetText("65536");
    Edit3->Hint = "PartSize property...";
    Label8 = Place(this, new TLabel(this), "Label8", 220, 160, 210, 16);
    Label10 = Place(this, new TLabel(this), "Label10", 220, 184, 210, 16);
    Label10->Hint = "size must be greater than 65536, and less than size of file,  else 0";
    Label7 = Place(this, new TLabel(this), "Label7", 220, 208, 210, 16);
    Button1 = Place(this, new TButton(this), "Button1", 256, 292, 84, 28);
    Button1->Caption = "&Ok";
    Button1->Default = true;
    Button1->OnClick = [this](TObject*) {
        Refresh();
        ModalResult = mrOk;
    };
    Button2 = Place(this, new TButton(this), "Button2", 346, 292, 84, 28);
    Button2->Caption = "&Cancel";
    Button2->Cancel = true;
    Button2->ModalResult = mrCancel;

    Edit3->OnKeyPress = [](TObject*, char32_t& key) {
        const bool control = key == 3 || key == 8 || key == 22 || key == 24;  // Ctrl+C, Backspace, Ctrl+V, Ctrl+X
        // Enter and Esc are the dialog's keys (its OK and Cancel), never typed into the field.
        const bool dialog = key == U'\r' || key == 27;
        if (!control && !dialog && (key < U'0' || key > U'9'))
            key = 0;
    };
    Edit3->OnChange = [this](TObject*) { Refresh(); };
    RadioGroup1->OnClick = [this](TObject*) { Refresh(); };
    RadioGroup2->OnClick = [this](TObject*) { Refresh(); };
    OnActivate = [this](TObject*) { Activated(); };
    OnCloseQuery = [this](TObject*, bool& canClose) { CloseQuery(canClose); };
}

void TfrmSplitArchive::Activated()
{
    if (!Splitter)
        return;
    TArchiveSplitter& s = Splitter->Splitter();
    filling_ = true;
    Label7->SetCaption("ArchiveSize: " + Grouped(s.ArchiveSize));
    RadioGroup1->SetItemIndex(int(s.CustomSizeType));
    RadioGroup2->Items.Clear();
    for (const std::string& name : s.PartTypeList)
        RadioGroup2->Items.Add(name);
    if (RadioGroup2->Items.Count() == int(ptNoSplit))
        RadioGroup2->Items.Add("No split");
    RadioGroup2->SetItemIndex(int(s.PartType));
    filling_ = false;
    Refresh();
}

void TfrmSplitArchive::Refresh()
{
    if (!Splitter || filling_)
        return;
    TArchiveSplitter& s = Splitter->Splitter();
    s.CustomSizeType = TCustomSizeType(std::max(0, RadioGroup1->ItemIndex()));
    s.PartType = TPartType(std::max(0, RadioGroup2->ItemIndex()));
    const bool other = s.PartType == ptOtherSize;
    Edit3->SetEnabled(other);
    Label9->SetEnabled(other);
    if (other)
        s.PartSize = PartSizeFromText(Edit3->Text());
    Label8->SetCaption("Volume size (in bytes): " + Grouped(s.GetVolumeSize(s.PartType)));
    // The files the split will write, the last one included: a person counts what appears.
    Label10->SetCaption("Number of volumes this set: " + Grouped(s.CountVolumeFiles()));
}

void TfrmSplitArchive::CloseQuery(bool& canClose)
{
    if (ModalResult == mrOk) {
        if (Splitter && !Splitter->Splitter().IsValidPartType(Splitter->Splitter().PartType)) {
            MessageDlg("Not a valid selection PartType property selection", mtError, mbOK);
            SetActiveControl(RadioGroup2);
            canClose = false;
        }
        return;
    }
    canClose = MessageDlg("Canceling will result in the termination of creating the archive.\r\rExit now?",
                          mtConfirmation, mbYes | mbNo) == mrYes;
}
