// The archive manager of the main window: the hidden "&File", "&Action" and "&View" menus and the
// commands that list, extract and delete.
#include "app/lib/FormTorvo.h"
#include "platform/win/ShownPath.h"

#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormAddFiles.h"
#include "app/lib/FormComment.h"
#include "app/lib/FormExtract.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/SharedDialog.h"
#include "core/Err_Msgs.h"
#include "core/UnBase.h"
#include "core/plxGbls.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "readers/Pelix.h"
#include "readers/plxUnZIP.h"
#include "readers/view/plxZipView.h"
#include "writers/WriterForType.h"
#include "writers/plxZip.h"

#include <algorithm>
#include <cmath>

using namespace vcl;

namespace {

TMenuItem* Line(TComponent* owner)
{
    return NewItem(owner, "-");
}

TMenuItem* HiddenMenu(TMainMenu* menu, TComponent* owner, const char* caption, std::initializer_list<TMenuItem*> items)
{
    TMenuItem* top = NewItem(owner, caption);
    for (TMenuItem* item : items)
        top->Add(item);
    top->Visible = false;
    menu->Items()->Add(top);
    return top;
}

}  // namespace

void TFormTorvo::BuildManagerMenus()
{
    const auto run = [this](void (TFormTorvo::*command)()) {
        return [this, command](TObject*) {
            if (ManagerIdle())
                (this->*command)();
        };
    };
    mnuOpen = NewItem(this, "&Open", VK_F2, run(&TFormTorvo::OpenClick));
    mnuClose = NewItem(this, "&Close", 0, run(&TFormTorvo::CloseClick));
    mnuSaveAs = NewItem(this, "Save &As...", 0, run(&TFormTorvo::SaveAsClick));
    mnuFile = HiddenMenu(
        MainMenu1, this, "&File",
        {mnuOpen, mnuClose, mnuSaveAs, Line(this), NewItem(this, "E&xit", 0, [this](TObject*) { Close(); })});
    mnuDelete = NewItem(this, "&Delete", 0, run(&TFormTorvo::DeleteClick));
    mnuExtract = NewItem(this, "&Extract", ShortCut('E', ssCtrl), run(&TFormTorvo::ExtractClick));
    mnuRefresh = NewItem(this, "&Refresh", VK_F5, run(&TFormTorvo::RefreshClick));
    mnuAddFiles = NewItem(this, "&Add Files", ShortCut('A', ssCtrl), run(&TFormTorvo::AddFilesClick));
    mnuEditComment = NewItem(this, "Edit &Comment...", ShortCut('C', ssCtrl), run(&TFormTorvo::EditCommentClick));
    mnuRename = NewItem(this, "Re&name Archive", 0, run(&TFormTorvo::RenameClick));
    mnuTest = NewItem(this, "&Test Archive...", ShortCut('T', ssCtrl), run(&TFormTorvo::TestClick));
    mnuEncode = NewItem(this, "Encode (&uue,xxe,b64)", 0, run(&TFormTorvo::EncodeClick));
    mnuAction = HiddenMenu(MainMenu1, this, "&Action",
                           {mnuAddFiles, mnuDelete, mnuExtract, mnuRefresh, Line(this), mnuEditComment, mnuRename,
                            mnuTest, Line(this), mnuEncode});
    mnuBlankDirs = NewItem(this, "&Blank Directories", 0, run(&TFormTorvo::BlankDirsClick));
    mnuSort = NewItem(this, "&Sort", 0, [](TObject*) {
        Application->MessageBox("Klikněte (pravým tlačítkem na myši) na titulek daného sloupce.", "Sort", MB_OK);
    });
    mnuElapsedTime = NewItem(this, "Display &ElapsedTime", 0, [this](TObject*) { ElapsedTimeClick(); });
    mnuView = HiddenMenu(MainMenu1, this, "&View", {mnuBlankDirs, mnuSort, mnuElapsedTime});

    PopupMenu1 = new TPopupMenu(this);
    PopupMenu1->Name = "PopupMenu1";
    for (TMenuItem* item : {NewItem(this, "Add Files", 0, run(&TFormTorvo::AddFilesClick)),
                            NewItem(this, "Delete", 0, run(&TFormTorvo::DeleteClick)),
                            NewItem(this, "Extract", 0, run(&TFormTorvo::ExtractClick)),
                            NewItem(this, "Refresh", 0, run(&TFormTorvo::RefreshClick)), Line(this),
                            NewItem(this, "Add/Edit file comment", 0, run(&TFormTorvo::EditCommentClick)),
                            NewItem(this, "&Test Archive", 0, run(&TFormTorvo::TestClick)),
                            NewItem(this, "&View / Run", 0, run(&TFormTorvo::ViewRunClick))})
        PopupMenu1->Items()->Add(item);
    ListView1->PopupMenu = PopupMenu1;
    // The list the user sees is ZipView1: the commands of the hidden list are offered there too.
    ZipView1->PopupMenu = PopupMenu1;

    const std::array<void (TFormTorvo::*)(), 6> buttonCommands = {&TFormTorvo::OpenClick,     nullptr,
                                                                  &TFormTorvo::AddFilesClick, &TFormTorvo::ExtractClick,
                                                                  &TFormTorvo::ViewRunClick,  &TFormTorvo::TestClick};
    for (std::size_t i = 0; i < BitBtn.size(); ++i)
        if (buttonCommands[i])
            BitBtn[i]->OnClick = run(buttonCommands[i]);
    BuildCommandControls();
}

bool TFormTorvo::ManagerIdle()
{
    // A command that arrives while an operation or a component pumps messages would run inside it.
    if (!OperationRunning() && busyDepth_ == 0)
        return true;
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = "Busy...";
    return false;
}

void TFormTorvo::DisplayFile(const std::string& archiveFile)
{
    TOperationScope operation(*this);
    // Relative names in the add dialog start from the archive's folder.
    ChangeDirOfFile(archiveFile);
    mnuClose->Enabled = true;
    if (!RefreshList(archiveFile)) {
        Caption = "";
        DisplayTotals(0);
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = ShownPath(archiveFile) + ": not a recognised archive";
        return;
    }
    const int shown = ComboBox1->Items.IndexOf(archiveFile);
    if (shown >= 0)
        ComboBox1->Items.Delete(shown);
    ComboBox1->Items.Insert(0, archiveFile);
    ComboBox1->SetItemIndex(0);
    Caption = ShownPath(archiveFile);
    // The window hides its list until a request shows it; an archive the user opened is shown.
    if (!ZipView1->Visible()) {
        lstFileSpec->Hide();
        ZipView1->Show();
        ZipView1->SetAlign(alClient);
    }
    // The arrow keys work in the rows at once, without a click first.
    TWinControl* focused = ActiveControl();
    if ((!focused || !focused->Showing()) && ZipView1->ListBox()->CanFocus())
        ZipView1->ListBox()->SetFocus();
    ShowArchiveComment();
    DisplayTotals(0);
}

void TFormTorvo::DisplayTotals(int mode)
{
    if (mode == 1 && ZipView1->GetSelCount() == 0)
        mode = 0;
    std::int64_t packed = 0, unpacked = 0;
    int count = 0;
    if (mode == 0) {
        count = ZipView1->Items.Count();
        packed = Pelix1->PackedTotal;
        unpacked = Pelix1->UnpackedTotal;
    } else {
        for (int i = 0; i < ZipView1->Items.Count(); ++i) {
            if (mode == 1 && !ZipView1->GetSelected(i))
                continue;
            const std::vector<std::string>& row = ZipView1->Items.Fields(i);
            packed += std::atoll(row[zcPacked].c_str());
            unpacked += std::atoll(row[zcUnpacked].c_str());
            ++count;
        }
    }
    const int ratio =
        unpacked > 0 && unpacked > packed ? int(std::lround(double(unpacked - packed) * 100.0 / double(unpacked))) : 0;
    const int focused = ZipView1->GetItemIndex();
    StatusBar1->Panels[0].Text = count > 0 ? win::Trim(ArcTypeName(Pelix1->ArcType())) : "";
    StatusBar1->Panels[1].Text = "Soubory: " + std::to_string(count);
    StatusBar1->Panels[2].Text = "Pakováno: " + win::Format("%.0f", {double(packed)});
    StatusBar1->Panels[3].Text = "Velikost: " + win::Format("%.0f", {double(unpacked)});
    StatusBar1->Panels[4].Text = "Poměr: " + std::to_string(ratio) + "%";
    StatusBar1->Panels[5].Text = "Index: " + std::to_string(focused >= 0 ? focused + 1 : 0);
    ShowProgress(false);
    FitStatusPanels();
    StatusBar1->SimplePanel = false;
    StatusBar1->Invalidate();
}

void TFormTorvo::FitStatusPanels()
{
    // The frame and the text's margins take 8 pixels; a little air keeps the last digit clear.
    constexpr int margins = 14;
    for (std::size_t i = 0; i < StatusBar1->Panels.size() && i < std::size(StatusPanelWidths); ++i) {
        TStatusPanel& panel = StatusBar1->Panels[i];
        const int needed = WidgetSet().TextExtent(panel.Text, StatusBar1->Font).cx + margins;
        panel.Width = std::max(StatusPanelWidths[i], needed);
    }
}

void TFormTorvo::ShowArchiveComment()
{
    if (!IsZipFamilyType(Pelix1->ArcType()))
        return;
    const std::string comment = ReadEntriesAndComment(Pelix1->ArchiveFile()).second;
    if (comment.empty())
        return;
    auto* window = SharedDialog<TfrmComment>(this);
    window->Memo1->SetText(comment);
    window->Memo1->ReadOnly = true;
    window->ShowModal();
    window->Memo1->Clear();
}

void TFormTorvo::OpenClick()
{
    OpenDialog1->Title = "Open Archive...";
    OpenDialog1->Filter = std::string(LoadMessage(E_ARCHIVESFILTER));
    // The name offered lies in the folder the dialog starts in, so Enter on it opens that file:
    // the open archive, else the file chosen last time.
    const std::string offered = !Pelix1->ArchiveFile().empty() ? Pelix1->ArchiveFile() : OpenDialog1->FileName;
    if (!offered.empty()) {
        OpenDialog1->InitialDir = win::ExtractFilePath(offered);
        OpenDialog1->FileName = win::ExtractFileName(offered);
    }
    if (!OpenDialog1->Execute())
        return;
    ForgetArchiveSettings();
    DisplayFile(OpenDialog1->FileName);
}

void TFormTorvo::CloseClick()
{
    Pelix1->SetArchiveFile("");
    ApplicationBusy();
    ComboBox1->SetItemIndex(-1);
    ZipView1->Items.Clear();
    ApplicationWaiting();
    StatusBar1->SimplePanel = true;
}

void TFormTorvo::RefreshClick()
{
    if (!Pelix1->ArchiveFile().empty())
        DisplayFile(Pelix1->ArchiveFile());
}

std::vector<std::string> TFormTorvo::SelectedEntryNames(bool allWhenNone) const
{
    std::vector<std::string> names, all;
    for (int i = 0; i < ZipView1->Items.Count(); ++i) {
        const std::vector<std::string>& row = ZipView1->Items.Fields(i);
        std::string name = row[zcFolder] + row[zcName];
        if (ZipView1->GetSelected(i))
            names.push_back(name);
        all.push_back(std::move(name));
    }
    return names.empty() && allWhenNone ? all : names;
}

void TFormTorvo::ExtractClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !IsRecognisedType(Pelix1->ArcType()))
        return;
    TUnBase* const extractor = ExtractComponentFor(Pelix1->ArcType());
    if (!extractor) {
        Application->MessageBox("Extract not supported for this filetype.", "Extract", MB_OK);
        return;
    }
    if (!frmExtract)
        frmExtract = SharedDialog<TfrmExtract>(this);
    frmExtract->OnChangeSeedKeys = [this] { SeedKeysDialog()->ShowModal(); };
    const std::vector<std::string> selected = SelectedEntryNames(false);
    frmExtract->PrepareFor(!selected.empty());
    if (frmExtract->ShowModal() != mrOk)
        return;
    TOperationScope operation(*this);
    TUnBase& z = *extractor;
    ApplySeedKeys(z);
    z.SetArchiveFile(archive);
    z.SetExtractDir(TypedPath(frmExtract->Edit1->Text()));
    z.UseStoredDirs = frmExtract->CheckBox1->Checked();
    z.ConfirmOverwrites = frmExtract->CheckBox2->Checked();
    if (!z.ConfirmOverwrites)
        z.OverwriteMode = omOverwrite;
    z.RestoreFileAttr = frmExtract->CheckBox3->Checked();
    z.CreateStoredDirs = frmExtract->CheckBox4->Checked();
    z.RecurseDirs = frmExtract->CheckBox5->Checked();
    z.DateAttribute = TDateAttribute(std::max(0, frmExtract->ComboBox1->ItemIndex()));
    const bool some = frmExtract->SelectedFilesOnly() && !selected.empty();
    z.ExactFileSpec = some;
    z.SetFileSpec(some ? selected : std::vector<std::string>{"*.*"});
    const std::size_t errorMark = ErrorMessages.size();
    StatusBar1->SimplePanel = true;  // the member being written, not the listing's panels
    ShowProgress(true);
    const int count = z.Extract();
    z.ExactFileSpec = false;
    ShowProgress(false);  // full bars would read as work still going on
    const std::size_t failures = ErrorMessages.size() - errorMark;
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = "Files Extracted: " + std::to_string(std::max(0, count)) +
                             (failures ? ", errors: " + std::to_string(failures) : "");
    // A damaged member or a refused password must not end in silence.
    ShowErrorsSince(errorMark);
}

void TFormTorvo::DeleteClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    const std::vector<std::string> selected = SelectedEntryNames(false);
    if (archive.empty() || selected.empty()) {
        Application->MessageBox("No files selected to delete", "Delete", MB_OK);
        return;
    }
    if (Application->MessageBox("Delete selected file(s)?", "Delete", MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    // Only the archive's own writer may rewrite it: any other would change its format.
    const std::unique_ptr<TCompBase> writer = NewWriterForType(Pelix1->ArcType());
    if (!writer) {
        Application->MessageBox("Delete is not supported for this type of archive.", "Delete", MB_OK);
        return;
    }
    int deleted = 0;
    {
        TOperationScope operation(*this);
        const std::size_t errorMark = ErrorMessages.size();
        writer->OnError = Zip1->OnError;
        ApplySeedKeys(*writer);
        writer->SetArchiveFile(archive);
        writer->Switch = swDelete;
        // Structured rows matched by their exact names: ";", "*" and "?" in a name are plain characters.
        writer->ExactFileSpec = true;
        writer->SetFileSpec(selected);
        ShowProgress(true);
        deleted = std::max(0, writer->Compress());
        ShowProgress(false);
        ShowErrorsSince(errorMark);
    }
    if (win::FileExists(archive))
        DisplayFile(archive);
    else
        Caption = "";
    if (deleted > 0) {
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = "Deleted : " + std::to_string(deleted) + " files";
    }
}

void TFormTorvo::AddFilesClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty()) {
        Application->MessageBox("Archív je otevřen před přidáním souborů.", "Add", MB_OK);
        return;
    }
    // Only a type that its own writer updates in place: any other writer would replace the
    // archive by one that holds the added files alone.
    const TArcType type = Pelix1->ArcType();
    if (!NewWriterForType(type) || !DefineCompressComponent(type)) {
        Application->MessageBox("Adding files is not supported for this type of archive.", "Add", MB_OK);
        return;
    }
    TfrmAddFiles* dialog = AddFilesDialog();
    dialog->OnDefineCompressor = [this](TArcType t) -> TCompBase* {
        return DefineCompressComponent(t) ? compressor_ : nullptr;
    };
    dialog->PrepareFor(archive, type);
    OfferSplit();
    const bool chosen = dialog->ShowModal() == mrOk && compressor_;
    dialog->OnDefineCompressor = nullptr;
    dialog->PrepareFor("", atNA);
    if (!chosen)
        return;
    const int added = RunCompressor();
    DisplayFile(archive);
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = "Přidané/aktualizované soubory: " + std::to_string(added);
}
