// A thin command-line driver over the archive engine, for interoperability tests and benchmarks.
//
//   plxtool type FILE               the detected archive type (atZip, atLha, ...)
//   plxtool list [-t TYPE] ARCHIVE  one TAB-separated line per entry, then "total N unpacked packed"
//   plxtool add ARCHIVE PATH...     adds files to a ZIP, JAR, TAR, .tgz, .tbz, .gz, .bz2, LHA, BH or CAB archive, or
//                                   encodes one file as UU, XX or Base64 text (Add.cpp)
//   plxtool delete ARCHIVE NAME...  deletes entries (Delete.cpp)
//   plxtool test ARCHIVE [-p PASSWORD]                       every member decoded and checked
//   plxtool extract ARCHIVE DIR [-p PASSWORD] [--overwrite]  the members below DIR
//   plxtool run ARCHIVE MEMBER [--wait] [--with PROGRAM] [-p PASSWORD]  the member opened (Run.cpp)
//
// Exit status: 0 success, 1 failure, 2 usage.
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/ArcDescriptor.h"
#include "core/plxConsts.h"
#include "platform/win/SysDates.h"
#include "platform/win/TempFiles.h"
#include "readers/Pelix.h"
#include "tools/plxtool/Commands.h"
#include "tools/plxtool/ToolSupport.h"

#if __has_include("core/ArcType.h")
#include "core/ArcType.h"
#define PLXTOOL_HAVE_DETECTION 1
#else
#define PLXTOOL_HAVE_DETECTION 0
#endif

namespace {

constexpr int kOk = 0, kFailure = 1, kUsage = 2;

bool TypeByName(std::string_view name, TArcType& type)
{
    return ArcTypeById(name, type);
}

std::string TypeName(TArcType type)
{
    const TArcTypeRow* row = ArcTypeRowOf(type);
    return row ? std::string(row->Id) : std::to_string(int(type));
}

// A listing whose type is given instead of detected.
class TTypedPelix : public TPelix {
public:
    explicit TTypedPelix(TArcType Type) : FForced(Type) {}
    TArcType GetArcType(TStream32& Stream) override
    {
        if (FForced == atUnknown) {
#if PLXTOOL_HAVE_DETECTION
            return DetectArcType(*this, Stream);
#else
            return TPelix::GetArcType(Stream);
#endif
        }
        ArchiveOffset = 0;
        return FForced;
    }

private:
    TArcType FForced;
};

std::string DateText(TDateTime date)
{
    int y, mo, d, h, mi, s, ms;
    win::DecodeDate(date, y, mo, d);
    win::DecodeTime(date, h, mi, s, ms);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    return text;
}

void ReportError(TObject*, const std::string& file, const std::string& extended, const std::string&, int code)
{
    plxtool::PrintError(code, file, extended);
}

int CmdType(std::span<char*> args)
{
    if (args.size() != 1)
        return kUsage;
    if (!PLXTOOL_HAVE_DETECTION) {
        std::fprintf(stderr, "plxtool: type detection unavailable\n");
        return kFailure;
    }
    TTypedPelix probe(atUnknown);
    probe.OnError = ReportError;
    probe.SetArchiveFile(args[0]);
    std::printf("%s\n", TypeName(probe.ArcType()).c_str());
    return probe.ArcType() > atUnknown ? kOk : kFailure;
}

int CmdList(std::span<char*> args)
{
    TArcType forced = atUnknown;
    if (args.size() == 3 && std::strcmp(args[0], "-t") == 0) {
        if (!TypeByName(args[1], forced))
            return kUsage;
        args = args.subspan(2);
    }
    if (args.size() != 1)
        return kUsage;
    TTypedPelix pelix(forced);
    bool failed = false;
    pelix.OnError = [&failed](TObject* s, const std::string& f, const std::string& x, const std::string& v, int c) {
        failed = true;
        ReportError(s, f, x, v, c);
    };
    pelix.SetArchiveFile(args[0]);
    if (pelix.ArcType() <= atUnknown) {
        std::fprintf(stderr, "plxtool: %s: %s\n", plxtool::Shown(args[0]).c_str(),
                     PLXTOOL_HAVE_DETECTION ? "not an archive of a known type" : "type detection unavailable");
        return kFailure;
    }
    pelix.OnRead = [](TObject* sender, std::int64_t, int) {
        auto& p = *static_cast<TZipCommon*>(sender);
        std::printf("%s\t%lld\t%lld\t%08X\t%s\t%s\t%s\n", plxtool::Shown(p.FileName).c_str(), (long long)p.UnpackedSize,
                    (long long)p.PackedSize, unsigned(p.Crc32), p.MethodName.c_str(), DateText(p.DateTime).c_str(),
                    TZipCommon::DosAttrString(p.ExternalAttr, '-').c_str());
    };
    pelix.OnTotals = [](TObject*, std::int64_t unpacked, std::int64_t packed, int, int files) {
        std::printf("total %d %lld %lld\n", files, (long long)unpacked, (long long)packed);
    };
    const bool ok = pelix.Activate();
    return ok && !failed ? kOk : kFailure;
}

struct TCommand {
    const char* Name;
    const char* Usage;
    int (*Run)(std::span<char*> args);
};

const TCommand kCommands[] = {
    {"type", "type FILE", CmdType},
    {"list", "list [-t TYPE] ARCHIVE", CmdList},
    {"add",
     "add ARCHIVE PATH... [-t zip|jar|tar|tgz|tbz|gz|bz2|lha|bh|cab] [-m store|deflate|bzip2|ppmd|lh5|lh6|fuse|mszip] "
     "[-l S|F|N|X] [-p PASSWORD] [-r [--empty-dirs]] [-c COMMENT] [--move]\n"
     "  add ARCHIVE FILE -t gz|bz2\n"
     "  add OUTPUT FILE -t uue|xxe|b64 [--part-size KB]",
     CmdAdd},
    {"delete", "delete ARCHIVE NAME...", CmdDelete},
    {"test", "test ARCHIVE [-p PASSWORD]", CmdTest},
    {"extract", "extract ARCHIVE DIR [-p PASSWORD] [--overwrite]", CmdExtract},
    {"run", "run ARCHIVE MEMBER [--wait] [--with PROGRAM] [-p PASSWORD]", CmdRun},
};

int Usage()
{
    std::fprintf(stderr, "usage:\n");
    for (const auto& c : kCommands)
        std::fprintf(stderr, "  plxtool %s\n", c.Usage);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return Usage();
    // What killed runs left behind goes now, not when the same kind of work comes again.
    win::RemoveDeadOwnersLeftovers();
    for (const auto& c : kCommands) {
        if (std::strcmp(argv[1], c.Name) == 0) {
            const int rc = c.Run(std::span<char*>(argv + 2, std::size_t(argc - 2)));
            return rc == kUsage ? Usage() : rc;
        }
    }
    return Usage();
}
