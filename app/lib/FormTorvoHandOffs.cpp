// The main window's hand-offs to the internet and mail programs, the payslip options and the
// commands of the restore list.
#include "app/lib/FormTorvo.h"
#include "platform/win/ShownPath.h"

#include "app/lib/BackupNames.h"
#include "app/lib/HandOff.h"
#include "app/lib/Payslips.h"
#include "app/lib/Settings.h"
#include "platform/win/CodePage.h"
#include "platform/win/Messages.h"
#include "platform/win/Process.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Time.h"
#include "unit/U_FileUtils.h"
#include "unit/U_String.h"
#include "unit/U_Win.h"

#include <fstream>

using namespace vcl;

namespace {

constexpr const char* MakerWebAddress = "www.vimo.cz";

}  // namespace

void TFormTorvo::WebProgramMissing()
{
    Application->MessageBox(WebProgramMissingText, WebProgramMissingCaption, MB_OK | MB_ICONEXCLAMATION);
}

bool TFormTorvo::CheckInternetProgram()
{
    const HWND internet = FindWindowA(InternetProgramClass, nullptr);
    if (internet == 0)
        return true;
    if (const auto sibling = SiblingProgramOf(ProductIndex); sibling && FindWindowA(sibling->WindowClass, nullptr)) {
        Application->MessageBox(SiblingBusyText(sibling->Name), SiblingBusyCaption, MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    CloseWindowByClass(InternetProgramClass);
    // The program ends on its own time; give it the half second it is promised, a little longer
    // when it needs it.
    const DWORD start = GetTickCount();
    do {
        Application->ProcessMessages();
        Sleep(50);
    } while (FindWindowA(InternetProgramClass, nullptr) != 0 && GetTickCount() - start < 2000);
    return FindWindowA(InternetProgramClass, nullptr) == 0;
}

HWND TFormTorvo::InternetProgramWindow(bool upload)
{
    if (upload && !CheckInternetProgram())
        return 0;
    const std::string folder = ReadOtherProgramValue(InternetProgramSubKey, "InstallPath");
    if (folder.empty()) {
        WebProgramMissing();
        return 0;
    }
    if (const HWND running = FindWindowA(InternetProgramClass, nullptr)) {
        ::ForceForeground(running);
        return running;
    }
    const HWND started = StartInternetProgram(folder, InternetProgramStartWaitMs(InternetWaitSeconds),
                                              [] { Application->ProcessMessages(); });
    if (started == 0)
        WebProgramMissing();
    return started;
}

void TFormTorvo::WebUpload(int transferCode, const std::string& archiveFolder, const std::string& archiveFileName,
                           int ftpEntry)
{
    TOperationScope operation(*this);
    const HWND internet = InternetProgramWindow(true);
    if (internet == 0)
        return;
    const std::string ftpFolder = HandOffFtpFolder(state_.Definition.PathArchivFtp, state_.Definition.NoteOtherLicence,
                                                   state_.Definition.NoteLicence);
    SendHandOffRecord(internet, MakeUploadRecord(Handle(), Left(), Top(), transferCode, ftpEntry, target_.Ftp,
                                                 ftpFolder, archiveFolder, archiveFileName));
}

void TFormTorvo::WebDownload(int transferCode, int ftpEntry, const std::string& archiveBaseName)
{
    TOperationScope operation(*this);
    const HWND internet = InternetProgramWindow(false);
    if (internet == 0)
        return;
    const std::string ftpFolder = HandOffFtpFolder(state_.Definition.PathArchivFtp, state_.Definition.NoteOtherLicence,
                                                   state_.Definition.NoteLicence);
    SendHandOffRecord(internet, MakeDownloadRecord(Handle(), Left(), Top(), transferCode, ftpEntry, target_.Ftp,
                                                   ftpFolder, archiveBaseName, state_.Definition.PathArchiv));
}

void TFormTorvo::WebUploadArchive(const std::string& code)
{
    const auto choice = UploadChoiceOfCodeText(code);
    if (!choice || runArchive_.empty())
        return;
    WebUpload(choice->TransferCode, win::ExtractFilePath(runArchive_), win::ExtractFileName(runArchive_),
              choice->FtpEntry);
}

void TFormTorvo::WebDownloadArchive(const std::string& letter, int code)
{
    if (!IsFtpLetter(letter))
        return;
    WebDownload(code, letter[0] - '0', state_.ArchiveBaseName);
}

void TFormTorvo::mnuEmailClick()
{
    if (OperationRunning())
        return;
    TOperationScope operation(*this);
    std::string archive;
    if (!state_.BackupSide) {
        const int index = lstFileSpec->ItemIndex();
        if (index < 0)
            return;
        archive = NormaliseTargetFolder(target_.TargetFolder) + CutAtTab(lstFileSpec->Items[index]);
    } else {
        archive = runArchive_;
    }
    if (archive.empty() || !win::FileExists(archive))
        return;
    const std::string folder = ReadMailProgramPath();
    if (folder.empty()) {
        Application->MessageBox(MailProgramMissingText(MakerWebAddress), MailProgramMissingCaption,
                                MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    ShellExec(MailProgramExecutable(folder), MailProgramArgument(archive), "", SW_SHOWNORMAL);
}

void TFormTorvo::ParseRequestOptions(const std::string& options)
{
    payslipOptions_ = ParsePayslipOptions(options);
}

void TFormTorvo::LoadPayslipList()
{
    payslipList_.clear();
    std::string bytes;
    const TPayslipOptions& o = payslipOptions_;
    if (o.ListName.empty() || !ReadWholeFile(o.ZipFolder + o.ListName, bytes))
        return;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            payslipList_.push_back(PayslipFilePath(win::AnsiToUtf8(line), state_.DataFolder));
        start = end + 1;
    }
}

void TFormTorvo::StartPayslips()
{
    if (state_.PayslipGroupSize != 50)
        return;
    state_.PayslipRequest = true;
    state_.Definition.PathArchiv = payslipOptions_.ZipFolder;
    target_.TargetFolder = payslipOptions_.ZipFolder;
    state_.DataFolder = payslipOptions_.PdfFolder;
    state_.ArchiveBaseName = payslipOptions_.ZipBaseName;
    LoadPayslipList();
    PackPayslips();
}

void TFormTorvo::mnuUnZipClick()
{
    if (state_.BackupSide)
        return;
    lstFileSpecDblClick();
}

void TFormTorvo::lstFileSpecDblClick()
{
    const int index = lstFileSpec->ItemIndex();
    if (index < 0 || index >= lstFileSpec->Items.Count())
        return;
    RestoreFromTarget(CutAtTab(lstFileSpec->Items[index]));
    StatusBar1->SimplePanel = true;
    StatusBar1->SimpleText = ShownPath(target_.TargetFolder);
}

void TFormTorvo::lstFileSpecKeyDown(WORD& key)
{
    if (key == VK_RETURN)
        lstFileSpecDblClick();
}
