#include "readers/plxUnTar.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "core/Err_Msgs.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Utf8.h"
#include "readers/EntryNames.h"

bool TarEntryExtracted(const TTarEntry& Entry)
{
    return Entry.IsFile() || Entry.IsDirectory() || Entry.IsHardLink() || Entry.Sparse;
}

std::string StoredNameToUtf8(std::string Stored)
{
    if (win::IsValidUtf8(Stored))
        return Stored;
    return win::OemToUtf8(Stored);
}

namespace {

std::string ProgramName(const std::string& Stored)
{
    return StoredNameToUtf8(DropCurrentDirParts(Stored));
}

}  // namespace

std::string TarEntryName(const TTarEntry& Entry)
{
    return ProgramName(Entry.Name);
}

TUnTar::TUnTar(TObject* AOwner) : TUnBase(AOwner)
{
    // Names are always relative: one that starts at a root or climbs is refused whole.
    NameRules = kRelativeNamesOnly;
    SetFileSpec({"*.*"});
}

namespace {

constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint8_t kOpTestOld = 6;
constexpr int kNoCrc = 0;  // the CRC width that keeps no running CRC: a TAR stores none

TReadAt ReaderOf(TStream32& Archive)
{
    return [&Archive](std::int64_t Offset, void* Buffer, std::int64_t Count) -> std::int64_t {
        if (Archive.Seek64(Offset, soBeginning) != Offset)
            return 0;
        auto* out = static_cast<std::uint8_t*>(Buffer);
        std::int64_t done = 0;
        while (done < Count) {
            const auto want = std::int32_t(std::min<std::int64_t>(Count - done, 1 << 20));
            const std::int32_t got = Archive.Read(out + done, want);
            if (got <= 0)
                break;
            done += got;
        }
        return done;
    };
}

}  // namespace

void TUnTar::ProcessArchive(TStream32* Archive)
{
    FFiles.reset();
    FWritten.clear();
    FRenamed.clear();
    FFlatWriter.clear();
    FReadFailed = false;
    if (Archive == nullptr)
        return;
    if (DateAttribute == daMaxFileDate)
        FindNewestDate(*Archive);
    TTarReader reader(ReaderOf(*Archive), ArchiveSize);
    TTarEntry entry;
    TTarReadStatus status = TTarReadStatus::End;
    for (std::int64_t number = 0; !GetCancel() && (status = reader.Next(entry)) == TTarReadStatus::Entry; ++number) {
        std::string name = TarEntryName(entry);
        if (name.empty())
            continue;  // the archive's own folder: the extraction folder
        if (entry.IsHardLink() && !FFiles)
            IndexFilesBefore(*Archive, entry.HeaderOffset);
        const TMember member = MemberOf(entry, std::move(name), number);
        if (!MatchesStoredName(member.Name, RecurseDirs))
            continue;
        const TDateTime date = UnixToDateTime(entry.MTime);
        NewestDate = std::max(NewestDate, date);
        PackedTotal += member.Kind == TKind::Directory ? 0 : entry.Size;
        UnpackedTotal += member.Size;
        ExtractMember(*Archive, member, number, date);
    }
    FFiles.reset();
    FWritten = {};
    FRenamed.clear();
    FFlatWriter.clear();
    if (GetCancel())
        return;
    // What was read before the damage is extracted, but the damage is never passed over.
    if (status == TTarReadStatus::Truncated ||
        (status == TTarReadStatus::End && EndBlocksRequired && !reader.EndMarked()))
        DoError(ArchiveFile(), "", E_UNEXPECTEDEOF, VolumeName);
    else if (status == TTarReadStatus::Corrupt)
        DoError(ArchiveFile(), "", E_BADFILEHEADER, VolumeName);
}

namespace {

// What an entry that is not extracted is, for its report.
std::string PassedOverKind(const TTarEntry& Entry)
{
    switch (Entry.TypeFlag) {
    case '2':
        return "symbolic link to " + Entry.LinkName;
    case '3':
        return "character device";
    case '4':
        return "block device";
    case '6':
        return "FIFO";
    case 'V':
        return "volume label";
    case 'M':
        return "continued from another volume";
    default:
        return std::string("entry type ") + (Entry.TypeFlag >= ' ' ? std::string(1, Entry.TypeFlag) : "?");
    }
}

}  // namespace

TUnTar::TMember TUnTar::MemberOf(const TTarEntry& Entry, std::string Name, std::int64_t Number)
{
    TMember member;
    member.Name = std::move(Name);
    member.MTime = Entry.MTime;
    member.DataOffset = Entry.DataOffset;
    if (Entry.IsDirectory()) {
        member.Kind = TKind::Directory;
    } else if (Entry.IsFile()) {
        member.Size = Entry.Size;
    } else if (Entry.Sparse) {
        member.Kind = Entry.SparseData.Valid ? TKind::Sparse : TKind::BadSparse;
        member.Size = Entry.SparseData.RealSize;
        member.Chunks = std::make_shared<const std::vector<TTarSparseChunk>>(Entry.SparseData.Map);
    } else if (Entry.IsHardLink()) {
        // A copy of the member it names, which comes before it.
        const std::string target = ProgramName(Entry.LinkName);
        const auto found = FFiles ? FFiles->find(target) : TFileIndex::iterator{};
        if (!FFiles || found == FFiles->end()) {
            member.Kind = TKind::MissingLink;
            member.Note = Entry.LinkName;
            return member;
        }
        const TLinkTarget& data = found->second;
        member.LinkTarget = target;
        member.LinkNumber = data.Number;
        member.Kind = data.Sparse ? TKind::Sparse : TKind::File;
        member.Size = data.Size;
        member.DataOffset = data.DataOffset;
        member.Chunks = data.Chunks;
    } else {
        member.Kind = TKind::PassedOver;
        member.Note = PassedOverKind(Entry);
        return member;
    }
    if (FFiles && (member.Kind == TKind::File || member.Kind == TKind::Sparse))
        (*FFiles)[member.Name] = {Number, member.Size, member.DataOffset, member.Chunks, member.Kind == TKind::Sparse};
    return member;
}

// Every file before the first hard link, selected or not, by a second walk of their headers.
void TUnTar::IndexFilesBefore(TStream32& Archive, std::int64_t Offset)
{
    FFiles = std::make_unique<TFileIndex>();
    TTarReader reader(ReaderOf(Archive), ArchiveSize);
    TTarEntry entry;
    for (std::int64_t number = 0; reader.Next(entry) == TTarReadStatus::Entry && entry.HeaderOffset < Offset;
         ++number) {
        if (std::string name = TarEntryName(entry); !name.empty())
            MemberOf(entry, std::move(name), number);
    }
}

// The date every file takes under daMaxFileDate is known before the first is written.
void TUnTar::FindNewestDate(TStream32& Archive)
{
    const auto onExclude = std::exchange(OnExcludeFile, nullptr);  // told once, by the run
    TTarReader reader(ReaderOf(Archive), ArchiveSize);
    TTarEntry entry;
    while (!GetCancel() && reader.Next(entry) == TTarReadStatus::Entry) {
        const std::string name = TarEntryName(entry);
        if (!name.empty() && MatchesStoredName(name, RecurseDirs))
            NewestDate = std::max(NewestDate, UnixToDateTime(entry.MTime));
    }
    OnExcludeFile = onExclude;
}

void TUnTar::FailEntry(int ECode)
{
    DoError(FileName, "", ECode, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

void TUnTar::NoteWritten(std::int64_t Number, const std::string& Mapped)
{
    if (!IsFileOutput())
        return;
    if (FWritten.size() <= std::size_t(Number))
        FWritten.resize(std::max(std::size_t(Number) + 1, 2 * FWritten.size()));  // not a step per entry
    FWritten[std::size_t(Number)] = true;
    if (FileName != Mapped)
        FRenamed[Number] = FileName;
    if (!UseStoredDirs)
        FFlatWriter.insert_or_assign(FileName, Number);
}

std::string TUnTar::WrittenFile(std::int64_t Number, const std::string& Name)
{
    if (Number < 0 || std::size_t(Number) >= FWritten.size() || !FWritten[std::size_t(Number)])
        return {};
    std::string file;
    if (const auto renamed = FRenamed.find(Number); renamed != FRenamed.end()) {
        file = renamed->second;
    } else {
        // Where the name was mapped when it was written: the same name maps the same way in one run.
        const TOutputName mapped = DecideOutputName(Name, NameRules, UseStoredDirs);
        if (!mapped.Allowed || mapped.FolderItself)
            return {};
        file = EffectiveExtractDir() + mapped.Relative;
    }
    // A file another entry has since been written to holds that entry's data.
    if (!UseStoredDirs)
        if (const auto writer = FFlatWriter.find(file); writer == FFlatWriter.end() || writer->second != Number)
            return {};
    return file;
}

void TUnTar::ExtractMember(TStream32& Archive, const TMember& Member, std::int64_t Number, TDateTime Date)
{
    switch (Member.Kind) {
    case TKind::PassedOver:
        DoError(Member.Name, Member.Note, E_SKIPPEDFILE, VolumeName);
        return;
    case TKind::MissingLink:
        DoError(Member.Name, Member.Note, E_FILENOTFOUND, VolumeName);
        return;
    case TKind::BadSparse:
        DoError(Member.Name, "sparse map", E_BADFILEHEADER, VolumeName);
        return;
    default:
        break;
    }
    Encrypted = false;
    MethodNumber = 0;
    PackedSize = UnpackedSize = Member.Size;
    DateTime = Date;
    if (!NameEntry(Member.Name))
        return;
    if (Member.Kind == TKind::Directory || (!FileName.empty() && FileName.back() == '\\')) {
        if (IsFileOutput() && CreateStoredDirs)
            MakeStoredDir(FileName, 0, Member.MTime);  // the UNIX time decides: no DOS date is read
        return;
    }
    const std::string mapped = FileName;
    std::unique_ptr<TStream32> out;
    if (Member.LinkNumber < 0) {
        if (!OpenDecodableOutput(out))
            return;
    } else {
        if (!PrepareOutput(false))
            return;
        const std::string linked = WrittenFile(Member.LinkNumber, Member.LinkTarget);
        if (!linked.empty() && LinkToWritten(linked)) {
            StartEntryData();
            if (CheckCrc(32, RunningCrc.Crc32))
                NoteWritten(Number, mapped);
            return;
        }
        if (!OpenPlainOutput(out, true))
            return;
    }
    FReadFailed = false;
    const bool complete = CopyData(Archive, out.get(), Member);
    CloseOutFile(out, FileName, kAttrArchive, 0, Member.MTime);
    if (GetCancel())
        return;
    // A TAR stores no checksum of the data: the copy itself is the check.
    if (!complete)
        FinishDecodedEntry(FReadFailed ? E_UNEXPECTEDEOF : kFailureReported, 32, 0);
    else if (CheckCrc(32, RunningCrc.Crc32))
        NoteWritten(Number, mapped);
}

bool TUnTar::CopyRange(TStream32& Archive, TStream32* Out, std::int64_t Offset, std::int64_t Count)
{
    if (Archive.Seek64(Offset, soBeginning) != Offset) {
        FReadFailed = true;
        return false;
    }
    if (FBuffer.empty())
        FBuffer.resize(32768);
    const std::int64_t total = Count;
    while (Count > 0) {
        const auto want = std::int32_t(std::min<std::int64_t>(Count, std::int64_t(FBuffer.size())));
        const std::int32_t got = ReadArchiveProc(&Archive, FBuffer.data(), want, false, kNoCrc);
        if (got <= 0) {
            FReadFailed = true;
            return false;
        }
        Count -= got;
        BytesToRead -= got;
        if (WriteOutputProc(Out, FBuffer.data(), kKindFileData, got, kNoCrc, false) < got)
            return false;  // reported by the output
        ProcessMessages();
        DoProgress(total - Count, total, ArchiveSize);
        if (GetCancel())
            return false;
    }
    return true;
}

bool TUnTar::CopyData(TStream32& Archive, TStream32* Out, const TMember& Member)
{
    if (Member.Kind != TKind::Sparse)
        return CopyRange(Archive, Out, Member.DataOffset, Member.Size);
    // The stored stretches one after another; between them the file holds zeros.
    std::int64_t written = 0, stored = Member.DataOffset;
    for (const TTarSparseChunk& chunk : *Member.Chunks) {
        if (!SkipHole(Out, chunk.Offset - written) || !CopyRange(Archive, Out, stored, chunk.Size))
            return false;
        stored += chunk.Size;
        written = chunk.Offset + chunk.Size;
    }
    if (!SkipHole(Out, Member.Size - written))
        return false;
    if (!IsFileOutput() || AsciiTranslation)
        return true;
    try {
        Out->SetSize64(Member.Size);  // a hole at the end, even behind a last empty stretch
        return true;
    } catch (const std::exception&) {
        DoError(FileName, "", E_WRITEFILE, VolumeName);
        return false;
    }
}

bool TUnTar::SkipHole(TStream32* Out, std::int64_t Count)
{
    if (Count <= 0 || OperationCode == opTest || OperationCode == kOpTestOld)
        return true;  // nothing to check in zeros
    // A file gets a hole, as tar makes it: a huge sparse file takes no room it does not use.
    if (IsFileOutput() && !AsciiTranslation) {
        const std::int64_t at = Out->Seek64(0, soCurrent);
        if (at >= 0 && Out->Seek64(Count, soCurrent) == at + Count)
            return true;
        // Past the largest file the host's file system holds: the file cannot be made.
        DoError(FileName, "", E_WRITEFILE, VolumeName);
        return false;
    }
    static const std::vector<std::uint8_t> zeros(32768, 0);
    while (Count > 0 && !GetCancel()) {
        const auto n = std::int32_t(std::min<std::int64_t>(Count, std::int64_t(zeros.size())));
        if (WriteOutputProc(Out, zeros.data(), kKindFileData, n, kNoCrc, false) < n)
            return false;
        Count -= n;
        ProcessMessages();
    }
    return !GetCancel();
}

// --- a TAR inside a compressed file ---

namespace {

bool StartsWithTarHeader(const std::string& File)
{
    TFileStream32 stream(File, fmOpenRead | fmShareDenyNone);
    std::uint8_t block[TarBlockSize];
    return stream.HandleValid() && stream.Read(block, TarBlockSize) == TarBlockSize && TarHeaderValid(block);
}

}  // namespace

int ExtractNestedTar(TUnBase& Caller, const std::string& TarFile, std::uint8_t OperationCode, const TOnEnd& OnEnd,
                     bool Unchecked)
{
    const bool fileOp = OperationCode == opExtract || OperationCode == opExtractForRun;
    if (fileOp && !win::FileExists(TarFile)) {
        Caller.DoError(TarFile, "", E_OPENFILE, Caller.VolumeName);
        return 0;
    }
    TUnTar tar;
    tar.SetArchiveFile(TarFile);
    if (tar.ArcType() != atTar) {
        // The detector reads some first names as other formats' signatures; the header decides.
        if (!StartsWithTarHeader(TarFile)) {
            Caller.DoError(TarFile, "", E_UNSUPPORTEDARCTYPE, Caller.VolumeName);
            return 0;
        }
        tar.SetArcType(atTar);
    }
    tar.EndBlocksRequired = Unchecked;
    tar.AsciiTranslation = Caller.AsciiTranslation;
    tar.UseStoredDirs = Caller.UseStoredDirs;
    tar.SetExtractDir(Caller.ExtractDir());
    tar.SetFileSpec(Caller.FileSpec());
    tar.SetExcludeSpec(Caller.ExcludeSpec());
    tar.RecurseDirs = Caller.RecurseDirs;
    tar.ConfirmOverwrites = Caller.ConfirmOverwrites;
    tar.OverwriteMode = Caller.OverwriteMode;
    tar.CreateStoredDirs = Caller.CreateStoredDirs;
    tar.RestoreFileAttr = Caller.RestoreFileAttr;
    tar.DateAttribute = Caller.DateAttribute;
    tar.TranslateOemChar = Caller.TranslateOemChar;
    tar.SetTempDir(Caller.TempDir());
    tar.DirectoryCheck = Caller.DirectoryCheck;
    tar.CancelPtr = Caller.CancelPtr;
    tar.OnProgress = Caller.OnProgress;
    tar.OnBegin = Caller.OnBegin;
    tar.OnEnd = OnEnd;
    tar.OnFileExists = Caller.OnFileExists;
    // The TAR's own failures (names refused, damage) reach whoever hears the caller's, naming
    // the caller's archive rather than our temporary file.
    if (Caller.OnError)
        tar.OnError = [&Caller, own = TarFile](TObject* Sender, const std::string& File, const std::string& Extra,
                                               const std::string& Volume, int Code) {
            const std::string& shown = Caller.ArchiveFile();
            Caller.OnError(Sender, File == own ? shown : File, Extra, Volume == own ? shown : Volume, Code);
        };
    tar.OnExcludeFile = Caller.OnExcludeFile;
    tar.OnRenameFile = Caller.OnRenameFile;
    tar.OnLimitedUser = Caller.OnLimitedUser;
    switch (OperationCode) {
    case opExtract:
    case opExtractForRun:
        return tar.Extract();
    case 6:
    case opTest:
        return tar.TestArchive();
    default:
        return 0;
    }
}
