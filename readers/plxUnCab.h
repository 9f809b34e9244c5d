// The cabinet extractor: drives the cabinet library's FDI over the set of cabinets, answering its
// notifications through the extract driver's services.
#pragma once

#include "core/UnBase.h"
#include "readers/plxCabGbls.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <set>
#include <string>

class TUnCab : public TUnBase {
public:
    explicit TUnCab(TObject* AOwner = nullptr);
    ~TUnCab() override;

    void ProcessArchive(TStream32* Archive) override;

    // The library's notifications, in the order the library gives them.
    virtual void DoCabinetInfo(const std::string& NextCabinet, const std::string& NextDisk,
                               const std::string& CabinetPath, std::uint16_t SetId, std::uint16_t CabinetNumber);
    // Action: 1 skip, 2 extract. Handle: what the library writes to.
    virtual void DoCopyFile(std::string& Name, std::int64_t Size, CAB_INT_PTR& Handle, int& Action,
                            std::uint16_t Attributes, std::uint16_t Time, std::uint16_t Date);
    virtual void DoCloseFileInfo(const std::string& Name, CAB_INT_PTR Handle, bool Execute, std::uint16_t Attributes,
                                 std::uint16_t Date, std::uint16_t Time);
    virtual void DoNextCabinet(std::string& Name, std::string& Path, bool& Abort, int ErrorCode);

protected:
    const TCabinetLibrary* FLibrary;  // the process's library; tests put an absent one here

private:
    friend struct TCabCallbacks;
    static constexpr int kSkip = 1, kExtract = 2;

    bool CopyPass(const std::string& Cabinet, bool Counting);
    void CheckError(bool Succeeded);
    void FailCurrentFile();
    CAB_INT_PTR Notify(int Type, FDINOTIFICATION& N, bool Counting);
    CAB_UINT WriteData(const void* Data, CAB_UINT Count);

    // What a callback raised (an error, a cancel): kept while the library unwinds its own state,
    // then raised again.
    std::exception_ptr FCallbackError;
    void RaiseCallbackError();

    HFDI FContext = nullptr;
    ERF FError{};
    bool FAbort = false;
    bool FFirstInfo = false;
    bool FPartialReported = false;
    std::string FNextCabinet, FNextDisk, FCabinetPath;
    std::uint16_t FSetId = 0, FCabinetNumber = 0;
    int FAction = kSkip;
    std::int64_t FFileBytes = 0, FWritten = 0;
    std::int64_t FBase = 0;  // where the cabinet starts in the archive file (behind a stub)
    std::string FArchiveName;
    std::string FName;                      // the entry of the last file notification, in the program's form
    std::string FEntry;                     // the same, as the copy handler may have changed it
    std::set<CAB_INT_PTR> FArchiveHandles;  // the handles of the archive file itself
    std::unique_ptr<TStream32> FOut;
    std::unique_ptr<TStreamCabinetFileHandler> FHandler;
};
