#include "readers/plxZipRun.h"

#include <algorithm>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "platform/win/Errors.h"
#include "platform/win/Paths.h"
#include "platform/win/Process.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFolders.h"
#include "readers/EntryNames.h"
#include "readers/ExtractorFor.h"

namespace {

constexpr const char* kRunFolderPrefix = "torvo-run-";

std::string Backslashed(std::string Name)
{
    std::replace(Name.begin(), Name.end(), '/', '\\');
    return Name;
}

int ShowCommandOf(TExecState State)
{
    switch (State) {
    case esMinimized:
        return SW_SHOWMINIMIZED;
    case esMaximized:
        return SW_SHOWMAXIMIZED;
    case esHidden:
        return SW_HIDE;
    default:
        return SW_SHOWNORMAL;
    }
}

}  // namespace

TZipRun::TZipRun(TObject* AOwner) : TUnBase(AOwner)
{
    UseStoredDirs = true;
}

TZipRun::~TZipRun()
{
    for (const std::string& folder : FHeldFolders)
        win::RemoveFolderTree(folder);
}

bool TZipRun::Activate()
{
    SetCancel(false);
    FRunFile.clear();
    if (ArchiveFile().empty() || FileSpec().empty())
        return false;
    for (const std::string& spec : FileSpec())
        if (NameLeavesTarget(spec)) {
            DoError(spec, "", E_INVALIDFILENAME, "");
            return false;
        }
    if (OnActivate)
        OnActivate(this);
    if (OnElapsedTime)
        Timer().Start();
    const bool started = RunInNewFolder();
    Timer().Stop();
    if (OnElapsedTime)
        OnElapsedTime(this, Timer().Elapsed());
    if (OnDeactivate)
        OnDeactivate(this);
    return started;
}

bool TZipRun::RunInNewFolder()
{
    // Folders of runs whose program has ended since are of no use to anyone now.
    win::RemoveOrphanedTempFolders(TempDir(), kRunFolderPrefix);
    const std::string folder = win::CreateOwnedTempFolder(TempDir(), kRunFolderPrefix);
    if (folder.empty()) {
        DoError(TempDir(), "", E_CANNOTCREATEDIR, "");
        return false;
    }
    if (!ExtractMember(folder) || !win::FileExists(FRunFile)) {
        FRunFile.clear();
        FinishRun(folder, true);
        return false;
    }
    bool execute = true;
    if (OnBeforeExecute)
        OnBeforeExecute(this, FRunFile, execute);
    HANDLE process = nullptr;
    bool ownsFile = false;
    const bool started = execute && Start(&process, ownsFile);
    if (process != nullptr) {
        WaitFor(process);
        // A program that was handed the file and has ended leaves it to nobody; after a cancel
        // it may still be reading.
        FinishRun(folder, ownsFile && !GetCancel());
    } else {
        // The host may still use a file it chose not to open; a failed start leaves nothing to keep.
        FinishRun(folder, execute && !started);
    }
    return started;
}

bool TZipRun::ExtractMember(const std::string& Folder)
{
    std::unique_ptr<TUnBase> extractor = NewTemporaryExtractor(*this);
    if (extractor == nullptr) {
        DoError(ArchiveFile(), "", E_UNSUPPORTEDARCTYPE, "");
        return false;
    }
    TUnBase& x = *extractor;
    x.SetExtractDir(Folder);
    x.OnActivate = OnExtractActivate;
    x.OnDeactivate = OnExtractDeactivate;
    x.OnBegin = OnExtractBegin;
    x.OnFileExists = OnExtractFileExists;
    x.OnProgress = OnExtractProgress;
    x.OnError = OnError;
    x.OnGetPassword = OnGetPassword;
    x.OnNextVolume = OnNextVolume;
    x.OnGetZipFirstDisk = OnGetZipFirstDisk;
    x.OnGetZipNextDisk = OnGetZipNextDisk;
    x.OnGetZipLastDisk = OnGetZipLastDisk;
    x.OnEnd = [this, &x, &Folder](TObject* Sender, const std::string& Name, bool Pass) {
        const bool inside = Name.size() > Folder.size() && win::SameText(Name.substr(0, Folder.size()), Folder);
        if (Pass && inside && FRunFile.empty() && SelectsRunFile(x.StoredName))
            FRunFile = Name;
        if (OnExtractEnd)
            OnExtractEnd(Sender, Name, Pass);
    };
    return x.ExtractForRun() > 0 && !FRunFile.empty();
}

// The first FileSpec entry names the member to open; one without a folder names it in any folder.
bool TZipRun::SelectsRunFile(const std::string& Stored) const
{
    const std::string spec = Backslashed(FileSpec().front());
    const std::string name = Backslashed(Stored);
    if (spec.find('\\') == std::string::npos)
        return MatchesMask(win::ExtractFileName(name), spec);
    return MatchesMask(name, spec);
}

bool TZipRun::Start(HANDLE* Process, bool& OwnsFile)
{
    SHELLEXECUTEINFOA info;
    info.nShow = ShowCommandOf(WindowState);
    if (ExecutionMethod == emExecuteAndWait)
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
    std::string parameters;
    OwnsFile = false;
    switch (OpenMethod) {
    case omRegistryAssoc:
        info.lpVerb = "open";
        info.lpFile = FRunFile.c_str();
        break;
    case omCmdLine:
        info.lpFile = FRunFile.c_str();
        break;
    case omOpenWith:
        parameters = "shell32.dll,OpenAs_RunDLL " + win::QuoteArgument(FRunFile);
        info.lpFile = "rundll32";
        info.lpParameters = parameters.c_str();
        break;
    case omOpenWithFile: {
        if (CommandLineParams.empty())
            return false;
        // The chosen program is a host program: it is handed the file's host path.
        std::string host;
        if (!win::ToHostPath(FRunFile, host))
            return false;
        parameters = win::QuoteArgument(host);
        info.lpFile = CommandLineParams.c_str();
        info.lpParameters = parameters.c_str();
        OwnsFile = true;
        break;
    }
    }
    if (!ShellExecuteExA(&info)) {
        const std::string text = win::SysErrorMessage(GetLastError());
        DoError(info.lpFile, text, E_COMMANDEXEC, "");
        ShowMessageBox(text, "", MB_ICONSTOP);
        return false;
    }
    *Process = info.hProcess;
    return true;
}

void TZipRun::WaitFor(HANDLE Process)
{
    WaitForInputIdle(Process, INFINITE);
    while (WaitForSingleObject(Process, 10) == WAIT_TIMEOUT && !GetCancel())
        ProcessMessages();
    CloseHandle(Process);
}

void TZipRun::FinishRun(const std::string& Folder, bool Remove)
{
    if (!Remove) {
        FHeldFolders.push_back(Folder);
        return;
    }
    if (!FRunFile.empty() && OnRemoveTempfile)
        OnRemoveTempfile(this, FRunFile);
    win::RemoveFolderTree(Folder);
}
