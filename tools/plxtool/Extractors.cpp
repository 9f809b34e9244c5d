// What the test, extract and run commands share: the archive's type, the extractor and its reports.
#include "tools/plxtool/Commands.h"

#include "core/Err_Msgs.h"
#include "core/UnBase.h"
#include "platform/win/Drives.h"
#include "platform/win/Paths.h"
#include "platform/win/SysFiles.h"
#include "readers/ExtractorFor.h"
#include "tools/plxtool/ToolSupport.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace plxtool {

namespace {

std::string Absolute(const std::string& path)
{
    std::error_code ec;
    const auto p = std::filesystem::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

}  // namespace

bool SplitArguments(std::span<char*> args, std::string& Password, std::span<const char* const> Flags,
                    std::vector<std::string>& Positional, std::vector<std::string>& FlagsSeen)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string a = args[i];
        if (a == "-p") {
            if (i + 1 >= args.size())
                return false;
            Password = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            bool known = false;
            for (const char* f : Flags)
                known = known || a == f;
            if (!known)
                return false;
            FlagsSeen.push_back(a);
        } else {
            Positional.push_back(a);
        }
    }
    return true;
}

bool PrepareExtractRun(TExtractRun& Run, const std::string& Archive, const std::string& Password)
{
    std::string path;
    TArcType type;
    if (!DetectArchive(Archive, path, type))
        return false;
    Run.Extractor = NewExtractor(type);
    if (Run.Extractor == nullptr) {
        PrintError(E_UNSUPPORTEDARCTYPE, Archive, "");
        return false;
    }
    TUnBase& z = *Run.Extractor;
    z.SetArchiveFile(path);
    WireRun(z, Run, Password);
    z.OnEnd = [&Run](TObject*, const std::string&, bool pass) {
        if (pass)
            ++Run.Passed;
    };
    return true;
}

bool DetectArchive(const std::string& Archive, std::string& Path, TArcType& Type)
{
    Path = Absolute(Archive);
    if (!std::filesystem::is_regular_file(Path)) {
        PrintError(E_FILENOTFOUND, Archive, "");
        return false;
    }
    // An archive on a removable drive is named by the drive's letter, so that the disks of a
    // spanned set are known as such and asked for.
    const std::string onDrive = win::ToWindowsPath(Path);
    if (GetDriveTypeA(win::IncludeTrailingBackslash(win::ExtractFileDrive(onDrive)).c_str()) == DRIVE_REMOVABLE)
        Path = onDrive;
    TUnBase probe;
    probe.SetArchiveFile(Path);
    Type = probe.ArcType();
    return true;
}

void WireRun(TUnBase& Component, TExtractRun& Run, const std::string& Password)
{
    TUnBase& z = Component;
    z.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
    z.SetPassword(Password);
    z.PasswordAttempts = 1;
    z.OnError = [&Run](TObject*, const std::string& file, const std::string& extended, const std::string&, int code) {
        // An entry passed over on purpose (a symbolic link, a device) is told, as tar tells it,
        // but is no failure.
        if (code != E_SKIPPEDFILE)
            ++Run.Failures;
        PrintError(code, file, extended);
    };
    // The password of the command line is the only one there is: offered once, then given up.
    z.OnGetPassword = [Password](TObject*, const std::string&, std::string& password, TSeedKeyRecord&, TSeedKeyRecord&,
                                 bool& tryAgain) {
        password = Password;
        tryAgain = !Password.empty();
    };
    // The disks of a spanned set are asked for on the terminal.
    z.OnGetZipLastDisk = [](TObject*, bool& cancel) { cancel = !Confirm("Insert the last disk of the set."); };
    z.OnGetZipFirstDisk = [](TObject*, bool& cancel) { cancel = !Confirm("Insert the first disk of the set."); };
    z.OnGetZipNextDisk = [](TObject*, const std::string& disk, bool& cancel) {
        cancel = !Confirm("Insert disk " + disk + ".");
    };
    // Split volumes are taken where the set's names say; a missing one ends the run.
    z.OnNextVolume = [](TObject*, std::string& volume, int, bool exists, bool& cancel) {
        cancel = !exists && !win::FileExists(volume);
    };
}

}  // namespace plxtool
