#include "readers/plxUnRar.h"

#include "core/Err_Msgs.h"
#include "core/MethodName.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxLoadLib.h"
#include "core/plxRegister.h"
#include "core/plxStreams.h"
#include "platform/ext/unrar/unrar.h"
#include "platform/win/Paths.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kAttrDirectory = 0x10;
constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint32_t kAttrNormal = 0x80;
constexpr std::uint32_t kUnixDirectoryBit = 0x4000;
constexpr std::uint32_t kKeptAttributes = 0x27;
constexpr unsigned kHostUnix = 3;
constexpr unsigned kCommentSize = 16384;

// The library's entry points, found once per process; absent ones leave Loaded false.
struct TRarLibrary {
    HMODULE Module = nullptr;
    TRAROpenArchiveEx OpenArchiveEx = nullptr;
    TRARCloseArchive CloseArchive = nullptr;
    TRARReadHeaderEx ReadHeaderEx = nullptr;
    TRARProcessFile ProcessFile = nullptr;
    TRARProcessFileW ProcessFileW = nullptr;
    TRARSetCallback SetCallback = nullptr;
    bool Loaded = false;

    TRarLibrary()
    {
        Module = LoadLib("plxUnRar39.dll");
        if (!Module)
            return;
        auto take = [this](auto& Entry, const char* Name) {
            Entry = reinterpret_cast<std::remove_reference_t<decltype(Entry)>>(GetProcAddress(Module, Name));
            return Entry != nullptr;
        };
        Loaded = take(OpenArchiveEx, "RAROpenArchiveEx") && take(CloseArchive, "RARCloseArchive") &&
                 take(ReadHeaderEx, "RARReadHeaderEx") && take(ProcessFile, "RARProcessFile") &&
                 take(ProcessFileW, "RARProcessFileW") && take(SetCallback, "RARSetCallback");
    }
};

const TRarLibrary& Library()
{
    static const TRarLibrary library;
    return library;
}

int RarCallback(unsigned Msg, std::intptr_t UserData, std::intptr_t P1, std::intptr_t P2)
{
    auto& z = *reinterpret_cast<TUnRar*>(UserData);
    switch (Msg) {
    case UCM_CHANGEVOLUME:
        return z.ChangeVolume(reinterpret_cast<char*>(P1), P2);
    case UCM_PROCESSDATA:
        return z.ProcessData(reinterpret_cast<const void*>(P1), std::size_t(P2));
    case UCM_NEEDPASSWORD:
        return z.NeedPassword(reinterpret_cast<char*>(P1), std::size_t(P2));
    default:
        return 0;
    }
}

// The library's result codes as message numbers; 0 for codes that report nothing.
int MessageOfResult(int Code)
{
    switch (Code) {
    case ERAR_END_ARCHIVE:
        return E_EOFNOTFOUND;
    case ERAR_NO_MEMORY:
        return E_OUTOFMEMORY;
    case ERAR_BAD_DATA:
        return E_BADBLOCK;
    case ERAR_BAD_ARCHIVE:
    case ERAR_UNKNOWN_FORMAT:
        return E_UNSUPPORTEDARCTYPE;
    case ERAR_EOPEN:
        return E_OPENFILE;
    case ERAR_ECREATE:
    case ERAR_EWRITE:
        return E_WRITEFILE;
    case ERAR_ECLOSE:
        return E_CLOSEFILE;
    case ERAR_EREAD:
        return E_READFILE;
    case ERAR_UNKNOWN:
        return E_BROKENVOLUMECHAIN;
    case ERAR_MISSING_PASSWORD:
        return E_INVALIDPASSWORD;
    default:
        return 0;
    }
}

std::uint64_t Combine(unsigned Low, unsigned High)
{
    return std::uint64_t(High) << 32 | Low;
}

// Closes the library's archive however the pass ends.
struct TRarHandle {
    void* Handle = nullptr;
    ~TRarHandle()
    {
        if (Handle)
            Library().CloseArchive(Handle);
    }
};

}  // namespace

TUnRar::TUnRar(TObject* AOwner) : TUnBase(AOwner), FHeader(std::make_unique<RARHeaderDataEx>())
{
    SetFileSpec({"*.*"});
}

TUnRar::~TUnRar() = default;

bool TUnRar::LibraryLoaded()
{
    return Library().Loaded;
}

std::string TUnRar::HostName(const std::string& Name) const
{
    std::string host;
    return win::ToHostPath(Name, host) ? host : Name;
}

bool TUnRar::SameVolume(const std::string& A, const std::string& B) const
{
    return win::SameText(A, B) || (!B.empty() && HostName(A) == HostName(B));
}

std::string TUnRar::EntryName() const
{
    std::string stored(FHeader->FileName, strnlen(FHeader->FileName, sizeof FHeader->FileName));
    std::string name;
    if (FHeader->Flags & RHDF_UNICODE)
        name = stored;  // the library gives the Unicode form as UTF-8
    else
        OemToAnsiName(ArcType(), -1, name, stored);
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// The library's record holds 1,023 bytes of a name: a longer one arrives cut, and a cut name is
// not the member's.
bool TUnRar::NameCut() const
{
    return strnlen(FHeader->FileName, sizeof FHeader->FileName) >= sizeof FHeader->FileName - 1;
}

std::uint32_t TUnRar::EntryAttributes(bool ForListing) const
{
    const bool directory = (FHeader->Flags & RHDF_DIRECTORY) != 0;
    if (FHeader->HostOS == kHostUnix) {
        if (directory || (FHeader->FileAttr & kUnixDirectoryBit))
            return kAttrDirectory;
        return ForListing ? kAttrNormal : kAttrArchive;
    }
    return (FHeader->FileAttr & 0xFFFF) | (directory ? kAttrDirectory : 0);
}

void TUnRar::ReportResult(int Code, const std::string& Name)
{
    if (const int message = MessageOfResult(Code))
        DoError(Name, "", message, VolumeName);
}

int TUnRar::ProcessEntry(void* Handle, TAction Action)
{
    FAction = Action;
    // Every byte reaches the component through the data callback, whatever the target, so a
    // file is written through the driver's output and replaces nothing until it has passed.
    const int result = Library().ProcessFileW(Handle, Action == acSkip ? RAR_SKIP : RAR_TEST, nullptr, nullptr);
    FAction = acSkip;
    if (result != ERAR_SUCCESS)
        ReportResult(result, FileName);
    return result;
}

void TUnRar::ProcessArchive(TStream32*)
{
    if (!LibraryLoaded())
        RaiseError(VolumeName, "", VolumeName, E_UNRARDLL);
    ExtractPass(VolumeName);
}

int TUnRar::ListPass(const std::string& ArchiveName)
{
    if (!LibraryLoaded())
        RaiseError(ArchiveName, "", VolumeName, E_UNRARDLL);
    FArchiveUnpacked = 0;
    int count = 0;
    std::vector<char> comment(kCommentSize);
    RAROpenArchiveDataEx open{};
    const std::string host = HostName(ArchiveName);
    FVolumeInUse = ArchiveName;
    open.ArcName = host.c_str();
    open.OpenMode = RAR_OM_LIST_INCSPLIT;
    open.CmtBuf = comment.data();
    open.CmtBufSize = kCommentSize;
    TRarHandle rar{Library().OpenArchiveEx(&open)};
    if (!rar.Handle || open.OpenResult != ERAR_SUCCESS) {
        ReportResult(open.OpenResult ? int(open.OpenResult) : ERAR_EOPEN, ArchiveName);
        return 0;
    }
    Library().SetCallback(rar.Handle, RarCallback, reinterpret_cast<std::intptr_t>(this));
    std::int64_t offset = std::max<std::int64_t>(ArchiveOffset, 0);
    std::uint64_t collectedPacked = 0;
    int headerIndex = 0;
    int result;
    while ((result = Library().ReadHeaderEx(rar.Handle, FHeader.get())) == ERAR_SUCCESS) {
        collectedPacked += Combine(FHeader->PackSize, FHeader->PackSizeHigh);
        if (FHeader->Flags & RHDF_SPLITAFTER) {
            // A split entry is listed once, at its last part, with the packed sizes of all parts.
            if (ProcessEntry(rar.Handle, acTest) != ERAR_SUCCESS)
                break;
            continue;
        }
        ++headerIndex;
        ++EntryIndex;
        if (GetCancel())
            break;
        const bool directory = (EntryAttributes(true) & kAttrDirectory) != 0;
        FileName = EntryName();
        if (directory && !FileName.empty() && FileName.back() != '\\')
            FileName += '\\';
        const std::uint64_t unpacked = Combine(FHeader->UnpSize, FHeader->UnpSizeHigh);
        if (MatchesStoredName(FileName, RecurseDirs)) {
            ++count;
            FileCount = count;
            DateTime = DosDateTimeToDateTime(FHeader->FileTime);
            VersionMadeBy = std::uint16_t(FHeader->UnpVer);
            VersionNeeded = 0;
            Crc32 = FHeader->FileCRC;
            Encrypted = (FHeader->Flags & RHDF_ENCRYPTED) != 0;
            MethodNumber = std::uint16_t(FHeader->Method);
            TMethodEntryFacts facts;
            facts.FileName = FileName;
            MethodName = GetMethodName(ArcType(), MethodNumber, 0, facts);
            ExternalAttr = EntryAttributes(true);
            PackedSize = std::int64_t(collectedPacked);
            UnpackedSize = std::int64_t(unpacked);
            Ratio = RatioPercent64(UnpackedSize, PackedSize);
            HeaderOffset = offset;
            FileNumber = count;
            if (OnRead && (!directory || ShowEmptyDirs)) {
                if (OnReadBegin)
                    OnReadBegin(this);
                OnRead(this, offset, headerIndex);
                if (OnReadEnd)
                    OnReadEnd(this);
            }
            if (!directory) {
                FArchiveUnpacked += std::int64_t(unpacked);
                UnpackedTotal += std::int64_t(unpacked);
                PackedTotal += std::int64_t(collectedPacked);
            }
        }
        collectedPacked = 0;
        ProcessEntry(rar.Handle, acTest);
        offset += 32 + std::int64_t(std::strlen(FHeader->FileName)) +
                  std::int64_t(Combine(FHeader->PackSize, FHeader->PackSizeHigh));
    }
    FWalkDamageReported = false;
    if (result != ERAR_END_ARCHIVE && result != ERAR_SUCCESS && !GetCancel()) {
        DoError(ArchiveName, "", result == ERAR_BAD_DATA ? E_BADFILEHEADER : MessageOfResult(result), VolumeName);
        FWalkDamageReported = true;
    }
    return count;
}

void TUnRar::ExtractPass(const std::string& ArchiveName)
{
    FBytesExpected = 0;
    const std::int64_t listed = ListPass(ArchiveName);
    if (listed == 0)
        return;
    // The list pass counted what is selected; the extraction counts what it writes.
    FileCount = 0;
    SetCancel(false);
    FTestOnly = !IsFileOutput();
    VolumeName = ArchiveFile();
    RAROpenArchiveDataEx open{};
    const std::string host = HostName(ArchiveName);
    FVolumeInUse = ArchiveName;
    open.ArcName = host.c_str();
    open.OpenMode = RAR_OM_EXTRACT;
    TRarHandle rar{Library().OpenArchiveEx(&open)};
    if (!rar.Handle || open.OpenResult != ERAR_SUCCESS)
        RaiseError(ArchiveName, "", VolumeName, MessageOfResult(open.OpenResult ? int(open.OpenResult) : ERAR_EOPEN));
    Library().SetCallback(rar.Handle, RarCallback, reinterpret_cast<std::intptr_t>(this));
    int result;
    while ((result = Library().ReadHeaderEx(rar.Handle, FHeader.get())) == ERAR_SUCCESS) {
        if (GetCancel())
            return;
        const bool directory = (EntryAttributes(false) & kAttrDirectory) != 0;
        ExtractEntry(rar.Handle, EntryName(), directory);
        if (GetCancel())
            return;
    }
    if (result != ERAR_END_ARCHIVE && !GetCancel() && !FWalkDamageReported)
        DoError(ArchiveName, "", result == ERAR_BAD_DATA ? E_BADFILEHEADER : MessageOfResult(result), VolumeName);
}

void TUnRar::ExtractEntry(void* Handle, const std::string& Stored, bool IsDirectory)
{
    StartEntryData();
    FEntryLeft = std::int64_t(Combine(FHeader->UnpSize, FHeader->UnpSizeHigh));
    UnpackedSize = FEntryLeft;
    PackedSize = std::int64_t(Combine(FHeader->PackSize, FHeader->PackSizeHigh));
    Crc32 = FHeader->FileCRC;
    Encrypted = (FHeader->Flags & RHDF_ENCRYPTED) != 0;
    DateTime = DosDateTimeToDateTime(FHeader->FileTime);
    const std::string name = IsDirectory && !Stored.empty() && Stored.back() != '\\' ? Stored + '\\' : Stored;
    if (IsDirectory) {
        if (IsFileOutput() && CreateStoredDirs && MatchesStoredName(name, RecurseDirs) && NameEntry(name))
            MakeStoredDir(FileName);
        ProcessEntry(Handle, acSkip);
        return;
    }
    if (!MatchesStoredName(name, RecurseDirs)) {
        ProcessEntry(Handle, acSkip);
        return;
    }
    // Links are passed over, as the other extractors do, and told.
    if (FHeader->Flags & RHDF_LINK) {
        DoError(name, "symbolic link", E_SKIPPEDFILE, VolumeName);
        ProcessEntry(Handle, acSkip);
        return;
    }
    if (IsFileOutput() && NameCut()) {
        DoError(name, "", E_INVALIDFILENAME, VolumeName);
        ProcessEntry(Handle, acSkip);
        return;
    }
    if (!NameEntry(name) || !OpenPlainOutput(FOut)) {
        ProcessEntry(Handle, acSkip);
        return;
    }
    FWriteFailed = false;
    const int result = ProcessEntry(Handle, FTestOnly ? acTest : acExtract);
    CloseOutFile(FOut, FileName, EntryAttributes(false) & kKeptAttributes, FHeader->FileTime);
    FOut.reset();
    // A failed entry has been reported by ProcessEntry or the output hook; an entry with a hash
    // instead of a CRC (CRC 0) was checked by the library.
    if (FHeader->FileCRC == 0)
        RunningCrc.Crc32 = 0;
    FinishDecodedEntry(result != ERAR_SUCCESS || FWriteFailed ? kFailureReported : 0, 32, FHeader->FileCRC);
}

int TUnRar::ChangeVolume(char* Name, std::intptr_t Mode)
{
    VolumeName = Name;
    if (Mode == RAR_VOL_NOTIFY) {
        FVolumeInUse = VolumeName;
        return 0;
    }
    ++VolumeCounter;
    // The volume being left, named again, would be read again and again.
    if (!ConfirmVolume(VolumeName, VolumeCounter) || VolumeName.empty() || SameVolume(VolumeName, FVolumeInUse))
        return -1;
    std::string host = HostName(VolumeName);
    if (host.size() >= 1024)
        return -1;
    std::memcpy(Name, host.c_str(), host.size() + 1);
    return 0;
}

int TUnRar::ProcessData(const void* Data, std::size_t Size)
{
    if (GetCancel())
        return -1;
    if (FAction == acSkip)
        return 0;
    const auto n = std::int64_t(Size);
    if (FBytesExpected == 0)
        FBytesExpected = FArchiveUnpacked;
    FEntryLeft -= n;
    FBytesExpected -= n;
    // The decoded blocks go only to the entry being tested or extracted, never to a caller's
    // target for an entry that was not selected.
    if (WriteOutputProc(FOut.get(), Data, kKindFileData, std::int32_t(n), 32, false) < n) {
        FWriteFailed = true;
        return -1;
    }
    ProcessMessages();
    DoProgress(UnpackedSize - FEntryLeft, UnpackedSize, FArchiveUnpacked);
    return 0;
}

int TUnRar::NeedPassword(char* Buffer, std::size_t Size)
{
    if (Size == 0)
        return -1;
    if (Password().empty() && OnGetPassword) {
        std::string password = Password();
        TSeedKeyRecord headerKeys{}, dataKeys{};
        bool tryAgain = true;
        OnGetPassword(this, FileName, password, headerKeys, dataKeys, tryAgain);
        if (!tryAgain)
            return 0;
        SetPassword(password);
    }
    if (Password().empty()) {
        DoError(FileName, "", E_INVALIDPASSWORD, VolumeName);
        return -1;
    }
    // A set Password is used even without OnGetPassword; it stays for the following entries.
    const std::size_t n = std::min(Size - 1, Password().size());
    std::memcpy(Buffer, Password().data(), n);
    Buffer[n] = 0;
    return 0;
}
