// The compress driver: preparing a run, reading the old archive, scanning the inputs, deciding
// each entry's action and replacing the archive only after a run that succeeded.
#include "core/plxBase.h"
#include "core/ArcDescriptor.h"

#include "core/CodecStatus.h"

#include "core/ArcType.h"

#include "core/DeflateAhead.h"
#include "core/DiskManager.h"
#include "core/Err_Msgs.h"
#include "core/TempStreams.h"
#include "core/plxBZip2.h"
#include "core/plxDeflate.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxPPMDi1.h"
#include "core/plxStreams.h"
#include "platform/win/AsciiRuns.h"
#include "platform/win/Drives.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxRenameRounds = 100;  // a handler that keeps offering taken names must not hang the run

bool IsSfxType(TArcType t)
{
    return HasArcFlag(t, arcflag::SelfExtract);
}

std::string FolderOf(const std::string& path)
{
    const std::size_t p = path.find_last_of("\\/");
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

int SeparatorCount(const std::string& s)
{
    return int(std::count_if(s.begin(), s.end(), [](char c) { return c == '\\' || c == '/'; }));
}

bool IsAscii(std::string_view s)
{
    return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameAsciiText(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

bool StartsWithText(const std::string& s, const std::string& prefix)
{
    if (prefix.empty() || s.size() < prefix.size())
        return false;
    // Asked twice per stored file: the same bytes need no look at case, plain ASCII no folding.
    const std::string_view head = std::string_view(s).substr(0, prefix.size());
    if (head == prefix)
        return true;
    if (IsAscii(head) && IsAscii(prefix))
        return SameAsciiText(head, prefix);
    return win::SameText(std::string(head), prefix);
}

// "C:\x" read as a stored name would name a drive: keep it below the root.
std::string GuardDriveRoot(std::string name)
{
    if (name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' && name[2] == '\\')
        name.insert(0, "\\");
    return name;
}

// The last name of a path as Windows reads it (trailing dots and blanks dropped), when it is plain
// ASCII and nothing special; empty otherwise.
std::string_view PlainLastName(std::string_view path)
{
    if (path.empty() || path.back() == '\\' || path.back() == '/')
        return {};
    // One pass from the end finds the name and whether it is ASCII: asked for every scanned file.
    std::size_t start = path.size();
    unsigned char high = 0;
    for (; start > 0; --start) {
        const char c = path[start - 1];
        if (c == '\\' || c == '/' || c == ':')
            break;
        high |= static_cast<unsigned char>(c);
    }
    if (high >= 0x80)
        return {};
    std::string_view name = path.substr(start);
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.remove_suffix(1);
    return name;
}

// na and nb are PlainLastName(a) and PlainLastName(b), which a caller comparing one path with
// several finds once.
bool SamePath(const std::string& a, std::string_view na, const std::string& b, std::string_view nb)
{
    if (a.empty() || b.empty())
        return false;
    // Asked for every scanned file: plain last names that differ settle it without folding or parsing.
    if (!na.empty() && !nb.empty() && !SameAsciiText(na, nb))
        return false;
    if (win::SameText(a, b))
        return true;
    // Names that differ but for case never map to one host path: no lookup per scanned file.
    win::WinPath pa, pb;
    if (win::ParseFullPath(a, pa) && win::ParseFullPath(b, pb) && !pa.parts.empty() && !pb.parts.empty() &&
        !win::SameText(pa.parts.back(), pb.parts.back()))
        return false;
    std::string ha, hb;
    return win::ToHostPath(a, ha) && win::ToHostPath(b, hb) && ha == hb;
}

// The scanner hands each file to the driver as it is found.
class TCompressScan : public TplxFileScan {
public:
    using TFound = std::function<bool(const std::string& Dir, const WIN32_FIND_DATAA& Data)>;
    explicit TCompressScan(TFound Found) : FFound(std::move(Found)) {}
    bool AddFile(void*, const std::string& Dir, const WIN32_FIND_DATAA& FindData) override
    {
        return FFound(Dir, FindData);
    }

private:
    TFound FFound;
};

}  // namespace

// --- construction and properties ---

TCompressClass::TCompressClass(TObject* AOwner) : TZipCommon(AOwner)
{
    RecurseDirs = true;
    DeflateType = dtDeflateN;
    DateAttribute = daFileDate;
    TranslateOemChar = false;
    LoadArchiveExtensions(StoreFilesOfType);
}

TCompressClass::~TCompressClass() = default;

void TCompressClass::AddOldEntry(TCompressHeaderObj& EntryList, TCompressFileInfo& Record, const std::string& Name)
{
    if (Switch == swDelete && MatchesFileSpec(Name)) {
        Record.Action = eaLeaveOut;
        ++DeletedCount;
    }
    EntryList.AddItem(Record, Name, 0, 0, nullptr);
}

namespace {

bool IsWildName(const std::string& Spec)
{
    return Spec.find_first_of("*?[") != std::string::npos;
}

std::string Backslashed(std::string Name)
{
    std::replace(Name.begin(), Name.end(), '/', '\\');
    return Name;
}

}  // namespace

void TCompressClass::KeepCaseTwins(TCompressHeaderObj& EntryList)
{
    // A plain name that some entry carries exactly deletes that entry only; without one, it
    // deletes what it names without regard to case.
    // Looked up in sets: thousands of names picked from a list are each compared once.
    std::unordered_set<std::string> entries, exact;
    for (const std::string& n : EntryList.Names())
        entries.insert(Backslashed(n));
    std::vector<std::string> others;
    for (const auto& spec : FFileSpec) {
        std::string name = Backslashed(spec);
        if (!IsWildName(name) && entries.contains(name))
            exact.insert(std::move(name));
        else
            others.push_back(spec);
    }
    if (exact.empty())
        return;
    const std::vector<std::string> specs = FFileSpec;
    SetFileSpec(others);
    for (std::uint32_t i = 0; i < EntryList.Count; ++i) {
        TCompressFileInfo& item = EntryList.GetItem(i);
        if (item.Action != eaLeaveOut || exact.contains(Backslashed(EntryList.Name(i))) ||
            (!FFileSpec.empty() && MatchesFileSpec(EntryList.Name(i))))
            continue;
        item.Action = eaCopy;
        --DeletedCount;
    }
    SetFileSpec(specs);
}

void TCompressClass::SetDefaultExt(const std::string& Value)
{
    const std::string old = FDefaultExt;
    std::string ext;
    if (Value.empty() || Value == ".") {
        ext = FClassDefaultExt;
    } else {
        ext = Value.find('.') == std::string::npos ? "." + Value : Value;
        ext = win::LowerCase(ext.substr(0, 4));
    }
    FDefaultExt = ext;
    if (FArchiveFile.empty() || Loading)
        return;
    const std::string current = win::ExtractFileExt(FArchiveFile);
    if (current.empty() || (!old.empty() && win::SameText(current, old)))
        FArchiveFile = win::ChangeFileExt(FArchiveFile, FDefaultExt);
}

void TCompressClass::AddDefaultExt()
{
    if (Loading || FArchiveFile.empty() || FDefaultExt.empty())
        return;
    if (win::ExtractFileExt(FArchiveFile).empty())
        FArchiveFile += FDefaultExt;
}

void TCompressClass::SetArchiveFile(const std::string& Name)
{
    FArchiveFile = Name;
    AddDefaultExt();
    ArchiveIsNew = FArchiveFile.empty() || !win::FileExists(FArchiveFile);
    ArchiveOffset = -1;
    *CancelPtr = false;
}

std::uint16_t TCompressClass::GetDeflateFlags(std::uint16_t Flags) const
{
    static constexpr std::uint16_t bits[] = {6, 4, 0, 2};
    return std::uint16_t(Flags | bits[DeflateType <= dtDeflateX ? DeflateType : dtDeflateN]);
}

// --- base hooks ---

void TCompressClass::CopyEntry(TStream32&, TStream32&, TCompressHeaderObj&, int)
{}
void TCompressClass::UpdateEntryName(int, std::uint32_t, TCompressHeaderObj&)
{}
void TCompressClass::FinishHeader(std::int64_t)
{}
void TCompressClass::StoreFileInfo(TCompressFileInfo&, const TCompressEntryInfo&)
{}
void TCompressClass::WriteEndMarker(TStream32&)
{}
void TCompressClass::ReadFileInfo(const TCompressFileInfo&, TCompressEntryInfo&)
{}
void TCompressClass::CopyOldEntries(TStream32&, TCompressHeaderObj&)
{}
void TCompressClass::Finish(TCompressHeaderObj&)
{}
int TCompressClass::WriteLargeSizeExtra(TStream32&, TCompressFileInfo&, int)
{
    return 0;
}
bool TCompressClass::WriteEnding(TStream32*, TStream32&, TCompressHeaderObj&)
{
    return true;
}
std::int64_t TCompressClass::GetEntryLength(TStream32&, TStream32&, TCompressFileInfo&)
{
    return 0;
}

bool TCompressClass::ReadFirstHeader(TStream32& Stream)
{
    Stream.SetPosition(std::max<std::int64_t>(ArchiveOffset, 0));
    return ReadHeader();
}

bool TCompressClass::ReadHeaderAt(std::int64_t Position)
{
    return Position != 0 && ReadHeader();
}

std::uint16_t TCompressClass::GetHeadSize()
{
    ShowMessageBox("This archive writer does not provide GetHeadSize.", "", MB_ICONSTOP);
    return 0;
}

std::uint8_t* TCompressClass::GetHeadPtr()
{
    ShowMessageBox("This archive writer does not provide GetHeadPtr.", "", MB_ICONSTOP);
    return nullptr;
}

bool TCompressClass::SaveComments(bool)
{
    DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
    return false;
}

int TCompressClass::ReadComments()
{
    DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
    return 0;
}

void TCompressClass::SetFileComment(int, const std::vector<std::uint8_t>&)
{
    DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
}

std::string TCompressClass::GetFileComment(int, std::string& Name, std::vector<std::uint8_t>&)
{
    return Name;
}

// --- errors ---

void TCompressClass::DoError(const std::string& Name, const std::string& ExtendedMsg, int ECode,
                             const std::string& VolumeID)
{
    FLastReportedCode = ECode;
    TZipCommon::DoError(Name, ExtendedMsg, ECode, VolumeID);
}

void TCompressClass::ReportFailure(const std::exception& Failure)
{
    if (dynamic_cast<const ECancel*>(&Failure))
        return;
    if (const auto* raised = dynamic_cast<const E_RAISE*>(&Failure)) {
        if (raised->ECode != FLastReportedCode)
            DoError(FArchiveFile, "", raised->ECode, FArchiveFile);
        return;
    }
    // A bzip2 failure without a number of its own is damaged data; the rest is the file system's.
    int code = E_WRITEFILE;
    if (const auto* bz = dynamic_cast<const Ebz2libError*>(&Failure))
        code = bz->ECode ? bz->ECode : CodecStatusMessage(TCodecStatus::DataError);
    else if (dynamic_cast<const EReadError*>(&Failure))
        code = E_READFILE;
    else if (GetLastError() == ERROR_DISK_FULL)
        code = E_DISKFULL;
    // The file that did not fit is the one said, while its data was being written.
    const bool ofEntry = code == E_DISKFULL && std::exchange(FWritingEntry, false) && !FCurrentSource.empty();
    DoError(ofEntry ? FCurrentSource : FArchiveFile, Failure.what(), code, FArchiveFile);
}

// --- the public run ---

bool TCompressClass::RefuseUnavailableMethod()
{
    // A delete writes no new data: the method does not matter.
    if (Switch == swDelete || MethodAvailable(CompressMethod.Requested()))
        return false;
    DoError(FArchiveFile, std::string(CompressMethodName(CompressMethod.Requested())), E_UNSUPPORTEDMETHOD, "");
    return true;
}

int TCompressClass::Compress()
{
    int result = 0;
    try {
        if (EncryptionMethod() <= emAes2_256)
            SetEncryptionMethod(emZip_V2);
        if (RefuseUnavailableMethod())
            return 0;
        if (!EnsureArchiveFolder())
            return 0;

        if (!FFileSpec.empty()) {
            int best = -1;
            std::string shallowest;
            for (const auto& spec : FFileSpec) {
                const int n = SeparatorCount(spec);
                if (best < 0 || n <= best) {
                    best = n;
                    shallowest = FolderOf(spec);
                }
            }
            if (RelativeDir == byList && (StoredDirNames == sdRelative || StoredDirNames == sdRelativeStoreStart))
                BaseDir = shallowest;
            if (StoredDirNames == sdExplorer_Auto || StoredDirNames == sdExplorer_UserDefineDefaultDir)
                BaseDir = shallowest;
        }

        OperationCode = opExtract;
        if (!PrepareRun())
            return 0;
        const std::string folder = FolderOf(FArchiveFile);
        if (!win::DirectoryExists(folder)) {
            DoError(FArchiveFile, folder, E_INVALIDDIRECTORY, "");
            return 0;
        }
        if (!FArchiveFile.empty() && !GetCancel()) {
            TCompressHeaderObj entryList;
            MovedFiles.clear();
            MovedStoredNames.clear();
            try {
                ProcessArchive(entryList);
                if (win::FileExists(FArchiveFile))
                    ArchiveWritten = true;
                if (Switch == swMove && FReplaced && AddedCount > 0)
                    DeleteMovedFiles(entryList);
            } catch (...) {
                MovedFiles.clear();
                MovedStoredNames.clear();
                throw;
            }
            MovedFiles.clear();
            MovedStoredNames.clear();
        }
        result = Switch == swDelete ? DeletedCount : AddedCount;
        if (GetCancel())
            result = 0;
    } catch (const std::exception& e) {
        ReportFailure(e);
        result = 0;
    } catch (...) {
        result = 0;
    }
    FileCount = result;
    return result;
}

bool TCompressClass::EnsureArchiveFolder()
{
    const std::string name = win::ExtractFileName(FArchiveFile);
    std::string dir = FolderOf(FArchiveFile);
    if (!name.empty() && (dir.empty() || !win::DirectoryExists(dir))) {
        bool created = false;
        if (!dir.empty()) {
            if (OnCreateDirectory)
                OnCreateDirectory(this, dir, true);
            created = CreateDirPath(dir);
        }
        if (!created) {
            DoError(dir.empty() ? FArchiveFile : dir, "ArchiveFile Property", E_CREATEDIR, "");
            // A folder that cannot be made (a drive not ready) is no reason to write elsewhere.
            if (!dir.empty())
                return false;
            dir = win::IncludeTrailingBackslash(win::CurrentDirectory());
        }
    }
    if (dir.empty() || name.empty()) {
        DoError(FArchiveFile, "ArchiveFile Property", E_INVALIDFILENAME, "");
        return false;
    }
    FArchiveFile = dir + name;
    return true;
}

bool TCompressClass::PrepareRun()
{
    UnpackedSize = PackedSize = 0;
    UnpackedTotal = PackedTotal = 0;
    ArchiveWritten = FilesFound = false;
    AddedCount = DeletedCount = 0;
    FReplaced = false;
    FDiscardOutput = false;
    FWritingEntry = false;
    FNewestDosTime = 0;
    FListBase = FWalkNext = 0;
    FReplacedEntries.clear();
    VolumeName = FArchiveFile;
    SetCancel(false);
    HeadSize = GetHeadSize();
    if (OperationCode == opExtract) {
        std::string temp = TempDir();
        if (!CheckDirectory(temp))
            return false;
        SetTempDir(temp);
        std::string folder = FolderOf(FArchiveFile);
        if (!CheckDirectory(folder))
            return false;
        FArchiveFile = win::IncludeTrailingBackslash(folder) + win::ExtractFileName(FArchiveFile);
    }
    ArchiveIsNew = !win::FileExists(FArchiveFile);
    TDiskManager disks;
    if (!disks.GetDiskInfo(
            FArchiveFile, {}, {},
            [this](const std::string& f, const std::string& x, const std::string& v, int c) { DoError(f, x, c, v); },
            this, CancelPtr))
        return false;
    if (FFileSpec.empty())
        return true;
    if (Switch == swDelete) {
        DefaultDir.clear();
    } else if (StoredDirNames == sdExplorer_Auto) {
        std::string common;
        bool first = true;
        for (const auto& spec : FFileSpec) {
            const std::string f = win::UpperCase(FolderOf(spec));
            if (first) {
                common = f;
                first = false;
                continue;
            }
            std::size_t n = 0;
            while (n < common.size() && n < f.size() && common[n] == f[n])
                ++n;
            common.resize(n);
        }
        const std::size_t cut = common.find_last_of('\\');
        DefaultDir = cut == std::string::npos ? std::string() : FFileSpec.front().substr(0, cut + 1);
    } else if (StoredDirNames == sdExplorer_UserDefineDefaultDir) {
        if (DefaultDir.empty()) {
            DoError(FArchiveFile, "DefaultDir", E_REQUIREDPROPERTY, "");
            return false;
        }
        DefaultDir = win::IncludeTrailingBackslash(DefaultDir);
        for (auto& spec : FFileSpec)
            if (FolderOf(spec).empty())
                spec = DefaultDir + spec;
        IndexExactNames();
    }
    return true;
}

// --- the driver ---

void TCompressClass::ProcessArchive(TCompressHeaderObj& EntryList)
{
    if (Switch == swRead) {
        if (!ArchiveIsNew)
            ReadArchive();
        return;
    }
    std::unique_ptr<TFileStream32> old;
    std::int64_t oldSize = 0;
    if (!ArchiveIsNew) {
        if (!CheckArchiveWriteable(FArchiveFile))
            return;
        old = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
        if (!old->HandleValid()) {
            DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
            return;
        }
        oldSize = old->Size();
        if (oldSize > 0) {
            // Whatever the name says, a file that is not an archive is never overwritten.
            const TArcType found = GetArcType(*old);
            if (!IsRealArcType(found)) {
                DoError(FArchiveFile, "", E_UNSUPPORTEDARCTYPE, FArchiveFile);
                return;
            }
            if (FArcType == atZip)
                FArcType = found;
        } else {
            old.reset();  // an empty file holds nothing to keep
        }
    }
    ArchiveSize = oldSize;
    if (!old && (Switch == swRefresh || Switch == swDelete)) {
        DoError(FArchiveFile, "", E_NOTHINGTODO2, FArchiveFile);
        return;
    }
    if (OnActivate)
        OnActivate(this);
    if (GetCancel()) {
        if (OnDeactivate)
            OnDeactivate(this);
        return;
    }

    TTempStreamOwner owner;
    owner.Sender = this;
    owner.Cancel = &FDiscardOutput;
    owner.Remaining = &BytesToRead;
    owner.DoTmpFileMoveBegin = [this](TObject* s, const std::string& a, const std::string& t, bool& c) {
        DoTmpFileMoveBegin(s, a, t, c);
    };
    owner.DoTmpFileMoveEnd = [this](TObject* s) { DoTmpFileMoveEnd(s); };
    owner.DoTmpFileProgress = [this](TObject*, std::int64_t d, std::int64_t t) { DoTmpFileProgress(d, t); };
    owner.ReportError = [this](int code, const std::string& x) { DoError(FArchiveFile, x, code, FArchiveFile); };
    owner.MoveTempFile = [this, moveOwner = owner](TStream32* Stream, const std::string& Target, bool SameDrive,
                                                   const std::string& TempName) {
        if (!PlaceTempOutput(Stream, Target, SameDrive, TempName, moveOwner))
            FDiscardOutput = true;
    };
    std::unique_ptr<TStream32> output;
    TTempFileStream* fileOutput = nullptr;
    TTempMemStream* memOutput = nullptr;
    if (StreamType == stFile) {
        auto f = std::make_unique<TTempFileStream>(owner, fmCreate, FArchiveFile, TempDir());
        if (!f->HandleValid()) {
            DoError(TempDir(), "", E_CREATEFILE, FArchiveFile);
            if (OnDeactivate)
                OnDeactivate(this);
            return;
        }
        FTempOutputName = f->OpenedName();
        f->EnableWriteBehind();
        fileOutput = f.get();
        output = std::move(f);
    } else {
        auto m = std::make_unique<TTempMemStream>(owner, fmCreate, FArchiveFile);
        memOutput = m.get();
        output = std::move(m);
    }
    output->CancelPointer = CancelPtr;  // copies stop on the user's cancel

    bool failed = false;
    try {
        if (old) {
            if (oldSize > 0 && ArchiveOffset > 0 && IsSfxType(FArcType)) {
                const std::int64_t prefix =
                    (FArcType == atZipExe || FArcType == atJarExe) ? std::int64_t(StubSize) : ArchiveOffset;
                old->SetPosition(0);
                if (output->CopyFrom(old.get(), std::min(prefix, oldSize)) != std::min(prefix, oldSize))
                    RaiseError(FArchiveFile, "", FArchiveFile, E_WRITEFILE);
            }
            if (Switch == swDelete)
                FExcludeSpec.clear();
            old->SetPosition(std::max<std::int64_t>(ArchiveOffset, 0));
            CopyOldEntries(*old, EntryList);
            if (Switch == swDelete)
                KeepCaseTwins(EntryList);
        }
        if (EntryList.Count == 0)
            ArchiveSize = 0;
        try {
            ScanFiles(EntryList, old.get(), *output);
        } catch (const std::exception& e) {
            ReportFailure(e);
            AddedCount = DeletedCount = 0;
            failed = true;
        }
        if (!failed && !GetCancel() && (AddedCount > 0 || DeletedCount > 0)) {
            if (Switch == swDelete && DeletedCount > 0 && std::uint32_t(DeletedCount) == EntryList.Count)
                WriteEndMarker(*output);
            if (!WriteEnding(old.get(), *output, EntryList))
                failed = Switch != swDelete;
        }
    } catch (const std::exception& e) {
        ReportFailure(e);
        failed = true;
    }
    if (failed || GetCancel())
        AddedCount = DeletedCount = 0;

    // Closing steps: nothing replaces the archive unless everything above succeeded.
    old.reset();
    bool commit = !failed && !GetCancel() && (AddedCount > 0 || DeletedCount > 0);
    if (commit) {
        const bool copyNeeded = memOutput != nullptr || win::UpperCase(win::ExtractFileDrive(FTempOutputName)) !=
                                                            win::UpperCase(win::ExtractFileDrive(FArchiveFile));
        if (!CheckFreeSpace(output->Size(), copyNeeded))
            commit = false;
    }
    FDiscardOutput = !commit;
    try {
        if (fileOutput)
            fileOutput->Close();
        else if (memOutput)
            memOutput->Close();
        FReplaced = commit && !FDiscardOutput;
    } catch (const std::exception&) {
        FReplaced = false;  // reported by the stream's owner; the old archive is whole
    }
    output.reset();
    FTempOutputName.clear();
    if (!FReplaced)
        AddedCount = DeletedCount = 0;
    if (AddedCount > 0)
        Finish(EntryList);
    if (OnDeactivate)
        OnDeactivate(this);
    if (win::FileExists(FArchiveFile))
        ArchiveWritten = true;
}

bool TCompressClass::PlaceTempOutput(TStream32* Stream, const std::string& Target, bool SameDrive,
                                     const std::string& TempName, const TTempStreamOwner& TempOwner)
{
    MoveTempArchive(Stream, Target, SameDrive, TempName, TempOwner);
    return true;
}

bool TCompressClass::CheckFreeSpace(std::int64_t OutputSize, bool CopyNeeded)
{
    // A rename on the same drive needs no room; a copy is written beside the old archive, which
    // stays until the new one is complete.
    if (!CopyNeeded)
        return true;
    std::string root = win::ExtractFileDrive(FArchiveFile);
    if (root.empty())
        root = win::ExtractFileDrive(win::CurrentDirectory());
    root = win::IncludeTrailingBackslash(root);
    TDiskManager disks;
    disks.DriveType = std::uint8_t(GetDriveTypeA(root.c_str()));
    disks.FreeSpace = INT64_MAX;
    disks.GetDiskSpace(root);
    if (disks.FreeSpace < OutputSize) {
        DoError(FArchiveFile, "", E_NOTENOUGHDISKSPACE, FArchiveFile);
        return false;
    }
    return true;
}

bool TCompressClass::CheckArchiveWriteable(const std::string& Name)
{
    if (GetCancel())
        return false;
    if (IsPlainFile(Name))
        return true;
    // Without a host to ask, the archive is left as it is, and the person is told why.
    if (!OnNonWriteableArchive) {
        DoError(Name, "", E_FILEISREADONLY, "");
        return false;
    }
    bool writeToFile = false;
    OnNonWriteableArchive(this, Name, writeToFile);
    return writeToFile && SetFileAttr(Name, FILE_ATTRIBUTE_NORMAL);
}

void TCompressClass::ReadArchive()
{
    FileCount = 0;
    if (!OnRead) {
        DoError(FArchiveFile, "OnRead", E_REQUIREDEVENT, "");
        return;
    }
    TFileStream32 stream(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    if (!stream.HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, FArchiveFile);
        return;
    }
    ArchiveSize = stream.Size();
    for (bool found = ReadFirstHeader(stream); found && !GetCancel(); found = ReadHeaderAt(0)) {
        FileName = GetEntryName();
        ++FileCount;
        OnRead(this, stream.Position(), FileCount);
    }
}

// --- scan ---

namespace {

// However a run ends, its workers stop with it.
struct TStopAhead {
    std::unique_ptr<TDeflateAhead>& Ahead;
    ~TStopAhead() { Ahead.reset(); }
};

// "symbolic link to <target>", as a TAR listing tells it.
std::string LinkNote(const std::string& Path)
{
    std::string host;
    char target[4096];
    const ssize_t n = win::ToHostPath(Path, host) ? ::readlink(host.c_str(), target, sizeof target) : -1;
    return n > 0 ? "symbolic link to " + std::string(target, std::size_t(n)) : "symbolic link";
}

}  // namespace

void TCompressClass::ReportLinkPassedOver(const std::string& Path)
{
    DoError(Path, LinkNote(Path), E_SKIPPEDFILE, FArchiveFile);
}

bool TCompressClass::WritesWhileScanning(const TStream32* OldArchive) const
{
    // Kept for whatever needs the whole list before the first entry: the old archive's entries,
    // the newest file's date, names offered against all others, and the scan's own reports, which
    // come before the entries'. The whole run's progress takes its total from a counting walk.
    return WritesEntriesAlone() && OldArchive == nullptr && Switch == swAdd && DateAttribute != daMaxFileDate &&
           !OnRenameFile && !OnFileScanStatus;
}

void TCompressClass::ScanFiles(TCompressHeaderObj& EntryList, TStream32* OldArchive, TStream32& Output)
{
    FScannedSources.clear();
    int linksPassedOver = 0;
    const bool writeWhileScanning = Switch != swDelete && WritesWhileScanning(OldArchive);
    bool wroteWhileScanning = false;
    FListBase = FWalkNext = 0;
    if (writeWhileScanning) {
        DeletedCount = 0;
        BytesToRead = 0;
        FileNumber = 0;
        StartAhead();
    }
    const TStopAhead stopAhead{FAhead};
    // A cancel while counting ends the run as a cancel of the listing walk does.
    bool cancelledCount = false;
    if (writeWhileScanning && OnProgress) {
        UnpackedTotal = CountScanBytes();
        BytesToRead = UnpackedTotal;
        cancelledCount = GetCancel();
    }
    if (writeWhileScanning && OnElapsedTime)
        Timer().Start();
    if (Switch != swDelete && !cancelledCount) {
        std::string walkBase;  // kept from file to file: no copy of the base folder per file
        TCompressScan scan([&, this](const std::string& dir, const WIN32_FIND_DATAA& data) {
            const std::uint32_t listed = EntryList.Count;
            const bool taken = ScanFileFound(dir, data, EntryList);
            if (writeWhileScanning && FWalkNext < EntryList.Count && !GetCancel()) {
                // Writing an entry sets the base folder to its own; the walk goes on with its own.
                walkBase.assign(BaseDir);
                struct TWalked {
                    const WIN32_FIND_DATAA*& Data;
                    ~TWalked() { Data = nullptr; }
                } walked{FWalkedData};
                if (EntryList.Count == listed + 1) {
                    FWalkedData = &data;
                    FWalkedIndex = listed;
                }
                WriteWalkedEntries(Output, EntryList, false);
                wroteWhileScanning = FListBase + FWalkNext > 0;
                BaseDir.assign(walkBase);
            }
            return taken;
        });
        PrepareScan(scan);
        scan.OnScanFile = OnFileScanStatus;
        scan.OnRecurseDir = OnRecurseDir;
        scan.OnRootDirChange = [this](TObject*, const std::string& dir) {
            if (RelativeDir == byItem)
                BaseDir = dir;
        };
        // A link is neither followed nor stored: each one passed over is told.
        scan.OnLinkPassedOver = [this, &linksPassedOver](TObject*, const std::string& path) {
            ++linksPassedOver;
            ReportLinkPassedOver(path);
        };
        const bool wasCancelled = GetCancel();
        FClaimedEntries.clear();
        if (!ArchiveIsNew && !writeWhileScanning)
            IndexEntryNames(EntryList);
        struct TWalkWriting {
            bool& Flag;
            ~TWalkWriting() { Flag = false; }
        } walkWriting{FWritingWhileWalking};
        FWritingWhileWalking = writeWhileScanning;
        scan.Scan();
        FNamesIndexed = false;
        FEntriesByName = {};
        FOldEntriesByFold = {};
        *CancelPtr = wasCancelled || *CancelPtr;  // the scanner clears the flag it is given
        UnpackedTotal = scan.BytesFound();
    }
    // A cancel while an entry was written ends the run as it ends the entry loop: not as a scan
    // that found nothing.
    const bool cancelledScan = GetCancel() && !wroteWhileScanning;
    if (cancelledScan || (Switch != swDelete && !FilesFound)) {
        // Links alone were found: their reports say why nothing was added.
        if (cancelledScan || linksPassedOver == 0)
            DoError(FArchiveFile, "", E_NOTHINGTODO, FArchiveFile);
        if (Switch != swMove)
            EntryList.Clear();
        return;
    }
    if (!writeWhileScanning) {
        CompressFiles(OldArchive, Output, EntryList);
        return;
    }
    if (!GetCancel())
        WriteWalkedEntries(Output, EntryList, true);
    if (OnElapsedTime) {
        Timer().Stop();
        OnElapsedTime(this, Timer().Elapsed());
    }
}

void TCompressClass::PrepareScan(TplxFileScan& Scan) const
{
    Scan.SetFileSpec(FFileSpec);
    Scan.Attributes = TplxFileAttributes(Attributes | (StoreEmptySubDirs ? AttrBit(fsDirectory) : 0));
    Scan.AttributesEx = AttributesEx;
    Scan.SetRootDir(RelativeDir == byList && !BaseDir.empty() ? BaseDir : win::CurrentDirectory());
    Scan.RecurseDirs = RecurseDirs;
    Scan.IncludeHiddenDirs = IncludeHiddenDirs;
    Scan.AbortPtr = CancelPtr;
}

std::int64_t TCompressClass::CountScanBytes()
{
    // The scanner counts the files its callback takes; folders never count.
    TCompressScan scan([this](const std::string& dir, const WIN32_FIND_DATAA& data) {
        return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
               !PassedOverByScan(JoinPath(dir, data.cFileName), data.cFileName);
    });
    PrepareScan(scan);
    const bool wasCancelled = GetCancel();
    scan.Scan();
    *CancelPtr = wasCancelled || *CancelPtr;  // the scanner clears the flag it is given
    return scan.BytesFound();
}

bool TCompressClass::PassedOverByScan(const std::string& Path, const char* Name) const
{
    // The archive and its temporary output never go into themselves.
    if (IsOwnArchive(Path))
        return true;
    if (SkipNames.empty())
        return false;
    const std::string ext = win::LowerCase(win::ExtractFileExt(Name));
    return std::find(SkipNames.begin(), SkipNames.end(), ext) != SkipNames.end();
}

void TCompressClass::WriteWalkedEntries(TStream32& Output, TCompressHeaderObj& EntryList, bool Drain)
{
    // Workers pack the entries listed ahead of the one written, so they need a window of them;
    // without workers one entry is held at a time.
    constexpr std::uint32_t kWindow = 1024;
    // Written entries leave the list in batches, so that the list's vectors move seldom.
    constexpr std::uint32_t kRetireBatch = 256;
    const std::uint32_t window = FAhead ? kWindow : 1;
    while (FWalkNext < EntryList.Count && !GetCancel() && (Drain || EntryList.Count - FWalkNext >= window)) {
        const std::uint32_t i = FWalkNext++;
        FileNumber = int(FListBase + i) + 1;
        if (FAhead) {
            if (FListBase + i > 0)
                FAhead->DropUpTo(FListBase + i - 1);  // work an entry did not use
            FillAhead(EntryList, i);
        }
        CompressListedEntry(nullptr, Output, EntryList, i, 0);
        CurrentItem = nullptr;
    }
    if (FWalkNext >= kRetireBatch || (Drain && FWalkNext > 0 && !GetCancel())) {
        RetireEntries(EntryList, FWalkNext);
        EntryList.DropFront(FWalkNext);
        FListBase += FWalkNext;
        FWalkNext = 0;
    }
}

bool TCompressClass::IsOwnArchive(const std::string& Path) const
{
    const auto known = [](TOwnName& cache, const std::string& own) -> const TOwnName& {
        if (cache.Path != own) {
            cache.Path = own;
            cache.LastName = PlainLastName(own);
        }
        return cache;
    };
    const TOwnName& archive = known(FOwnArchive, FArchiveFile);
    const TOwnName& temp = known(FOwnTemp, FTempOutputName);
    // Most paths end in a plain character that neither own name ends in (ASCII, without case):
    // not the same name, whatever the rest of the paths holds.
    const auto endsOtherwise = [](char last, const TOwnName& own) {
        return own.Path.empty() || (!own.LastName.empty() && AsciiLower(last) != AsciiLower(own.LastName.back()));
    };
    if (!Path.empty()) {
        const char last = Path.back();
        if (static_cast<unsigned char>(last) < 0x80 && last != '.' && last != ' ' && last != '\\' && last != '/' &&
            last != ':' && endsOtherwise(last, archive) && endsOtherwise(last, temp))
            return false;
    }
    const std::string_view name = PlainLastName(Path);
    return SamePath(Path, name, archive.Path, archive.LastName) || SamePath(Path, name, temp.Path, temp.LastName);
}

bool TCompressClass::IsExcluded(const std::string& StoredName, const std::string& Path)
{
    return ExcludedByMasks(StoredName, Path, Path);
}

bool TCompressClass::ScanFileFound(const std::string& Dir, const WIN32_FIND_DATAA& FindData,
                                   TCompressHeaderObj& EntryList)
{
    const bool folder = (FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Built in a buffer kept from file to file; the list keeps its own copy.
    std::string& path = FScanPath;
    JoinPathInto(path, Dir, FindData.cFileName);
    if (folder)
        path = win::IncludeTrailingBackslash(path);
    if (folder && (!StoreEmptySubDirs || !IsDirTreeEmpty(path)))
        return false;
    if (!folder && PassedOverByScan(path, FindData.cFileName)) {
        if (OnExcludeFile && !IsOwnArchive(path))
            OnExcludeFile(this, path);
        return false;
    }
    SetEntryName(path);
    if (IsExcluded(FileName, path))
        return true;
    AddScannedFile(path, FindData, EntryList);
    return true;
}

void TCompressClass::AddScannedFile(const std::string& Path, const WIN32_FIND_DATAA& FindData,
                                    TCompressHeaderObj& EntryList)
{
    const bool folder = (FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // FileSpec masks may overlap ("x\*.txt" and "x\sub\*.*" with recursion): one entry per file.
    // One mask is one walk, which meets each file once.
    if (FFileSpec.size() > 1) {
        std::string source;
        if (!win::ToHostPath(Path, source))
            source = Path;
        if (!FScannedSources.insert(source).second)
            return;
    }
    TCompressEntryInfo now;
    // Three conversions and a look at the zone per file, for nothing where the writer takes the
    // time of an entry it writes as it walks from the walk itself.
    if (!FWritingWhileWalking || WalkedEntriesNeedDosTime())
        now.DosDateTime = FileTimeToDosTime(FindData.ftLastWriteTime);
    now.UnpackedSize = std::int64_t((std::uint64_t(FindData.nFileSizeHigh) << 32) | FindData.nFileSizeLow);
    now.PackedSize = now.UnpackedSize;
    now.Attributes = FindData.dwFileAttributes;
    if (!folder)
        FNewestDosTime = std::max(FNewestDosTime, now.DosDateTime);

    const int index = ArchiveIsNew ? -1 : EntryOfScannedFile(EntryList, Path);
    int replaced = -1;
    if (index >= 0) {
        FClaimedEntries.insert(std::uint32_t(index));
        TCompressFileInfo& item = EntryList.GetItem(std::uint32_t(index));
        CurrentItem = &item;
        if (item.Action == eaCompress)
            return;
        TCompressEntryInfo was;
        ReadFileInfo(item, was);
        const bool sameAttr = FArcType == atTar || FilterFileAttr(was.Attributes) == FilterFileAttr(now.Attributes);
        const bool unchanged = was.UnpackedSize == now.UnpackedSize && was.DosDateTime == now.DosDateTime && sameAttr;
        if (Switch == swRefresh) {
            if (unchanged) {
                item.Action = eaCopy;
            } else if (now.DosDateTime > was.DosDateTime) {
                const auto at = std::uint32_t(index);
                FReplacedEntries[at] = {at, item, EntryList.Name(at), EntryList.Value(at)};
                item.Action = eaCompress;
                FilesFound = true;
                EntryList.Value(std::uint32_t(index)) = std::uint16_t(std::min<std::size_t>(BaseDir.size(), 0xFFFF));
                EntryList.Name(std::uint32_t(index)) = Path;
                if (FNamesIndexed)
                    IndexEntryName(Path, std::uint32_t(index));
                StoreFileInfo(item, now);
            }
            return;
        }
        if (unchanged) {
            item.Action = eaCopy;
            return;
        }
        if (AskReplace(EntryList, index, Path, was, now)) {
            EntryList.GetItem(std::uint32_t(index)).Action = eaLeaveOut;
            replaced = index;
        } else if (AskRenameDupe(EntryList, index)) {
            EntryList.GetItem(std::uint32_t(index)).Action = eaCopyRenamed;
        } else {
            EntryList.GetItem(std::uint32_t(index)).Action = eaCopy;
            return;
        }
    }
    if (Switch == swRefresh || HeadSize == 0)
        return;
    FilesFound = true;
    const std::uint8_t* head = GetHeadPtr();
    TCompressFileInfo record;
    record.Action = eaCompress;
    record.HeaderEnciphered = EncryptHeaders;
    record.HighSizeWord = std::uint16_t(std::uint64_t(now.UnpackedSize) >> 32);
    record.Encryption = EncryptionMethod();
    if (ListsHeadCopy() && head)
        record.Header.assign(head, head + HeadSize);
    else if (ListsHeadCopy())
        record.Header.assign(HeadSize, 0);
    EntryList.AddItem(std::move(record), Path, std::uint16_t(std::min<std::size_t>(BaseDir.size(), 0xFFFF)), 0,
                      nullptr);
    if (!ArchiveIsNew)
        FClaimedEntries.insert(EntryList.Count - 1);  // only an old archive's entries are matched
    if (FNamesIndexed)
        IndexEntryName(Path, EntryList.Count - 1);
    if (replaced >= 0)
        FReplacedEntries[EntryList.Count - 1] = {std::uint32_t(replaced), {}, {}, 0};
    TCompressFileInfo& added = EntryList.GetItem(EntryList.Count - 1);
    CurrentItem = &added;
    StoreFileInfo(added, now);
}

namespace {

// Whether the host holds Folder + Name with Name's own names, none taken without regard to case.
bool ExactlyOnHost(const std::string& Folder, const std::string& Name)
{
    std::string host;
    if (!win::ToHostPath(Folder + Name, host))
        return false;
    std::string tail = "/" + Name;
    std::replace(tail.begin(), tail.end(), '\\', '/');
    while (tail.size() > 1 && tail.back() == '/')
        tail.pop_back();
    struct stat st {};
    return host.size() >= tail.size() && host.compare(host.size() - tail.size(), tail.size(), tail) == 0 &&
           lstat(host.c_str(), &st) == 0;
}

}  // namespace

void TCompressClass::IndexEntryNames(const TCompressHeaderObj& EntryList)
{
    FEntriesByName.clear();
    FOldEntriesByFold.clear();
    const auto& names = EntryList.Names();
    for (std::uint32_t i = 0; i < names.size(); ++i) {
        FEntriesByName[names[i]].push_back(i);
        FOldEntriesByFold[win::FoldCase(names[i])].push_back(i);
    }
    FNamesIndexed = true;
}

void TCompressClass::IndexEntryName(const std::string& Name, std::uint32_t Index)
{
    std::vector<std::uint32_t>& at = FEntriesByName[Name];
    at.insert(std::lower_bound(at.begin(), at.end(), Index), Index);
}

int TCompressClass::EntryOfScannedFile(const TCompressHeaderObj& EntryList, const std::string& Path) const
{
    const auto& names = EntryList.Names();
    // Entries the scan added are claimed as they come, so only the old archive's can match without
    // regard to case; their names stay as read until they are claimed.
    const std::vector<std::uint32_t>* sameCase = nullptr;
    if (FNamesIndexed) {
        const auto exact = FEntriesByName.find(FileName);
        if (exact != FEntriesByName.end())
            for (const std::uint32_t i : exact->second)
                if (names[i] == FileName)
                    return int(i);
        const auto folded = FOldEntriesByFold.find(win::FoldCase(FileName));
        if (folded == FOldEntriesByFold.end())
            return -1;
        sameCase = &folded->second;
    } else {
        const int exact = EntryList.IndexOfExactName(FileName);
        if (exact >= 0)
            return exact;
    }
    // Without regard to case, an entry is this file's only while no file of its own exact name
    // lies beside it on the host: README.TXT and readme.txt stay two entries.
    const bool storedTail = Path.size() >= FileName.size() &&
                            win::SameText(std::string_view(Path).substr(Path.size() - FileName.size()), FileName);
    const auto matches = [&](std::uint32_t i) {
        if (FClaimedEntries.contains(i) || !win::SameText(names[i], FileName))
            return false;
        return !(storedTail && ExactlyOnHost(Path.substr(0, Path.size() - FileName.size()), names[i]));
    };
    if (sameCase) {
        for (const std::uint32_t i : *sameCase)
            if (matches(i))
                return int(i);
        return -1;
    }
    for (std::uint32_t i = 0; i < names.size(); ++i)
        if (matches(i))
            return int(i);
    return -1;
}

bool TCompressClass::AskReplace(TCompressHeaderObj& EntryList, int Index, const std::string& Path,
                                const TCompressEntryInfo& Old, const TCompressEntryInfo& New)
{
    if (!OnReplaceFile) {
        DoError(FileName, "OnReplaceFile", E_REQUIREDEVENT, "");
        return false;
    }
    bool replace = false;
    OnReplaceFile(this, EntryList.Name(std::uint32_t(Index)), Path, DosDateToDateTime(Old.DosDateTime),
                  DosDateToDateTime(New.DosDateTime), Old.UnpackedSize, New.UnpackedSize, int(Old.Attributes),
                  int(New.Attributes), replace);
    return replace;
}

bool TCompressClass::AskRenameDupe(TCompressHeaderObj& EntryList, int Index)
{
    if (!OnRenameDupeFile)
        return false;
    const std::string own = EntryList.Name(std::uint32_t(Index));
    std::string offered = own;
    for (int round = 0; round < kMaxRenameRounds && !GetCancel(); ++round) {
        bool rename = true;
        OnRenameDupeFile(this, own, offered, rename);
        if (!rename || offered.empty())
            return false;
        if (round > 0 && win::SameText(offered, own))
            return false;
        if (EntryList.IndexOfName(offered) < 0) {
            EntryList.Name(std::uint32_t(Index)) = offered;
            return true;
        }
    }
    return false;
}

// --- the per-entry loop ---

void TCompressClass::CompressFiles(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList)
{
    if (OnElapsedTime)
        Timer().Start();
    const int maxDeleted = DeletedCount;
    DeletedCount = 0;
    BytesToRead = UnpackedTotal;
    StartAhead();
    const TStopAhead stopAhead{FAhead};
    for (std::uint32_t i = 0; i < EntryList.Count && !GetCancel(); ++i) {
        FileNumber = int(i) + 1;
        if (FAhead) {
            if (i > 0)
                FAhead->DropUpTo(i - 1);  // work an entry did not use
            FillAhead(EntryList, i);
        }
        CompressListedEntry(OldArchive, Output, EntryList, i, maxDeleted);
    }
    if (OnElapsedTime) {
        Timer().Stop();
        OnElapsedTime(this, Timer().Elapsed());
    }
}

void TCompressClass::CompressListedEntry(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList,
                                         std::uint32_t Index, int MaxDeleted)
{
    TCompressFileInfo& item = EntryList.GetItem(Index);
    CurrentItem = &item;
    TCompressEntryInfo info;
    ReadFileInfo(item, info);
    UnpackedSize = info.UnpackedSize;
    PackedSize = info.PackedSize;
    FCurrentAttr = info.Attributes;
    const std::int64_t before = Output.Size();
    switch (item.Action) {
    case eaCompress: {
        const std::string& name = EntryList.Name(Index);
        const bool folder = !name.empty() && (name.back() == '\\' || name.back() == '/');
        if (folder && !StoreEmptySubDirs) {
            item.Action = eaLeaveOut;
            break;
        }
        bool ok = false;
        FWritingEntry = true;
        CompressFile(Output, int(Index), ok, EntryList);
        FWritingEntry = false;
        if (ok) {
            ++AddedCount;
            if (Switch == swMove && !folder) {
                MovedFiles.push_back(EntryList.Name(Index));
                MovedStoredNames.push_back(FileName);
            }
            EntryList.Name(Index) = FileName;
        } else {
            // Nothing of a failed entry may stay in the output.
            Output.SetSize64(before);
            Output.Seek64(before, soBeginning);
            if (GetCancel())
                for (std::uint32_t j = Index; j < EntryList.Count; ++j)
                    EntryList.GetItem(j).Action = eaLeaveOut;
            EntryList.GetItem(Index).Action = eaLeaveOut;
            if (!GetCancel())
                KeepReplacedEntry(OldArchive, Output, EntryList, Index);
        }
        break;
    }
    case eaCopy:
        if (FArcType == atTar)
            FileName = EntryList.Name(Index);
        CopyKeptEntry(OldArchive, Output, item);
        break;
    case eaLeaveOut:
        if (Switch == swDelete) {
            ++DeletedCount;
            if (OnDeleteFile)
                OnDeleteFile(this, EntryList.Name(Index), DeletedCount, MaxDeleted);
        }
        break;
    case eaCopyRenamed:
        if (OldArchive) {
            OldArchive->SetPosition(item.Offset);
            CopyEntry(Output, *OldArchive, EntryList, int(Index));
        }
        break;
    }
}

void TCompressClass::StartAhead()
{
    const unsigned workers = CompressThreads > 0 ? unsigned(CompressThreads) : TDeflateAhead::CoreCount();
    FAheadNext = 0;
    if (workers > 1 && DeflatesAhead())
        FAhead = std::make_unique<TDeflateAhead>(workers);
}

void TCompressClass::FillAhead(TCompressHeaderObj& EntryList, std::uint32_t From)
{
    // Enough ahead to keep every worker busy, little enough to keep memory flat.
    constexpr std::int64_t kBytesAhead = std::int64_t(32) << 20;
    constexpr std::int64_t kAheadMinimum = 32768;
    const std::size_t jobsAhead = 64;
    const bool stored = DeflateType == dtDeflateS || CompressMethod == cmStore;
    if (stored || CompressMethod != cmDeflate)
        return;
    FAheadNext = std::max(FAheadNext, FListBase + From);
    while (FAheadNext < FListBase + EntryList.Count && FAhead->JobsHeld() < jobsAhead &&
           FAhead->BytesHeld() < kBytesAhead) {
        const std::uint32_t number = FAheadNext++;
        const std::uint32_t j = number - FListBase;
        const TCompressFileInfo& item = EntryList.GetItem(j);
        if (item.Action != eaCompress)
            continue;
        const std::string& path = EntryList.Name(j);
        if (path.empty() || path.back() == '\\' || path.back() == '/' || IsOwnArchive(path))
            continue;
        // A guess of what CompressStream will do; it takes the work only where the guess held.
        TCompressEntryInfo info;
        ReadFileInfo(item, info);
        // A small member costs less to pack here than to hand over and wait for.
        if (info.UnpackedSize < kAheadMinimum || info.UnpackedSize > kWholeDeflateLimit)
            continue;
        const std::string ext = win::LowerCase(win::ExtractFileExt(path));
        if (!ext.empty() && std::find(StoreFilesOfType.begin(), StoreFilesOfType.end(), ext) != StoreFilesOfType.end())
            continue;
        TFileStream32 input(path, fmOpenRead | fmShareDenyNone, false);
        if (!input.HandleValid())
            continue;  // reported at the entry's turn
        auto job = std::make_unique<TDeflateJob>();
        job->Size = input.Size();
        if (job->Size < kAheadMinimum || job->Size > kWholeDeflateLimit)
            continue;
        job->Data.resize(std::size_t(job->Size));
        std::int64_t got = 0;
        while (got < job->Size) {
            const std::int32_t n = input.Read(job->Data.data() + got, std::int32_t(job->Size - got));
            if (n <= 0)
                break;
            got += n;
        }
        if (got != job->Size)
            continue;
        job->Level = DeflateType;
        FAhead->Submit(number, std::move(job));
    }
}

void TCompressClass::KeepReplacedEntry(TStream32* OldArchive, TStream32& Output, TCompressHeaderObj& EntryList,
                                       std::uint32_t Index)
{
    const auto found = FReplacedEntries.find(Index);
    if (found == FReplacedEntries.end() || !OldArchive)
        return;
    const TReplacedEntry& old = found->second;
    if (old.OldIndex == Index) {
        EntryList.GetItem(Index) = old.Record;
        EntryList.Name(Index) = old.Name;
        EntryList.Value(Index) = old.Value;
    }
    TCompressFileInfo& item = EntryList.GetItem(old.OldIndex);
    item.Action = eaCopy;
    FileName = EntryList.Name(old.OldIndex);
    CopyKeptEntry(OldArchive, Output, item);
}

void TCompressClass::CopyKeptEntry(TStream32* OldArchive, TStream32& Output, TCompressFileInfo& Item)
{
    if (!OldArchive)
        return;
    const std::int64_t size = OldArchive->Size();
    OldArchive->SetPosition(Item.Offset);
    const std::int64_t length = GetEntryLength(Output, *OldArchive, Item);
    // A damaged directory must not make the copy read past the archive or take another entry's bytes.
    if (Item.Offset < 0 || length < 0 || Item.Offset > size || length > size - Item.Offset)
        RaiseError(FileName, "", FArchiveFile, E_BADFILEHEADER);
    OldArchive->SetPosition(Item.Offset);
    Item.Offset = Output.Position();
    if (length > 0 && Output.CopyFrom(OldArchive, length) != length) {
        if (GetCancel())
            throw ECancel();
        RaiseError(FileName, "", FArchiveFile, E_WRITEFILE);
    }
}

void TCompressClass::DeleteMovedFiles(TCompressHeaderObj& EntryList)
{
    DoProgress(0, 0, 0);
    // The names the new archive holds, looked up once per file: a search of the list for each
    // one made moving many files cost the square of their number. An entry left out is not in
    // the new archive, so its name keeps its source.
    std::unordered_set<std::string_view> stored;
    if (VerifyBeforeDelete)
        for (std::uint32_t i = 0; i < EntryList.Count; ++i)
            if (EntryList.GetItem(i).Action != eaLeaveOut)
                stored.insert(EntryList.Names()[i]);
    const int total = int(MovedFiles.size());
    for (int i = 0; i < total && !GetCancel(); ++i) {
        const std::string& path = MovedFiles[std::size_t(i)];
        if (VerifyBeforeDelete && !stored.contains(MovedStoredNames[std::size_t(i)]))
            continue;
        if (DeleteFileEx(path, DeleteOptions)) {
            if (OnDeleteFile)
                OnDeleteFile(this, path, i + 1, total);
        } else {
            DoError(path, "", E_DELETEFILES, FArchiveFile);
        }
    }
}

// --- stored names ---

namespace {

// A host name that the Windows form holds only with stand-ins ("..\x", "C:\x", "a*b") is stored
// as the host has it, but for a "_" in place of each "\", ":" and control character, which
// readers take for a separator, a drive or a stream: ".._.._x", "C__x", "a*b".
void StoreHostCharacters(std::string& Name)
{
    if (Name.find('\xEF') != std::string::npos)
        Name = win::ArchiveNameOf(Name);
}

}  // namespace

bool TCompressClass::SetEntryName(const std::string& Path)
{
    // Built in a buffer kept from entry to entry and swapped into FileName (which Path may be):
    // twice per file, no allocation.
    std::string& name = FNameBuffer;
    // The common case, a path below BaseDir as the walk built it: only the rest is copied.
    if (StoredDirNames == sdRelative && !BaseDir.empty() && Path.size() >= BaseDir.size() &&
        std::memcmp(Path.data(), BaseDir.data(), BaseDir.size()) == 0 && BaseDir.find('/') == std::string::npos) {
        // In place where Path is FileName itself: no copy and no swap of the two strings.
        if (&Path == &FileName)
            FileName.erase(0, BaseDir.size());
        else
            FileName.assign(Path, BaseDir.size());
        win::ReplaceByte(FileName.data(), FileName.size(), '/', '\\');
        StoreHostCharacters(FileName);
        return true;
    }
    name.assign(Path);
    win::ReplaceByte(name.data(), name.size(), '/', '\\');
    const auto stripDrive = [](std::string n) {
        if (IsUncPath(n)) {
            std::size_t at = n.find('\\', 2);                                         // after the server
            at = at == std::string::npos ? std::string::npos : n.find('\\', at + 1);  // after the share
            return at == std::string::npos ? std::string() : n.substr(at);
        }
        const std::size_t colon = n.find(':');
        return colon == std::string::npos ? n : n.substr(colon + 1);
    };
    switch (StoredDirNames) {
    case sdNone:
        name = win::ExtractFileName(RemoveBackslash(name)) + (name.ends_with('\\') ? "\\" : "");
        break;
    case sdAbsolute:
        break;
    case sdAbsoluteNoDrv:
        name = stripDrive(name);
        break;
    case sdAbsoluteNoRoot:
        name = stripDrive(name);
        if (!name.empty() && name[0] == '\\')
            name.erase(0, 1);
        break;
    case sdRelative:
        if (StartsWithText(name, BaseDir))
            name.erase(0, BaseDir.size());
        break;
    case sdRelativeStoreStart: {
        const std::string base = RemoveBackslash(BaseDir);
        const std::size_t cut = base.find_last_of('\\');
        const std::string parent = cut == std::string::npos ? std::string() : base.substr(0, cut + 1);
        if (StartsWithText(name, parent))
            name.erase(0, parent.size());
        name = GuardDriveRoot(name);
        break;
    }
    case sdExplorer_Auto:
    case sdExplorer_UserDefineDefaultDir:
        if (!DefaultDir.empty() && !win::SameText(name, DefaultDir) && StartsWithText(name, BaseDir)) {
            name.erase(0, BaseDir.size());
        } else if (StartsWithText(name, win::IncludeTrailingBackslash(DefaultDir))) {
            name.erase(0, win::IncludeTrailingBackslash(DefaultDir).size());
        } else if (StartsWithText(name, win::IncludeTrailingBackslash(BaseDir))) {
            name.erase(0, win::IncludeTrailingBackslash(BaseDir).size());
        }
        name = GuardDriveRoot(name);
        break;
    }
    StoreHostCharacters(name);
    FileName.swap(name);
    return true;
}
