#include "core/TempStreams.h"

#include "core/Err_Msgs.h"
#include "core/plxHooks.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace {

constexpr std::int64_t kMoveEndThreshold = 65536;

std::string NewTempFileIn(const std::string& folder)
{
    return win::CreateOwnedTempFile(folder, "plx");
}

// An archive is written in the temporary folder, where others may look: readable by its owner only
// until it takes its target's place.
std::string NewPrivateTempFileIn(const std::string& folder)
{
    return win::CreatePrivateTempFile(folder, "plx");
}

bool SameDrive(const std::string& a, const std::string& b)
{
    return a.size() > 1 && b.size() > 1 && a.find(':') != std::string::npos && b.find(':') != std::string::npos &&
           std::toupper(static_cast<unsigned char>(a[0])) == std::toupper(static_cast<unsigned char>(b[0]));
}

int CodeOfWriteFailure()
{
    return GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE;
}

// Copies Source (from its start) into a new file beside Target and renames that over Target.
void WriteBesideAndReplace(TStream* Source, const std::string& Target, const TTempStreamOwner& Owner)
{
    const std::string sibling = NewTempFileIn(win::ExtractFilePath(Target));
    if (sibling.empty())
        throw E_RAISE(E_CREATEFILE);
    if (win::FileExists(Target))
        win::NarrowModeTo(Target, sibling);  // no more open to others than the old archive
    bool replaced = false;
    try {
        auto out = std::make_unique<TFileStream32>(sibling, fmOpenReadWrite | fmShareExclusive);
        if (!out->HandleValid())
            throw E_RAISE(E_CREATEFILE);
        out->CancelPointer = Owner.Cancel;
        const std::int64_t size = Source->Size();
        std::int64_t copied = 0;
        try {
            copied = out->CopyFrom(Source, 0);
        } catch (const EStreamError&) {
            throw E_RAISE(CodeOfWriteFailure());
        }
        out.reset();  // closed before the rename
        if (copied == size) {
            if (!win::PutFileInPlace(sibling, Target))
                throw E_RAISE(GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_UPDATEARCHIVE);
            replaced = true;
        }
    } catch (...) {
        DeleteFileA(sibling.c_str());
        throw;
    }
    if (!replaced)
        DeleteFileA(sibling.c_str());  // cancelled: the old archive stays
}

int CodeOf(const std::exception& e)
{
    if (const auto* raised = dynamic_cast<const E_RAISE*>(&e))
        return raised->ECode;
    return GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_UPDATEARCHIVE;
}

// Fires the move's begin event and, unless the host cancels there, puts the output in place of
// Target. Answers 0, or the code of the failure.
int BeginAndMove(TStream32* Stream, const TTempStreamOwner& Owner, const std::string& Target, bool SameDrive,
                 const std::string& TempName, bool& Cancel)
{
    try {
        if (Owner.DoTmpFileMoveBegin)
            Owner.DoTmpFileMoveBegin(Stream, Target, TempName, Cancel);
        if (!Cancel) {
            if (Owner.MoveTempFile)
                Owner.MoveTempFile(Stream, Target, SameDrive, TempName);
            else
                MoveTempArchive(Stream, Target, SameDrive, TempName, Owner);
        }
    } catch (const std::exception& e) {
        return CodeOf(e);
    }
    return 0;
}

// A finished archive that could not take its target's place is kept for the person under its
// target's name in the temporary folder, where no clean-up of temporary files takes it. Answers
// where it is (its temporary name when no other could be had).
std::string KeepFinishedOutput(const std::string& TempName, const std::string& Target)
{
    const std::string folder = win::ExtractFilePath(TempName);
    const std::string name = win::ExtractFileName(Target);
    const std::string ext = win::ExtractFileExt(name);
    const std::string stem = name.substr(0, name.size() - ext.size());
    for (int n = 1; n <= 99 && !name.empty(); ++n) {
        const std::string kept = folder + (n == 1 ? name : stem + " (" + std::to_string(n) + ")" + ext);
        if (MoveFileExA(TempName.c_str(), kept.c_str(), 0))
            return kept;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    return TempName;
}

[[noreturn]] void RaiseMoveFailure(const TTempStreamOwner& Owner, int Code, const std::string& Where)
{
    if (Owner.ReportError)
        Owner.ReportError(Code, Where);
    throw E_RAISE(Code);
}

}  // namespace

void MoveTempArchive(TStream32* Stream, const std::string& Target, bool SameDrive, const std::string& TempName,
                     const TTempStreamOwner& Owner)
{
    // A read-only archive is replaced as the user asked for its update; it stays read-only on failure.
    const DWORD attributes = GetFileAttributesA(Target.c_str());
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly)
        SetFileAttributesA(Target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    try {
        if (TempName == kMemoryTempName) {
            WriteBesideAndReplace(Stream, Target, Owner);
        } else if (SameDrive) {
            // A replaced archive's mode is taken over; a new one gets a new file's.
            const bool isNew = !win::FileExists(Target);
            if (!win::PutFileInPlace(TempName, Target))
                throw E_RAISE(GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_UPDATEARCHIVE);
            if (isNew)
                win::GiveNewFileMode(Target);
        } else {
            TFileStream32 source(TempName, fmOpenRead | fmShareDenyWrite);
            if (!source.HandleValid())
                throw E_RAISE(E_OPENFILE);
            source.OnReadProgress = Owner.DoTmpFileProgress;
            source.Remaining = Owner.Remaining;
            if (Owner.Remaining)
                *Owner.Remaining = source.Size();
            WriteBesideAndReplace(&source, Target, Owner);
        }
    } catch (...) {
        if (readOnly)
            SetFileAttributesA(Target.c_str(), attributes);
        throw;
    }
}

// TTempFileStream

TTempFileStream::TTempFileStream(const TTempStreamOwner& Owner, std::uint16_t Mode, const std::string& FileName,
                                 const std::string& TempDir)
    : TFileStream32(Mode == fmCreate ? NewPrivateTempFileIn(TempDir) : FileName,
                    Mode == fmCreate ? std::uint16_t(fmOpenReadWrite | fmShareExclusive) : Mode),
      FOwner(Owner),
      FMode(Mode),
      FTemporary(Mode == fmCreate),
      FTargetName(Mode == fmCreate ? FileName : "")
{
    CancelPointer = Owner.Cancel;
    if (Owner.DoTmpFileProgress) {
        OnReadProgress = Owner.DoTmpFileProgress;
        Remaining = Owner.Remaining;
    }
}

TTempFileStream::~TTempFileStream()
{
    try {
        Close();
    } catch (...) {
        // Already reported through the owner; the old archive and the temporary file remain.
    }
}

std::int64_t TTempFileStream::CopyFrom(TStream* Source, std::int64_t Count)
{
    return CopyChunks(Source, Count, kCopyChunk, true);
}

void TTempFileStream::Close()
{
    if (FClosed)
        return;
    FClosed = true;
    if (!FTemporary || FFileName.empty()) {
        CloseFile();
        return;
    }
    bool localCancel = false;
    bool& cancel = FOwner.Cancel ? *FOwner.Cancel : localCancel;
    int code = 0;
    if (!cancel && FMode != 0 && !FTargetName.empty()) {
        try {
            FlushWrites();
        } catch (const EWriteError&) {
            // An output that did not reach the disk whole never replaces anything.
            const int failure = CodeOfWriteFailure();
            CloseFile();
            DeleteFileA(FFileName.c_str());
            RaiseMoveFailure(FOwner, failure, FFileName);
        }
        const bool sameDrive = SameDrive(FFileName, FTargetName);
        const std::int64_t size = GetSize();
        CloseFile();
        code = BeginAndMove(this, FOwner, FTargetName, sameDrive, FFileName, cancel);
        const std::int64_t archiveSize = FOwner.ArchiveSize ? FOwner.ArchiveSize() : size;
        if (archiveSize > kMoveEndThreshold && FOwner.DoTmpFileMoveEnd)
            FOwner.DoTmpFileMoveEnd(this);
    }
    DiscardWrites();  // what is left belongs to an output given up
    CloseFile();
    if (code != 0)
        RaiseMoveFailure(FOwner, code, KeepFinishedOutput(FFileName, FTargetName));
    DeleteFileA(FFileName.c_str());
}

// TTempMemStream

TTempMemStream::TTempMemStream(const TTempStreamOwner& Owner, std::uint16_t Mode, const std::string& FileName)
    : FOwner(Owner), FMode(Mode), FTemporary(Mode == fmCreate), FTargetName(Mode == fmCreate ? FileName : "")
{
    CancelPointer = Owner.Cancel;
}

TTempMemStream::~TTempMemStream()
{
    try {
        Close();
    } catch (...) {
        // Already reported through the owner.
    }
}

std::int64_t TTempMemStream::CopyFrom(TStream* Source, std::int64_t Count)
{
    return CopyChunks(Source, Count, kCopyChunk, true);
}

void TTempMemStream::Close()
{
    if (FClosed)
        return;
    FClosed = true;
    bool localCancel = false;
    bool& cancel = FOwner.Cancel ? *FOwner.Cancel : localCancel;
    if (!FTemporary || FTargetName.empty() || FMode == 0 || cancel)
        return;
    const int code = BeginAndMove(this, FOwner, FTargetName, false, kMemoryTempName, cancel);
    if (FOwner.DoTmpFileMoveEnd)
        FOwner.DoTmpFileMoveEnd(this);
    if (code != 0)
        RaiseMoveFailure(FOwner, code, FTargetName);
}
