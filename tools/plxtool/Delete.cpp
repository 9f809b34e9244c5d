// plxtool delete ARCHIVE NAME...: removes the entries whose names match (masks allowed, "/" or "\") from an
// archive that has a writer of its own type (ZIP, JAR, TAR, LHA, BH).
#include "tools/plxtool/ToolSupport.h"

#include "readers/plxUnZIP.h"
#include "writers/WriterForType.h"

#include <algorithm>
#include <memory>

int CmdDelete(std::span<char*> args)
{
    using namespace plxtool;
    if (args.size() < 2)
        return kUsage;
    const std::string archive = EnginePath(args[0]);
    TUnZip probe;
    probe.SetArchiveFile(archive);
    const TArcType type = probe.ArcType();
    // Only the archive's own writer may rewrite it: any other would change its format.
    const std::unique_ptr<TCompBase> writer = NewWriterForType(type);
    if (!writer) {
        PrintError(E_UNSUPPORTEDARCTYPE, args[0], "");
        return kFailure;
    }
    TCompressClass& zip = *writer;
    bool failed = false;
    zip.OnError = [&failed](TObject*, const std::string& f, const std::string& x, const std::string&, int code) {
        failed = true;
        PrintError(code, f, x);
    };
    zip.DeleteOptions = doFinal;
    zip.Switch = swDelete;
    std::vector<std::string> names;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::replace(name.begin(), name.end(), '/', '\\');
        names.push_back(name);
    }
    zip.SetFileSpec(names);
    zip.SetArchiveFile(archive);
    const int deleted = zip.Compress();
    if (deleted == 0 && !failed)
        std::fprintf(stderr, "plxtool: no entry matched\n");
    return deleted > 0 && !failed ? kOk : kFailure;
}
