#include "readers/plxUnTar.h"

#include <algorithm>
#include <memory>

#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/CodePage.h"
#include "platform/win/Files.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"
#include "readers/EntryNames.h"

bool TarEntryExtracted(const TTarEntry& Entry) { return Entry.IsFile() || Entry.IsDirectory(); }

std::string StoredNameToUtf8(const std::string& Stored)
{
    if (win::EncodeUtf8(win::DecodeUtf8(Stored)) == Stored)
        return Stored;
    return win::OemToUtf8(Stored);
}

TUnTar::TUnTar(TObject* AOwner) : TUnBase(AOwner) { SetFileSpec({"*.*"}); }

namespace {

constexpr std::uint32_t kAttrArchive = 0x20;

TTarBlockReader ReaderOf(TStream32& Archive)
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

std::uint32_t DosDateOfUnix(std::int64_t MTime)
{
    return std::uint32_t(win::DateTimeToFileDate(UnixToDateTime(MTime)));
}

}  // namespace

void TUnTar::ProcessArchive(TStream32* Archive)
{
    NameList.clear();
    FMembers.clear();
    if (Archive != nullptr) {
        CollectEntries(*Archive);
        for (const TMember& member : FMembers) {
            if (GetCancel())
                break;
            ExtractMember(*Archive, member);
        }
    }
    NameList.clear();
    FMembers.clear();
}

void TUnTar::CollectEntries(TStream32& Archive)
{
    TTarReader reader(ReaderOf(Archive), ArchiveSize);
    TTarEntry entry;
    TTarReadStatus status;
    while (!GetCancel() && (status = reader.Next(entry)) == TTarReadStatus::Entry) {
        if (entry.Name.empty() || !TarEntryExtracted(entry))
            continue;
        const std::string name = StoredNameToUtf8(entry.Name);
        if (!MatchesStoredName(name, RecurseDirs))
            continue;
        TMember member;
        member.Name = name;
        member.Directory = entry.IsDirectory();
        member.Size = member.Directory ? 0 : entry.Size;
        member.DataOffset = entry.DataOffset;
        member.MTime = entry.MTime;
        NameList.push_back(name);
        FMembers.push_back(member);
        ++FileCount;
        NewestDate = std::max(NewestDate, UnixToDateTime(entry.MTime));
        PackedTotal += member.Size;
        UnpackedTotal += member.Size;
    }
    if (GetCancel())
        return;
    // What was read before the damage is still extracted, but the damage is never passed over.
    if (status == TTarReadStatus::Truncated)
        DoError(ArchiveFile(), "", 25176, VolumeName);
    else if (status == TTarReadStatus::Corrupt)
        DoError(ArchiveFile(), "", 25114, VolumeName);
}

void TUnTar::FailEntry(int ECode)
{
    DoError(FileName, "", ECode, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

void TUnTar::ExtractMember(TStream32& Archive, const TMember& Member)
{
    Encrypted = false;
    MethodNumber = 0;
    PackedSize = UnpackedSize = Member.Size;
    MemberBytesRemaining() = Member.Size;
    DateTime = UnixToDateTime(Member.MTime);
    if (IsFileOutput() && NameLeavesTarget(Member.Name)) {
        // Refused whole: a name that climbs out is no name to cut down to something harmless.
        DoError(Member.Name, "", 25245, VolumeName);
        FileCount = std::max(0, FileCount - 1);
        return;
    }
    if (!NameEntry(Member.Name)) {
        FileCount = std::max(0, FileCount - 1);
        return;
    }
    const bool directory = Member.Directory || (!FileName.empty() && FileName.back() == '\\');
    if (directory) {
        if (IsFileOutput() && CreateStoredDirs)
            MakeStoredDir(FileName);
        return;
    }
    std::unique_ptr<TStream32> out;
    if (!OpenPlainOutput(out))
        return;
    Archive.Seek64(Member.DataOffset, soBeginning);
    const std::int64_t left = CopyStoredMember(&Archive, out.get(), nullptr, FileName, 32);
    CloseOutFile(out, FileName, kAttrArchive, DosDateOfUnix(Member.MTime));
    if (GetCancel())
        return;
    if (left != 0)
        FailEntry(25176);
    else
        CheckCrc(32, RunningCrc.Crc32);
}

// --- a TAR inside a compressed file ---

namespace {

// "<name>~", or "<name>~<n>" when that is taken: never someone else's file.
bool RenameAside(std::string& TarFile)
{
    std::string target = TarFile + "~";
    for (int n = 1; win::FileExists(target) || win::DirectoryExists(target); ++n) {
        if (n > 9999)
            return false;
        target = TarFile + "~" + std::to_string(n);
    }
    if (!MoveFileA(TarFile.c_str(), target.c_str()))
        return false;
    TarFile = target;
    return true;
}

bool StartsWithTarHeader(const std::string& File)
{
    TFileStream32 stream(File, fmOpenRead | fmShareDenyNone);
    std::uint8_t block[TarBlockSize];
    return stream.HandleValid() && stream.Read(block, TarBlockSize) == TarBlockSize && TarHeaderValid(block);
}

}  // namespace

int ExtractNestedTar(TUnBase& Caller, std::string& TarFile, std::uint8_t OperationCode, const TOnEnd& OnEnd)
{
    const bool fileOp = OperationCode == opExtract || OperationCode == opExtractForRun;
    if (fileOp && !win::FileExists(TarFile)) {
        Caller.DoError(TarFile, "", 25235, Caller.VolumeName);
        return 0;
    }
    if (!RenameAside(TarFile)) {
        Caller.DoError(TarFile, "", 25235, Caller.VolumeName);
        return 0;
    }
    TUnTar tar;
    tar.SetArchiveFile(TarFile);
    if (tar.ArcType() != atTar) {
        // The detector reads some first names as other formats' signatures; the header decides.
        if (!StartsWithTarHeader(TarFile)) {
            Caller.DoError(TarFile, "", 25244, Caller.VolumeName);
            return 0;
        }
        tar.SetArcType(atTar);
    }
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
    // The TAR's own failures (names refused, damage) reach whoever hears the caller's.
    tar.OnError = Caller.OnError;
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
