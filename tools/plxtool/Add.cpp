// plxtool add ARCHIVE PATH... [-t zip|jar|tar|tgz|tbz|gz|bz2|lha|bh|cab]
//                             [-m store|deflate|bzip2|ppmd|lh5|lh6|fuse|mszip]
//                             [-l S|F|N|X] [-p PASSWORD] [-r [--empty-dirs]] [-c COMMENT] [--split SIZE | --span]
//                             [--move]
// --split SIZE writes a split set of SIZE-byte volumes (suffix k or m: KiB or MiB) as name.z01,
// name.z02, ..., name.zip; --span spans the archive over the disks of a removable drive, asking
// on the terminal for each disk. --move deletes each file that went in, once the archive is in place
// and only when its stored name is in the new archive.
// plxtool add OUTPUT FILE -t uue|xxe|b64 [--part-size KB]: FILE as text, in parts of KB KiB
// (OUTPUT.UU1, ...) when given.
// A file is stored under its own name; a folder adds its contents (with -r its whole tree, with
// --empty-dirs its empty folders too), named relative to it. A changed file replaces its old
// entry; an unchanged one is kept as it was. gz and bz2 take exactly one file, written to
// ARCHIVE.
#include "tools/plxtool/ToolSupport.h"
#include "tools/plxtool/Writers.h"

#include "core/Err_Msgs.h"
#include "platform/win/Files.h"
#include "platform/win/Paths.h"
#include "writers/plxBZip.h"
#include "writers/plxJar.h"
#include "writers/plxUUEncode.h"
#include "writers/plxZip.h"
#include "writers/plxZipSplitter.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

namespace {

bool MethodByName(std::string_view s, TCompressMethod& m)
{
    if (s == "store")
        m = cmStore;
    else if (s == "deflate")
        m = cmDeflate;
    else if (s == "bzip2")
        m = cmBz2;
    else if (s == "ppmd")
        m = cmPPMDi;
    else if (s == "lh5")
        m = cmFrozen5;
    else if (s == "lh6")
        m = cmFrozen6;
    else if (s == "fuse")
        m = cmFuse;
    else if (s == "mszip")
        m = cmMsZip;
    else
        return false;
    return true;
}

bool LevelByName(std::string_view s, TDeflateType& t)
{
    if (s == "S")
        t = dtDeflateS;
    else if (s == "F")
        t = dtDeflateF;
    else if (s == "N")
        t = dtDeflateN;
    else if (s == "X")
        t = dtDeflateX;
    else
        return false;
    return true;
}

// Bytes, or a number with the suffix k (KiB) or m (MiB); 0 when malformed.
std::int64_t SizeByText(std::string_view s)
{
    std::int64_t unit = 1;
    if (!s.empty() && (s.back() == 'k' || s.back() == 'K'))
        unit = 1024;
    else if (!s.empty() && (s.back() == 'm' || s.back() == 'M'))
        unit = 1024 * 1024;
    if (unit != 1)
        s.remove_suffix(1);
    if (s.empty() || s.size() > 12 || s.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    return std::stoll(std::string(s)) * unit;
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
    bool hasComment = false, recurse = false, emptyDirs = false, span = false, move = false;
    std::int64_t splitSize = 0;
    int partSize = 0;
    TCompressMethod method = cmDeflate;
    bool hasMethod = false;
    TDeflateType level = dtDeflateN;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "-r") {
            recurse = true;
        } else if (a == "--empty-dirs") {
            emptyDirs = true;
        } else if (a == "--split" && hasValue) {
            if ((splitSize = SizeByText(args[++i])) <= 0)
                return kUsage;
        } else if (a == "--span") {
            span = true;
        } else if (a == "--move") {
            move = true;
        } else if (a == "-t" && hasValue) {
            type = args[++i];
            if (!MakeWriter(type))
                return kUsage;
        } else if (a == "-m" && hasValue) {
            if (!MethodByName(args[++i], method))
                return kUsage;
            hasMethod = true;
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
    const bool takesPassword = TakesPassword(type);
    if ((!takesPassword && !password.empty()) || (!TakesComment(type) && hasComment))
        return kUsage;
    if ((splitSize > 0 || span) && type != "zip")
        return kUsage;
    const bool lzhMethod = method == cmFrozen5 || method == cmFrozen6;
    if (type == "lha" ? hasMethod && !lzhMethod && method != cmStore : lzhMethod)
        return kUsage;
    if (type == "bh" ? method == cmPPMDi : method == cmFuse)
        return kUsage;
    const bool cabMethod = method == cmMsZip;
    if (type == "cab" ? hasMethod && !cabMethod && method != cmStore : cabMethod)
        return kUsage;
    if (IsTextEncoding(type) ? positional.size() != 2 || move : partSize > 0)
        return kUsage;
    // One file makes one ARCHIVE: more inputs, a folder or a mask would each want an archive.
    if (type == "gz" || type == "bz2") {
        std::error_code ec;
        if (positional.size() != 2 || recurse || positional[1].find_first_of("*?") != std::string::npos ||
            std::filesystem::is_directory(HostPathOf(positional[1]), ec))
            return kUsage;
    }

    std::unique_ptr<TCompressClass> zip = splitSize > 0 ? MakeSplitWriter(splitSize) : MakeWriter(type);
    bool failed = false;
    zip->OnError = [&failed](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
        // A link passed over is told, as tar tells it, but is no failure of what was added.
        if (code != E_SKIPPEDFILE)
            failed = true;
        PrintError(code, f, x);
    };
    zip->OnReplaceFile = [](TObject*, const std::string&, const std::string&, TDateTime, TDateTime, std::int64_t,
                            std::int64_t, int, int, bool& Replace) { Replace = true; };
    zip->DeleteOptions = doFinal;
    zip->RecurseDirs = recurse;
    zip->StoreEmptySubDirs = emptyDirs;
    zip->StoredDirNames = sdRelative;
    zip->RelativeDir = byItem;
    if (takesPassword) {
        zip->CompressMethod = method;
        zip->SetPassword(password);
    }
    zip->DeflateType = level;
    if (move) {
        zip->Switch = swMove;
        zip->VerifyBeforeDelete = true;
    }
    if ((type == "lha" || type == "cab") && hasMethod)
        zip->CompressMethod = method;
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
    // A spanned archive goes to its removable drive's letter, which the drive table knows.
    zip->SetArchiveFile(span ? win::ToWindowsPath(HostPathOf(positional[0])) : EnginePath(positional[0]));
    if (span) {
        auto& spanned = static_cast<TZipBase&>(*zip);
        spanned.SpanRemovable = true;
        BindDiskPrompts(spanned);
        if (!spanned.SpansTo(spanned.ArchiveFile())) {
            PrintError(E_UNSUPPORTEDARCTYPE, spanned.ArchiveFile(), "--span needs a removable drive");
            return kUsage;
        }
    }
    PrepareWriter(*zip, zip->ArchiveFile());
    if (hasComment)
        static_cast<TZip&>(*zip).MainComment.Write(comment.data(), std::int32_t(comment.size()));
    // The bz2 writer names its output after its input; the command line names the archive.
    std::string produced;
    if (auto* bz = dynamic_cast<TBZip*>(zip.get()))
        bz->OnFilename = [&produced](TObject*, const std::string&, const std::string& out) { produced = out; };
    const int added = zip->Compress();
    if (added == 1 && !produced.empty() && !SameFilePath(produced, zip->ArchiveFile()) &&
        !win::PutFileInPlace(produced, zip->ArchiveFile())) {
        PrintError(E_CREATEFILE, zip->ArchiveFile(), produced);
        return kFailure;
    }
    return added > 0 && !failed ? kOk : kFailure;
}
