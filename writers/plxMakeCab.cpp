#include "writers/plxMakeCab.h"

#include "core/Endian.h"
#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Time.h"
#include "readers/plxUnCab.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr std::uint32_t kKeptAttributes = 0x27;

std::int64_t SizeOfFile(const std::string& Name)
{
    TFileStream32 file(Name, fmOpenRead | fmShareDenyNone);
    return file.HandleValid() ? file.Size() : 0;
}

bool IsAscii(const std::string& Text)
{
    return std::all_of(Text.begin(), Text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Reads an existing cabinet into the work folder, noting each entry's stored date and attributes.
class TOldCabinetReader : public TUnCab {
public:
    struct TEntry {
        std::string Name, Copy;
        std::uint32_t DosDateTime;
        std::uint16_t Attributes;
    };
    std::vector<TEntry> Entries;
    bool Failed = false;

    void DoCopyFile(std::string& Name, std::int64_t Size, CAB_INT_PTR& Handle, int& Action, std::uint16_t Attr,
                    std::uint16_t Time, std::uint16_t Date) override
    {
        FPendingEntry = {Name, "", std::uint32_t(Date) << 16 | Time,
                         std::uint16_t(Attr & (kKeptAttributes | CAB_A_EXEC))};
        TUnCab::DoCopyFile(Name, Size, Handle, Action, Attr, Time, Date);
    }

    TEntry FPendingEntry{};
};

}  // namespace

// The library's callbacks; the writer is the user pointer of every one of them.
struct TMakeCabCallbacks {
    static TMakeCab& Of(void* P) { return *static_cast<TMakeCab*>(P); }
    static void* Alloc(CAB_ULONG Size) { return std::malloc(Size ? Size : 1); }
    static void Free(void* P) { std::free(P); }
    static int Placed(CCAB*, char*, CAB_LONG, CAB_BOOL, void*) { return 0; }

    static CAB_INT_PTR Open(char* Name, int Flags, int Mode, int* Error, void* P)
    {
        return Of(P).FHandler->Open(Name, Flags, Mode, *Error);
    }
    static CAB_UINT Read(CAB_INT_PTR H, void* Buffer, CAB_UINT Count, int* Error, void* P)
    {
        TMakeCab& cab = Of(P);
        if (cab.GetCancel()) {
            *Error = -1;
            return 0;
        }
        const CAB_UINT got = cab.FHandler->Read(H, Buffer, Count, *Error);
        if (got != CAB_UINT(-1) && got > 0 && cab.FBytesLeft > 0) {
            cab.FBytesLeft = std::max<std::int64_t>(0, cab.FBytesLeft - got);
            cab.BytesToRead = std::max<std::int64_t>(0, cab.BytesToRead - got);
            cab.DoProgress(cab.FAdding.Size - cab.FBytesLeft, cab.FAdding.Size, cab.UnpackedTotal);
        }
        return got;
    }
    static CAB_UINT Write(CAB_INT_PTR H, void* Buffer, CAB_UINT Count, int* Error, void* P)
    {
        TMakeCab& cab = Of(P);
        if (cab.GetCancel()) {
            *Error = -1;
            return 0;
        }
        return cab.FHandler->Write(H, Buffer, Count, *Error);
    }
    static int Close(CAB_INT_PTR H, int* Error, void* P) { return Of(P).FHandler->Close(H, *Error); }
    static CAB_LONG Seek(CAB_INT_PTR H, CAB_LONG Offset, int Origin, int* Error, void* P)
    {
        TMakeCab& cab = Of(P);
        if (cab.GetCancel()) {
            *Error = -1;
            return -1;
        }
        return cab.FHandler->Seek(H, Offset, Origin, *Error);
    }
    static int Delete(char* Name, int* Error, void* P) { return Of(P).FHandler->Delete(Name, *Error); }
    static CAB_BOOL TempFile(char* Buffer, int Size, void* P)
    {
        const std::string name = Of(P).GetTempFileName();
        if (name.empty() || int(name.size()) >= Size)
            return 0;
        std::memcpy(Buffer, name.c_str(), name.size() + 1);
        return 1;
    }
    static CAB_BOOL NextCabinet(CCAB* Cab, CAB_ULONG PreviousSize, void* P)
    {
        return Of(P).DoGetNextCabinet(*Cab, PreviousSize) ? 1 : 0;
    }
    static CAB_LONG Status(CAB_UINT Type, CAB_ULONG, CAB_ULONG, void*) { return Type <= 2 ? 0 : -1; }
    static CAB_INT_PTR OpenInfo(char* Name, CAB_USHORT* Date, CAB_USHORT* Time, CAB_USHORT* Attributes, int* Error,
                                void* P)
    {
        return Of(P).GetOpenInfo(Name, *Date, *Time, *Attributes, *Error);
    }
};

TMakeCab::TMakeCab(TObject* AOwner) : TCabInterface(AOwner), FLibrary(&CabinetLibrary())
{
    CompressMethod.Restrict({cmStore, cmMsZip, cmLzx, cmQuantum}, cmMsZip);
    FClassDefaultExt = ".CAB";
    SetDefaultExt(".CAB");
    FArcType = atCab;
    FHandler = std::make_unique<TStreamCabinetFileHandler>();
}

TMakeCab::~TMakeCab()
{
    DestroyContext();
    RemoveWorkFolder();
}

std::uint16_t TMakeCab::CompressionTypeWord() const
{
    switch (CompressMethod) {
    case cmStore:
        return tcompTYPE_NONE;
    case cmMsZip:
        return tcompTYPE_MSZIP;
    case cmLzx:
        return MakeLzxCompressionType(FLzxLevel);
    case cmQuantum: {
        // The Quantum word carries Quantum's own type, whatever QuantumType names.
        return MakeCabCompressionType(tcompTYPE_QUANTUM, FQuantumLevel, FQuantumMemory);
    }
    default:
        return tcompTYPE_NONE;
    }
}

void TMakeCab::StoreFileInfo(TCompressFileInfo& Item, const TCompressEntryInfo& Info)
{
    Item.Header.resize(kHeadSize);
    PutLE64(Item.Header.data(), std::uint64_t(Info.UnpackedSize));
    PutLE32(Item.Header.data() + 8, Info.DosDateTime);
    PutLE32(Item.Header.data() + 12, Info.Attributes);
}

void TMakeCab::ReadFileInfo(const TCompressFileInfo& Item, TCompressEntryInfo& Info)
{
    if (Item.Header.size() < 16)
        return;
    Info.UnpackedSize = Info.PackedSize = std::int64_t(GetLE64(Item.Header.data()));
    Info.DosDateTime = GetLE32(Item.Header.data() + 8);
    Info.Attributes = GetLE32(Item.Header.data() + 12);
}

void TMakeCab::CreateContext()
{
    DestroyContext();
    CCAB cab{};
    cab.cb = CAB_ULONG(FCabinetSize);
    cab.cbFolderThresh = 0x7FFFFFFF;
    cab.fFailOnIncompressible = FailOnIncompressible;
    const std::string name = win::ExtractFileName(FArchiveFile);
    const std::string path = win::IncludeTrailingBackslash(FWorkFolder);
    if (name.size() >= CAB_NAME_MAX || path.size() >= CAB_NAME_MAX)
        RaiseError(FArchiveFile, "", FArchiveFile, E_INVALIDFILENAME);
    std::strcpy(cab.szCab, name.c_str());
    std::strcpy(cab.szCabPath, path.c_str());
    FError = {};
    using C = TMakeCabCallbacks;
    FContext = FLibrary->FCICreate(&FError, &C::Placed, &C::Alloc, &C::Free, &C::Open, &C::Read, &C::Write, &C::Close,
                                   &C::Seek, &C::Delete, &C::TempFile, &cab, this);
    if (!FContext) {
        ReportFciError(FArchiveFile);
        RaiseError(FArchiveFile, "", FArchiveFile, E_CREATEFILE);
    }
}

void TMakeCab::SetPartSize(std::int64_t Value)
{
    FCabinetSize = Value <= 0 ? kNoCabinetLimit : std::clamp(Value, kMinCabinetSize, kNoCabinetLimit);
}

void TMakeCab::DestroyContext()
{
    if (FContext && FLibrary->Loaded)
        FLibrary->FCIDestroy(FContext);
    FContext = nullptr;
}

void TMakeCab::RemoveWorkFolder()
{
    std::string host;
    if (!FWorkFolder.empty() && win::ToHostPath(FWorkFolder, host)) {
        std::error_code ec;
        std::filesystem::remove_all(host, ec);
    }
    FWorkFolder.clear();
}

void TMakeCab::ProcessArchive(TCompressHeaderObj& EntryList)
{
    if (!FLibrary->Loaded)
        RaiseError(FArchiveFile, "", FArchiveFile, E_CABINETDLL);
    if (Switch == swDelete)
        RaiseError(FArchiveFile, "", FArchiveFile, E_UNSUPPORTEDARCTYPE);
    if (Switch == swRead) {
        TCompressClass::ProcessArchive(EntryList);
        return;
    }
    // A private folder in TempDir: the old entries and the cabinets until they are complete. Its
    // name carries its owner, so a killed run's folder is removed by the next run.
    const std::string temp = win::CreateOwnedTempFolderIn(TempDir(), "cab");
    if (temp.empty())
        RaiseError(TempDir(), "", FArchiveFile, E_CREATEFILE);
    FWorkFolder = temp;
    FKept.clear();
    FFollowing.clear();
    FFilesInSet = 0;
    try {
        CreateContext();
        TCompressClass::ProcessArchive(EntryList);
    } catch (...) {
        DestroyContext();
        RemoveWorkFolder();
        throw;
    }
    DestroyContext();
    RemoveWorkFolder();
}

void TMakeCab::CopyOldEntries(TStream32& /*OldArchive*/, TCompressHeaderObj& EntryList)
{
    TOldCabinetReader reader;
    reader.SetArchiveFile(FArchiveFile);
    reader.SetExtractDir(win::IncludeTrailingBackslash(FWorkFolder) + "old");
    reader.CreateStoredDirs = true;
    reader.RestoreFileAttr = false;
    reader.OverwriteMode = omOverwrite;
    reader.ConfirmOverwrites = false;
    reader.CancelPtr = CancelPtr;
    reader.OnError = [this, &reader](TObject*, const std::string& File, const std::string& Extended,
                                     const std::string& Volume, int Code) {
        reader.Failed = true;
        DoError(File, Extended, Code, Volume);
    };
    reader.OnEnd = [&reader](TObject*, const std::string& File, bool Passed) {
        if (!Passed) {
            reader.Failed = true;
            return;
        }
        TOldCabinetReader::TEntry entry = reader.FPendingEntry;
        entry.Copy = File;
        reader.Entries.push_back(std::move(entry));
    };
    reader.OnNextVolume = OnNextVolume;
    reader.Extract();
    // Entries that could not be read back would be lost: the cabinet is left as it is.
    if (reader.Failed || GetCancel())
        RaiseError(FArchiveFile, "", FArchiveFile, E_READFILELIST);
    for (const TOldCabinetReader::TEntry& e : reader.Entries) {
        TCompressFileInfo record;
        record.Action = eaCopy;
        record.Offset = std::int64_t(FKept.size());
        TCompressEntryInfo info;
        info.UnpackedSize = info.PackedSize = SizeOfFile(e.Copy);
        info.DosDateTime = e.DosDateTime;
        info.Attributes = e.Attributes;
        StoreFileInfo(record, info);
        FKept.push_back({e.Name, e.Copy, e.DosDateTime, e.Attributes});
        EntryList.AddItem(record, e.Name, 0, 0, nullptr);
    }
}

bool TMakeCab::AddToCabinet(const std::string& Source, const std::string& Name, const TAdding& Adding)
{
    if (FFilesInSet >= kMaxFiles) {
        DoError(Source, "65535 files", E_MAXFILESIZE, FArchiveFile);
        return false;
    }
    if (Adding.Size >= kMaxInput) {
        DoError(Source, "", E_MAXFILESIZE, FArchiveFile);
        return false;
    }
    // Names that are not plain ASCII go in as UTF-8, which the attribute announces.
    const bool utf8 = !IsAscii(Name);
    std::string stored = Name;
    std::replace(stored.begin(), stored.end(), '/', '\\');
    if (stored.empty() || stored.size() >= CAB_NAME_MAX) {
        DoError(Source, "", E_INVALIDFILENAME, FArchiveFile);
        return false;
    }
    FAdding = Adding;
    FAdding.Attributes =
        std::uint16_t((Adding.Attributes & (kKeptAttributes | CAB_A_EXEC)) | (utf8 ? CAB_A_NAME_IS_UTF : 0));
    FBytesLeft = Adding.Size;
    std::string source = Source;
    FError = {};
    using C = TMakeCabCallbacks;
    const bool ok = FLibrary->FCIAddFile(FContext, source.data(), stored.data(), 0, &C::NextCabinet, &C::Status,
                                         &C::OpenInfo, CompressionTypeWord()) != 0;
    if (!ok) {
        ReportFciError(Source);
        // A method the library does not write fails every file alike: the run ends at the first.
        if (FError.erfOper == FCIERR_BAD_COMPR_TYPE)
            throw E_RAISE(E_UNSUPPORTEDMETHOD);
        return false;
    }
    ++FFilesInSet;
    return true;
}

void TMakeCab::ReportFciError(const std::string& Name)
{
    if (GetCancel() || (FError.erfOper == FCIERR_USER_ABORT && !FError.erfType))
        return;
    int code = E_WRITEFILE;
    switch (FError.erfOper) {
    case FCIERR_OPEN_SRC:
        code = E_OPENFILE;
        break;
    case FCIERR_READ_SRC:
        code = E_READFILE;
        break;
    case FCIERR_ALLOC_FAIL:
        code = E_OUTOFMEMORY;
        break;
    case FCIERR_TEMP_FILE:
        code = E_CREATEFILE;
        break;
    case FCIERR_BAD_COMPR_TYPE:
        code = E_UNSUPPORTEDMETHOD;
        break;
    case FCIERR_CAB_FORMAT_LIMIT:
        code = E_MAXFILESIZE;
        break;
    case FCIERR_USER_ABORT:
        code = E_USERCANCEL;
        break;
    case FCIERR_CAB_FILE:
        code = FError.erfType == int(ERROR_DISK_FULL) ? E_DISKFULL : E_WRITEFILE;
        break;
    default:
        break;
    }
    DoError(Name, "", code, FArchiveFile);
}

void TMakeCab::CompressFile(TStream32& /*Output*/, int Index, bool& Ok, TCompressHeaderObj& EntryList)
{
    Ok = false;
    const auto at = std::uint32_t(Index);
    const std::string path = EntryList.Name(at);
    if (IsOwnArchive(path) || path.empty() || path.back() == '\\' || path.back() == '/')
        return;  // a cabinet holds files only
    TCompressEntryInfo info;
    ReadFileInfo(EntryList.GetItem(at), info);
    PackedSize = UnpackedSize = info.UnpackedSize;
    FileName = path;
    BaseDir = path.substr(0, std::min<std::size_t>(EntryList.Value(at), path.size()));
    if (!DoBegin(FileName, FileNumber, &EntryList))
        return;
    const TDateTime stamp = ApplyDateAttribute(info.DosDateTime);
    TAdding adding{std::uint32_t(win::DateTimeToFileDate(stamp)), std::uint16_t(info.Attributes), info.UnpackedSize};
    if (CompressMethod == cmStore) {
        MethodNumber = 0;
        MethodName = "Stored";
    } else if (CompressMethod == cmMsZip) {
        MethodNumber = 1;
        MethodName = "MsZIP";
    } else if (CompressMethod == cmLzx) {
        MethodNumber = 2;
        MethodName = "Lzx";
    } else if (CompressMethod == cmQuantum) {
        MethodNumber = std::uint16_t(QuantumType);
        MethodName = "Quantum";
    }
    FCurrentSource = path;
    Ok = AddToCabinet(path, FileName, adding) && !GetCancel();
    if (Ok && OnRead)
        OnRead(this, 0, 0);
    if (OnEnd)
        OnEnd(this, FileName, Ok);
}

std::int64_t TMakeCab::GetEntryLength(TStream32&, TStream32&, TCompressFileInfo& Item)
{
    // A kept entry's bytes are not copied: its data lies in a compressed folder of the old
    // cabinet, so its decoded copy goes into the new one.
    AddKeptEntry(Item, "");
    return 0;
}

void TMakeCab::CopyEntry(TStream32&, TStream32&, TCompressHeaderObj& EntryList, int Index)
{
    AddKeptEntry(EntryList.GetItem(std::uint32_t(Index)), EntryList.Name(std::uint32_t(Index)));
}

void TMakeCab::AddKeptEntry(const TCompressFileInfo& Item, const std::string& NewName)
{
    if (Item.Offset < 0 || std::size_t(Item.Offset) >= FKept.size())
        RaiseError(FArchiveFile, "", FArchiveFile, E_BADFILEHEADER);
    const TKeptEntry& kept = FKept[std::size_t(Item.Offset)];
    // Nothing of the old cabinet may be lost: a kept entry that cannot go in fails the run.
    if (AddToCabinet(kept.Copy, NewName.empty() ? kept.Name : NewName,
                     {kept.DosDateTime, kept.Attributes, SizeOfFile(kept.Copy)}))
        return;
    if (GetCancel())
        throw ECancel();
    throw E_RAISE(FLastReportedCode ? FLastReportedCode : E_WRITEFILE);  // reported already
}

bool TMakeCab::WriteEnding(TStream32* /*OldArchive*/, TStream32& Output, TCompressHeaderObj& /*EntryList*/)
{
    using C = TMakeCabCallbacks;
    FError = {};
    if (!FLibrary->FCIFlushCabinet(FContext, 0, &C::NextCabinet, &C::Status)) {
        ReportFciError(FArchiveFile);
        return false;
    }
    DestroyContext();
    // The first cabinet goes out through the driver, which puts it in place of the archive.
    TFileStream32 first(win::IncludeTrailingBackslash(FWorkFolder) + win::ExtractFileName(FArchiveFile),
                        fmOpenRead | fmShareDenyNone);
    if (!first.HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
        return false;
    }
    Output.Seek64(0, soBeginning);
    Output.SetSize64(0);
    const std::int64_t size = first.Size();
    if (Output.CopyFrom(&first, size) != size) {
        if (!GetCancel())
            DoError(FArchiveFile, "", E_WRITEFILE, FArchiveFile);
        return false;
    }
    return true;
}

void TMakeCab::Finish(TCompressHeaderObj& /*EntryList*/)
{
    // The later cabinets of a set, complete now that the first is in place.
    for (const auto& [written, final] : FFollowing) {
        if (!win::PutFileInPlace(written, final))
            DoError(final, "", E_WRITEFILE, FArchiveFile);
    }
    FFollowing.clear();
}

bool TMakeCab::DoGetNextCabinet(CCAB& Cab, CAB_ULONG PreviousSize)
{
    std::string newName;
    bool abort = true;
    if (OnGetNextCabinet)
        OnGetNextCabinet(this, Cab, newName, int(std::min<CAB_ULONG>(PreviousSize, 0x7FFFFFFF)), abort);
    else
        DoError(FArchiveFile, "OnGetNextCabinet", E_REQUIREDEVENT, FArchiveFile);  // a size limit needs it
    const std::string name = win::ExtractFileName(newName);
    if (abort || name.empty() || name.size() >= CAB_NAME_MAX) {
        Cab.szCab[0] = Cab.szCabPath[0] = 0;
        return false;
    }
    std::string folder = win::ExtractFilePath(newName);
    if (folder.empty())
        folder = win::ExtractFilePath(FArchiveFile);
    // Written into the work folder first, like the first cabinet; moved beside it at the end.
    const std::string work = win::IncludeTrailingBackslash(FWorkFolder);
    std::strcpy(Cab.szCab, name.c_str());
    std::strcpy(Cab.szCabPath, work.c_str());
    FFollowing.emplace_back(work + name, win::IncludeTrailingBackslash(folder) + name);
    return true;
}

std::string TMakeCab::GetTempFileName()
{
    char name[MAX_PATH + 1] = {};
    return GetTempFileNameA(FWorkFolder.c_str(), "fci", 0, name) ? std::string(name) : std::string();
}

CAB_INT_PTR TMakeCab::GetOpenInfo(const std::string& Name, std::uint16_t& Date, std::uint16_t& Time,
                                  std::uint16_t& Attr, int& Error)
{
    if (GetFileAttributesA(Name.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Error = int(GetLastError());
        return -1;
    }
    const CAB_INT_PTR h = FHandler->Open(Name, CAB_O_RDONLY | CAB_O_BINARY, 0, Error);
    if (h == -1) {
        DoError(Name, "", E_OPENFILE, FArchiveFile);
        return -1;
    }
    Date = std::uint16_t(FAdding.DosDateTime >> 16);
    Time = std::uint16_t(FAdding.DosDateTime);
    Attr = FAdding.Attributes;
    if (OnRead) {
        DateTime = DosDateTimeToDateTime(FAdding.DosDateTime);
        ExternalAttr = FAdding.Attributes & kKeptAttributes;
        Crc32 = 0;
        Ratio = 0;
        Encrypted = false;
        VolumeName = FArchiveFile;
    }
    return h;
}
