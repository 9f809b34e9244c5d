#include "app/lib/FormTorvo.h"

#include <algorithm>
#include <cstdio>

#include "app/lib/DefinitionFile.h"
#include "app/lib/DriveIcons.h"
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormMenu.h"
#include "app/lib/RequestRecord.h"
#include "app/lib/Settings.h"
#include "platform/win/Messages.h"
#include "platform/win/Paths.h"
#include "platform/win/ShownPath.h"
#include "platform/win/SysFiles.h"
#include "readers/Pelix.h"
#include "readers/plxRegArchive.h"
#include "readers/plxUUDecode.h"
#include "readers/plxUnAce.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnCab.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"
#include "readers/plxUnZIP.h"
#include "readers/plxUnZoo.h"
#include "readers/plxZipRun.h"
#include "readers/view/plxZipView.h"
#include "unit/U_FileUtils.h"
#include "unit/U_Win.h"
#include "unit/XFiles.h"
#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

using namespace vcl;

namespace {

constexpr TColor AutomaticListColour = 0xC0C0C0;
// The archive list's columns (name, count, comment) in pixels.
constexpr int ArchiveListTabWidth = 165;
constexpr int LabelPathWidth = 110;

std::string ExeFolder()
{
    char path[1024] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    return win::ExcludeTrailingPathDelimiter(win::ExtractFileDir(path));
}

char UpperFirstChar(const std::string& text)
{
    if (text.empty())
        return 0;
    const char c = text[0];
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool InRange(int v, int low, int high)
{
    return v >= low && v <= high;
}

bool IsAutomaticMode(int mode)
{
    return InRange(mode, 10, 17) || mode == 19 || InRange(mode, 20, 29);
}

const std::string FailedSuffix = " byla NEÚSPĚŠNÁ";

}  // namespace

TFormTorvo::TFormTorvo(TComponent* owner) : TForm(owner)
{
    Name = "FormTorvo";
    Caption = "TORVO";
    KeyPreview = true;
    SetClientWidth(640);
    SetClientHeight(400);
    Position = poScreenCenter;
    BuildComponents();
    BuildMainMenu();
    BuildArchiveComponents();
    BuildManagerComponents();
    KeepControlsWhole();
    OnCreate = [this](TObject*) { FormCreate(); };
    OnShow = [this](TObject*) { FormShow(); };
    OnActivate = [this](TObject*) { FormActivate(); };
    OnCloseQuery = [this](TObject*, bool& canClose) {
        // Closed while an operation runs: it is cancelled as the LED cancels it, and the request
        // is finished once it has stopped, never with work going on behind a hidden window.
        if (!OperationRunning() && busyDepth_ == 0)
            return;
        canClose = false;
        finishAfterOperation_ = true;
        pbxLedClick();
    };
    OnClose = [this](TObject*, TCloseAction&) { FinishRequest(); };
    OnKeyDown = [this](TObject*, WORD&, TShiftState) {
        if (state_.AutomaticRunFinished)
            FinishRequest();
    };
}

TFormTorvo::~TFormTorvo() = default;

TSpeedButton* TFormTorvo::MakeSpeedButton(const char* name, const char* caption, int left)
{
    auto* button = new TSpeedButton(this);
    button->Name = name;
    button->Caption = caption;
    button->Flat = true;
    button->SetParent(Panel1);
    button->SetBounds(left, 4, 84, 32);
    return button;
}

void TFormTorvo::BuildComponents()
{
    Panel1 = new TPanel(this);
    Panel1->Name = "Panel1";
    Panel1->SetParent(this);
    Panel1->SetHeight(40);
    Panel1->SetAlign(alTop);
    Panel1->OnClick = [this](TObject*) {
        // Two lines, each whole: as wide as the longer, and the window makes room for it.
        const std::string heading = "Program je spuštěn z adresáře:", folder = ShownPath(ExeFolder());
        LabelPath->SetCaption(heading + "\r\n" + folder);
        const int width = std::max(WidgetSet().TextExtent(heading, LabelPath->Font).cx,
                                   WidgetSet().TextExtent(folder, LabelPath->Font).cx);
        LabelPath->SetWidth(std::max(LabelPathWidth, width));
        LabelPath->SetVisible(!LabelPath->Visible());
        KeepControlsWhole();
    };
    sbArchiv = MakeSpeedButton("sbArchiv", "&Archivace", 4);
    sbObnova = MakeSpeedButton("sbObnova", "&Obnova", 90);
    sbUnZip = MakeSpeedButton("sbUnZip", "&Rozbalit", 176);
    sbComment = MakeSpeedButton("sbComment", "&Poznámka", 262);
    sbEmail = MakeSpeedButton("sbEmail", "&E-mail", 348);
    sbExit = MakeSpeedButton("sbExit", "&Konec", 550);
    sbExit->Anchors = akTop | akRight;  // stays at the right edge when the window is resized
    LabelPath = new TLabel(this);
    LabelPath->Name = "LabelPath";
    LabelPath->SetParent(Panel1);
    LabelPath->AutoSize = false;
    LabelPath->WordWrap = true;
    LabelPath->SetBounds(436, 2, LabelPathWidth, 36);
    LabelPath->Hide();

    PanelMess = new TPanel(this);
    PanelMess->Name = "PanelMess";
    PanelMess->SetParent(this);
    PanelMess->SetHeight(54);
    PanelMess->SetAlign(alTop);
    PanelMess->Alignment = taLeftJustify;
    LabelMess = new TLabel(this);
    LabelMess->Name = "LabelMess";
    LabelMess->SetParent(PanelMess);
    LabelMess->SetBounds(8, 36, 500, 16);
    Image1 = new TImage(this);
    Image1->Name = "Image1";
    Image1->SetParent(PanelMess);
    Image1->SetBounds(600, 11, 32, 32);
    Image1->Transparent = true;

    StatusBar1 = new TStatusBar(this);
    StatusBar1->Name = "StatusBar1";
    StatusBar1->SetParent(this);
    StatusBar1->SetHeight(20);
    StatusBar1->SetAlign(alBottom);
    for (int width : StatusPanelWidths)
        StatusBar1->AddPanel("", width);

    pnlStatus = new TPanel(this);
    pnlStatus->Name = "pnlStatus";
    pnlStatus->SetParent(this);
    pnlStatus->SetHeight(22);
    pnlStatus->SetAlign(alBottom);
    pbxLed = new TPaintBox(this);
    pbxLed->Name = "pbxLed";
    pbxLed->SetParent(pnlStatus);
    pbxLed->SetBounds(4, 4, 14, 14);
    pbxLed->Hint = "Click when red to cancel operation";
    pbxLed->OnPaint = [this](TObject*) {
        TCanvas& canvas = pbxLed->Canvas;
        canvas.Pen.Color = clBlack;
        canvas.Brush.Color = ledColour_;
        canvas.Rectangle(0, 0, pbxLed->Width(), pbxLed->Height());
    };
    pbxLed->OnClick = [this](TObject*) { pbxLedClick(); };
    imgLed = new TImage(this);
    imgLed->Name = "imgLed";
    imgLed->SetParent(pnlStatus);
    imgLed->SetBounds(4, 4, 14, 14);
    imgLed->Hint = pbxLed->Hint;
    imgLed->Hide();
    ProgressBar1 = new TProgressBar(this);
    ProgressBar1->Name = "ProgressBar1";
    ProgressBar1->SetParent(pnlStatus);
    ProgressBar1->SetBounds(24, 4, 200, 14);
    ProgressBar1->Hide();
    ProgressBar2 = new TProgressBar(this);
    ProgressBar2->Name = "ProgressBar2";
    ProgressBar2->SetParent(pnlStatus);
    ProgressBar2->SetBounds(230, 4, 200, 14);
    ProgressBar2->Hide();

    ZipView1 = new TZipView(this);
    ZipView1->Name = "ZipView1";
    ZipView1->SetParent(this);
    ZipView1->Delimiter = ";";
    ZipView1->SetColor(clWindow);
    ZipView1->Hide();
    lstFileSpec = new TVListBox(this);
    lstFileSpec->Name = "lstFileSpec";
    lstFileSpec->SetParent(this);
    lstFileSpec->Color = clWindow;
    lstFileSpec->ColorOnFocus = clCream;
    // Not Sorted: a text sort would put "Ucto (1000)" before "Ucto (999)"; the list is filled in
    // number order so that the newest archive comes last, where the selection starts.
    lstFileSpec->ItemHeight = 16;
    lstFileSpec->TabStops = true;
    lstFileSpec->TabWidth = ArchiveListTabWidth;
    lstFileSpec->KeyLikeTab = 0;  // Enter restores the chosen archive
    lstFileSpec->OnDblClick = [this](TObject*) { lstFileSpecDblClick(); };
    lstFileSpec->OnKeyDown = [this](TObject*, WORD& key, TShiftState) { lstFileSpecKeyDown(key); };
    lstFileSpec->Hide();

    ListView1 = new TListView(this);
    ListView1->Name = "ListView1";
    ListView1->SetParent(this);
    ListView1->Hide();
    ComboBox1 = new TComboBox(this);
    ComboBox1->Name = "ComboBox1";
    ComboBox1->SetParent(this);
    ComboBox1->Hide();
    Edit1 = new TEdit(this);
    Edit1->Name = "Edit1";
    Edit1->SetParent(this);
    Edit1->Hide();
    Edit2 = new TEdit(this);
    Edit2->Name = "Edit2";
    Edit2->SetParent(this);
    Edit2->Hide();
    CheckBox1 = new TCheckBox(this);
    CheckBox1->Name = "CheckBox1";
    CheckBox1->Caption = "Recurse Dirs";
    CheckBox1->SetChecked(true);  // hidden: the manager lists the entries of every folder
    CheckBox1->SetParent(this);
    CheckBox1->Hide();
    const char* bitCaptions[] = {"&Open", "&New", "Add", "&Extract", "&View/Run", "&Test"};
    for (std::size_t i = 0; i < BitBtn.size(); ++i) {
        BitBtn[i] = new TBitBtn(this);
        BitBtn[i]->Name = "BitBtn" + std::to_string(i + 1);
        BitBtn[i]->Caption = bitCaptions[i];
        BitBtn[i]->SetParent(this);
        BitBtn[i]->Hide();
    }
    ImageList1 = new TImageList(this);
    ImageList1->Name = "ImageList1";
    FillTargetMenuImages(*ImageList1);
    ImageList2 = new TImageList(this);
    ImageList2->Name = "ImageList2";
    ImageList2->Width = ImageList2->Height = 32;
    FillTargetPictures(*ImageList2);

    sbArchiv->OnClick = [this](TObject*) {
        if (state_.BackupSide)
            DispatchRequest();
    };
    sbObnova->OnClick = [this](TObject*) {
        if (!state_.BackupSide)
            DispatchRequest();
    };
    sbUnZip->OnClick = [this](TObject*) { mnuUnZipClick(); };
    sbComment->OnClick = [this](TObject*) { mnuCommentClick(); };
    sbEmail->OnClick = [this](TObject*) { mnuEmailClick(); };
    sbExit->OnClick = [this](TObject*) { FinishRequest(); };
}

TPoint TFormTorvo::SmallestClientSize() const
{
    // Every control keeps its place and size; "Konec" keeps its distance to the right edge, so
    // the toolbar needs it beside the rightmost of the others shown (the path label takes the
    // width of the folder it names).
    constexpr int exitGap = 5, exitMargin = 5, edgeMargin = 8;
    const auto rightmost = [this](const TWinControl& panel) {
        int right = 0;
        for (int i = 0; i < panel.ControlCount(); ++i)
            if (const TControl* c = panel.Controls(i); c != sbExit && c->Visible())
                right = std::max(right, c->Left() + c->Width());
        return right;
    };
    const int width = std::max({rightmost(*Panel1) + exitGap + sbExit->Width() + exitMargin,
                                rightmost(*PanelMess) + edgeMargin, rightmost(*pnlStatus) + edgeMargin});
    // The list: its frame, its header and three rows' height (two rows and a scroll bar).
    const int list = 4 + ZipView1->HeaderHeight() + 3 * ZipView1->ItemHeight() + 4;
    const int height =
        Panel1->Height() + PanelMess->Height() + list + pnlStatus->Height() + StatusBar1->Height();
    return {width, height};
}

void TFormTorvo::KeepControlsWhole()
{
    const TPoint smallest = SmallestClientSize();
    Constraints.MinWidth = smallest.X + Width() - ClientWidth();
    Constraints.MinHeight = smallest.Y + Height() - ClientHeight();
    if (Constraints.MaxHeight > 0)
        Constraints.MinHeight = std::min(Constraints.MinHeight, Constraints.MaxHeight);
    SetBounds(Left(), Top(), Width(), Height());  // a window narrower than that grows to it
}

void TFormTorvo::BuildMainMenu()
{
    MainMenu1 = new TMainMenu(this);
    Menu = MainMenu1;
    mnuServis = NewItem(this, "Servis");
    mnuArchivace = NewItem(this, "Nabídka &archivace dat", 0, sbArchiv->OnClick);
    mnuObnova = NewItem(this, "Nabídka &obnova dat", 0, sbObnova->OnClick);
    mnuUnZip = NewItem(this, "Data obnovit - &rozbalit", 0, sbUnZip->OnClick);
    mnuComment = NewItem(this, "Poznámka", 0, sbComment->OnClick);
    mnuEmail = NewItem(this, "E-mail", 0, sbEmail->OnClick);
    mnuKonec = NewItem(this, "&Konec", 0, sbExit->OnClick);
    MainMenu1->Items()->Add(mnuServis);
    mnuServis->Add(mnuArchivace);
    mnuServis->Add(NewItem(this, "-"));
    mnuServis->Add(mnuObnova);
    mnuServis->Add(mnuUnZip);
    mnuServis->Add(mnuComment);
    mnuServis->Add(mnuEmail);
    mnuServis->Add(NewItem(this, "-"));
    mnuServis->Add(mnuKonec);
    // The archive manager's item, hidden like its menus; its list is shown when an operation ends
    // with errors.
    BuildManagerMenus();
    mnuErrorMessages = NewItem(this, "Error &Messages", 0, [this](TObject*) { ErrorList()->ShowModal(); });
    mnuErrorMessages->Visible = false;
    MainMenu1->Items()->Add(mnuErrorMessages);
    SetClientHeight(400);
}

void TFormTorvo::FormCreate()
{
    OpenDialog1 = new TOpenDialog(this);
    SaveDialog1 = new TSaveDialog(this);
    ControlTable = {OpenDialog1, SaveDialog1, OpenDialog1, SaveDialog1, ListView1, Edit1, Edit2, ComboBox1, StatusBar1};
    Handle();  // from here on callers find the window
}

void TFormTorvo::FormShow()
{
    ZipView1->Show();
    ZipView1->SetAlign(alClient);
    Caption = "TORVO";
}

void TFormTorvo::FormActivate()
{
    SetModeCaption(false);
    // Switching back to the window must not forget the choices of the run.
    if (activatedOnce_)
        return;
    activatedOnce_ = true;
    target_.RememberedLetter = " ";
    target_.LastTargetMenuIndex = -1;
    target_.LastFirstMenuChoice = 0;
    lstFileSpec->Hide();
    ZipView1->Hide();
    for (TSpeedButton* b : {sbArchiv, sbObnova, sbUnZip, sbComment, sbEmail})
        b->SetEnabled(false);
    for (TMenuItem* item : {mnuArchivace, mnuObnova, mnuUnZip, mnuComment})
        item->Enabled = false;
    LabelMess->SetCaption("");
    sbExit->SetLeft(Panel1->Width() - sbExit->Width() - 5);
}

static std::string UnservedRequestText(TRequestOutcome outcome, std::uint32_t command,
                                       const std::optional<TRequestRecord>& record, const TRequestState& state)
{
    const std::string request = "request " + std::to_string(command);
    switch (outcome) {
    case TRequestOutcome::Malformed:
        return request + " carries no request record; no reply";
    case TRequestOutcome::FetchedFileMissing:
        return request + ": the fetched archive " + record->DataFolder + record->DefinitionFileName +
               " does not exist; no reply";
    case TRequestOutcome::Invalid:
        if (record->DefinitionFileName.empty() || record->DataFolder.empty())
            return request + " names no definition file or no data folder; no reply";
        return request + ": the definition file " + record->DataFolder + record->DefinitionFileName +
               " is missing or cannot be read; no reply";
    case TRequestOutcome::NoMenuLine:
        return request + ": the menu file \"" + state.Definition.MenuArchiv + "\" gives no menu for mode value " +
               win::FormatFloat("0.##", record->ModeValue) + "; no reply";
    default:
        return {};
    }
}

void TFormTorvo::WMCopyData(TWMCopyData& message)
{
    const COPYDATASTRUCT* data = message.CopyDataStruct;
    message.Result = 1;
    if (data && OperationRunning()) {
        // Served inside the operation's message pump, it would start a second one on the same
        // components; its bytes are gone once this returns, so they are copied.
        const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
        heldRequests_.push_back(
            {std::uint32_t(data->dwData),
             bytes ? std::vector<std::uint8_t>(bytes, bytes + data->cbData) : std::vector<std::uint8_t>()});
        return;
    }
    const std::uint32_t command = data ? data->dwData : 0;
    const TRequestOutcome outcome = handler_.WMCopyData(command, data);
    // The caller gets no reply in these cases; whoever runs the program must still learn why.
    const std::optional<TRequestRecord> record = data ? DecodeRequestRecord(data->lpData, data->cbData) : std::nullopt;
    if (const std::string why = UnservedRequestText(outcome, command, record, state_); !why.empty())
        std::fprintf(stderr, "torvo: %s\n", why.c_str());
}

void TFormTorvo::WndProc(TMessage& message)
{
    if (message.Msg == WM_SERVE_HELD_REQUESTS) {
        if (finishAfterOperation_ && !OperationRunning() && busyDepth_ == 0) {
            finishAfterOperation_ = false;
            Close();
            return;
        }
        ServeHeldRequests();
        return;
    }
    TForm::WndProc(message);
}

void TFormTorvo::OperationEnded()
{
    // From the message loop, not from inside whatever called the operation.
    if (--operationDepth_ == 0 && (!heldRequests_.empty() || finishAfterOperation_))
        PostMessageA(Handle(), WM_SERVE_HELD_REQUESTS, 0, 0);
}

void TFormTorvo::ServeHeldRequests()
{
    while (!heldRequests_.empty() && !OperationRunning()) {
        const THeldRequest request = std::move(heldRequests_.front());
        heldRequests_.pop_front();
        handler_.Handle(request.command, request.bytes.data(), request.bytes.size());
    }
}

void TFormTorvo::SetModeCaption(bool withSuffix)
{
    Caption = ModeCaption(XFileVersion1->Query("FileVersion"), state_.Mode, withSuffix, state_.Definition.NoteFirma);
}

void TFormTorvo::SetBackupSideCommands(bool backupOn)
{
    sbArchiv->SetEnabled(backupOn);
    mnuArchivace->Enabled = backupOn;
    for (TSpeedButton* b : {sbObnova, sbUnZip})
        b->SetEnabled(!backupOn);
    for (TMenuItem* item : {mnuObnova, mnuUnZip})
        item->Enabled = !backupOn;
}

void TFormTorvo::SetStatus(const std::string& panelText, const std::string& dataSetLine)
{
    PanelMess->Caption = panelText;
    LabelMess->SetCaption(dataSetLine);
}

std::string TFormTorvo::DataSetLine(bool backup) const
{
    const std::string& licence = state_.Definition.NoteLicence;
    const std::string& other = state_.Definition.NoteOtherLicence;
    if (backup) {
        if (!licence.empty() && !other.empty())
            return "Archivace dat z licence " + other + " do licence " + licence;
        return licence.empty() ? "" : "Archivace dat licence " + licence;
    }
    if (!licence.empty() && !other.empty())
        return "Obnova dat z licence " + licence + " do licence " + other;
    return licence.empty() ? "" : "Obnova dat licence " + licence;
}

void TFormTorvo::ShowTargetImage(int index)
{
    targetImage_ = index;
    Image1->Picture = index >= 0 && index < ImageList2->Count() ? ImageList2->Image(index) : TBitmap();
    Image1->Invalidate();
}

void TFormTorvo::ShowTargetImageForLetter(const std::string& letter)
{
    int index = 4;
    if (target_.DriveType == DRIVE_CDROM)
        index = 1;
    else if (target_.DriveType == DRIVE_FIXED)
        index = 2;
    else if (target_.DriveType == DRIVE_REMOTE)
        index = 3;
    else if (letter == "A" || letter == "B")
        index = 0;
    else if (IsFtpLetter(letter))
        index = 5;
    ShowTargetImage(index);
}

std::string TFormTorvo::BuildTargetMenu(const std::string& title, char defaultLetter)
{
    const TTargetMenu menu = BuildTargetMenuText(defaultLetter, state_, target_, DriveType);
    SetMenuImageList(ImageList1);
    int number = 0;
    std::string text;
    const int index = ShowMenu(menu.Options, number, text, menu.Text, title);
    SetMenuImageList(nullptr);
    if (index < 0)
        return "";
    target_.LastTargetMenuIndex = index;
    target_.RememberedLetter = text;
    return text;
}

void TFormTorvo::DispatchRequest()
{
    // A toolbar click served inside a running operation's message pump.
    if (OperationRunning())
        return;
    TTargetState& t = target_;
    const int mode = state_.Mode;
    const char dataLetter = UpperFirstChar(state_.DataFolder);
    t.RestorePath = false;
    TakeRequestFtpEntries(state_, t.Ftp);
    if (IsAutomaticMode(mode))
        Constraints.MaxHeight = 300;

    std::string letter = dataLetter ? std::string(1, dataLetter) : "";
    int setNumber = 0;
    if (InRange(mode, 20, 29)) {
        setNumber = mode;
    } else if (mode == 19 || mode == 99) {
        letter = "1";
        t.ManualFtp = true;
    } else if (mode == 15 || mode == 17) {
        letter = "1";
    } else if (mode == 16) {
        letter = "2";
    } else if (mode == 14) {
        const char byHand = UpperFirstChar(state_.Definition.PathArchivByHand);
        letter = byHand ? std::string(1, byHand) : "";
    } else if (mode == 50) {
        if (!dataLetter)
            return;
        setNumber = 50;
    } else if (mode == 2) {
        letter = "0";
    } else if (mode == 7) {
        setNumber = 70;
        t.RestorePath = true;
        state_.Definition.PathObnova = state_.Network.Text;
        // The network text is no drive: only an FTP entry that it names is a target.
        const auto ftpLetter = FtpLetterOfText(state_.Network.Text, t.Ftp);
        if (!ftpLetter)
            return;
        letter = *ftpLetter;
    }

    std::optional<TMenuFile> menuFile = LoadMenuFile(state_.Definition.MenuArchiv);
    if (mode == 0 || mode == 1 || mode == 9 || mode == 11 || mode == 13) {
        if (!menuFile) {
            Application->MessageBox(MenuFileNotFoundText(state_.Definition.MenuArchiv), MenuErrorCaption,
                                    MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        const TMenuSection section = ReadMenuSection(*menuFile, state_.MenuSection);
        if (!section.Found) {
            std::fprintf(stderr, "torvo: the menu file \"%s\" has no menu [%s]; nothing done\n",
                         state_.Definition.MenuArchiv.c_str(), state_.MenuSection.c_str());
            return;
        }
        std::string text;
        const std::string options = "\x01\x02\x05\x13" + std::to_string(t.LastFirstMenuChoice);
        const int index = ShowMenu(options, setNumber, text, section.MenuText, section.Title);
        if (index < 0)
            return;
        t.LastFirstMenuChoice = index;
    }
    if (mode == 0 || mode == 1 || mode == 9 || mode == 12 || mode == 13) {
        const bool backupTitle = state_.BackupSide && mode != 9;
        letter = BuildTargetMenu(backupTitle ? "archivace" : "obnova", dataLetter);
        if (letter.empty())
            return;
        if (letter == "+") {
            const char first = UpperFirstChar(state_.Definition.PathObnova);
            letter = first ? std::string(1, first) : "";
            t.RestorePath = true;
        }
    }

    Screen->SetCursor(crHourGlass);
    if (BuildTargetPath(setNumber, letter, state_, t, DriveType, menuFile ? &*menuFile : nullptr)) {
        lstFileSpec->Items.Clear();
        for (const std::string& file : t.FileList)
            lstFileSpec->Items.Add(file);
    }
    letter = t.Letter;
    const std::string status = t.NetworkPath.empty() ? "Archivace na " + TargetStatusText(letter, t.Ftp)
                                                     : "Archivace na síťový disk: " + t.NetworkPath;
    if (state_.BackupSide) {
        PanelMess->Caption = status;
        sbComment->SetEnabled(true);
        mnuComment->Enabled = true;
        sbEmail->SetEnabled(true);
        mnuEmail->Enabled = true;
    }

    auto backupFailed = [this, status] {
        PanelMess->Caption = status + FailedSuffix;
        std::fprintf(stderr, "torvo: %s\n", PanelMess->Caption.c_str());
        sbComment->SetEnabled(false);
        mnuComment->Enabled = false;
        sbEmail->SetEnabled(false);
        mnuEmail->Enabled = false;
    };
    // An upload follows only a backup that succeeded: a failed one leaves nothing to send.
    auto backupThenUpload = [&](const std::string& code) {
        if (!BackupToDisk()) {
            backupFailed();
            return;
        }
        if (!code.empty())
            WebUploadArchive(code);
    };

    if (mode == 0) {
        SetBackupSideCommands(true);
        SetStatus(PanelMess->Caption, DataSetLine(true));
        backupThenUpload(state_.FtpTarget ? "10" + letter : "");
    } else if (mode == 1 || mode == 2 || mode == 7 || mode == 9) {
        SetBackupSideCommands(false);
        if (state_.FtpTarget) {
            ShowTargetImage(5);
            WebDownloadArchive(letter, mode == 2 ? 70 : letter[0] - '0' + 20);
            if (lstFileSpec->CanFocus())
                lstFileSpec->SetFocus();
            Screen->SetCursor(crDefault);
            return;
        }
        const std::string where = t.NetworkPath.empty() ? letter : t.NetworkPath;
        SetStatus("Z disku " + where + ": vyberte soubor k obnově dat a stiskněte klávesu Enter", DataSetLine(false));
        ListTargetArchives();
    } else if (InRange(mode, 10, 14) || InRange(mode, 20, 29)) {
        ZipView1->Hide();
        for (TSpeedButton* b : {sbArchiv, sbObnova, sbUnZip, sbComment, sbEmail})
            b->SetEnabled(false);
        for (TMenuItem* item : {mnuArchivace, mnuObnova, mnuUnZip, mnuComment, mnuEmail})
            item->Enabled = false;
        PanelMess->Caption = "Automatická archivace na " + TargetStatusText(letter, t.Ftp);
        LabelMess->SetCaption("");
        if (!BackupToDisk()) {
            PanelMess->Caption = PanelMess->Caption + FailedSuffix;
            std::fprintf(stderr, "torvo: %s\n", PanelMess->Caption.c_str());
        }
    } else if (mode == 15 || mode == 16 || mode == 17) {
        SetBackupSideCommands(true);
        state_.Ftp = true;
        state_.FtpTarget = true;
        const std::size_t entry = std::size_t(mode - 10);
        t.Ftp[entry].Name = MakerFtpName;
        if (mode == 16)
            t.Ftp[entry].Details = state_.Network.Text;
        PanelMess->Caption = "Automatická archivace na FTP server";
        backupThenUpload(std::to_string(mode + 90));
    } else if (mode == 19) {
        SetBackupSideCommands(true);
        // The manual upload goes to the server the request named, else to the maker's.
        t.Ftp[9] = t.Ftp[1].Name.empty() ? TFtpEntry{MakerFtpName, ""} : t.Ftp[1];
        PanelMess->Caption = "Ruční archivace na FTP server";
        backupThenUpload("19");
    } else if (mode == 50) {
        PanelMess->Caption = "Archivace na " + TargetStatusText(letter, t.Ftp);
        PackPayslips();
    } else if (mode == 99) {
        SetBackupSideCommands(false);
        mnuArchivace->Enabled = false;
        PanelMess->Caption = "";
        ShowTargetImage(5);
        WebDownloadArchive(letter, 70);
        if (lstFileSpec->CanFocus())
            lstFileSpec->SetFocus();
        Screen->SetCursor(crDefault);
        return;
    }

    ShowTargetImageForLetter(letter);
    Screen->SetCursor(crDefault);
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = t.TargetFolder;
}

void TFormTorvo::FinishRequest()
{
    // Requests that arrive while the reply goes out are not served any more.
    state_.Finished = true;
    SetProgramSubKey();
    CheckInstallPath(ExeFolder(), XFileVersion1->Query("FileVersion"), [](const std::string& text) {
        return Application->MessageBox(text, InstallQuestionCaption, MB_OKCANCEL) == IDOK;
    });
    ZipView1->Hide();
    lstFileSpec->Hide();
    Screen->SetCursor(crHourGlass);
    SendReplyRecord(state_.ReplyWindow, state_.Mode);
    Screen->SetCursor(crDefault);
    ::ForceForeground(state_.ReplyWindow);
    Application->Terminate();
}

bool TFormTorvo::FileExists(const std::string& fileName)
{
    return win::FileExists(fileName);
}

void TFormTorvo::DeleteFile(const std::string& fileName)
{
    DeleteFileForced(fileName);
}

bool TFormTorvo::ReadDefinitionFile()
{
    std::string refused;
    const bool read = ::ReadDefinitionFile(state_.DataFolder, state_.DefinitionFileName, state_.Definition, &refused);
    if (!refused.empty())
        Application->MessageBox(refused, MenuErrorCaption, MB_OK | MB_ICONEXCLAMATION);
    RunComment = state_.Definition.Comment1;
    return read;
}

std::string TFormTorvo::FindMenuReturnValue(const std::string& section, int n, bool reportErrors,
                                            const std::string& menuFile)
{
    return ::FindMenuReturnValue(section, n, reportErrors, menuFile, [](const std::string& text) {
        Application->MessageBox(text, MenuErrorCaption, MB_OK | MB_ICONEXCLAMATION);
    });
}

void TFormTorvo::ClearFtpEntries()
{
    target_.Ftp = {};
}

void TFormTorvo::MinimiseApplication(bool minimise)
{
    if (minimise)
        Application->Minimize();
    else
        Application->Restore();
}

void TFormTorvo::CloseMenuForm()
{
    ::CloseMenuForm();
}

void TFormTorvo::ForceForeground(HWND window)
{
    ::ForceForeground(window);
}

void TFormTorvo::ColourForAutomaticRun()
{
    ZipView1->SetColor(AutomaticListColour);
}

void TFormTorvo::ShowControlsForMode(std::int32_t mode)
{
    // Test reveals "&Action" for one use of the manager; a new run starts without it.
    mnuAction->Visible = false;
    if (mode == 0) {
        lstFileSpec->Hide();
        ZipView1->Show();
        ZipView1->SetAlign(alClient);
        SetBackupSideCommands(true);
    } else if (mode == 1 || mode == 2 || mode == 7 || mode == 9) {
        ZipView1->Hide();
        lstFileSpec->Show();
        lstFileSpec->SetAlign(alClient);
        SetBackupSideCommands(false);
    }
}

void TFormTorvo::AutomaticRunDone()
{
    LabelMess->SetCaption("");
    PanelMess->Caption = "";
    Constraints.MaxHeight = pnlStatus->Top() - PanelMess->Top() + PanelMess->Height();
    // The finished run folds the window up to its message: the list need not show any more.
    Constraints.MinHeight = std::min(Constraints.MinHeight, Constraints.MaxHeight);
    SetBounds(Left(), Top(), Width(), Height());
}
