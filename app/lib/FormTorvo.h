// The main window: serves one request (or one interactive use) and ends with a reply.
#pragma once

#include "app/lib/Payslips.h"
#include "app/lib/RequestHandler.h"
#include "app/lib/RequestState.h"
#include "app/lib/TargetMenu.h"
#include "app/lib/VListBox.h"
#include "core/plxConsts.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Menus.h"

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

class TZipView;
class TPelix;
class TZip;
class TUnZip;
class TObject;
class TfrmErrorMsgs;
class TfrmExtract;
class TfrmAddFiles;
class TCompBase;
class TZipCommon;
class TJar;
class TBlakHole;
class TBZip;
class TGZip;
class TLha;
class TTar;
class TTarGZ;
class TTarBZ;
class TMakeCab;
class TZipSplitter;
class TfrmPassword1;
class TfrmPassword2;
class TfrmSeedKeys;
class TfrmSplitArchive;
class TUUEncode;
class TZipRun;
class TRegArchive;
class TUnBase;
class TDecompressClass;
class TUnJar;
class TUnARJ;
class TUnArc;
class TUnBh;
class TUnBZip;
class TUnCab;
class TUnGZip;
class TUnLha;
class TUnTar;
class TUnRar;
class TUnZoo;
class TUnACE;
class TUUDecode;
class TXFileVersion;

// Any type the listing knows, as against no archive, an unreadable file or an unknown one.
bool IsRecognisedType(TArcType t);

// Posted to the main window when held requests can be served (or a closed window finished).
inline constexpr UINT WM_SERVE_HELD_REQUESTS = WM_USER + 0x451;

// The status while a component stops at the person's click on the LED.
inline constexpr const char* CancellingStatus = "Ukončení...";

// The caption of the boxes that ask for the disks of a spanned backup.
inline constexpr const char* DiskPromptCaption = "Výměna diskety";

class TFormTorvo : public vcl::TForm, public TRequestHost {
public:
    explicit TFormTorvo(vcl::TComponent* owner);
    ~TFormTorvo() override;
    std::string ClassName() const override { return "TFormTorvo"; }

    // Controls.
    vcl::TPanel* Panel1;
    vcl::TSpeedButton *sbExit, *sbArchiv, *sbObnova, *sbUnZip, *sbComment, *sbEmail;
    vcl::TPanel* PanelMess;
    vcl::TLabel* LabelMess;
    vcl::TLabel* LabelPath;
    vcl::TPanel* pnlStatus;
    vcl::TPaintBox* pbxLed;
    vcl::TImage* imgLed;
    vcl::TImage* Image1;
    vcl::TStatusBar* StatusBar1;
    vcl::TProgressBar *ProgressBar1, *ProgressBar2;
    TZipView* ZipView1;
    TVListBox* lstFileSpec;
    vcl::TListView* ListView1;
    vcl::TComboBox* ComboBox1;
    vcl::TEdit *Edit1, *Edit2;
    vcl::TCheckBox* CheckBox1;
    std::array<vcl::TBitBtn*, 6> BitBtn;
    vcl::TImageList *ImageList1, *ImageList2;
    vcl::TMainMenu* MainMenu1;
    vcl::TMenuItem *mnuServis, *mnuArchivace, *mnuObnova, *mnuUnZip, *mnuComment, *mnuEmail, *mnuKonec;
    vcl::TMenuItem* mnuErrorMessages;
    // The archive manager's menus, hidden; their shortcuts work all the same.
    vcl::TMenuItem *mnuFile, *mnuAction, *mnuView;
    vcl::TMenuItem *mnuOpen, *mnuClose, *mnuDelete, *mnuExtract, *mnuRefresh, *mnuSort;
    TfrmExtract* frmExtract = nullptr;
    TfrmAddFiles* frmAddFiles = nullptr;
    vcl::TMenuItem* mnuAddFiles;
    vcl::TOpenDialog* OpenDialog1 = nullptr;
    vcl::TSaveDialog* SaveDialog1 = nullptr;
    std::array<vcl::TComponent*, 9> ControlTable{};
    // The archive components.
    std::unique_ptr<TPelix> Pelix1;
    std::unique_ptr<TZip> Zip1;
    std::unique_ptr<TUnZip> UnZip1;
    // What the components reported, as the error-message window lists it.
    std::vector<std::string> ErrorMessages;
    // The application's error-message window (one of its own when the application has none).
    TfrmErrorMsgs* ErrorList();

    TRequestState& State() { return state_; }
    TTargetState& Target() { return target_; }
    int ShownTargetImage() const { return targetImage_; }

    void FormCreate();
    void FormShow();
    void FormActivate();
    void WMCopyData(vcl::TWMCopyData& message) override;
    void WndProc(vcl::TMessage& message) override;
    // True while a backup, restore, payslip packing or hand-off runs: requests wait for its end.
    bool OperationRunning() const { return operationDepth_ > 0; }
    void SetModeCaption(bool withSuffix) override;
    void DispatchRequest() override;
    void FinishRequest() override;
    // The target menu: the chosen return text, empty after Esc.
    std::string BuildTargetMenu(const std::string& title, char defaultLetter);
    void ShowTargetImage(int index);
    // The drive types the target menu and path see (the platform's drive table by default).
    TDriveTypeOf DriveType = HostDriveType;

    // The workers.
    bool BackupToDisk();
    void WriteArchiveComment(const std::string& archiveFileName);
    void WebUploadArchive(const std::string& code);
    void WebDownloadArchive(const std::string& letter, int code);
    void ListTargetArchives();
    // Shows the archive in the list view; false when it is no archive.
    bool RefreshList(const std::string& archiveFile);
    // The archive manager: lists the archive and its totals and remembers it among the recent ones.
    void DisplayFile(const std::string& archiveFile);
    // Mode 0: the totals of the whole archive; 1: of the selected rows.
    void DisplayTotals(int mode);
    void ShowArchiveComment();
    void OpenClick();
    void CloseClick();
    void RefreshClick();
    void ExtractClick();
    void DeleteClick();
    void AddFilesClick();
    // The full stored names of the selected rows (all rows when `allWhenNone` and none is selected).
    std::vector<std::string> SelectedEntryNames(bool allWhenNone) const;
    // ---- Archive-manager commands: test, comments, rename, save as, encode, view/run, sorting ----
    std::unique_ptr<TUUEncode> UUEncode1;
    std::unique_ptr<TZipRun> ZipRun1;
    vcl::TMenuItem *mnuSaveAs, *mnuEditComment, *mnuRename, *mnuTest, *mnuEncode;
    vcl::TMenuItem *mnuBlankDirs, *mnuElapsedTime;
    vcl::TPopupMenu* PopupMenu1;
    void TestClick();
    void EditCommentClick();
    void RenameClick();
    void SaveAsClick();
    void EncodeClick();
    void ViewRunClick();
    void BlankDirsClick();
    void ElapsedTimeClick();
    // Sorts the list by a column, as a click on its header does (again: the other direction).
    void SortByColumn(int column);
    // ---- end of the commands block ----
    void PackPayslips();
    void LoadPayslipList();
    bool CheckInternetProgram();
    void WebProgramMissing();
    // The commands of the restore list and the e-mail command.
    void lstFileSpecDblClick();
    void lstFileSpecKeyDown(WORD& key);
    void mnuUnZipClick();
    void mnuEmailClick();
    // The LED: red while a component works (a click cancels it), green otherwise.
    void ApplicationBusy();
    void ApplicationWaiting();
    vcl::TColor LedColour() const { return ledColour_; }
    void pbxLedClick();
    // A component's run has ended: the LED (once no other works) and the cancel go with it.
    void ComponentStopped();
    // Edits the comment of the run's archive (backup side) or of the chosen archive (restore side).
    void mnuCommentClick();
    // The archive the run wrote last (folder and name), empty before.
    const std::string& RunArchive() const { return runArchive_; }
    std::string RunComment;
    // The shared product index of the programs that share the internet program.
    int ProductIndex = 0;
    // Seconds to wait for the internet program beyond the first 500 ms.
    int InternetWaitSeconds = 0;

    // The archive manager's writers, the dialogs of adding and the events every component shares.
    std::unique_ptr<TJar> Jar1;
    std::unique_ptr<TBlakHole> BlakHole1;
    std::unique_ptr<TBZip> BZip1;
    std::unique_ptr<TGZip> GZip1;
    std::unique_ptr<TLha> Lha1;
    std::unique_ptr<TTar> Tar1;
    std::unique_ptr<TTarGZ> TarGZ1;
    std::unique_ptr<TTarBZ> TarBZ1;
    std::unique_ptr<TMakeCab> MakeCab1;
    std::unique_ptr<TZipSplitter> ZipSplitter1;
    // File associations: every one it offers is declined.
    std::unique_ptr<TRegArchive> RegArchive1;
    // The extractors of the other types (the ZIP family reads through UnZip1).
    std::unique_ptr<TUnJar> UnJAR1;
    std::unique_ptr<TUnARJ> UnARJ1;
    std::unique_ptr<TUnArc> UnARC1;
    std::unique_ptr<TUnBh> UnBH1;
    std::unique_ptr<TUnBZip> UnBZip1;
    std::unique_ptr<TUnCab> UnCab1;
    std::unique_ptr<TUnGZip> UnGZip1;
    std::unique_ptr<TUnLha> UnLHA1;
    std::unique_ptr<TUnTar> UnTAR1;
    std::unique_ptr<TUnRar> UnRAR1;
    std::unique_ptr<TUnZoo> UnZOO1;
    std::unique_ptr<TUnACE> UnACE1;
    std::unique_ptr<TUUDecode> UUDecode1;
    std::unique_ptr<TXFileVersion> XFileVersion1;
    // The window's extractor of an archive type; null for a type none of them reads.
    TUnBase* ExtractComponentFor(TArcType type) const;
    vcl::TMenuItem* mnuNew = nullptr;
    TfrmPassword1* Password1Dialog();
    TfrmPassword2* Password2Dialog();
    TfrmSeedKeys* SeedKeysDialog();
    TfrmSplitArchive* SplitDialog();
    TfrmAddFiles* AddFilesDialog();
    // Makes the writer of an archive type the current compressor; false for a type none writes.
    bool DefineCompressComponent(TArcType type);
    // Another archive is taken up: the writers forget the password, file lists and folder given
    // for the one before, which would otherwise go into this one unasked.
    void ForgetArchiveSettings();
    TCompBase* Compressor() const { return compressor_; }
    // "&New": names the archive, asks the add dialog for its files and writes it.
    void NewClick();
    // Binds the window's handlers to every event of the component that it has.
    void BindSharedEvents(TZipCommon& component);
    // The seed-key dialog's keys into a component of the ZIP cipher.
    void ApplySeedKeys(TZipCommon& component);

    // TRequestHost
    bool FileExists(const std::string& fileName) override;
    void DeleteFile(const std::string& fileName) override;
    bool ReadDefinitionFile() override;
    std::string FindMenuReturnValue(const std::string& section, int n, bool reportErrors,
                                    const std::string& menuFile) override;
    void ClearFtpEntries() override;
    void ParseRequestOptions(const std::string& options) override;
    void StartPayslips() override;
    bool RestoreArchive(const std::string& archiveName) override;
    void MinimiseApplication(bool minimise) override;
    void CloseMenuForm() override;
    void ForceForeground(HWND window) override;
    void ColourForAutomaticRun() override;
    void ShowControlsForMode(std::int32_t mode) override;
    void AutomaticRunDone() override;

private:
    // The smallest client area at which no control shown is cut or covered by another.
    vcl::TPoint SmallestClientSize() const;
    // Makes that the window's smallest size.
    void KeepControlsWhole();
    // The manager's writer of each format, by its descriptor's key.
    std::array<std::pair<std::string_view, TCompBase*>, 10> ManagerWriters() const;
    void BuildComponents();
    void BuildMainMenu();
    void BuildManagerMenus();
    // False, with a word in the status bar, while another operation runs.
    bool ManagerIdle();
    // ---- Archive-manager commands (private) ----
    void BuildCommandControls();
    // Moves or copies the open archive to a new name and opens it there.
    void PlaceArchiveAs(const std::string& target, bool move);
    void ReportElapsedTime(::TObject* sender, float seconds);
    // ---- end of the commands block ----
    vcl::TSpeedButton* MakeSpeedButton(const char* name, const char* caption, int left);
    // Writes the archive of the file list; a payslip group (payslipName given) leaves comment,
    // message and finish to its caller.
    bool RunBackup(const std::optional<std::string>& payslipName);
    // Lists each named file and each folder of a mask that is not there; gives their number.
    std::size_t ReportMissingSetFiles(const std::vector<std::string>& files);
    bool BackupToDiskPayslips(const std::string& archiveName);
    std::string BackupArchiveName(const std::string& folder) const;
    void SetBackupWriterProperties(const std::vector<std::string>& files, TRelativeDir relativeDir);
    std::string ArchiveListLine(const std::string& folder, const std::string& fileName);
    // The number of entries and the archive comment (UTF-8) of a ZIP archive.
    std::pair<int, std::string> ReadEntriesAndComment(const std::string& archive);
    void BuildArchiveComponents();
    void BuildManagerComponents();
    void CompletePopupMenu();
    // Lets a ZIP run that outgrows one volume ask how to split it.
    void OfferSplit();
    // Runs the current compressor with the LED and the error list; the entries written.
    int RunCompressor();
    // The request workflow's components take the status handlers (and their password asks)
    // without the questions, which an automatic run must not meet.
    void BindStatusEvents(TZipCommon& component);
    void BindPasswordEvent(TZipCommon& component);
    // The extractors' question before a file is overwritten (asked only when confirming).
    void BindOverwriteQuestion(TDecompressClass& extractor);
    TCompBase* compressor_ = nullptr;
    std::vector<std::pair<TArcType, TUnBase*>> extractors_;
    TfrmPassword1* frmPassword1_ = nullptr;
    TfrmPassword2* frmPassword2_ = nullptr;
    TfrmSeedKeys* frmSeedKeys_ = nullptr;
    TfrmSplitArchive* frmSplitArchive_ = nullptr;
    void ComponentError(::TObject* sender, const std::string& file, const std::string& extended, int code);
    void Pelix1Read(const TZipCommon& entry, std::int64_t offset);
    bool RestoreFromTarget(const std::string& archiveName);
    void BindDiskPrompts();
    bool CopyToDiskette(const std::string& stagedFolder, const std::string& realFolder, const std::string& fileName);
    void SetRestoreExtractorProperties();
    void WebUpload(int transferCode, const std::string& archiveFolder, const std::string& archiveFileName,
                   int ftpEntry);
    void WebDownload(int transferCode, int ftpEntry, const std::string& archiveBaseName);
    HWND InternetProgramWindow(bool upload);
    void ShowProgress(bool visible);
    // The member an operation begins, in the status bar at a human rate: its path's host form
    // costs more to find than a small member takes, so it is found only for the member shown.
    // A long member's progress shows it once it is due.
    void ShowMember(const char* doing, const std::string& file);
    void ShowPendingMember();
    // Widens the status panels to their texts, so no number is cut.
    void FitStatusPanels();
    static constexpr int StatusPanelWidths[] = {90, 90, 110, 110, 80, 80};
    // Shows the error list when errors came in after `mark` (a size of ErrorMessages); true then.
    bool ShowErrorsSince(std::size_t mark);
    void SetBackupSideCommands(bool backupOn);
    void SetStatus(const std::string& panelText, const std::string& dataSetLine);
    std::string DataSetLine(bool backup) const;
    void ShowTargetImageForLetter(const std::string& letter);

    // Marks one operation; requests that arrive meanwhile are held and served after it, in order.
    class TOperationScope {
    public:
        explicit TOperationScope(TFormTorvo& form) : form_(form) { ++form_.operationDepth_; }
        ~TOperationScope() { form_.OperationEnded(); }
        TOperationScope(const TOperationScope&) = delete;
        TOperationScope& operator=(const TOperationScope&) = delete;

    private:
        TFormTorvo& form_;
    };
    struct THeldRequest {
        std::uint32_t command = 0;
        std::vector<std::uint8_t> bytes;
    };
    void OperationEnded();
    void ServeHeldRequests();

    TRequestState state_;
    TTargetState target_;
    TRequestHandler handler_{state_, *this};
    bool activatedOnce_ = false;
    std::string runArchive_;
    std::vector<std::string> payslipList_;
    TPayslipOptions payslipOptions_;
    int targetImage_ = -1;
    // Members of the running restore that were written, checked and put in place.
    int restoredFiles_ = 0;
    // Files that the payslip groups of this run put into archives.
    int archivedFiles_ = 0;
    bool backupPassRunning_ = false;
    vcl::TColor ledColour_ = vcl::clGreen;
    int busyDepth_ = 0;
    vcl::TCursor cursorBeforeBusy_ = vcl::crDefault;  // the screen's, restored when the last operation ends
    const char* memberDoing_ = "";
    std::string memberFile_;
    bool memberPending_ = false;
    std::chrono::steady_clock::time_point nextMemberShown_{};
    // Cancels the component that works now; empty while none does.
    std::function<void()> cancelWorking_;
    int operationDepth_ = 0;
    // The window was closed during an operation: the request finishes when it has stopped.
    bool finishAfterOperation_ = false;
    std::deque<THeldRequest> heldRequests_;
};
