#include "readers/plxUnAce.h"

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxLoadLib.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/ext/unace/unace.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kKeptAttributes = 0x27;
constexpr unsigned kCommentSize = 8191;

int Dispatch(tACECallbackStruc* C, int (TUnACE::*Handler)(tACECallbackStruc&))
{
    auto* z = C ? static_cast<TUnACE*>(C->Obj) : nullptr;
    if (!z)
        return ACE_CALLBACK_RETURN_CANCEL;
    if (z->GetCancel())
        return ACE_CALLBACK_RETURN_CANCEL;
    return (z->*Handler)(*C);
}

int InfoProc(tACECallbackStruc* C)
{
    return Dispatch(C, &TUnACE::InfoCallback);
}
int ErrorProc(tACECallbackStruc* C)
{
    return Dispatch(C, &TUnACE::ErrorCallback);
}
int RequestProc(tACECallbackStruc* C)
{
    return Dispatch(C, &TUnACE::RequestCallback);
}
int StateProc(tACECallbackStruc* C)
{
    return Dispatch(C, &TUnACE::StateCallback);
}

// The library for one run; freed when the run ends.
struct TAceLibrary {
    HMODULE Module = nullptr;
    TACEInitDll InitDll = nullptr;
    TACETest Test = nullptr;

    TAceLibrary()
    {
        Module = LoadLib("plxunace26.dll");
        if (!Module)
            return;
        InitDll = reinterpret_cast<TACEInitDll>(GetProcAddress(Module, "ACEInitDll"));
        Test = reinterpret_cast<TACETest>(GetProcAddress(Module, "ACETest"));
        // All five are the library's interface, though a run calls two of them.
        const bool complete = InitDll && Test && GetProcAddress(Module, "ACEReadArchiveData") &&
                              GetProcAddress(Module, "ACEList") && GetProcAddress(Module, "ACEExtract");
        if (!complete) {
            FreeLibrary(Module);
            Module = nullptr;
        }
    }
    ~TAceLibrary()
    {
        if (Module)
            FreeLibrary(Module);
    }
};

}  // namespace

TUnACE::TUnACE(TObject* AOwner) : TUnBase(AOwner)
{
    // Names are always relative: one that starts at a root or climbs is refused whole.
    NameRules = kRelativeNamesOnly;
    SetFileSpec({"*.*"});
}

TUnACE::~TUnACE() = default;

std::string TUnACE::FileList() const
{
    // Built to its length: no FileSpec is too long for it.
    std::string list;
    for (const std::string& spec : FileSpec())
        if (!spec.empty())
            list += spec + "\r";
    return list.empty() ? "*" : list;
}

void TUnACE::ProcessArchive(TStream32*)
{
    VolumeName = ArchiveFile();
    FMatched = false;
    const TAceLibrary library;
    if (!library.Module)
        RaiseError(ArchiveFile(), "", VolumeName, E_UNACEV2DLL);
    std::vector<char> comment(kCommentSize + 1);
    tACEInitDllStruc init{};
    init.GlobalData.Obj = this;
    init.GlobalData.MaxArchiveTestBytes = 0x1FFFF;
    init.GlobalData.MaxFileBufSize = 0x2FFFF;
    init.GlobalData.Comment = comment.data();
    init.GlobalData.CommentBufSize = kCommentSize;
    std::snprintf(init.GlobalData.TempDir, sizeof init.GlobalData.TempDir, "%s", TempDir().c_str());
    init.GlobalData.InfoCallbackProc = InfoProc;
    init.GlobalData.ErrorCallbackProc = ErrorProc;
    init.GlobalData.RequestCallbackProc = RequestProc;
    init.GlobalData.StateCallbackProc = StateProc;
    if (library.InitDll(&init) != ACE_ERROR_NOERROR) {
        DoError(ArchiveFile(), "", E_UNACEV2DLL, VolumeName);
        return;
    }
    std::string host;
    if (!win::ToHostPath(ArchiveFile(), host))
        host = ArchiveFile();
    const std::string list = FileList();
    const std::string password = Password();
    // Tested or extracted alike: the blocks come through the progress callback into the driver's
    // output for this operation.
    tACETestStruc test{};
    test.Files.SourceDir = "";
    test.Files.FileList = list.c_str();
    test.Files.ExcludeList = "";
    test.Files.FullMatch = -1;
    test.DecryptPassword = password.c_str();
    library.Test(host.c_str(), &test);
    if (FOut)
        DiscardOutput();
    FOut.reset();
}

int TUnACE::InfoCallback(tACECallbackStruc& C)
{
    switch (C.Code) {
    case ACE_CALLBACK_INFO_FILELISTCREATE:
    case ACE_CALLBACK_INFO_FILELISTCREATEEND:
        FFileCounter = 0;
        return 0;
    case ACE_CALLBACK_INFO_FILELISTADD:
        ++FFileCounter;
        return 0;
    default:
        return ACE_CALLBACK_RETURN_NO;
    }
}

int TUnACE::ErrorCallback(tACECallbackStruc& C)
{
    const std::string name = C.FileData && C.FileData->SourceFileName ? C.FileData->SourceFileName : ArchiveFile();
    switch (C.Code) {
    // A member that cannot be read is reported and passed over; the others still come.
    case ACE_CALLBACK_ERROR_ENCRYPTED:
        DoError(name, "", E_INVALIDPASSWORD, VolumeName);
        return ACE_CALLBACK_RETURN_NO;
    case ACE_CALLBACK_ERROR_UNSUPPORTED:
        DoError(name, "", E_UNSUPPORTEDMETHOD, VolumeName);
        return ACE_CALLBACK_RETURN_NO;
    case ACE_CALLBACK_ERROR_WRITE:
        DoError(name, "", E_INVALIDFILENAME, VolumeName);
        return ACE_CALLBACK_RETURN_NO;
    case ACE_CALLBACK_ERROR_READ:
        DoError(name, "", E_BADBLOCK, VolumeName);
        return ACE_CALLBACK_RETURN_CANCEL;
    default:
        DoError(name, "", E_BADFILEHEADER, VolumeName);
        return ACE_CALLBACK_RETURN_CANCEL;
    }
}

int TUnACE::RequestCallback(tACECallbackStruc& C)
{
    if (C.StructureType == ACE_CALLBACK_TYPE_ARCHIVE && C.Code == ACE_CALLBACK_REQUEST_CHANGEVOLUME)
        return NextVolume(C);
    if (C.StructureType != ACE_CALLBACK_TYPE_ARCHIVEDFILE)
        return ACE_CALLBACK_RETURN_CANCEL;
    if (C.Code == ACE_CALLBACK_REQUEST_OVERWRITE)
        return OverwriteMode == omOverwrite ? ACE_CALLBACK_RETURN_OK : ACE_CALLBACK_RETURN_NO;
    if (C.Code == ACE_CALLBACK_REQUEST_PASSWORD)
        return AskPassword(C);
    return ACE_CALLBACK_RETURN_CANCEL;
}

int TUnACE::NextVolume(tACECallbackStruc& C)
{
    if (!OnNextVolume) {
        DoError(VolumeName, "OnNextVolume", E_REQUIREDEVENT, VolumeName);
        return ACE_CALLBACK_RETURN_CANCEL;
    }
    std::string volume = GetVolumeName(VolumeName, C.VolumeNumber - 1);
    if (!ConfirmVolume(volume, C.VolumeNumber))
        return ACE_CALLBACK_RETURN_CANCEL;
    VolumeName = volume;
    std::string host;
    if (!win::ToHostPath(volume, host))
        host = volume;
    if (!C.Text || host.size() >= C.TextSize)
        return ACE_CALLBACK_RETURN_CANCEL;
    std::memcpy(C.Text, host.c_str(), host.size() + 1);
    return win::FileExists(volume) ? ACE_CALLBACK_RETURN_OK : ACE_CALLBACK_RETURN_NO;
}

int TUnACE::AskPassword(tACECallbackStruc& C)
{
    if (!OnGetPassword) {
        DoError(FileName, "OnGetPassword", E_REQUIREDEVENT, VolumeName);
        return ACE_CALLBACK_RETURN_CANCEL;
    }
    for (int attempt = 1; attempt <= PasswordAttempts; ++attempt) {
        std::string password = Password();
        TSeedKeyRecord headerKeys{}, dataKeys{};
        bool tryAgain = true;
        OnGetPassword(this, FileName, password, headerKeys, dataKeys, tryAgain);
        SetPassword(password);
        if (!tryAgain || GetCancel()) {
            DoError(FileName, "", E_INVALIDPASSWORD, VolumeName);
            return ACE_CALLBACK_RETURN_CANCEL;
        }
        if (!password.empty() && C.Text && C.TextSize > 0) {
            std::snprintf(C.Text, C.TextSize, "%s", password.c_str());
            return ACE_CALLBACK_RETURN_OK;
        }
    }
    DoError(FileName, "", E_PASSWORDFAILED, VolumeName);
    return ACE_CALLBACK_RETURN_CANCEL;
}

int TUnACE::StateCallback(tACECallbackStruc& C)
{
    if (!C.FileData)
        return ACE_CALLBACK_RETURN_OK;
    switch (C.StructureType) {
    case ACE_CALLBACK_TYPE_ARCHIVEDFILE:
        return StartEntry(C);
    case ACE_CALLBACK_TYPE_PROGRESS: {
        if (!FMatched)
            return ACE_CALLBACK_RETURN_OK;
        const auto n = std::int32_t(C.DataSize);
        if (WriteOutputProc(FOut.get(), C.Data, kKindFileData, n, 32, false) < n)
            FMatched = false;  // reported by the hook; the entry fails at its check
        FEntryDone += n;
        ProcessMessages();
        DoProgress(FEntryDone, UnpackedSize, UnpackedTotal);
        return ACE_CALLBACK_RETURN_OK;
    }
    case ACE_CALLBACK_TYPE_CRCCHECK:
        return FinishEntry(C);
    default:
        return ACE_CALLBACK_RETURN_OK;
    }
}

int TUnACE::StartEntry(tACECallbackStruc& C)
{
    const tACEFileDataStruc& f = *C.FileData;
    std::string name;
    OemToAnsiName(ArcType(), -1, name, f.SourceFileName ? f.SourceFileName : "");
    std::replace(name.begin(), name.end(), '/', '\\');
    FMatched = false;
    if (f.Attributes & kAttrDirectory) {
        const std::string folder = name.empty() || name.back() == '\\' ? name : name + '\\';
        if (IsFileOutput() && CreateStoredDirs && MatchesStoredName(folder, RecurseDirs) && NameEntry(folder))
            MakeStoredDir(FileName);
        return ACE_CALLBACK_RETURN_NO;
    }
    if (!MatchesStoredName(name, RecurseDirs))
        return ACE_CALLBACK_RETURN_NO;
    StartEntryData();
    UnpackedSize = std::int64_t(f.Size);
    PackedSize = std::int64_t(f.PackedSize);
    Crc32 = f.CRC32;
    Encrypted = (f.Flags & 0x4000) != 0;
    DateTime = DosDateTimeToDateTime(f.Time);
    NewestDate = std::max(NewestDate, DateTime);
    UnpackedTotal += UnpackedSize;
    FEntryDone = 0;
    if (!NameEntry(name))
        return ACE_CALLBACK_RETURN_NO;
    if (!OpenPlainOutput(FOut))
        return ACE_CALLBACK_RETURN_NO;
    FMatched = true;
    return ACE_CALLBACK_RETURN_OK;
}

int TUnACE::FinishEntry(tACECallbackStruc& C)
{
    if (!FMatched && !FOut)
        return ACE_CALLBACK_RETURN_OK;
    const tACEFileDataStruc& f = *C.FileData;
    const bool written = FMatched;
    FMatched = false;
    CloseOutFile(FOut, FileName, f.Attributes & kKeptAttributes, f.Time);
    FOut.reset();
    // Our own CRC of what reached the output, against the stored one; a failed write was reported.
    FinishDecodedEntry(written ? 0 : kFailureReported, 32, f.CRC32);
    return GetCancel() ? ACE_CALLBACK_RETURN_CANCEL : ACE_CALLBACK_RETURN_OK;
}
