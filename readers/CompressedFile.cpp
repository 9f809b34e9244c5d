#include "readers/CompressedFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/Err_Msgs.h"
#include "core/TarHeader.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "platform/win/Utf8.h"
#include "readers/plxUnTar.h"

namespace {

// Thrown through a decoder to stop it: enough of the output has been seen, or a write failed.
struct TStopDecoding {};

constexpr std::uint32_t kAttrArchive = 0x20;
constexpr std::uint8_t kOpTestOld = 6;

// Removes a temporary file however the step that made it ends.
class TTempFileGuard {
public:
    explicit TTempFileGuard(const std::string& Name) : FName(Name) {}
    ~TTempFileGuard() { DeleteFileA(FName.c_str()); }
    TTempFileGuard(const TTempFileGuard&) = delete;
    TTempFileGuard& operator=(const TTempFileGuard&) = delete;

private:
    const std::string& FName;
};

}  // namespace

TByteSource TUnCompressedFile::SourceOf(TStream32& Archive)
{
    return [&Archive](std::uint8_t* Buffer, std::size_t Count) -> std::size_t {
        const auto want = std::int32_t(std::min<std::size_t>(Count, 1 << 20));
        const std::int32_t got = Archive.Read(Buffer, want);
        return got > 0 ? std::size_t(got) : 0;
    };
}

int TUnCompressedFile::RunDecoder(TStream32& Archive, const TDecoder& Decode, const TByteSink& Write)
{
    Archive.SetPosition(0);
    const TByteSink sink = [&](const std::uint8_t* Data, std::size_t Count) {
        if (GetCancel())
            throw ECancel();
        Write(Data, Count);
        ProcessMessages();
        DoProgress(Archive.Position(), ArchiveSize, ArchiveSize);
    };
    try {
        return Decode(Archive, sink);
    } catch (const TStopDecoding&) {
        return kWriteFailed;
    }
}

void TUnCompressedFile::FailEntry(int ECode)
{
    DoError(FileName, "", ECode, VolumeName);
    if (OnEnd)
        OnEnd(this, FileName, false);
}

void TUnCompressedFile::ExtractOutput(TStream32& Archive, const std::string& OutName, std::uint32_t DosDate,
                                      const TDecoder& Decode, std::optional<std::int64_t> UnixTime)
{
    // Only runs that extract or test go on into a TAR: the others want the decoded bytes.
    const bool watch = OperationCode == opExtract || OperationCode == opTest || OperationCode == kOpTestOld;
    if (!NameEntry(OutName))
        return;
    const TNestedTar nested = watch ? FindNestedTar(Archive, Decode, OutName) : TNestedTar::None;
    if (nested == TNestedTar::Cut) {
        // A .Z stream has no check of its own: a TAR cut before its first header ends would
        // otherwise pass as a short plain file.
        DoError(ArchiveFile(), "", E_UNEXPECTEDEOF, VolumeName);
        if (OnEnd)
            OnEnd(this, FileName, false);
        return;
    }
    if (nested == TNestedTar::Whole && WantsNestedTar()) {
        ExtractThroughTar(Archive, Decode);
        return;
    }
    // An archive named only by its extension (".gz") leaves no name to write: said, not dropped.
    if (OutName.empty()) {
        DoError(ArchiveFile(), "", E_INVALIDFILENAME, VolumeName);
        return;
    }
    if (!MatchesFileSpec(win::ExtractFileName(OutName)))
        return;
    // Said before any overwrite question: the archive is never its own output.
    if (IsFileOutput() && IsArchiveRead(FileName)) {
        DoError(FileName, "", E_SAMEINOUTNAMES, VolumeName);
        return;
    }
    ExtractPlain(Archive, DosDate, Decode, UnixTime);
}

TUnCompressedFile::TNestedTar TUnCompressedFile::FindNestedTar(TStream32& Archive, const TDecoder& Decode,
                                                               const std::string& OutName)
{
    std::vector<std::uint8_t> head;
    const int result = RunDecoder(Archive, Decode, [&head](const std::uint8_t* Data, std::size_t Count) {
        head.insert(head.end(), Data, Data + std::min<std::size_t>(Count, TarBlockSize + 1 - head.size()));
        if (head.size() > std::size_t(TarBlockSize))
            throw TStopDecoding();
    });
    if (head.size() > std::size_t(TarBlockSize))
        return TarHeaderValid(head.data()) ? TNestedTar::Whole : TNestedTar::None;
    // Data that ended cleanly inside the first header, named or marked as a TAR, was cut; a
    // stream that failed reports its own damage.
    const bool marked = head.size() >= 263 && std::memcmp(head.data() + 257, "ustar", 5) == 0;
    const bool named = win::LowerCase(OutName).ends_with(".tar");
    return result == 0 && !head.empty() && (marked || named) && TarHeaderStartPlausible(head.data(), head.size())
               ? TNestedTar::Cut
               : TNestedTar::None;
}

bool TUnCompressedFile::WantsNestedTar()
{
    if (!OnNestedTarFile) {
        // Nothing is lost: the TAR is written as it is.
        DoError(FileName, "OnNestedTarFile", E_REQUIREDEVENT, VolumeName);
        return false;
    }
    bool doUnTar = true;
    OnNestedTarFile(this, FileName, doUnTar);
    return doUnTar && !GetCancel();
}

void TUnCompressedFile::ExtractPlain(TStream32& Archive, std::uint32_t DosDate, const TDecoder& Decode,
                                     std::optional<std::int64_t> UnixTime)
{
    std::unique_ptr<TStream32> out;
    if (!OpenPlainOutput(out))
        return;
    const int result = RunDecoder(Archive, Decode, [&](const std::uint8_t* Data, std::size_t Count) {
        const auto n = std::int32_t(Count);
        if (WriteOutputProc(out.get(), Data, kKindFileData, n, 32, false) < n)
            throw TStopDecoding();  // reported by the write
    });
    CloseOutFile(out, FileName, kAttrArchive, DosDate, UnixTime);
    if (GetCancel())
        return;
    if (result == kWriteFailed) {
        if (OnEnd)
            OnEnd(this, FileName, false);
    } else if (result != 0) {
        FailEntry(result);
    } else {
        // The decoders check every stored CRC and size themselves; the driver's check announces it.
        CheckCrc(32, RunningCrc.Crc32);
    }
}

void TUnCompressedFile::ExtractThroughTar(TStream32& Archive, const TDecoder& Decode)
{
    const std::string tempDir = TempDir();
    // An owned name: should the run die, the next run of any kind removes the file.
    const std::string tarFile = win::CreatePrivateTempFile(tempDir, "tar");
    if (tarFile.empty()) {
        DoError(tempDir, "", E_CREATEFILE, VolumeName);
        return;
    }
    TTempFileGuard guard(tarFile);
    int result;
    int writeError = E_WRITEFILE;
    {
        TFileStream32 file(tarFile, fmCreate);
        if (!file.HandleValid()) {
            DoError(tarFile, "", E_CREATEFILE, VolumeName);
            return;
        }
        StartEntryData();
        // Straight to the file: the TAR is read back, so no line-end translation.
        result = RunDecoder(Archive, Decode, [&](const std::uint8_t* Data, std::size_t Count) {
            const auto n = std::int32_t(Count);
            SetLastError(ERROR_SUCCESS);
            if (file.Write(Data, n) != n) {
                writeError = GetLastError() == ERROR_DISK_FULL ? E_DISKFULL : E_WRITEFILE;
                throw TStopDecoding();
            }
            RunningCrc.UpdateCrc(32, Data, n);
        });
    }
    if (GetCancel())
        return;
    if (result == kWriteFailed) {
        // The staged TAR is the file that could not be written: no file of the entry's name exists.
        DoError(tarFile, "", writeError, VolumeName);
        if (OnEnd)
            OnEnd(this, FileName, false);
        return;
    }
    if (result != 0) {
        // An unverified TAR is not extracted: its entries could be damaged without a sign.
        FailEntry(result);
        return;
    }
    const int count = ExtractNestedTar(*this, tarFile, OperationCode, OnEnd, UncheckedStream);
    FileCount = count;
    if (count > 0 && OnChangeArchive)
        OnChangeArchive(this, ArchiveFile(), atTar);
}
