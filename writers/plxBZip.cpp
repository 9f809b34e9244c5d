#include "writers/plxBZip.h"

#include "core/Err_Msgs.h"
#include "core/plxBZip2.h"
#include "core/plxGbls.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "platform/win/Utf8.h"

TBZip::TBZip(TObject* AOwner) : TSingleFileWriter(AOwner)
{
    FClassDefaultExt = ".bz2";
    SetDefaultExt("");
    FArcType = atBz2;
    CompressMethod.Restrict({cmBz2}, cmBz2);
    ConfirmOverwrites = false;
}

std::string TBZip::OutputNameFor(const TFoundInput& Input, bool, const std::string& Folder)
{
    const std::string name = win::ExtractFileName(Input.Path);
    const std::string ext = win::LowerCase(win::ExtractFileExt(name));
    if (!KeepFileExt && ext != ".tar" && ext != ".txt")
        return Folder + win::ChangeFileExt(name, DefaultExt());
    return Folder + name + DefaultExt();
}

void TBZip::NoteOutputName(const std::string& Input, const std::string& Output)
{
    if (OnFilename)
        OnFilename(this, Input, Output);
}

int TBZip::Compress()
{
    const bool confirm = ConfirmOverwrites;
    int result = 0;
    try {
        SetSwitch(Switch);
        if (RefuseUnavailableMethod()) {
            FileCount = 0;
            return 0;
        }
        std::string dir = OutputDir.empty() ? win::ExtractFilePath(FArchiveFile) : OutputDir;
        if (dir.empty())
            dir = win::CurrentDirectory();
        dir = win::IncludeTrailingBackslash(dir);
        OperationCode = opExtract;
        if (!win::DirectoryExists(dir) && !CreateDirPath(dir)) {
            DoError(dir, "OutputDir", E_CREATEDIR, "");
        } else if (CheckDirectory(dir)) {
            if (GetCancel() || FFileSpec.empty()) {
                DoError(FArchiveFile, "", E_NOTHINGTODO, FArchiveFile);
            } else {
                result = WriteAll(dir);
            }
        }
    } catch (const std::exception& e) {
        ReportFailure(e);
    }
    ConfirmOverwrites = confirm;
    FileCount = result;
    return result;
}

bool TBZip::EncodeFile(TStream32& Input, TStream32& Output, const TFoundInput& File, std::int64_t)
{
    FileName = File.Path;
    TBz2Owner owner;
    owner.Crc = &RunningCrc;
    owner.Cancel = CancelPtr;
    RunningCrc.Reset();
    const TStreamProgress progress = [this](TObject*, std::int64_t done, std::int64_t total) {
        DoProgress(done, total, UnpackedTotal);
    };
    // To the end of the input: the stream describes what was read, even if the file changed.
    return BZipEncodeStream(owner, &Input, &Output, progress, CompressLevel, -1);
}
