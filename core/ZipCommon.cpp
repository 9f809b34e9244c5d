#include "core/ZipCommon.h"
#include "core/ArcDescriptor.h"

#include "core/ArcType.h"

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Errors.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/SysStrings.h"
#include "platform/win/Time.h"

#include <algorithm>
#include <cmath>

// --- stopwatch ---

void TZipTimer::Start()
{
    ElapsedSeconds = 0;
    StartTick = GetTickCount();
    if (StartTick == 0)
        StartTick = 1;  // 0 means stopped
    PauseMark = 0;
}

void TZipTimer::Stop()
{
    if (StartTick == 0)
        return;
    ElapsedSeconds = float(std::uint32_t(GetTickCount() - StartTick)) / 1000.0f;
    StartTick = 0;
}

void TZipTimer::Pause()
{
    if (StartTick != 0)
        PauseMark = GetTickCount();
}

void TZipTimer::Resume()
{
    if (StartTick != 0 && PauseMark != 0) {
        StartTick += GetTickCount() - PauseMark;
        PauseMark = 0;
    }
}

// --- construction ---

namespace {

// The hooks the constructor sets, of types of their own so that OwnDataHooks can tell them.
struct TOwnWriteOutput {
    TZipCommon* Self;
    std::int32_t operator()(TStream32* Target, const void* Buffer, int Kind, std::int32_t Count, int CrcWidth,
                            bool Encrypt) const
    {
        return Self->WriteOutputBlock(Target, Buffer, Kind, Count, CrcWidth, Encrypt);
    }
};

struct TOwnReadArchive {
    TZipCommon* Self;
    std::int32_t operator()(TStream32* Stream, void* Buffer, std::int32_t Count, bool Encrypted, int CrcWidth) const
    {
        return Self->ReadArchiveBlock(Stream, Buffer, Count, Encrypted, CrcWidth);
    }
};

}  // namespace

TZipCommon::TZipCommon(TObject* AOwner)
    : Owner(AOwner),
      CancelPtr(&FCancel),
      FTimer(std::make_unique<TZipTimer>()),
      FDiskManager(std::make_unique<TDiskManager>())
{
    WriteArchiveProc = [this](TStream32* t, const void* b, int k, std::int32_t n, int w, bool e) {
        return WriteArchiveBlock(t, b, k, n, w, e);
    };
    WriteOutputProc = TOwnWriteOutput{this};
    ReadArchiveProc = TOwnReadArchive{this};
    ProgressProc = [this](std::uint8_t file, std::uint8_t archive) {
        ProcessMessages();
        if (OnProgress)
            OnProgress(this, file, archive);
    };
}

TZipCommon::~TZipCommon() = default;

bool TZipCommon::OwnDataHooks() const
{
    const auto* read = ReadArchiveProc.target<TOwnReadArchive>();
    const auto* write = WriteOutputProc.target<TOwnWriteOutput>();
    return read && read->Self == this && write && write->Self == this;
}

// --- errors and cancel ---

namespace {

bool KeepsCodeWhenCancelled(int code)
{
    return code == E_ACCESSPERMISSIONS || code == E_REGISTRYPERMISSIONS;
}

}  // namespace

void TZipCommon::DoError(const std::string& Name, const std::string& ExtendedMsg, int ECode,
                         const std::string& VolumeID)
{
    if (OnElapsedTime)
        FTimer->Pause();
    if (!KeepsCodeWhenCancelled(ECode) && GetCancel())
        ECode = E_USERCANCEL;
    if (OnError)
        OnError(this, Name, ExtendedMsg, VolumeID, ECode);
    if (OnElapsedTime)
        FTimer->Resume();
}

void TZipCommon::ReportRaised(const std::string& Name, const std::string& ExtendedMsg, const std::string& VolumeID,
                              int ECode)
{
    DoError(Name, ExtendedMsg, ECode, VolumeID);
    if (GetCancel())
        throw ECancel();
}

void TZipCommon::SetCancel(bool Value)
{
    *CancelPtr = Value;
    if (Value)
        DoError(FileName, "", E_USERCANCEL, VolumeName);
}

// --- progress ---

std::uint8_t TZipCommon::Percent(std::int64_t a, std::int64_t b)
{
    if (b <= 0 || a <= 0)
        return 0;
    if (a >= b)
        return 100;
    // Rounded half up in integers: this runs for every block written, in 64 bits where they hold.
    if (b < (std::int64_t(1) << 55))
        return std::uint8_t((std::uint64_t(a) * 200 + std::uint64_t(b)) / (std::uint64_t(b) * 2));
    using U = unsigned __int128;
    return std::uint8_t((U(a) * 200 + U(b)) / (U(b) * 2));
}

void TZipCommon::DoProgress(std::int64_t Done, std::int64_t Total, std::int64_t ArchiveTotal)
{
    ByFile = Percent(Done, Total);
    ByArchive = Percent(ArchiveTotal - BytesToRead, ArchiveTotal);
    try {
        if (ProgressProc)
            ProgressProc(ByFile, ByArchive);
    } catch (const ECancel&) {
        throw;
    } catch (...) {
        // A faulty progress handler must not end the operation.
    }
}

void TZipCommon::RaiseWriteError(const std::string& Name)
{
    RaiseError(Name, "", "", GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE);
}

// --- folders ---

std::string TZipCommon::TempDir()
{
    if (!FTempDir.empty() && win::DirectoryExists(FTempDir))
        return FTempDir;
    char buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    FTempDir = (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
    return FTempDir;
}

void TZipCommon::SetTempDir(const std::string& Value)
{
    if (Value.empty() || !win::DirectoryExists(Value)) {
        FTempDir.clear();
        FTempDir = TempDir();
        return;
    }
    FTempDir = win::IncludeTrailingBackslash(Value);
}

void TZipCommon::SetExtractDir(const std::string& Value)
{
    if (Value.empty()) {
        FExtractDir = FArchiveFile.empty() ? std::string() : win::ExtractFilePath(FArchiveFile);
        return;
    }
    // A POSIX absolute path names the root drive, as everywhere else in the program.
    std::string dir = Value[0] == '/' && (Value.size() < 2 || Value[1] != '/') ? "Z:" + Value : Value;
    std::replace(dir.begin(), dir.end(), '/', '\\');
    dir = win::IncludeTrailingBackslash(dir);
    if (!win::DirectoryExists(dir) && !win::ForceDirectories(dir)) {
        DoError(dir, "ExtractDir", E_CREATEDIR, "");
        dir = win::IncludeTrailingBackslash(win::CurrentDirectory());
    }
    FExtractDir = dir;
}

const std::string& TZipCommon::EffectiveExtractDir() const
{
    // Asked several times an entry; a run's folder already ends in its delimiter.
    if (!FExtractDir.empty() && (FExtractDir.back() == '\\' || FExtractDir.back() == '/'))
        return FExtractDir;
    const std::string& dir = !FExtractDir.empty() ? FExtractDir
                             : FArchiveFile.empty() ? win::CurrentDirectory()
                                                    : win::ExtractFilePath(FArchiveFile);
    FEffectiveExtractDir = win::IncludeTrailingBackslash(dir);
    return FEffectiveExtractDir;
}

// --- passwords, archive ---

void TZipCommon::SetPassword(const std::string& Value)
{
    FPassword = Value;
    if (Value.empty())
        SetEncryptionMethod(emNone);
    else if (FEncryptionMethod == emNone)
        SetEncryptionMethod(emZip_V2);
}

bool TZipCommon::FreeOutStream(std::unique_ptr<TStream32>& Stream)
{
    if (IsFileOutput()) {
        Stream.reset();
        return true;
    }
    if (OperationCode >= 1 && OperationCode <= 4) {
        (void)Stream.release();  // the caller's
        return true;
    }
    return false;
}

// --- volume names ---

std::string TZipCommon::GetVolumeName(const std::string& Name, int N) const
{
    if (Name.empty() || N < 0)
        return {};
    std::string ext = ".";
    const std::string letter = VolumeLetter ? std::string(1, VolumeLetter) : std::string();
    if (N < 10)
        ext += letter + "0" + std::to_string(N);
    else if (N < 100)
        ext += letter + std::to_string(N);
    else
        ext += std::to_string(N);
    return win::ChangeFileExt(Name, ext);
}

std::string TZipCommon::NumberedSplitName(const std::string& Name, int N) const
{
    std::string digits = std::to_string(N);
    if (digits.size() < 2)
        digits.insert(0, 2 - digits.size(), '0');
    return win::ChangeFileExt(Name, ".z" + digits);
}

std::string TZipCommon::NextSplitVolumeName(int& Counter, bool IsLast, int Total) const
{
    ++Counter;
    if (IsLast && Counter >= Total)
        return FArchiveFile;
    return NumberedSplitName(FArchiveFile, Counter);
}

std::string TZipCommon::NumberedVolumeName(const std::string& Name, int N, TNextVolumeName Mode, bool ShortNames)
{
    // Only the file part changes: a dot or a short name in a folder must not count.
    const std::string folder = win::ExtractFilePath(Name);
    const std::string file = Name.substr(folder.size());
    const std::string digits = std::to_string(std::clamp(N, 1, 999));
    const std::size_t dot = file.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot, 4);
    const std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
    if (Mode == nvChangeFilename) {
        std::string kept;
        if (ShortNames)
            kept = stem.substr(0, 8 - std::min<std::size_t>(8, digits.size()));
        else
            kept = stem.substr(0, stem.size() - std::min(stem.size(), digits.size()));
        return folder + kept + digits + ext;
    }
    if (ext.empty())
        return folder + file + digits;
    const std::size_t keep = 3 - std::min<std::size_t>(3, digits.size());
    return folder + stem + ext.substr(0, 1 + std::min(keep, ext.size() - 1)) + digits;
}

std::string TZipCommon::TextPartName(const std::string& First, int N)
{
    const std::string folder = win::ExtractFilePath(First);
    const std::string file = First.substr(folder.size());
    const std::size_t dot = file.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : file.substr(dot + 1);
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!ext.empty() && ext.size() <= 3 && std::all_of(ext.begin(), ext.end(), isDigit)) {
        std::string digits = std::to_string(std::stoi(ext) + N);
        if (digits.size() < ext.size())
            digits.insert(0, ext.size() - digits.size(), '0');
        return folder + file.substr(0, dot + 1) + digits;
    }
    if (std::any_of(ext.begin(), ext.begin() + std::ptrdiff_t(std::min<std::size_t>(ext.size(), 3)), isDigit)) {
        std::string digits = std::to_string(N);
        if (digits.size() < 3)
            digits.insert(0, 3 - digits.size(), '0');
        return First + "." + digits;
    }
    return NumberedVolumeName(First, N, nvChangeExt, true);
}

bool TZipCommon::ConfirmVolume(std::string& Volume, int N)
{
    const auto fail = [this] {
        HeaderOffset = ArchiveSize;  // ends a header walk
        return false;
    };
    if (N > 999) {
        DoError(Volume, "", E_MAXVOLUMES, Volume);
        return fail();
    }
    if (Volume.empty()) {
        DoError(Volume, "", E_INVALIDFILENAME, Volume);
        return fail();
    }
    if (win::ExtractFilePath(Volume).empty())
        Volume = win::IncludeTrailingBackslash(win::CurrentDirectory()) + Volume;
    for (;;) {
        const bool exists = win::FileExists(Volume);
        if (!OnNextVolume) {
            if (exists)
                break;
            DoError(Volume, "OnNextVolume", E_REQUIREDEVENT, Volume);
            return fail();
        }
        bool cancel = false;
        OnNextVolume(this, Volume, N, exists, cancel);
        if (cancel || GetCancel()) {
            if (!GetCancel()) {
                // The person is told which volume the run ended at, not only that it ended.
                DoError(Volume, "", E_USERCANCEL, Volume);
                *CancelPtr = true;
            }
            return fail();
        }
        if (win::FileExists(Volume))
            break;
        ProcessMessages();
    }
    ++VolumeCounter;
    return true;
}

// --- file selection ---

namespace {

// Asked for every entry of an archive: one pass from the end, not a set search per character.
std::size_t LastSeparator(const std::string& name)
{
    for (std::size_t i = name.size(); i-- > 0;)
        if (name[i] == '\\' || name[i] == '/')
            return i;
    return std::string::npos;
}

std::string FolderPart(const std::string& name)
{
    const std::size_t p = LastSeparator(name);
    return p == std::string::npos ? std::string() : name.substr(0, p + 1);
}

std::string FilePart(const std::string& name)
{
    const std::size_t p = LastSeparator(name);
    return p == std::string::npos ? name : name.substr(p + 1);
}

std::string Backslashed(std::string s)
{
    std::replace(s.begin(), s.end(), '/', '\\');
    return s;
}

std::vector<std::string> SplitFolders(const std::string& folder)
{
    std::vector<std::string> parts;
    std::string cur;
    for (char c : folder) {
        if (c == '\\') {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

bool SafeMatch(const std::string& name, const std::string& mask)
{
    try {
        return MatchesMask(name, mask);
    } catch (const win::Exception&) {
        return false;  // an invalid mask selects nothing
    }
}

// A mask with a folder matches the name from any of its folders on: "sub\*" takes sub\x,
// sub\deep\x and a\sub\x alike.
bool MatchesFromAnyFolder(const std::string& name, const std::string& mask)
{
    for (std::size_t at = 0;;) {
        if (SafeMatch(name.substr(at), mask))
            return true;
        const std::size_t separator = name.find('\\', at);
        if (separator == std::string::npos)
            return false;
        at = separator + 1;
    }
}

// Each component of the name's folder is tried against the mask's components in turn; the
// folders agree when every name component found a mask and the masks are used up.
bool FolderMatchesSpec(const std::string& path, const std::string& maskPath, std::string& matched)
{
    matched.clear();
    const auto masks = SplitFolders(maskPath);
    if (masks.empty())
        return false;  // no mask for the name's folders
    const auto names = SplitFolders(path);
    std::size_t m = 0;
    for (const auto& n : names) {
        bool found = false;
        for (std::size_t i = m; i < masks.size(); ++i) {
            if (SafeMatch(n, masks[i])) {
                matched += n + "\\";
                m = i + 1;
                found = true;
                break;
            }
        }
        if (!found) {
            matched.clear();
            return false;
        }
    }
    if (m < masks.size())
        matched.clear();
    return !matched.empty();
}

bool FileMaskMatches(const std::string& file, const std::string& mask)
{
    if (SafeMatch(file, mask))
        return true;
    const bool fileDotless = file.find('.') == std::string::npos;
    const bool maskDotless = mask.find('.') == std::string::npos;
    return (fileDotless && SafeMatch(file + ".", mask)) || (maskDotless && SafeMatch(file, mask + ".")) ||
           (fileDotless && maskDotless && SafeMatch(file + ".", mask + "."));
}

}  // namespace

void TZipCommon::SetFileSpec(const std::vector<std::string>& Value)
{
    FFileSpec = Value;
    IndexExactNames();
}

void TZipCommon::IndexExactNames()
{
    FExactNames.clear();
    for (std::string name : FFileSpec) {
        std::replace(name.begin(), name.end(), '/', '\\');
        FExactNames.insert(std::move(name));
    }
}

bool TZipCommon::MatchesFileSpec(const std::string& Name)
{
    if (Name.empty())
        return false;
    if (ExactFileSpec) {
        std::string name = Name;
        std::replace(name.begin(), name.end(), '/', '\\');
        return FExactNames.contains(name);
    }
    bool selected = false;
    for (const auto& mask : FFileSpec) {
        std::string tried = Name;
        if (mask.find('.') != std::string::npos && Name.find('.') == std::string::npos)
            tried += ".";
        if (SafeMatch(tried, mask) || SafeMatch(Name, mask)) {
            selected = true;
            break;
        }
    }
    return selected && !ExcludedByMasks(Name, {}, Name);
}

bool TZipCommon::ExcludedByMasks(const std::string& StoredName, const std::string& OtherPath,
                                 const std::string& ReportedName)
{
    if (FExcludeSpec.empty())
        return false;
    const std::string name = Backslashed(StoredName);
    const std::string file = FilePart(win::ExcludeTrailingPathDelimiter(name));
    for (const auto& raw : FExcludeSpec) {
        const std::string mask = Backslashed(raw);
        if (mask.empty())
            continue;
        const bool hit =
            mask.find('\\') != std::string::npos
                ? MatchesFromAnyFolder(name, mask) || (!OtherPath.empty() && SafeMatch(Backslashed(OtherPath), mask))
                : SafeMatch(file, mask);
        if (hit) {
            if (OnExcludeFile)
                OnExcludeFile(this, ReportedName);
            return true;
        }
    }
    return false;
}

bool TZipCommon::TakesEveryStoredName() const
{
    // "*" and "*.*" take every file name in every folder: nothing to split or match.
    return !ExactFileSpec && FExcludeSpec.empty() &&
           std::any_of(FFileSpec.begin(), FFileSpec.end(), [](std::string_view s) { return s == "*" || s == "*.*"; });
}

bool TZipCommon::MatchesStoredName(const std::string& Name, bool UseFolders)
{
    if (Name.empty())
        return false;
    if (ExactFileSpec)
        return MatchesFileSpec(Name);
    if (UseFolders && TakesEveryStoredName())
        return true;
    const std::string name = Backslashed(Name);
    const std::string nameFolder = FolderPart(name);
    const std::string nameFile = FilePart(name);
    for (const auto& rawSpec : FFileSpec) {
        if (rawSpec.empty())
            continue;
        if (ExcludedByMasks(name, {}, Name))
            return false;
        const std::string spec = Backslashed(rawSpec);
        if (win::SameText(spec, name))
            return true;
        std::string specFolder = FolderPart(spec);
        const std::string specFile = FilePart(spec);
        bool foldersAgree;
        if (nameFolder.size() <= specFolder.size()) {
            foldersAgree = win::SameText(nameFolder, specFolder);
        } else {
            std::string matched;
            foldersAgree = FolderMatchesSpec(nameFolder, specFolder, matched);
            if (foldersAgree)
                specFolder = matched;
        }
        // The FileSpec entry itself stays as the caller gave it; the dotted variants are only tried.
        if ((foldersAgree || UseFolders) && FileMaskMatches(nameFile, specFile))
            return true;
    }
    return false;
}

TArcType TZipCommon::GetArcType(TStream32& Stream)
{
    return DetectArcType(*this, Stream);
}

void TZipCommon::DoTmpFileMoveBegin(TObject*, const std::string& Archive, const std::string& TempFileName, bool& Cancel)
{
    if (OnTmpFileMoveBegin)
        OnTmpFileMoveBegin(this, Archive, TempFileName, Cancel);
}

void TZipCommon::DoTmpFileMoveEnd(TObject*)
{
    if (OnTmpFileMoveEnd)
        OnTmpFileMoveEnd(this);
}

void TZipCommon::DoTmpFileProgress(std::int64_t Done, std::int64_t Total)
{
    const std::uint8_t p = Percent(Done, Total);
    ProcessMessages();
    if (OnTmpFileProgress)
        OnTmpFileProgress(this, p, p);
}

// --- archive file and type ---

namespace {

char VolumeLetterOf(TArcType t)
{
    const TArcTypeRow* row = ArcTypeRowOf(t);
    return row ? row->VolumeLetter : 0;
}

}  // namespace

void TZipCommon::SetArchiveFile(const std::string& Name)
{
    if (Name.empty() || !win::FileExists(Name)) {
        FArchiveFile.clear();
        FArcType = atNA;
        return;
    }
    FArchiveFile = Name;
    TFileStream32 stream(Name, fmOpenRead | fmShareDenyNone);
    if (!stream.HandleValid()) {
        FArcType = atNA;
        if (OnError)
            DoError(Name, "", E_OPENFILE, "");
        return;
    }
    FArcType = GetArcType(stream);
    VolumeLetter = IsRealArcType(FArcType) ? VolumeLetterOf(FArcType) : 0;
}

void TZipCommon::SetArcType(TArcType Value)
{
    if (FArchiveFile.empty()) {
        FArcType = Value;
        return;
    }
    TFileStream32 stream(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    FArcType = stream.HandleValid() ? GetArcType(stream) : atFileOpenErr;
}

// --- volumes ---

bool TZipCommon::OpenVolume(std::unique_ptr<TStream32>& Stream, std::string& Volume)
{
    if (!OnNextVolume)
        return false;
    Volume = GetVolumeName(Volume, VolumeCounter);
    if (!ConfirmVolume(Volume, VolumeCounter))
        return false;
    Stream.reset();
    auto file = std::make_unique<TFileStream32>(Volume, fmOpenRead | fmShareDenyWrite);
    if (!file->HandleValid()) {
        DoError(Volume, "", E_OPENFILE, Volume);
        ArchiveSize = 0;
        return false;
    }
    ArchiveSize = file->Size();
    Stream = std::move(file);
    return true;
}

namespace {

// Asks for the volume until it exists or the run is cancelled; the host's message loop keeps
// running meanwhile.
bool AskForVolume(TZipCommon& zip, std::string& volume, int number)
{
    for (;;) {
        if (zip.GetCancel())
            return false;
        const bool exists = win::FileExists(volume);
        bool& cancel = *zip.CancelPtr;
        zip.OnNextVolume(&zip, volume, number, exists, cancel);
        if (zip.GetCancel())
            return false;
        if (win::FileExists(volume))
            return true;
        ProcessMessages();
    }
}

}  // namespace

TZipCommon::TVolumeRequest TZipCommon::RequestNextVolume(std::unique_ptr<TStream32>& Stream, int VolumeNumber,
                                                         int Total, int& Counter, bool AnnounceCancel)
{
    Counter = VolumeNumber;
    VolumeName = NextSplitVolumeName(Counter, true, Total);
    if (!OnNextVolume) {
        // Reported for what it is before the run ends.
        DoError(VolumeName, "OnNextVolume", E_REQUIREDEVENT, VolumeName);
        if (AnnounceCancel)
            SetCancel(true);
        else
            *CancelPtr = true;
        return vrNoEvent;
    }
    Stream.reset();
    if (HeaderTypeState == HeaderBit(htLocal) && win::SameText(VolumeName, FArchiveFile))
        VolumeName = NumberedSplitName(FArchiveFile, Counter);
    return AskForVolume(*this, VolumeName, VolumeNumber + 1) ? vrFound : vrMissing;
}

bool TZipCommon::TakeVolume(std::unique_ptr<TFileStream32> File, std::unique_ptr<TStream32>& Stream, int& VolumeNumber,
                            int Counter)
{
    VolumeNumber = Counter;
    VolumeCounter = Counter;
    ArchiveSize = File->Size();
    Stream = std::move(File);
    return true;
}

bool TZipCommon::DoNextVolume(std::unique_ptr<TStream32>& Stream, int& VolumeNumber, int Total)
{
    int counter = 0;
    const TVolumeRequest request = RequestNextVolume(Stream, VolumeNumber, Total, counter, true);
    if (request == vrNoEvent)
        return false;
    if (request == vrMissing) {
        DoError(VolumeName, "", E_USERCANCEL, VolumeName);
        return false;
    }
    auto file = std::make_unique<TTempFileStream>(TempStreamOwner(), fmOpenRead | fmShareDenyWrite, VolumeName, "");
    if (!file->HandleValid()) {
        DoError(VolumeName, "", E_OPENFILE, VolumeName);
        return false;
    }
    return TakeVolume(std::move(file), Stream, VolumeNumber, counter);
}

bool TZipCommon::OpenNextVolume(std::unique_ptr<TStream32>& Stream, int& VolumeNumber, int Total)
{
    int counter = 0;
    const TVolumeRequest request = RequestNextVolume(Stream, VolumeNumber, Total, counter, false);
    if (request == vrNoEvent)
        return false;
    std::unique_ptr<TFileStream32> file;
    if (request == vrFound)
        file = std::make_unique<TFileStream32>(VolumeName, fmOpenRead | fmShareDenyWrite);
    if (!file || !file->HandleValid()) {
        // Leave the caller with the archive itself rather than no stream at all.
        Stream = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
        DoError(VolumeName, "", file ? E_OPENFILE : E_USERCANCEL, VolumeName);
        return false;
    }
    return TakeVolume(std::move(file), Stream, VolumeNumber, counter);
}

// --- removable media and spanned sets ---

TDiskErrorReporter TZipCommon::DiskErrorReporter()
{
    return [this](const std::string& File, const std::string& ExtendedMsg, const std::string& VolumeID, int ECode) {
        DoError(File, ExtendedMsg, ECode, VolumeID);
    };
}

bool TZipCommon::CheckDrive(const std::string& Path, TOnDiskError DiskNotReady, TOnDiskError WriteProtect)
{
    return FDiskManager->GetDiskInfo(Path, std::move(DiskNotReady), std::move(WriteProtect), DiskErrorReporter(), this,
                                     CancelPtr);
}

void TZipCommon::InitDiskSpann(TSpanDiskReader& Span, TOnDiskError DiskNotReady, TOnDiskError WriteProtect)
{
    Span.Init(this, this, CancelPtr, std::move(DiskNotReady), std::move(WriteProtect), DiskErrorReporter());
}

void TZipCommon::RedetectArchive()
{
    FArcType = atNA;
    HeaderTypeState = 0;
    const std::string name = FArchiveFile;
    SetArchiveFile(name);
    // The disk the host has yet to insert keeps its name; a missing file only leaves no type.
    FArchiveFile = name;
}

bool TZipCommon::OpenArchiveStream()
{
    ArchiveStream.reset();
    auto file = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    if (!file->HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, VolumeName);
        return false;
    }
    ArchiveSize = file->Size();
    ArchiveStream = std::move(file);
    return true;
}

// --- temporary outputs ---

TTempStreamOwner TZipCommon::TempStreamOwner()
{
    TTempStreamOwner owner;
    owner.Sender = this;
    owner.Cancel = CancelPtr;
    owner.Remaining = &BytesToRead;
    owner.MoveTempFile = [this](TStream32* Stream, const std::string& Target, bool SameDrive,
                                const std::string& TempName) { MoveTempFile(Stream, Target, SameDrive, TempName); };
    owner.DoTmpFileMoveBegin = [this](TObject* Sender, const std::string& Archive, const std::string& TempName,
                                      bool& Cancel) { DoTmpFileMoveBegin(Sender, Archive, TempName, Cancel); };
    owner.DoTmpFileMoveEnd = [this](TObject* Sender) { DoTmpFileMoveEnd(Sender); };
    owner.DoTmpFileProgress = [this](TObject*, std::int64_t Done, std::int64_t Total) {
        DoTmpFileProgress(Done, Total);
    };
    owner.ArchiveSize = [this] { return ArchiveSize; };
    owner.ReportError = [this](int ECode, const std::string& ExtendedMsg) {
        DoError(FArchiveFile, ExtendedMsg, ECode, VolumeName);
    };
    return owner;
}

void TZipCommon::MoveTempFile(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName)
{
    if (!SameDrive) {
        std::int64_t size = -1;
        if (TempName == kMemoryTempName) {
            size = Stream ? Stream->Size() : 0;
        } else {
            TFileStream32 file(TempName, fmOpenRead | fmShareDenyNone);
            if (file.HandleValid())
                size = file.Size();
        }
        if (size >= 0) {
            UnpackedSize = size;
            UnpackedTotal = size;
            BytesToRead = size;
        }
    }
    MoveTempArchive(Stream, Target, SameDrive, TempName, TempStreamOwner());
}
