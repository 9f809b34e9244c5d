// What the test and extract commands share: the extractor and its reports.
#include "tools/plxtool/Commands.h"

#include "core/Err_Msgs.h"

#include "core/plxConsts.h"
#include "platform/win/SysFiles.h"
#include "readers/plxUnAce.h"
#include "readers/plxUnArc.h"
#include "readers/plxUnArj.h"
#include "readers/plxUnBZip.h"
#include "readers/plxUnBh.h"
#include "readers/plxUnGZip.h"
#include "readers/plxUnJar.h"
#include "readers/plxUnLha.h"
#include "readers/plxUnRar.h"
#include "readers/plxUnTar.h"
#include "readers/plxUnZoo.h"
#include "readers/plxUUDecode.h"

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
    const std::string path = Absolute(Archive);
    if (!std::filesystem::is_regular_file(path)) {
        std::fprintf(stderr, "plxtool: 25192 %s: %s\n", std::string(LoadMessage(25192)).c_str(), Archive.c_str());
        return false;
    }
    auto probe = std::make_unique<TUnZip>();
    probe->SetArchiveFile(path);
    const TArcType type = probe->ArcType();
    switch (type) {
    case atZip: case atZipExe: case atZipMV: case atZipDS:
        Run.Extractor = std::move(probe);
        break;
    case atJar: case atJarExe:
        Run.Extractor = std::make_unique<TUnJar>();
        Run.Extractor->SetArchiveFile(path);
        break;
    case atTar:
        Run.Extractor = std::make_unique<TUnTar>();
        break;
    case atGZip:
        Run.Extractor = std::make_unique<TUnGZip>();
        break;
    case atBz2:
        Run.Extractor = std::make_unique<TUnBZip>();
        break;
    case atLha: case atLhaExe: case atLzh: case atLzhExe:
        Run.Extractor = std::make_unique<TUnLha>();
        break;
    case atArc: case atArcExe: case atPak: case atPakExe:
        Run.Extractor = std::make_unique<TUnArc>();
        break;
    case atArj: case atArjExe:
        Run.Extractor = std::make_unique<TUnARJ>();
        break;
    case atZoo:
        Run.Extractor = std::make_unique<TUnZoo>();
        break;
    case atAce: case atAceExe:
        Run.Extractor = std::make_unique<TUnACE>();
        break;
    case atRar: case atRarExe:
        Run.Extractor = std::make_unique<TUnRar>();
        break;
    case atBh: case atBhExe:
        Run.Extractor = std::make_unique<TUnBh>();
        break;
    case atUUE: case atB64:
        Run.Extractor = std::make_unique<TUUDecode>();
        break;
    default:
        std::fprintf(stderr, "plxtool: 25244 %s: %s\n", std::string(LoadMessage(25244)).c_str(), Archive.c_str());
        return false;
    }
    TUnBase& z = *Run.Extractor;
    if (z.ArchiveFile().empty())
        z.SetArchiveFile(path);
    z.OnNestedTarFile = [](TObject*, const std::string&, bool& doUnTar) { doUnTar = true; };
    z.SetPassword(Password);
    z.PasswordAttempts = 1;
    z.OnError = [&Run](TObject*, const std::string& file, const std::string& extended, const std::string&,
                       int code) {
        // An entry passed over on purpose (a symbolic link, a device) is told, as tar tells it,
        // but is no failure.
        if (code != E_SKIPPEDFILE)
            ++Run.Failures;
        std::fprintf(stderr, "plxtool: %d %s: %s%s%s\n", code, std::string(LoadMessage(code)).c_str(),
                     file.c_str(), extended.empty() ? "" : " ", extended.c_str());
    };
    // The password of the command line is the only one there is: offered once, then given up.
    z.OnGetPassword = [Password](TObject*, const std::string&, std::string& password, TSeedKeyRecord&,
                                 TSeedKeyRecord&, bool& tryAgain) {
        password = Password;
        tryAgain = !Password.empty();
    };
    z.OnEnd = [&Run](TObject*, const std::string&, bool pass) {
        if (pass)
            ++Run.Passed;
    };
    // Split volumes are taken where the set's names say; a missing one ends the run.
    z.OnNextVolume = [](TObject*, std::string& volume, int, bool exists, bool& cancel) {
        cancel = !exists && !win::FileExists(volume);
    };
    return true;
}

}  // namespace plxtool
