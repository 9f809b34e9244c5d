#include "app/lib/FormTestArchive.h"
#include "platform/win/ShownPath.h"

#include "app/lib/FormBuild.h"
#include "app/lib/FormPassword.h"
#include "app/lib/SharedDialog.h"
#include "core/Err_Msgs.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/SysStrings.h"
#include "readers/plxZipCheck.h"

using namespace vcl;

namespace {

const char* CorruptHeaderText(THeaderTypeState state)
{
    if (state & HeaderBit(htLocal))
        return "LOCAL header missing or corrupt...";
    if (state & HeaderBit(htCentral))
        return "CENTRAL header missing or corrupt...";
    return "ENDING header missing or corrupt...";
}

}  // namespace

TfrmTestArchive::TfrmTestArchive(TComponent* owner) : TForm(owner), ZipCheck1(std::make_unique<TZipCheck>())
{
    Name = "frmTestArchive";
    Caption = "(TZipCheck demo) validity test...";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(480);
    SetClientHeight(420);
    const auto labelled = [this](const char* name, const char* label, int top) {
        auto* caption = Place(this, new TLabel(this), "", 8, top + 3, 90, 16);
        caption->SetCaption(label);
        TEdit* edit = Place(this, new TEdit(this), name, 100, top, 372, 22);
        caption->FocusControl = edit;
        return edit;
    };
    Edit1 = labelled("Edit1", "&Archive File:", 8);
    Edit1->ReadOnly = true;
    Edit1->TabStop = false;  // shown, not asked: the dialog opens at the FileSpec
    Edit3 = labelled("Edit3", "F&ileSpec:", 36);
    Edit3->SetText("*.*");
    Edit2 = labelled("Edit2", "Volume Name:", 64);
    Edit2->ReadOnly = true;
    Edit2->TabStop = false;
    CheckBox1 = PlaceCheck(this, "CheckBox1", "RecurseDirs", true, 100, 92, 120);
    pbxLed = Place(this, new TPaintBox(this), "pbxLed", 8, 122, 14, 14);
    pbxLed->Hint = "Click when red to cancel operation";
    pbxLed->OnPaint = [this](TObject*) {
        pbxLed->Canvas.Pen.Color = clBlack;
        pbxLed->Canvas.Brush.Color = ledColour_;
        pbxLed->Canvas.Rectangle(0, 0, pbxLed->Width(), pbxLed->Height());
    };
    pbxLed->OnClick = [this](TObject*) {
        if (!running_)
            return;
        ZipCheck1->SetCancel(true);
        StatusBar1->SimpleText = "Aborting...";
    };
    Gauge1 = Place(this, new TProgressBar(this), "Gauge1", 30, 120, 218, 16);
    Gauge2 = Place(this, new TProgressBar(this), "Gauge2", 254, 120, 218, 16);
    ListView1 = Place(this, new TListView(this), "ListView1", 8, 144, 464, 190);
    ListView1->AddColumn("Result", 440);
    ListView1->ShowColumnHeaders = false;
    lblNote = Place(this, new TLabel(this), "lblNote", 8, 340, 464, 16);
    lblNote->SetCaption("ZipCheck1's TranslateOemChar follows the main window's setting.");
    Button1 = Place(this, new TButton(this), "Button1", 300, 362, 84, 28);
    Button1->Caption = "&Ok";
    Button1->Default = true;
    Button1->OnClick = [this](TObject*) { RunTest(); };
    Button2 = Place(this, new TButton(this), "Button2", 388, 362, 84, 28);
    Button2->Caption = "&Close";
    Button2->Cancel = true;
    Button2->ModalResult = mrCancel;
    StatusBar1 = new TStatusBar(this);
    StatusBar1->Name = "StatusBar1";
    StatusBar1->SetParent(this);
    StatusBar1->SetHeight(20);
    StatusBar1->SetAlign(alBottom);
    StatusBar1->SimplePanel = true;
    ZipCheck1->TranslateOemChar = false;
    BindTester();
    OnActivate = [this](TObject*) { ClearGauges(); };
}

TfrmTestArchive::~TfrmTestArchive() = default;

void TfrmTestArchive::BindTester()
{
    TZipCheck& z = *ZipCheck1;
    z.OnBegin = [this](::TObject*, const std::string& name, int, bool&) {
        StatusBar1->SimpleText = "Verifying:  " + name;
    };
    z.OnStatus = [this](::TObject*, const std::string& name, bool pass) {
        AddRow(name + (pass ? " ...Ok" : " ...Failed"));
    };
    z.OnProgress = [this](::TObject*, std::uint8_t byFile, std::uint8_t byArchive) {
        Gauge1->SetPosition(byFile);
        Gauge2->SetPosition(byArchive);
        Application->ProcessMessages();
    };
    z.OnActivate = [this](::TObject*) {
        running_ = true;
        SetLed(clRed);
    };
    z.OnDeactivate = [this](::TObject*) {
        running_ = false;
        SetLed(clGreen);
        // Full bars would read as a run still under way; the list and status say how it ended.
        ClearGauges();
        if (ZipCheck1->GetCancel())
            StatusBar1->SimpleText = "User canceled...";
    };
    z.OnNextVolume = [this](::TObject*, std::string& volume, int, bool, bool&) { Edit2->SetText(volume); };
    z.OnCorruptZipHeader = [this](::TObject*, THeaderTypeState state, bool&) {
        AddRow("--> OnCorruptZipHeader Event <--");
        AddRow(CorruptHeaderText(state));
        AddRow("--------------------------------");
        AddRow("");
    };
    z.OnNestedTarFile = [](::TObject*, const std::string& name, bool& doUnTar) {
        doUnTar = Application->MessageBox("File: " + name + "\r" + "Compressed file is a tar archive." + "\r" +
                                              "Decompress and verify this archive?",
                                          "OnNestedTarFile Event (unit8)", MB_YESNO | MB_ICONQUESTION) == IDYES;
    };
    z.OnChangeArchive = [this](::TObject*, const std::string&, TArcType) { nestedTar_ = true; };
    z.OnGetPassword = [this](::TObject* sender, const std::string& file, std::string& password, TSeedKeyRecord&,
                             TSeedKeyRecord&, bool& tryAgain) {
        TfrmPassword2* dialog = Password2 ? Password2 : SharedDialog<TfrmPassword2>(this);
        dialog->SetFileNameFor(sender, file);
        tryAgain = dialog->ShowModal() == mrOk;
        if (tryAgain)
            password = dialog->Password();
    };
    z.OnError = [this](::TObject*, const std::string& file, const std::string& extended, const std::string&, int code) {
        std::string row = std::string(LoadMessage(code));
        for (const std::string& part : {file, extended})
            if (!part.empty())
                row += ": " + part;
        AddRow(row);
    };
}

void TfrmTestArchive::PrepareFor(const std::string& archive, const std::vector<std::string>& selected)
{
    selected_ = selected;
    Edit1->SetText(ShownPath(archive));
    Edit2->SetText("");
    proposedSpec_ = "*.*";
    if (selected.size() >= 2) {
        proposedSpec_.clear();
        for (const std::string& name : selected)
            proposedSpec_ += (proposedSpec_.empty() ? "" : "; ") + name;
    }
    Edit3->SetText(proposedSpec_);
}

std::vector<std::string> TfrmTestArchive::FileSpecToTest(bool& exact) const
{
    // A member's name may hold ";", "*" or "?": split and read as masks it would test other members.
    exact = selected_.size() >= 2 && Edit3->Text() == proposedSpec_;
    if (exact)
        return selected_;
    std::vector<std::string> spec;
    const std::string& text = Edit3->Text();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(';', start);
        const std::string part = win::Trim(text.substr(start, end == std::string::npos ? end : end - start));
        if (!part.empty())
            spec.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    if (spec.empty())
        spec.push_back("*.*");
    return spec;
}

int TfrmTestArchive::RunTest()
{
    if (running_)
        return 0;
    Screen->SetCursor(crHourGlass);
    ClearGauges();
    ListView1->Clear();
    nestedTar_ = false;
    bool exact = false;
    TZipCheck& z = *ZipCheck1;
    z.SetArchiveFile(Edit1->Text());
    z.SetFileSpec(FileSpecToTest(exact));
    z.ExactFileSpec = exact;
    z.RecurseDirs = CheckBox1->Checked();
    const int count = z.Activate();
    z.ExactFileSpec = false;
    Screen->SetCursor(crDefault);
    if (!z.GetCancel())
        StatusBar1->SimpleText = "File(s) tested:  " + std::to_string(count);
    return count;
}

std::vector<std::string> TfrmTestArchive::ReportRows() const
{
    std::vector<std::string> rows;
    for (int i = 0; i < ListView1->ItemCount(); ++i)
        rows.push_back(ListView1->Items(i)->Caption);
    return rows;
}

void TfrmTestArchive::AddRow(const std::string& text)
{
    ListView1->AddItem()->Caption = text;
}

void TfrmTestArchive::SetLed(TColor colour)
{
    ledColour_ = colour;
    pbxLed->Invalidate();
}

void TfrmTestArchive::ClearGauges()
{
    Gauge1->SetPosition(0);
    Gauge2->SetPosition(0);
}
