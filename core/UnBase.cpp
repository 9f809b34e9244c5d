#include "core/UnBase.h"
#include "core/ArcDescriptor.h"

#include "core/Err_Msgs.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Time.h"
#include "platform/win/Utf8.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

// --- seed keys of a temporary extractor ---

TSeedKeySnapshot TSeedKeySnapshot::Take()
{
    return {SeedKeysOf(kDataKeySet), SeedKeysOf(kHeaderKeySet)};
}

void TSeedKeySnapshot::Restore() const
{
    TSeedKeys(kDataKeySet).SetKeys(Data[0], Data[1], Data[2]);
    TSeedKeys(kHeaderKeySet).SetKeys(Header[0], Header[1], Header[2]);
}

// --- construction ---

TDecompressClass::TDecompressClass(TObject* AOwner) : TZipCommon(AOwner)
{
    SkippedMemberProc = [this](std::int64_t Packed) {
        BytesToRead = std::max<std::int64_t>(0, BytesToRead - std::max<std::int64_t>(0, Packed));
        DoProgress(Packed, Packed, ArchiveSize);
    };
}

TDecompressClass::~TDecompressClass()
{
    DiscardOutput();
    DropResolved();
}

void TDecompressClass::ProcessArchive(TStream32*)
{}

bool TDecompressClass::CheckPassword()
{
    return false;
}

void TDecompressClass::DoError(const std::string& Name, const std::string& ExtendedMsg, int ECode,
                               const std::string& VolumeID)
{
    FLastReported = ECode;
    TZipCommon::DoError(Name, ExtendedMsg, ECode, VolumeID);
}

void TDecompressClass::CopySettingsFrom(const TZipCommon& From, const TSeedKeySnapshot& SavedKeys)
{
    // The caller's detection is taken as it stands: the extractor detects nothing of its own.
    FArchiveFile = From.ArchiveFile();
    FArcType = From.ArcType();
    VolumeLetter = From.VolumeLetter;
    ArchiveSize = From.ArchiveSize;
    ArchiveOffset = From.ArchiveOffset;
    VolumeCounter = From.VolumeCounter;
    StubSize = From.StubSize;
    HeaderTypeState = From.HeaderTypeState;

    SetFileSpec(From.FileSpec());
    SetExcludeSpec(From.ExcludeSpec());
    // Names picked from a listing stay exact names: as masks "a.txt" would take "sub\a.txt" too.
    ExactFileSpec = From.ExactFileSpec;
    RecurseDirs = From.RecurseDirs;
    UseStoredDirs = From.UseStoredDirs;
    TranslateOemChar = From.TranslateOemChar;
    PasswordAttempts = From.PasswordAttempts;
    Passwords = From.Passwords;
    SetPassword(From.Password());
    CancelPtr = From.CancelPtr;
    SavedKeys.Restore();
}

// --- the run ---

int TDecompressClass::Extract()
{
    return RunOperation(opExtract);
}
int TDecompressClass::TestArchive()
{
    return RunOperation(opTest);
}
int TDecompressClass::ExtractForRun()
{
    return RunOperation(opExtractForRun);
}

int TDecompressClass::RunOperation(std::uint8_t Code)
{
    OperationCode = Code;
    int count = 0;
    bool opened = false;
    try {
        opened = OpenArchive();
    } catch (const ECancel&) {
    } catch (const std::bad_alloc&) {
        ReportUnexpected("", E_OUTOFMEMORY);
    } catch (const std::exception& e) {
        ReportUnexpected(e.what(), E_UNKNOWNERROR);
    } catch (...) {
        ReportUnexpected("", E_UNKNOWNERROR);
    }
    if (opened)
        count = Execute();
    ArchiveStream.reset();
    return count;
}

namespace {

// Types whose external library opens the archive itself.
bool OpensItself(TArcType t)
{
    return HasArcFlag(t, arcflag::OpensItself);
}

}  // namespace

bool TDecompressClass::OpenArchive()
{
    ArchiveStream.reset();
    if (FArchiveFile.empty()) {
        DoError(FArchiveFile, "", E_FILENOTFOUND, "");
        return false;
    }
    if (FArcType == atZipDS || FArcType == atZipMV) {
        const TDiskErrorReporter reporter = [this](const std::string& Name, const std::string& Extended,
                                                   const std::string& Volume,
                                                   int ECode) { DoError(Name, Extended, ECode, Volume); };
        if (!DiskManager().GetDiskInfo(FArchiveFile, {}, {}, reporter, this, CancelPtr))
            return false;
    }
    if (OpensItself(FArcType))
        return true;
    auto stream = std::make_unique<TFileStream32>(FArchiveFile, fmOpenRead | fmShareDenyWrite);
    if (!stream->HandleValid()) {
        DoError(FArchiveFile, "", E_OPENFILE, "");
        return false;
    }
    if (FArcType == atNA) {
        // The one place the driver detects: only when nobody has (a component handing its own
        // detection to this one sets the type first).
        FArcType = GetArcType(*stream);
        stream->SetPosition(0);
    }
    if (OnArchiveStreamCreated)
        OnArchiveStreamCreated(*stream);
    ArchiveSize = stream->Size();
    ArchiveStream = std::move(stream);
    return true;
}

void TDecompressClass::ResetCounters()
{
    SetCancel(false);
    FileCount = 0;
    EntryNumber = 0;
    FFolderTimes.clear();
    Encrypted = false;
    HeaderOffset = 0;
    SkipEntry = false;
    PasswordRefused = false;
    NoDecrypt = false;
    FNameRefused = false;
    FLastReported = 0;
    DropResolved();
    FFolders.Close();  // a folder of an earlier run may have gone since
    FFreeTarget.clear();
    FClaimed.Clear();
    FBaseFolder.clear();
    FBaseHost.clear();
    PackedTotal = 0;
    UnpackedTotal = 0;
    VolumeCounter = -1;
    ByFile = 0;
    ByArchive = 0;
    BytesToRead = 0;
    if (CpuType == cpt80486)
        CpuType = cptAuto;
    VolumeName = FArchiveFile;
}

void TDecompressClass::ReportUnexpected(const std::string& ExtendedMsg, int ECode)
{
    try {
        DoError(FileName.empty() ? FArchiveFile : FileName, ExtendedMsg, ECode, VolumeName);
    } catch (...) {
        // A handler that fails on the report itself leaves nothing further to tell.
    }
}

int TDecompressClass::Execute()
{
    ResetCounters();
    const std::string savedArchive = FArchiveFile;
    // Every failure has its report by the time it leaves here: errors raised by the components
    // were reported before they were raised, anything else is reported now; a cancel is silent.
    const auto guarded = [this](const auto& step) {
        try {
            step();
        } catch (const ECancel&) {
        } catch (const E_RAISE& e) {
            if (FLastReported != e.ECode && !GetCancel())
                ReportUnexpected("", e.ECode);
        } catch (const std::bad_alloc&) {
            ReportUnexpected("", E_OUTOFMEMORY);
        } catch (const std::exception& e) {
            ReportUnexpected(e.what(), E_UNKNOWNERROR);
        } catch (...) {
            ReportUnexpected("", E_UNKNOWNERROR);
        }
    };
    guarded([this] {
        if (OnActivate)
            OnActivate(this);
        if (OnElapsedTime)
            Timer().Start();
        FileName.clear();
        PackedTotal = ArchiveSize;
        BytesToRead = ArchiveSize;
        if (FArcType != atGZip && FArcType != atMsGZ)
            AsciiTranslation = false;
        std::string dir = FExtractDir.empty() ? win::CurrentDirectory() : FExtractDir;
        dir = win::IncludeTrailingBackslash(dir);
        FExtractDir = dir;
        if (OperationCode == opExtract && !CheckDirectory(dir))
            return;
        FExtractDir = dir;
        ProcessArchive(ArchiveStream.get());
    });
    // Whatever ended the run, an entry left unchecked leaves no trace.
    DiscardOutput();
    DropResolved();
    FFolders.Close();
    guarded([this] { RestoreFolderTimes(); });
    guarded([this] {
        Timer().Stop();
        if (OnElapsedTime)
            OnElapsedTime(this, Timer().Elapsed());
    });
    const int count = FileCount;
    guarded([this] {
        if (OnDeactivate)
            OnDeactivate(this);
    });
    FArchiveFile = savedArchive;
    return count;
}

// --- per-entry services ---

bool TDecompressClass::SetEntryName(const std::string& Stored)
{
    StoredName = NameAsRead(Stored, NameRules);
    const bool ok = MapEntryName(Stored, NameRules);
    FNameRefused = !ok;  // reported
    return ok;
}

bool TDecompressClass::NameEntry(const std::string& Stored)
{
    SkipEntry = false;
    PasswordRefused = false;
    ++EntryNumber;
    if (IsFileOutput() || OperationCode == opAppend)
        return SetEntryName(Stored);
    StoredName = FileName = NameAsRead(Stored, NameRules);
    // A name of nothing but the root the format drops names nothing.
    FNameRefused = StoredName.empty() && !Stored.empty();
    if (FNameRefused)
        DoError(Stored, "", E_INVALIDFILENAME, VolumeName);
    return !FNameRefused;
}

namespace {

bool Exists(const std::string& name)
{
    return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A name the host gives without a folder stays beside the target it replaces.
std::string BesideTarget(const std::string& name, const std::string& target)
{
    return win::ExtractFilePath(name).empty() ? win::ExtractFilePath(target) + name : name;
}

}  // namespace

bool TDecompressClass::PrepareOutput(bool IsDirectory)
{
    const auto exact = ExactOutputNames();
    DiscardOutput();
    FHostFolder.clear();
    DropResolved();
    FFreeTarget.clear();
    const bool fileOp = IsFileOutput();
    if (fileOp && FileName.empty()) {
        // A stored name that would leave the extraction folder: skipped, reported once.
        if (!FNameRefused)
            DoError(StoredName, "", E_INVALIDFILENAME, VolumeName);
        FNameRefused = true;
        return false;
    }
    Timer().Pause();
    bool extract = true;
    if (OnBegin) {
        if (!fileOp) {
            OnBegin(this, FileName, EntryNumber, extract);
        } else {
            if (OnRenameFile) {
                std::string newName;
                OnRenameFile(this, FileName, newName);
                if (!newName.empty()) {
                    if (!TakeHostName(newName, newName)) {
                        Timer().Resume();
                        return false;
                    }
                    if (!IsDirectory)
                        FileName = newName;
                    else if (CreateStoredDirs)
                        FileName = win::IncludeTrailingBackslash(newName);
                }
            }
            OnBegin(this, FileName, EntryNumber, extract);
        }
    }
    bool answer;
    if (!extract || GetCancel())
        answer = false;
    else if (IsDirectory || !fileOp)
        answer = true;
    else
        answer = ResolveExistingTarget(FileName);
    Timer().Resume();
    return answer;
}

bool TDecompressClass::ResolveExistingTarget(std::string& Target)
{
    // Names the host chose are its own decision; the stored names of one run must not meet.
    const bool claims = FHostFolder.empty() && UseStoredDirs;
    if (TargetIsFree(Target) || !Exists(Target)) {
        if (claims && FResolved)
            FClaimed.Claim(FResolved->Host, StoredName);
        FFreeTarget = Target;
        return true;
    }
    if (claims && FResolved) {
        if (FClaimed.ClaimedByOther(FResolved->Host, StoredName)) {
            DoError(StoredName, "another member's name leads to the same file", E_INVALIDFILENAME, VolumeName);
            return false;
        }
        FClaimed.Claim(FResolved->Host, StoredName);
    }
    // A file never takes a folder's place: there is no existing file to keep or to replace.
    if (const DWORD attr = GetFileAttributesA(Target.c_str());
        attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
        DoError(Target, "", E_FILEISDIRECTORY, VolumeName);
        return false;
    }
    if (ConfirmOverwrites) {
        if (!OnFileExists) {
            DoError(Target, "OnFileExists", E_REQUIREDEVENT, VolumeName);
            OverwriteMode = omSkip;
        } else {
            for (;;) {
                std::string newName;
                OnFileExists(this, Target, newName, OverwriteMode);
                if (newName.empty())
                    newName = Target;
                else if (!TakeHostName(newName, newName))
                    return false;
                const bool same = newName == Target;
                if (!same && OverwriteMode == omSkip)
                    OverwriteMode = omOverwrite;
                if (same)
                    break;
                Target = newName;
                if (!Exists(Target) || GetCancel() || OverwriteMode == omSkip)
                    break;
            }
        }
    }
    if (GetCancel() || OverwriteMode != omOverwrite || Target.empty())
        return false;
    const DWORD attr = GetFileAttributesA(Target.c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_SYSTEM)) {
        DoError(Target, "", E_OVERWRITEATTRIB, VolumeName);
        return false;
    }
    if (attr == INVALID_FILE_ATTRIBUTES)
        FFreeTarget = Target;  // a new name the host chose
    return true;
}

bool TDecompressClass::TargetIsFree(const std::string& Target)
{
    if (!FResolved || FResolved->Target != Target) {
        DropResolved();
        TResolvedTarget found;
        found.Target = Target;
        if (!ResolveInFolder(found) && !win::ToHostPath(Target, found.Host, nullptr, &found.State)) {
            DropResolved();
            return false;
        }
        FResolved = std::move(found);
    }
    return FResolved->State.known == win::HostPathState::Missing;
}

void TDecompressClass::DropResolved()
{
    if (FResolved && FResolved->Reserved != INVALID_HANDLE_VALUE) {
        win::RemoveHostFileIfHeld(FResolved->Host, FResolved->Reserved);
        CloseHandle(FResolved->Reserved);
        win::ForgetPartialFile(FResolved->Host);
    }
    FResolved.reset();
}

bool TDecompressClass::FindBaseHost(const std::string& Base)
{
    if (Base != FBaseFolder) {
        FBaseFolder.clear();
        if (!win::ToHostPath(Base, FBaseHost))
            return false;
        FBaseFolder = Base;
    }
    return true;
}

namespace {

// A name below a folder that maps to the host as it stands: no drive, no "." or "..", no character
// the mapping refuses, no last name the mapping would trim.
bool PlainRelativeName(std::string_view Name)
{
    // The bytes the mapping refuses or treats apart, looked up rather than searched for: every
    // byte of every name passes here.
    static constexpr auto kSpecial = [] {
        std::array<bool, 256> special{};
        for (int c = 0; c < 0x20; ++c)
            special[std::size_t(c)] = true;
        for (const char c : std::string_view("/<>:\"|?*"))
            special[static_cast<unsigned char>(c)] = true;
        return special;
    }();
    if (Name.empty() || Name.front() == '\\' || Name.back() == '\\' || Name.back() == '.' || Name.back() == ' ')
        return false;
    std::size_t partStart = 0;
    for (std::size_t i = 0; i <= Name.size(); ++i) {
        if (i < Name.size() && Name[i] != '\\') {
            if (kSpecial[static_cast<unsigned char>(Name[i])])
                return false;
            continue;
        }
        const std::string_view part = Name.substr(partStart, i - partStart);
        if (part.empty() || part == "." || part == "..")
            return false;
        partStart = i + 1;
    }
    return true;
}

}  // namespace

// A plain name below the extraction folder is looked up in its folder, held open: no walk of the
// whole path, no second look at the folder, and the folders on the way are known to be no links.
bool TDecompressClass::ResolveInFolder(TResolvedTarget& Found)
{
    if (!FHostFolder.empty() || !IsFileOutput())
        return false;
    const std::string& base = EffectiveExtractDir();
    const std::string& target = Found.Target;
    if (base.empty() || base.back() != '\\' || target.size() <= base.size() ||
        target.compare(0, base.size(), base) != 0 || !FindBaseHost(base))
        return false;
    const std::string_view relative = std::string_view(target).substr(base.size());
    if (!PlainRelativeName(relative))
        return false;
    std::string host = FBaseHost;
    if (host != "/")
        host += '/';
    const std::size_t below = host.size();
    host += relative;
    std::replace(host.begin() + std::ptrdiff_t(below), host.end(), '\\', '/');
    const std::size_t leaf = host.rfind('/') + 1;
    const std::string_view folder =
        leaf > below ? std::string_view(host).substr(below, leaf - 1 - below) : std::string_view();
    const int fd = FFolders.Open(FBaseHost, folder);
    if (fd < 0)
        return false;
    if (FCreateWhenFree) {
        // Exclusive, so a name that exists is found as it is; any other failure is met again by
        // the output's own create.
        Found.Reserved = win::CreateNewHostFileIn(fd, host.c_str() + leaf, host);
        if (Found.Reserved != INVALID_HANDLE_VALUE) {
            win::NotePartialFile(host);
            Found.State.known = win::HostPathState::Missing;  // the rest as a new TResolvedTarget has it
            Found.State.folderNoLink = true;
        }
    }
    if (Found.Reserved == INVALID_HANDLE_VALUE && !win::LookUpIn(fd, host.c_str() + leaf, Found.State))
        return false;
    Found.Folder = folder;
    Found.Host = std::move(host);
    Found.Leaf = leaf;
    Found.InFolder = true;
    return true;
}

// CheckOutputTarget for a free target: the folders on its way are checked, the target's own name
// and the extraction folder's mapping are not looked up again.
bool TDecompressClass::CheckFreeTarget(const std::string& Target)
{
    if (FResolved->InFolder)
        return true;  // reached from the extraction folder without a link
    const std::string& base = FHostFolder.empty() ? EffectiveExtractDir() : FHostFolder;
    if (!FindBaseHost(base)) {
        DoError(Target, "", E_INVALIDFILENAME, VolumeName);
        return false;
    }
    return CheckHostTarget(Target, FBaseHost, FResolved->Host, FResolved->State);
}

// A name the host chose is its decision, in whatever folder it names (a bare name stays beside
// the entry's target); only one that climbs with ".." is refused.
bool TDecompressClass::TakeHostName(const std::string& Chosen, std::string& Target)
{
    if (HostNameClimbs(Chosen)) {
        DoError(Chosen, "", E_INVALIDFILENAME, VolumeName);
        return false;
    }
    std::string name = Chosen;
    std::replace(name.begin(), name.end(), '/', '\\');
    Target = BesideTarget(name, FileName);
    FHostFolder = win::ExtractFilePath(Target);
    return true;
}

bool TDecompressClass::TryCandidate(const std::uint8_t* Header)
{
    // Each try starts from the same header bytes: a check deciphers them.
    std::memset(CryptHeader, 0, 12);
    std::memcpy(CryptHeader + 12, Header, 12);
    return CheckPassword();
}

bool TDecompressClass::OfferAccepted()
{
    bool accept = true;
    if (OnPasswordAccepted)
        OnPasswordAccepted(this, accept);
    return accept;
}

namespace {

TSeedKeyRecord ToRecord(const TKeyTriple& k)
{
    return {k[0], k[1], k[2]};
}

// The host may hand back other seeds with a password: they take effect for every later entry.
void ApplySeeds(std::uint8_t selector, const TSeedKeyRecord& r)
{
    const TKeyTriple now = SeedKeysOf(selector);
    if (now != TKeyTriple{r.Key0, r.Key1, r.Key2})
        TSeedKeys(selector).SetKeys(r.Key0, r.Key1, r.Key2);
}

}  // namespace

bool TDecompressClass::AskForPasswords(const std::uint8_t* Header)
{
    if (!OnGetPassword) {
        DoError(FileName, "OnGetPassword", E_REQUIREDEVENT, VolumeName);
        return false;
    }
    DropResolved();  // the host may make files while it is asked
    for (int attempt = 0; attempt < PasswordAttempts && !GetCancel(); ++attempt) {
        TSeedKeyRecord headerKeys = ToRecord(SeedKeysOf(kHeaderKeySet));
        TSeedKeyRecord dataKeys = ToRecord(SeedKeysOf(kDataKeySet));
        std::string password = Password();
        bool tryAgain = true;
        OnGetPassword(this, FileName, password, headerKeys, dataKeys, tryAgain);
        ApplySeeds(kHeaderKeySet, headerKeys);
        ApplySeeds(kDataKeySet, dataKeys);
        if (!tryAgain) {
            DoError(FileName, "User canceled", E_INVALIDPASSWORD, VolumeName);
            return false;
        }
        SetPassword(password);
        if (TryCandidate(Header)) {
            // Later entries try it first and are opened without asking again.
            std::erase(Passwords, password);
            Passwords.insert(Passwords.begin(), password);
            if (OfferAccepted())
                return true;
        } else {
            RunningCrc.Crc32 = CRC_MASK;
            DoError(FileName, password, E_INVALIDPASSWORD, VolumeName);
            SetPassword("");
        }
    }
    return false;
}

bool TDecompressClass::AcquirePassword()
{
    Timer().Pause();
    bool found = false;
    PasswordRefused = false;
    // Strong encryption and AES are not ours to try.
    if (CipherBlockId != 0x0017 && CipherBlockId != 0x9901) {
        std::uint8_t header[12];
        if (ReadArchiveProc(ArchiveStream.get(), header, 12, false, 0) == 12) {
            found = !Password().empty() && TryCandidate(header);
            for (std::size_t i = 0; !found && i < Passwords.size(); ++i) {
                SetPassword(Passwords[i]);
                if (!TryCandidate(header))
                    continue;
                found = OfferAccepted();  // a rejected one sends the search on to the host
                break;
            }
            if (!found)
                found = AskForPasswords(header);
        }
    }
    if (!found)
        PasswordRefused = true;
    Timer().Resume();
    return found;
}

void TDecompressClass::DoBadPassword()
{
    if (!OnBadPassword)
        return;
    bool cancel = false;
    OnBadPassword(this, StoredName, cancel);
    if (cancel)
        SetCancel(true);
}

void TDecompressClass::FailEntry(int ECode)
{
    DoError(FileName, "", ECode, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

void TDecompressClass::FinishDecodedEntry(int Failure, int CrcWidth, std::uint32_t StoredCrc)
{
    if (GetCancel())
        return;
    if (Failure == 0) {
        CheckCrc(CrcWidth, StoredCrc);
        return;
    }
    DiscardOutput();
    if (Failure != kFailureReported)
        FailEntry(Failure);
    else if (OnEnd)
        OnEnd(this, FileName, false);
}

bool TDecompressClass::OpenPlainOutput(std::unique_ptr<TStream32>& Stream, bool Prepared)
{
    if (!Prepared && !PrepareOutput(false))
        return false;
    StartEntryData();
    if (!OpenOutStream(Stream, FileName)) {
        if (!SkipEntry) {
            DoError(FileName, "", E_OPENFILE, VolumeName);
            CheckCrc(32, 999);
        }
        return false;
    }
    return true;
}

bool TDecompressClass::OpenDecodableOutput(std::unique_ptr<TStream32>& Stream)
{
    FCreateWhenFree =
        IsFileOutput() && !WriteBesideTargets && (OperationCode == opExtract || OperationCode == opExtractForRun);
    const bool prepared = PrepareOutput(false);
    FCreateWhenFree = false;
    if (prepared && OpenPlainOutput(Stream, true))
        return true;
    DropResolved();
    return false;
}

// Whether Target is the archive, or the volume of it, being read: a member never replaces it,
// whichever form (a host path, a drive path, another case, a folder link) either name was given in.
bool TDecompressClass::IsArchiveRead(const std::string& Target) const
{
    const std::string target = win::FullPathOf(Target);
    if (target.empty())
        return false;
    // Also through a link to a folder on the way: the name alone would miss it, and the output
    // put in place would replace the archive.
    const auto same = [&target](const std::string& read) {
        return !read.empty() && (win::SameText(target, win::FullPathOf(read)) || win::SameFolderEntry(target, read));
    };
    return same(ArchiveFile()) || same(VolumeName);
}

bool TDecompressClass::OpenOutStream(std::unique_ptr<TStream32>& Stream, const std::string& Target)
{
    const auto exact = ExactOutputNames();
    DiscardOutput();
    SkipEntry = false;
    // Nothing is created or truncated for an entry that cannot be decoded.
    if ((Encrypted && PasswordRefused) || !CanDecodeEntry()) {
        SkipEntry = true;
        return false;
    }
    switch (OperationCode) {
    case opExtract:
    case opExtractForRun:
    case opAppend: {
        const bool free = !Target.empty() && TargetIsFree(Target);
        if (Target.empty() || !(free ? CheckFreeTarget(Target) : CheckOutputTarget(Target, FHostFolder))) {
            if (Target.empty())
                DoError(StoredName, "", E_INVALIDFILENAME, VolumeName);
            SkipEntry = true;
            return false;
        }
        // A free name's folder exists; otherwise the folders are made and the name found anew.
        if (!free) {
            win::ForceDirectories(win::ExtractFilePath(Target));
            DropResolved();
        }
        const DWORD attr = free || TargetIsFree(Target) ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(Target.c_str());
        if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) {
            DoError(Target, "", E_FILEISDIRECTORY, VolumeName);
            SkipEntry = true;
            return false;
        }
        if (attr != INVALID_FILE_ATTRIBUTES && IsArchiveRead(Target)) {
            DoError(Target, "", E_SAMEINOUTNAMES, VolumeName);
            SkipEntry = true;
            return false;
        }
        // A pipe or device would block or misbehave; read-only and hidden files are written over.
        if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_SYSTEM)) {
            DoError(Target, "", E_OVERWRITEATTRIB, VolumeName);
            SkipEntry = true;
            return false;
        }
        if (OperationCode != opAppend) {
            if (attr != INVALID_FILE_ATTRIBUTES && Target == FFreeTarget) {
                RefuseTakenTarget(Target);
                return false;
            }
            const bool inFolder = FResolved && FResolved->InFolder;
            if (OpenTempOutput(Stream, Target, attr != INVALID_FILE_ATTRIBUTES))
                return true;
            // The folder held open was removed since: the target is found again by its path, once.
            const DWORD error = GetLastError();
            if (!inFolder || SkipEntry || FRetryingTarget ||
                (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND))
                return false;
            FFolders.Close();
            FRetryingTarget = true;
            const bool opened = OpenOutStream(Stream, Target);
            FRetryingTarget = false;
            return opened;
        }
        DropResolved();
        if (attr != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(Target.c_str(), FILE_ATTRIBUTE_NORMAL);
        auto file = std::make_unique<TFileStream32>(Target, fmOpenReadWrite);
        if (!file->HandleValid())
            return false;
        file->Seek64(0, soEnd);
        Stream = std::move(file);
        return true;
    }
    case opListTarget:
    case opListTarget2: {
        if (HeaderList == nullptr)
            return false;
        TUnBaseHeaderObj::TRecord record{};
        std::memcpy(record.data(), &ExternalAttr, 4);
        std::memcpy(record.data() + 4, &UnpackedSize, 8);
        std::memcpy(record.data() + 12, &PackedSize, 8);
        std::memcpy(record.data() + 20, &Crc32, 4);
        return HeaderList->AddItem(record.data(), FileName.data(), std::uint32_t(FileName.size()));
    }
    case opCallerStream:
        return CallerStream != nullptr;
    default:
        return true;
    }
}

namespace {

// Leading dot: hidden on the host, and never taken for one of the archive's files.
constexpr const char* kTempPrefix = ".~x";

// The replacement keeps what the host knows of the file it replaces (an executable stays one),
// writable by its owner until the entry's own attributes are applied.
void KeepHostMode(const std::string& Target, const std::string& Temp)
{
    std::string hostTarget, hostTemp;
    win::HostPathState target;
    if (!win::ToHostPath(Target, hostTarget, nullptr, &target) || target.known == win::HostPathState::Missing)
        return;
    struct stat st = target.st;
    if ((target.known != win::HostPathState::Present && lstat(hostTarget.c_str(), &st) != 0) || !S_ISREG(st.st_mode) ||
        !win::ToHostPath(Temp, hostTemp))
        return;
    chmod(hostTemp.c_str(), (st.st_mode & 07777 & ~mode_t(S_ISUID | S_ISGID)) | S_IWUSR);
}

void RemoveFile(const std::string& Name)
{
    SetFileAttributesA(Name.c_str(), FILE_ATTRIBUTE_NORMAL);  // a restored read-only bit refuses the delete
    DeleteFileA(Name.c_str());
}

}  // namespace

void TDecompressClass::RefuseTakenTarget(const std::string& Target)
{
    // Another program made the name after the overwrite rules found it free: its file stays.
    SkipEntry = true;
    DoError(Target, "", E_WRITEFILE, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

bool TDecompressClass::OpenFreshOutput(std::unique_ptr<TStream32>& Stream, TResolvedTarget&& Resolved)
{
    const std::string& Target = Resolved.Target;
    const std::string& Host = Resolved.Host;
    // What a killed run left here goes, as when the first temporary file is made in a folder.
    win::SweepDeadOwnersFiles(std::string_view(Host).substr(0, std::max<std::size_t>(Host.rfind('/'), 1)), kTempPrefix);
    HANDLE handle = Resolved.Reserved;
    if (handle != INVALID_HANDLE_VALUE) {
        // Made by the lookup and noted then.
    } else if (!Resolved.InFolder) {
        handle = win::CreateNewHostFile(Host);
    } else if (const int folder = FFolders.Open(FBaseHost, Resolved.Folder); folder >= 0) {
        handle = win::CreateNewHostFileIn(folder, Host.c_str() + Resolved.Leaf, Host);
    } else {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS)
            RefuseTakenTarget(Target);
        return false;
    }
    // After the create, not before: a signal must never take a file that someone else made.
    if (Resolved.Reserved == INVALID_HANDLE_VALUE)
        win::NotePartialFile(Host);
    // Held open until the entry ends: a failure then removes this very file, known without a
    // look at it now.
    FPending = {Target, std::move(Resolved.Target), false, false, true, win::ShareFileHandle(handle),
                std::move(Resolved.Host)};
    Stream = std::make_unique<TFileStream32>(handle, FPending.Target);
    return true;
}

bool TDecompressClass::OpenTempOutput(std::unique_ptr<TStream32>& Stream, const std::string& Target, bool TargetExists)
{
    // A new name is written in place (creating a second name and renaming costs the file system
    // more than the write); a file that is replaced is written beside it, so that putting it in
    // place is one rename on the same file system.
    if (!TargetExists && !WriteBesideTargets && FResolved && FResolved->Target == Target &&
        FResolved->State.known == win::HostPathState::Missing) {
        TResolvedTarget resolved = *std::exchange(FResolved, std::nullopt);
        return OpenFreshOutput(Stream, std::move(resolved));
    }
    DropResolved();
    const std::string temp = win::CreateOwnedTempFile(win::ExtractFilePath(Target), kTempPrefix);
    if (temp.empty())
        return false;
    if (TargetExists)
        KeepHostMode(Target, temp);
    auto file = std::make_unique<TFileStream32>(temp, fmCreate);
    if (!file->HandleValid()) {
        RemoveFile(temp);
        return false;
    }
    FPending = {temp, Target, false, TargetExists, false, INVALID_HANDLE_VALUE, {}};
    Stream = std::move(file);
    return true;
}

bool TDecompressClass::CommitOutput()
{
    const TPendingOutput out = std::exchange(FPending, {});
    if (out.Fresh) {
        CloseHandle(out.Held);
        win::ForgetPartialFile(out.TargetHost);
        return true;
    }
    // A target that appeared since the output was opened is refused by the move, not lost.
    const DWORD attr = out.TargetExisted ? GetFileAttributesA(out.Target.c_str()) : INVALID_FILE_ATTRIBUTES;
    const bool readOnly =
        attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) && !(attr & FILE_ATTRIBUTE_DIRECTORY);
    // The overwrite rules have let this target be replaced, read-only or not.
    if (readOnly)
        SetFileAttributesA(out.Target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (MoveFileExA(out.Temp.c_str(), out.Target.c_str(), out.TargetExisted ? MOVEFILE_REPLACE_EXISTING : 0))
        return true;
    if (readOnly)
        SetFileAttributesA(out.Target.c_str(), FILE_ATTRIBUTE_READONLY);
    RemoveFile(out.Temp);
    DoError(out.Target, "", E_WRITEFILE, VolumeName);
    return false;
}

void TDecompressClass::DiscardPending()
{
    const TPendingOutput out = std::exchange(FPending, {});
    if (out.Fresh) {
        win::RemoveHostFileIfHeld(out.TargetHost, out.Held);
        CloseHandle(out.Held);
        win::ForgetPartialFile(out.TargetHost);
    } else
        RemoveFile(out.Temp);
}

const win::WinPath* TDecompressClass::ExactOutputFolder()
{
    const std::string& dir = EffectiveExtractDir();
    if (dir != FExactFolderText || !FExactFolder) {
        FExactFolderText = dir;
        win::WinPath parsed;
        FExactFolder = win::ParseFullPath(dir, parsed) ? std::optional(parsed) : std::nullopt;
    }
    return FExactFolder ? &*FExactFolder : nullptr;
}

bool TDecompressClass::MakeStoredDir(const std::string& Dir, std::uint32_t DosDate,
                                     std::optional<std::int64_t> UnixTime)
{
    const auto exact = ExactOutputNames();
    if (!IsFileOutput())
        return true;
    const std::string dir = win::ExcludeTrailingPathDelimiter(Dir);
    if (dir.empty() || !CheckOutputTarget(dir, FHostFolder))
        return false;
    if (win::DirectoryExists(dir) || win::ForceDirectories(dir)) {
        if (DosDate != 0 || UnixTime)
            FFolderTimes.push_back({dir, DosDate, UnixTime});
        return true;
    }
    DoError(Dir, "", E_CREATEDIR, VolumeName);
    return false;
}

void TDecompressClass::RestoreFolderTimes()
{
    const auto exact = ExactOutputNames();
    // At the end of the run: every file written into a folder changes its time.
    const auto times = std::exchange(FFolderTimes, {});
    for (const TFolderTime& t : times) {
        const auto utc = EntryFileTime(t.DosDate, t.UnixTime);
        if (!utc)
            continue;
        HANDLE folder = CreateFileA(t.Folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (folder == INVALID_HANDLE_VALUE)
            continue;
        SetFileTime(folder, nullptr, nullptr, &*utc);
        CloseHandle(folder);
    }
}

std::optional<FILETIME> TDecompressClass::EntryFileTime(std::uint32_t DosDate, std::optional<std::int64_t> UnixTime)
{
    if (UnixTime && DateAttribute == daFileDate)
        return win::UnixTimeToFileTime(*UnixTime);
    FILETIME local, utc;
    const std::uint32_t date = win::DateTimeToFileDate(ApplyDateAttribute(DosDate));
    if (!DosDateTimeToFileTime(WORD(date >> 16), WORD(date), &local) || !LocalFileTimeToFileTime(&local, &utc))
        return std::nullopt;
    return utc;
}

void TDecompressClass::CloseOutFile(std::unique_ptr<TStream32>& Stream, const std::string& Target, std::uint32_t Attr,
                                    std::uint32_t DosDate, std::optional<std::int64_t> UnixTime)
{
    const auto exact = ExactOutputNames();
    if (!IsFileOutput()) {
        if (!FreeOutStream(Stream))
            Stream.reset();
        return;
    }
    // An output for another name is not this entry's: it is never put in place.
    if (FPending.Temp.empty() || FPending.Closed || Target != FPending.Target) {
        Stream.reset();
        return;
    }
    FPending.Closed = true;
    // Through the open handle when it is the temporary file's: no second open by name.
    const auto utc = EntryFileTime(DosDate, UnixTime);
    const auto* file = dynamic_cast<TFileStream32*>(Stream.get());
    if (file && file->HandleValid() && file->FileName() == FPending.Temp) {
        if (utc)
            SetFileTime(file->Handle(), nullptr, nullptr, &*utc);
        Stream.reset();
    } else {
        Stream.reset();
        if (utc)
            win::FileSetTime(FPending.Temp, *utc);
    }
    if (RestoreFileAttr && Attr != FILE_ATTRIBUTE_ARCHIVE)
        SetFileAttributesA(FPending.Temp.c_str(), Attr);
}

bool TDecompressClass::LinkToWritten(const std::string& Existing)
{
    const auto exact = ExactOutputNames();
    if (!IsFileOutput() || AsciiTranslation || win::SameText(Existing, ArchiveFile()) || !CheckOutputTarget(FileName) ||
        !win::FileExists(Existing))
        return false;
    if (Existing == FileName)
        return true;  // the host named the link after the file itself
    // Made beside the target and renamed over it, as every output is put in place.
    win::ForceDirectories(win::ExtractFilePath(FileName));
    const std::string temp = win::CreateOwnedTempFile(win::ExtractFilePath(FileName), ".~l");
    if (temp.empty())
        return false;
    DeleteFileA(temp.c_str());
    if (CreateHardLinkA(temp.c_str(), Existing.c_str(), nullptr) &&
        MoveFileExA(temp.c_str(), FileName.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    DeleteFileA(temp.c_str());
    return false;
}

bool TDecompressClass::CheckCrc(int Width, std::uint32_t StoredCrc)
{
    const auto exact = ExactOutputNames();
    if (GetCancel()) {
        DiscardOutput();
        return false;
    }
    const std::uint32_t running = Width == 16 ? RunningCrc.Crc16 : RunningCrc.Crc32;
    // Stored either finished or as the running register.
    const bool pass = running == StoredCrc || running == (StoredCrc ^ CRC_MASK);
    // Only a complete, checked output replaces what was there.
    bool written = pass;
    if (pass && FPending.Closed && FPending.Target == FileName)
        written = CommitOutput();
    else
        DiscardOutput();
    if (written)
        ++FileCount;
    if (OnEnd)
        OnEnd(this, FileName, written);
    if (!pass)
        DoError(FileName, "", E_CRC, VolumeName);
    return written;
}
