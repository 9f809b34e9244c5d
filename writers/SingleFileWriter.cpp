#include "writers/SingleFileWriter.h"

#include "core/Err_Msgs.h"
#include "core/TempStreams.h"
#include "core/plxGbls.h"
#include "core/plxHooks.h"
#include "core/plxStreams.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "platform/win/SysDates.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Time.h"
#include "platform/win/Utf8.h"

#include <algorithm>

namespace {

class TInputScan : public TplxFileScan {
public:
    explicit TInputScan(std::vector<TFoundInput>& Found) : FFound(Found) {}
    bool AddFile(void*, const std::string& Dir, const WIN32_FIND_DATAA& FindData) override
    {
        if (FindData.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return false;
        FFound.push_back({JoinPath(Dir, FindData.cFileName), FindData});
        return true;
    }

private:
    std::vector<TFoundInput>& FFound;
};

TDateTime ExistingFileDate(const std::string& Path)
{
    try {
        return win::FileDateToDateTime(win::FileAge(Path));
    } catch (const win::Exception&) {
        return 0;
    }
}

}  // namespace

std::int64_t TFoundInput::Size() const
{
    return std::int64_t((std::uint64_t(Data.nFileSizeHigh) << 32) | Data.nFileSizeLow);
}

bool SameFilePath(const std::string& A, const std::string& B)
{
    if (A.empty() || B.empty())
        return false;
    if (win::SameText(A, B))
        return true;
    std::string ha, hb;
    return win::ToHostPath(A, ha) && win::ToHostPath(B, hb) && ha == hb;
}

bool SetFileUnixTime(const std::string& Path, std::int64_t Time)
{
    HANDLE h = CreateFileA(Path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const FILETIME ft = win::UnixTimeToFileTime(Time);
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok != FALSE;
}

std::int64_t TSingleFileWriter::StoredTime(const TFoundInput& File) const
{
    if (DateAttribute == daSysDate)
        return win::FileTimeToUnixTime(win::UnixTimeToFileTime(std::int64_t(::time(nullptr))));
    if (DateAttribute == daMaxFileDate && FNewestInputTime != 0)
        return FNewestInputTime;
    return win::FileTimeToUnixTime(File.Data.ftLastWriteTime);
}

std::vector<TFoundInput> TSingleFileWriter::ScanInputs()
{
    std::vector<TFoundInput> found;
    TInputScan scan(found);
    scan.SetFileSpec(FFileSpec);
    scan.Attributes = Attributes;
    scan.AttributesEx = AttributesEx;
    scan.SetRootDir(win::CurrentDirectory());
    scan.RecurseDirs = RecurseDirs;
    scan.IncludeHiddenDirs = IncludeHiddenDirs;
    scan.AbortPtr = CancelPtr;
    scan.OnScanFile = OnFileScanStatus;
    scan.OnRecurseDir = OnRecurseDir;
    scan.OnLinkPassedOver = [this](TObject*, const std::string& path) { ReportLinkPassedOver(path); };
    const bool wasCancelled = GetCancel();
    scan.Scan();
    *CancelPtr = wasCancelled || *CancelPtr;  // the scanner clears the flag it is given
    // Leave out anything excluded by mask.
    found.erase(
        std::remove_if(found.begin(), found.end(), [this](const TFoundInput& f) { return IsExcluded(f.Path, f.Path); }),
        found.end());
    UnpackedTotal = 0;
    FNewestInputTime = 0;
    for (const auto& f : found) {
        UnpackedTotal += f.Size();
        FNewestInputTime = std::max(FNewestInputTime, win::FileTimeToUnixTime(f.Data.ftLastWriteTime));
    }
    return found;
}

bool TSingleFileWriter::ConfirmExisting(const std::string& Output, bool& Skip)
{
    Skip = false;
    if (!ConfirmOverwrites)
        return true;
    if (!OnFileExists) {
        DoError(Output, "OnFileExists", E_REQUIREDEVENT, "");
        Skip = true;
        return false;
    }
    TOverwriteMode mode = omOverwrite;
    OnFileExists(this, Output, ExistingFileDate(Output), mode);
    if (mode == omSkip) {
        Skip = true;
        return true;
    }
    return CheckArchiveWriteable(Output);
}

int TSingleFileWriter::WriteAll(const std::string& OutputDir)
{
    if (OnActivate)
        OnActivate(this);
    Timer().Start();
    const int written = RunFiles(ScanInputs(), OutputDir);
    Timer().Stop();
    if (OnElapsedTime)
        OnElapsedTime(this, Timer().Elapsed());
    if (OnDeactivate)
        OnDeactivate(this);
    return written;
}

int TSingleFileWriter::RunFiles(const std::vector<TFoundInput>& Inputs, const std::string& OutputDir)
{
    int written = 0;
    std::vector<std::string> produced;
    BytesToRead = UnpackedTotal;
    for (std::size_t i = 0; i < Inputs.size(); ++i) {
        ProcessMessages();
        if (GetCancel())
            break;
        const TFoundInput& file = Inputs[i];
        FileNumber = int(i) + 1;
        std::string name = file.Path;
        bool take = true;
        if (OnBegin)
            OnBegin(this, name, int(i) + 1, take);
        if (!take) {
            if (OnEnd)
                OnEnd(this, name, true);
            continue;
        }
        const std::string output = OutputNameFor(file, Inputs.size() == 1, OutputDir);
        if (output.empty())
            continue;
        if (SameFilePath(output, file.Path)) {
            DoError(file.Path, output, E_SAMEINOUTNAMES, output);
            if (OnEnd)
                OnEnd(this, name, false);
            continue;
        }
        // Two inputs with one output name: the second must not silently replace the first.
        if (std::any_of(produced.begin(), produced.end(),
                        [&](const std::string& p) { return SameFilePath(p, output); })) {
            DoError(file.Path, output, E_SAMEINOUTNAMES, output);
            if (OnEnd)
                OnEnd(this, name, false);
            continue;
        }
        NoteOutputName(file.Path, output);
        if (win::FileExists(output)) {
            bool skip = false;
            if (!ConfirmExisting(output, skip))
                break;
            if (skip) {
                if (OnEnd)
                    OnEnd(this, name, true);
                continue;
            }
        }
        const bool ok = WriteOutput(file, output);
        produced.push_back(output);
        if (ok) {
            ++written;
            if (Switch == swMove && !DeleteFileEx(file.Path, DeleteOptions))
                DoError(file.Path, "", E_DELETEFILES, output);
        }
        if (OnEnd)
            OnEnd(this, name, ok);
    }
    return written;
}

bool TSingleFileWriter::WriteOutput(const TFoundInput& File, const std::string& Output)
{
    TFileStream32 input(File.Path, fmOpenRead | fmShareDenyNone);
    if (!input.HandleValid()) {
        DoError(File.Path, "", E_OPENFILE, Output);
        return false;
    }
    bool discard = true;
    TTempStreamOwner owner = TempStreamOwner();
    owner.MoveTempFile = nullptr;
    owner.ArchiveSize = nullptr;
    owner.Cancel = &discard;
    owner.ReportError = [this, Output](int code, const std::string& x) { DoError(Output, x, code, Output); };
    // The temporary file sits beside the output, so a full medium shows while writing and the
    // output is replaced by one rename.
    std::string folder = win::ExtractFilePath(Output);
    if (folder.empty())
        folder = win::IncludeTrailingBackslash(win::CurrentDirectory());
    TTempFileStream temp(owner, fmCreate, Output, folder);
    if (!temp.HandleValid()) {
        DoError(Output, "", E_OPENFILE, Output);
        return false;
    }
    temp.CancelPointer = CancelPtr;
    const std::int64_t mtime = StoredTime(File);
    FileName = File.Path;
    FInputSize = File.Size();
    bool ok = false;
    try {
        ok = EncodeFile(input, temp, File, mtime) && !GetCancel();
    } catch (const std::exception& e) {
        ReportFailure(e);
        ok = false;
    }
    discard = !ok;
    try {
        temp.Close();
    } catch (const std::exception&) {
        ok = false;  // reported by the stream's owner
    }
    if (ok) {
        SetFileUnixTime(Output, mtime);
        FileWritten(File, Output, mtime);
    }
    return ok;
}
