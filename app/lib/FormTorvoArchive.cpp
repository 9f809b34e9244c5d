// The main window's archive work: backup, archive comment, the restore list and the restore, the
// payslip archives, and the list view of an archive.
#include "app/lib/FormTorvo.h"
#include "platform/win/ShownPath.h"
#include "platform/win/Messages.h"

#include "app/lib/BackupNames.h"
#include "app/lib/ErrorMsgs.h"
#include "app/lib/FormComm.h"
#include "core/ArcDescriptor.h"
#include "core/DiskManager.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "platform/vcl/Headless.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "readers/Pelix.h"
#include "readers/plxUnZIP.h"
#include "readers/view/plxZipView.h"
#include "unit/U_FileUtils.h"
#include "unit/U_String.h"
#include "writers/plxZip.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>
#include <utility>

using namespace vcl;

bool IsRecognisedType(TArcType t)
{
    return t != atNA && t != atUnsupported && t != atFileOpenErr && t != atUnknown;
}

namespace {

bool IsZipArchiveType(TArcType t)
{
    const TArcDescriptor* format = DescriptorOf(t);
    return format && format->Key == "zip";
}

std::string FolderCannotBeCreatedText(const std::string& letter)
{
    return "Na disku " + letter + ": nelze založit adresář pro archivaci dat";
}

std::string WriteDeniedText(const std::string& letter)
{
    return "Na disk " + letter + ": nelze zapisovat." + "\r\n" + "Ověřte, zda disk má přístup k zápisu dat.";
}

std::string IncompleteBackupText(const std::string& archiveFileName)
{
    return "Do archivu " + archiveFileName + " se nepodařilo uložit všechny soubory." + "\r\n" +
           "Archivace byla NEÚSPĚŠNÁ; chyby jsou v seznamu chyb.";
}

std::string UnreadableArchiveText(const std::string& archiveFileName)
{
    return "Archivační soubor " + archiveFileName + " nelze přečíst: je poškozený nebo to není archiv ZIP." + "\r\n" +
           "Data nebyla obnovena.";
}

std::string EngineClassName(const ::TObject& object)
{
    int status = 0;
    char* name = abi::__cxa_demangle(typeid(object).name(), nullptr, nullptr, &status);
    std::string text = status == 0 && name ? name : typeid(object).name();
    std::free(name);
    return text;
}

// The system a ZIP entry was made on, by the high byte of "version made by".
std::string HostSystemName(int host)
{
    static const char* const names[] = {"MS-DOS",       "Amiga",     "OpenVMS",   "Unix",       "VM/CMS",
                                        "Atari ST",     "OS/2 HPFS", "Macintosh", "Z-System",   "CP/M",
                                        "Windows NTFS", "MVS",       "VSE",       "Acorn Risc", "VFAT",
                                        "MVS",          "BeOS",      "Tandem",    "OS/400",     "OS X"};
    return host >= 0 && host < int(std::size(names)) ? names[host] : std::to_string(host);
}

std::string Hex8(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace

void TFormTorvo::BuildArchiveComponents()
{
    Pelix1 = std::make_unique<TPelix>();
    Zip1 = std::make_unique<TZip>();
    UnZip1 = std::make_unique<TUnZip>();
    // A RAR listing reports through a temporary extractor: the entry is the sender's.
    Pelix1->OnRead = [this](::TObject* sender, std::int64_t offset, int) {
        const auto* entry = dynamic_cast<const TZipCommon*>(sender);
        Pelix1Read(entry ? *entry : *Pelix1, offset);
    };
    const auto error = [this](::TObject* sender, const std::string& file, const std::string& extended,
                              const std::string&, int code) { ComponentError(sender, file, extended, code); };
    const auto progress = [this](::TObject*, std::uint8_t byFile, std::uint8_t byArchive) {
        ProgressBar1->SetPosition(byFile);
        ProgressBar2->SetPosition(byArchive);
        ShowPendingMember();
        Application->ProcessMessages();
    };
    // The LED shows which component works and cancels it when clicked.
    const auto bindLed = [this](TZipCommon& component) {
        component.OnActivate = [this, &component](::TObject*) {
            cancelWorking_ = [&component] { component.SetCancel(true); };
            ApplicationBusy();
        };
        component.OnDeactivate = [this](::TObject*) { ComponentStopped(); };
    };
    bindLed(*Pelix1);
    bindLed(*Zip1);
    bindLed(*UnZip1);
    Pelix1->OnError = error;
    Zip1->OnError = error;
    Zip1->OnProgress = progress;
    UnZip1->OnError = error;
    UnZip1->OnProgress = progress;
    BindDiskPrompts();
    UnZip1->OnEnd = [this](::TObject*, const std::string&, bool written) {
        if (written)
            ++restoredFiles_;
    };
    // The run shows the bars; each member starts its own, the archive's keeps its place.
    UnZip1->OnBegin = [this](::TObject*, const std::string& file, int, bool&) {
        ShowMember("Extracting: ", file);
        ProgressBar1->SetPosition(0);
    };
}

void TFormTorvo::BindDiskPrompts()
{
    // The disks of a spanned backup: each one asked for in a box that waits until it is in.
    const auto ask = [](const std::string& text, bool& cancel) {
        cancel = Application->MessageBox(text, DiskPromptCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
    };
    const auto last = [ask](::TObject*, bool& cancel) { ask("Vložte poslední disketu archivu.", cancel); };
    const auto first = [ask](::TObject*, bool& cancel) { ask("Vložte první disketu archivu.", cancel); };
    const auto next = [ask](::TObject*, const std::string& number, bool& cancel) {
        ask("Vložte disketu číslo " + number + " archivu.", cancel);
    };
    for (TZipCommon* reader : {static_cast<TZipCommon*>(Pelix1.get()), static_cast<TZipCommon*>(UnZip1.get())}) {
        reader->OnGetZipLastDisk = last;
        reader->OnGetZipFirstDisk = first;
        reader->OnGetZipNextDisk = next;
    }
    Zip1->OnInsertDisk = [ask](::TObject*, const std::string& number, bool& cancel) {
        ask("Vložte prázdnou disketu číslo " + number + " pro zápis archivu.", cancel);
    };
    Zip1->OnClearDisk = [ask](::TObject*, const std::string& drive, std::int64_t required, std::int64_t free,
                              std::int64_t, bool& cancel) {
        ask("Na disketě v mechanice " + drive + " je volných " + std::to_string(free) + " B, potřeba je " +
                std::to_string(required) + " B.\r\nUvolněte místo nebo vložte jinou disketu.",
            cancel);
    };
    Zip1->OnDiskSpanFileExists = [](::TObject*, const std::string& file, TDateTime, TOverwriteMode& mode) {
        const int answer = Application->MessageBox("Disketa obsahuje archiv " + win::ExtractFileName(file) +
                                                       " nebo patří jiné sadě disket.\r\nPřepsat ji?",
                                                   DiskPromptCaption, MB_YESNO | MB_ICONQUESTION);
        mode = answer == IDYES ? omOverwrite : omSkip;
    };
}

bool TFormTorvo::CopyToDiskette(const std::string& stagedFolder, const std::string& realFolder,
                                const std::string& fileName)
{
    // An archive that fits on the disk in the drive is copied; a larger one spans several disks.
    const std::string staged = stagedFolder + fileName, onDisk = realFolder + fileName;
    TFileStream32 source(staged, fmOpenRead | fmShareDenyNone);
    const std::int64_t size = source.HandleValid() ? source.Size() : 0;
    TFileStream32 old(onDisk, fmOpenRead | fmShareDenyNone);
    TDiskManager disk;
    disk.DriveType = std::uint8_t(DRIVE_REMOVABLE);
    disk.GetDiskSpace(win::IncludeTrailingBackslash(win::ExtractFileDrive(onDisk)));
    if (size <= disk.FreeSpace + (old.HandleValid() ? old.Size() : 0))
        return ReplaceFileViaTemp(stagedFolder, realFolder, fileName);
    Zip1->SetArchiveFile(onDisk);
    return Zip1->SpanArchive(staged);
}

void TFormTorvo::ComponentError(::TObject* sender, const std::string& file, const std::string& extended, int code)
{
    // A backup pass that found none of its files says so; the backup reports that itself.
    if (sender == Zip1.get() && code == E_NOTHINGTODO && backupPassRunning_)
        return;
    // Writers, the encoder and the tester report here too: each by its own class.
    const std::string className = sender ? EngineClassName(*sender) : "TPelix";
    ErrorMessages.push_back("OnError event\r\rClassName: " + className + "\r" + "ECode:     " + std::to_string(code) +
                            "  (see err_msgs.rc)" + "\r" + "ECode Str: " + std::string(LoadMessage(code)) + "\r" +
                            "Ext Msg:   " + ShownPath(extended) + (file.empty() ? "" : " " + ShownPath(file)));
    ErrorList()->AddError(ErrorMessages.back());
    if (THeadlessWidgetSet* headless = HeadlessWidgetSet())
        headless->Say("error " + std::to_string(code) + " " + std::string(LoadMessage(code)) + ": " + file +
                      (extended.empty() ? "" : " (" + extended + ")"));
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = std::string(LoadMessage(code)) + ": " + ShownPath(file);
}

void TFormTorvo::ApplicationBusy()
{
    Application->ProcessMessages();
    // The hourglass also tells the widget set that an operation pumps after every member: it
    // then paints at a human rate, not once per member.
    if (busyDepth_++ == 0) {
        cursorBeforeBusy_ = Screen->Cursor();
        Screen->SetCursor(crHourGlass);
    }
    ZipView1->Cursor = crHourGlass;
    ZipView1->Items.BeginUpdate();
    ledColour_ = clRed;
    pbxLed->Invalidate();
}

void TFormTorvo::ApplicationWaiting()
{
    // Each busy call is matched by one waiting call, never by more.
    if (busyDepth_ == 0)
        return;
    ZipView1->Items.EndUpdate();
    if (--busyDepth_ > 0)
        return;
    memberPending_ = false;  // the next operation's progress must not show this one's member
    ZipView1->Cursor = crDefault;
    Screen->SetCursor(cursorBeforeBusy_);
    ledColour_ = clGreen;
    pbxLed->Invalidate();
    if (finishAfterOperation_ && !OperationRunning())
        PostMessageA(Handle(), WM_SERVE_HELD_REQUESTS, 0, 0);
}

void TFormTorvo::pbxLedClick()
{
    if (!cancelWorking_)
        return;
    cancelWorking_();
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = CancellingStatus;
}

void TFormTorvo::ComponentStopped()
{
    ApplicationWaiting();
    cancelWorking_ = nullptr;
    // A stop asked for at the LED has happened: the status no longer says it is under way.
    if (StatusBar1->SimpleText == CancellingStatus)
        StatusBar1->SimpleText = "";
}

TfrmErrorMsgs* TFormTorvo::ErrorList()
{
    for (int i = 0; i < Application->ComponentCount(); ++i)
        if (auto* list = dynamic_cast<TfrmErrorMsgs*>(Application->Components(i)))
            return list;
    for (int i = 0; i < ComponentCount(); ++i)
        if (auto* list = dynamic_cast<TfrmErrorMsgs*>(Components(i)))
            return list;
    return new TfrmErrorMsgs(this);
}

bool TFormTorvo::ShowErrorsSince(std::size_t mark)
{
    if (ErrorMessages.size() <= mark)
        return false;
    // Closing the window cancelled the work: the cancel is no news to the person who closed it.
    if (!finishAfterOperation_)
        ErrorList()->ShowModal();
    return true;
}

void TFormTorvo::ShowProgress(bool visible)
{
    ProgressBar1->SetPosition(0);
    ProgressBar2->SetPosition(0);
    ProgressBar1->SetVisible(visible);
    ProgressBar2->SetVisible(visible);
}

void TFormTorvo::ShowMember(const char* doing, const std::string& file)
{
    memberDoing_ = doing;
    memberFile_ = file;
    memberPending_ = true;
    ShowPendingMember();
}

void TFormTorvo::ShowPendingMember()
{
    if (!memberPending_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now < nextMemberShown_)
        return;
    nextMemberShown_ = now + std::chrono::milliseconds(50);
    memberPending_ = false;
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = memberDoing_ + ShownPath(memberFile_);
}

void TFormTorvo::Pelix1Read(const TZipCommon& p, std::int64_t offset)
{
    const std::string attributes = TZipCommon::DosAttrString(p.ExternalAttr, '_');
    std::string comment(p.CommentBuffer.begin(), p.CommentBuffer.end());
    comment = comment.substr(0, comment.find('\0'));
    ZipView1->Items.AddFields({
        win::ExtractFileName(p.FileName),
        win::FormatDateTime("dd.mm.yy  hh:nn", p.DateTime),
        std::to_string(p.PackedSize),
        std::to_string(p.UnpackedSize),
        std::to_string(p.Ratio) + "%",
        p.MethodName,
        attributes + " (" + std::to_string(p.ExternalAttr) + ")",
        win::ExtractFilePath(p.FileName),
        win::ExtractFileExt(p.FileName),
        Hex8(p.Crc32),
        std::to_string(offset),
        p.Encrypted ? "True" : "False",
        std::to_string(p.VersionMadeBy & 0xFF),
        IsZipFamilyType(Pelix1->ArcType()) ? HostSystemName(p.VersionMadeBy >> 8)
                                           : std::to_string(p.VersionMadeBy >> 8),
        p.VolumeName,
        std::to_string(p.FileNumber),
        comment,
    });
}

bool TFormTorvo::RefreshList(const std::string& archiveFile)
{
    ZipView1->Items.Clear();
    if (archiveFile.empty())
        return false;
    Pelix1->SetArchiveFile(archiveFile);
    Pelix1->SetFileSpec({Edit1->Text().empty() ? "*.*" : Edit1->Text()});
    const bool recognised = IsRecognisedType(Pelix1->ArcType());
    // Header keys matter only once the user has had the chance to change them.
    const TArcType type = Pelix1->ArcType();
    if (frmSeedKeys_ && IsZipCipherType(type))
        ApplySeedKeys(*Pelix1);
    if (recognised) {
        Pelix1->RecurseDirs = CheckBox1->Checked();
        ZipView1->Items.BeginUpdate();
        Pelix1->Activate();
        ZipView1->Items.EndUpdate();
    }
    StatusBar1->SimplePanel = false;
    return recognised;
}

bool TFormTorvo::BackupToDisk()
{
    return RunBackup(std::nullopt);
}

bool TFormTorvo::BackupToDiskPayslips(const std::string& archiveName)
{
    return RunBackup(archiveName);
}

std::string TFormTorvo::BackupArchiveName(const std::string& folder) const
{
    std::string name;
    if (state_.PayslipRequest)
        name = state_.ArchiveBaseName;
    else if (state_.FtpTarget)
        name = DatedArchiveName(state_.ArchiveBaseName, win::Now());
    else
        name = NextSequenceName(folder, state_.ArchiveBaseName, ".ZIP");
    if (target_.ManualFtp)
        name += "_" + state_.Definition.NoteLicence;
    return name;
}

void TFormTorvo::SetBackupWriterProperties(const std::vector<std::string>& files, TRelativeDir relativeDir)
{
    TZip& z = *Zip1;
    z.Attributes = AttrBit(fsZeroAttr) | AttrBit(fsReadOnly) | AttrBit(fsArchive) | AttrBit(fsEncrypted);
    z.AttributesEx = AttrBit(fsReparsePoints);
    z.RecurseDirs = false;
    z.Switch = swAdd;
    z.StoredDirNames = sdRelative;
    z.DateAttribute = daFileDate;
    z.DeflateType = dtDeflateN;
    z.RelativeDir = relativeDir;
    z.SetFileSpec(files);
    z.StoreEmptySubDirs = false;
    z.IncludeHiddenDirs = true;
    z.StoreFilesOfType = {"ZIP"};
    // Names go into the archive in the OEM code page where they fit; the restore reads them back
    // the same way.
    z.TranslateOemChar = false;
}

bool TFormTorvo::RunBackup(const std::optional<std::string>& payslipName)
{
    TOperationScope operation(*this);
    std::string folder = NormaliseTargetFolder(target_.TargetFolder);
    target_.TargetFolder = folder;
    const std::string letter = target_.Letter.empty() ? folder.substr(0, 1) : target_.Letter;
    const UINT driveType = folder.size() > 1 && folder[1] == ':' ? DriveType(folder[0]) : target_.DriveType;
    if (driveType >= DRIVE_NO_ROOT_DIR && driveType <= DRIVE_CDROM) {
        if (!win::DirectoryExists(folder) && !win::ForceDirectories(folder)) {
            Application->MessageBox(FolderCannotBeCreatedText(letter), "Adresář nelze založit",
                                    MB_OK | MB_ICONINFORMATION);
            return false;
        }
        // A refused write test is a backup that did not happen: the person has to hear of it.
        if (!FolderIsWriteable(folder)) {
            Application->MessageBox(WriteDeniedText(letter), "Zápis zamítnut", MB_OK | MB_ICONINFORMATION);
            return false;
        }
    }
    std::string realFolder;
    if (letter == "A" || letter == "B") {
        realFolder = folder;
        folder[0] = 'C';
        folder += "disketa\\";
        win::ForceDirectories(folder);
    }

    const std::string name = payslipName ? *payslipName : BackupArchiveName(folder);
    const std::string archive = folder + name + ".ZIP";
    std::vector<std::string> files;
    for (int i = 0; i < lstFileSpec->Items.Count(); ++i)
        files.push_back(lstFileSpec->Items[i]);
    // A request's backup that packs nothing leaves the caller without a backup: that is said in a
    // box, since an automatic run closes before anyone reads the panel. Payslips count instead.
    const auto nothingToArchive = [&] {
        PanelMess->Caption = "Nebylo co archivovat";
        if (!payslipName && !state_.PayslipRequest)
            Application->MessageBox("Nebylo co archivovat", "Archivace neúplná", MB_OK | MB_ICONINFORMATION);
        return false;
    };
    // Nothing to pack: no writer runs, and an archive of the same name stays as it is.
    if (files.empty())
        return nothingToArchive();

    ZipView1->Items.Clear();
    Pelix1->SetArcType(atZip);
    ShowProgress(true);
    const std::size_t errorMark = ErrorMessages.size();
    // A file or folder the set names but the disk lacks would otherwise be left out unseen.
    const std::size_t missing = payslipName ? 0 : ReportMissingSetFiles(files);
    // Set files inside the data folder keep their path below it, so a restore puts them back where
    // they were and two files of one name never collide; the rest (and payslips) go by bare name.
    // The bare names go first, so the second run copies only those few entries.
    TBackupSpecs specs = state_.PayslipRequest ? TBackupSpecs{{}, files} : SplitBackupSpecs(files, state_.DataFolder);
    // One pass puts a complete archive in place by itself. Two passes, or an archive of the same
    // name, write under a temporary name beside it: the name shows only a complete backup (a run
    // killed between or in the passes leaves no part of one under it), a new archive never adds to
    // an old one, and the old one goes only once the new one is done.
    const bool onePass = specs.Elsewhere.empty() || specs.InsideDataFolder.empty();
    const std::string output = onePass && !win::FileExists(archive) ? archive : OwnedOutputBeside(archive);
    int count = 0;
    bool filesFound = false;
    // The last pass (the data folder's, when there are two) found files but wrote none (a full or
    // failing disk): what the first pass wrote alone is no backup of the set.
    bool lastPassFailed = false;
    for (auto& [list, relativeDir] :
         {std::pair{&specs.Elsewhere, byItem}, std::pair{&specs.InsideDataFolder, byList}}) {
        if (list->empty())
            continue;
        SetBackupWriterProperties(*list, relativeDir);
        Zip1->SetArchiveFile(output);
        backupPassRunning_ = true;
        const int added = Zip1->Compress();
        backupPassRunning_ = false;
        count += std::max(0, added);
        filesFound = filesFound || Zip1->FilesFound;
        lastPassFailed = added <= 0 && Zip1->FilesFound;
        if (Zip1->GetCancel())
            break;
    }
    ShowProgress(false);
    // Stopped by the person (the LED): no archive and no error report, only the status says so.
    if (Zip1->GetCancel()) {
        // What an earlier pass wrote is no backup of the set.
        if (win::FileExists(output))
            DeleteFileA(output.c_str());
        PanelMess->Caption = "Archivace přerušena";
        return false;
    }
    const bool incomplete = ShowErrorsSince(errorMark);
    const bool written = !lastPassFailed && count > 0 && win::FileExists(output) &&
                         (output == archive || win::PutFileInPlace(output, archive));
    if (!written && output != archive && win::FileExists(output))
        DeleteFileA(output.c_str());
    Pelix1->SetFileSpec({"*.*"});
    if (!written) {
        // Nothing found to pack is no write failure; a writer that reported errors is.
        if (!filesFound && ErrorMessages.size() - errorMark == missing)
            return nothingToArchive();
        Application->MessageBox(WriteDeniedText(letter), "Zápis zamítnut", MB_OK | MB_ICONINFORMATION);
        return false;
    }
    runArchive_ = archive;
    archivedFiles_ += count;
    if (incomplete)
        Application->MessageBox(IncompleteBackupText(name + ".ZIP"), "Archivace neúplná", MB_OK | MB_ICONSTOP);
    if (payslipName)
        return !incomplete;

    target_.TargetFolder = folder;
    // The archive is complete, comment included, before the caller hears of it.
    WriteArchiveComment(name + ".ZIP");
    if (state_.PayslipRequest) {
        Application->MessageBox("Na adresáří " + folder + "\r\n" + "v souboru " + name + ".ZIP" + "\r\n" +
                                    "jsou zpakované výplatní pásky.",
                                PayslipCaption, MB_OK | MB_ICONINFORMATION);
        FinishRequest();
    }

    bool result = !incomplete;
    if (!realFolder.empty()) {
        if (!CopyToDiskette(folder, realFolder, name + ".ZIP")) {
            StatusBar1->SimplePanel = true;
            StatusBar1->SimpleText = "Archivace na disk " + letter + ":\\ byl neúspěšný";
            result = false;
        } else {
            runArchive_ = realFolder + name + ".ZIP";
        }
        target_.TargetFolder = realFolder;
    }
    if (RefreshList(runArchive_) && Pelix1->ArcType() != atNA && IsZipFamilyType(Pelix1->ArcType())) {
        ZipView1->SortColumn = zcDateTime;
        ZipView1->SortKind = skDateTime;
        ZipView1->Sort();
        return result;
    }
    PanelMess->Caption = "Nebylo co archivovat";
    return result;
}

std::size_t TFormTorvo::ReportMissingSetFiles(const std::vector<std::string>& files)
{
    std::size_t missing = 0;
    for (const std::string& file : files) {
        const std::string name = win::ExtractFileName(file);
        const bool folder = name.empty() || name.find_first_of("*?") != std::string::npos;
        const bool present = folder ? win::DirectoryExists(win::ExtractFilePath(file))
                                    : win::FileExists(file) || win::DirectoryExists(file);
        if (file.empty() || present)
            continue;
        ComponentError(Zip1.get(), file, "", E_FILENOTFOUND);
        ++missing;
    }
    return missing;
}

void TFormTorvo::WriteArchiveComment(const std::string& archiveFileName)
{
    const std::string archive = NormaliseTargetFolder(target_.TargetFolder) + archiveFileName;
    const std::string comment = RunComment.empty() ? " " : RunComment;
    const std::string bytes = win::Utf8ToAnsi(comment);
    Zip1->SetArchiveFile(archive);
    const std::size_t errorMark = ErrorMessages.size();
    const int count = Zip1->ReadComments();
    Zip1->MainComment.SetComment(bytes.data(), std::uint16_t(std::min<std::size_t>(bytes.size(), 0xFFFF)));
    Zip1->SaveComments(true);
    // The archive keeps its old ending when the comment cannot go in (a full disk): say so.
    ShowErrorsSince(errorMark);
    if (state_.BackupSide)
        return;
    const int index = lstFileSpec->ItemIndex();
    if (index >= 0 && index < lstFileSpec->Items.Count())
        lstFileSpec->Items.SetString(index, archiveFileName + "\t" + std::to_string(count) + "\t" +
                                                (state_.FtpTarget ? "ftp " : "") + comment);
}

std::pair<int, std::string> TFormTorvo::ReadEntriesAndComment(const std::string& archive)
{
    Zip1->SetArchiveFile(archive);
    // An archive whose directory cannot be read must not show the comment of the one before.
    Zip1->MainComment.SetSize64(0);
    const int count = std::max(0, Zip1->ReadComments());
    std::string comment(std::size_t(Zip1->MainComment.Size()), '\0');
    std::uint16_t length = 0;
    if (!comment.empty())
        Zip1->MainComment.GetComment(comment.data(), length);
    comment.resize(length);
    Zip1->SaveComments(false);
    return {count, win::AnsiToUtf8(comment)};
}

std::string TFormTorvo::ArchiveListLine(const std::string& folder, const std::string& fileName)
{
    const auto [count, comment] = ReadEntriesAndComment(folder + fileName);
    return fileName + "\t" + std::to_string(count) + "\t" + comment;
}

void TFormTorvo::mnuCommentClick()
{
    if (OperationRunning())
        return;
    std::string archiveFileName;
    if (state_.BackupSide) {
        archiveFileName = win::ExtractFileName(runArchive_);
    } else {
        const int index = lstFileSpec->ItemIndex();
        if (index >= 0 && index < lstFileSpec->Items.Count())
            archiveFileName = CutAtTab(lstFileSpec->Items[index]);
    }
    const std::string folder = NormaliseTargetFolder(target_.TargetFolder);
    if (archiveFileName.empty() || !win::FileExists(folder + archiveFileName))
        return;
    TOperationScope operation(*this);
    std::string comment = ReadEntriesAndComment(folder + archiveFileName).second;
    // A blank stands for no comment (WriteArchiveComment stores one for an empty text).
    if (comment == " ")
        comment.clear();
    const std::optional<std::string> edited = EditArchiveComment(this, comment);
    if (!edited)
        return;
    RunComment = *edited;
    WriteArchiveComment(archiveFileName);
}

void TFormTorvo::ListTargetArchives()
{
    std::string folder = target_.TargetFolder;
    if (!folder.empty() && folder[0] == '*')
        folder.erase(0, 1);
    if (!win::DirectoryExists(folder)) {
        lstFileSpec->Items.Clear();
        const std::string where = target_.NetworkPath.empty() ? target_.Letter : target_.NetworkPath;
        Application->MessageBox("Na disku " + where + ": nenalezeny datové soubory" + "\r\n" + "Adresář \"" + folder +
                                    "\" není vytvořen.",
                                "Adresář nenalezen", MB_OK | MB_ICONINFORMATION);
        return;
    }
    std::vector<std::string> names;
    ListFiles(folder + state_.ArchiveBaseName + "*.*", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, names);
    // The newest archive must come last, where the list's default selection is.
    std::sort(names.begin(), names.end(), ArchiveNameBefore);
    lstFileSpec->Items.Clear();
    for (const std::string& name : names)
        lstFileSpec->Items.Add(ArchiveListLine(folder, name));
    if (lstFileSpec->CanFocus())
        lstFileSpec->SetFocus();
    lstFileSpec->SetItemIndex(lstFileSpec->Items.Count() - 1);
}

void TFormTorvo::PackPayslips()
{
    TOperationScope operation(*this);
    archivedFiles_ = 0;
    const std::string base = PayslipBaseName(win::Now());
    const std::string folder = target_.TargetFolder;
    for (const TPayslipGroup& group : GroupPayslips(payslipList_, std::size_t(state_.PayslipGroupSize))) {
        lstFileSpec->Items.Clear();
        for (const std::string& file : group.Files)
            lstFileSpec->Items.Add(file);
        BackupToDiskPayslips(base + group.Range);
    }
    lstFileSpec->Items.Clear();
    ZipView1->Items.Clear();
    // The payslips that are in an archive now, not the ones that were listed.
    Application->MessageBox(PayslipResultText(folder, base, std::size_t(archivedFiles_)), PayslipCaption,
                            MB_OK | MB_ICONINFORMATION);
    FinishRequest();
}

bool TFormTorvo::RestoreArchive(const std::string& archiveName)
{
    target_.TargetFolder = state_.TargetFolder;
    return RestoreFromTarget(archiveName);
}

void TFormTorvo::SetRestoreExtractorProperties()
{
    TUnZip& z = *UnZip1;
    z.SetArchiveFile(Pelix1->ArchiveFile());
    z.SetExtractDir(state_.DataFolder);
    z.UseStoredDirs = true;
    z.DateAttribute = daFileDate;
    z.ConfirmOverwrites = false;
    z.OverwriteMode = omOverwrite;
    z.RestoreFileAttr = true;
    // The caller's data must never hold a half-written file, even after a kill.
    z.WriteBesideTargets = true;
    // The extract dialog's "Create stored dirs" box, which starts clear.
    z.CreateStoredDirs = false;
    // As the backup wrote the names, whatever the archive manager's check boxes say.
    z.TranslateOemChar = Zip1->TranslateOemChar;
    z.RecurseDirs = true;
    z.SetFileSpec({"*.*"});
    // An encrypted backup asks for its password instead of failing unseen.
    z.OnGetPassword = [](::TObject*, const std::string& file, std::string& password, TSeedKeyRecord&, TSeedKeyRecord&,
                         bool& tryAgain) {
        tryAgain = InputQuery("OnGetPassword event", "Enter password for " + file, password);
    };
}

bool TFormTorvo::RestoreFromTarget(const std::string& archiveName)
{
    // A click served inside the running operation's message pump starts no second one.
    if (OperationRunning() || archiveName.empty())
        return false;
    // Without the caller's data folder the members would land wherever the process stands.
    if (state_.DataFolder.empty())
        return false;
    TOperationScope operation(*this);
    const std::string savedPanel = PanelMess->Caption;
    Screen->SetCursor(crHourGlass);
    PanelMess->Caption = state_.FtpTarget ? std::string("Obnovuji data z FTP serveru ...")
                                          : "Obnovuji data z disku " + target_.Letter + ":  ... ";
    bool busy = false;
    auto done = [&] {
        // Red until the person has read the result.
        if (std::exchange(busy, false))
            ApplicationWaiting();
        ShowProgress(false);
        StatusBar1->SimplePanel = false;
        ZipView1->Cursor = crDefault;
        Screen->SetCursor(crDefault);
        PanelMess->Caption = savedPanel;
    };

    Pelix1->SetArchiveFile(NormaliseTargetFolder(target_.TargetFolder) + archiveName);
    if (Pelix1->ArchiveFile().empty() || !IsZipArchiveType(Pelix1->ArcType())) {
        // A cut or damaged backup is not silently passed over: the person chose it to get data back.
        done();
        Application->MessageBox(UnreadableArchiveText(archiveName), "Data nerozbalena", MB_OK | MB_ICONSTOP);
        return false;
    }
    // The restore asks for a password in its own words; the archive manager's dialog comes back after it,
    // and so do its passwords: a backup's would be tried first on the next archive and, passing the
    // cipher's one-byte check by chance, decode it wrongly instead of asking.
    const auto managerAsk = UnZip1->OnGetPassword;
    const std::string managerPassword = UnZip1->Password();
    const std::vector<std::string> managerPasswords = UnZip1->Passwords;
    SetRestoreExtractorProperties();
    StatusBar1->SimplePanel = true;
    ShowProgress(true);
    ApplicationBusy();
    busy = true;
    const std::size_t errorMark = ErrorMessages.size();
    restoredFiles_ = 0;
    const int count = UnZip1->Extract();
    UnZip1->OnGetPassword = managerAsk;
    UnZip1->SetPassword(managerPassword);
    UnZip1->SetPasswords(managerPasswords);
    UnZip1->WriteBesideTargets = false;
    const bool failed = ShowErrorsSince(errorMark) || count < 0;
    // Only what was written counts; a restore with any failed member says so.
    const std::string result = "Z archivačního souboru: " + archiveName + "\r\n" +
                               "celkem rozbaleno datových souborů: " + std::to_string(restoredFiles_);
    if (failed)
        Application->MessageBox(result + "\r\n" + "Obnova dat byla NEÚSPĚŠNÁ; chyby jsou v seznamu chyb.",
                                "Data nerozbalena", MB_OK | MB_ICONSTOP);
    else
        Application->MessageBox(result, "Data rozbalena", MB_OK | MB_ICONINFORMATION);
    done();
    return !failed;
}
