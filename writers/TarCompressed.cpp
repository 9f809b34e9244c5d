// TAR+gzip and TAR+bzip2: the TAR pass runs on a private copy in the temporary folder (holding the
// existing archive's entries), the compression pass writes beside it, and only a finished file
// replaces the target.
#include "writers/Tar.h"

#include "core/Err_Msgs.h"

#include "core/plxBZip2.h"
#include "core/plxGbls.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/TempFiles.h"
#include "readers/GzipFormat.h"
#include "writers/BZip.h"
#include "writers/GZip.h"

#include <vector>

namespace {

// A folder of its own below Parent; "" when it cannot be made.
std::string MakeWorkDir(const std::string& Parent)
{
    const std::string name = win::CreateOwnedTempFile(Parent, "tar");
    if (name.empty())
        return {};
    DeleteFileA(name.c_str());
    if (!CreateDirectoryA(name.c_str(), nullptr))
        return {};
    return win::IncludeTrailingBackslash(name);
}

void RemoveWorkDir(const std::string& Dir)
{
    WIN32_FIND_DATAA data{};
    HANDLE h = FindFirstFileA((Dir + "*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != ".." && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA((Dir + name).c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA((Dir + name).c_str());
            }
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveDirectoryA(RemoveBackslash(Dir).c_str());
}

// Shares what the host listens to with an internal writer.
void ShareEvents(TZipCommon& From, TZipCommon& To)
{
    To.CancelPtr = From.CancelPtr;
    To.OnError = From.OnError;
    To.OnProgress = From.OnProgress;
    To.DateAttribute = From.DateAttribute;
    To.SetTempDir(From.TempDir());
    To.StoredDirNames = sdNone;
    To.RecurseDirs = false;
}

}  // namespace

int TCompressedTar::Compress()
{
    if (FArchiveFile.empty()) {
        DoError(FArchiveFile, "ArchiveFile Property", E_INVALIDFILENAME, "");
        return 0;
    }
    SetCancel(false);
    if (!EnsureArchiveFolder())
        return 0;
    const std::string target = FArchiveFile;
    if (win::FileExists(target) && !CheckArchiveWriteable(target))
        return 0;
    const std::string work = MakeWorkDir(TempDir());
    if (work.empty()) {
        DoError(TempDir(), "", 25237, target);
        return 0;
    }
    const std::string tar = work + win::ChangeFileExt(win::ExtractFileName(target), ".tar");
    int result = 0;
    try {
        if (win::FileExists(target) && !DecompressExisting(target, tar)) {
            RemoveWorkDir(work);
            return 0;
        }
        // The compressed archive is no input of its own TAR.
        const std::vector<std::string> excluded = FExcludeSpec;
        if (Switch != swDelete)
            FExcludeSpec.push_back(target);
        DeferMoves = Switch == swMove;
        DeferredMoves.clear();
        FArchiveFile = tar;
        const int count = TTar::Compress();
        FArchiveFile = target;
        FExcludeSpec = excluded;
        DeferMoves = false;
        if (count > 0 && !GetCancel()) {
            const std::string packed = CompressTar(tar, work);
            if (!packed.empty() && !GetCancel()) {
                if (MoveFileExA(packed.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
                    result = count;
                    DeleteDeferredMoves();
                } else {
                    DoError(target, "", GetLastError() == ERROR_DISK_FULL ? 25160 : 25136, target);
                }
            }
        }
    } catch (const std::exception& e) {
        FArchiveFile = target;
        ReportFailure(e);
        result = 0;
    }
    FArchiveFile = target;
    DeferredMoves.clear();
    RemoveWorkDir(work);
    ArchiveWritten = win::FileExists(target);
    FileCount = result;
    return result;
}

// --- TTarGZ ---

TTarGZ::TTarGZ(TObject* AOwner) : TCompressedTar(AOwner)
{
    FClassDefaultExt = ".tgz";
    SetDefaultExt("");
    FArcType = atTarGz;
    CompressMethod.Restrict({cmTarGz}, cmTarGz);
}

bool TTarGZ::DecompressExisting(const std::string& Archive, const std::string& Tar)
{
    TFileStream32 in(Archive, fmOpenRead | fmShareDenyWrite);
    TFileStream32 out(Tar, fmCreate);
    if (!in.HandleValid() || !out.HandleValid()) {
        DoError(Archive, "", 25235, Archive);
        return false;
    }
    const TGzipDecodeResult r = DecodeGzipStream(
        [&in](std::uint8_t* b, std::size_t n) { return std::size_t(std::max(in.Read(b, std::int32_t(n)), 0)); },
        [&out](const std::uint8_t* d, std::size_t n) { out.WriteBuffer(d, std::int32_t(n)); });
    if (r.Status != TGzipStatus::Ok) {
        DoError(Archive, "", r.Status == TGzipStatus::Truncated ? 25176 : 25146, Archive);
        return false;
    }
    return true;
}

std::string TTarGZ::CompressTar(const std::string& Tar, const std::string& WorkDir)
{
    TGZip gz;
    ShareEvents(*this, gz);
    gz.OnRead = OnRead;
    gz.Extension = exNone;
    gz.ConfirmOverwrites = false;
    gz.DeflateType = DeflateType;
    gz.SetFileSpec({Tar});
    const std::string output = WorkDir + win::ExtractFileName(FArchiveFile);
    gz.SetArchiveFile(output);
    const int n = gz.Compress();
    const std::string written = gz.ApplyExtension(Tar, output);
    return n == 1 && win::FileExists(written) ? written : std::string();
}

// --- TTarBZ ---

TTarBZ::TTarBZ(TObject* AOwner) : TCompressedTar(AOwner)
{
    FClassDefaultExt = ".tbz";
    SetDefaultExt("");
    FArcType = atTarBz;
    CompressMethod.Restrict({cmTarBz}, cmTarBz);
}

bool TTarBZ::DecompressExisting(const std::string& Archive, const std::string& Tar)
{
    TFileStream32 in(Archive, fmOpenRead | fmShareDenyWrite);
    TFileStream32 out(Tar, fmCreate);
    if (!in.HandleValid() || !out.HandleValid()) {
        DoError(Archive, "", 25235, Archive);
        return false;
    }
    try {
        TBzDecompressStream bz({}, &in, 0, in.Size());
        bz.Concatenated = true;
        std::vector<std::uint8_t> block(65536);
        for (;;) {
            const std::int32_t n = bz.Read(block.data(), std::int32_t(block.size()));
            if (n <= 0)
                break;
            out.WriteBuffer(block.data(), n);
        }
    } catch (const Ebz2libError& e) {
        DoError(Archive, e.what(), e.ECode ? e.ECode : 25146, Archive);
        return false;
    }
    return true;
}

std::string TTarBZ::CompressTar(const std::string& Tar, const std::string& WorkDir)
{
    TBZip bz;
    ShareEvents(*this, bz);
    bz.OnRead = OnRead;
    bz.OutputDir = WorkDir;
    bz.KeepFileExt = true;
    bz.CompressLevel = CompressLevel;
    bz.SetFileSpec({Tar});
    std::string written;
    bz.OnFilename = [this, &written](TObject*, const std::string& in, const std::string& out) {
        written = out;
        if (OnFilename)
            OnFilename(this, in, FArchiveFile);
    };
    const int n = bz.Compress();
    return n == 1 && win::FileExists(written) ? written : std::string();
}
