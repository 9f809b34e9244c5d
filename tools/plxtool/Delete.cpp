// plxtool delete ARCHIVE NAME...: removes the entries whose names match (masks allowed, "/" or "\") from a
// ZIP or BH archive.
#include "tools/plxtool/ToolSupport.h"

#include "readers/plxUnZIP.h"
#include "writers/BlakHole.h"
#include "writers/plxZip.h"

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
    std::unique_ptr<TCompressClass> writer;
    if (type == atBh)
        writer = std::make_unique<TBlakHole>();
    else
        writer = std::make_unique<TZip>();
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
