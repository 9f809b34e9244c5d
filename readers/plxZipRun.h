// Extract-and-run: extracts one member of an archive of any extractable type into a private folder
// of its own (operation code 10) and opens it through the desktop's association, as a command
// line, through "Open with", or with a chosen program, optionally waiting for the started program.
//
// The folder of a run is removed after the wait only when the started program is the one that was
// handed the file (a chosen program). A desktop opener returns at once while its viewer may still be
// reading, so those folders are held until the component is destroyed (the program's exit), or,
// after KeepRunFolders, until a later start finds their owner process gone.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/UnBase.h"
#include "platform/win/Handles.h"

enum TExecMethod : std::uint8_t { emExecuteNoWait, emExecuteAndWait };
enum TOpenMethod : std::uint8_t { omRegistryAssoc, omCmdLine, omOpenWith, omOpenWithFile };
enum TExecState : std::uint8_t { esNormal, esMinimized, esMaximized, esHidden };

using TOnBeforeExecute = std::function<void(TObject* Sender, const std::string& FileName, bool& ExecuteFile)>;

class TZipRun : public TUnBase {
public:
    explicit TZipRun(TObject* AOwner = nullptr);
    // Removes the run folders still held.
    ~TZipRun() override;

    std::string CommandLineParams;  // omOpenWithFile: the program that opens the file
    TExecMethod ExecutionMethod = emExecuteAndWait;
    TOpenMethod OpenMethod = omRegistryAssoc;
    TExecState WindowState = esNormal;

    TOnActivate OnExtractActivate;
    TOnActivate OnExtractDeactivate;
    TOnBegin OnExtractBegin;
    TOnEnd OnExtractEnd;
    TUnBase_OnFileExists OnExtractFileExists;
    TOnProgress OnExtractProgress;
    TOnBeforeExecute OnBeforeExecute;
    // OnRemoveTempfile fires with the run's file just before its folder is removed after a wait.

    // Extracts the member that the first FileSpec entry names (the other entries are extracted
    // beside it) and opens it; true when a program was started. Empty ArchiveFile or FileSpec do
    // nothing; a FileSpec entry that could reach outside the run folder is refused (E_INVALIDFILENAME).
    bool Activate();

    // The file the last run extracted to open (a Windows path), empty when none.
    const std::string& RunFile() const { return FRunFile; }
    // Leaves the held run folders to a later start instead of removing them with the component:
    // for a short-lived host whose opener may still be reading.
    void KeepRunFolders() { FHeldFolders.clear(); }

private:
    bool RunInNewFolder();
    bool ExtractMember(const std::string& Folder);
    bool SelectsRunFile(const std::string& Stored) const;
    bool Start(HANDLE* Process, bool& OwnsFile);
    void WaitFor(HANDLE Process);
    void FinishRun(const std::string& Folder, bool Remove);

    std::string FRunFile;
    std::vector<std::string> FHeldFolders;
};
