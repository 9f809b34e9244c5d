// The main window: serves one request (or one interactive use) and ends with a reply.
#pragma once

#include "app/lib/RequestHandler.h"
#include "app/lib/RequestState.h"
#include "app/lib/TargetMenu.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Menus.h"

#include <array>

class TFormTorvo : public vcl::TForm, public TRequestHost {
public:
    explicit TFormTorvo(vcl::TComponent* owner);
    std::string ClassName() const override { return "TFormTorvo"; }

    // Components (plain controls until the archive manager arrives).
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
    vcl::TListView* ZipView1;  // stands in for the archive list view
    vcl::TListBox* lstFileSpec;
    vcl::TListView* ListView1;
    vcl::TComboBox* ComboBox1;
    vcl::TEdit *Edit1, *Edit2;
    vcl::TCheckBox* CheckBox1;
    std::array<vcl::TBitBtn*, 6> BitBtn;
    vcl::TImageList *ImageList1, *ImageList2;
    vcl::TMainMenu* MainMenu1;
    vcl::TMenuItem *mnuServis, *mnuArchivace, *mnuObnova, *mnuUnZip, *mnuComment, *mnuEmail, *mnuKonec;
    vcl::TOpenDialog* OpenDialog1 = nullptr;
    vcl::TSaveDialog* SaveDialog1 = nullptr;
    std::array<vcl::TComponent*, 9> ControlTable{};

    TRequestState& State() { return state_; }
    TTargetState& Target() { return target_; }
    int ShownTargetImage() const { return targetImage_; }

    void FormCreate();
    void FormShow();
    void FormActivate();
    void WMCopyData(vcl::TWMCopyData& message) override;
    void SetModeCaption(bool withSuffix) override;
    void DispatchRequest() override;
    void FinishRequest() override;
    // The target menu: the chosen return text, empty after Esc.
    std::string BuildTargetMenu(const std::string& title, char defaultLetter);
    void ShowTargetImage(int index);
    // The drive types the target menu and path see (the platform's drive table by default).
    TDriveTypeOf DriveType = HostDriveType;

    // The workers; they arrive in later work and say so meanwhile.
    bool BackupToDisk();
    void WebUploadArchive(const std::string& code);
    void WebDownloadArchive(const std::string& letter, int code);
    void ListTargetArchives();
    void PackPayslips();

    // TRequestHost
    bool FileExists(const std::string& fileName) override;
    void DeleteFile(const std::string& fileName) override;
    void ReadDefinitionFile() override;
    std::string FindMenuReturnValue(const std::string& section, int n, bool reportErrors,
                                    const std::string& menuFile) override;
    void ClearFtpEntries() override;
    void ParseRequestOptions(const std::string& options) override;
    void StartPayslips() override;
    void RestoreArchive(const std::string& archiveName) override;
    void MinimiseApplication(bool minimise) override;
    void CloseMenuForm() override;
    void ForceForeground(HWND window) override;
    void ColourForAutomaticRun() override;
    void ShowControlsForMode(std::int32_t mode) override;
    void AutomaticRunDone() override;

private:
    void BuildComponents();
    void BuildMainMenu();
    vcl::TSpeedButton* MakeSpeedButton(const char* name, const char* caption, int left);
    void NotThereYet(const std::string& what);
    void SetBackupSideCommands(bool backupOn);
    void SetStatus(const std::string& panelText, const std::string& dataSetLine);
    std::string DataSetLine(bool backup) const;
    void ShowTargetImageForLetter(const std::string& letter);

    TRequestState state_;
    TTargetState target_;
    TRequestHandler handler_{state_, *this};
    bool activatedOnce_ = false;
    int targetImage_ = -1;
};
