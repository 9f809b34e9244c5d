// The handlers that every archive component of the main window shares: prompts, questions,
// progress, status and errors, each bound to every component that has the event.
#include "app/lib/FormTorvo.h"

#include "app/lib/FormPassword.h"
#include "app/lib/FormSplitArchive.h"
#include "core/Err_Msgs.h"
#include "core/UnBase.h"
#include "platform/win/ShownPath.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysStrings.h"
#include "readers/Pelix.h"
#include "writers/SingleFileWriter.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

using namespace vcl;

namespace {

// A handler the component already has stays: the request workflow brings prompts of its own.
template <class F, class H>
void Bind(F& event, H handler)
{
    if (!event)
        event = F(std::move(handler));
}

bool Ask(const std::string& text, const std::string& caption, unsigned buttons, int yes)
{
    return Application->MessageBox(text, caption, buttons | MB_ICONQUESTION) == yes;
}

// Yes, No or Cancel over a file that is already there; Cancel stops the component's run. The
// file is named as the person knows it, in the host's form.
TOverwriteMode AskOverwrite(const std::string& file, TZipCommon& component)
{
    const int answer = Application->MessageBox(ShownPath(file) + "\r\ralready exists. Overwrite it?", "File exists",
                                               MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDCANCEL)
        component.SetCancel(true);
    return answer == IDYES ? omOverwrite : omSkip;
}

std::string FileValues(std::int64_t size, TDateTime date, int attr)
{
    return "Size: " + std::to_string(size) + "   Date: " + win::FormatDateTime("mm/dd/yy hh:nn am/pm", date) +
           "   Attr: " + std::to_string(attr);
}

}  // namespace

void TFormTorvo::BindStatusEvents(TZipCommon& c)
{
    auto* writer = dynamic_cast<TCompressClass*>(&c);
    auto* extractor = dynamic_cast<TDecompressClass*>(&c);
    auto* listing = dynamic_cast<TPelix*>(&c);

    Bind(c.OnError, [this](::TObject* sender, const std::string& file, const std::string& extended, const std::string&,
                           int code) { ComponentError(sender, file, extended, code); });
    Bind(c.OnActivate, [this, &c](::TObject*) {
        cancelWorking_ = [&c] { c.SetCancel(true); };
        ApplicationBusy();
    });
    Bind(c.OnDeactivate, [this, listing](::TObject*) {
        ComponentStopped();
        if (listing)
            StatusBar1->SimpleText = "";
    });
    Bind(c.OnBegin, [this, writer](::TObject*, const std::string& file, int, bool&) {
        ShowMember(!writer ? "Extracting: " : writer->Switch == swDelete ? "Deleting: " : "Compressing: ", file);
        ProgressBar1->SetPosition(0);  // the archive's bar keeps its place from member to member
    });
    if (extractor)
        Bind(c.OnEnd, [this](::TObject* sender, const std::string& file, bool crcPass) {
            if (!crcPass)
                ComponentError(sender, file, "", E_CRC);
        });
    const auto progress = [this](::TObject*, std::uint8_t byFile, std::uint8_t byArchive) {
        ProgressBar1->SetPosition(byFile);
        ProgressBar2->SetPosition(byArchive);
        ShowPendingMember();
        Application->ProcessMessages();
    };
    Bind(c.OnProgress, progress);
    Bind(c.OnTmpFileProgress, progress);
    Bind(c.OnExcludeFile, [this](::TObject*, const std::string& file) {
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = "File Excluded: " + ShownPath(file);
    });
    Bind(c.OnNextVolume, [this](::TObject*, std::string& volume, int, bool, bool&) {
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = "Volume ID: " + ShownPath(volume);
    });
    Bind(c.OnElapsedTime, [this](::TObject* sender, float seconds) {
        if (mnuElapsedTime && mnuElapsedTime->Checked)
            ReportElapsedTime(sender, seconds);
    });
    Bind(c.OnTmpFileMoveBegin, [this](::TObject*, const std::string&, const std::string&, bool&) {
        StatusBar1->SimplePanel = true;
        StatusBar1->SimpleText = "Vytvářím archivní soubor";
    });
    if (listing) {
        Bind(listing->OnReadFile, [this](::TObject*, const std::string& file) {
            StatusBar1->SimplePanel = true;
            StatusBar1->SimpleText = file;
        });
        Bind(listing->OnTotals, [](::TObject*, std::int64_t, std::int64_t, int, int) {});
    }
    if (writer)
        Bind(writer->OnRecurseDir, [this](::TObject*, const std::string& folder) {
            StatusBar1->SimplePanel = true;
            StatusBar1->SimpleText = "Scanning dir: " + ShownPath(folder);
            Application->ProcessMessages();
        });
}

void TFormTorvo::BindSharedEvents(TZipCommon& c)
{
    BindStatusEvents(c);
    BindPasswordEvent(c);
    auto* writer = dynamic_cast<TCompressClass*>(&c);
    const auto disk = [](const std::string& text, bool& cancel) {
        cancel = Application->MessageBox(text, "Disk", MB_OKCANCEL | MB_ICONINFORMATION) != IDOK;
    };
    Bind(c.OnGetZipFirstDisk,
         [disk](::TObject*, bool& cancel) { disk("Insert FIRST disk of this archive set.", cancel); });
    Bind(c.OnGetZipLastDisk,
         [disk](::TObject*, bool& cancel) { disk("Insert LAST disk of this archive set.", cancel); });
    Bind(c.OnGetZipNextDisk,
         [disk](::TObject*, const std::string& number, bool& cancel) { disk("Insert disk# : " + number, cancel); });
    Bind(c.OnInsertDisk,
         [disk](::TObject*, const std::string& number, bool& cancel) { disk("Insert disk# : " + number, cancel); });
    Bind(c.OnCorruptZipHeader, [](::TObject*, THeaderTypeState, bool& cancel) {
        cancel = !Ask("Header error... (missing or corrupt)\r\rContinue?", "Header error", MB_YESNO, IDYES);
    });
    Bind(c.OnNestedTarFile, [](::TObject*, const std::string&, bool& doUnTar) {
        doUnTar = Ask(std::string("Compressed file is a tar archive.") + "Decompress the tar archive?", "Tar", MB_YESNO,
                      IDYES);
    });
    Bind(c.OnLimitedUser, [](::TObject*, const std::string&, std::string& userDir, bool& cancel) {
        Application->MessageBox(std::string("You do not have permissions to write to this directory.") + "\r" +
                                    "You should have permissions to your users acct directory." + "\r\r" +
                                    "Select another directory, or cancel next screen.",
                                "Limited user", MB_OK | MB_ICONWARNING);
        std::string folder = userDir;
        cancel = !SelectDirectory("Select another directory", "", folder);
        if (!cancel)
            userDir = folder;
    });
    if (writer) {
        Bind(writer->OnReplaceFile,
             [](::TObject*, const std::string& file, const std::string& newFile, TDateTime date, TDateTime newDate,
                std::int64_t size, std::int64_t newSize, int attr, int newAttr, bool& replace) {
                 replace = Ask("REPLACE:\r   " + ShownPath(file) + "\r" + "   " + FileValues(size, date, attr) + "\r\r" +
                                   "WITH:" + ShownPath(newFile) + "\r   " + FileValues(newSize, newDate, newAttr),
                               "Replace", MB_YESNO, IDYES);
             });
        Bind(writer->OnRenameDupeFile, [](::TObject*, const std::string&, std::string& newName, bool& rename) {
            rename = InputQuery("OnRenameDupeFile event", "File exists... rename existing file as:", newName);
        });
        Bind(writer->OnNonWriteableArchive, [](::TObject*, const std::string& file, bool& write) {
            write = Ask(ShownPath(file) + " is ReadOnly, SysFile, or Hidden file...\r\r" + "Write to this file?", "Archive",
                        MB_YESNO, IDYES);
        });
    }
    if (auto* single = dynamic_cast<TSingleFileWriter*>(&c))
        Bind(single->OnFileExists, [single](::TObject*, const std::string& file, TDateTime, TOverwriteMode& mode) {
            mode = AskOverwrite(file, *single);
        });
    if (auto* zip = dynamic_cast<TZipBase*>(&c)) {
        Bind(zip->OnClearDisk, [](::TObject*, const std::string& drive, std::int64_t required, std::int64_t free,
                                  std::int64_t, bool& cancel) {
            cancel = Application->MessageBox("Něco není v pořádku s kapacitou diskety!\r\r(OnClearDiskette event)\r\r" +
                                                 drive + "\r" + "Požadovaný prostor: " + std::to_string(required) +
                                                 "\r" + "Volný prostor: " + std::to_string(free),
                                             "Disk", MB_OKCANCEL | MB_ICONWARNING) != IDOK;
        });
        Bind(zip->OnDiskWriteProtectErr, [](::TObject*, bool& abort) {
            abort = Application->MessageBox(
                        "OnDiskWriteProtectErr Event\r\rDisk write protect error... correct before pressing OK.",
                        "Disk", MB_OKCANCEL | MB_ICONWARNING) != IDOK;
        });
        Bind(zip->OnDiskInDrvErr, [](::TObject*, bool& abort) {
            abort = Application->MessageBox("OnDiskDrvErr Event\r\rInsert disk, press OK when ready...", "Disk",
                                            MB_OKCANCEL | MB_ICONWARNING) != IDOK;
        });
    }
    if (auto* extractor = dynamic_cast<TDecompressClass*>(&c))
        BindOverwriteQuestion(*extractor);
    if (auto* splitter = dynamic_cast<TZipSplitter*>(&c))
        Bind(splitter->OnSplitBegin,
             [this, splitter](::TObject*, const std::string&, const std::string&, bool& cancel) {
                 // The question opens on "No split": Enter keeps the archive one file, as it was.
                 splitter->SetPartType(ptNoSplit);
                 cancel = SplitDialog()->ShowModal() != mrOk;
             });
}

void TFormTorvo::BindOverwriteQuestion(TDecompressClass& extractor)
{
    // Asked only when "Confirm file overwrites" is set; without a handler the extractor would
    // report a missing event and skip the file.
    Bind(extractor.OnFileExists, [&extractor](::TObject*, const std::string& file, std::string&, TOverwriteMode& mode) {
        mode = AskOverwrite(file, extractor);
    });
}

void TFormTorvo::BindPasswordEvent(TZipCommon& c)
{
    auto* listing = dynamic_cast<TPelix*>(&c);
    Bind(c.OnGetPassword, [this, listing](::TObject* sender, const std::string& file, std::string& password,
                                          TSeedKeyRecord&, TSeedKeyRecord&, bool& tryAgain) {
        if (listing) {
            tryAgain = InputQuery("OnGetPassword event", "Enter password", password);
            return;
        }
        TfrmPassword2* dialog = Password2Dialog();
        dialog->SetFileNameFor(sender, file);
        tryAgain = dialog->ShowModal() == mrOk;
        if (tryAgain)
            password = dialog->Password();
    });
}
