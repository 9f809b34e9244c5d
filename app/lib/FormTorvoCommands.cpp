// The archive manager's commands beyond listing, extracting and deleting: test, comments, rename,
// save as, encode, view/run, empty folders, elapsed time, sorting and the controls' own keys.
#include "app/lib/FormTorvo.h"

#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormEditComments.h"
#include "app/lib/FormInput.h"
#include "app/lib/FormRunFile.h"
#include "app/lib/FormTestArchive.h"
#include "app/lib/FormUUEncode.h"
#include "app/lib/SharedDialog.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "platform/win/Errors.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/ShownPath.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "readers/Pelix.h"
#include "readers/plxUnZIP.h"
#include "readers/plxZipCheck.h"
#include "readers/plxZipRun.h"
#include "readers/view/plxZipView.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"

#include <filesystem>

using namespace vcl;

namespace {

std::uint8_t SortKindOf(int column)
{
    switch (column) {
    case zcDateTime:
        return skDateTime;
    case zcPacked:
    case zcUnpacked:
    case zcRatio:
    case zcOffset:
        return skInteger;
    default:
        return skText;
    }
}

// Two names of one file, however they are spelt.
bool SameFile(const std::string& a, const std::string& b)
{
    std::string hostA, hostB;
    if (!win::ToHostPath(a, hostA) || !win::ToHostPath(b, hostB))
        return win::SameText(a, b);
    std::error_code ec;
    return hostA == hostB || std::filesystem::equivalent(hostA, hostB, ec);
}

}  // namespace

void TFormTorvo::BuildCommandControls()
{
    ZipView1->OnHeaderClick = [this](THeaderControl*, THeaderSection* section) {
        ZipView1->SortKind = SortKindOf(section->Index);
        ZipView1->Sort();
    };
    ZipView1->OnSortCompare = [](vcl::TObject*, std::string& a, std::string& b, int column) {
        if (column != zcRatio)
            return;
        for (std::string* text : {&a, &b})
            if (!text->empty())
                text->pop_back();  // the "%"
    };
    const auto noArchive = [] { Application->MessageBox("No archive loaded...", "TORVO", MB_OK); };
    Edit1->OnKeyDown = [this, noArchive](TObject*, WORD& key, TShiftState) {
        if (key != VK_RETURN || !ManagerIdle())
            return;
        key = 0;
        if (!IsRecognisedType(Pelix1->ArcType()) || Pelix1->ArchiveFile().empty())
            noArchive();
        else if (!Edit1->Text().empty())
            DisplayFile(Pelix1->ArchiveFile());
    };
    Edit2->OnKeyDown = [this, noArchive](TObject*, WORD& key, TShiftState) {
        if (key != VK_RETURN || !ManagerIdle())
            return;
        key = 0;
        if (!IsRecognisedType(Pelix1->ArcType()) || Pelix1->ArchiveFile().empty()) {
            noArchive();
            return;
        }
        Pelix1->SetExcludeSpec(Edit2->Text().empty() ? std::vector<std::string>{}
                                                     : std::vector<std::string>{Edit2->Text()});
        DisplayFile(Pelix1->ArchiveFile());
    };
    const auto showChosen = [this] {
        const int index = ComboBox1->ItemIndex();
        const std::string chosen = index >= 0 ? ComboBox1->Items[index] : ComboBox1->Text();
        if (!chosen.empty()) {
            if (chosen != Pelix1->ArchiveFile())
                ForgetArchiveSettings();
            DisplayFile(chosen);
        }
        else if (Edit1->CanFocus())
            Edit1->SetFocus();
    };
    ComboBox1->OnSelect = [this, showChosen](TObject*) {
        if (ManagerIdle())
            showChosen();
    };
    ComboBox1->OnKeyDown = [this, showChosen](TObject*, WORD& key, TShiftState) {
        if (key != VK_RETURN || !ManagerIdle())
            return;
        key = 0;
        showChosen();
    };
    // A member's double-click or Enter views or runs it, as a person expects of an archive list.
    ZipView1->OnDblClick = [this](TObject*) {
        if (ZipView1->GetItemIndex() >= 0 && ManagerIdle())
            ViewRunClick();
    };
    ZipView1->OnKeyDown = [this](TObject*, WORD& key, TShiftState shift) {
        if (key == VK_RETURN && !shift && ZipView1->GetItemIndex() >= 0) {
            key = 0;
            if (ManagerIdle())
                ViewRunClick();
        }
    };
    StatusBar1->OnClick = [this](TObject*) { DisplayTotals(0); };
    ListView1->OnClick = [this](TObject*) { DisplayTotals(1); };
    // The members' list is the one a person clicks and moves through: its totals and "Index:"
    // follow every change of row, by mouse or key (Ctrl+arrows move the caret without a click).
    // During an operation the status bar is the operation's.
    const auto rowChanged = [this] {
        if (!OperationRunning() && busyDepth_ == 0)
            DisplayTotals(1);
    };
    ZipView1->OnClick = [rowChanged](TObject*) { rowChanged(); };
    // A right click picks its row before the pop-up opens over it.
    ZipView1->OnMouseUp = [rowChanged](TObject*, TMouseButton button, TShiftState, int, int) {
        if (button == mbRight)
            rowChanged();
    };
    ZipView1->OnKeyUp = [rowChanged](TObject*, WORD& key, TShiftState) {
        if (key == VK_UP || key == VK_DOWN || key == VK_HOME || key == VK_END || key == VK_PRIOR || key == VK_NEXT)
            rowChanged();
    };
}

void TFormTorvo::SortByColumn(int column)
{
    if (column >= 0 && column < ZipView1->SectionCount())
        ZipView1->HeaderClick(ZipView1->HeaderSection(column));
}

void TFormTorvo::TestClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !IsRecognisedType(Pelix1->ArcType())) {
        mnuAction->Visible = true;
        return;
    }
    auto* dialog = SharedDialog<TfrmTestArchive>(this);
    dialog->ZipCheck1->TranslateOemChar = Pelix1->TranslateOemChar;
    dialog->Password2 = Password2Dialog();
    if (IsZipFamilyType(Pelix1->ArcType()))
        ApplySeedKeys(*dialog->ZipCheck1);
    dialog->PrepareFor(archive, SelectedEntryNames(false));
    {
        // The test runs inside the dialog; nothing else may start meanwhile.
        TOperationScope operation(*this);
        dialog->ShowModal();
    }
    if (dialog->TestedNestedTar() && Application->MessageBox("Display contents of the extracted tar archive?", "Test",
                                                             MB_YESNO | MB_ICONQUESTION) == IDYES)
        DisplayFile(archive);
}

void TFormTorvo::EditCommentClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !IsRecognisedType(Pelix1->ArcType()))
        return;
    if (!IsZipFamilyType(Pelix1->ArcType())) {
        Application->MessageBox("Comment editing is not supported with this type of archive", "Edit Comment", MB_OK);
        return;
    }
    auto* dialog = SharedDialog<TfrmEditComments>(this);
    dialog->PrepareFor(*Zip1, archive, Pelix1->ArcType());
    {
        TOperationScope operation(*this);
        const std::size_t errorMark = ErrorMessages.size();
        dialog->ShowModal();
        ShowErrorsSince(errorMark);
    }
    DisplayFile(archive);
}

void TFormTorvo::RenameClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !win::FileExists(archive))
        return;
    auto* input = SharedDialog<TfrmInput>(this);
    const std::optional<std::string> name =
        input->Ask("Rename current archive...", "New name:", win::ExtractFileName(archive));
    if (!name || win::Trim(*name).empty())
        return;
    // A bare name stays in the archive's folder.
    const std::string target = win::ExtractFilePath(*name).empty() ? win::ExtractFilePath(archive) + *name : *name;
    PlaceArchiveAs(target, true);
}

void TFormTorvo::SaveAsClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !win::FileExists(archive))
        return;
    SaveDialog1->Title = "Save As...";
    SaveDialog1->Filter = std::string(LoadMessage(E_ARCHIVESFILTER));
    SaveDialog1->InitialDir = win::ExtractFilePath(archive);
    SaveDialog1->FileName = win::ExtractFileName(archive);
    if (SaveDialog1->Execute())
        PlaceArchiveAs(SaveDialog1->FileName, false);
}

void TFormTorvo::PlaceArchiveAs(const std::string& target, bool move)
{
    const std::string archive = Pelix1->ArchiveFile();
    const char* caption = move ? "Rename" : "Save As";
    // Copying a file onto itself would empty it; renaming it to itself changes nothing.
    if (SameFile(archive, target))
        return;
    // A set spanned over removable disks has one volume per disk: only the one in the drive is here.
    if (Pelix1->ArcType() == atZipDS) {
        Application->MessageBox("A set spanned over several disks cannot be renamed or copied as a whole.", caption,
                                MB_OK | MB_ICONSTOP);
        return;
    }
    // A split set goes as a whole: its numbered volumes first, the last volume (the archive) after them.
    std::vector<std::pair<std::string, std::string>> files;
    if (Pelix1->ArcType() == atZipMV)
        for (int n = 1; win::FileExists(Pelix1->NumberedSplitName(archive, n)); ++n)
            files.emplace_back(Pelix1->NumberedSplitName(archive, n), Pelix1->NumberedSplitName(target, n));
    files.emplace_back(archive, target);
    bool present = false;
    for (const auto& [from, to] : files)
        present = present || win::FileExists(to);
    if (present &&
        Application->MessageBox("Archive already exists... overwrite?", caption, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    for (std::size_t done = 0; done < files.size(); ++done) {
        const auto& [from, to] = files[done];
        const BOOL placed =
            move ? MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)
                 : CopyFileA(from.c_str(), to.c_str(), FALSE);
        if (placed)
            continue;
        const std::string reason = win::SysErrorMessage(GetLastError());
        // Never half a set: what was placed goes back (or away, for copies).
        for (std::size_t i = done; i-- > 0;) {
            if (move)
                MoveFileExA(files[i].second.c_str(), files[i].first.c_str(), MOVEFILE_COPY_ALLOWED);
            else
                ::DeleteFileA(files[i].second.c_str());
        }
        Application->MessageBox(to + "\r\r" + reason, caption, MB_OK | MB_ICONSTOP);
        return;
    }
    // Volumes of an older, longer set under the new name belong to nothing now.
    if (files.size() > 1)
        for (int n = int(files.size()); win::FileExists(Pelix1->NumberedSplitName(target, n)); ++n)
            ::DeleteFileA(Pelix1->NumberedSplitName(target, n).c_str());
    if (move) {
        const int old = ComboBox1->Items.IndexOf(archive);
        if (old >= 0)
            ComboBox1->Items.Delete(old);
    }
    DisplayFile(target);
}

void TFormTorvo::EncodeClick()
{
    auto* dialog = SharedDialog<TfrmUUEncode>(this);
    dialog->PrepareFor(*UUEncode1, Pelix1->ArchiveFile());
    if (dialog->ShowModal() != mrOk)
        return;
    TOperationScope operation(*this);
    const std::size_t errorMark = ErrorMessages.size();
    const int encoded = UUEncode1->Compress();
    ShowErrorsSince(errorMark);
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = encoded > 0 ? "Encoded: " + ShownPath(UUEncode1->OutFilename()) : "Nothing encoded";
}

void TFormTorvo::ViewRunClick()
{
    const std::string archive = Pelix1->ArchiveFile();
    if (archive.empty() || !IsRecognisedType(Pelix1->ArcType()))
        return;
    ApplySeedKeys(*ZipRun1);
    auto* dialog = SharedDialog<TfrmRunFile>(this);
    dialog->PrepareFor(*ZipRun1, archive, SelectedEntryNames(false));
    if (dialog->ShowModal() != mrOk)
        return;
    TOperationScope operation(*this);
    const std::size_t errorMark = ErrorMessages.size();
    // Its shared activate/deactivate handlers light the LED and make it the one a click cancels.
    ZipRun1->Activate();
    ShowErrorsSince(errorMark);
}

void TFormTorvo::BlankDirsClick()
{
    mnuBlankDirs->Checked = !mnuBlankDirs->Checked;
    Pelix1->ShowEmptyDirs = mnuBlankDirs->Checked;
    RefreshClick();
}

void TFormTorvo::ElapsedTimeClick()
{
    // Every component's shared handler reads the check mark.
    mnuElapsedTime->Checked = !mnuElapsedTime->Checked;
}

void TFormTorvo::ReportElapsedTime(::TObject* sender, float seconds)
{
    const auto* component = dynamic_cast<const TZipCommon*>(sender);
    const double bytes = component ? double(component->UnpackedTotal) : 0.0;
    const double perSecond = seconds > 0 ? bytes / double(seconds) : 0.0;
    Application->MessageBox(
        win::Format("Seconds: %g\rBytesPerSec: %.0n\r\rOnElapsedTime event", {double(seconds), perSecond}),
        "Elapsed time", MB_OK);
}
