#include "core/TempStreams.h"

#include "core/plxHooks.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <vector>

namespace {

constexpr std::int64_t kMoveEndThreshold = 65536;

std::string NewTempFileIn(const std::string& folder)
{
    char name[MAX_PATH * 4] = {};
    if (GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "plx", 0, name) == 0)
        return {};
    return name;
}

bool SameDrive(const std::string& a, const std::string& b)
{
    return a.size() > 1 && b.size() > 1 && a.find(':') != std::string::npos && b.find(':') != std::string::npos
           && std::toupper(static_cast<unsigned char>(a[0])) == std::toupper(static_cast<unsigned char>(b[0]));
}

int CodeOfWriteFailure()
{
    return GetLastError() == ERROR_DISK_FULL ? 25160 : 25136;
}

// Copies Source (from its start) into a new file beside Target and renames that over Target.
void WriteBesideAndReplace(TStream* Source, const std::string& Target, const TTempStreamOwner& Owner)
{
    const std::string sibling = NewTempFileIn(win::ExtractFilePath(Target));
    if (sibling.empty())
        throw E_RAISE(25237);
    bool replaced = false;
    try {
        auto out = std::make_unique<TFileStream32>(sibling, fmOpenReadWrite | fmShareExclusive);
        if (!out->HandleValid())
            throw E_RAISE(25237);
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
            if (!MoveFileExA(sibling.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING))
                throw E_RAISE(GetLastError() == ERROR_DISK_FULL ? 25160 : 25350);
            replaced = true;
        }
    } catch (...) {
        DeleteFileA(sibling.c_str());
        throw;
    }
    if (!replaced)
        DeleteFileA(sibling.c_str());  // cancelled: the old archive stays
}

// Copies until Count bytes are done, the source gives nothing more or the flag is set.
std::int64_t CopyUntilEmpty(TStream32& self, TStream* Source, std::int64_t Count)
{
    if (Count == 0) {
        Source->SetPosition(0);
        Count = Source->Size();
    }
    if (Count <= 0)
        return 0;
    std::vector<std::uint8_t> buffer(std::size_t(std::min<std::int64_t>(Count, TStream32::kCopyChunk)));
    std::int64_t total = 0;
    while (Count > 0 && !self.Cancelled()) {
        ProcessMessages();
        if (self.Cancelled())
            break;
        const std::int32_t want = std::int32_t(std::min<std::int64_t>(Count, std::int64_t(buffer.size())));
        const std::int32_t got = Source->Read(buffer.data(), want);
        if (got <= 0)
            break;
        self.WriteBuffer(buffer.data(), got);
        Count -= got;
        total += got;
    }
    return total;
}

int CodeOf(const std::exception& e)
{
    if (const auto* raised = dynamic_cast<const E_RAISE*>(&e))
        return raised->ECode;
    return GetLastError() == ERROR_DISK_FULL ? 25160 : 25350;
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
            if (!MoveFileExA(TempName.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED))
                throw E_RAISE(GetLastError() == ERROR_DISK_FULL ? 25160 : 25350);
        } else {
            TFileStream32 source(TempName, fmOpenRead | fmShareDenyWrite);
            if (!source.HandleValid())
                throw E_RAISE(25235);
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
    : TFileStream32(Mode == fmCreate ? NewTempFileIn(TempDir) : FileName,
                    Mode == fmCreate ? std::uint16_t(fmOpenReadWrite | fmShareExclusive) : Mode),
      FOwner(Owner), FMode(Mode), FTemporary(Mode == fmCreate), FTargetName(Mode == fmCreate ? FileName : "")
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
    return CopyUntilEmpty(*this, Source, Count);
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
    bool failed = false;
    int code = 0;
    if (!cancel && FMode != 0 && !FTargetName.empty()) {
        const bool sameDrive = SameDrive(FFileName, FTargetName);
        const std::int64_t size = GetSize();
        CloseFile();
        try {
            if (FOwner.DoTmpFileMoveBegin)
                FOwner.DoTmpFileMoveBegin(this, FTargetName, FFileName, cancel);
            if (!cancel) {
                if (FOwner.MoveTempFile)
                    FOwner.MoveTempFile(this, FTargetName, sameDrive, FFileName);
                else
                    MoveTempArchive(this, FTargetName, sameDrive, FFileName, FOwner);
            }
        } catch (const std::exception& e) {
            failed = true;
            code = CodeOf(e);
        }
        const std::int64_t archiveSize = FOwner.ArchiveSize ? FOwner.ArchiveSize() : size;
        if (archiveSize > kMoveEndThreshold && FOwner.DoTmpFileMoveEnd)
            FOwner.DoTmpFileMoveEnd(this);
    }
    CloseFile();
    if (failed) {
        // The new archive is kept where it was written, so that nothing is lost.
        if (FOwner.ReportError)
            FOwner.ReportError(code, FFileName);
        throw E_RAISE(code);
    }
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
    return CopyUntilEmpty(*this, Source, Count);
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
    try {
        if (FOwner.DoTmpFileMoveBegin)
            FOwner.DoTmpFileMoveBegin(this, FTargetName, kMemoryTempName, cancel);
        if (!cancel) {
            if (FOwner.MoveTempFile)
                FOwner.MoveTempFile(this, FTargetName, false, kMemoryTempName);
            else
                MoveTempArchive(this, FTargetName, false, kMemoryTempName, FOwner);
        }
    } catch (const std::exception& e) {
        const int code = CodeOf(e);
        if (FOwner.DoTmpFileMoveEnd)
            FOwner.DoTmpFileMoveEnd(this);
        if (FOwner.ReportError)
            FOwner.ReportError(code, FTargetName);
        throw E_RAISE(code);
    }
    if (FOwner.DoTmpFileMoveEnd)
        FOwner.DoTmpFileMoveEnd(this);
}
