#include "app/lib/FormEditComments.h"
#include "core/ArcDescriptor.h"

#include "app/lib/FormBuild.h"
#include "core/plxGbls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/CodePage.h"
#include "platform/win/ShownPath.h"
#include "writers/plxZip.h"

#include <algorithm>

using namespace vcl;

namespace {

// Comments are stored in the archive's code page, shown as the program's text.
std::string CommentText(const std::vector<std::uint8_t>& bytes)
{
    return win::AnsiToUtf8(std::string(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> StoredBytes(const std::string& text)
{
    const std::string ansi = win::Utf8ToAnsi(text);
    return {ansi.begin(), ansi.end()};
}

}  // namespace

TfrmEditComments::TfrmEditComments(TComponent* owner) : TForm(owner)
{
    Name = "frmEditComments";
    Caption = "Edit Comments...";
    BorderStyle = bsDialog;
    Position = poScreenCenter;
    SetClientWidth(460);
    SetClientHeight(320);
    const auto label = [this](const char* name, const char* caption, int left, int top, int width) {
        auto* l = Place(this, new TLabel(this), name, left, top, width, 16);
        l->SetCaption(caption);
        return l;
    };
    label("", "Archive:", 8, 8, 70);
    lblArchive = label("lblArchive", "", 80, 8, 372);
    label("", "FileName:", 8, 28, 70);
    lblFileName = label("lblFileName", "", 80, 28, 300);
    lblCount = label("lblCount", "", 380, 28, 72);
    lblScroll = label("lblScroll", "Scroll File Comments:", 8, 52, 150);
    ScrollBar1 = Place(this, new TScrollBar(this), "ScrollBar1", 160, 50, 292, 18);
    ScrollBar1->SetParams(1, 1, 1);
    Memo1 = Place(this, new TMemo(this), "Memo1", 8, 76, 444, 192);
    Memo1->ScrollBars = ssVertical;
    btnEditMain = Place(this, new TButton(this), "btnEditMain", 8, 282, 110, 28);
    btnEditMain->Caption = "&Edit main...";
    btnOK = Place(this, new TButton(this), "btnOK", 280, 282, 84, 28);
    btnOK->Caption = "&Ok";
    btnOK->ModalResult = mrOk;
    btnCancel = Place(this, new TButton(this), "btnCancel", 368, 282, 84, 28);
    btnCancel->Caption = "&Cancel";
    btnCancel->Cancel = true;
    btnCancel->ModalResult = mrNo;

    ScrollBar1->OnChange = [this](TObject*) {
        if (!loaded_ || editingMain_)
            return;
        StoreEntry();
        ShowEntry(ScrollBar1->Position() - 1);
    };
    btnEditMain->OnClick = [this](TObject*) { ToggleMain(); };
    // Runs before the button's modal result ends the dialog.
    btnOK->OnClick = [this](TObject*) { OkClick(); };
    OnActivate = [this](TObject*) { Load(); };
    OnDeactivate = [this](TObject*) { Leave(); };
}

void TfrmEditComments::PrepareFor(TZipBase& zip, const std::string& archive, TArcType type)
{
    zip_ = &zip;
    archive_ = archive;
    type_ = type;
}

void TfrmEditComments::Load()
{
    loaded_ = false;
    editingMain_ = false;
    count_ = 0;
    current_ = -1;
    btnEditMain->Caption = "&Edit main...";
    lblArchive->SetCaption(ShownPath(archive_));
    lblFileName->SetCaption("");
    lblCount->SetCaption("");
    Memo1->Clear();
    const bool supported = zip_ && HasArcFlag(type_, arcflag::Comment);
    Memo1->ReadOnly = !supported;
    ScrollBar1->SetEnabled(supported);
    btnEditMain->SetEnabled(supported);
    if (!supported) {
        Memo1->SetText(type_ == atZipMV ? "Not a comment supported archive.\r\nUse TZipSplitGlue to combine all "
                                          "archive parts and retry"
                                        : "Not a comment supported archive");
        return;
    }
    zip_->SetArchiveFile(archive_);
    count_ = zip_->ReadComments();
    ScrollBar1->SetParams(1, 1, std::max(1, count_));
    loaded_ = true;
    if (count_ > 0)
        ShowEntry(0);
}

void TfrmEditComments::ShowEntry(int index)
{
    current_ = index;
    std::string name;
    std::vector<std::uint8_t> comment;
    zip_->GetFileComment(index, name, comment);
    lblFileName->SetCaption(name);
    Memo1->SetText(CommentText(comment));
    lblCount->SetCaption(std::to_string(index + 1) + " of " + std::to_string(count_));
}

void TfrmEditComments::StoreEntry()
{
    // An emptied memo clears the entry's comment.
    if (loaded_ && current_ >= 0)
        zip_->SetFileComment(current_, StoredBytes(Memo1->Text()));
}

void TfrmEditComments::StoreMain()
{
    const std::vector<std::uint8_t> bytes = StoredBytes(Memo1->Text());
    TMainCommentStream& main = zip_->MainComment;
    if (bytes.empty()) {
        main.SetSize64(0);
        main.Modified = true;
    } else {
        main.SetComment(reinterpret_cast<const char*>(bytes.data()),
                        std::uint16_t(std::min<std::size_t>(bytes.size(), 0xFFFF)));
    }
}

void TfrmEditComments::ToggleMain()
{
    if (!loaded_)
        return;
    if (!editingMain_) {
        StoreEntry();
        std::vector<std::uint8_t> bytes(std::size_t(zip_->MainComment.Size()));
        std::uint16_t length = 0;
        if (!bytes.empty())
            zip_->MainComment.GetComment(reinterpret_cast<char*>(bytes.data()), length);
        bytes.resize(length);
        mainShown_ = CommentText(bytes);
        Memo1->SetText(mainShown_);
        editingMain_ = true;
        btnEditMain->Caption = "&Edit file(s)...";
        lblFileName->SetCaption("*Editing the main archive comment");
        lblCount->SetCaption("");
        return;
    }
    if (Memo1->Text() != mainShown_ && MessageDlg("Save main archive comment?", mtConfirmation, mbYes | mbNo) == mrYes)
        StoreMain();
    editingMain_ = false;
    btnEditMain->Caption = "&Edit main...";
    if (count_ > 0)
        ShowEntry(current_ < 0 ? 0 : current_);
    else
        Memo1->Clear();
}

void TfrmEditComments::OkClick()
{
    if (!loaded_)
        return;
    // The memo holds the main comment while it is edited: it belongs there, not to an entry.
    if (editingMain_) {
        if (Memo1->Text() != mainShown_)
            StoreMain();
        return;
    }
    StoreEntry();
}

void TfrmEditComments::Leave()
{
    if (!loaded_)
        return;
    loaded_ = false;
    bool save = false;
    if (zip_->CommentsModified())
        save = MessageDlg("Save changes?", mtConfirmation, mbYes | mbNo) == mrYes;
    zip_->SaveComments(save);
}
