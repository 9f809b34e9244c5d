// plxtool add ARCHIVE PATH... [-t zip|jar|tar|tgz|tbz|gz|bz2] [-m store|deflate|bzip2|ppmd] [-l S|F|N|X] [-p PASSWORD]
//                             [-r] [-c COMMENT]
// plxtool add OUTPUT FILE -t uue|xxe|b64 [--part-size KB]: FILE as text, in parts of KB KiB
// (OUTPUT.UU1, ...) when given.
// A file is stored under its own name; a folder adds its contents (with -r its whole tree), named
// relative to it. A changed file replaces its old entry; an unchanged one is kept as it was.
#include "tools/plxtool/ToolSupport.h"
#include "tools/plxtool/Writers.h"

#include "writers/plxJar.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

namespace {

bool MethodByName(std::string_view s, TCompressMethod& m)
{
    if (s == "store") m = cmStore;
    else if (s == "deflate") m = cmDeflate;
    else if (s == "bzip2") m = cmBz2;
    else if (s == "ppmd") m = cmPPMDi;
    else return false;
    return true;
}

bool LevelByName(std::string_view s, TDeflateType& t)
{
    if (s == "S") t = dtDeflateS;
    else if (s == "F") t = dtDeflateF;
    else if (s == "N") t = dtDeflateN;
    else if (s == "X") t = dtDeflateX;
    else return false;
    return true;
}

std::string HostPathOf(const std::string& Arg)
{
    std::error_code ec;
    return std::filesystem::absolute(Arg, ec).string();
}

}  // namespace

int CmdAdd(std::span<char*> args)
{
    using namespace plxtool;
    std::vector<std::string> positional;
    std::string type = "zip", password, comment;
    bool hasComment = false, recurse = false;
    int partSize = 0;
    TCompressMethod method = cmDeflate;
    TDeflateType level = dtDeflateN;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-r") {
            recurse = true;
        } else if (a == "-t" && hasValue) {
            type = args[++i];
            if (!MakeWriter(type))
                return kUsage;
        } else if (a == "-m" && hasValue) {
            if (!MethodByName(args[++i], method))
                return kUsage;
        } else if (a == "-l" && hasValue) {
            if (!LevelByName(args[++i], level))
                return kUsage;
        } else if (a == "-p" && hasValue) {
            password = args[++i];
        } else if (a == "--part-size" && hasValue) {
            partSize = std::atoi(args[++i]);
            if (partSize <= 0)
                return kUsage;
        } else if (a == "-c" && hasValue) {
            comment = args[++i];
            hasComment = true;
        } else if (a.size() > 1 && a[0] == '-') {
            return kUsage;
        } else {
            positional.emplace_back(a);
        }
    }
    if (positional.size() < 2 || (type == "jar" && (method == cmBz2 || method == cmPPMDi)))
        return kUsage;
    if (!IsZipFamily(type) && (!password.empty() || hasComment))
        return kUsage;
    if (IsTextEncoding(type) ? positional.size() != 2 : partSize > 0)
        return kUsage;

    std::unique_ptr<TCompressClass> zip = MakeWriter(type);
    bool failed = false;
    zip->OnError = [&failed](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
        failed = true;
        PrintError(code, f, x);
    };
    zip->OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                            std::int64_t, int, int, bool& Replace) { Replace = true; };
    zip->DeleteOptions = doFinal;
    zip->RecurseDirs = recurse;
    zip->StoredDirNames = sdRelative;
    zip->RelativeDir = byItem;
    if (IsZipFamily(type)) {
        zip->CompressMethod = method;
        zip->SetPassword(password);
    }
    zip->DeflateType = level;
    std::vector<std::string> specs;
    for (std::size_t i = 1; i < positional.size(); ++i) {
        const std::string path = EnginePath(positional[i]);
        std::error_code ec;
        specs.push_back(std::filesystem::is_directory(HostPathOf(positional[i]), ec) ? path + "\\*" : path);
    }
    if (auto* encoder = dynamic_cast<TUUEncode*>(zip.get())) {
        encoder->SetArchiveFile(EnginePath(positional[1]));
        encoder->SetOutFilename(EnginePath(positional[0]));
        encoder->KBytesPerVolume = partSize;
        return encoder->Compress() > 0 && !failed ? kOk : kFailure;
    }
    zip->SetFileSpec(specs);
    zip->SetArchiveFile(EnginePath(positional[0]));
    PrepareWriter(*zip, zip->ArchiveFile());
    if (hasComment)
        static_cast<TZip&>(*zip).MainComment.Write(comment.data(), std::int32_t(comment.size()));
    const int added = zip->Compress();
    return added > 0 && !failed ? kOk : kFailure;
}
