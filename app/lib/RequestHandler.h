// What the main window does with a WM_COPYDATA request: which command takes which path, which
// flags it sets, when the run stops without a reply. The window supplies the actions through
// TRequestHost, so the decisions can run without a window.
#pragma once

#include "app/lib/RequestRecord.h"
#include "app/lib/RequestState.h"

#include <cstdint>
#include <string>

class TRequestHost {
public:
    virtual ~TRequestHost() = default;

    virtual bool FileExists(const std::string& fileName) = 0;
    virtual void DeleteFile(const std::string& fileName) = 0;
    // Fills state.Definition from data folder + definition file name (unchanged when missing);
    // false when the file could not be read (the host has said why).
    virtual bool ReadDefinitionFile() = 0;
    // Empty when the menu file or the line is missing (the host reports it when asked to).
    virtual std::string FindMenuReturnValue(const std::string& section, int n, bool reportErrors,
                                            const std::string& menuFile) = 0;

    virtual void ClearFtpEntries() = 0;
    virtual void ParseRequestOptions(const std::string& options) = 0;
    virtual void StartPayslips() = 0;
    // True when the archive was restored.
    virtual bool RestoreArchive(const std::string& archiveName) = 0;
    virtual void DispatchRequest() = 0;
    virtual void FinishRequest() = 0;

    virtual void MinimiseApplication(bool minimise) = 0;
    virtual void CloseMenuForm() = 0;
    virtual void ForceForeground(HWND window) = 0;
    virtual void ColourForAutomaticRun() = 0;  // list view silver
    virtual void ShowControlsForMode(std::int32_t mode) = 0;
    virtual void SetModeCaption(bool withSuffix) = 0;
    virtual void AutomaticRunDone() = 0;  // status texts cleared, window height limited
};

// How far a request got; the tests and the log read it, the window does not need it.
enum class TRequestOutcome {
    Malformed,           // no data or fewer than 565 bytes: ignored, no reply
    Ignored,             // a deferred run already took over
    FetchedFileMissing,  // 101/102 naming a file that does not exist: no reply
    Restored,            // 101/102 handled and finished
    Finished,            // 999
    Invalid,             // definition file name or data folder empty, or the file missing or refused
    NoMenuLine,          // the menu file has no line for the mode value
    Deferred,            // mode value 9: dispatch waits for the next message
    Dispatched,
};

class TRequestHandler {
public:
    TRequestHandler(TRequestState& state, TRequestHost& host) : state_(state), host_(host) {}

    TRequestOutcome WMCopyData(std::uint32_t command, const COPYDATASTRUCT* data);
    TRequestOutcome Handle(std::uint32_t command, const void* bytes, std::size_t size);

private:
    TRequestOutcome HandleFetchedArchive(std::uint32_t command, TRequestRecord& record);
    TRequestOutcome CommonPath(std::uint32_t command, const TRequestRecord& record);
    void TakeOverModeValue(const TRequestRecord& record);

    TRequestState& state_;
    TRequestHost& host_;
};
