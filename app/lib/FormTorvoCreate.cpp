// The archive manager's "&New": the writer of each archive type, the add dialog that sets it up
// and the run that writes the new archive.
#include "app/lib/FormTorvo.h"

#include "app/lib/FormAddFiles.h"
#include "app/lib/FormPassword.h"
#include "app/lib/FormSeedKeys.h"
#include "app/lib/FormSplitArchive.h"
#include "core/ArcDescriptor.h"
#include "core/plxGbls.h"
#include "platform/win/ShownPath.h"
#include "platform/win/SysFiles.h"
#include "readers/FormatReaders.h"
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
#include "unit/XFiles.h"
#include "writers/BlakHole.h"
#include "writers/Lha.h"
#include "writers/plxBZip.h"
#include "writers/plxGZip.h"
#include "writers/plxJar.h"
#include "writers/plxMakeCab.h"
#include "writers/plxTar.h"
#include "writers/plxTarBZ.h"
#include "writers/plxTarGZ.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZipSplitter.h"

#include <algorithm>

using namespace vcl;

void TFormTorvo::BuildManagerComponents()
{
    Jar1 = std::make_unique<TJar>();
    BlakHole1 = std::make_unique<TBlakHole>();
    BZip1 = std::make_unique<TBZip>();
    GZip1 = std::make_unique<TGZip>();
    Lha1 = std::make_unique<TLha>();
    Tar1 = std::make_unique<TTar>();
    TarGZ1 = std::make_unique<TTarGZ>();
    TarBZ1 = std::make_unique<TTarBZ>();
    MakeCab1 = std::make_unique<TMakeCab>();
    UUEncode1 = std::make_unique<TUUEncode>();
    ZipSplitter1 = std::make_unique<TZipSplitter>();
    UnJAR1 = std::make_unique<TUnJar>();
    UnARJ1 = std::make_unique<TUnARJ>();
    UnARC1 = std::make_unique<TUnArc>();
    UnBH1 = std::make_unique<TUnBh>();
    UnBZip1 = std::make_unique<TUnBZip>();
    UnCab1 = std::make_unique<TUnCab>();
    UnGZip1 = std::make_unique<TUnGZip>();
    UnLHA1 = std::make_unique<TUnLha>();
    UnTAR1 = std::make_unique<TUnTar>();
    UnRAR1 = std::make_unique<TUnRar>();
    UnZOO1 = std::make_unique<TUnZoo>();
    UnACE1 = std::make_unique<TUnACE>();
    UUDecode1 = std::make_unique<TUUDecode>();
    ZipRun1 = std::make_unique<TZipRun>();
    XFileVersion1 = std::make_unique<TXFileVersion>();

    // The manager's reader of each format, for every type that format's extractor reads: the test
    // and view/run components take the classes NewExtractor makes.
    const std::pair<std::string_view, TUnBase*> readers[] = {
        {"ace", UnACE1.get()},     {"arc", UnARC1.get()},  {"pak", UnARC1.get()}, {"arj", UnARJ1.get()},
        {"bh", UnBH1.get()},       {"bz2", UnBZip1.get()}, {"cab", UnCab1.get()}, {"gzip", UnGZip1.get()},
        {"jar", UnJAR1.get()},     {"lha", UnLHA1.get()},  {"rar", UnRAR1.get()}, {"tar", UnTAR1.get()},
        {"text", UUDecode1.get()}, {"zip", UnZip1.get()},  {"zoo", UnZOO1.get()}};
    extractors_.clear();
    for (int t = 0; t < TEnumCount<TArcType>::value; ++t) {
        const TFormatReaders* format = ReadersOf(TArcType(t));
        if (format && format->NewExtractor)
            for (const auto& [key, reader] : readers)
                if (key == format->Format)
                    extractors_.push_back({TArcType(t), reader});
    }

    // The request workflow's components (Pelix1, Zip1, UnZip1) keep their own prompts and meet
    // no questions; every other component takes all of the window's shared handlers.
    TZipCommon* const shared[] = {Jar1.get(),         Lha1.get(),   BlakHole1.get(), Tar1.get(),      TarGZ1.get(),
                                  TarBZ1.get(),       GZip1.get(),  BZip1.get(),     MakeCab1.get(),  UUEncode1.get(),
                                  ZipSplitter1.get(), UnJAR1.get(), UnARJ1.get(),    UnARC1.get(),    UnBH1.get(),
                                  UnBZip1.get(),      UnCab1.get(), UnGZip1.get(),   UnLHA1.get(),    UnTAR1.get(),
                                  UnRAR1.get(),       UnZOO1.get(), UnACE1.get(),    UUDecode1.get(), ZipRun1.get()};
    for (TZipCommon* component : shared)
        BindSharedEvents(*component);
    for (TZipCommon* workflow : {static_cast<TZipCommon*>(Pelix1.get()), static_cast<TZipCommon*>(UnZip1.get())}) {
        BindStatusEvents(*workflow);
        BindPasswordEvent(*workflow);
    }
    BindStatusEvents(*Zip1);
    // The restore never confirms overwrites, so this question stays in the archive manager.
    BindOverwriteQuestion(*UnZip1);
    RegArchive1 = std::make_unique<TRegArchive>();
    RegArchive1->OnAssociation = [](::TObject*, const std::string&, bool& cancel) { cancel = true; };
    RegArchive1->Loaded();

    // "&New" heads the hidden "&File" menu and works by its button too.
    bool present = false;
    for (int i = 0; i < mnuFile->Count(); ++i)
        present = present || mnuFile->Items(i)->Caption == "&New";
    if (!present) {
        mnuNew = NewItem(this, "&New", 0, [this](TObject*) {
            if (ManagerIdle())
                NewClick();
        });
        mnuFile->Insert(0, mnuNew);
    }
    if (BitBtn[1] && !BitBtn[1]->OnClick)
        BitBtn[1]->OnClick = [this](TObject*) {
            if (ManagerIdle())
                NewClick();
        };
    CompletePopupMenu();
}

void TFormTorvo::CompletePopupMenu()
{
    // The menus that hold these commands stay hidden, so the list's pop-up menu offers them too:
    // every command of the manager is in reach of the mouse and the keyboard.
    std::vector<std::pair<TMenuItem*, TMenuItem*>> mirrors;
    // One letter, one item: "Re&name Archive" would share N with "&New" here.
    std::string taken;
    for (int i = 0; i < PopupMenu1->Items()->Count(); ++i)
        if (const char key = HotkeyOf(PopupMenu1->Items()->Items(i)->Caption))
            taken += key;
    const auto mirror = [&](TMenuItem* item) {
        const std::string caption = WithFreeHotkey(item->Caption, taken);
        if (const char key = HotkeyOf(caption))
            taken += key;
        TMenuItem* copy = NewItem(this, caption, 0, [item](TObject*) { item->Click(); });
        mirrors.push_back({item, copy});
        PopupMenu1->Items()->Add(copy);
    };
    PopupMenu1->Items()->Add(NewItem(this, "-"));
    for (TMenuItem* item : {mnuNew, mnuOpen, mnuClose, mnuSaveAs, mnuRename, mnuEncode})
        mirror(item);
    PopupMenu1->Items()->Add(NewItem(this, "-"));
    for (TMenuItem* item : {mnuBlankDirs, mnuSort, mnuElapsedTime, mnuErrorMessages})
        mirror(item);
    PopupMenu1->OnPopup = [mirrors](TObject*) {
        for (auto [item, copy] : mirrors) {
            copy->Checked = item->Checked;
            copy->Enabled = item->Enabled;
        }
    };
}

TfrmPassword1* TFormTorvo::Password1Dialog()
{
    if (!frmPassword1_) {
        frmPassword1_ = new TfrmPassword1(this);
        frmPassword1_->OnChangeSeedKeys = [this] { SeedKeysDialog()->ShowModal(); };
    }
    return frmPassword1_;
}

TfrmPassword2* TFormTorvo::Password2Dialog()
{
    if (!frmPassword2_) {
        frmPassword2_ = new TfrmPassword2(this);
        frmPassword2_->OnChangeSeedKeys = [this] { SeedKeysDialog()->ShowModal(); };
    }
    return frmPassword2_;
}

TfrmSeedKeys* TFormTorvo::SeedKeysDialog()
{
    if (!frmSeedKeys_)
        frmSeedKeys_ = new TfrmSeedKeys(this);
    return frmSeedKeys_;
}

TfrmSplitArchive* TFormTorvo::SplitDialog()
{
    if (!frmSplitArchive_)
        frmSplitArchive_ = new TfrmSplitArchive(this);
    frmSplitArchive_->Splitter = ZipSplitter1.get();
    return frmSplitArchive_;
}

TfrmAddFiles* TFormTorvo::AddFilesDialog()
{
    if (!frmAddFiles)
        frmAddFiles = new TfrmAddFiles(this);
    frmAddFiles->Password1 = Password1Dialog();
    return frmAddFiles;
}

void TFormTorvo::ApplySeedKeys(TZipCommon& component)
{
    const TKeyTriple header = SeedKeysDialog()->HeaderKeys();
    const TKeyTriple data = SeedKeysDialog()->DataKeys();
    component.SeedHeaderKeys.SetKeys(header[0], header[1], header[2]);
    component.SeedDataKeys.SetKeys(data[0], data[1], data[2]);
}

TUnBase* TFormTorvo::ExtractComponentFor(TArcType type) const
{
    for (const auto& [t, extractor] : extractors_)
        if (t == type)
            return extractor;
    return nullptr;
}

std::array<std::pair<std::string_view, TCompBase*>, 10> TFormTorvo::ManagerWriters() const
{
    // The manager's writer of each format: ZIP archives go through the splitter, which asks for
    // volumes when a split size is set.
    return {{{"bh", BlakHole1.get()},
             {"bz2", BZip1.get()},
             {"cab", MakeCab1.get()},
             {"gzip", GZip1.get()},
             {"jar", Jar1.get()},
             {"lha", Lha1.get()},
             {"tar", Tar1.get()},
             {"tbz", TarBZ1.get()},
             {"tgz", TarGZ1.get()},
             {"zip", ZipSplitter1.get()}}};
}

bool TFormTorvo::DefineCompressComponent(TArcType type)
{
    const TArcDescriptor* format = DescriptorOf(type);
    TCompBase* writer = nullptr;
    // The manager leaves LHA self-extractors alone.
    if (format && !(format->Key == "lha" && HasArcFlag(type, arcflag::SelfExtract)))
        for (const auto& [key, component] : ManagerWriters())
            if (key == format->Key)
                writer = component;
    if (!writer)
        return false;
    compressor_ = writer;
    return true;
}

void TFormTorvo::ForgetArchiveSettings()
{
    // The add dialog shows what its writer holds; while one archive stays open it keeps them.
    for (const auto& [key, writer] : ManagerWriters()) {
        writer->SetPassword("");
        writer->SetEncryptionMethod(emNone);
        writer->SetFileSpec({});
        writer->SetExcludeSpec({});
        writer->DefaultDir.clear();  // the dialog starts in the current folder, the archive's
    }
}

void TFormTorvo::OfferSplit()
{
    // The writer asks for every ZIP archive that outgrows one volume only while a split size is
    // set; the question itself starts on "No split".
    if (ZipSplitter1->GetPartType() == ptNoSplit)
        ZipSplitter1->SetPartType(ptOtherSize);
}

int TFormTorvo::RunCompressor()
{
    TCompBase& writer = *compressor_;
    ApplySeedKeys(writer);
    // The engine turns a "Super fast" run into a stored one for good; the next run starts from
    // the method that was chosen.
    const TCompressMethod chosen = writer.CompressMethod;
    const std::size_t errorMark = ErrorMessages.size();
    int count = 0;
    {
        TOperationScope operation(*this);
        ShowProgress(true);
        count = std::max(0, writer.Compress());
        ShowProgress(false);  // full bars would read as work still going on
    }
    writer.CompressMethod = chosen;
    ShowErrorsSince(errorMark);
    return count;
}

void TFormTorvo::NewClick()
{
    SaveDialog1->Title = "New Archive...";
    SaveDialog1->Filter = "Zip archives (*.zip)|*.zip|All files (*.*)|*.*";
    SaveDialog1->Options = ofHideReadOnly;
    if (!Pelix1->ArchiveFile().empty())
        SaveDialog1->InitialDir = win::ExtractFilePath(Pelix1->ArchiveFile());
    if (!SaveDialog1->Execute() || SaveDialog1->FileName.empty())
        return;
    const std::string name = SaveDialog1->FileName;
    ForgetArchiveSettings();
    if (win::FileExists(name)) {
        const int answer = Application->MessageBox(ShownPath(name) + ": already exists...\r\r" + "OVERWRITE?\r" +
                                                       "(will be moved to the Recycling Bin)",
                                                   "New Archive...", MB_YESNO | MB_ICONQUESTION);
        if (answer != IDYES) {
            DisplayFile(name);
            return;
        }
        DeleteFileEx(name, doAllowUndo);
    }
    TfrmAddFiles* dialog = AddFilesDialog();
    dialog->OnDefineCompressor = [this](TArcType type) -> TCompBase* {
        return DefineCompressComponent(type) ? compressor_ : nullptr;
    };
    dialog->PrepareFor(name, atNA);
    OfferSplit();
    const bool chosen = dialog->ShowModal() == mrOk && compressor_;
    // The dialog serves other commands with writers of their own.
    dialog->OnDefineCompressor = nullptr;
    dialog->PrepareFor("", atNA);
    if (!chosen) {
        // The name may belong to an archive that was there before: show it, and leave the
        // window waiting again.
        if (win::FileExists(name))
            DisplayFile(name);
        return;
    }
    const int count = RunCompressor();
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = "Files Compressed: " + std::to_string(count);
    const std::string written = compressor_->ArchiveFile();
    if (win::FileExists(written)) {
        const std::string status = StatusBar1->SimpleText;
        DisplayFile(written);
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = status;
    }
}
