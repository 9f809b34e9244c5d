#include "readers/plxUnCab.h"

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

constexpr std::uint32_t kKeptAttributes = 0x27;  // read-only, hidden, system, archive
constexpr std::uint16_t kDirectory = 0x10;
constexpr int kNoCrc = 0;  // the CRC width that keeps no running CRC

// The FDI file callbacks carry no user pointer: they reach the extractor whose library call is
// running on this thread.
thread_local TUnCab* tActive = nullptr;

struct TActiveScope {
    TUnCab* Saved;
    explicit TActiveScope(TUnCab* Now) : Saved(std::exchange(tActive, Now)) {}
    ~TActiveScope() { tActive = Saved; }
};

}  // namespace

// The library's callbacks, with the C calling convention it expects. No exception leaves one: it
// would unwind through the library's C code, which then never frees what it holds; the library
// is told to stop instead.
struct TCabCallbacks {
    static void* Alloc(CAB_ULONG Size) { return std::malloc(Size ? Size : 1); }
    static void Free(void* P) { std::free(P); }

    template <class TResult, class TCall>
    static TResult Guarded(TUnCab* Cab, TResult Failed, TCall Call)
    {
        if (!Cab)
            return Failed;
        try {
            return Call(Cab);
        } catch (...) {
            if (!Cab->FCallbackError)
                Cab->FCallbackError = std::current_exception();
            return Failed;
        }
    }

    static CAB_INT_PTR Open(char* Name, int Flags, int Mode)
    {
        return Guarded(tActive, CAB_INT_PTR(-1), [&](TUnCab* cab) { return OpenFor(cab, Name, Flags, Mode); });
    }
    static CAB_INT_PTR OpenFor(TUnCab* cab, char* Name, int Flags, int Mode)
    {
        if (Flags & (CAB_O_WRONLY | CAB_O_RDWR | CAB_O_CREAT))
            return -1;  // the library only reads files here; output goes through the notifications
        int error = 0;
        const CAB_INT_PTR h = cab->FHandler->Open(Name, Flags, Mode, error);
        if (h == -1)
            return -1;
        if (win::SameText(Name, cab->FArchiveName)) {
            cab->FArchiveHandles.insert(h);
            if (cab->FBase > 0)
                cab->FHandler->Seek(h, CAB_LONG(cab->FBase), 0, error);
        }
        return h;
    }

    static CAB_UINT Read(CAB_INT_PTR H, void* Buffer, CAB_UINT Count)
    {
        return Guarded(tActive, CAB_UINT(-1), [&](TUnCab* cab) { return ReadFor(cab, H, Buffer, Count); });
    }
    static CAB_UINT ReadFor(TUnCab* cab, CAB_INT_PTR H, void* Buffer, CAB_UINT Count)
    {
        int error = 0;
        const CAB_UINT got = cab->FHandler->Read(H, Buffer, Count, error);
        // A short read at the end is the library's to judge; a failed one is ours to report.
        if (got == CAB_UINT(-1)) {
            cab->DoError(cab->ArchiveFile(), "", E_READFILE, cab->VolumeName);
            return CAB_UINT(-1);
        }
        return got;
    }

    static CAB_UINT Write(CAB_INT_PTR, void* Data, CAB_UINT Count)
    {
        return Guarded(tActive, CAB_UINT(-1), [&](TUnCab* cab) { return cab->WriteData(Data, Count); });
    }

    static int Close(CAB_INT_PTR H)
    {
        TUnCab* cab = tActive;
        if (!cab)
            return -1;
        int error = 0;
        cab->FArchiveHandles.erase(H);
        return cab->FHandler->Close(H, error);
    }

    static CAB_LONG Seek(CAB_INT_PTR H, CAB_LONG Offset, int Origin)
    {
        return Guarded(tActive, CAB_LONG(-1), [&](TUnCab* cab) { return SeekFor(cab, H, Offset, Origin); });
    }
    static CAB_LONG SeekFor(TUnCab* cab, CAB_INT_PTR H, CAB_LONG Offset, int Origin)
    {
        // The archive's own handle sees the cabinet as if it began the file.
        const std::int64_t base = cab->FArchiveHandles.count(H) ? cab->FBase : 0;
        const std::int64_t target = Origin == 0 ? Offset + base : Offset;
        int error = 0;
        if (target > 0x7FFFFFFF) {
            cab->DoError(cab->ArchiveFile(), "", E_SEEKERROR, cab->VolumeName);
            return -1;
        }
        const CAB_LONG at = cab->FHandler->Seek(H, CAB_LONG(target), Origin, error);
        if (error != 0 || at < base) {
            cab->DoError(cab->ArchiveFile(), "", E_SEEKERROR, cab->VolumeName);
            return -1;
        }
        return CAB_LONG(at - base);
    }

    static CAB_INT_PTR CountNotify(FDINOTIFICATIONTYPE Type, FDINOTIFICATION* N)
    {
        return Guarded(static_cast<TUnCab*>(N->pv), CAB_INT_PTR(-1),
                       [&](TUnCab* cab) { return cab->Notify(Type, *N, true); });
    }
    static CAB_INT_PTR ExtractNotify(FDINOTIFICATIONTYPE Type, FDINOTIFICATION* N)
    {
        return Guarded(static_cast<TUnCab*>(N->pv), CAB_INT_PTR(-1),
                       [&](TUnCab* cab) { return cab->Notify(Type, *N, false); });
    }
};

TUnCab::TUnCab(TObject* AOwner) : TUnBase(AOwner), FLibrary(&CabinetLibrary())
{
    SetFileSpec({"*.*"});
}

TUnCab::~TUnCab()
{
    if (FContext && FLibrary->Loaded)
        FLibrary->FDIDestroy(FContext);
}

void TUnCab::CheckError(bool Succeeded)
{
    if (Succeeded || !FError.fError)
        return;
    if (FError.erfOper == FDIERROR_USER_ABORT || GetCancel()) {
        FAbort = false;
        return;
    }
    if (FError.erfOper == FDIERROR_CORRUPT_CABINET) {
        DoError(FileName.empty() ? ArchiveFile() : FileName, "", E_CORRUPTINPUT, VolumeName);
        return;
    }
    throw ECabinetError(FError.erfOper, FError.erfType);
}

void TUnCab::FailCurrentFile()
{
    if (FAction != kExtract)
        return;
    FAction = kSkip;
    FOut.reset();
    FinishDecodedEntry(kFailureReported, 32, 0);  // the library's error is reported after
}

bool TUnCab::CopyPass(const std::string& Cabinet, bool Counting)
{
    std::string name = win::ExtractFileName(Cabinet);
    std::string path = win::ExtractFilePath(Cabinet);
    FError = {};
    TActiveScope scope(this);
    const bool ok =
        FLibrary->FDICopy(FContext, name.data(), path.data(), 0,
                          Counting ? &TCabCallbacks::CountNotify : &TCabCallbacks::ExtractNotify, nullptr, this) != 0;
    if (!ok)
        FailCurrentFile();
    RaiseCallbackError();
    return ok;
}

void TUnCab::RaiseCallbackError()
{
    if (FCallbackError)
        std::rethrow_exception(std::exchange(FCallbackError, nullptr));
}

void TUnCab::ProcessArchive(TStream32* /*Archive*/)
{
    if (!FLibrary->Loaded)
        RaiseError(ArchiveFile(), "", VolumeName, E_CABINETDLL);
    FHandler = std::make_unique<TStreamCabinetFileHandler>();
    FArchiveHandles.clear();
    std::string current = ArchiveFile();
    FArchiveName = current;
    FAbort = false;
    FPartialReported = false;
    FCallbackError = nullptr;
    FBase = std::max<std::int64_t>(ArchiveOffset, 0);
    if (!win::FileExists(current))
        return;
    if (!FContext) {
        FError = {};
        FContext = FLibrary->FDICreate(&TCabCallbacks::Alloc, &TCabCallbacks::Free, &TCabCallbacks::Open,
                                       &TCabCallbacks::Read, &TCabCallbacks::Write, &TCabCallbacks::Close,
                                       &TCabCallbacks::Seek, int(CpuType), &FError);
        CheckError(FContext != nullptr);
        if (!FContext)
            return;
    }
    {
        TActiveScope scope(this);
        std::string name = current;
        const CAB_INT_PTR h = TCabCallbacks::Open(name.data(), CAB_O_RDONLY | CAB_O_BINARY, 0);
        if (h == -1)
            RaiseError(current, "", VolumeName, E_OPENFILE);
        FDICABINETINFO info{};
        const bool isCabinet = TCabCallbacks::Seek(h, 0, 0) == 0 && FLibrary->FDIIsCabinet(FContext, h, &info);
        if (TCabCallbacks::Close(h) != 0)
            RaiseError(current, "", VolumeName, E_CLOSEFILE);
        RaiseCallbackError();
        if (!isCabinet) {
            DoError(current, "", E_CORRUPTINPUT, VolumeName);
            return;
        }
    }
    CheckError(CopyPass(current, true));
    BytesToRead = UnpackedTotal;
    for (;;) {
        FFirstInfo = true;
        FNextCabinet.clear();
        const bool ok = CopyPass(current, false);
        // An abort the run asked for itself has been said already; said again, it read twice.
        if (!ok && !GetCancel() && FError.erfOper == FDIERROR_USER_ABORT)
            SetCancel(true);
        CheckError(ok);
        if (!ok || GetCancel() || FNextCabinet.empty() || win::SameText(FNextCabinet, win::ExtractFileName(current)))
            break;
        std::string next = win::ExtractFilePath(current) + FNextCabinet;
        if (!ConfirmVolume(next, VolumeCounter + 1))
            break;
        current = next;
        VolumeName = current;
        PackedTotal = UnpackedTotal = 0;
        CheckError(CopyPass(current, true));
    }
    FHandler.reset();
}

CAB_INT_PTR TUnCab::Notify(int Type, FDINOTIFICATION& N, bool Counting)
{
    TActiveScope scope(this);
    const std::uint16_t attributes = N.attribs;
    // Only the file notifications carry an entry's name; the close of a file names the one its
    // copy named, which is converted already.
    const bool named = Type == fdintCOPY_FILE || Type == fdintPARTIAL_FILE;
    if (named) {
        if (N.psz1)
            CabNameToProgram(N.psz1, attributes, FName);
        else
            FName.clear();
    }
    const std::string& name = FName;
    if (Counting) {
        if (GetCancel())
            return -1;
        if (Type == fdintCOPY_FILE && MatchesStoredName(name, RecurseDirs)) {
            PackedTotal += N.cb;
            UnpackedTotal += N.cb;
            NewestDate = std::max(NewestDate, DosDateTimeToDateTime(std::uint32_t(N.date) << 16 | N.time));
        }
        return 0;
    }
    CAB_INT_PTR answer = 0;
    switch (Type) {
    case fdintCABINET_INFO:
        DoCabinetInfo(N.psz1 ? N.psz1 : "", N.psz2 ? N.psz2 : "", N.psz3 ? N.psz3 : "", N.setID, N.iCabinet);
        break;
    case fdintCOPY_FILE: {
        FEntry = name;  // the handler may rename it; the close still names the stored entry
        CAB_INT_PTR handle = 0;
        DoCopyFile(FEntry, N.cb, handle, FAction, attributes, N.time, N.date);
        answer = FAction == kExtract ? handle : 0;
        break;
    }
    case fdintPARTIAL_FILE:
        // Begun in an earlier cabinet: extracted with that one. A run that starts here cannot.
        if (VolumeCounter < 0 && !FPartialReported) {
            FPartialReported = true;
            DoError(name, "", E_CABNEEDSFIRSTDISK, VolumeName);
        }
        break;
    case fdintCLOSE_FILE_INFO:
        DoCloseFileInfo(name, N.hf, N.cb == 1, attributes, N.date, N.time);
        return 1;
    case fdintNEXT_CABINET: {
        std::string next = N.psz1 ? N.psz1 : "", path = N.psz3 ? N.psz3 : "";
        DoNextCabinet(next, path, FAbort, int(N.fdie));
        if (!FAbort && N.psz1 && N.psz3) {
            const auto put = [](char* Buffer, const std::string& Text) {
                const std::size_t n = std::min<std::size_t>(Text.size(), CAB_NAME_MAX - 1);
                std::memcpy(Buffer, Text.data(), n);
                Buffer[n] = 0;
            };
            put(N.psz1, next);
            put(N.psz3, path);
        }
        break;
    }
    default:
        break;
    }
    if (FAbort || GetCancel())
        return -1;
    return answer;
}

void TUnCab::DoCabinetInfo(const std::string& NextCabinet, const std::string& NextDisk, const std::string& CabinetPath,
                           std::uint16_t SetId, std::uint16_t CabinetNumber)
{
    if (!FFirstInfo)
        return;
    FFirstInfo = false;
    FNextCabinet = NextCabinet;
    FNextDisk = NextDisk;
    FCabinetPath = CabinetPath;
    FSetId = SetId;
    FCabinetNumber = CabinetNumber;
}

void TUnCab::DoCopyFile(std::string& Name, std::int64_t Size, CAB_INT_PTR& Handle, int& Action, std::uint16_t Attr,
                        std::uint16_t Time, std::uint16_t Date)
{
    Action = kSkip;
    if (GetCancel() || !MatchesStoredName(Name, RecurseDirs))
        return;
    FFileBytes = Size;
    FWritten = 0;
    Encrypted = false;
    PackedSize = UnpackedSize = Size;
    Crc32 = 0;
    ExternalAttr = Attr & (kKeptAttributes | (Size == 0 ? kDirectory : 0));
    DateTime = DosDateTimeToDateTime(std::uint32_t(Date) << 16 | Time);
    if (!NameEntry(Name))
        return;
    // A folder holds no bytes: an entry with data is a file, whatever a damaged attribute says.
    if ((Attr & kDirectory) && Size == 0) {
        if (PrepareOutput(true) && IsFileOutput() && CreateStoredDirs)
            MakeStoredDir(FileName);
        BytesToRead -= Size;
        return;
    }
    if (!OpenPlainOutput(FOut)) {
        BytesToRead -= Size;
        DoProgress(0, 0, UnpackedTotal);
        return;
    }
    Action = kExtract;
    Handle = 1;  // the output is the extractor's own; the library only needs a handle that is not 0
}

CAB_UINT TUnCab::WriteData(const void* Data, CAB_UINT Count)
{
    if (FAction != kExtract || GetCancel() || std::int64_t(Count) > FFileBytes - FWritten)
        return CAB_UINT(-1);
    const auto n = std::int32_t(Count);
    // A cabinet keeps no file checksum, so no running CRC is kept either.
    if (WriteOutputProc(FOut.get(), Data, kKindFileData, n, kNoCrc, false) < n)
        return CAB_UINT(-1);
    FWritten += Count;
    BytesToRead -= Count;
    ProcessMessages();
    DoProgress(FWritten, FFileBytes, UnpackedTotal);
    return Count;
}

void TUnCab::DoCloseFileInfo(const std::string& /*Name*/, CAB_INT_PTR /*Handle*/, bool /*Execute*/, std::uint16_t Attr,
                             std::uint16_t Date, std::uint16_t Time)
{
    if (FAction != kExtract) {
        if (OnEnd)
            OnEnd(this, FileName, false);
        return;
    }
    FAction = kSkip;
    CloseOutFile(FOut, FileName, Attr & kKeptAttributes, std::uint32_t(Date) << 16 | Time);
    // Its blocks' checksums were checked as they were decoded.
    FinishDecodedEntry(FWritten == FFileBytes ? 0 : E_CORRUPTINPUT, kNoCrc, RunningCrc.Crc32);
}

void TUnCab::DoNextCabinet(std::string& Name, std::string& Path, bool& Abort, int /*ErrorCode*/)
{
    VolumeName = Path.empty() ? Name : win::IncludeTrailingBackslash(Path) + Name;
    if (!ConfirmVolume(VolumeName, VolumeCounter + 1)) {
        Abort = FAbort = true;
        return;
    }
    Name = win::ExtractFileName(VolumeName);
    Path = win::ExtractFilePath(VolumeName);
}
